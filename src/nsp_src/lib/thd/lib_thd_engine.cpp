#include "nsp_src/lib/thd/lib_thd_engine.h"

#include "nsp_src/lib/lib_assert.h"
#include "nsp_src/lib/lib_timer/lib_timer.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"

namespace nsp::thd {

engine_base_t::engine_base_t(std::string thread_name, unsigned dispatch_timeout_ms)
    : m_thread_name(std::move(thread_name)), m_dispatch_timeout_ms(dispatch_timeout_ms) {}

engine_base_t::~engine_base_t() {
    // Too late to stop cleanly: the derived members the thread uses are gone already.
    NSP_ASSERT(!m_thread.joinable());
    _stop_engine();
}

void engine_base_t::_start_thread() {
    if (!NSP_ASSERT(!m_thread.joinable())) return;
    m_quit.store(false);
    m_thread = std::thread(
        [this] { run_dispatch_loop(m_msg_manager, m_quit, m_thread_name, m_dispatch_timeout_ms); });
}

void engine_base_t::_stop_engine() {
    // The task goes first, then the lane (which finishes a tick that runs now): no tick may
    // start after the engine thread is gone (its notification may call the engine's messages).
    if (m_task_id != -1) {
        nsp::timer::lib_timer_t::instance().remove_task(m_task_id);
        m_task_id = -1;
    }
    if (m_tick_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_tick_mutex);
            m_tick_quit = true;
        }
        m_tick_cond.notify_all();
        m_tick_thread.join();
    }
    m_quit.store(true);
    if (m_thread.joinable()) m_thread.join();
}

void engine_base_t::_create_timer_task(std::function<void()> tick, int period_ms, bool enabled) {
    if (!NSP_ASSERT(m_task_id == -1)) return;
    m_tick = std::move(tick);
    m_tick_quit = false;
    m_tick_requested = false;
    m_tick_thread = std::thread([this] { _tick_lane_main(); });
    m_task_id = nsp::timer::lib_timer_t::instance().create_task([this](int) { _request_tick(); }, period_ms, -1,
                                                                enabled);
}

void engine_base_t::_request_tick() {
    {
        std::lock_guard<std::mutex> lock(m_tick_mutex);
        if (m_tick_requested) return;  // one is waiting already: they fold into one
        m_tick_requested = true;
    }
    m_tick_cond.notify_one();
}

void engine_base_t::_tick_lane_main() {
    set_thread_name((m_thread_name + "-tick").substr(0, 15));
    std::unique_lock<std::mutex> lock(m_tick_mutex);
    for (;;) {
        m_tick_cond.wait(lock, [this] { return m_tick_requested || m_tick_quit; });
        if (m_tick_quit) return;
        m_tick_requested = false;
        lock.unlock();
        m_tick();
        lock.lock();
    }
}

void engine_base_t::_restart_timer_task(int period_ms) {
    if (!NSP_ASSERT(m_task_id != -1)) return;
    nsp::timer::lib_timer_t::instance().restart_task(m_task_id, period_ms, true);
}

}  // namespace nsp::thd
