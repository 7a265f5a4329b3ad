// Scan engine of one instrument: scanner-card runs with start and stop conditions,
// per-channel scaling, latest readings, stored readings, running statistics and logging.
//
// Threads: the shared timer thread runs the periodic tick; the engine thread "scan" runs
// the six message handlers; the caller's (UI) thread runs set_run_state. The engine
// mutex serialises the state changes of all three, so every handler and every start or
// stop sees the state whole. The instrument I/O (the fetch of a tick, the start and stop
// commands, the flush of a start) runs outside the engine mutex, under the I/O mutex
// only; a tick merges its fetch under the engine mutex afterwards, into the run it was
// fetched for only. So a slow instrument never holds up a data fetch or a run-state
// query, and a stop changes the run state at once (it then waits for the I/O in flight
// to send "ROUT:STAR 0", which must reach the instrument before the caller's next
// command). Notifications are delivered after both mutexes are released, in the order
// the operation produced them, on the thread that produced them; only a tick asked for
// with scan_trig_msg_t notifies on the engine thread, where this engine's messages must
// not be called (the UI's callback just queues a signal).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nsp_src/lib/thd/lib_thd_engine.h"
#include "scan/plib_scan_types.h"
#include "scan/scan_instrument.h"
#include "scan/scan_record_file.h"

struct scan_main_options_t {
    // Test-only: false creates the periodic task disabled, so the test drives every tick
    // through scan_trig_msg_t (a poll-interval change enables the task, as always).
    bool periodic_task_enabled = true;
    // Test-only: the wall clock (microseconds since the epoch); empty means the system clock.
    std::function<uint64_t()> clock;
    // Test-only: the local-time stamp of file names and headers, called with the
    // separator (":" or "'"); empty means the local clock.
    std::function<std::string(const std::string&)> stamp;
};

using plib_scan_notify_callback_t = std::function<void(plib_scan_notify_t)>;
using plib_scan_record_info_callback_t =
    std::function<void(plib_scanner_channel_map_t&, plib_scan_file_record_param_t&)>;

class scan_main_t : public nsp::thd::engine_t<plib_scan_notify_t> {
public:
    static constexpr int default_poll_interval_ms = 200;

    // `instrument` must outlive the engine.
    explicit scan_main_t(scan_instrument_t* instrument, scan_main_options_t options = {});
    ~scan_main_t();

    // 1 starts (clears the data of the last run; the next tick checks the start
    // condition), 0 stops; a request equal to the current state does nothing.
    void set_run_state(int state);
    int get_run_state() const { return m_run_state.load(); }

    // set_notify_callback (engine_t): see the threads above.

    // A second subscriber with the same rules as the notify callback: every notification
    // as an event, in the same order. With `with_batches`, the events of scan_notify_data
    // carry the readings the tick stored: the tick's own batch, handed over once the
    // engine's locks are released (no copy is made for it). An empty callback clears it.
    void set_event_callback(std::function<void(plib_scan_event_t)> callback, bool with_batches);

    // Called at every start, before the engine mutex is taken, to refill the channel
    // parameters and the logging information.
    void set_record_info_callback(plib_scan_record_info_callback_t callback);

    // Number of channels the instrument reports (16).
    int channel_count() const { return m_channel_count; }

private:
    // Handlers (engine thread).
    int _on_trig();
    int _on_latest_get(plib_scan_latest_map_t& data);
    int _on_original_get(plib_scan_data_map_t& data);
    int _on_new_data_get(plib_scan_new_data_t& data);
    int _on_statistic_get(plib_scan_statistic_map_t& data);
    int _on_run_state_info_get(plib_scan_run_state_t& info);
    int _on_record_parameter_set(const plib_scan_record_parameter_set_t& param);

    template <typename... Args>
    using args_t = nsp::thd::msg_args_t<Args...>;
    using self_t = scan_main_t;

public:
    // The messages, one line each: arguments, on_set handler, on_get handler.
    // Runs one tick now, whatever the run state (both directions).
    using scan_trig_msg_t = nsp::thd::handler_msg_t<args_t<>, &self_t::_on_trig, &self_t::_on_trig>;
    using scan_latest_data_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_scan_latest_map_t>, nullptr, &self_t::_on_latest_get>;
    using scan_original_data_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_scan_data_map_t>, nullptr, &self_t::_on_original_get>;
    // Only the readings a caller has not seen yet, per channel (plib_scan_new_data_t),
    // so following a long run costs the new readings, not every stored one.
    using scan_new_data_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_scan_new_data_t>, nullptr, &self_t::_on_new_data_get>;
    using scan_statistic_data_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_scan_statistic_map_t>, nullptr, &self_t::_on_statistic_get>;
    using scan_run_state_info_msg_t =
        nsp::thd::handler_msg_t<args_t<plib_scan_run_state_t>, nullptr, &self_t::_on_run_state_info_get>;
    // Applies one parameter. Returns 0, except an export that could not write its files,
    // which returns -1.
    using scan_record_parameter_set_msg_t =
        nsp::thd::handler_msg_t<args_t<const plib_scan_record_parameter_set_t>,
                                &self_t::_on_record_parameter_set>;

    // Registered in this order.
    scan_trig_msg_t m_scan_trig_msg{this};
    scan_latest_data_msg_t m_scan_latest_data_msg{this};
    scan_original_data_msg_t m_scan_original_data_msg{this};
    scan_statistic_data_msg_t m_scan_statistic_data_msg{this};
    scan_run_state_info_msg_t m_scan_run_state_info_msg{this};
    scan_record_parameter_set_msg_t m_scan_record_parameter_set_msg{this};
    scan_new_data_msg_t m_scan_new_data_msg{this};

private:
    void _on_timer_task();
    // One tick: the I/O under m_io_mutex only, the merge under m_mutex as well.
    // `periodic`: a timer tick, which runs only while the run state is 1.
    void _run_tick(bool periodic);
    void _start_run(plib_scanner_channel_map_t* params, plib_scan_file_record_param_t* info,
                    notify_list_t& notes);
    // Sends "ROUT:STAR 0" if a stop asked for it and nobody sent it yet (m_io_mutex held,
    // m_mutex not): every I/O section begins and every stop ends with it, so the command
    // goes out before any later command of this engine.
    void _send_pending_stop();
    uint64_t _now_us() const;
    std::string _stamp(const std::string& separator) const;

    // Everything below runs with m_mutex held.
    void _stop(notify_list_t& notes);
    void _clear_memory_data();
    // 1: logging; 0: no logging (nothing to log, no such directory); -1: a file could
    // not be written.
    int _open_record_files();
    int _apply_parameter(const plib_scan_record_parameter_set_t& param);
    int export_scan_record_memory_data(const std::string& directory);
    // And with m_io_mutex held (they use the tick's batch).
    void _merge_batch(notify_list_t& notes);
    // Both subscribers, in order; `batch` goes with scan_notify_data. No lock held.
    void _deliver_all(const notify_list_t& notes, std::shared_ptr<const plib_scan_batch_t> batch);
    bool _check_stop_condition();  // true: the run stops after this tick's batch
    void _apply_scaling();
    void _limit_stored_readings();
    void _update_latest_and_store();
    void _update_statistics();
    void _count_readings();
    bool _write_record();

    scan_instrument_t* const m_instrument;
    const std::function<uint64_t()> m_clock;
    const std::function<std::string(const std::string&)> m_stamp_fn;
    int m_channel_count = 16;

    // Serialises the engine's instrument I/O: whole ticks (fetch and merge), the flush of
    // a start, the start and stop commands. Guards m_batch. Taken before m_mutex, never
    // while m_mutex is held.
    std::mutex m_io_mutex;
    plib_scan_data_map_t m_batch;  // the readings of the tick in progress

    // Guards every member below.
    mutable std::mutex m_mutex;
    std::atomic<int> m_run_state{0};  // written under m_mutex; read lock-free by the timer task
    // Counts starts and stops: a tick merges its fetch only into the run it began in.
    uint64_t m_run_generation = 0;
    bool m_stop_command_pending = false;  // a stop's "ROUT:STAR 0" is still to be sent
    bool m_recording = false;
    plib_scan_record_info_callback_t m_record_info_callback;
    bool m_waiting_start = false;
    plib_scan_latest_map_t m_latest;
    // A deque per channel: at the limit each tick drops its oldest readings cheaply.
    std::map<int, std::deque<plib_data_t>> m_stored;
    // Per channel, readings stored since the last clear (dropped ones included): the
    // index the next reading gets (plib_scan_channel_tail_t).
    std::map<int, uint64_t> m_stored_end;
    uint64_t m_memory_id = 1;  // bumped at every clear of the stored readings
    plib_scan_statistic_map_t m_statistics;
    plib_scanner_channel_map_t m_channel_params;
    double m_elapsed_s = 0.0;
    uint32_t m_readings_count = 0;
    uint64_t m_readings_logged = 0;
    bool m_opened_files = false;     // this run created log files (listed by the run state)  // readings of this run that reached its log files
    std::map<int, plib_log_file_id_t> m_channel_file_ids;  // the per-channel files as created
    uint32_t m_poll_interval_ms = default_poll_interval_ms;
    plib_scan_file_record_param_t m_file_record_param;
    std::unique_ptr<scan_csv_table_file_t> m_single_file;  // table state of the single log file
    int m_record_enable = 0;
    int m_file_mode = 0;
    int m_start_mode = 0;
    int m_stop_mode = 0;
    uint64_t m_start_time = 0;
    uint64_t m_stop_timestamp = 0;
    uint64_t m_start_timestamp = 0;
    double m_stop_duration = 0.0;
    int m_stop_scan_count = 0;
    int m_sweep_readings = 0;

    // The event subscriber (its own locks); m_batches_wanted: hand batches over.
    nsp::thd::notifier_t<plib_scan_event_t> m_event_notifier;
    std::atomic<bool> m_batches_wanted{false};
};

// The message types under their own names.
using scan_trig_msg_t = scan_main_t::scan_trig_msg_t;
using scan_latest_data_msg_t = scan_main_t::scan_latest_data_msg_t;
using scan_original_data_msg_t = scan_main_t::scan_original_data_msg_t;
using scan_statistic_data_msg_t = scan_main_t::scan_statistic_data_msg_t;
using scan_run_state_info_msg_t = scan_main_t::scan_run_state_info_msg_t;
using scan_record_parameter_set_msg_t = scan_main_t::scan_record_parameter_set_msg_t;
using scan_new_data_msg_t = scan_main_t::scan_new_data_msg_t;
