// Link subcommands: find, query, write, read.
//
//   velkaro-cli find [--hosts H1,H2] [--ranges CIDR,...] [--json]
//       instruments that can be opened now, each with its identification (model and
//       serial number, as the GUI's search shows them); without --hosts and --ranges the
//       hosts and ranges saved in the GUI's Preferences are probed
//   velkaro-cli query RESOURCE "CMD" [--timeout MS]
//   velkaro-cli write RESOURCE "CMD" [--timeout MS]
//   velkaro-cli read RESOURCE [--timeout MS]
//
// A command without a trailing "\n" gets one: instruments act on a line only once it is
// terminated. Replies are printed unchanged (binary blocks included); a reply longer
// than one link read is completed by further reads. Failures print the VISA status on
// standard error and exit with cli_exit_connect when the resource could not be opened,
// else cli_exit_link. --timeout goes through the link engine, whose
// "_printf_vistatus: ..." diagnostic line goes to standard error with the other
// diagnostics (cli_output.h).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_instrument.h"
#include "cli/cli_output.h"
#include "cli/cli_preferences.h"
#include "cfg/cfg_remote.h"
#include "cfg/resource_registry.h"
#include "common/plib_format.h"
#include "remote/remote_main.h"
#include "visa/visa_discovery.h"
#include "visa/visa_types.h"

namespace velkaro_cli {
namespace {

// A command's reply is a few lines of text; a reply still going on past this many bytes
// (an instrument that never sends its end) is cut and reported as a failure.
constexpr std::size_t max_reply_bytes = 4u * 1024u * 1024u;

struct link_options_t {
    std::string resource;
    std::string command;
    int timeout_ms = -1;  // -1: keep the VISA default
    std::string hosts;
    std::string ranges;
    bool json = false;
};

int report_failure(const char* what, int status, cli_exit_t code = cli_exit_link) {
    std::fprintf(stderr, "velkaro-cli %s: %s\n", what, status_description(status).c_str());
    return code;
}

// Opens the resource and applies the time-out; on failure prints and returns the exit code.
int open_session(remote_main_t& link, const link_options_t& options, const char* what,
                 unsigned long& session) {
    const int status = link.open(options.resource, session);
    if (status < 0) return report_failure(what, status, cli_exit_connect);
    if (options.timeout_ms >= 0) {
        const int timeout_status = link.set_timeout(session, options.timeout_ms);
        if (timeout_status < 0) {
            link.close(session);
            return report_failure(what, timeout_status);
        }
    }
    return cli_exit_ok;
}

// Appends further reads while the link reports a full buffer; returns the last status.
int complete_reply(remote_main_t& link, unsigned long session, int status, std::string& reply) {
    std::string more;
    while (status == visa::VI_SUCCESS_MAX_CNT && reply.size() < max_reply_bytes) {
        status = link.read(session, more);
        reply += more;
        if (more.empty()) break;  // no progress: the status says what happened
    }
    return status;
}

int print_reply(const char* what, int status, const std::string& reply) {
    if (status == visa::VI_SUCCESS_MAX_CNT) {
        // Cut at the limit: not a reply, and not printed as one.
        std::fprintf(stderr, "velkaro-cli %s: the reply did not end within %zu bytes (no end of message); cut\n",
                     what, max_reply_bytes);
        return cli_exit_link;
    }
    write_results(reply);
    return status < 0 ? report_failure(what, status) : cli_exit_ok;
}

int run_find(const link_options_t& options) {
    visa::discovery_settings_t settings = visa::discovery_settings();
    std::vector<std::string> ranges;
    for (std::string r : split_string(options.ranges, ',')) {
        r.erase(0, r.find_first_not_of(" \t"));
        r.erase(r.find_last_not_of(" \t") + 1);
        if (r.empty()) continue;
        std::vector<std::string> expanded;
        std::string error;
        if (!visa::parse_cidr_range(r, expanded, error)) {
            std::fprintf(stderr, "velkaro-cli find: --ranges \"%s\": %s\n", r.c_str(), error.c_str());
            return cli_exit_usage;
        }
        ranges.push_back(r);
    }
    if (options.hosts.empty() && ranges.empty() && std::getenv("VELKARO_VISA_HOSTS") == nullptr) {
        // Nothing named: what the GUI's Preferences saved, as its search would probe.
        const cli_search_preferences_t saved = load_search_preferences();
        settings.hosts = saved.hosts;
        settings.ranges = saved.ranges;
        if (saved.portmapper_port > 0) settings.portmapper_port = saved.portmapper_port;
        if (!saved.hosts.empty() || !saved.ranges.empty()) note("find", "probing the hosts and ranges saved in Preferences");
    } else {
        settings.ranges = ranges;
    }
    visa::set_discovery_settings(settings);
    // Discovery reads the configured hosts when it runs; set them before the link starts.
    if (!options.hosts.empty()) setenv("VELKARO_VISA_HOSTS", options.hosts.c_str(), 1);
    remote_main_t link;
    std::vector<std::string> resources;
    const int status = link.find_resource(resources);
    // Each with what it says it is, as the GUI's search lists them.
    const std::vector<cfg_identity_t> identities = resource_identify_all(resources);
    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (std::size_t i = 0; i < resources.size(); ++i) {
            const cfg_identity_t id = i < identities.size() ? identities[i] : cfg_identity_t();
            list.push_back({{"resource", resources[i]},
                            {"manufacturer", id.manufacturer},
                            {"model", id.product_type},
                            {"serial_number", id.serial_number},
                            {"software_version", id.software_version}});
        }
        nlohmann::json doc = {{"resources", resources}, {"instruments", list}, {"error", nullptr}};
        if (status < 0) doc["error"] = error_json(cli_exit_link, status_description(status), status);
        write_json(doc);
    } else {
        std::string text;
        for (std::size_t i = 0; i < resources.size(); ++i) {
            text += resources[i];
            const cfg_identity_t id = i < identities.size() ? identities[i] : cfg_identity_t();
            if (!id.product_type.empty()) {
                text += "  " + id.product_type;
                if (!id.serial_number.empty()) text += "  " + id.serial_number;
            }
            text += "\n";
        }
        write_results(text);
    }
    return status < 0 ? report_failure("find", status) : cli_exit_ok;
}

int run_query(const link_options_t& options) {
    remote_main_t link;
    unsigned long session = 0;
    if (const int opened = open_session(link, options, "query", session); opened != cli_exit_ok)
        return opened;
    std::string reply;
    int status = link.query(session, terminated_command(options.command), reply);
    status = complete_reply(link, session, status, reply);
    link.close(session);
    return print_reply("query", status, reply);
}

int run_write(const link_options_t& options) {
    remote_main_t link;
    unsigned long session = 0;
    if (const int opened = open_session(link, options, "write", session); opened != cli_exit_ok)
        return opened;
    const int status = link.write(session, terminated_command(options.command));
    link.close(session);
    return status < 0 ? report_failure("write", status) : cli_exit_ok;
}

int run_read(const link_options_t& options) {
    remote_main_t link;
    unsigned long session = 0;
    if (const int opened = open_session(link, options, "read", session); opened != cli_exit_ok) return opened;
    std::string reply;
    int status = link.read(session, reply);
    status = complete_reply(link, session, status, reply);
    link.close(session);
    return print_reply("read", status, reply);
}

void add_timeout_option(CLI::App* sub, link_options_t& options) {
    sub->add_option("--timeout", options.timeout_ms, "I/O time-out in milliseconds")
        ->check(CLI::Range(0, 3600000));
}

}  // namespace

void register_link_commands(CLI::App& app, cli_context_t& context) {
    // Options outlive parsing: the callbacks run after it.
    auto options = std::make_shared<link_options_t>();

    CLI::App* find = app.add_subcommand("find", "List the instruments that can be opened now");
    find->add_option("--hosts", options->hosts,
                     "Comma-separated LAN hosts to probe (default: VELKARO_VISA_HOSTS, else Preferences)");
    find->add_option("--ranges", options->ranges,
                     "Comma-separated CIDR ranges to probe, e.g. 192.168.1.0/24 (default: Preferences)");
    find->add_flag("--json", options->json, "Print one JSON document");
    find->callback([options, &context] { context.exit_code = run_find(*options); });

    CLI::App* query = app.add_subcommand("query", "Send a command and print the reply");
    query->add_option("resource", options->resource, "VISA resource string")->required();
    query->add_option("command", options->command, "SCPI command")->required();
    add_timeout_option(query, *options);
    query->callback([options, &context] { context.exit_code = run_query(*options); });

    CLI::App* write = app.add_subcommand("write", "Send a command");
    write->add_option("resource", options->resource, "VISA resource string")->required();
    write->add_option("command", options->command, "SCPI command")->required();
    add_timeout_option(write, *options);
    write->callback([options, &context] { context.exit_code = run_write(*options); });

    CLI::App* read = app.add_subcommand("read", "Read and print one reply");
    read->add_option("resource", options->resource, "VISA resource string")->required();
    add_timeout_option(read, *options);
    read->callback([options, &context] { context.exit_code = run_read(*options); });
}

}  // namespace velkaro_cli
