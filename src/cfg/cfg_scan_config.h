// Scan settings of one instrument: what the user edits and the project file stores.
// Programs the scanner card before a run and forwards the run and logging parameters
// to the scan engine by message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drv/drv_types.h"
#include "scan/plib_scan_types.h"

class drv_if_t;
class scan_main_t;

class cfg_scan_config_t {
public:
    // Both must outlive the object. Takes the driver's defaults and sends the run and
    // logging defaults to the engine.
    cfg_scan_config_t(drv_if_t* driver, scan_main_t* engine);
    cfg_scan_config_t(const cfg_scan_config_t&) = delete;
    cfg_scan_config_t& operator=(const cfg_scan_config_t&) = delete;

    // Run and logging parameters: stored and sent to the engine.
    void set_record_enable(int on);
    int get_record_enable() const { return m_record_enable; }
    void set_file_mode(int mode);
    int get_file_mode() const { return m_file_mode; }
    void set_record_directory(const std::string& dir) { m_record_directory = dir; }
    const std::string& get_record_directory() const { return m_record_directory; }
    void set_start_mode(int mode);
    int get_start_mode() const { return m_start_mode; }
    void set_start_timestamp(uint64_t t_us);
    uint64_t get_start_timestamp() const { return m_start_timestamp; }
    void set_stop_mode(int mode);
    int get_stop_mode() const { return m_stop_mode; }
    void set_stop_duration(double seconds);
    double get_stop_duration() const { return m_stop_duration; }
    void set_stop_timestamp(uint64_t t_us);
    uint64_t get_stop_timestamp() const { return m_stop_timestamp; }
    // 1..max_count; also sets the scan count, so the card performs exactly that many sweeps.
    void set_stop_scan_count(int count);
    int get_stop_scan_count() const { return m_stop_scan_count; }

    // Scanner settings, sent to the card by apply_scan_config.
    void set_scan_mode(int mode) { m_scan_mode = mode; }
    int get_scan_mode() const { return m_scan_mode; }
    // 0 <= seconds <= max_delay; other values are ignored.
    void set_scan_delay(double seconds);
    double get_scan_delay() const { return m_scan_delay; }
    // 1 <= count <= max_count; other values are ignored.
    void set_scan_count(int count);
    int get_scan_count() const { return m_scan_count; }
    void set_auto_count(int on) { m_auto_count = on; }
    int get_auto_count() const { return m_auto_count; }

    // Copies the channels already known; recomputes sweep_readings and, when non-zero,
    // sends it to the engine.
    void set_channel_params(const plib_scanner_channel_map_t& params);
    const plib_scanner_channel_map_t& get_channel_params() const { return m_channel_params; }
    int get_sweep_readings() const { return m_sweep_readings; }

    // Each value is kept when it lies within +-1e9.
    void set_limit_channels(int first, int last);
    int get_limit_low_channel() const { return m_limit_low_channel; }
    int get_limit_high_channel() const { return m_limit_high_channel; }

    // The model's scanner capabilities: which functions each channel can measure, and
    // the ranges of a function (first is the default).
    void get_channel_funcs(plib_scan_channel_funcs_t& funcs) const;
    void get_ranges(int func, std::vector<std::string>& ranges) const;

    double get_max_delay() const { return m_max_delay; }
    int get_max_count() const { return m_max_count; }
    int get_scan_enable() const { return m_scan_enable; }

    // ROUT:STAT?: a non-zero state means a scanner card is fitted.
    int query_scan_card(int& state);
    // ROUT:SCAN; remembers the value.
    int set_scan_enable(int on);
    // Programs the card: scan on, every channel in ascending order, limits, mode, delay,
    // count, auto count. Returns the first failure (every step is still tried), else 0.
    int apply_scan_config();

    // Exports the readings the engine holds to per-channel files in `directory`.
    int export_data(const std::string& directory);
    void clear_data();
    // The engine's poll period in milliseconds (200 unless set).
    void set_poll_interval(int ms);

private:
    int _send(const plib_scan_record_parameter_set_t& param);
    void _update_sweep_readings();

    drv_if_t* m_driver;
    scan_main_t* m_engine;

    int m_record_enable = 0;
    int m_file_mode = 0;
    std::string m_record_directory;
    int m_start_mode = 0;
    uint64_t m_start_timestamp = 0;
    int m_stop_mode = 0;
    double m_stop_duration = 0.0;
    uint64_t m_stop_timestamp = 0;
    int m_stop_scan_count = 1;
    int m_scan_mode = 0;
    double m_scan_delay = 1.0;
    int m_scan_count = 1;
    int m_auto_count = 1;
    plib_scanner_channel_map_t m_channel_params;
    int m_scan_enable = 0;
    int m_limit_low_channel = 0;
    int m_limit_high_channel = 0;
    double m_max_delay = 999.0;
    int m_max_count = 999;
    int m_sweep_readings = 0;
};
