// The fan-out of one instrument's engine events to any number of listeners.
//
// The link, acquisition and scan engines each have one callback, called on whichever
// thread produced the event (link thread, tick lanes, engine threads, the caller of a
// start or stop) while that thread is on its way back to its own work. The hub installs
// those callbacks: each only appends the event to the hub's queue and returns, so no
// listener can delay an engine. The hub's own thread "events" then calls the listeners,
// one event at a time, in the order the events were queued (each engine's own order is
// kept; events of different engines are in the order their threads queued them).
//
// Listeners must not block for long (a slow one delays the others' later events); they
// may call the engines' operations and messages, and add or remove listeners.
//
// Data: the acquisition and scan batches ride on their data events as shared, read-only
// vectors; the engines hand them over only while at least one listener asked for data.
//
// Locks: m_mutex guards the queue, the listener list and the running-call bookkeeping;
// it is never held while a listener runs or while an engine is called.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "acq/plib_acq_types.h"
#include "remote/remote_main.h"
#include "scan/plib_scan_types.h"

class acq_main_t;
class scan_main_t;

// Kinds of source_mngr events: what the manager itself reports (reconnection).
enum plib_mngr_notify_t : int {
    mngr_notify_reconnecting = 0,  // a lost link: trying again (text says when)
    mngr_notify_reconnected = 1,   // the same instrument answers again; what ran is resumed
    mngr_notify_reconnect_refused = 2,  // another instrument answered at the address: not resumed
    mngr_notify_reconnect_gave_up = 3,  // the time allowed for reconnection ran out
};

struct plib_mngr_event_t {
    enum source_t : int { source_remote = 0, source_acq = 1, source_scan = 2, source_mngr = 3 };
    source_t source = source_remote;
    // plib_remote_notify_t, plib_acq_notify_t, plib_scan_notify_t or plib_mngr_notify_t.
    int kind = 0;
    std::shared_ptr<const plib_acq_batch_t> acq_batch;    // with acq_notify_data (see above)
    std::shared_ptr<const plib_scan_batch_t> scan_batch;  // with scan_notify_data (see above)
    std::string text;                                     // source_mngr: the words for the user
};

class plib_mngr_events_t {
public:
    using listener_t = std::function<void(const plib_mngr_event_t&)>;

    plib_mngr_events_t();
    // Stops the thread; events still queued are dropped. detach() must have run.
    ~plib_mngr_events_t();
    plib_mngr_events_t(const plib_mngr_events_t&) = delete;
    plib_mngr_events_t& operator=(const plib_mngr_events_t&) = delete;

    // Installs the hub's callbacks in the engines (each may be null).
    void attach(remote_main_t* remote, acq_main_t* acq, scan_main_t* scan);
    // Clears the engines' callbacks; returns once none of them runs.
    void detach();

    // Returns the listener's id (never 0). `wants_data`: the listener reads the batches.
    int add_listener(listener_t listener, bool wants_data = false);
    // Returns once the listener is not running on another thread and will not be called
    // again (from inside a listener it does not wait for itself). Unknown ids are ignored.
    void remove_listener(int id);

    // Queues an event of the manager's own (source_mngr).
    void post(plib_mngr_event_t event);

    // Blocks until every event queued before the call has been handed to the listeners,
    // or `timeout_ms` passed; false on time-out. Never call from a listener.
    bool flush(int timeout_ms);

private:
    struct entry_t {
        int id = 0;
        bool wants_data = false;
        std::shared_ptr<listener_t> listener;
    };

    void _thread_main();
    void _update_data_wanted();

    remote_main_t* m_remote = nullptr;
    acq_main_t* m_acq = nullptr;
    scan_main_t* m_scan = nullptr;

    std::mutex m_mutex;
    std::condition_variable m_cond;  // queue, quit, and the end of each listener call
    std::deque<plib_mngr_event_t> m_queue;
    uint64_t m_queued = 0;     // events ever queued
    uint64_t m_delivered = 0;  // events ever handed to every listener
    std::vector<entry_t> m_listeners;
    int m_next_id = 1;
    int m_running_id = 0;  // the listener being called now, 0 none
    bool m_quit = false;
    bool m_data_wanted = false;
    std::thread::id m_thread_id;
    std::thread m_thread;
};
