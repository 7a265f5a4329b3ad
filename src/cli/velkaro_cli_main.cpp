// velkaro-cli: command-line access to the instruments through the link engine.
// Argument parsing is CLI11's; each subcommand group registers itself (cli_commands.h).
#include <cstdio>
#include <map>

#include "cli/cli_commands.h"
#include "remote/remote_main.h"

namespace velkaro_cli {

std::string status_description(int status) {
    // VISA's own names, so that a user can look a status up in any VISA manual.
    static const std::map<unsigned, const char*> names = {
        {0x00000000U, "VI_SUCCESS"},
        {0x3FFF0005U, "VI_SUCCESS_TERM_CHAR"},
        {0x3FFF0006U, "VI_SUCCESS_MAX_CNT"},
        {0xBFFF0000U, "VI_ERROR_SYSTEM_ERROR"},
        {0xBFFF000EU, "VI_ERROR_INV_OBJECT"},
        {0xBFFF000FU, "VI_ERROR_RSRC_LOCKED"},
        {0xBFFF0010U, "VI_ERROR_INV_EXPR"},
        {0xBFFF0011U, "VI_ERROR_RSRC_NFOUND"},
        {0xBFFF0012U, "VI_ERROR_INV_RSRC_NAME"},
        {0xBFFF0013U, "VI_ERROR_INV_ACC_MODE"},
        {0xBFFF0015U, "VI_ERROR_TMO"},
        {0xBFFF0016U, "VI_ERROR_CLOSING_FAILED"},
        {0xBFFF001DU, "VI_ERROR_NSUP_ATTR"},
        {0xBFFF0030U, "VI_ERROR_ABORT"},
        {0xBFFF003CU, "VI_ERROR_ALLOC"},
        {0xBFFF003EU, "VI_ERROR_IO"},
        {0xBFFF0067U, "VI_ERROR_NSUP_OPER"},
        {0xBFFF0072U, "VI_ERROR_RSRC_BUSY"},
        {0xBFFF0078U, "VI_ERROR_INV_PARAMETER"},
        {0xBFFF009EU, "VI_ERROR_LIBRARY_NFOUND"},
        {0xBFFF00A5U, "VI_ERROR_INTF_NUM_NCONFIG"},
        {0xBFFF00A6U, "VI_ERROR_CONN_LOST"},
    };
    const auto code = static_cast<unsigned>(status);
    const auto it = names.find(code);
    char text[160];
    std::snprintf(text, sizeof(text), "0x%08X %s: ", code,
                  it == names.end() ? "(unnamed status)" : it->second);
    return text + std::string(remote_status_text(status));
}

std::string terminated_command(const std::string& command) {
    if (!command.empty() && command.back() == '\n') return command;
    return command + "\n";
}

}  // namespace velkaro_cli

int main(int argc, char** argv) {
    CLI::App app{"Command-line access to VXA and VXB multimeters over VISA."};
    app.require_subcommand(1);
    velkaro_cli::cli_context_t context;
    velkaro_cli::register_link_commands(app, context);
    velkaro_cli::register_identify_commands(app, context);
    velkaro_cli::register_measure_commands(app, context);
    velkaro_cli::register_project_commands(app, context);
    velkaro_cli::register_scan_commands(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return context.exit_code;
}
