// Subcommand groups of velkaro-cli.
//
// Each group lives in its own cmd_<name>.cpp and adds its subcommands to the
// application through one register_<name>_commands() function declared here; the
// subcommand's callback stores its process exit code in the shared context.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "cli/cli_exit.h"

namespace velkaro_cli {

// The exit-code table as text, for --help.
std::string exit_code_help();

struct cli_context_t {
    int exit_code = cli_exit_ok;
};

// find, query, write, read
void register_link_commands(CLI::App& app, cli_context_t& context);

// identify
void register_identify_commands(CLI::App& app, cli_context_t& context);

// scan
void register_scan_commands(CLI::App& app, cli_context_t& context);

// measure (headless acquisition)
void register_measure_commands(CLI::App& app, cli_context_t& context);

// project show
void register_project_commands(CLI::App& app, cli_context_t& context);

// run (every instrument of a project, unattended)
void register_run_commands(CLI::App& app, cli_context_t& context);

// watch (the live view of the benches on an MQTT broker)
void register_watch_commands(CLI::App& app, cli_context_t& context);

// "0xBFFF0015 VI_ERROR_TMO: <text>": the VISA name of a status and the link's text for it.
std::string status_description(int status);

// SCPI commands are single lines ending in "\n": appends it when the user left it out.
std::string terminated_command(const std::string& command);

}  // namespace velkaro_cli
