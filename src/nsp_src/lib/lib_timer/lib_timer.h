// Process-wide periodic tasks on one shared timer thread.
//
// The thread ticks every 10 ms, collects the due tasks under the service mutex and
// runs their callbacks one after the other outside it, so callbacks may create,
// restart or remove tasks. remove_task() waits until a callback of that task which
// is running (or collected and about to run) has finished, so the owner may free
// what the callback uses as soon as it returns; called from inside a callback it
// does not wait (the timer thread would wait for itself). So a thread that the
// callback itself may wait for (for example an engine thread it sends a message to)
// must not call remove_task() for that task.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nsp::timer {

struct timer_task_t {
    int id = 0;
    bool enabled = false;
    int period_ms = 0;                  // interval between two runs
    int elapsed_ms = 0;                 // since the last run or restart
    int count = -1;                     // runs per start; -1 = unlimited
    int remaining = -1;                 // runs left; -1 stays -1
    std::function<void(int)> callback;  // always called with 0
};

class lib_timer_t {
public:
    // The first call creates the service and starts its thread; it lives until the process ends.
    static lib_timer_t& instance();

    lib_timer_t(const lib_timer_t&) = delete;
    lib_timer_t& operator=(const lib_timer_t&) = delete;

    // Returns the new task's id (never reused).
    int create_task(std::function<void(int)> callback, int period_ms, int count, bool enable);
    // period_ms -1 keeps the period; counting restarts from 0 elapsed and `count` runs.
    void restart_task(int id, int period_ms, bool enable);
    // Does not return while that task's callback runs on the timer thread (unless called
    // from inside that very callback); a task removed after collection does not run.
    void remove_task(int id);

private:
    lib_timer_t();
    ~lib_timer_t() = default;

    void _thread_main();
    void _tick();
    std::vector<timer_task_t>::iterator _find(int id);

    std::mutex m_mutex;  // guards every member below
    int m_next_id = 0;
    int m_tick_ms = 10;
    std::vector<timer_task_t> m_task_list;  // creation order
    bool m_first_tick = true;
    std::chrono::steady_clock::time_point m_last_tick;
    int m_running_id = -1;                // task whose callback runs now, -1 none
    std::condition_variable m_idle_cond;  // signalled when m_running_id goes back to -1
    std::thread::id m_thread_id;
};

}  // namespace nsp::timer
