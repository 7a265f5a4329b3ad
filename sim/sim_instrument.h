// The simulated multimeter: settings, identification, readings and the scanner card.
// One instance per process, shared by every connection (a real instrument has one
// state, whichever interface a command arrives on). execute() may be called from any
// connection thread; m_mutex guards all state and is held for a whole command.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim_options.h"
#include "sim_readings.h"

namespace vx_sim {

class sim_instrument_t {
public:
    explicit sim_instrument_t(const sim_options_t& options);
    // The serial number *IDN? reports from now on (any thread).
    void set_serial(const std::string& serial);

    // Executes one command (no line feed, no ';'). Returns true when it produced a reply,
    // which then ends in "\n".
    bool execute(const std::string& command, std::string& reply);

    bool is_known_model() const { return m_family != 0; }

    // Readings handed out by the fetch commands so far (for soak runs to compare with
    // what the program logged). Any thread.
    uint64_t readings_sent() const { return m_readings_sent.load(); }

private:
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
        std::string text;  // the ROUT:CHAN arguments as last accepted
    };
    struct scan_slot_t {
        int channel;
        double offset_s;  // from the start of the sweep to the end of this reading
    };

    // One command as its handler sees it: the canonical header (without '?'), the
    // arguments and the instrument time it arrived at.
    struct request_t {
        std::string header;
        std::string args;
        int64_t now_us;
    };
    // Answers a query; returns false when there is nothing to answer (an error was queued).
    using query_handler_t = bool (sim_instrument_t::*)(const request_t& request, std::string& reply);
    using set_handler_t = void (sim_instrument_t::*)(const request_t& request);
    // Which instruments know a header.
    enum class offered_t { always, vxa, vxb, scan_card };
    struct command_t {
        query_handler_t query;  // nullptr: no query form
        set_handler_t set;      // nullptr: no command form
        offered_t offered;
    };
    // Fixed headers; "<mnemonic>:<setting>" headers go to _function_setting.
    static const std::map<std::string, command_t>& _commands();

    // Settings and dispatch
    void _reset();
    bool _dispatch(const request_t& request, bool query, std::string& reply);
    bool _function_setting(const request_t& request, bool query, std::string& reply);
    void _error(const std::string& text);

    // Common commands, identification and stored settings
    bool _identify(const request_t& request, std::string& reply);
    void _reset_command(const request_t& request);
    void _clear_errors(const request_t& request);
    bool _operation_complete(const request_t& request, std::string& reply);
    bool _next_error(const request_t& request, std::string& reply);
    bool _vxa_private_name(const request_t& request, std::string& reply);
    bool _vxb_private_name(const request_t& request, std::string& reply);
    bool _stored_setting(const request_t& request, std::string& reply);
    void _set_stored_switch(const request_t& request);
    void _set_stored_text(const request_t& request);

    // Measurement commands
    bool _function_query(const request_t& request, std::string& reply);
    void _set_function(const request_t& request);
    void _initiate(const request_t& request);
    void _abort(const request_t& request);
    bool _trig_count_query(const request_t& request, std::string& reply);
    void _set_trig_count(const request_t& request);
    bool _sample_count_query(const request_t& request, std::string& reply);
    bool _points_query(const request_t& request, std::string& reply);
    void _set_sample_count(const request_t& request);
    bool _read(const request_t& request, std::string& reply);
    bool _fetch_block(const request_t& request, std::string& reply);
    bool _fetch_stamped(const request_t& request, std::string& reply);

    // Scanner-card commands
    bool _card_state(const request_t& request, std::string& reply);
    bool _fetch_scan_data(const request_t& request, std::string& reply);
    bool _scan_query(const request_t& request, std::string& reply);
    void _set_scan(const request_t& request);
    bool _scan_start_query(const request_t& request, std::string& reply);
    void _set_scan_start(const request_t& request);
    bool _limit_query(const request_t& request, std::string& reply);
    void _set_limit(const request_t& request);
    bool _scan_mode_query(const request_t& request, std::string& reply);
    void _set_scan_mode(const request_t& request);
    bool _scan_delay_query(const request_t& request, std::string& reply);
    void _set_scan_delay(const request_t& request);
    bool _scan_count_query(const request_t& request, std::string& reply);
    void _set_scan_count(const request_t& request);
    bool _scan_count_auto_query(const request_t& request, std::string& reply);
    void _set_scan_count_auto(const request_t& request);
    void _set_card_frequency_kind(const request_t& request);
    bool _channel_query(const request_t& request, std::string& reply);
    void _set_channel(const request_t& request);

    // Measurement
    int64_t _now_us() const;
    double _since_epoch_s(int64_t t_us) const;
    double _reading_rate() const;
    double _fixed_range() const;
    std::string _temp_unit() const;
    double _setting_number(const std::string& key, double fallback) const;
    bool _setting_on(const std::string& key) const;
    void _advance(int64_t now_us);
    void _restart_segment(int64_t now_us);
    std::vector<sim_reading_t> _take_readings(size_t max_count);
    std::atomic<uint64_t> m_readings_sent{0};

    // Scanner card
    void _rebuild_scan(int64_t now_us);
    void _scan_settings_changed(int64_t now_us);
    void _advance_scan(int64_t now_us);
    double _channel_reading_time(const channel_t& ch) const;

    const sim_options_t m_options;
    mutable std::mutex m_serial_mutex;  // guards m_serial
    std::string m_serial;
    int m_family = 0;  // 1 VXA, 2 VXB, 0 unknown
    int64_t m_epoch_us = 0;
    int64_t m_steady_origin_us = 0;

    std::mutex m_mutex;  // guards everything below
    std::map<std::string, std::string> m_settings;
    double m_lowest_auto_range[func_count] = {};  // autoranging starts at the model's default range; 0: none
    std::deque<std::string> m_errors;
    int m_function = func_dcv;

    bool m_running = false;
    bool m_trig_infinite = false;
    uint64_t m_trig_count = 1;
    uint64_t m_sample_count = 1;
    uint64_t m_limit = 1;            // readings per INIT
    uint64_t m_taken = 0;            // readings taken since INIT
    int64_t m_segment_start_us = 0;  // settings unchanged since then
    uint64_t m_segment_taken = 0;
    double m_segment_rate = 1.0;
    std::deque<sim_reading_t> m_buffer;  // taken, not yet fetched

    channel_t m_channels[17];
    bool m_scan_enabled = false;
    bool m_scan_running = false;
    bool m_frq_is_period = false;
    int m_limit_low = 1;
    int m_limit_high = 16;
    int m_scan_mode = 0;  // 0 scan, 1 step
    double m_scan_delay_s = 1.0;
    int m_scan_count = 1;
    bool m_scan_count_auto = true;
    int64_t m_scan_start_us = 0;
    uint64_t m_scan_done = 0;  // readings of the run already produced
    std::vector<scan_slot_t> m_sweep;
    double m_sweep_s = 0.0;
    std::deque<scan_reading_t> m_scan_buffer;
};

}  // namespace vx_sim
