#include "ui/ui_mngr_notify_bridge.h"

#include <QMetaObject>
#include <cstdint>
#include <deque>
#include <mutex>

#include "acq/acq_main.h"
#include "scan/scan_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_events.h"

namespace {

enum engine_t : int { engine_remote = 0, engine_acq = 1, engine_scan = 2, engine_mngr = 3, engine_count = 4 };

struct entry_t {
    engine_t engine;
    int kind;
    bool data;
    std::string text;
};

}  // namespace

struct ui_mngr_notify_bridge_t::inbox_t {
    std::mutex mutex;
    bool open = true;
    bool flush_posted = false;
    std::deque<entry_t> queue;
    // Sequence number of the next entry and, per engine, of its newest entry: an entry
    // is still queued when its number is at least next_seq - queue.size().
    uint64_t next_seq = 0;
    uint64_t newest_seq[engine_count] = {};
    bool newest_is_data[engine_count] = {};
    bool has_newest[engine_count] = {};
    ui_mngr_notify_bridge_t* target = nullptr;  // valid while open

    void push(engine_t engine, int kind, bool data, std::string text = std::string()) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!open) return;
        const uint64_t first_queued = next_seq - queue.size();
        if (data && has_newest[engine] && newest_is_data[engine] && newest_seq[engine] >= first_queued)
            return;  // merged into the data kind still waiting
        queue.push_back({engine, kind, data, std::move(text)});
        newest_seq[engine] = next_seq++;
        newest_is_data[engine] = data;
        has_newest[engine] = true;
        if (flush_posted) return;
        flush_posted = true;
        // Posting under the lock: `target` cannot be closed and deleted meanwhile.
        ui_mngr_notify_bridge_t* bridge = target;
        QMetaObject::invokeMethod(
            bridge, [bridge] { bridge->_flush(); }, Qt::QueuedConnection);
    }
};

void ui_mngr_notify_bridge_t::register_meta_types() {
    qRegisterMetaType<plib_remote_notify_t>("plib_remote_notify_t");
    qRegisterMetaType<plib_acq_notify_t>("plib_acq_notify_t");
    qRegisterMetaType<plib_scan_notify_t>("plib_scan_notify_t");
}

namespace {
// One setter of ui_notify_sources_t over the manager's event fan-out: installs a listener
// for one engine's events, or (given an empty callback) removes it.
template <typename Kind>
std::function<void(std::function<void(Kind)>)> hub_setter(plib_mngr_events_t* events,
                                                          plib_mngr_event_t::source_t source) {
    auto id = std::make_shared<int>(0);  // the setter's own listener; used on the GUI thread only
    return [events, source, id](std::function<void(Kind)> cb) {
        if (*id != 0) {
            events->remove_listener(*id);
            *id = 0;
        }
        if (!cb) return;
        *id = events->add_listener([source, cb = std::move(cb)](const plib_mngr_event_t& event) {
            if (event.source == source) cb(static_cast<Kind>(event.kind));
        });
    };
}
}  // namespace

ui_notify_sources_t ui_notify_sources_t::of(plib_mngr_t* mngr) {
    ui_notify_sources_t sources;
    if (mngr == nullptr) return sources;
    plib_mngr_events_t* events = &mngr->events();
    sources.set_remote = hub_setter<plib_remote_notify_t>(events, plib_mngr_event_t::source_remote);
    sources.set_acq = hub_setter<plib_acq_notify_t>(events, plib_mngr_event_t::source_acq);
    sources.set_scan = hub_setter<plib_scan_notify_t>(events, plib_mngr_event_t::source_scan);
    auto id = std::make_shared<int>(0);
    sources.set_mngr = [events, id](mngr_cb_t cb) {
        if (*id != 0) {
            events->remove_listener(*id);
            *id = 0;
        }
        if (!cb) return;
        *id = events->add_listener([cb = std::move(cb)](const plib_mngr_event_t& event) {
            if (event.source == plib_mngr_event_t::source_mngr) cb(event.kind, event.text);
        });
    };
    return sources;
}

ui_mngr_notify_bridge_t::ui_mngr_notify_bridge_t(plib_mngr_t* mngr, QObject* parent)
    : ui_mngr_notify_bridge_t(ui_notify_sources_t::of(mngr), parent) {}

ui_mngr_notify_bridge_t::ui_mngr_notify_bridge_t(ui_notify_sources_t sources, QObject* parent)
    : QObject(parent), m_sources(std::move(sources)), m_inbox(std::make_shared<inbox_t>()) {
    register_meta_types();
    m_inbox->target = this;
    m_attached = true;
    std::shared_ptr<inbox_t> inbox = m_inbox;
    if (m_sources.set_remote)
        m_sources.set_remote([inbox](plib_remote_notify_t type) {
            inbox->push(engine_remote, static_cast<int>(type), false);
        });
    if (m_sources.set_acq)
        m_sources.set_acq([inbox](plib_acq_notify_t type) {
            inbox->push(engine_acq, static_cast<int>(type), type == acq_notify_data);
        });
    if (m_sources.set_scan)
        m_sources.set_scan([inbox](plib_scan_notify_t type) {
            inbox->push(engine_scan, static_cast<int>(type), type == scan_notify_data);
        });
    if (m_sources.set_mngr)
        m_sources.set_mngr(
            [inbox](int kind, const std::string& text) { inbox->push(engine_mngr, kind, false, text); });
}

ui_mngr_notify_bridge_t::~ui_mngr_notify_bridge_t() { detach(); }

void ui_mngr_notify_bridge_t::detach() {
    {
        std::lock_guard<std::mutex> lock(m_inbox->mutex);
        m_inbox->open = false;
        m_inbox->queue.clear();
        m_inbox->target = nullptr;
    }
    m_pending.clear();
    if (!m_attached) return;
    m_attached = false;
    if (m_sources.set_remote) m_sources.set_remote(nullptr);
    if (m_sources.set_acq) m_sources.set_acq(nullptr);
    if (m_sources.set_scan) m_sources.set_scan(nullptr);
    if (m_sources.set_mngr) m_sources.set_mngr(nullptr);
    m_sources = ui_notify_sources_t();
}

void ui_mngr_notify_bridge_t::_flush() {
    {
        std::lock_guard<std::mutex> lock(m_inbox->mutex);
        m_inbox->flush_posted = false;
        if (!m_inbox->open) return;
        for (const entry_t& entry : m_inbox->queue) m_pending.push_back({entry.engine, entry.kind, entry.text});
        m_inbox->queue.clear();
    }
    // Entries leave m_pending one at a time: when a receiver opens a nested event loop
    // (a message box), the flush that runs inside it appends behind the entries still
    // waiting here and emits them first, so each engine's order holds.
    while (!m_pending.empty() && m_attached) {
        const pending_t entry = m_pending.front();
        m_pending.pop_front();
        switch (entry.engine) {
            case engine_remote:
                emit signal_remote_notify(static_cast<plib_remote_notify_t>(entry.kind));
                break;
            case engine_acq:
                emit signal_acq_notify(static_cast<plib_acq_notify_t>(entry.kind));
                break;
            case engine_scan:
                emit signal_scan_notify(static_cast<plib_scan_notify_t>(entry.kind));
                break;
            case engine_mngr:
                emit signal_mngr_notify(entry.kind, QString::fromStdString(entry.text));
                break;
            default:
                break;
        }
    }
}
