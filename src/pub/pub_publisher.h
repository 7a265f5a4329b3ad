// The publisher: takes batches of line-protocol lines from the measuring side without
// waiting, and delivers every one to each of its targets through a per-target spool.
//
// Per target (a queue): an inbox in memory, a spool on disk (pub_spool_t), and two
// threads. The spool thread moves the inbox to the spool (one record per pass, synced);
// the sender thread sends the spool's oldest records and acknowledges them. So a slow
// disk delays only the spool thread, and a hung or slow database only the sender;
// submit() takes one short lock per queue and never does I/O.
//
// Delivery: at least once, in spool order. 2xx acknowledges; 429, 5xx and network
// failures retry the same records with backoff (0.5 s doubling to 30 s, or the
// server's Retry-After); other refusals set the records aside in the spool's
// rejected/ directory, told once per refusal. A full spool refuses the batch: its
// readings are counted as not published and told (when it starts and when it ends).
// The inbox holds at most inbox_limit_bytes; past that a batch is not published either.
//
// Instrument status (targets with a status sink: MQTT): set_status() keeps the latest
// status of each instrument; a third thread per such target publishes it with the
// target's spool depth at once when the state, function, range or rate changed, and
// otherwise at most once a second while the counters move; again after the target's
// connection for it was made anew; and once more as "offline" when the instrument is
// removed or the publisher stops (then the connection ends without its last will).
//
// Threads and locks: the caller's threads call submit(), set_status(),
// remove_instrument(), status(), wait_drained(), stop(); each queue's m_mutex guards its
// inbox, status and event flags, its m_status_mutex the instruments' status (never held
// with m_mutex); the spool has its own lock (taken after a queue's m_mutex is released,
// never inside it). The event callback runs on the queue's threads, one event at a time
// per queue, and must not block.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pub/pub_spool.h"
#include "pub/pub_target.h"

// One submitted batch: complete lines and the readings they hold. Shared by every queue.
struct pub_batch_t {
    std::string lines;
    uint64_t readings = 0;
};

enum pub_state_t : int {
    pub_state_off = 0,          // no target
    pub_state_live = 1,         // delivering as readings come
    pub_state_catching_up = 2,  // delivering a backlog (spooled readings)
    pub_state_failing = 3,      // the last delivery failed; retrying
};

struct pub_target_status_t {
    std::string name;
    pub_state_t state = pub_state_off;
    uint64_t spooled = 0;       // readings waiting in the spool (and the inbox)
    uint64_t on_disk = 0;       // of them, readings already in the spool on disk
    uint64_t published = 0;     // readings the target took (this process)
    uint64_t refused = 0;       // readings the target refused, kept in rejected/
    uint64_t not_published = 0; // readings never spooled (spool full, spool error)
    std::string reason;         // why it is failing, or the last refusal
    std::string spool_directory;
};

struct pub_event_t {
    enum kind_t {
        gone,           // the target stopped taking readings (reason)
        back,           // it takes them again
        caught_up,      // the backlog is delivered (count: readings delivered since it went away or since the start)
        refused,        // a batch was refused and kept aside (reason, count)
        spool_full,     // the spool is full: readings are not published from now (count so far)
        spool_space,    // the spool takes readings again (count: readings not published meanwhile)
        spool_error,    // the spool cannot be written (reason)
        notice,         // something to hear once (reason): the target speaks an older protocol
    };
    std::string target;
    kind_t kind = gone;
    std::string reason;
    uint64_t count = 0;
};

struct pub_options_t {
    std::string spool_root;                    // one sub-directory per target
    uint64_t spool_cap_bytes = 1ull << 30;     // per target
    uint64_t inbox_limit_bytes = 64ull << 20;  // per target
    std::size_t max_request_bytes = 1u << 20;  // lines per delivery
    double min_backoff_s = 0.5;
    double max_backoff_s = 30;
};

// Text of a state for people: "off", "live", "catching up (N spooled)", "failing: REASON".
std::string pub_state_text(const pub_target_status_t& status);

// The spool directory of a target: a readable stem of its name and a hash of it.
std::string pub_spool_directory(const std::string& root, const std::string& target_name);

// The default root of the spools: $STATE_DIRECTORY (a systemd service), else
// $XDG_STATE_HOME/velkaro/spool, else ~/.local/state/velkaro/spool.
std::string pub_default_spool_root();

class pub_publisher_t {
public:
    explicit pub_publisher_t(pub_options_t options);
    ~pub_publisher_t();  // stop()
    pub_publisher_t(const pub_publisher_t&) = delete;
    pub_publisher_t& operator=(const pub_publisher_t&) = delete;

    // Before start(): adds a target; false with `error` said when its spool cannot be
    // opened. What the spool holds from an earlier run is delivered first.
    bool add_target(std::unique_ptr<pub_target_t> target, std::string& error);
    void set_event_callback(std::function<void(const pub_event_t&)> callback);
    void start();

    // Hands a batch to every target. Never blocks on the network or the disk.
    void submit(std::shared_ptr<const pub_batch_t> batch);

    // The status of an instrument now (spool_depth is filled per target). Never blocks on
    // the network. Targets without a status sink ignore it.
    void set_status(const pub_instrument_key_t& key, const pub_status_t& status);
    // The instrument is no longer published: its last status goes out as "offline".
    void remove_instrument(const pub_instrument_key_t& key);

    // Waits until every target has delivered all it has spooled, or `timeout` passed.
    // True when all was delivered.
    bool wait_drained(std::chrono::milliseconds timeout);
    // Moves what is still in memory to the spools, stops the threads (cutting a delivery
    // in progress short; it stays spooled). Idempotent.
    void stop();

    std::vector<pub_target_status_t> status() const;
    bool empty() const { return m_queues.empty(); }

private:
    class queue_t;
    pub_options_t m_options;
    std::function<void(const pub_event_t&)> m_callback;
    std::vector<std::unique_ptr<queue_t>> m_queues;
    bool m_started = false;
    bool m_stopped = false;
};
