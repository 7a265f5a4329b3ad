// Synchronous typed calls into an engine thread.
//
// A message object belongs to the engine that executes it. Any other thread calls it
// like a function: send() runs on_set(), fetch() runs on_get() on the engine thread,
// and the caller blocks until the handler has returned its int result. Arguments
// travel by reference (a vector of pointers to the caller's objects), so a handler
// may read them or fill them in. A const type in the argument list reaches the
// handler as a const reference, which lets callers pass temporaries for it.
//
// After a contract violation (NSP_ASSERT prints one line and lets the program go on):
//   - a call on a message still unregistered after 10 s reports "0" and returns 0
//     without queuing anything;
//   - a handler that the message does not implement reports "0" and the call
//     returns 0;
//   - a record whose argument vector does not match the argument list reports the
//     mismatch, runs no handler and the call returns 0.
// The call never throws and never hangs because of one of these.
//
// Rules for users: a handler must not call a message of its own engine (it would wait
// for its own thread); an engine must not be destroyed while a caller waits on it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "nsp_src/lib/lib_assert.h"

namespace nsp::thd {

class msg_manager_t;
class msg_base_t;

struct msg_header_t {
    int type = 0;  // every call is synchronous: 0
    int op = 0;    // 0 = on_set, 1 = on_get
    int* pret = nullptr;
    std::condition_variable* pdata_cond = nullptr;
    msg_base_t* pmsg_addr = nullptr;
};

// One queued call; it owns only its vector of pointers to the caller's arguments.
struct msg_data_t {
    msg_header_t header;
    std::vector<void*> args;
};

class msg_base_t {
public:
    msg_base_t() = default;
    msg_base_t(const msg_base_t&) = delete;
    msg_base_t& operator=(const msg_base_t&) = delete;
    msg_base_t(msg_base_t&&) = delete;
    msg_base_t& operator=(msg_base_t&&) = delete;
    virtual ~msg_base_t();

    // Runs one queued record on the owner thread.
    virtual void execute(msg_data_t& msg_data) = 0;

    bool is_registered() const { return m_registered.load(); }

protected:
    static constexpr int op_set = 0;
    static constexpr int op_get = 1;
    static constexpr int register_wait_tries = 10000;  // 1 ms each: 10 s in all

    // Waits up to 10 s for register_msg (a caller may start before its engine).
    bool _wait_registered() const {
        for (int i = 0; i < register_wait_tries; ++i) {
            if (m_registered.load()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return m_registered.load();
    }

    // Queues the record to the owner thread and blocks until _complete; returns the result.
    int _call(int op, std::vector<void*>&& args);

    // Called by execute on the owner thread once the result slot is written.
    void _complete(msg_data_t& msg_data);

private:
    friend class msg_manager_t;

    std::atomic<bool> m_registered{false};  // set last by register_msg
    msg_manager_t* m_manager = nullptr;
    std::mutex* m_psend_mutex = nullptr;
    std::mutex m_mutex;   // guards m_done: the hand-over of a completed call
    bool m_done = false;  // completion flag; the caller's wait ends only on it
};

template <typename... Args>
class msg_t : public msg_base_t {
public:
    // Runs on_set with the arguments on the owner thread, blocks, returns its result.
    int send(Args&... args) { return _request(op_set, args...); }

    // Runs on_get with the arguments on the owner thread, blocks, returns its result.
    int fetch(Args&... args) { return _request(op_get, args...); }

    void execute(msg_data_t& msg_data) override {
        NSP_ASSERT(msg_data.header.pret != nullptr);
        NSP_ASSERT(msg_data.header.pdata_cond != nullptr);
        if (msg_data.header.pret == nullptr || msg_data.header.pdata_cond == nullptr) return;
        *msg_data.header.pret = 0;
        if (NSP_ASSERT(msg_data.args.size() == sizeof...(Args))) {
            *msg_data.header.pret =
                _invoke(msg_data.header.op, msg_data.args, std::index_sequence_for<Args...>{});
        }
        _complete(msg_data);
    }

protected:
    virtual int on_set(Args&... /*args*/) {
        NSP_ASSERT(0);
        return 0;
    }
    virtual int on_get(Args&... /*args*/) {
        NSP_ASSERT(0);
        return 0;
    }

private:
    int _request(int op, Args&... args) {
        if (!_wait_registered()) {
            NSP_ASSERT(0);
            return 0;
        }
        return _call(op, std::vector<void*>{const_cast<void*>(static_cast<const void*>(&args))...});
    }

    template <std::size_t... I>
    int _invoke(int op, std::vector<void*>& args, std::index_sequence<I...>) {
        // The size was checked by the caller: every element exists.
        if (op == op_set) return on_set(*static_cast<std::remove_reference_t<Args>*>(args[I])...);
        return on_get(*static_cast<std::remove_reference_t<Args>*>(args[I])...);
    }
};

}  // namespace nsp::thd
