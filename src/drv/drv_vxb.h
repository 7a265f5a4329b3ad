// Second family (VXB-1, VXB-2, VXB-3): private identification "MACHINE_INFO?",
// readings with the instrument's own timestamps from "MEASURE_DATA?", auto zero as
// ":ZERO:AUTO", and a configuration transfer order per model.
#pragma once

#include "drv/drv_model_tables.h"
#include "drv/drv_vx_base.h"

class drv_vxb_t : public drv_vx_base_t {
public:
    using drv_vx_base_t::drv_vx_base_t;

    int get_freq_caps(drv_freq_caps_t& caps) override;
    int get_period_caps(drv_freq_caps_t& caps) override;
    int get_cont_caps(drv_cont_caps_t& caps) override;
    int get_diode_caps(drv_diode_caps_t& caps) override;
    int get_temp_caps(drv_temp_caps_t& caps) override;
    int get_sensor_caps(drv_sensor_caps_t& caps) override;
    int get_private_model_name(std::string& name) override;
    // The timestamps are the instrument's own, microseconds since the Unix epoch.
    int read_measure_data(std::vector<plib_data_t>& data) override;
    int set_auto_zero(plib_measure_type_t type, int on) override;
};

// The model classes copy their model's table and send the model's transfer order.
class drv_vxb_1_t : public drv_vxb_t {
public:
    using drv_vxb_t::drv_vxb_t;
    int get_dcv_caps(drv_dcv_caps_t& caps) override;
    int get_acv_caps(drv_ac_caps_t& caps) override;
    int get_dci_caps(drv_dci_caps_t& caps) override;
    int get_aci_caps(drv_ac_caps_t& caps) override;
    int get_res2w_caps(drv_res_caps_t& caps) override;
    int get_res4w_caps(drv_res_caps_t& caps) override;
    int get_cap_caps(drv_cap_caps_t& caps) override;
    void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) override;
    void apply_cfg_map(plib_measure_cfg_map_t cfg_map) override;
};

class drv_vxb_2_t : public drv_vxb_t {
public:
    using drv_vxb_t::drv_vxb_t;
    int get_dcv_caps(drv_dcv_caps_t& caps) override;
    int get_acv_caps(drv_ac_caps_t& caps) override;
    int get_dci_caps(drv_dci_caps_t& caps) override;
    int get_aci_caps(drv_ac_caps_t& caps) override;
    int get_res2w_caps(drv_res_caps_t& caps) override;
    int get_res4w_caps(drv_res_caps_t& caps) override;
    int get_cap_caps(drv_cap_caps_t& caps) override;
    void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) override;
    void apply_cfg_map(plib_measure_cfg_map_t cfg_map) override;
};

// Known to the factory; the model registry does not offer it.
class drv_vxb_3_t : public drv_vxb_t {
public:
    using drv_vxb_t::drv_vxb_t;
    int get_dcv_caps(drv_dcv_caps_t& caps) override;
    int get_acv_caps(drv_ac_caps_t& caps) override;
    int get_dci_caps(drv_dci_caps_t& caps) override;
    int get_aci_caps(drv_ac_caps_t& caps) override;
    int get_res2w_caps(drv_res_caps_t& caps) override;
    int get_res4w_caps(drv_res_caps_t& caps) override;
    int get_cap_caps(drv_cap_caps_t& caps) override;
    void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) override;
    void apply_cfg_map(plib_measure_cfg_map_t cfg_map) override;
};
