#include "scan/scan_main.h"
#include "common/plib_log.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/plib_format.h"
#include "nsp_src/lib/lib_assert.h"
#include "scan/scan_statistics.h"

namespace {
constexpr unsigned dispatch_timeout_ms = 100;
const char* const thread_name = "scan";
}  // namespace

// ---------------------------------------------------------------------------------------
// Life cycle

scan_main_t::scan_main_t(scan_instrument_t* instrument, scan_main_options_t options)
    : nsp::thd::engine_t<plib_scan_notify_t>(thread_name, dispatch_timeout_ms),
      m_instrument(instrument),
      m_clock(std::move(options.clock)),
      m_stamp_fn(std::move(options.stamp)) {
    NSP_ASSERT(m_instrument != nullptr);
    if (m_instrument) {
        const int n = m_instrument->get_scan_channel_count();
        // A count outside 1..64 is not a scanner card; keep the card's 16.
        if (n >= 1 && n <= 64) m_channel_count = n;
    }
    for (int ch = 1; ch <= m_channel_count; ++ch) m_stored[ch];
    _create_timer_task([this] { _on_timer_task(); }, static_cast<int>(m_poll_interval_ms),
                       options.periodic_task_enabled);
    _start_thread();
}

scan_main_t::~scan_main_t() { _stop_engine(); }

uint64_t scan_main_t::_now_us() const { return m_clock ? m_clock() : now_us(); }

std::string scan_main_t::_stamp(const std::string& separator) const {
    return m_stamp_fn ? m_stamp_fn(separator) : format_local_time(separator);
}

// ---------------------------------------------------------------------------------------
// Direct operations (caller's thread)

void scan_main_t::set_run_state(int state) {
    // The record information is gathered before the mutex is taken: the callback is the
    // configuration's code and must not run inside the engine's critical section.
    plib_scanner_channel_map_t params;
    plib_scan_file_record_param_t info;
    bool have_info = false;
    if (state == 1 && m_run_state.load() != 1) {
        plib_scan_record_info_callback_t info_callback;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            info_callback = m_record_info_callback;
        }
        if (info_callback) {
            info_callback(params, info);
            have_info = true;
        }
    }
    if (state == 1) {
        notify_list_t notes;
        _start_run(have_info ? &params : nullptr, have_info ? &info : nullptr, notes);
        _deliver_all(notes, nullptr);
        return;
    }
    if (state != 0) return;
    notify_list_t notes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_run_state.load() == 0) return;
        _stop(notes);
    }
    {
        // Waits for I/O in flight (a tick's fetch): the instrument gets "ROUT:STAR 0"
        // before whatever the caller sends next.
        std::lock_guard<std::mutex> io_lock(m_io_mutex);
        _send_pending_stop();
    }
    _deliver_all(notes, nullptr);
}

void scan_main_t::set_event_callback(std::function<void(plib_scan_event_t)> callback, bool with_batches) {
    m_batches_wanted.store(callback && with_batches);
    m_event_notifier.set(std::move(callback));
}

void scan_main_t::_deliver_all(const notify_list_t& notes, std::shared_ptr<const plib_scan_batch_t> batch) {
    _deliver(notes);
    for (int i = 0; i < notes.count; ++i) {
        plib_scan_event_t event;
        event.kind = notes.items[i];
        if (event.kind == scan_notify_data) event.batch = batch;
        if (!m_event_notifier.notify(std::move(event))) return;
    }
}

void scan_main_t::set_record_info_callback(plib_scan_record_info_callback_t callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_record_info_callback = std::move(callback);
}

void scan_main_t::_on_timer_task() {
    if (m_run_state.load() != 1) return;  // idle instruments cost no lock per timer period
    _run_tick(true);
}

void scan_main_t::_send_pending_stop() {
    bool send = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        send = m_stop_command_pending;
        m_stop_command_pending = false;
    }
    if (send) m_instrument->set_scan_start(0);
}

void scan_main_t::_start_run(plib_scanner_channel_map_t* params, plib_scan_file_record_param_t* info,
                             notify_list_t& notes) {
    std::lock_guard<std::mutex> io_lock(m_io_mutex);
    _send_pending_stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_run_state.load() == 1) return;
    }
    // Readings left in the instrument by an earlier run are not this run's.
    plib_scan_data_map_t scratch;
    m_instrument->read_scan_data(scratch);

    // Starts are serialised by the I/O mutex and a stop cannot start a run: the state
    // checked above still holds.
    std::lock_guard<std::mutex> lock(m_mutex);
    _clear_memory_data();
    if (params) m_channel_params = std::move(*params);
    if (info) m_file_record_param = std::move(*info);
    m_waiting_start = true;
    m_run_state.store(1);
    ++m_run_generation;
    m_recording = false;
    m_opened_files = false;
    if (m_record_enable != 1) return;
    const int opened = _open_record_files();
    m_opened_files = opened != 0;
    m_recording = opened == 1;
    if (opened < 0) notes.push(scan_notify_record_write_failed);
}

void scan_main_t::_run_tick(bool periodic) {
    notify_list_t notes;
    std::shared_ptr<plib_scan_batch_t> handed_over;
    {
        std::lock_guard<std::mutex> io_lock(m_io_mutex);
        _send_pending_stop();
        uint64_t generation = 0;
        bool waiting_start = false;
        bool start_now = false;
        uint64_t now = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (periodic && m_run_state.load() != 1) return;
            generation = m_run_generation;
            waiting_start = m_waiting_start;
            if (waiting_start) {
                now = _now_us();
                start_now = m_start_mode == 0 || now >= m_start_time;
                if (!start_now) notes.push(scan_notify_wait);
            } else {
                m_elapsed_s = static_cast<double>(static_cast<int64_t>(_now_us() - m_start_timestamp)) / 1e6;
            }
        }
        if (waiting_start) {
            if (start_now) {
                m_instrument->set_scan_start(1);
                std::lock_guard<std::mutex> lock(m_mutex);
                if (generation == m_run_generation) {
                    m_start_timestamp = now;
                    m_waiting_start = false;
                    notes.push(scan_notify_start);
                }
            }
        } else {
            m_batch.clear();
            m_instrument->read_scan_data(m_batch);  // a failed read leaves the batch empty
            std::lock_guard<std::mutex> lock(m_mutex);
            // A run stopped or restarted while the fetch was in flight gets none of it.
            if (generation == m_run_generation) {
                _merge_batch(notes);
                bool any = false;
                for (const auto& entry : m_batch) any = any || !entry.second.empty();
                if (any && m_batches_wanted.load()) {
                    // The batch itself goes to the listeners; the next fetch starts a new one.
                    handed_over = std::make_shared<plib_scan_batch_t>();
                    handed_over->run_id = generation;
                    for (const auto& [channel, readings] : m_batch) {
                        if (readings.empty()) continue;
                        const auto stat = m_statistics.find(channel);
                        const auto param = m_channel_params.find(channel);
                        int alarm = 0;
                        if (stat != m_statistics.end() && param != m_channel_params.end()) {
                            // Alarm modes: 1 low limit, 2 high limit, 3 both.
                            const int mode = param->second.alarm_limit;
                            if ((mode & 1) != 0 && stat->second.min < param->second.limit_low) alarm |= 1;
                            if ((mode & 2) != 0 && stat->second.max > param->second.limit_high) alarm |= 2;
                        }
                        handed_over->alarm[channel] = alarm;
                    }
                    handed_over->readings.swap(m_batch);
                }
            }
        }
        // An automatic stop of this tick, or a stop that came in during its I/O.
        _send_pending_stop();
    }
    _deliver_all(notes, std::move(handed_over));
}

// ---------------------------------------------------------------------------------------
// Run control (m_mutex held)

void scan_main_t::_clear_memory_data() {
    m_latest.clear();
    m_statistics.clear();
    for (auto& entry : m_stored) std::deque<plib_data_t>().swap(entry.second);
    m_stored_end.clear();
    ++m_memory_id;
    m_elapsed_s = 0.0;
    m_readings_count = 0;
    m_readings_logged = 0;
}

void scan_main_t::_stop(notify_list_t& notes) {
    // A single file that got no data row still ends with a line break.
    if (m_recording && m_single_file && !m_single_file->finish()) notes.push(scan_notify_record_write_failed);
    m_stop_command_pending = true;
    notes.push(scan_notify_stop);
    m_run_state.store(0);
    ++m_run_generation;
    m_recording = false;
}

bool scan_main_t::_check_stop_condition() {
    switch (m_stop_mode) {
        case scan_stop_at_timestamp:
            return _now_us() >= m_stop_timestamp;
        case scan_stop_after_duration:
            return m_elapsed_s >= m_stop_duration;
        case scan_stop_after_sweeps: {
            uint32_t in_batch = 0;
            for (const auto& entry : m_batch) in_batch += static_cast<uint32_t>(entry.second.size());
            const uint32_t target =
                static_cast<uint32_t>(m_stop_scan_count) * static_cast<uint32_t>(m_sweep_readings);
            return in_batch + m_readings_count >= target;
        }
        default:
            return false;
    }
}

void scan_main_t::_merge_batch(notify_list_t& notes) {
    _apply_scaling();
    // The readings of the tick that meets a stop condition were measured during the run:
    // they are stored, counted and logged before the run stops.
    const bool stop = m_stop_mode != 0 && _check_stop_condition();
    _limit_stored_readings();
    _update_latest_and_store();
    _update_statistics();
    _count_readings();
    if (m_recording && !_write_record()) {
        // A full disk or a vanished directory will not heal within the run: logging
        // stops and the user is told, rather than a retry failing silently every tick.
        m_recording = false;
        notes.push(scan_notify_record_write_failed);
    }
    if (stop && m_run_state.load() == 1) _stop(notes);
    if (m_run_state.load() != 1 || m_record_enable != 1) m_recording = false;
    notes.push(scan_notify_data);
}

void scan_main_t::_apply_scaling() { scan_apply_scaling(m_batch, m_channel_params, m_channel_count); }

void scan_main_t::_limit_stored_readings() {
    for (const auto& [channel, batch] : m_batch) {
        const auto it = m_stored.find(channel);
        if (it == m_stored.end() || batch.empty()) continue;
        auto& stored = it->second;
        if (batch.size() >= scan_stored_per_channel_limit) {
            stored.clear();
        } else if (stored.size() + batch.size() > scan_stored_per_channel_limit) {
            const std::size_t drop = stored.size() + batch.size() - scan_stored_per_channel_limit;
            stored.erase(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(drop));
        }
    }
}

void scan_main_t::_update_latest_and_store() {
    for (const auto& [channel, batch] : m_batch) {
        if (batch.empty()) continue;
        m_latest[channel] = batch.back();
        const auto it = m_stored.find(channel);
        if (it == m_stored.end()) continue;
        // Readings of the batch beyond the limit are counted as stored and dropped.
        m_stored_end[channel] += batch.size();
        // A batch larger than the limit keeps only its newest readings.
        const std::size_t skip =
            batch.size() > scan_stored_per_channel_limit ? batch.size() - scan_stored_per_channel_limit : 0;
        it->second.insert(it->second.end(), batch.begin() + static_cast<std::ptrdiff_t>(skip), batch.end());
    }
}

void scan_main_t::_update_statistics() {
    for (const auto& [channel, batch] : m_batch) {
        if (batch.empty() || channel < 1 || channel > m_channel_count) continue;
        const plib_scan_statistic_data_t s = scan_batch_statistics(batch);
        const auto it = m_statistics.find(channel);
        if (it == m_statistics.end())
            m_statistics.emplace(channel, s);
        else
            scan_merge_statistics(it->second, s);
    }
}

void scan_main_t::_count_readings() {
    for (const auto& entry : m_batch) m_readings_count += static_cast<uint32_t>(entry.second.size());
}

// ---------------------------------------------------------------------------------------
// Logging (m_mutex held; m_io_mutex too where the batch is used)

namespace {
// Creates one file per scanned channel with its header, each new and this writer's
// alone (another name when a name is taken); false when a file cannot be written
// (channels after it get no file) or there is nothing to log into.
bool create_multi_file_path(const plib_scanner_channel_map_t& params,
                            const plib_scan_file_record_param_t& info, const std::string& directory,
                            const std::string& name_stamp, const std::string& header_stamp,
                            std::map<int, std::string>& paths, std::map<int, plib_log_file_id_t>& ids) {
    if (params.empty() || directory.empty()) return false;
    const std::string header = scan_channel_header(info, header_stamp);
    for (const auto& [channel, p] : params) {
        if (p.scan_state == 0) continue;
        const std::string path =
            scan_join_path(directory, scan_channel_file_name(name_stamp, channel, p.name, p.func));
        plib_log_create_t created;
        const bool ok = scan_create_log_file(path, header, created);
        plib_log("_create_multi_file_path multi path: " + (created.path.empty() ? path : created.path));
        if (!ok) {
            plib_log("_create_multi_file_path open fail ");
            return false;
        }
        paths[channel] = created.path;
        ids[channel] = created.id;
    }
    return true;
}
}  // namespace

int scan_main_t::_open_record_files() {
    m_single_file.reset();
    const std::string& directory = m_file_record_param.record_directory;
    if (m_channel_params.empty() || directory.empty()) return 0;
    std::error_code ec;
    // No such directory means no log for this run, as an empty one does; a directory
    // whose files cannot be written is a failure the user must hear of.
    if (!std::filesystem::is_directory(directory, ec)) return 0;
    // A single-file log rewrite that a crash cut short in this directory is finished.
    scan_csv_table_recover_directory(directory);
    if (m_file_mode == scan_file_mode_per_channel) {
        std::map<int, std::string> paths;
        m_channel_file_ids.clear();
        const bool ok = create_multi_file_path(m_channel_params, m_file_record_param, directory, _stamp("'"),
                                               _stamp(":"), paths, m_channel_file_ids);
        m_file_record_param.channel_paths = std::move(paths);  // the files made, even after a failure
        return ok ? 1 : -1;
    }
    std::map<int, std::string> titles;
    std::vector<std::string> row;
    for (const auto& [channel, p] : m_channel_params) {
        if (p.scan_state == 0) continue;
        titles[channel] = scan_column_title(channel, p.name, p.func);
        row.push_back(titles[channel]);
    }
    m_file_record_param.column_titles = std::move(titles);
    m_file_record_param.m_single_file_path =
        scan_join_path(m_file_record_param.record_directory, scan_single_file_name(_stamp("'")));
    plib_log("m_single_file_path: " + m_file_record_param.m_single_file_path);
    auto table = std::make_unique<scan_csv_table_file_t>();
    if (!table->create(m_file_record_param.m_single_file_path, row)) return -1;
    m_file_record_param.m_single_file_path = table->path();
    m_single_file = std::move(table);
    return 1;
}

bool scan_main_t::_write_record() {
    if (m_file_mode == scan_file_mode_per_channel) {
        std::string text;
        for (const auto& [channel, path] : m_file_record_param.channel_paths) {
            text.clear();
            const auto it = m_batch.find(channel);
            std::size_t n = 0;
            if (it != m_batch.end()) {
                for (const auto& d : it->second) {
                    const double t =
                        static_cast<double>(d.timestamp - static_cast<int64_t>(m_start_timestamp)) / 1e6;
                    scan_append_channel_line(text, d.value, t);
                }
                n = it->second.size();
            }
            // Every file is opened at every tick, so a file gone bad is noticed at once.
            const auto id = m_channel_file_ids.find(channel);
            if (id == m_channel_file_ids.end() || !scan_append_to_log_file(path, id->second, text)) {
                plib_log("_deal_multi_file_record_process open fail ");
                return false;
            }
            m_readings_logged += n;
        }
        return true;
    }
    if (!m_single_file) return false;
    std::map<std::size_t, std::vector<double>> columns;
    std::size_t index = 0, n = 0;
    for (const auto& entry : m_file_record_param.column_titles) {
        const auto it = m_batch.find(entry.first);
        if (it != m_batch.end() && !it->second.empty()) {
            auto& column = columns[index];
            column.reserve(it->second.size());
            for (const auto& d : it->second) column.push_back(d.value);
            n += it->second.size();
        }
        ++index;
    }
    if (!m_single_file->append(columns)) return false;
    m_readings_logged += n;
    return true;
}

int scan_main_t::export_scan_record_memory_data(const std::string& directory) {
    std::map<int, std::string> paths;
    std::map<int, plib_log_file_id_t> ids;
    if (!create_multi_file_path(m_channel_params, m_file_record_param, directory, _stamp("'"), _stamp(":"),
                                paths, ids))
        return -1;
    std::string text;
    for (const auto& [channel, path] : paths) {
        text.clear();
        const auto it = m_stored.find(channel);
        if (it != m_stored.end()) {
            for (const auto& d : it->second) {
                const double t =
                    static_cast<double>(d.timestamp - static_cast<int64_t>(m_start_timestamp)) / 1e6;
                scan_append_channel_line(text, d.value, t);
            }
        }
        if (!text.empty() && !scan_append_to_log_file(path, ids[channel], text)) {
            plib_log("export_scan_record_memory_data open fail ");
            return -1;
        }
    }
    return 0;
}

int scan_main_t::_apply_parameter(const plib_scan_record_parameter_set_t& param) {
    switch (param.kind) {
        case scan_param_record_enable:
            m_record_enable = param.record_enable;
            break;
        case scan_param_file_mode:
            m_file_mode = param.file_mode;
            break;
        case scan_param_start_mode:
            m_start_mode = param.start_mode;
            break;
        case scan_param_start_timestamp:
            m_start_time = param.start_timestamp;
            break;
        case scan_param_stop_mode:
            m_stop_mode = param.stop_mode;
            break;
        case scan_param_stop_duration:
            m_stop_duration = param.stop_duration;
            break;
        case scan_param_stop_timestamp:
            m_stop_timestamp = param.stop_timestamp;
            break;
        case scan_param_stop_scan_count:
            m_stop_scan_count = param.stop_scan_count;
            break;
        case scan_param_sweep_readings:
            if (param.sweep_readings != 0) m_sweep_readings = param.sweep_readings;
            break;
        case scan_param_poll_interval:
            // A period below 1 ms is not a period; -1 would even mean "keep" to the timer.
            if (param.poll_interval_ms < 1) break;
            m_poll_interval_ms = static_cast<uint32_t>(param.poll_interval_ms);
            _restart_timer_task(param.poll_interval_ms);
            break;
        case scan_param_export_data:
            return export_scan_record_memory_data(param.export_path);
        case scan_param_clear_data:
            _clear_memory_data();
            break;
        default:
            break;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Handlers (engine thread)

int scan_main_t::_on_trig() {
    _run_tick(false);
    return 0;
}

int scan_main_t::_on_latest_get(plib_scan_latest_map_t& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    data = m_latest;
    return 0;
}

int scan_main_t::_on_original_get(plib_scan_data_map_t& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    data.clear();
    for (const auto& [channel, readings] : m_stored) data[channel].assign(readings.begin(), readings.end());
    return 0;
}

int scan_main_t::_on_new_data_get(plib_scan_new_data_t& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool same_memory = data.memory_id == m_memory_id;
    data.current_memory_id = m_memory_id;
    data.run.start_timestamp = m_start_timestamp;
    data.run.elapsed_s = m_elapsed_s;
    data.run.readings_count = m_readings_count;
    // The caller's vectors are refilled in place, so a caller that reuses its payload
    // does not reallocate at every read-out.
    if (data.channels.size() != m_stored.size()) data.channels.clear();
    for (const auto& [channel, readings] : m_stored) {
        const auto end_it = m_stored_end.find(channel);
        const uint64_t end = end_it == m_stored_end.end() ? 0 : end_it->second;
        const uint64_t oldest = end - readings.size();
        uint64_t from = oldest;
        if (same_memory) {
            const auto from_it = data.from.find(channel);
            if (from_it != data.from.end()) from = std::clamp(from_it->second, oldest, end);
        }
        plib_scan_channel_tail_t& tail = data.channels[channel];
        tail.oldest_index = oldest;
        tail.first_index = from;
        tail.end_index = end;
        tail.readings.assign(readings.begin() + static_cast<std::ptrdiff_t>(from - oldest), readings.end());
    }
    return 0;
}

int scan_main_t::_on_statistic_get(plib_scan_statistic_map_t& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    data = m_statistics;
    return 0;
}

int scan_main_t::_on_run_state_info_get(plib_scan_run_state_t& info) {
    std::lock_guard<std::mutex> lock(m_mutex);
    info.start_timestamp = m_start_timestamp;
    info.elapsed_s = m_elapsed_s;
    info.readings_count = m_readings_count;
    info.readings_logged = m_readings_logged;
    info.files.clear();
    if (m_opened_files) {
        if (m_file_mode == scan_file_mode_per_channel) {
            for (const auto& entry : m_file_record_param.channel_paths) info.files.push_back(entry.second);
        } else if (m_single_file) {
            info.files.push_back(m_single_file->path());
        }
    }
    return 0;
}

int scan_main_t::_on_record_parameter_set(const plib_scan_record_parameter_set_t& param) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return _apply_parameter(param);
}
