// What each model offers, as data: one table per model (ranges, speeds, limits,
// optional settings, default configuration) and one per family for what all its
// models share. The capability getters copy from these; nothing here is sent to the
// instrument. Texts are exact UTF-8 ("μ" CE BC, "Ω" CE A9) and "Auto" comes first.
#pragma once

#include "drv/drv_types.h"

struct drv_model_table_t {
    drv_dcv_caps_t dcv;
    drv_ac_caps_t acv;
    drv_dci_caps_t dci;
    drv_ac_caps_t aci;
    drv_res_caps_t res;    // 2-wire and 4-wire share one table
    drv_cap_caps_t cap;    // second family only (the first family shares one)
    drv_freq_caps_t freq;  // first family only (the second family shares one)
    plib_measure_cfg_map_t defaults;
};

struct drv_family_table_t {
    drv_cap_caps_t cap;      // first family
    drv_freq_caps_t freq;    // second family
    drv_freq_caps_t period;  // first family: freq_shared only
    drv_cont_caps_t cont;
    drv_diode_caps_t diode;
    drv_temp_caps_t temp;
    drv_sensor_caps_t sensor;
};

const drv_family_table_t& drv_vxa_family_table();
const drv_family_table_t& drv_vxb_family_table();

const drv_model_table_t& drv_vxa_1_table();
const drv_model_table_t& drv_vxa_2_table();  // VXA-2 and VXA-2E
const drv_model_table_t& drv_vxa_3_table();
const drv_model_table_t& drv_vxb_1_table();
const drv_model_table_t& drv_vxb_2_table();
const drv_model_table_t& drv_vxb_3_table();

// Capability getters hand out a copy of a table entry and report success (1).
template <typename caps_t>
int drv_copy_caps(caps_t& caps, const caps_t& table) {
    caps = table;
    return 1;
}

// Default settings of a model overwrite the caller's entries function by function.
inline void drv_fill_defaults(plib_measure_cfg_map_t& cfg_map, const plib_measure_cfg_map_t& defaults) {
    for (const auto& entry : defaults) cfg_map[entry.first] = entry.second;
}
