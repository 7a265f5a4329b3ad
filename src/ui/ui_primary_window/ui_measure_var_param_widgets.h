// The parameter panels of the measurement functions. Each class only names the
// capability record it is built from; the rows come from the record through the one
// builder of `ui_measure_var_param_base_widget_t`. The family classes group panels
// that share rows (DC, AC, resistance, frequency/period, continuity/diode).
#pragma once

#include "drv/drv_types.h"
#include "ui/ui_primary_window/ui_measure_var_param_base_widget.h"

class ui_measure_var_param_dc_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    using ui_measure_var_param_base_widget_t::ui_measure_var_param_base_widget_t;
};

class ui_measure_var_param_dcv_widget_t : public ui_measure_var_param_dc_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_dcv_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_dcv_caps_t& caps);
};

class ui_measure_var_param_dci_widget_t : public ui_measure_var_param_dc_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_dci_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_dci_caps_t& caps);
};

class ui_measure_var_param_ac_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    using ui_measure_var_param_base_widget_t::ui_measure_var_param_base_widget_t;
};

class ui_measure_var_param_acv_widget_t : public ui_measure_var_param_ac_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_acv_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_ac_caps_t& caps);
};

class ui_measure_var_param_aci_widget_t : public ui_measure_var_param_ac_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_aci_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_ac_caps_t& caps);
};

class ui_measure_var_param_resistance_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    using ui_measure_var_param_base_widget_t::ui_measure_var_param_base_widget_t;
};

class ui_measure_var_param_2wr_widget_t : public ui_measure_var_param_resistance_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_2wr_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_res_caps_t& caps);
};

class ui_measure_var_param_4wr_widget_t : public ui_measure_var_param_resistance_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_4wr_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_res_caps_t& caps);
};

class ui_measure_var_param_freq_per_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    using ui_measure_var_param_base_widget_t::ui_measure_var_param_base_widget_t;
};

class ui_measure_var_param_freq_widget_t : public ui_measure_var_param_freq_per_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_freq_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_freq_caps_t& caps);
};

// On models whose Period shares the Frequency settings, give it the Frequency record.
class ui_measure_var_param_per_widget_t : public ui_measure_var_param_freq_per_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_per_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_freq_caps_t& caps);
};

class ui_measure_var_param_cap_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_cap_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_cap_caps_t& caps);
};

class ui_measure_var_param_cont_diode_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    using ui_measure_var_param_base_widget_t::ui_measure_var_param_base_widget_t;
};

class ui_measure_var_param_cont_widget_t : public ui_measure_var_param_cont_diode_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_cont_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_cont_caps_t& caps);
};

class ui_measure_var_param_diode_widget_t : public ui_measure_var_param_cont_diode_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_diode_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_diode_caps_t& caps);
};

// The Sensor function has no parameters.
class ui_measure_var_param_sens_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_sens_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_sensor_caps_t& caps);
};
