// A bounded, crash-safe on-disk queue of batches for one publishing target.
//
// Layout of the spool directory:
//   lock               flock'ed while a process owns the spool (one owner at a time)
//   seg-NNNNNNNNNNNNNNNNNNNN.log   append-only segments, numbered in order
//   ack                "SEGMENT OFFSET\n": the first record not yet delivered (tmp + rename)
//   rejected/          batches the database refused: NNN.lp (the lines) and NNN.txt (why)
//
// A record in a segment: magic "VKS1", payload length, reading count, CRC-32 of the
// count and the payload (three 32-bit words, host order: the spool never leaves the
// machine), then the payload (line-protocol lines).
//
// Durability: every append is one write(); sync() makes the appends so far durable
// (fdatasync), and the spool thread calls it once per pass, after the batches it took.
// A segment is synced before the next one starts; a new segment and the ack file are
// made durable with their directory. After a crash (kill -9, power loss) at most the
// record being written is torn: opening the spool drops a torn or corrupt tail (its
// batch was never acknowledged to the submitter as spooled) and replays everything
// after the ack position in order. The ack follows the target's acceptance of each
// batch in memory at once, and in the ack file (made durable) at most once a second and
// when the spool is closed: two syncs per delivery cost more than the rest of
// publishing. A crash sends again what was delivered since the file was last written (at
// most about a second of batches), which the consumer absorbs because its points carry
// the same stamps; nothing that was not delivered is ever skipped (the file only lags).
//
// Bound: the segment files together never pass the cap; an append that would is
// refused (the caller counts and reports the readings). Fully delivered segments are
// deleted at once.
//
// Threads: one writer thread appends, one sender thread peeks, acknowledges and sets
// aside, and any thread reads the counters. m_mutex guards all the state below; disk
// I/O of append and peek runs under it too (it is short: one write and one sync, or
// one read), and neither caller is a measuring thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct pub_spool_position_t {
    uint64_t segment = 0;
    uint64_t offset = 0;
};

// Records read for one delivery attempt, oldest first.
struct pub_spool_batch_t {
    std::string payload;     // the records' payloads, joined
    uint64_t readings = 0;   // readings in them
    uint64_t records = 0;
    uint64_t bytes = 0;        // their size on disk, headers included
    pub_spool_position_t end;  // the position after the last one
};

class pub_spool_t {
public:
    enum append_result_t { append_ok, append_full, append_error };

    pub_spool_t(std::string directory, uint64_t cap_bytes);
    ~pub_spool_t();
    pub_spool_t(const pub_spool_t&) = delete;
    pub_spool_t& operator=(const pub_spool_t&) = delete;

    // Creates the directory, takes the lock, drops a torn tail and counts what is left
    // to deliver. False with `error` said when the spool cannot be used (another process
    // owns it, no permission).
    bool open(std::string& error);

    // Appends one batch (complete lines) holding `readings` readings; durable after sync().
    append_result_t append(const std::string& payload, uint64_t readings);
    bool sync();

    // Reads records from the delivery position up to about `max_bytes` (at least one
    // record when there is one). Empty when everything was delivered.
    pub_spool_batch_t peek(std::size_t max_bytes);
    // The records of `batch` (the last peek) were delivered.
    void ack(const pub_spool_batch_t& batch);
    // Writes the ack file if it lags and was last written a second ago or more (the
    // sender calls it when idle, so an idle spool's file catches up).
    void flush_ack();
    // The records up to `batch.end` were refused: keep them in rejected/ with `reason`,
    // then move past them.
    void set_aside(const pub_spool_batch_t& batch, const std::string& reason);

    uint64_t pending_readings() const;
    uint64_t pending_bytes() const;
    uint64_t disk_bytes() const;
    uint64_t dropped_tail_bytes() const;  // torn or corrupt bytes dropped by open()
    const std::string& directory() const { return m_directory; }
    std::string rejected_directory() const { return m_directory + "/rejected"; }

private:
    struct segment_t {
        uint64_t number = 0;
        uint64_t size = 0;  // valid bytes (the file is truncated to this)
    };
    std::string _segment_path(uint64_t number) const;
    // Counts the records of `seg` from `from` on; cuts the segment at a torn or corrupt record.
    void _scan_segment(segment_t& seg, uint64_t from);
    bool _write_ack();
    void _flush_ack(bool force);
    void _advance(const pub_spool_batch_t& batch);
    bool _start_segment();
    void _delete_delivered();

    const std::string m_directory;
    const uint64_t m_cap_bytes;
    const uint64_t m_segment_limit;

    mutable std::mutex m_mutex;
    int m_lock_fd = -1;
    int m_append_fd = -1;  // the last segment, open for appending
    std::deque<segment_t> m_segments;
    pub_spool_position_t m_ack;
    bool m_ack_lags = false;  // m_ack is ahead of the ack file
    std::chrono::steady_clock::time_point m_ack_written_at;
    uint64_t m_pending_readings = 0;
    uint64_t m_pending_bytes = 0;
    uint64_t m_disk_bytes = 0;
    uint64_t m_dropped_tail = 0;
    uint64_t m_rejected_number = 0;
};
