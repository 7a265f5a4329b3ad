// velkaro-cli measure/scan --publish end to end: the simulator, the CLI as a child
// process and a real InfluxDB (influxd) on loopback. Every reading logged to CSV is in
// the database once, with its value and a time of its own, whatever the database did
// meanwhile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "cli_test_util.h"
#include "pub/pub_line_protocol.h"
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

TEST_F(cli_publish, a_measure_run_publishes_every_logged_reading_with_its_tags) {
    // Fast readings: a tick fetches several readings that share their block time.
    const process_result_t r = run_cli(measure_args(m_db->write_url(db), {"--nplc", "0.2", "--count", "300"}));
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
        measure_args(m_db->write_url(db), {"--nplc", "0.2", "--count", "1500", "--publish-spool-cap", "0.0625",
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
    args.insert(args.begin(), VELKARO_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
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

}  // namespace
