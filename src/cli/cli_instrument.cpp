#include "cli/cli_instrument.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "common/plib_format.h"
#include "remote/remote_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_events.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "visa/visa_types.h"

namespace velkaro_cli {

namespace {
// The registry belongs to one thread at a time; `run` opens its instruments side by side.
std::mutex registry_mutex;
}  // namespace

cli_mngr_guard_t::cli_mngr_guard_t(cli_mngr_guard_t&& other) noexcept
    : m_pmngr(std::exchange(other.m_pmngr, nullptr)), m_resource(std::move(other.m_resource)) {}

cli_mngr_guard_t::~cli_mngr_guard_t() {
    if (m_pmngr == nullptr) return;
    plib_mngr_t* taken = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        taken = ui_connect_mngr_t::instance().take_mngr(m_pmngr, m_resource);
    }
    delete taken;  // disconnects and joins its threads, outside the registry's lock
}

cfg_main_t& cli_mngr_guard_t::cfg() const { return *m_pmngr->get_cfg(); }

cli_opened_t open_instrument(const cli_open_request_t& request) {
    cli_opened_t opened;
    auto refuse = [&opened](cli_exit_t result, std::string message) {
        opened.result = result;
        opened.message = std::move(message);
        return std::move(opened);
    };
    ui_connect_mngr_t& registry = ui_connect_mngr_t::instance();
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        opened.guard.m_pmngr = registry.create_mngr(request.model, request.section);
    }
    cfg_main_t& cfg = opened.guard.cfg();
    opened.events = watch_run(*opened.guard.mngr());
    if (request.before_connect) {
        std::string message;
        const cli_exit_t result = request.before_connect(cfg, message);
        if (result != cli_exit_ok) return refuse(result, message);
    }

    {
        std::unique_lock<std::mutex> lock(registry_mutex);
        if (registry.is_bound(request.resource)) {
            lock.unlock();
            return refuse(cli_exit_usage, request.resource + " is in use");
        }
        if (registry.bind_mngr(request.resource, opened.guard.mngr()) != 1) {
            lock.unlock();
            return refuse(cli_exit_usage, "cannot register " + request.resource);
        }
        opened.guard.m_resource = request.resource;
    }

    cfg_remote_info_t info = cfg.get_info();
    info.resource = request.resource;
    cfg.set_info(info);
    if (!request.send_configuration) cfg.remote()->set_config_transfer(nullptr);
    switch (cfg.connect(1)) {
        case cfg_remote_t::result_ok:
            if (opened.events->link_lost)
                return refuse(cli_exit_link, describe_link_lost(cfg, *opened.guard.mngr(), request.model,
                                                                request.resource, &opened.visa_status) +
                                                 " while it was being set up");
            return opened;
        case cfg_remote_t::result_not_the_model:
            break;
        default:
            return refuse(cli_exit_connect, "cannot connect to " + request.resource);
    }
    // Only an instrument that answered readably can be another model; silence or noise
    // is a connection failure.
    const cfg_remote_t& remote = *cfg.remote();
    switch (remote.identify_failure()) {
        case cfg_remote_t::identify_no_reply:
            opened.visa_status = remote.identify_status();
            return refuse(cli_exit_connect, "connection failure: no identification from " + request.resource +
                                                " (" + status_text(remote.identify_status()) + ")");
        case cfg_remote_t::identify_unreadable:
            return refuse(cli_exit_connect, "connection failure: unreadable identification from " +
                                                request.resource + " (garbled or cut short)");
        case cfg_remote_t::identify_other_model:
            break;
    }
    // Name what answered, as the GUI does, so the user sees which model to ask for.
    const cfg_identity_t found = remote.found_identity();
    std::string answers;
    if (!found.product_type.empty()) {
        answers = ": it answers as " + printable_line(found.product_type);
        if (!found.serial_number.empty()) answers += " (" + printable_line(found.serial_number) + ")";
    }
    return refuse(cli_exit_model, "the instrument at " + request.resource + " is not a " + request.model +
                                      answers + " (The device doesn't match the model!)");
}

std::string status_text(int status) {
    const char* name = visa::status_name(static_cast<visa::ViStatus>(status));
    if (name != nullptr) return name;
    char hex[32];
    std::snprintf(hex, sizeof hex, "VISA status 0x%08X", static_cast<unsigned>(status));
    return hex;
}

namespace {
// The listener of watch_run per manager, so unwatch_run needs only the manager.
std::mutex watch_mutex;
std::map<plib_mngr_t*, int> watch_listeners;
}  // namespace

std::shared_ptr<cli_run_events_t> watch_run(plib_mngr_t& mngr) {
    auto events = std::make_shared<cli_run_events_t>();
    std::weak_ptr<cli_run_events_t> weak = events;
    events->listener = mngr.events().add_listener([weak](const plib_mngr_event_t& e) {
        const std::shared_ptr<cli_run_events_t> ev = weak.lock();
        if (!ev) return;
        if (e.source == plib_mngr_event_t::source_remote && e.kind == remote_notify_link_lost)
            ev->link_lost = true;
        if (e.source == plib_mngr_event_t::source_acq && e.kind == acq_notify_record_write_failed)
            ev->record_write_failed = true;
    });
    std::lock_guard<std::mutex> lock(watch_mutex);
    watch_listeners[&mngr] = events->listener;
    return events;
}

void unwatch_run(plib_mngr_t& mngr) {
    int listener = 0;
    {
        std::lock_guard<std::mutex> lock(watch_mutex);
        const auto it = watch_listeners.find(&mngr);
        if (it == watch_listeners.end()) return;
        listener = it->second;
        watch_listeners.erase(it);
    }
    mngr.events().flush(2000);
    mngr.events().remove_listener(listener);
}

double stall_limit_s(cfg_main_t& cfg, plib_mngr_t& mngr, double pace_s) {
    int timeout_ms = 0;
    const auto session = static_cast<unsigned long>(cfg.get_info().session);
    if (mngr.get_remote()->get_timeout(session, timeout_ms) != 0 || timeout_ms <= 0) timeout_ms = 2000;
    return (remote_main_t::link_lost_failures + 1) * (timeout_ms / 1000.0) + std::max(0.0, pace_s) + 2.0;
}

std::string describe_link_lost(cfg_main_t& cfg, plib_mngr_t& mngr, const std::string& model,
                               const std::string& resource, int* status_out) {
    const auto session = static_cast<unsigned long>(cfg.get_info().session);
    std::string reply;
    int status = mngr.get_remote()->query(session, "*STB?\n", reply);
    if (status_out != nullptr) *status_out = status;
    std::string how = status_text(status);
    if (status >= 0) how = "six transfers in a row failed; the link answers again: " + how;
    return "the link to the " + model + " at " + resource + " was lost (" + how + ")";
}

}  // namespace velkaro_cli
