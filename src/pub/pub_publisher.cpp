#include "pub/pub_publisher.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

using clock_type = std::chrono::steady_clock;

// The sender looks at the spool again at least this often, even without a wake-up.
constexpr auto idle_poll = std::chrono::milliseconds(500);
// A server's Retry-After is honoured up to this long.
constexpr double max_retry_after_s = 600;
// An instrument's status goes out at most this often while only its counters change,
// and the status thread looks at the counters this often.
constexpr auto status_interval = std::chrono::seconds(1);
constexpr auto status_poll = std::chrono::milliseconds(250);

bool same_status(const pub_status_t& a, const pub_status_t& b) {
    return !a.differs_in_kind(b) && a.readings_logged == b.readings_logged && a.spool_depth == b.spool_depth &&
           a.program_version == b.program_version;
}

}  // namespace

std::string pub_state_text(const pub_target_status_t& status) {
    switch (status.state) {
    case pub_state_off:
        return "off";
    case pub_state_live:
        return "live";
    case pub_state_catching_up:
        return "catching up (" + std::to_string(status.spooled) + " spooled)";
    case pub_state_failing:
        return "failing: " + status.reason;
    }
    return "off";
}

std::string pub_spool_directory(const std::string& root, const std::string& target_name) {
    // FNV-1a: a stable name for the same target in every run.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : target_name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string stem;
    std::size_t start = target_name.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    for (std::size_t i = start; i < target_name.size() && stem.size() < 48; ++i) {
        const char c = target_name[i];
        stem += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
    }
    char tail[24];
    std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(hash));
    return root + "/" + stem + tail;
}

std::string pub_default_spool_root() {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
        std::string first(state);
        first = first.substr(0, first.find(':'));
        return first + "/spool";
    }
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/')
        return std::string(xdg) + "/velkaro/spool";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr && *home != '\0' ? home : "/tmp") + "/.local/state/velkaro/spool";
}

class pub_publisher_t::queue_t {
public:
    queue_t(std::unique_ptr<pub_target_t> target, const pub_options_t& options,
            const std::function<void(const pub_event_t&)>* callback)
        : m_target(std::move(target)),
          m_options(options),
          m_callback(callback),
          m_spool(pub_spool_directory(options.spool_root, m_target->name()), options.spool_cap_bytes) {
        m_target->set_spool_directory(m_spool.directory());
        m_sink = m_target->make_status_sink();
    }

    ~queue_t() { stop(); }

    bool open(std::string& error) {
        if (!m_spool.open(error)) return false;
        // A backlog from an earlier run: catching up from the start.
        m_initial_backlog = m_spool.pending_readings();
        m_backlog = m_initial_backlog > 0;
        return true;
    }

    void start() {
        m_spool_thread = std::thread([this] { _spool_loop(); });
        m_send_thread = std::thread([this] { _send_loop(); });
        if (m_sink) m_status_thread = std::thread([this] { _status_loop(); });
    }

    void set_status(const pub_instrument_key_t& key, const pub_status_t& status) {
        if (!m_sink) return;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_status_mutex);
            if (m_status_quit) return;
            status_entry_t& e = m_statuses[key];
            wake = !e.ever || status.differs_in_kind(e.status);
            e.status = status;
            e.leaving = false;
            if (wake) m_status_wake = true;
        }
        if (wake) m_status_cv.notify_one();
    }

    void remove_instrument(const pub_instrument_key_t& key) {
        if (!m_sink) return;
        {
            std::lock_guard<std::mutex> lock(m_status_mutex);
            auto it = m_statuses.find(key);
            if (it == m_statuses.end() || m_status_quit) return;
            it->second.leaving = true;
            m_status_wake = true;
        }
        m_status_cv.notify_one();
    }

    void submit(const std::shared_ptr<const pub_batch_t>& batch) {
        bool refused = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_quit_spool || m_inbox_bytes + batch->lines.size() > m_options.inbox_limit_bytes) {
                m_not_published += batch->readings;
                refused = true;
            } else {
                m_inbox.push_back(batch);
                m_accepted += batch->readings;
                m_inbox_bytes += batch->lines.size();
            }
        }
        if (!refused) m_inbox_cv.notify_one();
    }

    bool drained() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_inbox.empty() || m_appending || m_sending) return false;
        }
        return m_spool.pending_readings() == 0;
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit_spool = true;
        }
        m_inbox_cv.notify_all();
        if (m_spool_thread.joinable()) m_spool_thread.join();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit_send = true;
        }
        m_target->abort();
        m_send_cv.notify_all();
        if (m_send_thread.joinable()) m_send_thread.join();
        // Last: every instrument's final status carries the spool depth left behind.
        {
            std::lock_guard<std::mutex> lock(m_status_mutex);
            m_status_quit = true;
        }
        m_status_cv.notify_all();
        if (m_status_thread.joinable()) m_status_thread.join();
    }

    pub_target_status_t status() const {
        pub_target_status_t s;
        s.name = m_target->name();
        s.spool_directory = m_spool.directory();
        s.on_disk = m_spool.pending_readings();
        std::lock_guard<std::mutex> lock(m_mutex);
        // From counters kept under this one lock, so the figure is whole at every moment.
        s.spooled = m_initial_backlog + m_accepted - m_published - m_refused - m_lost;
        s.published = m_published;
        s.refused = m_refused;
        s.not_published = m_not_published;
        s.reason = m_reason;
        s.state = m_failing ? pub_state_failing : (m_backlog && s.spooled > 0) ? pub_state_catching_up : pub_state_live;
        return s;
    }

private:
    void _emit(pub_event_t::kind_t kind, const std::string& reason, uint64_t count) {
        if (m_callback == nullptr || !*m_callback) return;
        pub_event_t event;
        event.target = m_target->name();
        event.kind = kind;
        event.reason = reason;
        event.count = count;
        std::lock_guard<std::mutex> lock(m_event_mutex);  // one event at a time per queue
        (*m_callback)(event);
    }

    void _spool_loop() {
        for (;;) {
            std::vector<std::shared_ptr<const pub_batch_t>> taken;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_inbox_cv.wait(lock, [this] { return !m_inbox.empty() || m_quit_spool; });
                if (m_inbox.empty()) break;
                taken.assign(m_inbox.begin(), m_inbox.end());
                m_inbox.clear();
                m_inbox_bytes = 0;
                m_appending = true;
            }
            // One record per batch, so a full spool refuses only the batches that do not
            // fit; one sync per pass.
            uint64_t stored = 0, full = 0, failed = 0;
            for (const auto& b : taken) {
                const pub_spool_t::append_result_t r = m_spool.append(b->lines, b->readings);
                if (r == pub_spool_t::append_ok)
                    stored += b->readings;
                else if (r == pub_spool_t::append_full)
                    full += b->readings;
                else
                    failed += b->readings;
            }
            // A failed sync leaves the records in place (they are sent), but not safe from
            // a crash: said like a failed write.
            const bool unsynced = stored > 0 && !m_spool.sync();
            bool told_full = false, told_space = false, told_error = false;
            uint64_t full_count = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_appending = false;
                m_not_published += full + failed;
                m_lost += full + failed;
                if (stored > 0 && full == 0 && m_spool_full) {
                    m_spool_full = false;
                    told_space = true;
                    full_count = m_full_count;
                    m_full_count = 0;
                }
                if (full > 0) {
                    m_full_count += full;
                    told_full = !m_spool_full;
                    m_spool_full = true;
                    full_count = m_full_count;
                }
                if (failed > 0 || unsynced) {
                    told_error = !m_spool_error;
                    m_spool_error = true;
                } else if (stored > 0) {
                    m_spool_error = false;
                }
            }
            if (stored > 0) m_send_cv.notify_one();
            if (told_space) _emit(pub_event_t::spool_space, "", full_count);
            if (told_full) _emit(pub_event_t::spool_full, m_spool.directory(), full_count);
            if (told_error) _emit(pub_event_t::spool_error, "cannot write the spool " + m_spool.directory(), failed);
        }
    }

    // Publishes what changed of each instrument's status (see the header); at the end
    // every instrument as "offline".
    void _status_loop() {
        for (;;) {
            bool quit = false;
            {
                std::unique_lock<std::mutex> lock(m_status_mutex);
                m_status_cv.wait_for(lock, status_poll, [this] { return m_status_quit || m_status_wake; });
                m_status_wake = false;
                quit = m_status_quit;
            }
            const uint64_t depth = status().spooled;  // takes m_mutex: not inside m_status_mutex
            std::vector<std::pair<pub_instrument_key_t, std::string>> publish, close;
            {
                std::lock_guard<std::mutex> lock(m_status_mutex);
                const auto now = clock_type::now();
                for (auto it = m_statuses.begin(); it != m_statuses.end();) {
                    status_entry_t& e = it->second;
                    e.status.spool_depth = depth;
                    if (quit || e.leaving) {
                        pub_status_t last = e.status;
                        last.state = pub_status_offline;
                        close.emplace_back(it->first, pub_status_json(last));
                        it = m_statuses.erase(it);
                        continue;
                    }
                    const bool due = !e.ever || e.status.differs_in_kind(e.published) ||
                                     (!same_status(e.status, e.published) && now - e.at >= status_interval);
                    if (due) {
                        publish.emplace_back(it->first, pub_status_json(e.status));
                        e.published = e.status;
                        e.ever = true;
                        e.at = now;
                    }
                    ++it;
                }
            }
            for (const auto& [key, json] : publish) m_sink->publish(key, json);
            if (!quit) {
                // A connection made anew (the broker may have published the will): say it again.
                std::vector<std::pair<pub_instrument_key_t, std::string>> again;
                {
                    std::lock_guard<std::mutex> lock(m_status_mutex);
                    for (const auto& [key, e] : m_statuses)
                        if (e.ever && m_sink->reconnected(key)) again.emplace_back(key, pub_status_json(e.published));
                }
                for (const auto& [key, json] : again) m_sink->publish(key, json);
            }
            if (!close.empty()) m_sink->close_all(close);
            if (quit) break;
        }
    }

    // Waits up to `delay` or until stopped (true: stopped).
    bool _wait(std::chrono::milliseconds delay) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_send_cv.wait_for(lock, delay, [this] { return m_quit_send; });
    }

    void _send_loop() {
        double backoff = m_options.min_backoff_s;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_quit_send) break;
            }
            pub_spool_batch_t batch = m_spool.peek(m_options.max_request_bytes);
            if (batch.records == 0) {
                bool caught_up = false;
                uint64_t count = 0;
                {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    if (m_backlog && !m_failing) {
                        caught_up = true;
                        count = m_caught_up;
                        m_caught_up = 0;
                        m_backlog = false;
                    }
                }
                if (caught_up) _emit(pub_event_t::caught_up, "", count);
                m_spool.flush_ack();  // the ack file of an idle spool catches up
                std::unique_lock<std::mutex> lock(m_mutex);
                m_send_cv.wait_for(lock, idle_poll);
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_sending = true;
            }
            const pub_send_result_t result = m_target->send(batch.payload);
            if (!result.notice.empty()) _emit(pub_event_t::notice, result.notice, 0);
            if (result.kind == pub_send_result_t::sent) {
                m_spool.ack(batch);
                bool back = false;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_sending = false;
                    m_published += batch.readings;
                    if (m_backlog) m_caught_up += batch.readings;
                    back = m_failing;
                    m_failing = false;
                    m_reason.clear();
                }
                backoff = m_options.min_backoff_s;
                if (back) _emit(pub_event_t::back, "", 0);
            } else if (result.kind == pub_send_result_t::refused) {
                m_spool.set_aside(batch, result.reason);
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_sending = false;
                    m_refused += batch.readings;
                    m_reason = result.reason;
                }
                _emit(pub_event_t::refused, result.reason + " (kept in " + m_spool.rejected_directory() + ")",
                      batch.readings);
            } else {
                bool gone = false;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_sending = false;
                    if (m_quit_send) break;  // cut short by stop(): it stays spooled
                    gone = !m_failing;
                    m_failing = true;
                    m_backlog = true;
                    m_reason = result.reason;
                }
                if (gone) _emit(pub_event_t::gone, result.reason, 0);
                double delay = backoff;
                if (result.retry_after_s > 0) delay = std::min(result.retry_after_s, max_retry_after_s);
                backoff = std::min(backoff * 2, m_options.max_backoff_s);
                if (_wait(std::chrono::milliseconds(static_cast<long long>(delay * 1000)))) break;
            }
        }
    }

    std::unique_ptr<pub_target_t> m_target;
    const pub_options_t& m_options;
    const std::function<void(const pub_event_t&)>* m_callback;
    pub_spool_t m_spool;
    std::mutex m_event_mutex;

    mutable std::mutex m_mutex;
    std::condition_variable m_inbox_cv;  // the spool thread waits for batches
    std::condition_variable m_send_cv;   // the sender waits for spooled records or the end
    std::deque<std::shared_ptr<const pub_batch_t>> m_inbox;
    uint64_t m_inbox_bytes = 0;
    bool m_appending = false;  // the spool thread holds batches no longer in the inbox
    bool m_sending = false;    // the sender holds records whose counters are not yet updated
    bool m_quit_spool = false;
    bool m_quit_send = false;
    bool m_failing = false;
    bool m_backlog = false;
    bool m_spool_full = false;
    bool m_spool_error = false;
    uint64_t m_full_count = 0;
    uint64_t m_caught_up = 0;
    uint64_t m_published = 0;
    uint64_t m_refused = 0;
    uint64_t m_not_published = 0;
    uint64_t m_initial_backlog = 0;  // readings spooled by an earlier run
    uint64_t m_accepted = 0;         // readings taken into the inbox
    uint64_t m_lost = 0;             // of them, readings the spool refused
    std::string m_reason;
    std::thread m_spool_thread;
    std::thread m_send_thread;

    // Instruments' status (with a status sink only); m_status_mutex guards what follows.
    struct status_entry_t {
        pub_status_t status;     // the latest given
        pub_status_t published;  // the last published
        bool ever = false;       // published at least once
        clock_type::time_point at;
        bool leaving = false;  // remove_instrument(): goes out "offline", then closes
    };
    std::unique_ptr<pub_status_sink_t> m_sink;  // used by the status thread only
    std::mutex m_status_mutex;
    std::condition_variable m_status_cv;
    std::map<pub_instrument_key_t, status_entry_t> m_statuses;
    bool m_status_wake = false;
    bool m_status_quit = false;
    std::thread m_status_thread;
};

pub_publisher_t::pub_publisher_t(pub_options_t options) : m_options(std::move(options)) {
    if (m_options.spool_root.empty()) m_options.spool_root = pub_default_spool_root();
}

pub_publisher_t::~pub_publisher_t() { stop(); }

bool pub_publisher_t::add_target(std::unique_ptr<pub_target_t> target, std::string& error) {
    if (m_started || !target) return false;
    auto queue = std::make_unique<queue_t>(std::move(target), m_options, &m_callback);
    if (!queue->open(error)) return false;
    m_queues.push_back(std::move(queue));
    return true;
}

void pub_publisher_t::set_event_callback(std::function<void(const pub_event_t&)> callback) {
    if (!m_started) m_callback = std::move(callback);
}

void pub_publisher_t::start() {
    if (m_started) return;
    m_started = true;
    for (auto& q : m_queues) q->start();
}

void pub_publisher_t::submit(std::shared_ptr<const pub_batch_t> batch) {
    if (!batch || batch->readings == 0) return;
    for (auto& q : m_queues) q->submit(batch);
}

void pub_publisher_t::set_status(const pub_instrument_key_t& key, const pub_status_t& status) {
    for (auto& q : m_queues) q->set_status(key, status);
}

void pub_publisher_t::remove_instrument(const pub_instrument_key_t& key) {
    for (auto& q : m_queues) q->remove_instrument(key);
}

bool pub_publisher_t::wait_drained(std::chrono::milliseconds timeout) {
    const auto deadline = clock_type::now() + timeout;
    for (;;) {
        bool all = true;
        for (auto& q : m_queues) all = all && q->drained();
        if (all) return true;
        if (clock_type::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void pub_publisher_t::stop() {
    if (m_stopped) return;
    m_stopped = true;
    for (auto& q : m_queues) q->stop();
}

std::vector<pub_target_status_t> pub_publisher_t::status() const {
    std::vector<pub_target_status_t> out;
    for (const auto& q : m_queues) out.push_back(q->status());
    return out;
}
