// First family (VXA-1, VXA-2, VXA-2E, VXA-3): private identification "IDN-MRQX-PRI?",
// readings fetched as an "R?" definite-length block (the base's read_measure_data),
// one configuration transfer order for all its models.
#pragma once

#include "drv/drv_model_tables.h"
#include "drv/drv_vx_base.h"

class drv_vxa_t : public drv_vx_base_t {
public:
    using drv_vx_base_t::drv_vx_base_t;

    int get_cap_caps(drv_cap_caps_t& caps) override;
    int get_cont_caps(drv_cont_caps_t& caps) override;
    int get_diode_caps(drv_diode_caps_t& caps) override;
    int get_temp_caps(drv_temp_caps_t& caps) override;
    int get_sensor_caps(drv_sensor_caps_t& caps) override;
    // VXA-2, VXA-2E and VXA-3 defaults; VXA-1 has its own.
    void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) override;
    void apply_cfg_map(plib_measure_cfg_map_t cfg_map) override;
    int get_private_model_name(std::string& name) override;
};

// The model classes copy their model's table (drv_model_tables.h).
class drv_vxa_1_t : public drv_vxa_t {
public:
    using drv_vxa_t::drv_vxa_t;
    int get_dcv_caps(drv_dcv_caps_t& caps) override;
    int get_acv_caps(drv_ac_caps_t& caps) override;
    int get_dci_caps(drv_dci_caps_t& caps) override;
    int get_aci_caps(drv_ac_caps_t& caps) override;
    int get_res2w_caps(drv_res_caps_t& caps) override;
    int get_res4w_caps(drv_res_caps_t& caps) override;
    int get_freq_caps(drv_freq_caps_t& caps) override;
    int get_period_caps(drv_freq_caps_t& caps) override;
    void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) override;
};

// VXA-2 and VXA-2E.
class drv_vxa_2_t : public drv_vxa_t {
public:
    using drv_vxa_t::drv_vxa_t;
    int get_dcv_caps(drv_dcv_caps_t& caps) override;
    int get_acv_caps(drv_ac_caps_t& caps) override;
    int get_dci_caps(drv_dci_caps_t& caps) override;
    int get_aci_caps(drv_ac_caps_t& caps) override;
    int get_res2w_caps(drv_res_caps_t& caps) override;
    int get_res4w_caps(drv_res_caps_t& caps) override;
    int get_freq_caps(drv_freq_caps_t& caps) override;
    int get_period_caps(drv_freq_caps_t& caps) override;
};

class drv_vxa_3_t : public drv_vxa_t {
public:
    using drv_vxa_t::drv_vxa_t;
    int get_dcv_caps(drv_dcv_caps_t& caps) override;
    int get_acv_caps(drv_ac_caps_t& caps) override;
    int get_dci_caps(drv_dci_caps_t& caps) override;
    int get_aci_caps(drv_ac_caps_t& caps) override;
    int get_res2w_caps(drv_res_caps_t& caps) override;
    int get_res4w_caps(drv_res_caps_t& caps) override;
    int get_freq_caps(drv_freq_caps_t& caps) override;
    int get_period_caps(drv_freq_caps_t& caps) override;
};
