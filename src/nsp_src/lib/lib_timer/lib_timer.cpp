#include "nsp_src/lib/lib_timer/lib_timer.h"

#include <algorithm>
#include <utility>

#include "nsp_src/lib/lib_assert.h"

namespace nsp::timer {

lib_timer_t& lib_timer_t::instance() {
    // Never destroyed: the detached thread uses it until the process ends.
    static lib_timer_t* const s_instance = new lib_timer_t();
    return *s_instance;
}

lib_timer_t::lib_timer_t() {
    // The id is stored under the lock so that the timer thread reads it ordered.
    std::lock_guard<std::mutex> lock(m_mutex);
    std::thread thread(&lib_timer_t::_thread_main, this);
    m_thread_id = thread.get_id();
    thread.detach();
}

int lib_timer_t::create_task(std::function<void(int)> callback, int period_ms, int count, bool enable) {
    std::lock_guard<std::mutex> lock(m_mutex);
    timer_task_t task;
    task.id = m_next_id++;
    task.enabled = enable;
    task.period_ms = period_ms;
    task.elapsed_ms = 0;
    task.count = count;
    task.remaining = count;
    task.callback = std::move(callback);
    m_task_list.push_back(std::move(task));
    return m_task_list.back().id;
}

void lib_timer_t::restart_task(int id, int period_ms, bool enable) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = _find(id);
    if (it == m_task_list.end()) {
        NSP_ASSERT(0);
        return;
    }
    if (period_ms != -1) it->period_ms = period_ms;
    it->enabled = enable;
    it->elapsed_ms = 0;
    it->remaining = it->count;
}

void lib_timer_t::remove_task(int id) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = _find(id);
    if (it != m_task_list.end()) m_task_list.erase(it);
    // Inside a callback the timer thread would wait for itself; no other callback runs then.
    if (std::this_thread::get_id() == m_thread_id) return;
    // Bounded by the running callback's own duration: the timer thread always clears the id.
    m_idle_cond.wait(lock, [this, id] { return m_running_id != id; });
}

std::vector<timer_task_t>::iterator lib_timer_t::_find(int id) {
    return std::find_if(m_task_list.begin(), m_task_list.end(),
                        [id](const timer_task_t& task) { return task.id == id; });
}

void lib_timer_t::_thread_main() {
    for (;;) {  // the service runs until the process ends
        int tick_ms = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            tick_ms = m_tick_ms;
        }
        if (tick_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(tick_ms));
        _tick();
    }
}

void lib_timer_t::_tick() {
    std::vector<std::pair<int, std::function<void(int)>>> due;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        long long dt = 0;
        if (m_first_tick) {
            m_first_tick = false;
        } else {
            dt = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_last_tick).count();
        }
        m_last_tick = now;
        if (dt >= 0) {
            for (timer_task_t& task : m_task_list) {
                if (task.remaining == 0 || !task.enabled) continue;
                // Saturate instead of overflowing on an absurd period.
                const long long elapsed = std::min<long long>(task.elapsed_ms + dt, 0x7fffffff);
                task.elapsed_ms = static_cast<int>(elapsed);
                if (task.elapsed_ms < task.period_ms) continue;
                due.emplace_back(task.id, task.callback);
                if (task.count != -1) --task.remaining;
                task.elapsed_ms = 0;
            }
        }
    }
    for (auto& [id, callback] : due) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // Removed after collection: its owner may already have freed what it uses.
            if (_find(id) == m_task_list.end()) continue;
            m_running_id = id;
        }
        callback(0);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_running_id = -1;
        }
        m_idle_cond.notify_all();
    }
}

}  // namespace nsp::timer
