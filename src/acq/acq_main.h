// Acquisition engine of one instrument: continuous and single acquisition, the record
// buffer with automatic stop and buffer modes, the trend store and the record file.
//
// Threads: the shared timer thread runs the periodic tick; the engine thread "acq" runs
// the ten message handlers; the caller's (UI) thread runs set_run_state and the setters.
// One engine mutex serialises all three, so the tick, every handler and every start or
// stop see the state whole. Notifications are delivered after that mutex is released,
// in the order each operation produced them, on the thread that produced them, so the
// callback may call set_run_state or fetch data; only a tick asked for with
// acq_trig_msg_t notifies on the engine thread, where this engine's messages must not
// be called (the UI's callback just queues a signal).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acq/acq_instrument.h"
#include "acq/acq_record_file.h"
#include "acq/acq_trend.h"
#include "acq/plib_acq_types.h"
#include "nsp_src/lib/thd/lib_thd_msg.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"

class acq_main_t;

struct acq_msg_base_t {
    acq_main_t* owner = nullptr;
};

class acq_mode_msg_t : public nsp::thd::msg_t<plib_acq_mode_t>, public acq_msg_base_t {
protected:
    int on_set(plib_acq_mode_t& mode) override;
    int on_get(plib_acq_mode_t& mode) override;
};

// Runs one tick now, whatever the run state (both directions).
class acq_trig_msg_t : public nsp::thd::msg_t<>, public acq_msg_base_t {
protected:
    int on_set() override;
    int on_get() override;
};

class acq_latest_msg_t : public nsp::thd::msg_t<plib_data_t>, public acq_msg_base_t {
protected:
    int on_get(plib_data_t& data) override;
};

class acq_selected_data_list_msg_t : public nsp::thd::msg_t<plib_acq_selected_data_list_t>,
                                     public acq_msg_base_t {
protected:
    int on_get(plib_acq_selected_data_list_t& list) override;
};

class acq_original_data_num_msg_t : public nsp::thd::msg_t<unsigned int>, public acq_msg_base_t {
protected:
    int on_get(unsigned int& num) override;
};

class acq_original_data_list_msg_t : public nsp::thd::msg_t<std::vector<plib_data_t>>, public acq_msg_base_t {
protected:
    int on_get(std::vector<plib_data_t>& list) override;
};

class acq_trend_data_msg_t : public nsp::thd::msg_t<plib_trend_data_info_t>, public acq_msg_base_t {
protected:
    int on_get(plib_trend_data_info_t& info) override;
};

// Sets the one record parameter the message's kind selects. Returns 0, except an export
// that could not write its file completely, which returns -1.
class acq_record_parameter_data_msg_t : public nsp::thd::msg_t<const plib_record_parameter_set_msg_t>,
                                        public acq_msg_base_t {
protected:
    int on_set(const plib_record_parameter_set_msg_t& param) override;
};

class acq_record_run_state_info_msg_t : public nsp::thd::msg_t<plib_record_run_state_info_t>,
                                        public acq_msg_base_t {
protected:
    int on_get(plib_record_run_state_info_t& info) override;
};

// Width of the recent trend view in seconds.
class acq_trend_timebase_set_msg_t : public nsp::thd::msg_t<const double>, public acq_msg_base_t {
protected:
    int on_set(const double& seconds) override;
};

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

class acq_main_t {
public:
    static constexpr int default_interval_ms = 200;

    // `instrument` must outlive the engine.
    explicit acq_main_t(acq_instrument_t* instrument, acq_main_options_t options = {});
    ~acq_main_t();

    acq_main_t(const acq_main_t&) = delete;
    acq_main_t& operator=(const acq_main_t&) = delete;

    // 1 starts (clears the data of the last run), 0 stops; the current state does nothing.
    void set_run_state(int s);
    int get_run_state() const { return m_run_state.load(); }

    void set_notify_callback(std::function<void(plib_acq_notify_t)> callback);
    // Called at every start, before the engine mutex is taken, to refill the record
    // information (instrument identity, function name, log path).
    void set_record_info_callback(std::function<void(plib_acq_file_record_param_t&)> callback);

    // The ten messages, registered in this order.
    acq_mode_msg_t m_acq_mode_msg;
    acq_trig_msg_t m_acq_trig_msg;
    acq_latest_msg_t m_acq_latest_msg;
    acq_selected_data_list_msg_t m_acq_selected_data_list_msg;
    acq_original_data_num_msg_t m_acq_original_data_num_msg;
    acq_original_data_list_msg_t m_acq_original_data_list_msg;
    acq_trend_data_msg_t m_acq_trend_data_msg;
    acq_record_parameter_data_msg_t m_acq_record_parameter_data_msg;
    acq_record_run_state_info_msg_t m_acq_record_run_state_info_msg;
    acq_trend_timebase_set_msg_t m_acq_trend_timebase_set_msg;

private:
    friend class acq_mode_msg_t;
    friend class acq_trig_msg_t;
    friend class acq_latest_msg_t;
    friend class acq_selected_data_list_msg_t;
    friend class acq_original_data_num_msg_t;
    friend class acq_original_data_list_msg_t;
    friend class acq_trend_data_msg_t;
    friend class acq_record_parameter_data_msg_t;
    friend class acq_record_run_state_info_msg_t;
    friend class acq_trend_timebase_set_msg_t;

    // Notifications of one operation, delivered in order once the engine mutex is released.
    struct notify_list_t {
        plib_acq_notify_t items[8];
        int count = 0;
        void push(plib_acq_notify_t n) {
            if (count < 8) items[count++] = n;
        }
    };
    using notify_callback_t = std::function<void(plib_acq_notify_t)>;

    void _start_thread();
    void _on_timer_task();
    void _deliver(const notify_callback_t& callback, const notify_list_t& list);
    int64_t _now_us() const;

    // Everything below runs with m_mutex held.
    void _start(plib_acq_file_record_param_t& info, notify_list_t& notes);
    void _stop(notify_list_t& notes);
    void _tick(notify_list_t& notes);
    void _clear();
    void _apply_mode(int run_state);
    void _open_logging(notify_list_t& notes);
    void _append_to_log(notify_list_t& notes);
    bool _auto_stop_check();  // true: the run must stop
    void _capacity_check(notify_list_t& notes);
    int _set_record_parameter(const plib_record_parameter_set_msg_t& param);
    int _export(const std::string& path);

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

    acq_instrument_t* const m_instrument;
    const std::size_t m_buffer_capacity;
    const std::function<int64_t()> m_clock;
    int m_task_id = -1;

    // Guards every member below: run state changes, mode, callbacks, batch, record
    // buffer, counters, latest, parameters, record information, trend store, log state.
    mutable std::mutex m_mutex;
    std::atomic<int> m_run_state{0};  // written under m_mutex; read lock-free by get_run_state
    int m_acq_mode = acq_mode_continuous;
    bool m_recording = false;
    notify_callback_t m_notify_callback;
    std::function<void(plib_acq_file_record_param_t&)> m_record_info_callback;
    plib_data_t m_latest{plib_no_reading_value, 0};
    std::vector<plib_data_t> m_batch;
    std::vector<plib_data_t> m_record_buffer;
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
    plib_acq_file_record_param_t m_file_record_param;
    acq_trend_t m_trend;
    acq_record_line_formatter_t m_line_formatter;
    std::string m_log_text;  // one tick's reading lines, reused between ticks

    nsp::thd::msg_manager_t m_msg_manager;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
};
