// velkaro-cli: command-line access to the instruments through the link engine.
// Argument parsing is CLI11's; each subcommand group registers itself (cli_commands.h).
#include <cstdio>
#include <sstream>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/plib_log.h"
#include "common/plib_version.h"
#include "remote/remote_main.h"
#include "visa/visa_types.h"

namespace velkaro_cli {

std::string status_description(int status) {
    // VISA's own names, so that a user can look a status up in any VISA manual.
    const char* name = visa::status_name(status);
    char text[160];
    std::snprintf(text, sizeof(text), "0x%08X %s: ", static_cast<unsigned>(status),
                  name == nullptr ? "(unnamed status)" : name);
    return text + std::string(remote_status_text(status));
}

std::string exit_code_help() {
    std::string text = "Exit codes (every command):";
    for (const cli_exit_info_t& e : cli_exit_table)
        text += "\n  " + std::to_string(static_cast<int>(e.code)) + "  " + e.meaning;
    return text;
}

std::string terminated_command(const std::string& command) {
    if (!command.empty() && command.back() == '\n') return command;
    return command + "\n";
}

}  // namespace velkaro_cli

int main(int argc, char** argv) {
    // Before anything can print: the libraries' diagnostic lines go to standard error.
    velkaro_cli::route_diagnostics_to_stderr();
    // The core's step lines (identification, record paths, VISA statuses) are for
    // --verbose only; a script reading standard error sees failures and warnings.
    plib_set_log_sink([](const std::string& line) {
        if (velkaro_cli::verbose()) std::fprintf(stderr, "velkaro-cli: %s\n", line.c_str());
    });
    CLI::App app{"Command-line access to VXA and VXB multimeters over VISA."};
    app.require_subcommand(1);
    app.fallthrough();  // --verbose after the subcommand too
    app.set_version_flag("--version", std::string("velkaro-cli ") + plib_version_number);
    app.add_flag_callback(
        "-v,--verbose", [] { velkaro_cli::set_verbose(true); },
        "Also print the program's step lines (identification, files) on standard error");
    app.footer(velkaro_cli::exit_code_help());
    velkaro_cli::cli_context_t context;
    velkaro_cli::register_link_commands(app, context);
    velkaro_cli::register_identify_commands(app, context);
    velkaro_cli::register_measure_commands(app, context);
    velkaro_cli::register_project_commands(app, context);
    velkaro_cli::register_scan_commands(app, context);
    velkaro_cli::register_run_commands(app, context);
    velkaro_cli::register_watch_commands(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // CLI11 prints the help or the complaint; a complaint is a usage error. Help and
        // version are results (standard output), complaints are not.
        std::ostringstream out, err;
        const int code = app.exit(e, out, err);
        velkaro_cli::write_results(out.str());
        std::fputs(err.str().c_str(), stderr);
        return code == 0 ? velkaro_cli::cli_exit_ok : velkaro_cli::cli_exit_usage;
    }
    std::fflush(stdout);
    std::fflush(velkaro_cli::results());
    return context.exit_code;
}
