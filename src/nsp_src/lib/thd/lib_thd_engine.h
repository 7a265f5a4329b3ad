// The common frame of an engine: its message thread, its periodic timer task with the
// tick lane that runs it, its notification callback, and messages declared in one line each.
//
// Ticks: the shared timer thread only posts a tick request to the engine's own tick lane
// (a thread "<name>-tick", made with the task) and goes on at once; the lane runs the
// tick. A slow or hung instrument so holds up its own ticks and nobody else's. Requests
// that arrive while a tick runs fold into one: the lane runs at most one tick behind.
//
// An engine derives from engine_t<its notification kind> and declares each message as
// a member built from its handlers:
//
//     nsp::thd::handler_msg_t<nsp::thd::msg_args_t<plib_data_t>, nullptr, &my_engine_t::_on_latest_get>
//         m_latest_msg{this};
//
// The member registers itself with the engine's manager when it is constructed, so
// messages are registered in member order; set_handler/get_handler (a member function
// of the engine taking the message's arguments, or nullptr where the direction is not
// supported) run on the engine thread. The engine's constructor ends with
// _start_thread(); its destructor begins with _stop_engine(), before any member a
// handler or a tick uses is destroyed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "nsp_src/lib/thd/lib_notifier.h"
#include "nsp_src/lib/thd/lib_thd_msg.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"

namespace nsp::thd {

// The argument list of a handler message (the list of msg_t).
template <typename... Args>
struct msg_args_t {};

template <typename ArgList, auto SetHandler, auto GetHandler = nullptr>
class handler_msg_t;

// Thread, quit flag, message manager and timer task of one engine.
class engine_base_t {
public:
    engine_base_t(const engine_base_t&) = delete;
    engine_base_t& operator=(const engine_base_t&) = delete;

protected:
    // `thread_name`: at most 15 characters; `dispatch_timeout_ms`: how long the idle
    // thread waits for a message before it looks at the quit flag again.
    engine_base_t(std::string thread_name, unsigned dispatch_timeout_ms);
    // The derived destructor must have called _stop_engine() (checked).
    ~engine_base_t();

    // Starts the message thread; the last step of the derived constructor.
    void _start_thread();
    // Removes the timer task, then quits and joins the tick lane (waiting for a tick that
    // runs now, so none runs after it) and the message thread. Safe to call twice.
    void _stop_engine();

    // Creates the engine's periodic task on the shared timer thread (one per engine) and
    // the tick lane that runs `tick`.
    void _create_timer_task(std::function<void()> tick, int period_ms, bool enabled);
    // A new period, counted from now; enables the task.
    void _restart_timer_task(int period_ms);

private:
    template <typename, auto, auto>
    friend class handler_msg_t;

    void _register_msg(msg_base_t* msg) { m_msg_manager.register_msg(msg); }
    // Timer thread: asks the lane for a tick and returns at once.
    void _request_tick();
    void _tick_lane_main();

    const std::string m_thread_name;
    const unsigned m_dispatch_timeout_ms;
    int m_task_id = -1;  // written by the constructor only
    msg_manager_t m_msg_manager;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;

    // The tick lane. m_tick is written by _create_timer_task before the lane starts.
    std::function<void()> m_tick;
    std::thread m_tick_thread;
    std::mutex m_tick_mutex;  // guards the two flags below
    std::condition_variable m_tick_cond;
    bool m_tick_requested = false;
    bool m_tick_quit = false;
};

// An engine whose notifications are of kind Notify.
template <typename Notify>
class engine_t : public engine_base_t {
public:
    // Replaces the notify callback, from any thread. The callback runs on the thread that
    // produced the notification, after the engine has released its locks. Once this
    // returns, the previous callback is not running on another thread and is never called
    // again (called from inside the callback, it does not wait for that call itself).
    void set_notify_callback(std::function<void(Notify)> callback) { m_notifier.set(std::move(callback)); }

protected:
    using engine_base_t::engine_base_t;
    using notify_list_t = nsp::thd::notify_list_t<Notify>;

    // Delivers the notifications of one operation in order; call with no engine lock held.
    void _deliver(const notify_list_t& notes) { notes.deliver(m_notifier); }
    // One notification; false when no callback is set.
    bool _notify(Notify notify) { return m_notifier.notify(notify); }

private:
    notifier_t<Notify> m_notifier;
};

namespace detail {
template <typename F>
struct handler_owner;
template <typename R, typename C, typename... P>
struct handler_owner<R (C::*)(P...)> {
    using type = C;
};
template <typename R, typename C, typename... P>
struct handler_owner<R (C::*)(P...) const> {
    using type = C;
};
template <auto F>
constexpr bool is_handler = !std::is_same_v<decltype(F), std::nullptr_t>;
template <auto SetHandler, auto GetHandler>
using owner_of_t = typename handler_owner<
    std::conditional_t<is_handler<SetHandler>, decltype(SetHandler), decltype(GetHandler)>>::type;
}  // namespace detail

template <typename... Args, auto SetHandler, auto GetHandler>
class handler_msg_t<msg_args_t<Args...>, SetHandler, GetHandler> : public msg_t<Args...> {
public:
    using owner_t = detail::owner_of_t<SetHandler, GetHandler>;
    static_assert(detail::is_handler<SetHandler> || detail::is_handler<GetHandler>,
                  "a message needs a handler");

    // Binds the message to `owner` and registers it with the owner's manager.
    explicit handler_msg_t(owner_t* owner) : m_owner(owner) {
        engine_base_t& engine = *owner;
        engine._register_msg(this);
    }

protected:
    int on_set(Args&... args) override {
        if constexpr (detail::is_handler<SetHandler>) {
            return (m_owner->*SetHandler)(args...);
        } else {
            return msg_t<Args...>::on_set(args...);  // the contract violation of an unsupported direction
        }
    }
    int on_get(Args&... args) override {
        if constexpr (detail::is_handler<GetHandler>) {
            return (m_owner->*GetHandler)(args...);
        } else {
            return msg_t<Args...>::on_get(args...);
        }
    }

private:
    owner_t* const m_owner;
};

}  // namespace nsp::thd
