// The per-instrument driver holder: creates the model's driver and forwards every
// operation to it one-to-one.
//
// The driver reaches the instrument through a drv_link_t; the instrument manager
// owns a drv_remote_link_t over its link engine and hands it in here.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drv/drv_link.h"
#include "drv/drv_vx_base.h"

// The driver of a model name (exact, case-sensitive), or none when the name has no
// driver: the model registry's family decides the family, then the name the class.
std::unique_ptr<drv_vx_base_t> create_driver(drv_link_t* link, const std::string& model);

class drv_if_t {
public:
    // `link` must outlive the holder. A model without a driver is a contract
    // violation ("m_pvx_base != nullptr"); every operation then returns 0 or does nothing.
    drv_if_t(drv_link_t* link, const std::string& model);
    drv_if_t(const drv_if_t&) = delete;
    drv_if_t& operator=(const drv_if_t&) = delete;

    const std::string& model() const { return m_model; }
    bool has_driver() const { return m_pvx_base != nullptr; }

    int get_dcv_caps(drv_dcv_caps_t& caps);
    int get_acv_caps(drv_ac_caps_t& caps);
    int get_dci_caps(drv_dci_caps_t& caps);
    int get_aci_caps(drv_ac_caps_t& caps);
    int get_res2w_caps(drv_res_caps_t& caps);
    int get_res4w_caps(drv_res_caps_t& caps);
    int get_cap_caps(drv_cap_caps_t& caps);
    int get_freq_caps(drv_freq_caps_t& caps);
    int get_period_caps(drv_freq_caps_t& caps);
    int get_cont_caps(drv_cont_caps_t& caps);
    int get_diode_caps(drv_diode_caps_t& caps);
    int get_temp_caps(drv_temp_caps_t& caps);
    int get_sensor_caps(drv_sensor_caps_t& caps);
    void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map);
    void apply_cfg_map(plib_measure_cfg_map_t cfg_map);

    int init();
    int abort();
    int set_trig_count_inf();
    int set_trig_count(int count);
    int set_sample_count(int count);
    int get_private_model_name(std::string& name);

    int read_measure_data(std::vector<plib_data_t>& data);
    // Reply pieces dropped as no number since the last call (then zero).
    uint64_t take_dropped_readings();
    int read_data(std::vector<plib_data_t>& data);
    int get_range(plib_measure_type_t type, double& range);
    int get_null_value(plib_measure_type_t type, std::string& value);
    int get_udef_tran_lists(std::vector<drv_temp_sensor_t>& sensors);

    int set_function(plib_measure_type_t type);
    int set_range_auto(plib_measure_type_t type, int on);
    int set_range(plib_measure_type_t type, std::string range);
    int set_nplc(plib_measure_type_t type, std::string nplc);
    int set_null_value(plib_measure_type_t type, std::string value);
    int set_null(plib_measure_type_t type, int on);
    int set_volt_impedance(std::string impedance);
    int set_filter(plib_measure_type_t type, int on);
    int set_auto_zero(plib_measure_type_t type, int on);
    int set_bandwidth(plib_measure_type_t type, std::string bandwidth);
    int set_diverter(plib_measure_type_t type, int on);
    int set_aperture(plib_measure_type_t type, std::string aperture);
    int set_beep(plib_measure_type_t type, int on);
    int set_threshold(plib_measure_type_t type, std::string threshold);
    int set_temp_transducer(drv_temp_sensor_t sensor);
    int set_temp_type(int type);
    int set_temp_unit(int unit);
    int set_temp_ref_source(int source);
    int set_temp_ref_value(std::string value);

    int get_scan_default_param(plib_scan_param_t& param);
    int get_scan_channel_funcs(plib_scan_channel_funcs_t& funcs);
    int get_scan_ranges(plib_measure_type_t type, std::vector<std::string>& ranges);
    int get_scan_limits(plib_scan_limits_t& limits);
    int get_scan_default_channel_param(plib_scanner_channel_map_t& params);
    int get_scan_channel_count();
    int read_scan_data(plib_scan_data_map_t& data);
    int get_scan_state(int& state);
    int set_scan(int on);
    int set_scan_start(int on);
    int set_scan_limits(int low, int high);
    int set_scan_mode(int mode);
    int set_scan_delay(double seconds);
    int set_scan_channel(int channel, int on, plib_measure_type_t type, std::string range, int speed,
                         int count);
    int set_scan_count(int count);
    int set_scan_count_auto(int on);

    int reset();
    void set_session(unsigned long session);
    unsigned long get_session() const;

private:
    std::string m_model;
    std::unique_ptr<drv_vx_base_t> m_pvx_base;
};
