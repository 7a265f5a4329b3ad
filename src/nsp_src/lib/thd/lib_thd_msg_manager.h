// Per-engine queue of message calls and the common body of an engine thread.
//
// One msg_manager_t per engine thread. Callers of the engine's messages are serialised
// by the manager's send mutex, so its queue holds at most one record. Lock order:
// the engine's send mutex, then the message's own mutex, then the queue mutex. The
// engine thread takes only the queue mutex and a message's own mutex.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "nsp_src/lib/thd/lib_thd_msg.h"

namespace nsp::thd {

class msg_manager_t {
public:
    msg_manager_t() = default;
    msg_manager_t(const msg_manager_t&) = delete;
    msg_manager_t& operator=(const msg_manager_t&) = delete;
    // Records still queued are destroyed unexecuted.
    ~msg_manager_t();

    // Binds the message to this manager; called by the engine before its thread starts.
    void register_msg(msg_base_t* msg);

    // Waits up to timeout_ms (steady clock) for a record and executes at most one.
    void dispatch_one(unsigned timeout_ms);

private:
    friend class msg_base_t;

    void _post(msg_data_t&& msg_data);

    std::mutex m_queue_mutex;              // guards m_queue
    std::condition_variable m_queue_cond;  // signalled once per queued record
    std::deque<msg_data_t> m_queue;
    std::vector<msg_base_t*> m_msg_list;  // registration order; touched only by the owner
    std::mutex m_send_mutex;              // held by a caller from queuing until its result is back
};

// Names the calling thread (at most 15 characters: the kernel's limit).
void set_thread_name(const std::string& name);

// The common body of every engine's thread_main: names the thread, then loops
// dispatch_one(timeout_ms) while !quit (seq_cst load).
void run_dispatch_loop(msg_manager_t& manager, std::atomic<bool>& quit, const std::string& thread_name,
                       unsigned timeout_ms);

}  // namespace nsp::thd
