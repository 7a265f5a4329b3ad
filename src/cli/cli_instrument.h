// The one way the commands open an instrument: a manager from the registry, bound to
// the resource and connected as the program connects an instrument it adds
// (identification, "*RST", then the stored configuration).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "cli/cli_commands.h"

class cfg_main_t;
class plib_mngr_t;

namespace velkaro_cli {

struct cli_open_request_t;
struct cli_opened_t;

// Owns a manager of the registry and releases it (which disconnects the instrument)
// when the command ends, however it ends.
class cli_mngr_guard_t {
public:
    cli_mngr_guard_t() = default;
    cli_mngr_guard_t(cli_mngr_guard_t&& other) noexcept;
    cli_mngr_guard_t& operator=(cli_mngr_guard_t&&) = delete;
    ~cli_mngr_guard_t();

    // Null when the opening failed before a manager was made.
    plib_mngr_t* mngr() const { return m_pmngr; }
    // The manager's facade; only with a manager.
    cfg_main_t& cfg() const;

private:
    friend cli_opened_t open_instrument(const cli_open_request_t& request);
    plib_mngr_t* m_pmngr = nullptr;
    std::string m_resource;  // empty while the manager is not bound
};

// VISA's name of a status ("VI_ERROR_TMO"), or its number when VISA has no name for it.
std::string status_text(int status);

// What the engines reported during a run. Written by the link and acquisition threads
// (through the callbacks watch_run installs), read by the command's thread: atomics only.
struct cli_run_events_t {
    std::atomic<bool> link_lost{false};
    std::atomic<bool> record_write_failed{false};
    int listener = 0;  // the fan-out listener of watch_run; written before it is shared
};

struct cli_open_request_t {
    std::string model;
    std::string resource;
    pugi::xml_node section;          // a project section to load first, or null
    bool send_configuration = true;  // false: identify and reset only
    // Runs on the new manager before anything reaches the instrument; a result other
    // than cli_exit_ok (with its message) ends the opening there.
    std::function<cli_exit_t(cfg_main_t&, std::string& message)> before_connect;
};

struct cli_opened_t {
    cli_mngr_guard_t guard;
    cli_exit_t result = cli_exit_ok;
    std::string message;  // what went wrong, when result is not cli_exit_ok
    int visa_status = 0;  // the VISA status behind the failure, when one is known
    // Watched from the manager's creation on, so a link lost during set-up is heard too.
    std::shared_ptr<cli_run_events_t> events;
};

cli_opened_t open_instrument(const cli_open_request_t& request);

// Listens to the link engine's link lost and the acquisition engine's record-write
// failure (open_instrument does, at once), through the manager's event fan-out.
std::shared_ptr<cli_run_events_t> watch_run(plib_mngr_t& mngr);
// Hands over what the engines reported up to now, then stops the calls into the events
// of watch_run (before the manager goes). Idempotent.
void unwatch_run(plib_mngr_t& mngr);

// The longest a healthy run may go without a new reading, from the link's own time-out:
// the failures that raise link lost, each a full time-out, plus `pace_s` (the run's own
// gap between readings) and a small margin.
double stall_limit_s(cfg_main_t& cfg, plib_mngr_t& mngr, double pace_s);

// "the link to the VXA-2 at RESOURCE was lost (VI_ERROR_CONN_LOST)": probes the session once for the
// VISA status, because the link engine reports the loss without one.
// The probe's status goes to *status when given.
std::string describe_link_lost(cfg_main_t& cfg, plib_mngr_t& mngr, const std::string& model,
                               const std::string& resource, int* status = nullptr);

}  // namespace velkaro_cli
