// watch: the live view of every bench publishing to an MQTT broker.
//
//   velkaro-cli watch mqtt[s]://[USER@]HOST[:PORT]/PREFIX [--json] [--time S] [--ca FILE]
//
// Subscribes to PREFIX/# and keeps one row per instrument (pub_watch_table_t). The
// STATE column comes from each bench's retained status topic (offline: stopped, or the
// broker's last will for a bench that died). On a terminal the table is redrawn in place
// twice a second, offline rows and rows silent for 10 s dimmed;
// --json prints one line per message instead (the row it changed), for pipelines.
// USER's password comes from VELKARO_PUBLISH_PASSWORD, never from the command line.
//
// Threads: libmosquitto's own thread (mosquitto_loop_start) runs the message callback;
// the table and the JSON output belong to m_mutex, which the main thread takes to draw.
#include <mosquitto.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "pub/pub_mqtt_target.h"
#include "pub/pub_watch.h"

namespace velkaro_cli {
namespace {

constexpr double stale_s = 10;

struct watch_options_t {
    std::string url;
    bool json = false;
    double time_s = 0;  // 0: until interrupted
    std::string ca_file;
};

struct watch_state_t {
    std::mutex mutex;
    pub_watch_table_t table;
    bool json = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    explicit watch_state_t(std::string prefix) : table(std::move(prefix)) {}
    double now_s() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

nlohmann::json row_json(const pub_watch_row_t& row, double now_s) {
    nlohmann::json j = {{"station", row.station}, {"model", row.model},         {"serial", row.serial},
                        {"state", row.state},     {"readings", row.readings},   {"rate", row.rate(now_s)},
                        {"age_s", now_s - row.last_s}};
    j["value"] = row.has_value ? nlohmann::json(row.value) : nlohmann::json();
    j["unit"] = row.unit;
    j["offline"] = row.offline;
    if (row.has_status) {
        j["function"] = row.status.function;
        j["range"] = row.status.range;
        j["readings_logged"] = row.status.readings_logged;
        j["spool_depth"] = row.status.spool_depth;
    }
    return j;
}

void on_message(mosquitto*, void* self, const mosquitto_message* m) {
    auto* state = static_cast<watch_state_t*>(self);
    std::lock_guard<std::mutex> lock(state->mutex);
    const double now = state->now_s();
    const pub_watch_row_t* row = state->table.update(
        m->topic, std::string_view(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)), now);
    if (state->table.ignored() == 1) {
        std::fprintf(stderr, "velkaro-cli: more than %zu instruments on the broker: the messages of further ones are ignored\n",
                     pub_watch_table_t::max_rows);
    }
    if (row != nullptr && state->json) {
        write_results(row_json(*row, now).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
        std::fflush(results());
    }
}

void draw(watch_state_t& state, bool first) {
    std::lock_guard<std::mutex> lock(state.mutex);
    const double now = state.now_s();
    std::string out = first ? "" : "\x1b[H\x1b[J";
    char line[512];
    std::snprintf(line, sizeof line, "%-16s %-8s %-12s %-10s %18s %8s %7s\n", "STATION", "MODEL", "SERIAL", "STATE",
                  "LAST READING", "RDG/S", "AGE S");
    out += line;
    for (const auto& [key, row] : state.table.rows()) {
        char value[64] = "-";
        if (row.has_value) std::snprintf(value, sizeof value, "%.7g %s", row.value, row.unit.c_str());
        // Offline benches (stopped, or dead: the broker's last will) dimmed like silent ones.
        const bool stale = row.offline || now - row.last_s > stale_s;
        // What the broker sent is printed without its control characters: no escape
        // sequence of a hostile publisher reaches the terminal.
        std::snprintf(line, sizeof line, "%s%-16.16s %-8.8s %-12.12s %-10.10s %18.18s %8.1f %7.1f%s\n",
                      stale ? "\x1b[2m" : "", pub_watch_printable(row.station).c_str(),
                      pub_watch_printable(row.model).c_str(), pub_watch_printable(row.serial).c_str(),
                      pub_watch_printable(row.state).c_str(), pub_watch_printable(value).c_str(), row.rate(now),
                      now - row.last_s, stale ? "\x1b[0m" : "");
        out += line;
    }
    if (state.table.ignored() > 0) {
        std::snprintf(line, sizeof line, "(%llu messages of further instruments ignored: more than %zu)\n",
                      static_cast<unsigned long long>(state.table.ignored()), pub_watch_table_t::max_rows);
        out += line;
    }
    write_results(out);
    std::fflush(results());
}

int run_watch(const watch_options_t& o) {
    pub_mqtt_url_t url;
    std::string error;
    if (!pub_parse_mqtt_url(o.url, url, error)) {
        std::fprintf(stderr, "velkaro-cli: %s\n", error.c_str());
        return cli_exit_usage;
    }
    const bool tls = url.tls;
    const std::string& host = url.host;
    const int port = url.port;
    const std::string& user = url.user;
    const std::string& prefix = url.prefix;
    mosquitto_lib_init();
    watch_state_t state(prefix);
    state.json = o.json;
    mosquitto* mosq = mosquitto_new(nullptr, true, &state);
    if (mosq == nullptr) return cli_exit_publish;
    // Reading needs nothing of MQTT 5: 3.1.1, which every broker speaks.
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_message_callback_set(mosq, &on_message);
    if (!user.empty()) {
        const char* password = std::getenv("VELKARO_PUBLISH_PASSWORD");
        mosquitto_username_pw_set(mosq, user.c_str(), password != nullptr ? password : "");
    }
    if (tls) {
        // A CA file that cannot be read leaves libmosquitto without TLS: never connect then.
        const int tls_rc = mosquitto_tls_set(mosq, o.ca_file.empty() ? nullptr : o.ca_file.c_str(),
                                             o.ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (tls_rc != MOSQ_ERR_SUCCESS) {
            std::fprintf(stderr, "velkaro-cli: cannot watch %s:%d: TLS: %s\n", host.c_str(), port,
                         mosquitto_strerror(tls_rc));
            mosquitto_destroy(mosq);
            return cli_exit_publish;
        }
    }
    const std::string filter = prefix + "/#";
    int rc = mosquitto_connect(mosq, host.c_str(), port, 30);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_subscribe(mosq, nullptr, filter.c_str(), 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(mosq);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "velkaro-cli: cannot watch %s:%d: %s\n", host.c_str(), port,
                     rc == MOSQ_ERR_ERRNO ? "cannot reach the broker" : mosquitto_strerror(rc));
        mosquitto_destroy(mosq);
        return cli_exit_publish;
    }
    const bool table = !o.json;
    const bool terminal = ::isatty(::fileno(results())) != 0;
    bool first = true;
    while (o.time_s <= 0 || state.now_s() < o.time_s) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (table && terminal) {
            draw(state, first);
            first = false;
        }
    }
    mosquitto_disconnect(mosq);
    mosquitto_loop_stop(mosq, false);
    if (table && !terminal) draw(state, true);  // one table at the end into a file or pipe
    mosquitto_destroy(mosq);
    return cli_exit_ok;
}

}  // namespace

void register_watch_commands(CLI::App& app, cli_context_t& context) {
    auto options = std::make_shared<watch_options_t>();
    CLI::App* cmd = app.add_subcommand("watch", "Show every bench publishing to an MQTT broker, live (read-only)");
    cmd->add_option("url", options->url, "mqtt[s]://[USER@]HOST[:PORT]/PREFIX (password in VELKARO_PUBLISH_PASSWORD)")
        ->required();
    cmd->add_flag("--json", options->json, "One JSON line per message (the instrument's row) instead of the table");
    cmd->add_option("--time", options->time_s, "Stop after S seconds (default: until interrupted)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--ca", options->ca_file, "CA certificates (PEM) to verify an mqtts broker with");
    cmd->callback([options, &context] { context.exit_code = run_watch(*options); });
}

}  // namespace velkaro_cli
