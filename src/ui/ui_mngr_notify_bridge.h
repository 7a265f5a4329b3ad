// The user interface's end of one instrument manager's notifications.
//
// The events of the link, acquisition and scan engines come from the manager's event
// fan-out, on its event thread (tests may give other sources and threads).
// The callbacks installed here only append the kind to an inbox and, when the inbox
// was empty, post one flush to this object; the flush runs on the GUI thread (this
// object's thread) and emits the queued kinds as signals, in arrival order. No widget
// and no QObject state is touched off the GUI thread.
//
// Bursts: a data kind (acq_notify_data, scan_notify_data) that arrives while the same
// engine's newest queued kind is already a data kind is merged into it, so a GUI that
// falls behind handles at most one data notification per engine and event-loop turn,
// while every other kind keeps its place in each engine's order.
//
// Lifetime: detach() (or the destructor) closes the inbox, drops what is queued and
// clears the three callbacks; nothing is emitted afterwards, and the engines are not
// called again. It must run before the manager is released. The inbox is shared with
// the callbacks, so a callback that an engine still runs after its clear finds it
// closed instead of a deleted bridge.
//
// Locks: inbox_t::mutex guards the inbox (open flag, queue, flush-posted flag); it is
// never held while calling an engine or emitting. m_pending belongs to the GUI thread.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "acq/plib_acq_types.h"
#include "remote/remote_main.h"
#include "scan/plib_scan_types.h"

class plib_mngr_t;

Q_DECLARE_METATYPE(plib_remote_notify_t)
Q_DECLARE_METATYPE(plib_acq_notify_t)
Q_DECLARE_METATYPE(plib_scan_notify_t)

// Where the three callbacks go: each member installs (or, given nullptr, clears) one
// engine's callback and returns once the old one no longer runs. Built from a manager
// with of(); tests give their own.
struct ui_notify_sources_t {
    using remote_cb_t = std::function<void(plib_remote_notify_t)>;
    using acq_cb_t = std::function<void(plib_acq_notify_t)>;
    using scan_cb_t = std::function<void(plib_scan_notify_t)>;
    // The manager's own events (reconnection): kind and words.
    using mngr_cb_t = std::function<void(int, const std::string&)>;
    std::function<void(remote_cb_t)> set_remote;
    std::function<void(acq_cb_t)> set_acq;
    std::function<void(scan_cb_t)> set_scan;
    std::function<void(mngr_cb_t)> set_mngr;

    // The engines of `mngr` (borrowed); empty setters for a null manager.
    static ui_notify_sources_t of(plib_mngr_t* mngr);
};

class ui_mngr_notify_bridge_t : public QObject {
    Q_OBJECT
public:
    // Registers the meta-types and installs the callbacks in the manager's engines
    // (none when `mngr` is null). `mngr` is borrowed and must outlive attachment.
    explicit ui_mngr_notify_bridge_t(plib_mngr_t* mngr, QObject* parent = nullptr);
    explicit ui_mngr_notify_bridge_t(ui_notify_sources_t sources, QObject* parent = nullptr);
    ~ui_mngr_notify_bridge_t() override;

    ui_mngr_notify_bridge_t(const ui_mngr_notify_bridge_t&) = delete;
    ui_mngr_notify_bridge_t& operator=(const ui_mngr_notify_bridge_t&) = delete;

    // The three kind names under which the notifications travel through queued
    // connections. Idempotent.
    static void register_meta_types();

    // Stops all delivery and clears the engines' callbacks; returns once no callback
    // of this bridge runs any more. Call on the GUI thread. Idempotent.
    void detach();
    bool is_attached() const { return m_attached; }

signals:
    void signal_remote_notify(plib_remote_notify_t type);
    void signal_acq_notify(plib_acq_notify_t type);
    void signal_scan_notify(plib_scan_notify_t type);
    // plib_mngr_notify_t with the words for the user.
    void signal_mngr_notify(int kind, QString text);

private:
    struct inbox_t;

    struct pending_t {
        int engine;
        int kind;
        std::string text;
    };

    void _flush();

    ui_notify_sources_t m_sources;
    bool m_attached = false;
    std::deque<pending_t> m_pending;  // GUI thread only: taken from the inbox, not yet emitted
    std::shared_ptr<inbox_t> m_inbox;
};
