// Starts influxd or victoria-metrics with posix_spawn and waits for its health
// endpoint; reads points back over HTTP with libcurl and nlohmann-json.
#include "tsdb_server.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "run_process.h"

extern char** environ;

namespace velkaro_test {
namespace {

constexpr auto ready_timeout = std::chrono::seconds(10);
constexpr auto stop_timeout = std::chrono::seconds(5);
constexpr int start_attempts = 6;

std::string random_loopback_address() {
    static std::mt19937 rng{std::random_device{}()};
    std::uniform_int_distribution<int> a(16, 254);
    std::uniform_int_distribution<int> bc(1, 254);
    return "127." + std::to_string(a(rng)) + "." + std::to_string(bc(rng)) + "." + std::to_string(bc(rng));
}

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

std::string url_encode(const std::string& text) {
    std::string out;
    char buf[4];
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

const std::set<std::string>& tag_names() {
    static const std::set<std::string> names = {"station", "model", "serial", "function", "unit", "channel", "db"};
    return names;
}

}  // namespace

http_answer_t http_request(const std::string& url, const std::string& post_body, bool post,
                           const std::string& ca_file) {
    static const bool global = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)global;
    http_answer_t answer;
    CURL* c = curl_easy_init();
    if (c == nullptr) return answer;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer.body);
    if (!ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, ca_file.c_str());
    if (post || !post_body.empty()) {
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, post_body.c_str());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(post_body.size()));
    }
    if (curl_easy_perform(c) == CURLE_OK) curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(c);
    return answer;
}

const char* tsdb_server_t::kind_name(kind_t kind) { return kind == influxdb ? "influxdb" : "victoria_metrics"; }

bool tsdb_server_t::available(kind_t kind) {
    return program_available(kind == influxdb ? "influxd" : "victoria-metrics");
}

tsdb_server_t::tsdb_server_t(kind_t kind) : tsdb_server_t(kind, tsdb_tls_t{}) {}

tsdb_server_t::tsdb_server_t(kind_t kind, tsdb_tls_t tls) : m_kind(kind), m_tls(std::move(tls)) {
    char tmpl[] = "/tmp/velkaro_tsdb_XXXXXX";
    if (::mkdtemp(tmpl) != nullptr) m_dir = tmpl;
    m_port = kind == influxdb ? 8086 : 8428;
    start();
}

namespace {
// Runs a shell command line of the test's own making (openssl); true on exit status 0.
bool run_quiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
}  // namespace

bool make_test_ca(const std::string& dir, const std::string& name, std::string& cert, std::string& key) {
    cert = dir + "/" + name + ".crt";
    key = dir + "/" + name + ".key";
    return run_quiet("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + name + "' -keyout '" + key +
                     "' -out '" + cert + "'");
}

bool tsdb_server_t::_issue_certificate(const std::string& address, std::string& cert, std::string& key) {
    cert = m_dir + "/server.crt";
    key = m_dir + "/server.key";
    const std::string csr = m_dir + "/server.csr", ext = m_dir + "/server.ext";
    {
        std::ofstream out(ext);
        out << "subjectAltName=IP:" << address << "\n";
    }
    return run_quiet("openssl req -newkey rsa:2048 -nodes -subj '/CN=" + address + "' -keyout '" + key +
                     "' -out '" + csr + "'") &&
           run_quiet("openssl x509 -req -days 2 -in '" + csr + "' -CA '" + m_tls.ca_cert + "' -CAkey '" +
                     m_tls.ca_key + "' -CAcreateserial -extfile '" + ext + "' -out '" + cert + "'");
}

tsdb_server_t::~tsdb_server_t() {
    stop();
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

std::string tsdb_server_t::base_url() const {
    return (m_tls.ca_cert.empty() ? "http://" : "https://") + m_address + ":" + std::to_string(m_port);
}
std::string tsdb_server_t::write_url(const std::string& db) const { return base_url() + "/write?db=" + db; }
std::string tsdb_server_t::v2_write_url(const std::string& org, const std::string& bucket) const {
    return base_url() + "/api/v2/write?org=" + org + "&bucket=" + bucket;
}

bool tsdb_server_t::start() {
    if (m_pid > 0) return true;
    if (m_dir.empty() || !available(m_kind)) return false;
    if (!m_address.empty()) {
        bool bind_failed = false;
        return _start_at(m_address, bind_failed);
    }
    for (int attempt = 0; attempt < start_attempts; ++attempt) {
        bool bind_failed = false;
        const std::string address = random_loopback_address();
        if (_start_at(address, bind_failed)) {
            m_address = address;
            return true;
        }
        if (!bind_failed) return false;
    }
    return false;
}

bool tsdb_server_t::_start_at(const std::string& address, bool& bind_failed) {
    bind_failed = false;
    const std::string listen = address + ":" + std::to_string(m_port);
    std::string cert, key;
    if (!m_tls.ca_cert.empty() && !_issue_certificate(address, cert, key)) return false;
    std::vector<std::string> args;
    if (m_kind == influxdb) {
        const std::string conf = m_dir + "/influxdb.conf";
        std::ofstream out(conf);
        out << "reporting-enabled = false\n"
            << "bind-address = \"" << address << ":8088\"\n"
            << "[meta]\n  dir = \"" << m_dir << "/meta\"\n  logging-enabled = false\n"
            << "[data]\n  dir = \"" << m_dir << "/data\"\n  wal-dir = \"" << m_dir << "/wal\"\n"
            << "  query-log-enabled = false\n"
            << "[monitor]\n  store-enabled = false\n"
            << "[subscriber]\n  enabled = false\n"
            << "[http]\n  bind-address = \"" << listen << "\"\n  log-enabled = false\n"
            << (cert.empty() ? std::string()
                             : "  https-enabled = true\n  https-certificate = \"" + cert +
                                   "\"\n  https-private-key = \"" + key + "\"\n")
            << "[logging]\n  level = \"warn\"\n";
        out.close();
        args = {"influxd", "run", "-config", conf};
    } else {
        args = {"victoria-metrics",
                "-httpListenAddr=" + listen,
                "-storageDataPath=" + m_dir + "/vm",
                "-retentionPeriod=100y",
                "-search.disableCache",
                "-search.latencyOffset=0s",
                "-dedup.minScrapeInterval=1ms",
                "-loggerLevel=ERROR"};
        if (!cert.empty()) {
            args.push_back("-tls");
            args.push_back("-tlsCertFile=" + cert);
            args.push_back("-tlsKeyFile=" + key);
        }
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = m_dir + "/server.log";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    m_pid = pid;
    const std::string health =
        (cert.empty() ? "http://" : "https://") + listen + (m_kind == influxdb ? "/ping" : "/health");
    const auto deadline = std::chrono::steady_clock::now() + ready_timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            // Most likely the address is taken; the log says.
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            bind_failed = text.str().find("address already in use") != std::string::npos;
            if (!bind_failed) std::fprintf(stderr, "tsdb_server_t: %s ended:\n%s\n", argv[0], text.str().c_str());
            return false;
        }
        const http_answer_t a = http_request(health, {}, false, m_tls.ca_cert);
        if (a.status >= 200 && a.status < 300) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    return false;
}

void tsdb_server_t::stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + stop_timeout;
    pid_t done = 0;
    while ((done = ::waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
}

bool tsdb_server_t::create_database(const std::string& db) {
    if (m_kind != influxdb) return true;
    const http_answer_t a = http_request(base_url() + "/query", "q=" + url_encode("CREATE DATABASE \"" + db + "\""),
                                         false, m_tls.ca_cert);
    return a.status == 200;
}

std::vector<tsdb_point_t> tsdb_server_t::points(const std::string& measurement, const std::string& db) {
    std::vector<tsdb_point_t> out;
    if (m_kind == influxdb) {
        const http_answer_t a =
            http_request(base_url() + "/query?epoch=ns&db=" + url_encode(db) + "&q=" +
                         url_encode("SELECT * FROM \"" + measurement + "\" ORDER BY time ASC"),
                         {}, false, m_tls.ca_cert);
        if (a.status != 200) return out;
        const auto doc = nlohmann::json::parse(a.body, nullptr, false);
        if (doc.is_discarded() || !doc.contains("results")) return out;
        for (const auto& result : doc["results"]) {
            if (!result.contains("series")) continue;
            for (const auto& series : result["series"]) {
                const auto& columns = series["columns"];
                for (const auto& row : series["values"]) {
                    tsdb_point_t p;
                    p.measurement = series.value("name", "");
                    for (std::size_t i = 0; i < columns.size() && i < row.size(); ++i) {
                        const std::string col = columns[i];
                        const auto& v = row[i];
                        if (v.is_null()) continue;
                        if (col == "time") {
                            p.time = v.get<int64_t>();
                        } else if (col == "value") {
                            p.value = v.get<double>();
                        } else if (tag_names().count(col)) {
                            p.tags[col] = v.is_string() ? v.get<std::string>() : v.dump();
                        } else {
                            p.fields[col] = v.is_string() ? v.get<std::string>() : v.dump();
                        }
                    }
                    out.push_back(std::move(p));
                }
            }
        }
        return out;
    }
    // VictoriaMetrics: one series per field ("<measurement>_<field>"), joined back on the
    // tags and the time.
    http_request(base_url() + "/internal/force_flush", {}, false, m_tls.ca_cert);
    const http_answer_t a = http_request(
        base_url() + "/api/v1/export?match[]=" + url_encode("{__name__=~\"" + measurement + "_.*\",db=\"" + db + "\"}"),
        {}, false, m_tls.ca_cert);
    if (a.status != 200) return out;
    std::map<std::pair<std::map<std::string, std::string>, int64_t>, tsdb_point_t> joined;
    std::istringstream lines(a.body);
    std::string line;
    while (std::getline(lines, line)) {
        const auto doc = nlohmann::json::parse(line, nullptr, false);
        if (doc.is_discarded() || !doc.contains("metric")) continue;
        std::map<std::string, std::string> tags;
        std::string name;
        for (const auto& [k, v] : doc["metric"].items()) {
            if (k == "__name__")
                name = v.get<std::string>();
            else
                tags[k] = v.get<std::string>();
        }
        const std::string field = name.substr(std::min(name.size(), measurement.size() + 1));
        const auto& values = doc["values"];
        const auto& times = doc["timestamps"];
        for (std::size_t i = 0; i < values.size() && i < times.size(); ++i) {
            tsdb_point_t& p = joined[{tags, times[i].get<int64_t>()}];
            p.measurement = measurement;
            p.tags = tags;
            p.time = times[i].get<int64_t>();
            if (field == "value")
                p.value = values[i].get<double>();
            else
                p.fields[field] = values[i].dump();
        }
    }
    for (auto& [key, p] : joined) out.push_back(std::move(p));
    std::sort(out.begin(), out.end(), [](const tsdb_point_t& x, const tsdb_point_t& y) { return x.time < y.time; });
    return out;
}

}  // namespace velkaro_test
