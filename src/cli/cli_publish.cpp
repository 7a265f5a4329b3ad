#include "cli/cli_publish.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "pub/pub_publisher.h"
#include "ui/mngr/plib_mngr_publish.h"

namespace velkaro_cli {
namespace {

const char* const token_variable = "VELKARO_PUBLISH_TOKEN";
const char* const password_variable = "VELKARO_PUBLISH_PASSWORD";

// What the targets say, as it happens (their threads): one line each on standard error.
void tell(const pub_event_t& e) {
    std::string text;
    switch (e.kind) {
    case pub_event_t::gone:
        text = e.target + " went away (" + e.reason + "); readings are spooled until it is back";
        break;
    case pub_event_t::back:
        text = e.target + " is back";
        break;
    case pub_event_t::caught_up:
        text = e.target + " caught up: " + std::to_string(e.count) + " spooled readings delivered";
        break;
    case pub_event_t::refused:
        text = e.target + " refused " + std::to_string(e.count) + " readings: " + e.reason;
        break;
    case pub_event_t::spool_full:
        text = "the spool of " + e.target + " is full (" + e.reason +
               "): readings are logged but not published until it has room";
        break;
    case pub_event_t::spool_space:
        text = "the spool of " + e.target + " has room again; " + std::to_string(e.count) +
               " readings were not published";
        break;
    case pub_event_t::spool_error:
        text = e.reason + ": " + std::to_string(e.count) + " readings not published";
        break;
    case pub_event_t::notice:
        text = e.reason;
        break;
    }
    std::fprintf(stderr, "velkaro-cli publish: %s\n", text.c_str());
    std::fflush(stderr);
}

// KEY=VALUE lines (blank lines and # comments skipped), as a systemd EnvironmentFile.
bool read_secret_file(const std::string& path, std::string& token, std::string& password, std::string& message) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        message = "cannot read the secret file \"" + path + "\"";
        return false;
    }
    if ((st.st_mode & 077) != 0 || st.st_uid != ::getuid()) {
        message = "the secret file \"" + path + "\" must belong to you and have mode 0600 (chmod 600)";
        return false;
    }
    std::ifstream in(path);
    if (!in) {
        message = "cannot read the secret file \"" + path + "\"";
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        if (key == token_variable) token = line.substr(eq + 1);
        if (key == password_variable) password = line.substr(eq + 1);
    }
    return true;
}

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace

void add_publish_options(CLI::App* cmd, cli_publish_options_t& o) {
    cmd->add_option("--publish", o.urls,
                    "Publish every logged reading to this database (repeatable): "
                    "http[s]://HOST:PORT/write?db=DB, http[s]://HOST:PORT/api/v2/write?org=ORG&bucket=B "
                    "or mqtt[s]://[USER@]HOST[:PORT]/PREFIX");
    cmd->add_option("--station", o.station, "Station tag of the published readings (default: the host name)");
    cmd->add_option("--publish-secret-file", o.secret_file,
                    "File (mode 0600) with VELKARO_PUBLISH_TOKEN=... or VELKARO_PUBLISH_PASSWORD=...");
    cmd->add_option("--publish-ca", o.ca_file, "CA certificates (PEM) to verify the databases with");
    cmd->add_option("--publish-wait", o.wait_s,
                    "At the end, wait at most S seconds for the spools to drain (default 10)")
        ->check(CLI::Range(0.0, 86400.0));
    cmd->add_option("--publish-spool", o.spool_dir, "Spool directory (default: $XDG_STATE_HOME/velkaro/spool)");
    cmd->add_option("--publish-spool-cap", o.spool_cap_mib, "Spool size cap per target in MiB (default 1024)")
        ->check(CLI::Range(0.0625, 1048576.0));
}

cli_publisher_t::cli_publisher_t() = default;

cli_publisher_t::~cli_publisher_t() {
    if (m_publisher) m_publisher->stop();
}

cli_exit_t cli_publisher_t::open(const cli_publish_options_t& o, std::string& message) {
    if (o.urls.empty()) return cli_exit_ok;
    std::string token, password;
    if (const char* t = std::getenv(token_variable)) token = t;
    if (const char* p = std::getenv(password_variable)) password = p;
    if (!o.secret_file.empty() && !read_secret_file(o.secret_file, token, password, message)) return cli_exit_usage;
    if (!o.ca_file.empty() && ::access(o.ca_file.c_str(), R_OK) != 0) {
        message = "cannot read the CA file \"" + o.ca_file + "\"";
        return cli_exit_usage;
    }
    pub_options_t options;
    options.spool_root = o.spool_dir.empty() ? pub_default_spool_root() : o.spool_dir;
    options.spool_cap_bytes = static_cast<uint64_t>(o.spool_cap_mib * 1024 * 1024);
    auto publisher = std::make_unique<pub_publisher_t>(options);
    for (const std::string& url : o.urls) {
        pub_target_config_t config;
        config.url = url;
        config.ca_file = o.ca_file;
        config.token = token;
        config.password = password;
        std::string error;
        std::unique_ptr<pub_target_t> target = pub_make_target(config, error);
        if (!target) {
            message = "--publish: " + error;
            return cli_exit_usage;
        }
        const std::string name = target->name();
        if (!publisher->add_target(std::move(target), error)) {
            message = "--publish " + name + ": " + error;
            return cli_exit_usage;
        }
    }
    // Each tick's lines, the spool's read-back and the broker client's packets are
    // buffers of hundreds of KiB made and freed a few times a second. With glibc's
    // defaults they come from freshly mapped pages every time (mmap above a threshold, a
    // trimmed heap below it), and the page faults cost more CPU than the rest of
    // publishing together; kept in the heap, their pages are reused. The heap keeps at
    // most 64 MiB it does not use.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    publisher->set_event_callback(&tell);
    publisher->start();
    for (const pub_target_status_t& s : publisher->status())
        if (s.spooled > 0)
            std::fprintf(stderr, "velkaro-cli publish: %s: %llu readings spooled by an earlier run go first\n",
                         s.name.c_str(), static_cast<unsigned long long>(s.spooled));
    m_publisher = std::move(publisher);
    m_station = o.station.empty() ? host_name() : o.station;
    m_wait_s = o.wait_s;
    return cli_exit_ok;
}

std::unique_ptr<plib_mngr_publish_t> cli_publisher_t::attach(plib_mngr_t& mngr) {
    if (!m_publisher) return nullptr;
    return std::make_unique<plib_mngr_publish_t>(mngr, *m_publisher, m_station);
}

int cli_publisher_t::finish(cli_report_t& report) {
    if (!m_publisher) return cli_exit_ok;
    m_publisher->wait_drained(std::chrono::milliseconds(static_cast<long long>(m_wait_s * 1000)));
    m_publisher->stop();
    bool complete = true;
    nlohmann::json targets = nlohmann::json::array();
    for (const pub_target_status_t& s : m_publisher->status()) {
        targets.push_back({{"target", s.name},
                           {"published", s.published},
                           {"spooled", s.spooled},
                           {"refused", s.refused},
                           {"not_published", s.not_published},
                           {"spool", s.spool_directory}});
        if (!report.json()) {
            std::fprintf(results(), "published to %s: %llu readings", s.name.c_str(),
                         static_cast<unsigned long long>(s.published));
            if (s.spooled > 0)
                std::fprintf(results(), ", %llu left spooled", static_cast<unsigned long long>(s.spooled));
            if (s.refused > 0)
                std::fprintf(results(), ", %llu refused", static_cast<unsigned long long>(s.refused));
            if (s.not_published > 0)
                std::fprintf(results(), ", %llu not published", static_cast<unsigned long long>(s.not_published));
            std::fprintf(results(), "\n");
            std::fflush(results());
        }
        if (s.spooled > 0) {
            complete = false;
            report.warn(std::to_string(s.spooled) + " readings are left spooled for " + s.name + " in " +
                        s.spool_directory + "; the next run delivers them");
        }
        if (s.refused > 0) {
            complete = false;
            report.warn(s.name + " refused " + std::to_string(s.refused) + " readings (kept in " +
                        s.spool_directory + "/rejected): " + s.reason);
        }
        if (s.not_published > 0) {
            complete = false;
            report.warn(std::to_string(s.not_published) + " readings were not published to " + s.name +
                        " (the spool was full)");
        }
    }
    report.doc()["publish"] = targets;
    return complete ? cli_exit_ok : cli_exit_publish;
}

}  // namespace velkaro_cli
