// A driver whose model is described by one constant table (drv_model_tables.h): the
// capability getters, the default configuration and the configuration transfer all
// read it, once for both families. The family classes add their SCPI variants and the
// model classes only choose the table.
#pragma once

#include "drv/drv_model_tables.h"
#include "drv/drv_vx_base.h"

class drv_vx_model_t : public drv_vx_base_t {
public:
    // The table outlives the driver (the model tables are static).
    drv_vx_model_t(drv_link_t* link, const drv_model_table_t& table) : drv_vx_base_t(link), m_table(table) {}

    // Each getter replaces the record with the table's and returns 1.
    int get_dcv_caps(drv_dcv_caps_t& caps) override;
    int get_acv_caps(drv_ac_caps_t& caps) override;
    int get_dci_caps(drv_dci_caps_t& caps) override;
    int get_aci_caps(drv_ac_caps_t& caps) override;
    int get_res2w_caps(drv_res_caps_t& caps) override;
    int get_res4w_caps(drv_res_caps_t& caps) override;
    int get_cap_caps(drv_cap_caps_t& caps) override;
    int get_freq_caps(drv_freq_caps_t& caps) override;
    int get_period_caps(drv_freq_caps_t& caps) override;
    int get_cont_caps(drv_cont_caps_t& caps) override;
    int get_diode_caps(drv_diode_caps_t& caps) override;
    int get_temp_caps(drv_temp_caps_t& caps) override;
    int get_sensor_caps(drv_sensor_caps_t& caps) override;
    // Overwrites the caller's entries of the functions the model lists, keeps others.
    void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) override;
    // Sends the settings of the table's transfer order from the map entries; a missing
    // entry is a contract violation and is skipped, link failures do not stop it.
    void apply_cfg_map(plib_measure_cfg_map_t cfg_map) override;

private:
    void _send(plib_measure_type_t type, drv_send_t setting, const plib_measure_func_cfg_t& cfg);

    const drv_model_table_t& m_table;
};
