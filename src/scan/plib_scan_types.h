// Types exchanged between the scan engine and its users (configuration, UI, CLI).
//
// Enumerator values travel between threads and into project files: never renumber.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/plib_measure_type.h"
#include "drv/drv_types.h"

enum plib_scan_notify_t : int {
    scan_notify_start = 0,  // the start condition was met and the scanner was started
    scan_notify_data = 1,   // a data tick ended (also the tick that met a stop condition)
    scan_notify_wait = 2,   // a tick found the start condition not yet met
    scan_notify_stop = 3,   // the run state went from 1 to 0
    // Writing a log file failed (disk full, directory gone): logging is off until the
    // next start; the run goes on and the readings stay in memory. Sent once per failure.
    scan_notify_record_write_failed = 4,
};

// Running statistics of one channel.
struct plib_scan_statistic_data_t {
    double max = 0.0;
    double min = 0.0;
    double average = 0.0;  // the overload value while no non-overload reading has arrived
    int count = 0;         // readings, overload readings included
};

// Payload of scan_run_state_info_msg_t.
struct plib_scan_run_state_t {
    uint64_t start_timestamp = 0;  // microseconds since the epoch when the start condition was met
    double elapsed_s = 0.0;
    uint32_t readings_count = 0;  // readings fetched this run, all channels together
    uint64_t readings_logged = 0;  // of those, the readings that reached the log files
    std::vector<std::string> files;  // the run's log files as created
};

// Parameter kinds of plib_scan_record_parameter_set_t.
enum plib_scan_param_kind_t : int {
    scan_param_record_enable = 0,
    scan_param_file_mode = 1,
    scan_param_start_mode = 2,
    scan_param_start_timestamp = 3,
    scan_param_stop_mode = 4,
    scan_param_stop_duration = 5,
    scan_param_stop_timestamp = 6,
    scan_param_stop_scan_count = 7,
    scan_param_sweep_readings = 8,
    scan_param_poll_interval = 9,
    scan_param_export_data = 10,
    scan_param_clear_data = 11,
};

// One engine parameter; `kind` selects the field that is used.
struct plib_scan_record_parameter_set_t {
    int kind = 0;
    int record_enable = 0;
    int file_mode = 0;
    int start_mode = 0;
    uint64_t start_timestamp = 0;
    int stop_mode = 0;
    double stop_duration = 0.0;
    uint64_t stop_timestamp = 0;
    int stop_scan_count = 0;
    int sweep_readings = 0;
    int poll_interval_ms = 0;
    std::string text;  // not used by the engine
    std::string export_path;
};

// File modes.
inline constexpr int scan_file_mode_single = 0;
inline constexpr int scan_file_mode_per_channel = 1;

// Stop modes.
inline constexpr int scan_stop_manual = 0;
inline constexpr int scan_stop_at_timestamp = 1;
inline constexpr int scan_stop_after_duration = 2;
inline constexpr int scan_stop_after_sweeps = 3;

// Readings kept per channel (0xA0000); older ones are pushed out.
inline constexpr std::size_t scan_stored_per_channel_limit = 655360;

// Logging information, refilled at every start by the record-info callback.
struct plib_scan_file_record_param_t {
    std::string maker;  // not written to any log file
    std::string product_type;
    std::string serial_number;
    std::string product_software_version;
    std::string software_version;
    std::string record_directory;
    std::string m_single_file_path;            // set when the single file is created
    std::map<int, std::string> channel_paths;  // set when the per-channel files are created
    std::map<int, std::string> column_titles;  // titles of the single file's columns
};

using plib_scan_latest_map_t = std::map<int, plib_data_t>;

// The readings of one channel that a caller has not seen yet (scan_new_data_msg_t).
// Indexes count the readings the channel has stored since the memory was last
// cleared, from 0; readings dropped at the per-channel limit keep their indexes, so
// the oldest reading held has index end_index - (readings held).
struct plib_scan_channel_tail_t {
    uint64_t oldest_index = 0;  // index of the oldest reading the engine still holds
    uint64_t first_index = 0;   // index of readings.front() (== end_index when none)
    uint64_t end_index = 0;     // index the channel's next reading will get
    std::vector<plib_data_t> readings;
};

// Payload of scan_new_data_msg_t: the caller fills memory_id and from, the engine the rest.
struct plib_scan_new_data_t {
    // In: the memory the caller's indexes belong to (0: none yet), and per channel the
    // index of the first reading wanted (a channel not listed: from 0). When memory_id
    // is not the engine's current one, every channel is answered from its oldest reading.
    uint64_t memory_id = 0;
    std::map<int, uint64_t> from;
    // Out: the current memory (changes at every start and every clear, never 0), the
    // run state taken together with the readings, and every channel's new readings
    // (from max(from, oldest_index)).
    uint64_t current_memory_id = 0;
    plib_scan_run_state_t run;
    std::map<int, plib_scan_channel_tail_t> channels;
};
using plib_scan_statistic_map_t = std::map<int, plib_scan_statistic_data_t>;

// The readings one scan tick stored, per channel, scaled as they are logged. Shared
// read-only between the listeners of an event.
struct plib_scan_batch_t {
    uint64_t run_id = 0;  // differs between runs of one engine
    plib_scan_data_map_t readings;
    // Per channel of the batch, its alarm state after the batch (the run's extremes
    // against the channel's enabled limits): bit 0 below the low limit, bit 1 above the high.
    std::map<int, int> alarm;
};

// A notification with its data: `batch` is set on scan_notify_data when the tick stored
// readings and someone asked for batches (scan_main_t::set_event_callback).
struct plib_scan_event_t {
    plib_scan_notify_t kind = scan_notify_start;
    std::shared_ptr<const plib_scan_batch_t> batch;
};
