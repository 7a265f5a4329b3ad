// Scan engine of one instrument: scanner-card runs with start and stop conditions,
// per-channel scaling, latest readings, stored readings, running statistics and logging.
//
// Threads: the shared timer thread runs the periodic tick; the engine thread "scan" runs
// the six message handlers; the caller's (UI) thread runs set_run_state. One engine
// mutex serialises all three, so the tick, every handler and every start or stop see the
// state whole. Notifications are delivered after that mutex is released, in the order
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
#include <thread>
#include <vector>

#include "nsp_src/lib/thd/lib_thd_msg.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"
#include "scan/plib_scan_types.h"
#include "scan/scan_instrument.h"
#include "scan/scan_record_file.h"

class scan_main_t;

struct scan_msg_base_t {
    scan_main_t* owner = nullptr;
};

// Runs one tick now, whatever the run state (both directions).
class scan_trig_msg_t : public nsp::thd::msg_t<>, public scan_msg_base_t {
protected:
    int on_set() override;
    int on_get() override;
};

class scan_latest_data_msg_t : public nsp::thd::msg_t<plib_scan_latest_map_t>, public scan_msg_base_t {
protected:
    int on_get(plib_scan_latest_map_t& data) override;
};

class scan_original_data_msg_t : public nsp::thd::msg_t<plib_scan_data_map_t>, public scan_msg_base_t {
protected:
    int on_get(plib_scan_data_map_t& data) override;
};

class scan_statistic_data_msg_t : public nsp::thd::msg_t<plib_scan_statistic_map_t>, public scan_msg_base_t {
protected:
    int on_get(plib_scan_statistic_map_t& data) override;
};

class scan_run_state_info_msg_t : public nsp::thd::msg_t<plib_scan_run_state_t>, public scan_msg_base_t {
protected:
    int on_get(plib_scan_run_state_t& info) override;
};

// Applies one parameter. Returns 0, except an export that could not write its files,
// which returns -1.
class scan_record_parameter_set_msg_t : public nsp::thd::msg_t<const plib_scan_record_parameter_set_t>,
                                        public scan_msg_base_t {
protected:
    int on_set(const plib_scan_record_parameter_set_t& param) override;
};

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

class scan_main_t {
public:
    static constexpr int default_poll_interval_ms = 200;

    // `instrument` must outlive the engine.
    explicit scan_main_t(scan_instrument_t* instrument, scan_main_options_t options = {});
    ~scan_main_t();

    scan_main_t(const scan_main_t&) = delete;
    scan_main_t& operator=(const scan_main_t&) = delete;

    // 1 starts (clears the data of the last run; the next tick checks the start
    // condition), 0 stops; a request equal to the current state does nothing.
    void set_run_state(int state);
    int get_run_state() const { return m_run_state.load(); }

    void set_notify_callback(plib_scan_notify_callback_t callback);
    // Called at every start, before the engine mutex is taken, to refill the channel
    // parameters and the logging information.
    void set_record_info_callback(plib_scan_record_info_callback_t callback);

    // Number of channels the instrument reports (16).
    int channel_count() const { return m_channel_count; }

    // The six messages, registered in this order.
    scan_trig_msg_t m_scan_trig_msg;
    scan_latest_data_msg_t m_scan_latest_data_msg;
    scan_original_data_msg_t m_scan_original_data_msg;
    scan_statistic_data_msg_t m_scan_statistic_data_msg;
    scan_run_state_info_msg_t m_scan_run_state_info_msg;
    scan_record_parameter_set_msg_t m_scan_record_parameter_set_msg;

private:
    friend class scan_trig_msg_t;
    friend class scan_latest_data_msg_t;
    friend class scan_original_data_msg_t;
    friend class scan_statistic_data_msg_t;
    friend class scan_run_state_info_msg_t;
    friend class scan_record_parameter_set_msg_t;

    // Notifications of one operation, delivered in order once the engine mutex is released.
    struct notify_list_t {
        plib_scan_notify_t items[8];
        int count = 0;
        void push(plib_scan_notify_t n) {
            if (count < 8) items[count++] = n;
        }
    };

    void _create_timer_task(bool enabled);
    void _start_thread();
    void _on_timer_task();
    void _deliver(const plib_scan_notify_callback_t& callback, const notify_list_t& list);
    uint64_t _now_us() const;
    std::string _stamp(const std::string& separator) const;

    // Everything below runs with m_mutex held.
    void _start(plib_scanner_channel_map_t* params, plib_scan_file_record_param_t* info);
    void _stop(notify_list_t& notes);
    void _scan_tick(notify_list_t& notes);
    void _check_start_condition(notify_list_t& notes);
    bool _check_stop_condition(notify_list_t& notes);  // true: the tick's batch is dropped
    void _clear_memory_data();
    void _flush_instrument_data();
    void _apply_scaling();
    void _limit_stored_readings();
    void _update_latest_and_store();
    void _update_statistics();
    void _count_readings();
    bool _open_record_files();
    bool _write_record();
    int _apply_parameter(const plib_scan_record_parameter_set_t& param);
    int export_scan_record_memory_data(const std::string& directory);

    // Handlers (engine thread).
    int _on_trig();
    int _on_latest_get(plib_scan_latest_map_t& data);
    int _on_original_get(plib_scan_data_map_t& data);
    int _on_statistic_get(plib_scan_statistic_map_t& data);
    int _on_run_state_info_get(plib_scan_run_state_t& info);
    int _on_record_parameter_set(const plib_scan_record_parameter_set_t& param);

    scan_instrument_t* const m_instrument;
    const std::function<uint64_t()> m_clock;
    const std::function<std::string(const std::string&)> m_stamp_fn;
    int m_channel_count = 16;
    int m_task_id = -1;

    // Guards every member below.
    mutable std::mutex m_mutex;
    std::atomic<int> m_run_state{0};  // written under m_mutex; read lock-free by the timer task
    bool m_recording = false;
    plib_scan_notify_callback_t m_notify_callback;
    plib_scan_record_info_callback_t m_record_info_callback;
    bool m_waiting_start = false;
    plib_scan_latest_map_t m_latest;
    plib_scan_data_map_t m_batch;
    // A deque per channel: at the limit each tick drops its oldest readings cheaply.
    std::map<int, std::deque<plib_data_t>> m_stored;
    plib_scan_statistic_map_t m_statistics;
    plib_scanner_channel_map_t m_channel_params;
    double m_elapsed_s = 0.0;
    uint32_t m_readings_count = 0;
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

    nsp::thd::msg_manager_t m_msg_manager;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
};
