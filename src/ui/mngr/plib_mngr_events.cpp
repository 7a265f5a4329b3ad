#include "ui/mngr/plib_mngr_events.h"

#include <algorithm>
#include <chrono>

#include "acq/acq_main.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"
#include "scan/scan_main.h"

plib_mngr_events_t::plib_mngr_events_t() {
    m_thread = std::thread([this] { _thread_main(); });
}

plib_mngr_events_t::~plib_mngr_events_t() {
    detach();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_queue.clear();
    }
    m_cond.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void plib_mngr_events_t::attach(remote_main_t* remote, acq_main_t* acq, scan_main_t* scan) {
    m_remote = remote;
    m_acq = acq;
    m_scan = scan;
    if (m_remote != nullptr)
        m_remote->set_notify_callback([this](plib_remote_notify_t kind) {
            plib_mngr_event_t event;
            event.source = plib_mngr_event_t::source_remote;
            event.kind = static_cast<int>(kind);
            post(std::move(event));
        });
    _update_data_wanted();
}

void plib_mngr_events_t::detach() {
    if (m_remote != nullptr) m_remote->set_notify_callback(nullptr);
    if (m_acq != nullptr) m_acq->set_event_callback(nullptr, false);
    if (m_scan != nullptr) m_scan->set_event_callback(nullptr, false);
    m_remote = nullptr;
    m_acq = nullptr;
    m_scan = nullptr;
}

void plib_mngr_events_t::_update_data_wanted() {
    bool wanted = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const entry_t& e : m_listeners) wanted = wanted || e.wants_data;
        m_data_wanted = wanted;
    }
    if (m_acq != nullptr)
        m_acq->set_event_callback(
            [this](plib_acq_event_t e) {
                plib_mngr_event_t event;
                event.source = plib_mngr_event_t::source_acq;
                event.kind = static_cast<int>(e.kind);
                event.acq_batch = std::move(e.batch);
                post(std::move(event));
            },
            wanted);
    if (m_scan != nullptr)
        m_scan->set_event_callback(
            [this](plib_scan_event_t e) {
                plib_mngr_event_t event;
                event.source = plib_mngr_event_t::source_scan;
                event.kind = static_cast<int>(e.kind);
                event.scan_batch = std::move(e.batch);
                post(std::move(event));
            },
            wanted);
}

int plib_mngr_events_t::add_listener(listener_t listener, bool wants_data) {
    int id = 0;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        id = m_next_id++;
        m_listeners.push_back({id, wants_data, std::make_shared<listener_t>(std::move(listener))});
        changed = wants_data && !m_data_wanted;
    }
    if (changed) _update_data_wanted();
    return id;
}

void plib_mngr_events_t::remove_listener(int id) {
    bool had_data = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto it =
            std::find_if(m_listeners.begin(), m_listeners.end(), [id](const entry_t& e) { return e.id == id; });
        if (it == m_listeners.end()) return;
        had_data = it->wants_data;
        m_listeners.erase(it);
        if (std::this_thread::get_id() != m_thread_id)
            m_cond.wait(lock, [this, id] { return m_running_id != id; });
    }
    if (had_data) _update_data_wanted();
}

void plib_mngr_events_t::post(plib_mngr_event_t event) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_quit) return;
        m_queue.push_back(std::move(event));
        ++m_queued;
    }
    m_cond.notify_all();
}

bool plib_mngr_events_t::flush(int timeout_ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const uint64_t target = m_queued;
    return m_cond.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [this, target] { return m_delivered >= target || m_quit; });
}

void plib_mngr_events_t::_thread_main() {
    nsp::thd::set_thread_name("events");
    std::unique_lock<std::mutex> lock(m_mutex);
    m_thread_id = std::this_thread::get_id();
    for (;;) {
        m_cond.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit) return;
        const plib_mngr_event_t event = std::move(m_queue.front());
        m_queue.pop_front();
        // Each listener in turn; the list may change between calls (looked up by id).
        std::vector<int> ids;
        ids.reserve(m_listeners.size());
        for (const entry_t& e : m_listeners) ids.push_back(e.id);
        for (int id : ids) {
            const auto it = std::find_if(m_listeners.begin(), m_listeners.end(),
                                         [id](const entry_t& e) { return e.id == id; });
            if (it == m_listeners.end()) continue;
            std::shared_ptr<listener_t> listener = it->listener;
            m_running_id = id;
            lock.unlock();
            (*listener)(event);
            listener.reset();
            lock.lock();
            m_running_id = 0;
            m_cond.notify_all();
        }
        ++m_delivered;
        m_cond.notify_all();
    }
}
