#include "drv/drv_vxb.h"

#include <iostream>

#include "drv/drv_parse.h"

// --- family -----------------------------------------------------------------------

int drv_vxb_t::get_freq_caps(drv_freq_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_family_table().freq); }
int drv_vxb_t::get_period_caps(drv_freq_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_family_table().period); }
int drv_vxb_t::get_cont_caps(drv_cont_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_family_table().cont); }
int drv_vxb_t::get_diode_caps(drv_diode_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_family_table().diode); }
int drv_vxb_t::get_temp_caps(drv_temp_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_family_table().temp); }
int drv_vxb_t::get_sensor_caps(drv_sensor_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_family_table().sensor); }

int drv_vxb_t::get_private_model_name(std::string& name) {
    std::string reply;
    const int status = _query("MACHINE_INFO?\n", reply);
    if (status != 0) return status;
    name = drv_parse_vxb_private_model(reply);
    std::cout << "get_private_model_name: " << name << std::endl;
    return status;
}

int drv_vxb_t::read_measure_data(std::vector<plib_data_t>& data) {
    data.clear();
    std::string reply;
    const int status = _query_complete("MEASURE_DATA?\n", reply);
    if (status != 0) return status;
    // Each entry carries the instrument's own timestamp, in microseconds since the
    // Unix epoch, which replaces the time of parsing.
    drv_parse_measure_data(reply, data);
    return 0;
}

int drv_vxb_t::set_auto_zero(plib_measure_type_t type, int on) {
    return _write(measure_scpi(type) + ":ZERO:AUTO " + std::to_string(on) + "\n");
}

// --- models -----------------------------------------------------------------------
// Functions are visited in the order DC voltage, DC current, AC voltage, AC current,
// both resistances, Capacitance, Frequency, Period, Continuity, Diode; what each
// model sends for a function follows the settings it offers.

int drv_vxb_1_t::get_dcv_caps(drv_dcv_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_1_table().dcv); }
int drv_vxb_1_t::get_acv_caps(drv_ac_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_1_table().acv); }
int drv_vxb_1_t::get_dci_caps(drv_dci_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_1_table().dci); }
int drv_vxb_1_t::get_aci_caps(drv_ac_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_1_table().aci); }
int drv_vxb_1_t::get_res2w_caps(drv_res_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_1_table().res); }
int drv_vxb_1_t::get_res4w_caps(drv_res_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_1_table().res); }
int drv_vxb_1_t::get_cap_caps(drv_cap_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_1_table().cap); }
void drv_vxb_1_t::get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) {
    drv_fill_defaults(cfg_map, drv_vxb_1_table().defaults);
}

void drv_vxb_1_t::apply_cfg_map(plib_measure_cfg_map_t cfg_map) {
    using s = setting_t;
    static const std::vector<transfer_step_t> order = {
        {measure_dcv, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::volt_impedance}},
        {measure_dci, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::diverter}},
        {measure_acv, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value}},
        {measure_aci, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::diverter}},
        {measure_res_2w, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value}},
        {measure_res_4w, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value}},
        {measure_cap, {s::range, s::range_auto, s::null_state, s::null_value}},
        {measure_freq, {s::range, s::range_auto, s::null_state, s::null_value, s::aperture}},
        {measure_period, {s::range, s::range_auto, s::null_state, s::null_value, s::aperture}},
        {measure_cont, {s::beep, s::threshold}},
        {measure_diode, {s::threshold}},
    };
    _transfer(order, cfg_map);
}

int drv_vxb_2_t::get_dcv_caps(drv_dcv_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_2_table().dcv); }
int drv_vxb_2_t::get_acv_caps(drv_ac_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_2_table().acv); }
int drv_vxb_2_t::get_dci_caps(drv_dci_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_2_table().dci); }
int drv_vxb_2_t::get_aci_caps(drv_ac_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_2_table().aci); }
int drv_vxb_2_t::get_res2w_caps(drv_res_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_2_table().res); }
int drv_vxb_2_t::get_res4w_caps(drv_res_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_2_table().res); }
int drv_vxb_2_t::get_cap_caps(drv_cap_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_2_table().cap); }
void drv_vxb_2_t::get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) {
    drv_fill_defaults(cfg_map, drv_vxb_2_table().defaults);
}

void drv_vxb_2_t::apply_cfg_map(plib_measure_cfg_map_t cfg_map) {
    using s = setting_t;
    static const std::vector<transfer_step_t> order = {
        {measure_dcv,
         {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::auto_zero, s::volt_impedance}},
        {measure_dci,
         {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::auto_zero, s::diverter}},
        {measure_acv, {s::range, s::range_auto, s::null_state, s::null_value, s::bandwidth}},
        {measure_aci, {s::range, s::range_auto, s::null_state, s::null_value, s::bandwidth, s::diverter}},
        {measure_res_2w, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::auto_zero}},
        {measure_res_4w, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::auto_zero}},
        {measure_cap, {s::range, s::range_auto, s::null_state, s::null_value}},
        {measure_freq, {s::range, s::range_auto, s::null_state, s::null_value, s::aperture}},
        {measure_period, {s::range, s::range_auto, s::null_state, s::null_value, s::aperture}},
        {measure_cont, {s::beep, s::threshold}},
        {measure_diode, {s::threshold}},
    };
    _transfer(order, cfg_map);
}

int drv_vxb_3_t::get_dcv_caps(drv_dcv_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_3_table().dcv); }
int drv_vxb_3_t::get_acv_caps(drv_ac_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_3_table().acv); }
int drv_vxb_3_t::get_dci_caps(drv_dci_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_3_table().dci); }
int drv_vxb_3_t::get_aci_caps(drv_ac_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_3_table().aci); }
int drv_vxb_3_t::get_res2w_caps(drv_res_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_3_table().res); }
int drv_vxb_3_t::get_res4w_caps(drv_res_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_3_table().res); }
int drv_vxb_3_t::get_cap_caps(drv_cap_caps_t& caps) { return drv_copy_caps(caps, drv_vxb_3_table().cap); }
void drv_vxb_3_t::get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) {
    drv_fill_defaults(cfg_map, drv_vxb_3_table().defaults);
}

void drv_vxb_3_t::apply_cfg_map(plib_measure_cfg_map_t cfg_map) {
    using s = setting_t;
    static const std::vector<transfer_step_t> order = {
        {measure_dcv, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::volt_impedance}},
        {measure_dci, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value, s::diverter}},
        {measure_acv, {s::range, s::range_auto, s::null_state, s::null_value, s::bandwidth}},
        {measure_aci, {s::range, s::range_auto, s::null_state, s::null_value, s::bandwidth, s::diverter}},
        {measure_res_2w, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value}},
        {measure_res_4w, {s::range, s::range_auto, s::nplc, s::null_state, s::null_value}},
        {measure_cap, {s::range, s::range_auto, s::null_state, s::null_value}},
        {measure_freq, {s::range, s::range_auto, s::null_state, s::null_value, s::aperture}},
        {measure_period, {s::range, s::range_auto, s::null_state, s::null_value, s::aperture}},
        {measure_cont, {s::beep, s::threshold}},
        {measure_diode, {s::threshold}},
    };
    _transfer(order, cfg_map);
}
