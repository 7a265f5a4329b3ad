#include "acq/acq_main.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "common/plib_format.h"
#include "common/plib_log.h"
#include "nsp_src/lib/lib_assert.h"

namespace {
constexpr unsigned dispatch_timeout_ms = 100;
const char* const thread_name = "acq";
}  // namespace

// ---------------------------------------------------------------------------------------
// Life cycle

acq_main_t::acq_main_t(acq_instrument_t* instrument, acq_main_options_t options)
    : nsp::thd::engine_t<plib_acq_notify_t>(thread_name, dispatch_timeout_ms),
      m_instrument(instrument),
      m_buffer_capacity(options.buffer_capacity),
      m_clock(std::move(options.clock)) {
    NSP_ASSERT(m_instrument != nullptr);
    NSP_ASSERT(m_buffer_capacity > 0);
    _create_timer_task([this] { _on_timer_task(); }, m_interval_ms, options.periodic_task_enabled);
    _start_thread();
}

acq_main_t::~acq_main_t() { _stop_engine(); }

int64_t acq_main_t::_now_us() const { return m_clock ? m_clock() : static_cast<int64_t>(now_us()); }

// ---------------------------------------------------------------------------------------
// Direct operations (caller's thread)

void acq_main_t::set_run_state(int s) {
    // The record information is gathered before the mutex is taken: the callback is the
    // configuration's code and must not run inside the engine's critical section.
    plib_acq_file_record_param_t info;
    bool have_info = false;
    if (s == 1 && m_run_state.load() != 1) {
        std::function<void(plib_acq_file_record_param_t&)> info_callback;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            info_callback = m_record_info_callback;
        }
        if (info_callback) {
            info_callback(info);
            have_info = true;
        }
    }
    if (s == 1) {
        _start_run(info, have_info);
        return;
    }
    if (s != 0) return;
    notify_list_t notes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_run_state.load() == 0) return;
        _stop(notes);
        m_stop_cause = acq_stop_requested;
    }
    _deliver(notes);
    _deliver_events(notes, nullptr);
}

void acq_main_t::set_event_callback(std::function<void(plib_acq_event_t)> callback, bool with_batches) {
    m_batches_wanted.store(callback && with_batches);
    m_event_notifier.set(std::move(callback));
}

void acq_main_t::_deliver_events(const notify_list_t& notes, std::shared_ptr<const plib_acq_batch_t> batch) {
    for (int i = 0; i < notes.count; ++i) {
        plib_acq_event_t event;
        event.kind = notes.items[i];
        if (event.kind == acq_notify_data) event.batch = batch;
        if (!m_event_notifier.notify(std::move(event))) return;
    }
}

void acq_main_t::set_record_info_callback(std::function<void(plib_acq_file_record_param_t&)> callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_record_info_callback = std::move(callback);
}

void acq_main_t::_on_timer_task() {
    if (m_run_state.load() != 1) return;  // idle instruments cost no lock per timer period
    _run_tick(true);
}

void acq_main_t::_run_tick(bool periodic) {
    notify_list_t notes;
    std::shared_ptr<plib_acq_batch_t> handed_over;
    {
        // A start or mode change waiting gets the instrument before the next fetch.
        if (periodic && m_commands_waiting.load() > 0) return;
        std::lock_guard<std::mutex> io_lock(m_io_mutex);
        if (periodic && m_commands_waiting.load() > 0) return;  // one came while this tick waited
        uint64_t generation = 0;
        int mode = acq_mode_continuous;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (periodic && m_run_state.load() != 1) return;
            m_elapsed_s = static_cast<double>(_now_us() - m_start_timestamp) / 1e6;
            generation = m_run_generation;
            mode = m_acq_mode;
        }
        m_instrument->read_measure_data(m_batch);
        const uint64_t dropped = m_instrument->take_dropped_readings();
        if (mode == acq_mode_single && !m_batch.empty()) m_instrument->init();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // A run stopped or restarted while the fetch was in flight gets none of it.
            if (generation == m_run_generation) {
                if (m_run_state.load() == 1 && dropped > 0) {
                    m_dropped_count += dropped;
                    notes.push(acq_notify_pieces_dropped);
                }
                const bool merged = _merge_batch(notes);
                if (merged && !m_batch.empty() && m_batches_wanted.load()) {
                    // The batch itself goes to the listeners; the next fetch starts a new one.
                    handed_over = std::make_shared<plib_acq_batch_t>();
                    handed_over->run_id = generation;
                    handed_over->readings.swap(m_batch);
                }
            }
        }
        m_batch.clear();
    }
    _deliver(notes);
    _deliver_events(notes, std::move(handed_over));
}

void acq_main_t::_start_run(plib_acq_file_record_param_t& info, bool have_info) {
    notify_list_t notes;
    {
        // Starts are serialised with ticks and with each other by the I/O mutex; a stop
        // cannot start a run, so the state checked here holds until the commands are sent.
        const std::unique_lock<std::mutex> io_lock = _lock_io_for_command();
        int mode = acq_mode_continuous;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_run_state.load() == 1) return;
            mode = m_acq_mode;
        }
        _apply_mode(mode, 1);
        std::lock_guard<std::mutex> lock(m_mutex);
        _clear();
        if (have_info) m_file_record_param = std::move(info);  // no callback: keep the last information
        m_start_timestamp = _now_us();
        m_stop_cause = acq_stop_none;
        m_run_state.store(1);
        ++m_run_generation;
        _open_logging(notes);
        notes.push(acq_notify_start);
    }
    _deliver(notes);
    _deliver_events(notes, nullptr);
}

// ---------------------------------------------------------------------------------------
// Run control (m_mutex held)

void acq_main_t::_clear() {
    std::vector<plib_data_t>().swap(m_record_buffer);  // releases the storage, up to 100 MiB
    m_buffer_head = 0;
    m_elapsed_s = 0.0;
    m_total_count = 0;
    m_dropped_count = 0;
    m_statistics.reset();
    m_trend.reset();
    m_first_reading_pending = true;
}

void acq_main_t::_apply_mode(int mode, int run_state) {
    if (mode == acq_mode_single) {
        m_instrument->set_trig_count(1);
        m_instrument->set_sample_count(1);
    } else {
        m_instrument->set_trig_count_inf();
    }
    if (run_state == 1) m_instrument->init();
}

void acq_main_t::_stop(notify_list_t& notes) {
    m_run_state.store(0);
    ++m_run_generation;
    m_recording = false;
    notes.push(acq_notify_stop);
}

void acq_main_t::_open_logging(notify_list_t& notes) {
    m_recording = false;
    m_logged_count = 0;
    m_log_id = plib_log_file_id_t{};
    m_log_path.clear();
    m_log_renamed = false;
    if (m_record_enable != 1) return;
    if (m_run_state.load() != 1 || m_file_record_param.record_path.empty()) return;
    const std::string header = acq_record_header(m_file_record_param, m_interval_ms, format_local_time(":"));
    plib_log_create_t created;
    const acq_file_result_t r = acq_create_log_file(m_file_record_param.record_path, header, created);
    if (r == acq_file_result_t::ok) {
        m_recording = true;
        m_log_id = created.id;
        m_log_path = created.path;
        m_log_renamed = created.renamed();
        if (created.renamed())
            plib_log("acq_main_t: \"" + created.requested + "\" is taken; logging to \"" + created.path + "\"");
        return;
    }
    // No such directory means no log for this run, as an empty one does; whatever else
    // kept the file from being made (a read-only directory, a name the file system
    // refuses, a full disk) is a failure the user must hear of.
    if (created.error == ENOENT) return;
    plib_log("acq_main_t: cannot create the record file \"" + created.requested + "\": " +
             std::strerror(created.error));
    notes.push(acq_notify_record_write_failed);
}

void acq_main_t::_append_to_log(notify_list_t& notes) {
    if (m_batch.empty()) return;
    m_log_text.clear();
    m_line_formatter.append_lines(m_log_text, m_batch.data(), m_batch.size());
    if (acq_append_to_file(m_log_path, m_log_id, m_log_text) != acq_file_result_t::ok) {
        // A disk that is full or a directory that is gone will not heal within the run:
        // stop logging and say so, rather than retry silently every tick.
        m_recording = false;
        notes.push(acq_notify_record_write_failed);
        return;
    }
    m_logged_count += m_batch.size();
}

bool acq_main_t::_auto_stop_check() {
    if (!m_auto_stop_enable) return false;
    if (m_auto_stop_mode == acq_auto_stop_by_time) {
        // "R?" has already removed this tick's readings from the instrument: the stopping
        // tick keeps them, as the count stop keeps the readings up to its limit.
        return m_elapsed_s >= m_stop_time;
    }
    if (m_auto_stop_mode != acq_auto_stop_by_count) return false;
    const long long t = m_total_count;
    const long long n = static_cast<long long>(m_batch.size());
    const long long limit = m_stop_num;
    if (t > limit) {
        m_batch.clear();
        return true;
    }
    if (limit <= t + n) {
        m_batch.resize(static_cast<std::size_t>(limit - t));
        return true;
    }
    return false;
}

void acq_main_t::_capacity_check(notify_list_t& notes) {
    const std::size_t s = _buffered();
    const std::size_t n = m_batch.size();
    const std::size_t cap = m_buffer_capacity;
    if (s + n <= cap) return;
    if (m_buffer_mode == acq_buffer_mode_keep_latest) {
        const std::size_t excess = s + n - cap;  // n - free, with free = cap - s
        if (excess < s) {
            m_buffer_head += excess;  // O(1): the storage is compacted only when its slack runs out
        } else {
            m_record_buffer.clear();
            m_buffer_head = 0;
            m_batch.erase(m_batch.begin(), m_batch.end() - static_cast<std::ptrdiff_t>(cap));
        }
        return;
    }
    m_batch.clear();
    notes.push(acq_notify_buffer_full);
    if (m_run_state.load() == 1) {
        _stop(notes);
        m_stop_cause = acq_stop_buffer_full;
    }
}

void acq_main_t::_reserve_record_buffer() {
    // The whole capacity at once: the storage is only address space until readings are
    // written into it, and the buffer never moves, so a long run copies nothing and
    // returns no memory to the system while it grows (growing by doubling copied the
    // readings about twice over and faulted every page in again each time).
    // An eighth more than the capacity: a full buffer that keeps the latest readings moves
    // its readings to the front once per eighth of a buffer, not at every tick.
    const std::size_t slack = std::max<std::size_t>(m_buffer_capacity / 8, 1);
    m_record_buffer.reserve(std::max(m_buffer_capacity + slack, m_record_buffer.size() + m_batch.size()));
    // Large pages where the system offers them on request: one fault per 2 MiB of readings.
    const std::size_t bytes = m_record_buffer.capacity() * sizeof(plib_data_t);
    const std::uintptr_t huge = std::uintptr_t(2) << 20;
    const std::uintptr_t begin =
        (reinterpret_cast<std::uintptr_t>(m_record_buffer.data()) + huge - 1) & ~(huge - 1);
    const std::uintptr_t end =
        (reinterpret_cast<std::uintptr_t>(m_record_buffer.data()) + bytes) & ~(huge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // a hint only
}

bool acq_main_t::_merge_batch(notify_list_t& notes) {
    if (m_run_state.load() != 1) return false;
    // An automatic stop keeps the log open until this tick's accepted readings are
    // written: the log holds exactly what the buffer accepted.
    bool close_log_after_tick = false;
    if (_auto_stop_check()) {
        const bool recording = m_recording;
        _stop(notes);
        m_stop_cause = m_auto_stop_mode == acq_auto_stop_by_time ? acq_stop_by_time : acq_stop_by_count;
        m_recording = recording;
        close_log_after_tick = true;
    }
    _capacity_check(notes);

    if (!m_batch.empty()) {
        m_latest = m_batch.back();
        if (m_record_buffer.capacity() < m_record_buffer.size() + m_batch.size() && m_buffer_head > 0) {
            m_record_buffer.erase(m_record_buffer.begin(),
                                  m_record_buffer.begin() + static_cast<std::ptrdiff_t>(m_buffer_head));
            m_buffer_head = 0;
        }
        if (m_record_buffer.capacity() < m_record_buffer.size() + m_batch.size()) _reserve_record_buffer();
        m_record_buffer.insert(m_record_buffer.end(), m_batch.begin(), m_batch.end());
        if (m_first_reading_pending) {
            m_first_reading_timestamp = _buffer_begin()->timestamp;
            m_first_reading_pending = false;
        }
    }
    m_total_count += static_cast<uint32_t>(m_batch.size());
    m_statistics.add(m_batch.data(), m_batch.size());
    if (!m_batch.empty()) {
        m_trend.set_sample_period(static_cast<double>(m_interval_ms) * 1000.0 /
                                  static_cast<double>(m_batch.size()));
    }
    m_trend.push_batch(m_batch);
    if (m_recording) _append_to_log(notes);
    if (close_log_after_tick) m_recording = false;
    notes.push(acq_notify_data);
    return true;
}

// ---------------------------------------------------------------------------------------
// Message handlers (engine thread)

int acq_main_t::_on_mode_set(plib_acq_mode_t mode) {
    set_mode(mode);
    return 0;
}

void acq_main_t::set_mode(int mode) {
    const std::unique_lock<std::mutex> io_lock = _lock_io_for_command();
    int run_state = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (mode == m_acq_mode) return;
        m_acq_mode = mode;
        run_state = m_run_state.load();
    }
    _apply_mode(mode, run_state);
}

std::unique_lock<std::mutex> acq_main_t::_lock_io_for_command() {
    ++m_commands_waiting;
    std::unique_lock<std::mutex> io_lock(m_io_mutex);
    --m_commands_waiting;
    return io_lock;
}

int acq_main_t::_on_mode_get(plib_acq_mode_t& mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    mode = static_cast<plib_acq_mode_t>(m_acq_mode);
    return 0;
}

int acq_main_t::_on_trig() {
    _run_tick(false);
    return 0;
}

int acq_main_t::_on_latest_get(plib_data_t& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    data = m_latest;
    return 0;
}

int acq_main_t::_on_selected_data_list_get(plib_acq_selected_data_list_t& list) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t size = _buffered();
    // Never a partial slice: a request reaching past the end leaves the caller's data as it was.
    if (list.start > size || list.count > size - list.start) return 0;
    const plib_data_t* first = _buffer_begin() + list.start;
    list.data.assign(first, first + list.count);
    return 0;
}

int acq_main_t::_on_original_data_num_get(unsigned int& num) {
    std::lock_guard<std::mutex> lock(m_mutex);
    num = static_cast<unsigned int>(_buffered());
    return 0;
}

acq_main_t::buffer_statistics_t acq_main_t::get_buffer_statistics() {
    std::lock_guard<std::mutex> lock(m_mutex);
    buffer_statistics_t st;
    st.count = _buffered();
    st.min = std::numeric_limits<double>::infinity();
    st.max = -st.min;
    for (const plib_data_t* d = _buffer_begin(); d != _buffer_begin() + st.count; ++d) {
        if (is_overload(d->value) || !std::isfinite(d->value)) continue;
        st.min = std::min(st.min, d->value);
        st.max = std::max(st.max, d->value);
        st.sum += d->value;
        ++st.valid;
    }
    if (st.valid == 0) st.min = st.max = 0.0;
    return st;
}

int acq_main_t::_on_original_data_list_get(std::vector<plib_data_t>& list) {
    std::lock_guard<std::mutex> lock(m_mutex);
    list.assign(_buffer_begin(), _buffer_begin() + _buffered());
    return 0;
}

int acq_main_t::_on_trend_data_get(plib_trend_data_info_t& info) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trend.copy_out(info);
    return 0;
}

int acq_main_t::_on_record_parameter_set(const plib_record_parameter_set_msg_t& param) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return _set_record_parameter(param);
}

int acq_main_t::_set_record_parameter(const plib_record_parameter_set_msg_t& param) {
    switch (param.kind) {
        case record_kind_buffer_mode:
            m_buffer_mode = param.buffer_mode;
            break;
        case record_kind_record_enable:
            m_record_enable = param.record_enable;
            break;
        case record_kind_interval:
            // A period below 1 ms is not a period; -1 would even mean "keep" to the timer.
            if (param.interval_ms < 1) break;
            m_interval_ms = param.interval_ms;
            _restart_timer_task(m_interval_ms);
            break;
        case record_kind_auto_stop_mode:
            m_auto_stop_mode = param.auto_stop_mode;
            break;
        case record_kind_stop_time:
            m_stop_time = param.stop_time;
            break;
        case record_kind_stop_num:
            m_stop_num = param.stop_num;
            break;
        case record_kind_auto_stop_enable:
            m_auto_stop_enable = param.auto_stop_enable;
            break;
        case record_kind_clear:
            _clear();
            break;
        case record_kind_export:
            return _export(param.export_path);
        default:
            break;
    }
    return 0;
}

int acq_main_t::_export(const std::string& path) {
    if (path.empty()) return 0;
    const std::string header = acq_record_header(m_file_record_param, m_interval_ms, format_local_time(":"));
    const acq_file_result_t r = acq_export_file(path, header, _buffer_begin(), _buffered());
    return r == acq_file_result_t::ok ? 0 : -1;
}

int acq_main_t::_on_record_run_state_info_get(plib_record_run_state_info_t& info) {
    std::lock_guard<std::mutex> lock(m_mutex);
    info.recording = m_recording;
    info.start_timestamp = m_first_reading_timestamp;
    info.elapsed_s = m_elapsed_s;
    info.total_count = m_total_count;
    info.dropped_count = m_dropped_count;
    info.logged_count = m_logged_count;
    info.record_path = m_log_path;
    info.record_renamed = m_log_renamed;
    info.statistics = m_statistics.get();
    info.stop_cause = m_stop_cause;
    return 0;
}

int acq_main_t::_on_trend_timebase_set(double seconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trend.set_timebase(seconds);
    return 0;
}
