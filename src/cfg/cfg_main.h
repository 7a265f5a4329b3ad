// Per-instrument configuration facade. Each operation forwards to one sub-object.
//
// Threads: the pages run the measurement setters (which wait for the instrument) as
// jobs on the device item's lane, one at a time in the order the user made them; the
// stored measurement values they write are guarded by cfg_measure_t's store lock, so
// the GUI thread may read them meanwhile. Everything else runs on the GUI thread.
// Each measurement setter returns the driver's status (0: the instrument took it).
//
// An instrument has two doors, and every caller (user interface, command line) uses
// the same two:
// - settings and run control go through this facade: connecting, every configuration
//   value, starting and stopping measuring and scanning, and the run states;
// - readings and results are fetched through the engines' messages, reached with the
//   manager's get_acq() and get_scan(): latest reading, record buffer, trend data,
//   scan data and statistics.
// No caller changes a setting or a run state through an engine or the driver directly,
// so that the rules kept here (a start needs a connected instrument; measuring and
// scanning exclude each other) cannot be bypassed.
//
// Threads and locks:
// - Talking to the instrument: any thread may call an operation that does I/O; the I/O
//   itself always runs on the instrument's link thread ("remote"), one call at a time
//   (the link engine's send mutex serialises the callers). The driver's session is an
//   atomic.
// - The configuration objects (cfg_measure_t, cfg_acq_t, cfg_trig_t, the scan config,
//   the diagram settings) have no lock: they belong to the thread that owns the
//   instrument (the GUI thread, or the command's thread in the command-line tool).
//   Workers of the pages may call only operations that store nothing, such as
//   send_function, with values read on the owning thread.
// - cfg_remote_t's connection record is guarded by its own m_state_mutex (connect may
//   run on a worker); the engines guard their state with their own mutexes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "cfg/cfg_acq.h"
#include "cfg/cfg_measure.h"
#include "cfg/cfg_measure_diagram.h"
#include "cfg/cfg_project.h"
#include "cfg/cfg_remote.h"
#include "cfg/cfg_scan.h"
#include "cfg/cfg_scan_diagram.h"
#include "cfg/cfg_trig.h"
#include "common/plib_version.h"
#include "scan/plib_scan_types.h"

class acq_main_t;
class drv_if_t;
class scan_main_t;
class cfg_scan_config_t;

class cfg_main_t {
public:
    // `link` is the driver link of the manager (connects and identifies through it).
    // The engines and the driver must not be null and must outlive the facade; the
    // acquisition engine must run already: the measurement sends its defaults.
    cfg_main_t(acq_main_t* acq, scan_main_t* scan, drv_if_t* driver, drv_link_t* link);
    // Disconnects the instrument first.
    ~cfg_main_t();
    cfg_main_t(const cfg_main_t&) = delete;
    cfg_main_t& operator=(const cfg_main_t&) = delete;

    // Device identity
    cfg_remote_info_t get_info() const;
    void set_info(const cfg_remote_info_t& info);
    int connect(int op);
    int connect_if_needed(int op);
    std::string manufacturer() const;
    std::string product_type() const;
    std::string serial_number() const;
    std::string software_version() const;
    void set_model(const std::string& model);
    std::string get_model() const;
    void list_all(std::vector<std::string>& out) const;
    void search_found(std::vector<std::string>& out);
    void search_all(std::vector<std::string>& out);
    bool add(const std::string& resource);
    int remove(const std::string& resource);

    // Acquisition control
    void set_run_state(int s);
    int get_run_state() const;
    void restart();
    int trigger_once();
    plib_record_run_state_info_t get_run_state_info() const;
    bool is_recording() const;
    double get_elapsed_s() const;
    uint32_t get_total_count() const;

    // Trigger control
    int initiate();
    int abort();
    int set_trig_count_inf();

    // Scan control
    void set_scan_run_state(int s);
    int get_scan_run_state() const;
    int scan_trigger_once();
    plib_scan_run_state_t get_scan_run_state_info() const;

    // Measurement parameters (f: plib_measure_type_t)
    // Whether the model has function f (Period may share the Frequency record).
    bool has_function(int f) const;
    int set_function(int f);
    // Sends f to the instrument without storing it (any thread; see the header).
    int send_function(int f) const;
    int get_function() const;
    // Stores f as the current function only; set_function sends it later.
    void store_function(int f);
    int set_auto_range(int f, int on);
    int get_auto_range(int f) const;
    int set_range(int f, const std::string& range);
    std::string get_range(int f) const;
    std::string read_range(int f);
    // read_range in two halves: the instrument's answer (no stored value touched: may run
    // on the device item's lane) and its store (on the GUI thread).
    std::string query_range(int f) const;
    void store_read_range(int f, const std::string& range);
    int set_nplc(int f, const std::string& nplc);
    std::string get_nplc(int f) const;
    int set_rel_state(int f, int on);
    int get_rel_state(int f) const;
    int set_rel_value(int f, const std::string& value);
    std::string get_rel_value(int f) const;
    int set_filter(int f, int on);
    int get_filter(int f) const;
    int set_auto_zero(int f, int on);
    int get_auto_zero(int f) const;
    int set_bandwidth(int f, const std::string& bandwidth);
    std::string get_bandwidth(int f) const;
    int set_diverter(int f, int v);
    int get_diverter(int f) const;
    int set_aperture(int f, const std::string& aperture);
    std::string get_aperture(int f) const;
    int set_beeper(int f, int v);
    int get_beeper(int f) const;
    int set_threshold(int f, const std::string& threshold);
    std::string get_threshold(int f) const;
    int set_impedance(const std::string& impedance);
    std::string get_impedance() const;
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
    int sync_udef_sensors(std::vector<plib_udef_sensor_t>& out);
    void apply_to_instrument();
    // The stored function and records, and putting them back (store only): a change the
    // instrument refused is undone with these.
    cfg_measure_settings_t stored_settings() const;
    void restore_settings(const cfg_measure_settings_t& settings);

    // Acquisition parameters
    void set_acq_mode(int v);
    int get_acq_mode() const;
    void set_buffer_mode(int v);
    int get_buffer_mode() const;
    void set_record_position(int v);
    int get_record_position() const;
    void set_record_directory(const std::string& dir);
    std::string get_record_directory() const;
    void set_auto_enable(bool b);
    bool get_auto_enable() const;
    void set_auto_stop_mode(int v);
    int get_auto_stop_mode() const;
    void set_stop_time(double seconds);
    double get_stop_time() const;
    void set_stop_num(uint32_t n);
    uint32_t get_stop_num() const;
    void set_interval_ms(int v);
    int get_interval_ms() const;
    void clear_data();
    int export_data(const std::string& path);

    // Measure diagram
    void set_rec_time(double seconds);
    double get_rec_time() const;
    void set_range_limits(double min, double max);
    void get_range_limits(double& min, double& max) const;
    void set_range_mode(int mode);
    int get_range_mode() const;
    void set_trend_mode(int mode);
    int get_trend_mode() const;

    // Scan configuration: every scan setting, the channel map, the card query, and
    // clear and export of the scan memory; its values as a project section.
    cfg_scan_config_t* get_scan_config() const { return m_pscan_config.get(); }
    cfg_scan_section_t get_scan_section() const;
    // Applies the values through the scan configuration's setters (which keep their
    // ranges and send the run and logging parameters to the scan engine).
    void set_scan_section(const cfg_scan_section_t& section);

    // Scan diagram
    void set_scan_display_mode(int mode);
    int get_scan_display_mode() const;
    void set_scan_display_period(double start, double end);
    void get_scan_display_period(double& start, double& end) const;
    void set_curve_valid(int ch, bool valid);
    bool get_curve_valid(int ch) const;
    void set_curve_auto_range(int ch, int on);
    int get_curve_auto_range(int ch) const;
    void set_curve_range(int ch, double upper, double lower);
    void get_curve_range(int ch, double& upper, double& lower) const;
    void get_curve_scale(int ch, plib_curve_scale_t& scale) const;
    void set_curve_visible(int ch, bool visible);
    bool get_curve_visible(int ch) const;
    void set_curve_color(int ch, unsigned int color);
    unsigned int get_curve_color(int ch) const;
    void set_curve_line_pattern(int ch, int pattern);
    int get_curve_line_pattern(int ch) const;
    void set_curve_symbol(int ch, int symbol);
    int get_curve_symbol(int ch) const;

    // Versions
    std::string get_app_software_version() const { return plib_software_version; }

    // Project
    int save_section(const std::string& path) const;
    int load_first_section(const std::string& path);
    int load_section(pugi::xml_node project);

    // Sub-objects, for the project section and the tests.
    cfg_remote_t* remote() const { return m_premote.get(); }
    cfg_acq_t* acq() const { return m_pcfg_acq.get(); }
    cfg_scan_t* scan() const { return m_pcfg_scan.get(); }
    cfg_trig_t* trig() const { return m_pcfg_trig.get(); }
    cfg_measure_t* measure() const { return m_pmeasure.get(); }
    cfg_measure_diagram_t* measure_diagram() const { return m_pmeasure_diagram.get(); }
    cfg_scan_diagram_t* scan_diagram() const { return m_pscan_diagram.get(); }
    cfg_project_t* project() const { return m_pproject.get(); }
    acq_main_t* get_acq() const { return m_pacq; }
    scan_main_t* get_scan() const { return m_pscan; }
    drv_if_t* get_driver() const { return m_pdrv; }

private:
    acq_main_t* m_pacq = nullptr;
    scan_main_t* m_pscan = nullptr;
    drv_if_t* m_pdrv = nullptr;
    std::unique_ptr<cfg_remote_t> m_premote;
    std::unique_ptr<cfg_acq_t> m_pcfg_acq;
    std::unique_ptr<cfg_scan_t> m_pcfg_scan;
    std::unique_ptr<cfg_trig_t> m_pcfg_trig;
    std::unique_ptr<cfg_measure_t> m_pmeasure;
    std::unique_ptr<cfg_measure_diagram_t> m_pmeasure_diagram;
    std::unique_ptr<cfg_scan_config_t> m_pscan_config;
    std::unique_ptr<cfg_scan_diagram_t> m_pscan_diagram;
    std::unique_ptr<cfg_project_t> m_pproject;
};
