// The driver interface of both instrument families, its virtual operations grouped
// below by what they do. This class implements the SCPI set both families share,
// drv_vx_model_t the getters and the configuration transfer from a model table, the
// family classes (drv_vxa_t, drv_vxb_t) their own variants, and the model classes
// choose their table.
//
// Every command is one string ending in "\n": texts unchanged, ints in decimal,
// doubles as `std::ostream << double` prints them (six significant digits, %g-like).
// A reply is used only when the link status is 0 and it ends in "\n". Operations
// return the link status of their last I/O (0 = success) and never throw.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/plib_measure_type.h"
#include "drv/drv_link.h"
#include "drv/drv_types.h"

class drv_vx_base_t {
public:
    explicit drv_vx_base_t(drv_link_t* link) : m_plink(link) {}
    drv_vx_base_t(const drv_vx_base_t&) = delete;
    drv_vx_base_t& operator=(const drv_vx_base_t&) = delete;

    // Destruction through the interface.
    virtual ~drv_vx_base_t() = default;

    // Model and family tables (return 1), configuration transfer.
    virtual int get_dcv_caps(drv_dcv_caps_t& caps) = 0;
    virtual int get_acv_caps(drv_ac_caps_t& caps) = 0;
    virtual int get_dci_caps(drv_dci_caps_t& caps) = 0;
    virtual int get_aci_caps(drv_ac_caps_t& caps) = 0;
    virtual int get_res2w_caps(drv_res_caps_t& caps) = 0;
    virtual int get_res4w_caps(drv_res_caps_t& caps) = 0;
    virtual int get_cap_caps(drv_cap_caps_t& caps) = 0;
    virtual int get_freq_caps(drv_freq_caps_t& caps) = 0;
    virtual int get_period_caps(drv_freq_caps_t& caps) = 0;
    virtual int get_cont_caps(drv_cont_caps_t& caps) = 0;
    virtual int get_diode_caps(drv_diode_caps_t& caps) = 0;
    virtual int get_temp_caps(drv_temp_caps_t& caps) = 0;
    virtual int get_sensor_caps(drv_sensor_caps_t& caps) = 0;
    virtual void get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) = 0;
    virtual void apply_cfg_map(plib_measure_cfg_map_t cfg_map) = 0;

    // Trigger.
    virtual int init();
    virtual int abort();
    virtual int set_trig_count_inf();
    virtual int set_trig_count(int count);
    virtual int set_sample_count(int count);

    // The family's private identification query.
    virtual int get_private_model_name(std::string& name) = 0;

    // Readings and queries.
    virtual int read_measure_data(std::vector<plib_data_t>& data);
    // Pieces of fetched replies that were no number and were dropped, since the last
    // call (which resets the count).
    uint64_t take_dropped_readings() { return m_dropped_readings.exchange(0); }
    virtual int read_data(std::vector<plib_data_t>& data);
    virtual int get_range(plib_measure_type_t type, double& range);
    virtual int get_null_value(plib_measure_type_t type, std::string& value);
    virtual int get_udef_tran_lists(std::vector<drv_temp_sensor_t>& sensors);

    // Measurement settings.
    virtual int set_function(plib_measure_type_t type);
    virtual int set_range_auto(plib_measure_type_t type, int on);
    virtual int set_range(plib_measure_type_t type, std::string range);
    virtual int set_nplc(plib_measure_type_t type, std::string nplc);
    virtual int set_null_value(plib_measure_type_t type, std::string value);
    virtual int set_null(plib_measure_type_t type, int on);
    virtual int set_volt_impedance(std::string impedance);
    virtual int set_filter(plib_measure_type_t type, int on);
    virtual int set_auto_zero(plib_measure_type_t type, int on);
    virtual int set_bandwidth(plib_measure_type_t type, std::string bandwidth);
    virtual int set_diverter(plib_measure_type_t type, int on);
    virtual int set_aperture(plib_measure_type_t type, std::string aperture);
    virtual int set_beep(plib_measure_type_t type, int on);
    virtual int set_threshold(plib_measure_type_t type, std::string threshold);
    virtual int set_temp_transducer(drv_temp_sensor_t sensor);
    virtual int set_temp_type(int type);
    virtual int set_temp_unit(int unit);
    virtual int set_temp_ref_source(int source);
    virtual int set_temp_ref_value(std::string value);

    // Scanner card.
    virtual int get_scan_default_param(plib_scan_param_t& param);
    virtual int get_scan_channel_funcs(plib_scan_channel_funcs_t& funcs);
    virtual int get_scan_ranges(plib_measure_type_t type, std::vector<std::string>& ranges);
    virtual int get_scan_limits(plib_scan_limits_t& limits);
    virtual int get_scan_default_channel_param(plib_scanner_channel_map_t& params);
    virtual int get_scan_channel_count();
    virtual int read_scan_data(plib_scan_data_map_t& data);
    virtual int get_scan_state(int& state);
    virtual int set_scan(int on);
    virtual int set_scan_start(int on);
    virtual int set_scan_limits(int low, int high);
    virtual int set_scan_mode(int mode);
    virtual int set_scan_delay(double seconds);
    virtual int set_scan_channel(int channel, int on, plib_measure_type_t type, std::string range, int speed,
                                 int count);
    virtual int set_scan_count(int count);
    virtual int set_scan_count_auto(int on);

    // Not virtual.
    int reset();
    // The session is set by whoever connects (the user-interface or command thread) and
    // read by every thread that calls an operation (the timer's ticks, the pages):
    // atomic, no lock.
    void set_session(unsigned long session) { m_session.store(session); }
    unsigned long get_session() const { return m_session.load(); }

protected:
    int _write(const std::string& command);
    int _query(const std::string& command, std::string& reply);
    // Query, then read and append while the status is VI_SUCCESS_MAX_CNT (bounded by
    // drv_max_reply_bytes; a reply growing beyond it ends with that status).
    int _query_complete(const std::string& command, std::string& reply);
    // mn, plus ":VOLT" for Frequency and Period (their ranges are voltage ranges).
    static std::string _range_prefix(plib_measure_type_t type);

    drv_link_t* m_plink = nullptr;
    std::atomic<unsigned long> m_session{0};
    // Added by the fetching thread, taken by whoever reports it: atomic, no lock.
    std::atomic<uint64_t> m_dropped_readings{0};
};

// `std::ostream << double` output (precision 6, %g-like), independent of any locale.
std::string drv_format_double(double value);
