// The simulated multimeter: settings, identification, readings and the scanner card.
// One instance per process, shared by every connection (a real instrument has one
// state, whichever interface a command arrives on).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim_options.h"

namespace vx_sim {

// Function indexes follow the program's measurement vocabulary (0 DC voltage ... 12 Sensor).
enum sim_func_t : int {
    func_dcv = 0, func_dci, func_acv, func_aci, func_res_2w, func_res_4w, func_freq, func_period,
    func_cap, func_cont, func_diode, func_temp, func_sensor, func_count
};

class sim_instrument_t {
public:
    explicit sim_instrument_t(const sim_options_t& options);

    // Executes one command (no line feed, no ';'). Returns true when it produced a reply,
    // which then ends in "\n".
    bool execute(const std::string& command, std::string& reply);

    bool is_known_model() const { return m_family != 0; }

private:
    struct reading_t {
        double value;
        int64_t timestamp_us;
    };
    struct scan_reading_t {
        int channel;
        int func;
        double value;
    };
    struct channel_t {
        bool on = false;
        int func = func_dcv;
        double range = 0.0;  // 0: automatic
        int speed = 2;       // 0 slow, 1 fast, 2 default
        int count = 1;
        std::string text;    // the ROUT:CHAN arguments as last accepted
    };
    struct scan_slot_t {
        int channel;
        double offset_s;     // from the start of the sweep to the end of this reading
    };

    // Settings and dispatch
    void _reset();
    bool _execute_locked(const std::string& header, const std::string& args, bool query, std::string& reply);
    bool _function_setting(const std::string& header, const std::string& args, bool query, std::string& reply);
    bool _route(const std::string& header, const std::string& args, bool query, std::string& reply);
    void _error(const std::string& text);

    // Measurement
    int64_t _now_us() const;
    double _reading_rate() const;
    double _setting_number(const std::string& key, double fallback) const;
    bool _setting_on(const std::string& key) const;
    double _value_of(int func, double range, uint64_t index, int64_t t_us, int channel) const;
    void _advance(int64_t now_us);
    void _restart_segment(int64_t now_us);
    std::string _format_readings(const std::vector<reading_t>& readings, bool with_timestamps) const;
    std::vector<reading_t> _take_readings(size_t max_count);

    // Scanner card
    void _rebuild_scan(int64_t now_us);
    void _advance_scan(int64_t now_us);
    double _channel_reading_time(const channel_t& ch) const;
    std::string _format_scan_entry(const scan_reading_t& r) const;

    const sim_options_t m_options;
    int m_family = 0;  // 1 VXA, 2 VXB, 0 unknown
    int64_t m_epoch_us = 0;
    int64_t m_steady_origin_us = 0;

    std::mutex m_mutex;  // guards everything below
    std::map<std::string, std::string> m_settings;
    std::deque<std::string> m_errors;
    int m_function = func_dcv;

    bool m_running = false;
    bool m_trig_infinite = false;
    uint64_t m_trig_count = 1;
    uint64_t m_sample_count = 1;
    uint64_t m_limit = 1;             // readings per INIT
    uint64_t m_taken = 0;             // readings taken since INIT
    int64_t m_segment_start_us = 0;   // settings unchanged since then
    uint64_t m_segment_taken = 0;
    double m_segment_rate = 1.0;
    std::deque<reading_t> m_buffer;   // taken, not yet fetched

    channel_t m_channels[17];
    bool m_scan_enabled = false;
    bool m_scan_running = false;
    bool m_frq_is_period = false;
    int m_limit_low = 1;
    int m_limit_high = 16;
    int m_scan_mode = 0;              // 0 scan, 1 step
    double m_scan_delay_s = 1.0;
    int m_scan_count = 1;
    bool m_scan_count_auto = true;
    int64_t m_scan_start_us = 0;
    uint64_t m_scan_done = 0;         // readings of the run already produced
    std::vector<scan_slot_t> m_sweep;
    double m_sweep_s = 0.0;
    std::deque<scan_reading_t> m_scan_buffer;
};

}  // namespace vx_sim
