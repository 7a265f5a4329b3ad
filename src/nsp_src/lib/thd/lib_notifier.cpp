#include "nsp_src/lib/thd/lib_notifier.h"

#include <pthread.h>

#include <algorithm>

namespace nsp::thd {

notifier_core_t::~notifier_core_t() {
    // As for the message mutexes: tell ThreadSanitizer the address is free for reuse.
    pthread_mutex_destroy(m_mutex.native_handle());
}

std::shared_ptr<const void> notifier_core_t::_begin_call() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back({std::this_thread::get_id(), m_epoch});
    return m_callback;
}

void notifier_core_t::_end_call() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto self = std::this_thread::get_id();
        // The innermost call of this thread is the last one it pushed.
        for (auto it = m_calls.rbegin(); it != m_calls.rend(); ++it) {
            if (it->thread == self) {
                m_calls.erase(std::next(it).base());
                break;
            }
        }
    }
    m_call_ended.notify_all();
}

bool notifier_core_t::_old_call_running_elsewhere(uint64_t epoch) const {
    const auto self = std::this_thread::get_id();
    for (const call_t& call : m_calls) {
        if (call.epoch >= epoch || call.thread == self) continue;
        const bool waiting = std::find(m_waiting_in_call.begin(), m_waiting_in_call.end(), call.thread) !=
                             m_waiting_in_call.end();
        if (!waiting) return true;
    }
    return false;
}

void notifier_core_t::_replace(std::shared_ptr<const void> callback) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_callback.swap(callback);  // `callback` now holds the old one
    const uint64_t epoch = ++m_epoch;
    const auto self = std::this_thread::get_id();
    const bool in_call = std::any_of(m_calls.begin(), m_calls.end(),
                                     [self](const call_t& call) { return call.thread == self; });
    if (in_call) {
        m_waiting_in_call.push_back(self);
        // Another setter inside a callback may be waiting for this thread's call.
        m_call_ended.notify_all();
    }
    // Bounded by the running calls' own duration: every call ends with _end_call.
    m_call_ended.wait(lock, [this, epoch] { return !_old_call_running_elsewhere(epoch); });
    if (in_call) m_waiting_in_call.erase(std::find(m_waiting_in_call.begin(), m_waiting_in_call.end(), self));
    lock.unlock();
    // The old callback is destroyed here, outside the lock (its captures may call back),
    // unless a call on this very thread still holds it.
    callback.reset();
}

}  // namespace nsp::thd
