// The one way the commands open an instrument: a manager from the registry, bound to
// the resource and connected as the program connects an instrument it adds
// (identification, "*RST", then the stored configuration).
#pragma once

#include <functional>
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
};

cli_opened_t open_instrument(const cli_open_request_t& request);

}  // namespace velkaro_cli
