// Automatic reconnection of one instrument after a lost link.
//
// When the link engine reports a lost link and reconnection is on, the supervisor tries
// to open the instrument again: first after `first_delay_s`, then at doubling intervals
// of at most `max_delay_s`, for at most `give_up_s` (0: for ever). It never resets the
// instrument: when the same instrument (maker, model, serial number) answers, it asks
// whether the instrument kept its settings and its run through the outage. If it did,
// the engines simply go on fetching, so the readings it kept are fetched too; if not,
// the stored configuration is sent again and measuring or scanning is started again.
// The engines' runs are never stopped meanwhile: a measuring run keeps its record file,
// and the gap shows in the readings' times. Another instrument at the address is not
// resumed: the run is stopped and the user told. Every step is an event of the manager
// (source_mngr) with its words.
//
// Threads: the hub's listener thread notices the loss; the supervisor's own thread
// "reconnect" does the waiting and the I/O (through the link engine, like everybody).
// m_mutex guards the policy, the state and the gaps; it is never held during I/O or
// while an event is posted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class cfg_main_t;
class acq_main_t;
class scan_main_t;
class drv_if_t;
class drv_link_t;
class plib_mngr_events_t;
struct plib_mngr_event_t;

struct plib_reconnect_policy_t {
    bool enabled = false;
    double give_up_s = 0.0;  // 0: never give up
    double first_delay_s = 1.0;
    double max_delay_s = 30.0;
};

// One outage of the link, from the loss to the instrument's return (end_us 0 while open).
struct plib_link_gap_t {
    int64_t start_us = 0;  // microseconds since the epoch
    int64_t end_us = 0;
    uint64_t readings_before = 0;  // readings of the run when the link was lost
    bool resumed = false;          // the run went on after it
    bool kept_running = false;     // the instrument kept measuring: its readings were fetched
};

class plib_reconnect_t {
public:
    enum state_t : int {
        state_idle = 0,          // the link is fine (or reconnection is off)
        state_reconnecting = 1,  // lost: trying again
        state_refused = 2,       // another instrument answered: given up
        state_gave_up = 3,       // the time allowed ran out
    };

    // Every pointer must outlive this object; `scan` may be null.
    plib_reconnect_t(cfg_main_t* cfg, acq_main_t* acq, scan_main_t* scan, drv_if_t* driver, drv_link_t* link,
                     plib_mngr_events_t* events, std::string model);
    ~plib_reconnect_t();
    plib_reconnect_t(const plib_reconnect_t&) = delete;
    plib_reconnect_t& operator=(const plib_reconnect_t&) = delete;

    // The policy of this instrument; until one is set, the process-wide default holds.
    void set_policy(const plib_reconnect_policy_t& policy);
    plib_reconnect_policy_t policy() const;
    // The default of every instrument without a policy of its own (the desktop's setting).
    static void set_default_policy(const plib_reconnect_policy_t& policy);
    static plib_reconnect_policy_t default_policy();
    state_t state() const;
    std::vector<plib_link_gap_t> gaps() const;
    // Ends a reconnection in progress (the user disconnected or the run ends); the state
    // goes back to idle. Returns once no attempt is running.
    void cancel();

private:
    void _on_event(const plib_mngr_event_t& event);
    void _thread_main();
    // One attempt: 0 the instrument is back, 1 another instrument, -1 nothing yet.
    int _attempt(bool& kept_running);
    void _post(int kind, const std::string& text);
    uint64_t _readings() const;
    std::string _where() const;

    cfg_main_t* const m_cfg;
    acq_main_t* const m_acq;
    scan_main_t* const m_scan;
    drv_if_t* const m_driver;
    drv_link_t* const m_link;
    plib_mngr_events_t* const m_events;
    const std::string m_model;
    int m_listener = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    plib_reconnect_policy_t m_policy;
    bool m_policy_set = false;  // m_policy was given; else the default holds
    state_t m_state = state_idle;
    bool m_quit = false;
    bool m_cancel = false;
    bool m_busy = false;  // an attempt's I/O runs now
    bool m_was_measuring = false;
    bool m_was_scanning = false;
    std::vector<plib_link_gap_t> m_gaps;
    std::thread m_thread;
};
