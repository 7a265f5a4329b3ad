// One notification callback of an engine, with one rule for replacing it.
//
// notify() calls the installed callback outside every lock of the notifier, on the
// calling thread, so a callback may call the engine (its setters, its messages) and
// even set() or clear() itself. set() and clear() return only once no call of the
// callback they replaced is running on another thread: after clear() the object the
// old callback points to may be deleted. A call of set() from inside a running
// callback does not wait for that call itself (it would wait for its own thread),
// nor for other threads that are themselves waiting in set() from inside a callback
// (two of them would wait for each other for ever).
//
// Callbacks run on whichever thread notifies; several threads may notify at once. Since
// set() waits for running calls, it must not be called while holding anything such a
// call may wait for (for example on an engine thread whose messages the callback sends).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace nsp::thd {

// The bookkeeping of notifier_t, free of the callback's type.
class notifier_core_t {
public:
    notifier_core_t() = default;
    notifier_core_t(const notifier_core_t&) = delete;
    notifier_core_t& operator=(const notifier_core_t&) = delete;
    ~notifier_core_t();

protected:
    // Starts one call on this thread; returns the callback it must make (null: none set).
    std::shared_ptr<const void> _begin_call();
    // Ends the call _begin_call started on this thread.
    void _end_call();
    // Installs `callback` and waits until no call of any earlier callback runs elsewhere;
    // the replaced callback is destroyed before it returns, outside the lock.
    void _replace(std::shared_ptr<const void> callback);

private:
    struct call_t {
        std::thread::id thread;
        uint64_t epoch;  // m_epoch when the call began: the callback it runs
    };

    bool _old_call_running_elsewhere(uint64_t epoch) const;

    // Guards every member below. Never held while a callback runs.
    std::mutex m_mutex;
    std::condition_variable m_call_ended;            // signalled whenever a call ends or a setter waits
    std::shared_ptr<const void> m_callback;          // null: nothing to call
    uint64_t m_epoch = 0;                            // incremented by every replacement
    std::vector<call_t> m_calls;                     // calls running now, at most one per thread level
    std::vector<std::thread::id> m_waiting_in_call;  // threads waiting in set() inside a callback
};

template <typename T>
class notifier_t : public notifier_core_t {
public:
    using callback_t = std::function<void(T)>;

    // Replaces the callback (an empty one clears it); see the rule above.
    void set(callback_t callback) {
        std::shared_ptr<const void> p;
        if (callback) p = std::make_shared<const callback_t>(std::move(callback));
        _replace(std::move(p));
    }
    void clear() { _replace(nullptr); }

    // Calls the callback with `value`; false when none is set.
    bool notify(T value) {
        std::shared_ptr<const void> p = _begin_call();
        if (!p) {
            _end_call();
            return false;
        }
        (*static_cast<const callback_t*>(p.get()))(value);
        // Our reference goes before the call is marked ended: once set() returns, nothing
        // of the old callback (its captures included) is touched on this thread again.
        p.reset();
        _end_call();
        return true;
    }
};

// The notifications one engine operation produced, delivered in order once its locks
// are released. Holds up to N; an operation never produces more.
template <typename T, int N = 8>
struct notify_list_t {
    T items[N];
    int count = 0;
    void push(T n) {
        if (count < N) items[count++] = n;
    }
    void deliver(notifier_t<T>& notifier) const {
        for (int i = 0; i < count; ++i) notifier.notify(items[i]);
    }
};

}  // namespace nsp::thd
