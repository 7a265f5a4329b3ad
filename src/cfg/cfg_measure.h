// Measurement configuration of one instrument: the current function, one parameter
// record per function the model supports, and the acquisition parameters.
//
// Every parameter setter writes the instrument first (through the driver holder) and
// then stores the value, whatever the driver answered: the stored configuration is
// written again as a whole after each connection (apply_to_instrument). Each setter
// returns the driver's status (0: the instrument took it), so a caller that wants the
// old value back after a refusal can put it back (stored_settings, restore_settings).
//
// Threads: the parameter setters may run on the instrument's lane (a worker thread of
// the user interface) while the GUI thread reads; m_store_mutex guards the current
// function and the per-function records (every getter and setter of them takes it).
// The acquisition parameters belong to the thread that owns the object (the GUI).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "acq/plib_acq_types.h"
#include "drv/drv_types.h"

class acq_main_t;
class drv_if_t;

// Acquisition parameters applied together (defaults and loading).
struct plib_acq_param_t {
    int buffer_mode = acq_buffer_mode_keep_latest;
    int record_position = 0;
    int auto_stop_mode = 0;
    double stop_time = 0.0;
    int stop_num = 0;
    int interval_ms = 0;  // carried, never applied by apply_acq_param
    bool auto_enable = false;
    std::string record_directory;
    std::string export_path;
};

// Snapshot of cfg_measure_t for the project file.
struct plib_measure_cfg_t {
    int function = 0;
    plib_measure_cfg_map_t cfg_map;
    int acq_mode = 0;
    int buffer_mode = 0;
    int record_position = 0;
    int auto_stop_mode = 0;
    double stop_time = 0.0;
    uint32_t stop_num = 0;
    int interval_ms = 0;
    bool auto_enable = false;
    std::string record_directory;
    std::string export_path;
};

// The stored measurement settings alone: current function and per-function records.
struct cfg_measure_settings_t {
    int function = 0;
    plib_measure_cfg_map_t cfg_map;
};

// The text settings of a function whose values come from the model's tables.
enum class cfg_text_setting_t { range, nplc, rel_value, impedance, bandwidth, aperture, threshold };

class cfg_measure_t {
public:
    // Fills the map with the model's defaults and sends the acquisition defaults to
    // the engine, whose thread must already run.
    cfg_measure_t(drv_if_t* driver, acq_main_t* engine);
    cfg_measure_t(const cfg_measure_t&) = delete;
    cfg_measure_t& operator=(const cfg_measure_t&) = delete;

    // Period shares the Frequency record when the driver says so; an unsupported
    // function is a contract violation. Returns the map key.
    int resolve_function(int f) const;
    bool has_function(int f) const;

    // Whether `value` is one the model offers for setting `s` of function f: one of its
    // lists (ranges, speeds, impedances, bandwidths, apertures) or a number within its
    // limits (relative value, threshold). "" (not set) is taken, and so is any value of
    // a setting the model does not have for f (it is carried, never sent).
    bool offers(int f, cfg_text_setting_t s, const std::string& value) const;
    // What the model offers for setting `s` of f, for a message: "20V, 200V, ..." or
    // "a number from -1000 to 1000"; "" when it has no such setting for f.
    std::string offered_text(int f, cfg_text_setting_t s) const;

    // Stores f, then the driver's set_function; returns the driver status.
    int set_function(int f);
    // Only the driver's set_function: stores nothing, so a worker thread may call it
    // (with a function read on the GUI thread) while the GUI reads the configuration.
    int send_function(int f) const;
    int get_function() const;
    // Stores f as the current function without telling the instrument (a caller that
    // shows the new function at once and sends it later).
    void store_function(int f);

    int set_auto_range(int f, int on);
    int get_auto_range(int f) const;
    int set_range(int f, const std::string& range);
    std::string get_range(int f) const;
    // ":RANGE?" turned into the range name of f, stored and returned; empty, and nothing
    // stored, when the instrument gives no usable answer.
    std::string read_range(int f);
    // The two halves of read_range: the query alone (touches no stored value, so it may
    // run off the GUI thread while the link is free to use) and the store of its answer.
    std::string query_range(int f) const;
    void store_read_range(int f, const std::string& range);
    int set_nplc(int f, const std::string& nplc);
    std::string get_nplc(int f) const;
    int set_rel_value(int f, const std::string& value);
    std::string get_rel_value(int f) const;
    // On: also reads the instrument's null value back as rel_value.
    int set_rel_state(int f, int on);
    int get_rel_state(int f) const;
    int set_impedance(const std::string& impedance);
    std::string get_impedance() const;
    int set_filter(int f, int on);
    int get_filter(int f) const;
    int set_auto_zero(int f, int on);
    int get_auto_zero(int f) const;
    int set_bandwidth(int f, const std::string& bandwidth);
    std::string get_bandwidth(int f) const;
    // 1 (diverter) also turns automatic ranging of f on.
    int set_diverter(int f, int v);
    int get_diverter(int f) const;
    int set_aperture(int f, const std::string& aperture);
    std::string get_aperture(int f) const;
    // With a shared beeper, Continuity and Diode store the same value.
    int set_beeper(int f, int v);
    int get_beeper(int f) const;
    int set_threshold(int f, const std::string& threshold);
    std::string get_threshold(int f) const;
    int set_temp_unit(int v);
    int get_temp_unit() const;
    int set_temp_display(int v);
    int get_temp_display() const;
    int set_temp_source(int v);
    int get_temp_source() const;
    int set_temp_ext_source_val(const std::string& value);
    std::string get_temp_ext_source_val() const;
    int set_temp_sensor(const plib_temp_sensor_t& sensor);
    plib_temp_sensor_t get_temp_sensor() const;
    // Reads the user-defined sensors, stores them in the Temperature entry, returns them.
    int sync_udef_sensors(std::vector<plib_udef_sensor_t>& out);

    // The whole map, then the current function.
    void apply_to_instrument();
    plib_measure_cfg_t snapshot() const;
    void apply_snapshot(const plib_measure_cfg_t& snapshot);
    void reset_acq_param();
    void apply_acq_param(const plib_acq_param_t& param);
    // The records themselves: for a caller that owns the object alone (tests, loading).
    const plib_measure_cfg_map_t& cfg_map() const { return m_cfg_map; }
    // A copy taken under the store lock, safe while a lane job stores a setting.
    plib_measure_cfg_map_t cfg_map_copy() const;
    // The current function and every record, to put back after a change the
    // instrument did not take; restore stores only (nothing is sent).
    cfg_measure_settings_t stored_settings() const;
    void restore_settings(const cfg_measure_settings_t& settings);

    void set_acq_mode(int v);
    int get_acq_mode() const { return m_acq_mode.load(); }
    void set_buffer_mode(int v);
    int get_buffer_mode() const { return m_buffer_mode; }
    void set_record_position(int v);
    int get_record_position() const { return m_record_position; }
    void set_interval_ms(int v);
    int get_interval_ms() const { return m_interval_ms; }
    void set_auto_stop_mode(int v);
    int get_auto_stop_mode() const { return m_auto_stop_mode; }
    void set_stop_time(double seconds);
    double get_stop_time() const { return m_stop_time; }
    void set_stop_num(uint32_t n);
    uint32_t get_stop_num() const { return m_stop_num; }
    void set_auto_enable(bool b);
    bool get_auto_enable() const { return m_auto_enable; }
    void set_record_directory(const std::string& dir) { m_record_directory = dir; }
    const std::string& get_record_directory() const { return m_record_directory; }
    void set_export_path(const std::string& path) { m_export_path = path; }
    const std::string& get_export_path() const { return m_export_path; }
    void clear_data();
    // Writes the record buffer to a CSV file; the engine's result (-1: incomplete file).
    int export_data(const std::string& path);

private:
    plib_measure_func_cfg_t& _entry(int f);
    const plib_measure_func_cfg_t* _find(int f) const;
    int _send_record_parameter(const plib_record_parameter_set_msg_t& param);

    drv_if_t* m_pdrv = nullptr;
    acq_main_t* m_pacq = nullptr;
    // Guards m_function and m_cfg_map: a setter may run on the instrument's lane (a
    // worker thread) while the GUI thread reads the stored values. Never held while the
    // driver talks to the instrument.
    mutable std::mutex m_store_mutex;
    int m_function = 0;
    plib_measure_cfg_map_t m_cfg_map;
    // Set on the instrument's lane (the record dialog's mode change), read on the GUI thread.
    std::atomic<int> m_acq_mode{0};
    int m_buffer_mode = 0;
    int m_record_position = 0;
    int m_auto_stop_mode = 0;
    double m_stop_time = 0.0;
    uint32_t m_stop_num = 0;
    int m_interval_ms = 0;
    bool m_auto_enable = false;
    std::string m_record_directory;
    std::string m_export_path;
};
