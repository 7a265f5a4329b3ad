// Types exchanged between the acquisition engine and its users (configuration, UI).
//
// Enumerator values travel between threads and into project files: never renumber.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/plib_measure_type.h"

enum plib_acq_mode_t : int {
    acq_mode_continuous = 0,  // trigger count infinite: the instrument free-runs
    acq_mode_single = 1,      // one reading per INIT; the engine re-arms after each fetch
};

enum plib_acq_notify_t : int {
    acq_notify_start = 0,        // the run state became 1
    acq_notify_data = 1,         // a tick of a running engine finished (also with no readings)
    acq_notify_buffer_full = 2,  // buffer full in stop-when-full mode; the batch was discarded
    acq_notify_stop = 3,         // the run state became 0
    // Writing the record file failed during a run (disk full, directory removed):
    // logging is off until the next start; the readings stay in the buffer.
    acq_notify_record_write_failed = 4,
    // A tick's reply held pieces that were no number: they were dropped, never stored
    // (plib_record_run_state_info_t::dropped_count counts them). Sent before the tick's data.
    acq_notify_pieces_dropped = 5,
};

// Buffer modes (record parameter buffer_mode).
inline constexpr int acq_buffer_mode_stop_when_full = 0;
inline constexpr int acq_buffer_mode_keep_latest = 1;

// Automatic stop modes (record parameter auto_stop_mode).
inline constexpr int acq_auto_stop_by_time = 0;
inline constexpr int acq_auto_stop_by_count = 1;

// Readings the record buffer holds at most (0x640000, 100 MiB of readings).
inline constexpr std::size_t acq_record_buffer_capacity = 6553600;

// Record-parameter kinds: each message carries one kind and takes only that field.
enum plib_record_kind_t : int {
    record_kind_buffer_mode = 0,
    record_kind_record_enable = 1,
    record_kind_interval = 2,
    record_kind_auto_stop_mode = 3,
    record_kind_stop_time = 4,
    record_kind_stop_num = 5,
    record_kind_auto_stop_enable = 6,
    record_kind_clear = 7,
    record_kind_export = 8,
};

struct plib_record_parameter_set_msg_t {
    int kind = 0;
    int buffer_mode = 0;
    int record_enable = 0;
    int auto_stop_mode = 0;
    double stop_time = 0.0;
    int stop_num = 0;
    int interval_ms = 0;
    bool auto_stop_enable = false;
    std::string record_path;  // always sent empty; the log path comes from the record information
    std::string export_path;
};

// Why the last run ended (plib_record_run_state_info_t::stop_cause).
enum plib_acq_stop_cause_t : int {
    acq_stop_none = 0,         // running, or never run
    acq_stop_requested = 1,    // set_run_state(0): the user, a program, a lost link
    acq_stop_by_time = 2,      // the automatic stop after a time
    acq_stop_by_count = 3,     // the automatic stop after a number of readings
    acq_stop_buffer_full = 4,  // the record buffer was full in stop-when-full mode
};

// Figures of every reading of the run (not only those still in the buffer). `count`
// counts the numeric readings the figures are made of; overloads are counted apart.
// min, max, mean and stddev are NaN while count is 0; stddev is the sample standard
// deviation (n - 1 in the denominator), 0 for a single reading.
struct plib_acq_statistics_t {
    uint64_t count = 0;
    uint64_t overloads = 0;
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    double mean = std::numeric_limits<double>::quiet_NaN();
    double stddev = std::numeric_limits<double>::quiet_NaN();
};

struct plib_record_run_state_info_t {
    bool recording = false;
    int64_t start_timestamp = 0;  // timestamp of the first reading of the run, us
    double elapsed_s = 0.0;
    uint32_t total_count = 0;
    // Pieces of the run's replies that were no number and were dropped (never stored
    // as readings).
    uint64_t dropped_count = 0;
    // Readings of the run that reached its log file, and the file's path ("" when the
    // run logs nothing); the path differs from the record path when that name was taken.
    uint64_t logged_count = 0;
    std::string record_path;
    plib_acq_statistics_t statistics;  // of every reading accepted since the start or clear
    plib_acq_stop_cause_t stop_cause = acq_stop_none;
};

// A slice of the record buffer: filled only when [start, start + count) lies inside it.
struct plib_acq_selected_data_list_t {
    uint64_t start = 0;
    uint64_t count = 0;
    std::vector<plib_data_t> data;
};

inline constexpr int acq_trend_display_points = 1000;

// Trend view copied out to the chart. Point k is (max_points[k], min_points[k]), oldest first.
struct plib_trend_data_info_t {
    int mode = 0;  // set by the caller: 0 recent view, non-zero all view
    std::array<plib_data_t, acq_trend_display_points> max_points{};
    std::array<plib_data_t, acq_trend_display_points> min_points{};
    int count = 0;
    double ymax = 0.0;
    double ymin = 0.0;
};

// What the record file's header and name are made of; refilled at every start.
struct plib_acq_file_record_param_t {
    std::string manufacturer;  // kept for completeness; not written to the file
    std::string product_type;
    std::string serial_number;
    std::string product_software_version;  // the instrument's firmware
    std::string software_version;          // this application's version
    std::string record_path;               // full path of the log file, or empty: no log
    std::string column_title;              // display name of the measurement function
};

// The readings one tick accepted into the record buffer (exactly what the record file
// gets while logging), oldest first. Shared read-only between the listeners of an event.
struct plib_acq_batch_t {
    uint64_t run_id = 0;  // differs between runs of one engine
    std::vector<plib_data_t> readings;
};

// A notification with its data: `batch` is set on acq_notify_data when the tick accepted
// readings and someone asked for batches (acq_main_t::set_event_callback).
struct plib_acq_event_t {
    plib_acq_notify_t kind = acq_notify_start;
    std::shared_ptr<const plib_acq_batch_t> batch;
};
