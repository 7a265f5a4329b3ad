#include "ui/ui_primary_window/ui_measure_var_param_widgets.h"

namespace {

// Range, integration times and relative limits: the part most records share.
template <typename caps_t>
ui_var_param_rows_t ranged_rows(const caps_t& caps) {
    ui_var_param_rows_t rows;
    rows.range = true;
    rows.ranges = caps.ranges;
    rows.rel = true;
    rows.rel_min = caps.rel_min;
    rows.rel_max = caps.rel_max;
    return rows;
}

ui_var_param_rows_t rows_of(const drv_dcv_caps_t& caps) {
    ui_var_param_rows_t rows = ranged_rows(caps);
    rows.speeds = caps.speeds;
    rows.filter = caps.has_filter;
    rows.auto_zero = caps.has_auto_zero;
    rows.impedance = true;
    rows.impedance_ranges = caps.impedance_ranges;
    return rows;
}

ui_var_param_rows_t rows_of(const drv_dci_caps_t& caps) {
    ui_var_param_rows_t rows = ranged_rows(caps);
    rows.speeds = caps.speeds;
    rows.filter = caps.has_filter;
    rows.auto_zero = caps.has_auto_zero;
    rows.diverter = caps.has_diverter;
    return rows;
}

ui_var_param_rows_t rows_of(const drv_ac_caps_t& caps, bool current) {
    ui_var_param_rows_t rows = ranged_rows(caps);
    rows.speeds = caps.speeds;
    rows.bandwidth = caps.has_bandwidth;
    rows.bandwidths = caps.bandwidths;
    rows.diverter = current && caps.has_diverter;
    return rows;
}

ui_var_param_rows_t rows_of(const drv_res_caps_t& caps) {
    ui_var_param_rows_t rows = ranged_rows(caps);
    rows.speeds = caps.speeds;
    rows.auto_zero = caps.has_auto_zero;
    rows.auto_zero_highlighted = true;
    return rows;
}

ui_var_param_rows_t rows_of(const drv_freq_caps_t& caps) {
    ui_var_param_rows_t rows = ranged_rows(caps);
    rows.gate = caps.has_aperture;
    rows.gate_times = caps.apertures;
    return rows;
}

ui_var_param_rows_t rows_of(double threshold_min, double threshold_max) {
    ui_var_param_rows_t rows;
    rows.beeper_threshold = true;
    rows.threshold_min = threshold_min;
    rows.threshold_max = threshold_max;
    return rows;
}

}  // namespace

ui_measure_var_param_dcv_widget_t::ui_measure_var_param_dcv_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_dcv_caps_t& caps)
    : ui_measure_var_param_dc_widget_t(parent, cfg, measure_dcv, rows_of(caps)) {}

ui_measure_var_param_dci_widget_t::ui_measure_var_param_dci_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_dci_caps_t& caps)
    : ui_measure_var_param_dc_widget_t(parent, cfg, measure_dci, rows_of(caps)) {}

ui_measure_var_param_acv_widget_t::ui_measure_var_param_acv_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_ac_caps_t& caps)
    : ui_measure_var_param_ac_widget_t(parent, cfg, measure_acv, rows_of(caps, false)) {}

ui_measure_var_param_aci_widget_t::ui_measure_var_param_aci_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_ac_caps_t& caps)
    : ui_measure_var_param_ac_widget_t(parent, cfg, measure_aci, rows_of(caps, true)) {}

ui_measure_var_param_2wr_widget_t::ui_measure_var_param_2wr_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_res_caps_t& caps)
    : ui_measure_var_param_resistance_widget_t(parent, cfg, measure_res_2w, rows_of(caps)) {}

ui_measure_var_param_4wr_widget_t::ui_measure_var_param_4wr_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_res_caps_t& caps)
    : ui_measure_var_param_resistance_widget_t(parent, cfg, measure_res_4w, rows_of(caps)) {}

ui_measure_var_param_freq_widget_t::ui_measure_var_param_freq_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                       const drv_freq_caps_t& caps)
    : ui_measure_var_param_freq_per_widget_t(parent, cfg, measure_freq, rows_of(caps)) {}

ui_measure_var_param_per_widget_t::ui_measure_var_param_per_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_freq_caps_t& caps)
    : ui_measure_var_param_freq_per_widget_t(parent, cfg, measure_period, rows_of(caps)) {}

ui_measure_var_param_cap_widget_t::ui_measure_var_param_cap_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                     const drv_cap_caps_t& caps)
    : ui_measure_var_param_base_widget_t(parent, cfg, measure_cap, ranged_rows(caps)) {}

ui_measure_var_param_cont_widget_t::ui_measure_var_param_cont_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                       const drv_cont_caps_t& caps)
    : ui_measure_var_param_cont_diode_widget_t(parent, cfg, measure_cont,
                                               rows_of(caps.threshold_min, caps.threshold_max)) {}

ui_measure_var_param_diode_widget_t::ui_measure_var_param_diode_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                         const drv_diode_caps_t& caps)
    : ui_measure_var_param_cont_diode_widget_t(parent, cfg, measure_diode,
                                               rows_of(caps.threshold_min, caps.threshold_max)) {}

ui_measure_var_param_sens_widget_t::ui_measure_var_param_sens_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                       const drv_sensor_caps_t&)
    : ui_measure_var_param_base_widget_t(parent, cfg, measure_sensor, ui_var_param_rows_t()) {}
