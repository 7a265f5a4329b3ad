// Records the drivers exchange with the configuration, the engines and the UI:
// capability descriptions of a model, temperature sensors, one function's parameter
// record, and the scanner defaults.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/plib_measure_type.h"

// A temperature transducer: define 0 = firmware-defined ("MDEF"), 1 = user-defined
// ("UDEF"); type 0 = RTD ("RTD"), 1 = thermocouple ("THER").
struct drv_temp_sensor_t {
    int define = 0;
    int type = 0;
    std::string name;

    bool operator==(const drv_temp_sensor_t& o) const {
        return define == o.define && type == o.type && name == o.name;
    }
};
using plib_temp_sensor_t = drv_temp_sensor_t;
using plib_udef_sensor_t = drv_temp_sensor_t;

// Capability records. Range lists start with "Auto"; speeds are NPLC values as text;
// rel_min/rel_max bound the relative (null) offset in base units.
struct drv_dcv_caps_t {
    std::vector<std::string> ranges;
    std::vector<std::string> speeds;
    double rel_min = 0.0;
    double rel_max = 0.0;
    bool has_filter = false;
    bool has_auto_zero = false;
    std::vector<std::string> impedance_ranges;  // ranges offering the 10M/10G choice
};

struct drv_dci_caps_t {
    std::vector<std::string> ranges;
    std::vector<std::string> speeds;
    double rel_min = 0.0;
    double rel_max = 0.0;
    bool has_filter = false;
    bool has_auto_zero = false;
    bool has_diverter = false;
};

struct drv_ac_caps_t {
    std::vector<std::string> ranges;
    std::vector<std::string> speeds;
    double rel_min = 0.0;
    double rel_max = 0.0;
    bool has_bandwidth = false;
    std::vector<std::string> bandwidths;  // Hz, as text
    bool has_diverter = false;            // AC current only
};

struct drv_res_caps_t {
    std::vector<std::string> ranges;
    std::vector<std::string> speeds;
    double rel_min = 0.0;
    double rel_max = 0.0;
    bool has_auto_zero = false;
};

struct drv_cap_caps_t {
    std::vector<std::string> ranges;
    double rel_min = 0.0;
    double rel_max = 0.0;
};

struct drv_freq_caps_t {
    std::vector<std::string> ranges;  // voltage ranges
    double rel_min = 0.0;
    double rel_max = 0.0;
    bool has_aperture = false;
    std::vector<std::string> apertures;  // gate times in s, as text
    bool freq_shared = false;            // Period only: use the Frequency settings
};

struct drv_cont_caps_t {
    double threshold_min = 0.0;
    double threshold_max = 0.0;
    bool beeper_shared = false;  // one beeper setting serves Continuity and Diode
};

struct drv_diode_caps_t {
    double threshold_min = 0.0;
    double threshold_max = 0.0;
};

struct drv_temp_caps_t {
    double rel_min = 0.0;
    double rel_max = 0.0;
    std::vector<drv_temp_sensor_t> sensors;  // firmware-defined transducers
};

struct drv_sensor_caps_t {
    bool has_sensor = false;
};

// One function's parameter record. Texts are spelled as the instrument or the UI
// spell them ("200mV", "10", "10M"); switches are 0/1.
struct plib_measure_func_cfg_t {
    int auto_range = 0;
    std::string range;
    std::string nplc;
    int rel_state = 0;
    std::string rel_value;
    int filter = 0;
    std::string impedance;
    std::string bandwidth;
    int auto_zero = 0;
    int diverter = 0;
    std::string aperture;
    int beeper = 0;
    std::string threshold;
    int temp_unit = 0;
    int temp_display = 0;
    int temp_source = 0;
    std::string temp_ext_source_val;
    plib_temp_sensor_t temp_sensor;
    std::vector<plib_udef_sensor_t> udef_sensor;
};

// Keyed by plib_measure_type_t.
using plib_measure_cfg_map_t = std::map<int, plib_measure_func_cfg_t>;

// One scanner channel's configuration.
struct plib_scanner_channel_param_t {
    std::string name;
    int scan_state = 0;
    int scan_counts = 0;
    int func = 0;
    std::string range;
    int speed = 0;
    int scaling = 0;
    double gain = 1.0;  // neutral: scaling a new channel changes nothing until K is set
    double offset = 0.0;
    int alarm_limit = 0;
    double limit_low = 0.0;
    double limit_high = 0.0;
};

// Keyed by the 1-based channel number.
using plib_scanner_channel_map_t = std::map<int, plib_scanner_channel_param_t>;

// The scanner settings a model proposes for a new instrument.
struct plib_scan_param_t {
    int scan_mode = 0;  // 0 scan, 1 step
    double scan_delay = 0.0;
    int scan_count = 0;
    int auto_count = 0;
};

// Upper bounds of the scanner settings.
struct plib_scan_limits_t {
    double max_delay = 0.0;
    int max_count = 0;
    int max_stop_count = 0;
};

// Keyed by the 1-based channel number.
using plib_scan_data_map_t = std::map<int, std::vector<plib_data_t>>;
using plib_scan_channel_funcs_t = std::map<int, std::vector<plib_measure_type_t>>;
