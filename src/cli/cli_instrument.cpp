#include "cli/cli_instrument.h"

#include <utility>

#include "cfg/cfg_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"

namespace velkaro_cli {

cli_mngr_guard_t::cli_mngr_guard_t(cli_mngr_guard_t&& other) noexcept
    : m_pmngr(std::exchange(other.m_pmngr, nullptr)), m_resource(std::move(other.m_resource)) {}

cli_mngr_guard_t::~cli_mngr_guard_t() {
    if (m_pmngr != nullptr) ui_connect_mngr_t::instance().release_mngr(m_pmngr, m_resource);
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
    opened.guard.m_pmngr = registry.create_mngr(request.model, request.section);
    cfg_main_t& cfg = opened.guard.cfg();
    if (request.before_connect) {
        std::string message;
        const cli_exit_t result = request.before_connect(cfg, message);
        if (result != cli_exit_ok) return refuse(result, message);
    }

    if (registry.is_bound(request.resource)) return refuse(cli_exit_usage, request.resource + " is in use");
    if (registry.bind_mngr(request.resource, opened.guard.mngr()) != 1)
        return refuse(cli_exit_usage, "cannot register " + request.resource);
    opened.guard.m_resource = request.resource;

    cfg_remote_info_t info = cfg.get_info();
    info.resource = request.resource;
    cfg.set_info(info);
    if (!request.send_configuration) cfg.remote()->set_config_transfer(nullptr);
    switch (cfg.connect(1)) {
        case cfg_remote_t::result_ok:
            return opened;
        case cfg_remote_t::result_not_the_model:
            return refuse(cli_exit_model, "the instrument at " + request.resource + " is not a " +
                                              request.model + " (The device doesn't match the model!)");
        default:
            return refuse(cli_exit_connect, "cannot connect to " + request.resource);
    }
}

}  // namespace velkaro_cli
