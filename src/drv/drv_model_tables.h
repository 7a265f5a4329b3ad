// What each model offers, as data: one constant table per model with every capability
// record, the default configuration and the configuration transfer order. The drivers
// read these tables (drv_vx_model.h); nothing here is sent to the instrument except
// through the transfer. Texts are exact UTF-8 ("μ" CE BC, "Ω" CE A9) and "Auto" comes
// first in every range list.
#pragma once

#include <vector>

#include "common/plib_measure_type.h"
#include "drv/drv_types.h"

// The settings a configuration transfer sends for one function, one bit each. A
// function's settings go out in the order of these bits, lowest first, so the range
// always precedes the auto-range switch.
enum drv_send_t : unsigned {
    drv_send_range = 1u << 0,           // set_range
    drv_send_range_auto = 1u << 1,      // set_range_auto
    drv_send_nplc = 1u << 2,            // set_nplc
    drv_send_null = 1u << 3,            // set_null
    drv_send_null_value = 1u << 4,      // set_null_value
    drv_send_filter = 1u << 5,          // set_filter
    drv_send_auto_zero = 1u << 6,       // set_auto_zero
    drv_send_volt_impedance = 1u << 7,  // set_volt_impedance
    drv_send_bandwidth = 1u << 8,       // set_bandwidth
    drv_send_diverter = 1u << 9,        // set_diverter
    drv_send_aperture = 1u << 10,       // set_aperture
    drv_send_beep = 1u << 11,           // set_beep
    drv_send_threshold = 1u << 12,      // set_threshold
};

// One function of a configuration transfer and the drv_send_t bits it sends.
struct drv_transfer_step_t {
    plib_measure_type_t type;
    unsigned settings;
};

struct drv_model_table_t {
    drv_dcv_caps_t dcv;
    drv_ac_caps_t acv;
    drv_dci_caps_t dci;
    drv_ac_caps_t aci;
    drv_res_caps_t res;  // 2-wire and 4-wire share one table
    drv_cap_caps_t cap;
    drv_freq_caps_t freq;
    drv_freq_caps_t period;
    drv_cont_caps_t cont;
    drv_diode_caps_t diode;
    drv_temp_caps_t temp;
    drv_sensor_caps_t sensor;
    plib_measure_cfg_map_t defaults;
    // Functions in the order they are visited; functions not listed are not sent.
    std::vector<drv_transfer_step_t> transfer;
};

const drv_model_table_t& drv_vxa_1_table();
const drv_model_table_t& drv_vxa_2_table();  // VXA-2 and VXA-2E
const drv_model_table_t& drv_vxa_3_table();
const drv_model_table_t& drv_vxb_1_table();
const drv_model_table_t& drv_vxb_2_table();
const drv_model_table_t& drv_vxb_3_table();
