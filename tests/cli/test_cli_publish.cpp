// velkaro-cli measure/scan --publish end to end: the simulator, the CLI as a child
// process and a real InfluxDB (influxd) or mosquitto on loopback. Every reading logged to
// CSV is in the database once (or reaches a broker's persistent subscriber, told apart
// by its time), with its value and a time of its own, whatever the server did
// meanwhile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "cli_test_util.h"
#include "pub/pub_line_protocol.h"
#include "pub/pub_status.h"
#include "support/mqtt_broker.h"
#include "support/gate_proxy.h"
#include "support/temp_dir.h"
#include "support/tsdb_server.h"

extern char** environ;

namespace fs = std::filesystem;
using velkaro_test::process_result_t;
using velkaro_test::run_cli;
using velkaro_test::temp_dir_t;
using velkaro_test::tsdb_point_t;
using velkaro_test::tsdb_server_t;

namespace {

const char* const db = "lab";
// What a station name can hold: commas, blanks, '=', quotes.
const char* const hostile_station = "bench, \"7\"=east";

// The readings of every CSV file in `dir` (the record file or per-channel scan logs):
// value column of each line after the header, in file order.
std::vector<double> csv_values(const std::string& dir, const std::string& name_part = "") {
    std::vector<double> out;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".csv" && e.path().filename().string().find(name_part) != std::string::npos)
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        std::ifstream in(f);
        std::string line;
        bool data = false;
        while (std::getline(in, line)) {
            if (!data) {
                data = line.find(",Time(s)") != std::string::npos;
                continue;
            }
            if (!line.empty()) out.push_back(std::strtod(line.c_str(), nullptr));
        }
    }
    return out;
}

// The database holds exactly the CSV's readings, in the same order, each at its own time.
void expect_same_readings(const std::vector<double>& csv, const std::vector<tsdb_point_t>& points) {
    ASSERT_FALSE(csv.empty());
    ASSERT_EQ(points.size(), csv.size());
    std::set<int64_t> times;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        times.insert(points[i].time);
        // The CSV keeps ten significant digits, the database the whole double.
        EXPECT_NEAR(points[i].value, csv[i], std::fabs(csv[i]) * 1e-9 + 1e-15) << "reading " << i;
    }
    EXPECT_EQ(times.size(), csv.size()) << "two readings share a time";
}

class cli_publish : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tsdb_server_t::available(tsdb_server_t::influxdb)) GTEST_SKIP() << "influxd not installed";
        velkaro_test::use_test_portmapper_port();
        m_sim = std::make_unique<velkaro_test::sim_process_t>("VXA-2", std::vector<std::string>{"--serial", "SN \"7\"=x"});
        ASSERT_TRUE(m_sim->ok());
        m_db = std::make_unique<tsdb_server_t>(tsdb_server_t::influxdb);
        ASSERT_TRUE(m_db->ok());
        ASSERT_TRUE(m_db->create_database(db));
        m_logs = m_dir.path() + "/logs";
        m_spool = m_dir.path() + "/spool";
        fs::create_directories(m_logs);
    }
    std::vector<std::string> measure_args(const std::string& url, std::vector<std::string> run,
                                          const std::string& logs = {}) {
        std::vector<std::string> args = {"measure", "--model", "VXA-2", "--function", "VOLT", "--log-dir",
                                         logs.empty() ? m_logs : logs,
                                         "--publish", url, "--publish-spool", m_spool, "--station", hostile_station};
        args.insert(args.end(), run.begin(), run.end());
        args.push_back(m_sim->instr_resource());
        return args;
    }
    std::vector<tsdb_point_t> points(const char* measurement = pub_measurement_reading) {
        return m_db->points(measurement, db);
    }
    std::unique_ptr<velkaro_test::sim_process_t> m_sim;
    std::unique_ptr<tsdb_server_t> m_db;
    temp_dir_t m_dir;
    std::string m_logs;
    std::string m_spool;
};

// Starts velkaro-cli with ARGS, its output thrown away, and does not wait for it (for a
// test that kills it mid-run); -1 when it cannot be started.
pid_t spawn_quiet_cli(std::vector<std::string> args) {
    args.insert(args.begin(), VELKARO_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

TEST_F(cli_publish, a_measure_run_publishes_every_logged_reading_with_its_tags) {
    // Fast readings: a tick fetches several readings that share their block time.
    const process_result_t r = run_cli(measure_args(m_db->write_url(db), {"--nplc", "0.3", "--count", "300"}));
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(": 300 readings"), std::string::npos) << r.out;
    const auto p = points();
    expect_same_readings(csv_values(m_logs), p);
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p[0].tags.at("station"), hostile_station);
    EXPECT_EQ(p[0].tags.at("model"), "VXA-2");
    EXPECT_EQ(p[0].tags.at("function"), "VOLT");
    EXPECT_EQ(p[0].tags.at("unit"), "VDC");
}

TEST_F(cli_publish, a_scan_run_publishes_every_logged_reading_per_channel) {
    const process_result_t r =
        run_cli({"scan", "--model", "VXA-2", "--channels", "1,2", "--sweeps", "2", "--log-dir", m_logs, "--file-mode",
                 "per-channel", "--publish", m_db->write_url(db), "--publish-spool", m_spool, "--station",
                 hostile_station, m_sim->instr_resource()});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const auto all = points(pub_measurement_scan);
    for (int channel : {1, 2}) {
        SCOPED_TRACE(channel);
        std::vector<tsdb_point_t> of_channel;
        for (const auto& p : all)
            if (p.tags.at("channel") == std::to_string(channel)) of_channel.push_back(p);
        expect_same_readings(csv_values(m_logs, "Channel_" + std::to_string(channel) + " "), of_channel);
        for (const auto& p : of_channel) {
            EXPECT_EQ(p.fields.at("alarm"), "0");
            EXPECT_EQ(p.tags.at("station"), hostile_station);
        }
    }
}

// run: two instruments of a project, each one's readings under its own serial.
TEST_F(cli_publish, a_project_run_publishes_each_instruments_logged_readings) {
    velkaro_test::sim_process_t other("VXA-2", {"--serial", "OTHER-2"});
    ASSERT_TRUE(other.ok());
    const std::string project = m_dir.path() + "/bench.dmm";
    {
        std::ofstream out(project);
        out << "<?xml version=\"1.0\"?>\n<root>\n\t<SoftwareVersion>V1.0.3</SoftwareVersion>\n";
        for (const std::string& r : {m_sim->instr_resource(), other.instr_resource()})
            out << "\t<project><product_type>VXA-2</product_type><resource>" << r
                << "</resource><measure><function>0</function><acq_param><record_position>1</record_position>"
                   "</acq_param></measure></project>\n";
        out << "</root>\n";
    }
    const process_result_t r = run_cli({"run", project, "--time", "3", "--log-dir", m_logs, "--publish",
                                        m_db->write_url(db), "--publish-spool", m_spool, "--station", "bench"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const auto all = points();
    const std::pair<const char*, const char*> instruments[] = {{"1-VXA-2", "SN \"7\"=x"}, {"2-VXA-2", "OTHER-2"}};
    for (const auto& [folder, serial] : instruments) {
        SCOPED_TRACE(folder);
        std::vector<tsdb_point_t> mine;
        for (const auto& p : all)
            if (p.tags.at("serial") == serial) mine.push_back(p);
        expect_same_readings(csv_values(m_logs + "/" + folder), mine);
    }
}

// The database is down for part of the run: the run measures on, the readings wait in
// the spool and reach the database once it is back, each once.
struct outage_case_t {
    const char* name;
    double down_at_s;  // after the CLI started
    double up_at_s;
};

TEST_F(cli_publish, outages_during_a_run_lose_and_double_nothing) {
    const outage_case_t cases[] = {
        {"started only after the run began", 0.0, 2.5},
        {"stopped and restarted mid-run", 2.0, 4.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_db = std::make_unique<tsdb_server_t>(tsdb_server_t::influxdb);
        ASSERT_TRUE(m_db->ok());
        ASSERT_TRUE(m_db->create_database(db));
        fs::remove_all(m_logs);
        fs::create_directories(m_logs);
        if (c.down_at_s == 0.0) m_db->stop();
        process_result_t r;
        std::thread cli([&] {
            r = run_cli(measure_args(m_db->write_url(db), {"--time", "6", "--publish-wait", "30"}));
        });
        const auto start = std::chrono::steady_clock::now();
        auto at = [&](double s) { std::this_thread::sleep_until(start + std::chrono::duration<double>(s)); };
        if (c.down_at_s > 0) {
            at(c.down_at_s);
            m_db->stop();
        }
        at(c.up_at_s);
        const bool up = m_db->start();
        cli.join();
        ASSERT_TRUE(up);
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_NE(r.err.find("went away"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("is back"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("caught up"), std::string::npos) << r.err;
        expect_same_readings(csv_values(m_logs), points());
    }
}

TEST_F(cli_publish, a_slow_database_gets_everything_and_the_run_is_not_held_up) {
    velkaro_test::gate_proxy_t proxy(m_db->address(), m_db->port(), m_db->port());
    ASSERT_TRUE(proxy.ok());
    proxy.set_delay_ms(1500);  // every answer comes late, longer than a tick
    const process_result_t r =
        run_cli(measure_args(proxy.base_url() + "/write?db=" + db, {"--count", "25", "--publish-wait", "60"}));
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    // The acquisition's own rate, not the database's: five readings a second.
    EXPECT_NE(r.out.find("readings: 25\n"), std::string::npos) << r.out;
    expect_same_readings(csv_values(m_logs), points());
}

TEST_F(cli_publish, a_refusal_is_told_and_kept_and_the_exit_code_says_so) {
    const process_result_t r = run_cli(measure_args(m_db->write_url("no_such_db"), {"--count", "5"}));
    ASSERT_EQ(r.exit_code, velkaro_cli::cli_exit_publish) << r.out << r.err;
    EXPECT_NE(r.err.find("database not found"), std::string::npos) << r.err;
    EXPECT_EQ(csv_values(m_logs).size(), 5u) << "logging goes on";
    // The refused lines are kept for inspection.
    std::size_t kept = 0;
    for (const auto& e : fs::recursive_directory_iterator(m_spool))
        if (e.path().extension() == ".lp") kept += velkaro_test::read_file(e.path().string()).size() > 0;
    EXPECT_GE(kept, 1u);
}

TEST_F(cli_publish, a_full_spool_counts_what_was_not_published) {
    m_db->stop();
    const process_result_t r = run_cli(
        measure_args(m_db->write_url(db), {"--nplc", "0.3", "--count", "800", "--publish-spool-cap", "0.0625",
                                           "--publish-wait", "0", "--json"}));
    ASSERT_EQ(r.exit_code, velkaro_cli::cli_exit_publish) << r.out << r.err;
    EXPECT_NE(r.err.find("is full"), std::string::npos) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    const auto& target = doc.at("publish").at(0);
    const uint64_t spooled = target.at("spooled"), not_published = target.at("not_published");
    EXPECT_GT(not_published, 0u);
    EXPECT_GT(spooled, 0u);
    EXPECT_EQ(spooled + not_published, csv_values(m_logs).size());
}

// The program killed (SIGKILL) mid-run: the next run delivers what the first spooled.
TEST_F(cli_publish, a_killed_run_is_replayed_by_the_next_one) {
    m_db->stop();
    std::vector<std::string> args = measure_args(m_db->write_url(db), {"--time", "30"});
    const pid_t pid = spawn_quiet_cli(args);
    ASSERT_GT(pid, 0);
    // Until the run has logged a good number of readings.
    for (int i = 0; i < 300 && csv_values(m_logs).size() < 15; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const std::vector<double> first = csv_values(m_logs);
    ASSERT_GE(first.size(), 15u);

    ASSERT_TRUE(m_db->start());
    const std::string second_logs = m_dir.path() + "/second";
    fs::create_directories(second_logs);
    const process_result_t r =
        run_cli(measure_args(m_db->write_url(db), {"--count", "5", "--publish-wait", "30"}, second_logs));
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("spooled by an earlier run"), std::string::npos) << r.err;
    const auto p = points();
    const std::vector<double> second = csv_values(second_logs);
    ASSERT_EQ(second.size(), 5u);
    // The first run's readings up to the kill (the last tick's may have been in memory
    // only), then the second run's, each once.
    ASSERT_GE(p.size(), first.size() - 2 + second.size());
    ASSERT_LE(p.size(), first.size() + second.size());
    const std::size_t from_first = p.size() - second.size();
    std::vector<tsdb_point_t> first_points(p.begin(), p.begin() + static_cast<long>(from_first));
    std::vector<tsdb_point_t> second_points(p.begin() + static_cast<long>(from_first), p.end());
    expect_same_readings(std::vector<double>(first.begin(), first.begin() + static_cast<long>(from_first)),
                         first_points);
    expect_same_readings(second, second_points);
}

TEST_F(cli_publish, credentials_are_refused_where_they_do_not_belong) {
    const std::string secret = m_dir.path() + "/secret";
    {
        std::ofstream out(secret);
        out << "VELKARO_PUBLISH_PASSWORD=hunter2\n";
    }
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    struct case_t {
        const char* name;
        std::vector<std::string> extra;
        std::string url;
        const char* says;
    } cases[] = {
        {"password in the URL", {}, "http://u:hunter2@" + m_db->address() + ":8086/write?db=lab",
         "no password in the URL"},
        {"secret file readable by others", {"--publish-secret-file", secret}, m_db->write_url(db), "mode 0600"},
        {"not a write URL", {}, m_db->base_url() + "/query?db=lab", "not a write URL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = measure_args(c.url, {"--count", "1"});
        args.insert(args.begin() + 1, c.extra.begin(), c.extra.end());
        const process_result_t r = run_cli(args);
        EXPECT_EQ(r.exit_code, velkaro_cli::cli_exit_usage) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("hunter2"), std::string::npos) << "a password is never echoed";
        EXPECT_TRUE(csv_values(m_logs).empty()) << "nothing was measured";
    }
}

// --- MQTT ------------------------------------------------------------------------

// Debian's python3 (where python3-paho-mqtt is), whatever python3 comes first on PATH.
std::string system_python() {
    return velkaro_test::program_available("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// python3-paho-mqtt reading the broker as a lab's dashboard would (mqtt_subscriber.py): a
// persistent session, QoS 1, reconnecting by itself. Stopped with the object.
class paho_subscriber_t {
public:
    paho_subscriber_t(const std::string& host, const std::string& client_id, const std::string& filter,
                      const std::string& dir) {
        m_out = dir + "/" + client_id + ".jsonl";
        const std::string ready = dir + "/" + client_id + ".ready";
        std::vector<std::string> args = {system_python(), std::string(VELKARO_TEST_DATA_DIR) + "/../cli/mqtt_subscriber.py",
                                         host, std::to_string(velkaro_test::mqtt_broker_port), client_id, filter,
                                         m_out, "300"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, ready.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawnp(&m_pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 200 && m_pid > 0 && !m_ok; ++i) {
            m_ok = velkaro_test::read_file(ready).find("subscribed") != std::string::npos;
            if (!m_ok) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~paho_subscriber_t() { stop(); }
    void stop() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    bool ok() const { return m_ok; }
    // Every message so far: topic, payload, retained.
    std::vector<nlohmann::json> messages() const {
        std::vector<nlohmann::json> out;
        std::istringstream lines(velkaro_test::read_file(m_out));
        std::string line;
        while (std::getline(lines, line)) {
            auto j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_discarded()) out.push_back(std::move(j));  // a line being written
        }
        return out;
    }
    // The states of the status messages on `topic`, in arrival order, with their status.
    std::vector<pub_status_t> statuses(const std::string& topic) const {
        std::vector<pub_status_t> out;
        for (const auto& m : messages()) {
            pub_status_t s;
            if (m.at("topic") == topic && pub_status_parse(m.at("payload").get<std::string>(), s)) out.push_back(s);
        }
        return out;
    }

private:
    pid_t m_pid = -1;
    bool m_ok = false;
    std::string m_out;
};

// One line-protocol point of a message: its value and stamp, and the channel for scans.
struct mqtt_point_t {
    double value = 0;
    int64_t stamp = 0;
    std::string channel;
};

// The points that reached the subscriber on `topic`, each stamp once (a message sent again
// after a lost acknowledgement repeats its stamps), in time order.
std::vector<mqtt_point_t> points_of(const std::vector<nlohmann::json>& messages, const std::string& topic,
                                    std::size_t* received = nullptr) {
    std::map<std::pair<std::string, int64_t>, mqtt_point_t> by_stamp;
    std::size_t n = 0;
    for (const auto& m : messages) {
        if (m.at("topic") != topic) continue;
        std::istringstream lines(m.at("payload").get<std::string>());
        std::string line;
        while (std::getline(lines, line)) {
            if (line.empty()) continue;
            ++n;
            mqtt_point_t p;
            const std::size_t v = line.find(" value=");
            const std::size_t t = line.rfind(' ');
            if (v == std::string::npos || t == std::string::npos) continue;
            p.value = std::strtod(line.c_str() + v + 7, nullptr);
            p.stamp = std::strtoll(line.c_str() + t + 1, nullptr, 10);
            const std::size_t c = line.find(",channel=");
            if (c != std::string::npos) p.channel = line.substr(c + 9, line.find_first_of(", ", c + 9) - c - 9);
            by_stamp.emplace(std::make_pair(p.channel, p.stamp), p);
        }
    }
    if (received != nullptr) *received = n;
    std::vector<mqtt_point_t> out;
    for (const auto& [key, p] : by_stamp) out.push_back(p);
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.stamp < b.stamp; });
    return out;
}

class cli_publish_mqtt : public ::testing::Test {
protected:
    void SetUp() override {
        if (!velkaro_test::program_available("mosquitto")) GTEST_SKIP() << "mosquitto not installed";
        if (velkaro_test::run_process(system_python(), {"-c", "import paho.mqtt.client"}).exit_code != 0)
            GTEST_SKIP() << "python3-paho-mqtt not installed";
        velkaro_test::use_test_portmapper_port();
        m_sim = std::make_unique<velkaro_test::sim_process_t>("VXA-2", std::vector<std::string>{"--serial", "MQ-7"});
        ASSERT_TRUE(m_sim->ok());
        ASSERT_TRUE(m_broker.start());
        m_url = "mqtt://" + m_broker.address() + ":" + std::to_string(velkaro_test::mqtt_broker_port) + "/lab";
    }
    std::string topic(const char* kind) const { return "lab/bench/VXA-2/MQ-7/" + std::string(kind); }
    std::unique_ptr<velkaro_test::sim_process_t> m_sim;
    velkaro_test::mqtt_broker_t m_broker;
    temp_dir_t m_dir;
    std::string m_url;
};

// A measure run and a scan run, the broker stopped and started again mid-run: the
// persistent subscriber ends with every reading the run logged, each once by its time,
// with the logged values.
TEST_F(cli_publish_mqtt, every_logged_reading_reaches_a_persistent_subscriber_through_a_broker_restart) {
    struct case_t {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> channels;  // scan: per-channel logs; empty: the record file
    } cases[] = {
        {"measure", {"measure", "--model", "VXA-2", "--function", "VOLT", "--nplc", "1", "--time", "6"}, {}},
        {"scan",
         {"scan", "--model", "VXA-2", "--channels", "1,2", "--time", "6", "--file-mode", "per-channel"},
         {"1", "2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = m_dir.path() + "/" + c.name;
        const std::string logs = dir + "/logs";
        fs::create_directories(logs);
        paho_subscriber_t reader(m_broker.address(), std::string("dashboard-") + c.name, "lab/#", dir);
        ASSERT_TRUE(reader.ok());
        std::vector<std::string> args = c.args;
        const std::vector<std::string> publish = {"--log-dir", logs, "--publish", m_url, "--publish-spool",
                                                  dir + "/spool", "--station", "bench", "--publish-wait", "30"};
        args.insert(args.end(), publish.begin(), publish.end());
        args.push_back(m_sim->instr_resource());
        process_result_t r;
        std::thread cli([&] { r = run_cli(args); });
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_until(start + std::chrono::seconds(2));
        m_broker.stop();
        std::this_thread::sleep_until(start + std::chrono::milliseconds(3500));
        const bool up = m_broker.start();
        cli.join();
        ASSERT_TRUE(up);
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_NE(r.err.find("went away"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("is back"), std::string::npos) << r.err;

        const std::string t = topic(c.channels.empty() ? "readings" : "scan");
        std::vector<std::pair<std::string, std::vector<double>>> logged;  // channel ("" measure), CSV values
        std::size_t total = 0;
        if (c.channels.empty())
            logged.emplace_back("", csv_values(logs));
        for (const std::string& ch : c.channels) logged.emplace_back(ch, csv_values(logs, "Channel_" + ch + " "));
        for (const auto& [ch, values] : logged) total += values.size();
        ASSERT_GT(total, 0u);
        // The subscriber may still be catching up with what the broker kept for it (bounded).
        std::vector<mqtt_point_t> got;
        for (int i = 0; i < 400 && got.size() < total; ++i) {
            got = points_of(reader.messages(), t);
            if (got.size() < total) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::size_t received = 0;
        got = points_of(reader.messages(), t, &received);
        EXPECT_EQ(got.size(), total) << "published == logged";
        for (const auto& [ch, values] : logged) {
            SCOPED_TRACE("channel " + ch);
            std::vector<mqtt_point_t> mine;
            for (const auto& p : got)
                if (p.channel == ch) mine.push_back(p);
            ASSERT_EQ(mine.size(), values.size());
            for (std::size_t i = 0; i < values.size(); ++i)
                EXPECT_NEAR(mine[i].value, values[i], std::fabs(values[i]) * 1e-9 + 1e-15) << "reading " << i;
        }
        // Sent again only what a lost acknowledgement left in doubt, with the same stamps.
        EXPECT_LE(received, total + total / 4) << "messages received: " << received;
    }
}

// The status topic: retained, "measuring" while the run goes, "offline" with the run's
// figures after a clean end; and the broker's last will makes a killed run "offline" for
// every subscriber, also one that comes later, and for watch.
TEST_F(cli_publish_mqtt, status_is_retained_and_the_last_will_marks_a_killed_run_offline) {
    paho_subscriber_t reader(m_broker.address(), "status-reader", "lab/+/+/+/status", m_dir.path());
    ASSERT_TRUE(reader.ok());
    const std::string logs = m_dir.path() + "/logs";
    fs::create_directories(logs);
    auto measure = [&](const std::vector<std::string>& run) {
        std::vector<std::string> args = {"measure", "--model", "VXA-2", "--function", "VOLT", "--range", "20V",
                                         "--log-dir", logs, "--publish", m_url, "--publish-spool",
                                         m_dir.path() + "/spool", "--station", "bench"};
        args.insert(args.end(), run.begin(), run.end());
        args.push_back(m_sim->instr_resource());
        return args;
    };
    // A clean run.
    const process_result_t r = run_cli(measure({"--count", "10"}));
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::vector<pub_status_t> s;
    for (int i = 0; i < 200 && (s.empty() || s.back().state != "offline"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        s = reader.statuses(topic("status"));
    }
    ASSERT_FALSE(s.empty());
    const auto measuring = std::find_if(s.begin(), s.end(), [](const auto& x) { return x.state == "measuring"; });
    ASSERT_NE(measuring, s.end()) << "the run's state was told";
    EXPECT_EQ(measuring->function, "VOLT");
    EXPECT_EQ(measuring->range, "20V");
    EXPECT_FALSE(measuring->program_version.empty());
    EXPECT_EQ(s.back().state, "offline");
    EXPECT_EQ(s.back().readings_logged, csv_values(logs).size()) << "the last status has the run's figures";
    EXPECT_EQ(s.back().readings_logged, 10u);
    EXPECT_EQ(s.back().function, "VOLT") << "a clean end, not the will";

    // A run killed mid-way: its status was "measuring"; the broker's will says "offline".
    std::vector<std::string> args = measure({"--time", "60"});
    const pid_t pid = spawn_quiet_cli(args);
    ASSERT_GT(pid, 0);
    const std::size_t before = s.size();
    bool running = false;
    for (int i = 0; i < 400 && !running; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        s = reader.statuses(topic("status"));
        running = s.size() > before && s.back().state == "measuring" && s.back().readings_logged > 0;
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(running) << "the killed run had told it was measuring";
    for (int i = 0; i < 200 && s.back().state != "offline"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        s = reader.statuses(topic("status"));
    }
    EXPECT_EQ(s.back().state, "offline");
    EXPECT_TRUE(s.back().function.empty()) << "the will, not a clean end";
    EXPECT_FALSE(s.back().program_version.empty());

    // Retained: a subscriber that comes now hears it, and watch shows the bench offline.
    paho_subscriber_t later(m_broker.address(), "later-reader", "lab/+/+/+/status", m_dir.path());
    ASSERT_TRUE(later.ok());
    std::vector<nlohmann::json> m;
    for (int i = 0; i < 200 && m.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        m = later.messages();
    }
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(m[0].at("retain").get<bool>());
    const process_result_t w = velkaro_test::run_process(VELKARO_CLI_PATH, {"watch", m_url, "--json", "--time", "1.5"});
    ASSERT_EQ(w.exit_code, 0) << w.err;
    const auto row = nlohmann::json::parse(w.out.substr(0, w.out.find('\n')), nullptr, false);
    ASSERT_FALSE(row.is_discarded()) << w.out;
    EXPECT_EQ(row.at("serial"), "MQ-7");
    EXPECT_EQ(row.at("state"), "offline");
    EXPECT_EQ(row.at("offline"), true);
}

}  // namespace
