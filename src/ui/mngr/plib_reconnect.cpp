#include "ui/mngr/plib_reconnect.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "common/plib_measure_type.h"
#include "drv/drv_link.h"
#include "drv/if/drv_if.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"
#include "scan/scan_main.h"
#include "ui/mngr/plib_mngr_events.h"

namespace {

int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string seconds_text(double s) {
    char text[32];
    std::snprintf(text, sizeof text, s < 10 ? "%.1f s" : "%.0f s", s);
    return text;
}

// The reply without quotes, spaces and line end, in upper case.
std::string bare(std::string reply) {
    std::string out;
    for (char c : reply)
        if (c != '"' && c != '\n' && c != '\r' && c != ' ')
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

plib_reconnect_t::plib_reconnect_t(cfg_main_t* cfg, acq_main_t* acq, scan_main_t* scan, drv_if_t* driver,
                                   drv_link_t* link, plib_mngr_events_t* events, std::string model)
    : m_cfg(cfg), m_acq(acq), m_scan(scan), m_driver(driver), m_link(link), m_events(events),
      m_model(std::move(model)) {
    m_thread = std::thread([this] { _thread_main(); });
    m_listener = m_events->add_listener([this](const plib_mngr_event_t& e) { _on_event(e); });
}

plib_reconnect_t::~plib_reconnect_t() {
    m_events->remove_listener(m_listener);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_cond.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

namespace {
std::mutex default_mutex;  // guards default_value
plib_reconnect_policy_t default_value;
}  // namespace

void plib_reconnect_t::set_default_policy(const plib_reconnect_policy_t& policy) {
    std::lock_guard<std::mutex> lock(default_mutex);
    default_value = policy;
}

plib_reconnect_policy_t plib_reconnect_t::default_policy() {
    std::lock_guard<std::mutex> lock(default_mutex);
    return default_value;
}

void plib_reconnect_t::set_policy(const plib_reconnect_policy_t& policy) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_policy = policy;
        m_policy_set = true;
    }
    m_cond.notify_all();
}

plib_reconnect_policy_t plib_reconnect_t::policy() const {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_policy_set) return m_policy;
    }
    return default_policy();
}

plib_reconnect_t::state_t plib_reconnect_t::state() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

std::vector<plib_link_gap_t> plib_reconnect_t::gaps() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_gaps;
}

void plib_reconnect_t::cancel() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_state != state_reconnecting) return;
    m_cancel = true;
    m_cond.notify_all();
    m_cond.wait(lock, [this] { return !m_busy && m_state != state_reconnecting; });
    m_cancel = false;
}

uint64_t plib_reconnect_t::_readings() const {
    if (m_scan != nullptr && m_scan->get_run_state() == 1) {
        plib_scan_run_state_t info;
        m_scan->m_scan_run_state_info_msg.fetch(info);
        return info.readings_count;
    }
    plib_record_run_state_info_t info;
    m_acq->m_acq_record_run_state_info_msg.fetch(info);
    return info.total_count;
}

std::string plib_reconnect_t::_where() const {
    return "the " + m_cfg->get_model() + " at " + m_cfg->remote()->get_info().resource;
}

void plib_reconnect_t::_post(int kind, const std::string& text) {
    plib_mngr_event_t event;
    event.source = plib_mngr_event_t::source_mngr;
    event.kind = kind;
    event.text = text;
    m_events->post(std::move(event));
}

void plib_reconnect_t::_on_event(const plib_mngr_event_t& event) {
    if (event.source != plib_mngr_event_t::source_remote || event.kind != remote_notify_link_lost) return;
    const bool measuring = m_acq->get_run_state() == 1;
    const bool scanning = m_scan != nullptr && m_scan->get_run_state() == 1;
    const uint64_t readings = (measuring || scanning) ? _readings() : 0;
    double first = 1.0;
    const plib_reconnect_policy_t current = policy();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Repeated reports of one outage (the engines keep failing) are one gap.
        if (!current.enabled || m_state == state_reconnecting) return;
        m_policy = current;  // the policy of this outage
        m_state = state_reconnecting;
        m_was_measuring = measuring;
        m_was_scanning = scanning;
        plib_link_gap_t gap;
        gap.start_us = now_us();
        gap.readings_before = readings;
        m_gaps.push_back(gap);
        first = current.first_delay_s;
    }
    m_cond.notify_all();
    _post(mngr_notify_reconnecting, "the link to " + _where() + " was lost; trying again in " +
                                        seconds_text(first) + (measuring ? " (measuring goes on when it is back)"
                                                               : scanning ? " (scanning goes on when it is back)"
                                                                          : ""));
}

int plib_reconnect_t::_attempt(bool& kept_running) {
    cfg_identity_t found;
    const int r = m_cfg->remote()->reconnect(found);
    if (r == cfg_remote_t::result_not_the_model) return 1;
    if (r != cfg_remote_t::result_ok) return -1;
    bool measuring = false, scanning = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        measuring = m_was_measuring && m_acq->get_run_state() == 1;
        scanning = m_was_scanning && m_scan != nullptr && m_scan->get_run_state() == 1;
    }
    const unsigned long session = m_driver->get_session();
    std::string reply;
    kept_running = false;
    if (scanning) {
        kept_running = m_link->query(session, "ROUT:STAR?\n", reply) == 0 && bare(reply) == "1";
    } else {
        const int f = m_cfg->get_function();
        const std::string scpi = measure_scpi(static_cast<plib_measure_type_t>(f));
        kept_running = m_link->query(session, "FUNC?\n", reply) == 0 && !scpi.empty() && bare(reply) == bare(scpi);
        if (kept_running && measuring) {
            reply.clear();
            kept_running = m_link->query(session, "TRIG:COUN?\n", reply) == 0 && !bare(reply).empty();
        }
    }
    if (kept_running) return 0;
    // The instrument lost its state (it was switched off, or reset): give it ours again.
    m_cfg->remote()->restore_configuration();
    if (scanning) {
        if (cfg_scan_config_t* sc = m_cfg->get_scan_config()) sc->apply_scan_config();
        m_driver->set_scan_start(1);
    } else if (measuring) {
        m_cfg->set_trig_count_inf();
        m_cfg->initiate();
    }
    return 0;
}

void plib_reconnect_t::_thread_main() {
    nsp::thd::set_thread_name("reconnect");
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cond.wait(lock, [this] { return m_quit || m_state == state_reconnecting; });
        if (m_quit) return;
        const auto started = std::chrono::steady_clock::now();
        double delay = std::max(0.05, m_policy.first_delay_s);
        // Bounded: every pass waits `delay` (at least 50 ms) and the attempts end at the
        // give-up time, a cancel or the end of the object.
        for (;;) {
            const auto wake = std::chrono::steady_clock::now() + std::chrono::duration<double>(delay);
            m_cond.wait_until(lock, wake, [this] { return m_quit || m_cancel; });
            if (m_quit) return;
            if (m_cancel) {
                m_state = state_idle;
                m_cond.notify_all();
                break;
            }
            m_busy = true;
            lock.unlock();
            bool kept = false;
            const int r = _attempt(kept);
            const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            lock.lock();
            m_busy = false;
            const plib_reconnect_policy_t policy = m_policy;
            if (r == 0) {
                m_state = state_idle;
                const bool resumed = m_was_measuring || m_was_scanning;
                plib_link_gap_t& gap = m_gaps.back();
                gap.end_us = now_us();
                gap.resumed = resumed;
                gap.kept_running = kept && resumed;
                const std::string what = m_was_scanning   ? (kept ? "scanning went on" : "scanning started again")
                                         : m_was_measuring ? (kept ? "measuring went on, the readings it kept are fetched"
                                                                   : "its settings were sent again and measuring started again")
                                                           : (kept ? "its settings were kept" : "its settings were sent again");
                m_cond.notify_all();
                lock.unlock();
                _post(mngr_notify_reconnected, _where() + " is back after " + seconds_text(waited) + ": " + what);
                lock.lock();
                break;
            }
            if (r == 1) {
                m_state = state_refused;
                m_cond.notify_all();
                const bool stop_acq = m_was_measuring, stop_scan = m_was_scanning;
                lock.unlock();
                // Not our instrument: its run must not go on into our files.
                if (stop_acq) m_cfg->set_run_state(0);
                if (stop_scan) m_cfg->set_scan_run_state(0);
                const cfg_identity_t found = m_cfg->remote()->found_identity();
                _post(mngr_notify_reconnect_refused,
                      "another instrument answered at " + m_cfg->remote()->get_info().resource + " (" +
                          found.manufacturer + ", " + found.product_type + ", serial " + found.serial_number +
                          "): it is not resumed");
                lock.lock();
                break;
            }
            if (policy.give_up_s > 0 && waited >= policy.give_up_s) {
                m_state = state_gave_up;
                m_cond.notify_all();
                lock.unlock();
                _post(mngr_notify_reconnect_gave_up,
                      _where() + " did not come back within " + seconds_text(policy.give_up_s) + "; no more tries");
                lock.lock();
                break;
            }
            delay = std::min(std::max(policy.max_delay_s, 0.05), delay * 2);
        }
    }
}
