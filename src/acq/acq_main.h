// Acquisition engine of one instrument: continuous and single acquisition, the record
// buffer with automatic stop and buffer modes, the trend store and the record file.
//
// Threads: the shared timer thread runs the periodic tick; the engine thread "acq" runs
// the ten message handlers; the caller's thread runs set_run_state, set_mode and the
// setters (the UI hands the ones that wait for the instrument to the device's lane).
// The engine mutex serialises the state changes of all three, so every handler and
// every start or stop sees the state whole. The instrument I/O of a tick (the fetch)
// runs outside the engine mutex, under the I/O mutex only, and its result is merged
// under the engine mutex afterwards, into the run it was fetched for only: a slow
// instrument never holds up a data fetch, a run-state query or a stop. Notifications are
// delivered after both mutexes are released, in the order each operation produced them,
// on the thread that produced them, so the callback may call set_run_state or fetch
// data; only a tick asked for with acq_trig_msg_t notifies on the engine thread, where
// this engine's messages must not be called (the UI's callback just queues a signal).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "acq/acq_instrument.h"
#include "acq/acq_record_file.h"
#include "acq/acq_statistics.h"
#include "acq/acq_trend.h"
#include "acq/plib_acq_types.h"
#include "nsp_src/lib/thd/lib_thd_engine.h"

struct acq_main_options_t {
    // Test-only: a smaller record buffer, so full-buffer cases run fast. Production code
    // keeps the default capacity.
    std::size_t buffer_capacity = acq_record_buffer_capacity;
    // Test-only: false creates the periodic task disabled, so the test drives every tick
    // through acq_trig_msg_t (an interval change enables the task, as always).
    bool periodic_task_enabled = true;
    // Test-only: the wall clock for start and elapsed time (microseconds since the
    // epoch); empty means the system clock.
    std::function<int64_t()> clock;
};

class acq_main_t : public nsp::thd::engine_t<plib_acq_notify_t> {
public:
    static constexpr int default_interval_ms = 200;

    // `instrument` must outlive the engine.
    explicit acq_main_t(acq_instrument_t* instrument, acq_main_options_t options = {});
    ~acq_main_t();

    // 1 starts (clears the data of the last run), 0 stops; the current state does nothing.
    // A start waits for a tick whose fetch is in flight; a stop does not.
    void set_run_state(int s);
    int get_run_state() const { return m_run_state.load(); }
    // Continuous or single acquisition, on the caller's thread (as set_run_state): waits
    // for a tick whose fetch is in flight, then sends the trigger settings (and "INIT"
    // while running). The engine thread stays free for data and state queries meanwhile;
    // m_acq_mode_msg's set does the same on the engine thread.
    void set_mode(int mode);
    // Starts and mode changes waiting for a fetch in flight (diagnostics and tests).
    int commands_waiting() const { return m_commands_waiting.load(); }

    // set_notify_callback (engine_t): see the threads above.

    // A second subscriber with the same rules as the notify callback: every notification
    // as an event, in the same order. With `with_batches`, the events of acq_notify_data
    // carry the readings the tick accepted: the tick's own batch, handed over once the
    // engine's locks are released (no copy is made for it). An empty callback clears it.
    void set_event_callback(std::function<void(plib_acq_event_t)> callback, bool with_batches);

    // Called at every start, before the engine mutex is taken, to refill the record
    // information (instrument identity, function name, log path).
    void set_record_info_callback(std::function<void(plib_acq_file_record_param_t&)> callback);

    // Count, range and mean of the readings in the buffer, taken under the engine's lock
    // without copying the buffer (which may hold 100 MiB). Overloads and non-finite
    // values are counted in `count` but not in `valid`, min, max or sum.
    struct buffer_statistics_t {
        std::size_t count = 0;
        std::size_t valid = 0;
        double min = 0.0;
        double max = 0.0;
        double sum = 0.0;
    };
    buffer_statistics_t get_buffer_statistics();

private:
    // Handlers (engine thread).
    int _on_mode_set(plib_acq_mode_t mode);
    int _on_mode_get(plib_acq_mode_t& mode);
    int _on_trig();
    int _on_latest_get(plib_data_t& data);
    int _on_selected_data_list_get(plib_acq_selected_data_list_t& list);
    int _on_original_data_num_get(unsigned int& num);
    int _on_original_data_list_get(std::vector<plib_data_t>& list);
    int _on_trend_data_get(plib_trend_data_info_t& info);
    int _on_record_parameter_set(const plib_record_parameter_set_msg_t& param);
    int _on_record_run_state_info_get(plib_record_run_state_info_t& info);
    int _on_trend_timebase_set(double seconds);

    template <typename... Args>
    using args_t = nsp::thd::msg_args_t<Args...>;
    using self_t = acq_main_t;

public:
    // The ten messages, one line each: arguments, on_set handler, on_get handler.
    using acq_mode_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_acq_mode_t>, &self_t::_on_mode_set, &self_t::_on_mode_get>;
    // Runs one tick now, whatever the run state (both directions).
    using acq_trig_msg_t = nsp::thd::handler_msg_t<args_t<>, &self_t::_on_trig, &self_t::_on_trig>;
    using acq_latest_msg_t = nsp::thd::handler_msg_t<args_t<plib_data_t>, nullptr, &self_t::_on_latest_get>;
    using acq_selected_data_list_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_acq_selected_data_list_t>, nullptr,
                                &self_t::_on_selected_data_list_get>;
    using acq_original_data_num_msg_t =
        nsp::thd::handler_msg_t<args_t<unsigned int>, nullptr, &self_t::_on_original_data_num_get>;
    using acq_original_data_list_msg_t = nsp::thd::handler_msg_t<args_t<std::vector<plib_data_t>>, nullptr,
                                                                 &self_t::_on_original_data_list_get>;
    using acq_trend_data_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_trend_data_info_t>, nullptr, &self_t::_on_trend_data_get>;
    // Sets the one record parameter the message's kind selects. Returns 0, except an
    // export that could not write its file completely, which returns -1.
    using acq_record_parameter_data_msg_t =
        nsp::thd::handler_msg_t<args_t<const plib_record_parameter_set_msg_t>,
                                &self_t::_on_record_parameter_set>;
    using acq_record_run_state_info_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_record_run_state_info_t>, nullptr,
                                &self_t::_on_record_run_state_info_get>;
    // Width of the recent trend view in seconds.
    using acq_trend_timebase_set_msg_t =
        nsp::thd::handler_msg_t<args_t<const double>, &self_t::_on_trend_timebase_set>;

    // Registered in this order.
    acq_mode_msg_t m_acq_mode_msg{this};
    acq_trig_msg_t m_acq_trig_msg{this};
    acq_latest_msg_t m_acq_latest_msg{this};
    acq_selected_data_list_msg_t m_acq_selected_data_list_msg{this};
    acq_original_data_num_msg_t m_acq_original_data_num_msg{this};
    acq_original_data_list_msg_t m_acq_original_data_list_msg{this};
    acq_trend_data_msg_t m_acq_trend_data_msg{this};
    acq_record_parameter_data_msg_t m_acq_record_parameter_data_msg{this};
    acq_record_run_state_info_msg_t m_acq_record_run_state_info_msg{this};
    acq_trend_timebase_set_msg_t m_acq_trend_timebase_set_msg{this};

private:
    void _on_timer_task();
    // One tick: the fetch under m_io_mutex only, the merge under m_mutex as well.
    // `periodic`: a timer tick, which runs only while the run state is 1.
    void _run_tick(bool periodic);
    void _start_run(plib_acq_file_record_param_t& info, bool have_info);
    int64_t _now_us() const;
    // Instrument I/O only (m_io_mutex held, m_mutex not).
    void _apply_mode(int mode, int run_state);

    // Everything below runs with m_mutex held.
    void _stop(notify_list_t& notes);
    void _clear();
    void _open_logging(notify_list_t& notes);
    // And with m_io_mutex held (they use the tick's batch).
    void _reserve_record_buffer();
    std::size_t _buffered() const { return m_record_buffer.size() - m_buffer_head; }
    const plib_data_t* _buffer_begin() const { return m_record_buffer.data() + m_buffer_head; }
    // True when the batch went into the run (the record buffer and the log).
    bool _merge_batch(notify_list_t& notes);
    void _deliver_events(const notify_list_t& notes, std::shared_ptr<const plib_acq_batch_t> batch);
    void _append_to_log(notify_list_t& notes);
    bool _auto_stop_check();  // true: the run must stop
    void _capacity_check(notify_list_t& notes);
    int _set_record_parameter(const plib_record_parameter_set_msg_t& param);
    int _export(const std::string& path);

    acq_instrument_t* const m_instrument;
    const std::size_t m_buffer_capacity;
    const std::function<int64_t()> m_clock;

    // Serialises the engine's instrument I/O: whole ticks (fetch and merge), the commands
    // of a start and of a mode change. Guards m_batch. Taken before m_mutex, never while
    // m_mutex is held, so data fetches, run-state queries and stops do not wait for a
    // slow instrument.
    std::mutex m_io_mutex;
    // Starts and mode changes waiting for m_io_mutex: a periodic tick leaves its turn to
    // them, so back-to-back fetches of a slow instrument cannot starve a command.
    std::atomic<int> m_commands_waiting{0};
    std::unique_lock<std::mutex> _lock_io_for_command();
    std::vector<plib_data_t> m_batch;  // the readings of the tick in progress

    // Guards every member below: run state changes, mode, callbacks, record buffer,
    // counters, latest, parameters, record information, trend store, log state.
    mutable std::mutex m_mutex;
    std::atomic<int> m_run_state{0};  // written under m_mutex; read lock-free by get_run_state
    // Counts starts and stops: a tick merges its fetch only into the run it began in.
    uint64_t m_run_generation = 0;
    int m_acq_mode = acq_mode_continuous;
    bool m_recording = false;
    std::function<void(plib_acq_file_record_param_t&)> m_record_info_callback;
    plib_data_t m_latest{plib_no_reading_value, 0};
    // The buffer's readings are m_record_buffer[m_buffer_head, size()): a full buffer that
    // keeps the latest readings drops the oldest by moving the head, and the live
    // readings are moved to the front only when the storage's slack is used up.
    std::vector<plib_data_t> m_record_buffer;
    std::size_t m_buffer_head = 0;
    int m_buffer_mode = acq_buffer_mode_keep_latest;
    int m_record_enable = 0;
    bool m_auto_stop_enable = false;
    int m_auto_stop_mode = acq_auto_stop_by_time;
    double m_stop_time = 0.0;
    int m_stop_num = 0;
    int m_interval_ms = default_interval_ms;
    int64_t m_start_timestamp = 0;
    bool m_first_reading_pending = true;
    int64_t m_first_reading_timestamp = 0;
    double m_elapsed_s = 0.0;
    uint32_t m_total_count = 0;
    uint64_t m_dropped_count = 0;  // reply pieces of this run that were no number
    acq_statistics_t m_statistics;  // of the readings accepted since the start or clear
    plib_acq_stop_cause_t m_stop_cause = acq_stop_none;
    plib_acq_file_record_param_t m_file_record_param;
    // The run's log file as created (its name may differ from the record path's), and
    // the readings that reached it.
    std::string m_log_path;
    plib_log_file_id_t m_log_id;
    uint64_t m_logged_count = 0;
    bool m_log_renamed = false;
    acq_trend_t m_trend;
    acq_record_line_formatter_t m_line_formatter;

    // The event subscriber (its own locks); m_batches_wanted: hand batches over.
    nsp::thd::notifier_t<plib_acq_event_t> m_event_notifier;
    std::atomic<bool> m_batches_wanted{false};
    std::string m_log_text;  // one tick's reading lines, reused between ticks
};

// The message types under their own names.
using acq_mode_msg_t = acq_main_t::acq_mode_msg_t;
using acq_trig_msg_t = acq_main_t::acq_trig_msg_t;
using acq_latest_msg_t = acq_main_t::acq_latest_msg_t;
using acq_selected_data_list_msg_t = acq_main_t::acq_selected_data_list_msg_t;
using acq_original_data_num_msg_t = acq_main_t::acq_original_data_num_msg_t;
using acq_original_data_list_msg_t = acq_main_t::acq_original_data_list_msg_t;
using acq_trend_data_msg_t = acq_main_t::acq_trend_data_msg_t;
using acq_record_parameter_data_msg_t = acq_main_t::acq_record_parameter_data_msg_t;
using acq_record_run_state_info_msg_t = acq_main_t::acq_record_run_state_info_msg_t;
using acq_trend_timebase_set_msg_t = acq_main_t::acq_trend_timebase_set_msg_t;
