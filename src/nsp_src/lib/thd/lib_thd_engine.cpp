#include "nsp_src/lib/thd/lib_thd_engine.h"

#include "nsp_src/lib/lib_assert.h"
#include "nsp_src/lib/lib_timer/lib_timer.h"

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
    // The task goes first: remove_task waits for a running tick, and no tick may start
    // after the engine thread is gone (its notification may call the engine's messages).
    if (m_task_id != -1) {
        nsp::timer::lib_timer_t::instance().remove_task(m_task_id);
        m_task_id = -1;
    }
    m_quit.store(true);
    if (m_thread.joinable()) m_thread.join();
}

void engine_base_t::_create_timer_task(std::function<void()> tick, int period_ms, bool enabled) {
    if (!NSP_ASSERT(m_task_id == -1)) return;
    m_task_id = nsp::timer::lib_timer_t::instance().create_task([tick = std::move(tick)](int) { tick(); },
                                                                period_ms, -1, enabled);
}

void engine_base_t::_restart_timer_task(int period_ms) {
    if (!NSP_ASSERT(m_task_id != -1)) return;
    nsp::timer::lib_timer_t::instance().restart_task(m_task_id, period_ms, true);
}

}  // namespace nsp::thd
