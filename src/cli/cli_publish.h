// Publishing for the commands that measure (measure, scan, run): the --publish options,
// the credentials from the environment or a secret file, one publisher for the whole
// command, a feed per instrument, what the targets say while the run goes on (standard
// error, at once), and at the end the wait for the spools to drain and the summary.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_exit.h"
#include "cli/cli_output.h"

class plib_mngr_t;
class plib_mngr_publish_t;
class pub_publisher_t;

namespace velkaro_cli {

struct cli_publish_options_t {
    std::vector<std::string> urls;
    std::string station;      // empty: the host name
    std::string secret_file;  // VELKARO_PUBLISH_TOKEN=... / VELKARO_PUBLISH_PASSWORD=... lines, mode 0600
    std::string ca_file;
    double wait_s = 10;
    std::string spool_dir;    // empty: the XDG state directory
    double spool_cap_mib = 1024;
};

void add_publish_options(CLI::App* cmd, cli_publish_options_t& options);

class cli_publisher_t {
public:
    cli_publisher_t();
    ~cli_publisher_t();

    // Makes the targets and opens their spools; usage with `message` when an option, a
    // credential or a spool is not usable. Nothing to do without --publish.
    cli_exit_t open(const cli_publish_options_t& options, std::string& message);
    bool enabled() const { return m_publisher != nullptr; }

    // A feed of the instrument's readings, subscribed at once; destroy it before the
    // manager. Null when publishing is off.
    std::unique_ptr<plib_mngr_publish_t> attach(plib_mngr_t& mngr);

    // Waits up to --publish-wait for the spools to drain, stops, reports per target
    // (report's "publish", and a line per target on standard output) and returns
    // cli_exit_publish when readings are left spooled, were refused or not spooled.
    int finish(cli_report_t& report);

private:
    std::unique_ptr<pub_publisher_t> m_publisher;
    std::string m_station;
    double m_wait_s = 10;
};

}  // namespace velkaro_cli
