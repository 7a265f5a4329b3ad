// velkaro-cli run: every instrument of a project at once, unattended, with one failing
// instrument and a stop by signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_util.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using nlohmann::json;
using velkaro_test::process_result_t;
using velkaro_test::run_cli;
using velkaro_test::sim_process_t;
using velkaro_test::temp_dir_t;
using namespace velkaro_cli;

namespace {

constexpr std::size_t record_header_lines = 10;

// A project with one measuring, logging instrument per resource (the rest defaults).
std::string write_project(const std::string& dir, const std::vector<std::string>& resources) {
    const std::string path = (fs::path(dir) / "bench.dmm").string();
    std::ofstream out(path);
    out << "<?xml version=\"1.0\"?>\n<root>\n\t<SoftwareVersion>V1.0.3</SoftwareVersion>\n";
    for (const std::string& r : resources)
        out << "\t<project><product_type>VXA-2</product_type><resource>" << r
            << "</resource><measure><function>0</function><acq_param><record_position>1</record_position>"
               "</acq_param></measure></project>\n";
    out << "</root>\n";
    return path;
}

struct record_t {
    std::size_t lines = 0;
    bool ends_at_line_end = false;
};

record_t read_record(const std::string& path) {
    const std::string text = velkaro_test::read_file(path);
    record_t r;
    r.ends_at_line_end = !text.empty() && text.back() == '\n';
    for (char c : text) r.lines += c == '\n';
    return r;
}

// Every instrument of the document that ran well logged exactly its readings, in whole lines.
void expect_complete_records(const json& doc) {
    for (const json& in : doc["instruments"]) {
        SCOPED_TRACE(in.dump());
        if (in["status"] != "ok") continue;
        ASSERT_EQ(in["files"].size(), 1u);
        const record_t rec = read_record(in["files"][0].get<std::string>());
        EXPECT_TRUE(rec.ends_at_line_end);
        EXPECT_GT(in["readings"].get<unsigned>(), 0u);
        EXPECT_EQ(in["readings_logged"], in["readings"]);
        EXPECT_EQ(rec.lines, record_header_lines + in["readings"].get<std::size_t>());
    }
}

}  // namespace

TEST(cli_run, one_instrument_losing_its_link_is_reported_and_the_others_go_on) {
    sim_process_t good1("VXA-2");
    sim_process_t good2("VXA-2");
    // Connecting takes about 60 commands and each tick one more: the link drops mid-run.
    sim_process_t dropping("VXA-2", {"--drop-after", "68"});
    ASSERT_TRUE(good1.ok() && good2.ok() && dropping.ok());
    temp_dir_t dir;
    const std::string logs = (fs::path(dir.path()) / "logs").string();
    fs::create_directories(logs);
    const std::string project = write_project(
        dir.path(), {good1.instr_resource(), dropping.instr_resource(), good2.instr_resource()});

    const process_result_t r =
        run_cli({"run", project, "--time", "4", "--log-dir", logs, "--json", "--no-reconnect"});
    EXPECT_EQ(r.exit_code, cli_exit_link) << r.out << r.err;
    EXPECT_NE(
        r.err.find("velkaro-cli run: instrument 2 (VXA-2 at " + dropping.instr_resource() + "): the link"),
        std::string::npos)
        << r.err;
    const json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    ASSERT_EQ(doc["instruments"].size(), 3u);
    const json& lost = doc["instruments"][1];
    EXPECT_EQ(lost["status"], "failed");
    EXPECT_EQ(lost["error"]["exit_code"], cli_exit_link);
    EXPECT_EQ(lost["error"]["visa_status"].get<std::string>().rfind("VI_ERROR_", 0), 0u) << lost.dump();
    for (int i : {0, 2}) {
        const json& in = doc["instruments"][i];
        EXPECT_EQ(in["status"], "ok") << in.dump();
        // The good ones ran their whole time (about 5 readings/s), well past the loss.
        EXPECT_GT(in["readings"].get<unsigned>(), lost["readings"].get<unsigned>()) << doc.dump();
        EXPECT_EQ(fs::path(in["files"][0].get<std::string>()).parent_path().filename(),
                  std::to_string(i + 1) + "-VXA-2");
    }
    expect_complete_records(doc);

    // The text form names the same facts, one block per instrument.
    const process_result_t text = run_cli({"run", project, "--time", "1", "--log-dir", logs, "--no-reconnect"});
    EXPECT_NE(text.out.find("instrument 1: VXA-2 at " + good1.instr_resource() + "\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("instrument 3: VXA-2 at " + good2.instr_resource() + "\n"), std::string::npos);
    EXPECT_NE(text.out.find("instrument 2: VXA-2 at " + dropping.instr_resource() + "\n"), std::string::npos);
    std::size_t statuses = 0;
    for (std::size_t at = text.out.find("\n  status: "); at != std::string::npos;
         at = text.out.find("\n  status: ", at + 1))
        ++statuses;
    EXPECT_EQ(statuses, 3u) << text.out;
}

namespace {

struct spawned_t {
    pid_t pid = 0;
    std::string out_path, err_path;
};

// Starts `velkaro-cli run PROJECT --log-dir LOGS --json` with its output in files.
spawned_t spawn_run(const std::string& dir, const std::string& project, const std::string& logs) {
    spawned_t sp;
    sp.out_path = (fs::path(dir) / "out.json").string();
    sp.err_path = (fs::path(dir) / "err.txt").string();
    velkaro_test::use_test_portmapper_port();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, sp.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, sp.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {VELKARO_CLI_PATH, "run", project, "--log-dir", logs, "--json"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&sp.pid, VELKARO_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return sp;
}

// Record files under `logs` holding more than `readings` readings.
std::size_t files_with_readings(const std::string& logs, std::size_t readings = 2) {
    std::size_t n = 0;
    std::error_code ec;
    for (const auto& d : fs::recursive_directory_iterator(logs, ec))
        if (d.is_regular_file() && read_record(d.path().string()).lines > record_header_lines + readings) ++n;
    return n;
}

// Waits (bounded: a hang guard, not a measure of speed) for the process to end.
bool wait_for_exit(pid_t pid, int& status) {
    for (int i = 0; i < 1200; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

}  // namespace

// SIGTERM (a service manager) and SIGINT (Ctrl-C) both stop every instrument cleanly:
// exit 0, every record file whole and holding exactly the readings the summary counts.
TEST(cli_run, a_stop_signal_stops_every_instrument_with_complete_record_files) {
    for (const int signal_number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal_number);
        sim_process_t a("VXA-2");
        sim_process_t b("VXA-2");
        ASSERT_TRUE(a.ok() && b.ok());
        temp_dir_t dir;
        const std::string logs = (fs::path(dir.path()) / "logs").string();
        fs::create_directories(logs);
        const std::string project = write_project(dir.path(), {a.instr_resource(), b.instr_resource()});
        // No --time and no automatic stop in the project: only the signal ends the run.
        const spawned_t sp = spawn_run(dir.path(), project, logs);
        ASSERT_GT(sp.pid, 0);
        for (int i = 0; i < 300 && files_with_readings(logs) < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(files_with_readings(logs), 2u);
        ASSERT_EQ(kill(sp.pid, signal_number), 0);
        int status = 0;
        ASSERT_TRUE(wait_for_exit(sp.pid, status)) << "the run did not end after the signal";
        ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal instead of stopping cleanly";
        EXPECT_EQ(WEXITSTATUS(status), cli_exit_ok) << velkaro_test::read_file(sp.err_path);

        const json doc = json::parse(velkaro_test::read_file(sp.out_path), nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << velkaro_test::read_file(sp.out_path);
        EXPECT_EQ(doc["stopped_by_signal"], true);
        ASSERT_EQ(doc["instruments"].size(), 2u);
        for (const json& in : doc["instruments"]) EXPECT_EQ(in["status"], "ok") << in.dump();
        expect_complete_records(doc);
    }
}

// An instrument that goes silent mid-run (its process stopped: the link stays open, no
// reply comes) does not hold a stop signal: the run says it did not stop in time and
// exits 7 within its grace, and the record file holds whole lines.
TEST(cli_run, a_silent_instrument_does_not_hold_a_stop_signal) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    temp_dir_t dir;
    const std::string logs = (fs::path(dir.path()) / "logs").string();
    fs::create_directories(logs);
    const spawned_t sp = spawn_run(dir.path(), write_project(dir.path(), {sim.instr_resource()}), logs);
    ASSERT_GT(sp.pid, 0);
    for (int i = 0; i < 300 && files_with_readings(logs) < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(files_with_readings(logs), 1u);
    ASSERT_EQ(kill(sim.pid(), SIGSTOP), 0);  // silent from now on
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(kill(sp.pid, SIGTERM), 0);
    int status = 0;
    const bool ended = wait_for_exit(sp.pid, status);
    kill(sim.pid(), SIGCONT);
    ASSERT_TRUE(ended) << "the run did not end after SIGTERM";
    ASSERT_TRUE(WIFEXITED(status));
    const std::string err = velkaro_test::read_file(sp.err_path);
    EXPECT_EQ(WEXITSTATUS(status), cli_exit_run) << err;
    EXPECT_NE(err.find("did not stop within"), std::string::npos) << err;
    std::error_code ec;
    for (const auto& d : fs::recursive_directory_iterator(logs, ec))
        if (d.is_regular_file()) EXPECT_TRUE(read_record(d.path().string()).ends_at_line_end) << d.path();
}

// Two instruments whose sections log into the same folder (often starting within one
// second, when their file names would be equal; the engine tests force that case):
// each gets a file of its own, and each file holds exactly its instrument's readings.
TEST(cli_run, two_instruments_logging_into_one_folder_get_a_file_each) {
    sim_process_t a("VXA-2", {"--serial", "SAME"});
    sim_process_t b("VXA-2", {"--serial", "SAME"});
    ASSERT_TRUE(a.ok() && b.ok());
    temp_dir_t dir;
    const std::string logs = (fs::path(dir.path()) / "shared").string();
    fs::create_directories(logs);
    std::string project = velkaro_test::read_file(write_project(dir.path(), {a.instr_resource(), b.instr_resource()}));
    const std::string tag = "<record_position>1</record_position>";
    for (std::size_t at = project.find(tag); at != std::string::npos; at = project.find(tag, at + 1))
        project.insert(at + tag.size(), "<record_directory>" + logs + "</record_directory>");
    const std::string path = (fs::path(dir.path()) / "shared.dmm").string();
    std::ofstream(path) << project;
    const process_result_t r = run_cli({"run", path, "--time", "1", "--json"});
    ASSERT_EQ(r.exit_code, cli_exit_ok) << r.err;
    const json doc = json::parse(r.out);
    ASSERT_EQ(doc["instruments"].size(), 2u);
    const std::string f0 = doc["instruments"][0]["files"][0].get<std::string>();
    const std::string f1 = doc["instruments"][1]["files"][0].get<std::string>();
    EXPECT_NE(f0, f1);
    expect_complete_records(doc);
    EXPECT_EQ(std::distance(fs::directory_iterator(logs), fs::directory_iterator()), 2);
}

TEST(cli_run, a_scanning_section_scans_and_automatic_stops_end_the_run) {
    sim_process_t scanner("VXA-2");
    sim_process_t meter("VXB-1");
    ASSERT_TRUE(scanner.ok() && meter.ok());
    temp_dir_t dir;
    const std::string logs = (fs::path(dir.path()) / "logs").string();
    fs::create_directories(logs);
    const std::string project = (fs::path(dir.path()) / "mixed.dmm").string();
    {
        std::ofstream out(project);
        out << "<?xml version=\"1.0\"?>\n<root><SoftwareVersion>V1.0.3</SoftwareVersion>\n"
            << "<project><product_type>VXA-2</product_type><resource>" << scanner.instr_resource()
            << "</resource><scan><record_position>1</record_position><record_mode>1</record_mode>"
               "<stop_mode>3</stop_mode><stop_rounds>3</stop_rounds><delay>0</delay><channel_param>";
        for (int ch : {1, 2})
            out << "<channel index=\"" << ch
                << "\"><scan_state>1</scan_state><scan_counts>1</scan_counts><func>0</func><range>Auto</"
                   "range>"
                   "</channel>";
        out << "</channel_param></scan></project>\n"
            << "<project><product_type>VXB-1</product_type><resource>" << meter.instr_resource()
            << "</resource><measure><function>0</function><acq_param><record_position>1</record_position>"
               "<auto_stop_mode>1</auto_stop_mode><stop_num>5</stop_num><auto_enable>true</auto_enable>"
               "</acq_param></measure></project>\n</root>\n";
    }
    // No --time: each instrument ends by the stop its section saved.
    const process_result_t r = run_cli({"run", project, "--log-dir", logs, "--json"});
    ASSERT_EQ(r.exit_code, cli_exit_ok) << r.out << r.err;
    const json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    ASSERT_EQ(doc["instruments"].size(), 2u);
    const json& scan = doc["instruments"][0];
    EXPECT_EQ(scan["kind"], "scan");
    EXPECT_EQ(scan["readings"], 6) << scan.dump();  // 3 sweeps of 2 channels
    ASSERT_EQ(scan["channels"].size(), 2u);
    for (const json& ch : scan["channels"]) EXPECT_EQ(ch["count"], 3) << ch.dump();
    EXPECT_EQ(scan["files"].size(), 2u) << scan.dump();  // one log per channel, as the section says
    const json& meas = doc["instruments"][1];
    EXPECT_EQ(meas["kind"], "measure");
    EXPECT_EQ(meas["readings"], 5);
    expect_complete_records({{"instruments", {meas}}});
    // The scanner card got the section's channels, and no acquisition ran on it.
    const auto log = scanner.log_lines();
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("R?", 0) == 0; }), 0);
}

TEST(cli_run, a_log_folder_that_cannot_be_written_is_told_at_once_and_in_the_exit_code) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    temp_dir_t dir;
    std::string project = velkaro_test::read_file(write_project(dir.path(), {sim.instr_resource()}));
    const std::string tag = "<record_position>1</record_position>";
    project.replace(project.find(tag), tag.size(),
                    tag + "<record_directory>/nonexistent/logs</record_directory>");
    const std::string path = (fs::path(dir.path()) / "missing.dmm").string();
    std::ofstream(path) << project;
    const process_result_t r = run_cli({"run", path, "--time", "1"});
    EXPECT_EQ(r.exit_code, cli_exit_file) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot write to the log folder \"/nonexistent/logs\"; it runs without logging"),
              std::string::npos)
        << r.err;
    // It still measured for its whole time.
    EXPECT_NE(r.out.find("  readings: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("  readings: 0\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("  file: "), std::string::npos) << r.out;
}

TEST(cli_run, refuses_what_it_cannot_run) {
    temp_dir_t dir;
    const std::string not_a_project = (fs::path(dir.path()) / "x.dmm").string();
    std::ofstream(not_a_project) << "<html/>";
    const std::string empty = write_project(dir.path(), {});
    temp_dir_t dup_dir;
    // Two sections of one instrument: refused before anything is opened (the address
    // has no instrument; opening it would fail after a time-out).
    const std::string duplicate =
        write_project(dup_dir.path(), {"TCPIP0::127.0.0.9::inst0::INSTR", "TCPIP0::127.0.0.9::inst0::INSTR"});
    struct row_t {
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    const row_t rows[] = {
        {{"run", not_a_project}, cli_exit_usage, "is not a project file"},
        {{"run", empty}, cli_exit_usage, "the project has no instrument to run"},
        {{"run", empty, "--log-dir", "/nonexistent/dir"},
         cli_exit_usage,
         "cannot write to the log directory"},
        {{"run", empty, "--time", "-1"}, cli_exit_usage, ""},
        {{"run", empty, "--time", "nan"}, cli_exit_usage, "--time"},
        {{"run", duplicate}, cli_exit_usage, "twice"},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const process_result_t r = run_cli(row.args);
        EXPECT_EQ(r.exit_code, row.code) << r.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

namespace {

// The readings' times of day (seconds) in a record file, in file order.
std::vector<double> record_times_s(const std::string& path) {
    std::vector<double> times;
    std::istringstream in(velkaro_test::read_file(path));
    std::string line;
    for (std::size_t n = 0; std::getline(in, line); ++n) {
        if (n < record_header_lines) continue;
        // "value,date time": the time of day is enough to see a gap within one run.
        const std::size_t comma = line.find(',');
        const std::size_t space = line.find(' ', comma == std::string::npos ? 0 : comma);
        if (space == std::string::npos || comma == std::string::npos) continue;
        const std::string tod = line.substr(space + 1);
        int h = 0, m = 0;
        double sec = 0;
        if (std::sscanf(tod.c_str(), "%d:%d:%lf", &h, &m, &sec) == 3) times.push_back(h * 3600.0 + m * 60 + sec);
    }
    return times;
}

}  // namespace

// A lost link is opened again and the run goes on into the same file; another instrument
// at the address, or one that never comes back, ends that instrument's run with the
// lost-link code. Each row is one simulated instrument whose network goes away mid-run.
TEST(cli_run, a_lost_instrument_comes_back_and_its_run_goes_on_into_the_same_file) {
    struct case_t {
        const char* name;
        std::vector<std::string> sim_args;
        int exit_code;
        const char* told;  // on standard error, after "instrument 1 (VXA-2 at RES): "
        bool resumed;
        const char* time_s;  // the run's length: room for the outage and readings after it
    };
    const std::vector<case_t> cases = {
        // About 60 commands connect it; the network goes away a few ticks later for 3 s.
        {"same instrument", {"--outage-after", "75", "--outage-for", "3"}, cli_exit_ok, " is back after ", true, "12"},
        {"another instrument", {"--outage-after", "75", "--outage-for", "1", "--outage-serial", "OTHER-1"},
         cli_exit_link, "another instrument answered at ", false, "6"},
        {"never back", {"--drop-after", "75"}, cli_exit_link,
         " was lost and had not come back when the run ended", false, "6"},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        sim_process_t meter("VXA-2", c.sim_args);
        ASSERT_TRUE(meter.ok());
        temp_dir_t dir;
        const std::string logs = (fs::path(dir.path()) / "logs").string();
        fs::create_directories(logs);
        const std::string project = write_project(dir.path(), {meter.instr_resource()});
        const process_result_t r = run_cli({"run", project, "--time", c.time_s, "--log-dir", logs, "--json"});
        EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
        const std::string who = "velkaro-cli run: instrument 1 (VXA-2 at " + meter.instr_resource() + "): ";
        EXPECT_NE(r.err.find(who + "the link to the VXA-2 at " + meter.instr_resource() + " was lost; trying again"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
        const json doc = json::parse(r.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << r.out;
        const json& in = doc["instruments"][0];
        ASSERT_TRUE(in["gaps"].is_array()) << in.dump();
        ASSERT_EQ(in["gaps"].size(), 1u) << in.dump();
        const json& gap = in["gaps"][0];
        EXPECT_EQ(gap["resumed"], c.resumed) << gap.dump();
        EXPECT_GT(gap["readings_before"].get<unsigned>(), 0u) << gap.dump();
        if (!c.resumed) {
            EXPECT_EQ(in["status"], "failed") << in.dump();
            continue;
        }
        EXPECT_EQ(in["status"], "ok") << in.dump();
        EXPECT_GE(gap["seconds"].get<double>(), 1.0) << gap.dump();
        // Readings were taken after the gap too, and every one of them reached the one file.
        EXPECT_GT(gap["readings_after"].get<unsigned>(), 0u) << gap.dump();
        EXPECT_TRUE(gap["kept_running"].get<bool>()) << gap.dump();
        expect_complete_records(doc);
        // The instrument was never reset: one "*RST" in its whole log, at the first connect.
        const auto log = meter.log_lines();
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("*RST", 0) == 0; }),
                  1);
        // The gap shows in the readings' times.
        const std::vector<double> times = record_times_s(in["files"][0].get<std::string>());
        ASSERT_GT(times.size(), 2u);
        double widest = 0;
        for (std::size_t i = 1; i < times.size(); ++i) widest = std::max(widest, times[i] - times[i - 1]);
        EXPECT_GE(widest, 1.0);
    }
}

// A scanning instrument whose network goes away comes back scanning the same channels
// into the same log; the sweeps it made meanwhile are fetched.
TEST(cli_run, a_lost_scanner_comes_back_scanning_its_channels) {
    // About 80 commands set the card up; the network goes a few polls later, for 3 s.
    sim_process_t scanner("VXA-2", {"--outage-after", "100", "--outage-for", "3"});
    ASSERT_TRUE(scanner.ok());
    temp_dir_t dir;
    const std::string logs = (fs::path(dir.path()) / "logs").string();
    fs::create_directories(logs);
    const std::string project = (fs::path(dir.path()) / "scan.dmm").string();
    {
        std::ofstream out(project);
        out << "<?xml version=\"1.0\"?>\n<root><SoftwareVersion>V1.0.3</SoftwareVersion>\n"
            << "<project><product_type>VXA-2</product_type><resource>" << scanner.instr_resource()
            << "</resource><scan><record_position>1</record_position><record_mode>0</record_mode>"
               "<delay>0</delay><channel_param>";
        for (int ch : {1, 2})
            out << "<channel index=\"" << ch
                << "\"><scan_state>1</scan_state><scan_counts>1</scan_counts><func>0</func><range>Auto</range>"
                   "</channel>";
        out << "</channel_param></scan></project>\n</root>\n";
    }
    const process_result_t r = run_cli({"run", project, "--time", "12", "--log-dir", logs, "--json"});
    ASSERT_EQ(r.exit_code, cli_exit_ok) << r.out << r.err;
    EXPECT_NE(r.err.find(" is back after "), std::string::npos) << r.err;
    const json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    const json& in = doc["instruments"][0];
    EXPECT_EQ(in["kind"], "scan");
    EXPECT_EQ(in["status"], "ok") << in.dump();
    ASSERT_EQ(in["gaps"].size(), 1u) << in.dump();
    const json& gap = in["gaps"][0];
    EXPECT_TRUE(gap["resumed"].get<bool>()) << gap.dump();
    EXPECT_TRUE(gap["kept_running"].get<bool>()) << gap.dump();
    EXPECT_GT(gap["readings_after"].get<unsigned>(), 0u) << gap.dump();
    // Both channels went on (the stop may fall between the two of a sweep), and one log
    // holds the whole run.
    ASSERT_EQ(in["channels"].size(), 2u) << in.dump();
    const int first = in["channels"][0]["count"].get<int>(), second = in["channels"][1]["count"].get<int>();
    EXPECT_LE(std::abs(first - second), 1) << in.dump();
    EXPECT_GT(second, 10) << in.dump();
    EXPECT_EQ(in["files"].size(), 1u) << in.dump();
    const auto log = scanner.log_lines();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("*RST", 0) == 0; }),
              1);
}
