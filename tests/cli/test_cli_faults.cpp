// Faults of the instrument and the link, end to end: each one ends the command at once
// with its own exit code and a line on stderr that says what happened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "support/fake_usbtmc_device.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using velkaro_test::process_result_t;
using velkaro_test::run_cli;
using velkaro_test::sim_process_t;
using velkaro_test::temp_dir_t;
using namespace velkaro_cli;

namespace {

constexpr std::size_t record_header_lines = 10;
// Far beyond any case below: a command that is still waiting then has not heard the fault.
constexpr int hang_guard_ms = 60000;

struct fault_case_t {
    std::string name;
    std::vector<std::string> sim_args;
    bool socket = false;                // raw socket instead of VXI-11
    std::vector<std::string> cli_args;  // the resource is appended
    int code;
    std::string stderr_text;
};

process_result_t run_case(const fault_case_t& c, sim_process_t& sim,
                          const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = c.cli_args;
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(c.socket ? sim.socket_resource() : sim.instr_resource());
    return run_cli(args, hang_guard_ms);
}

std::size_t record_lines(const std::string& dir) {
    std::size_t lines = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);) ++lines;
    }
    return lines;
}

}  // namespace

TEST(cli_faults, a_lost_link_ends_the_run_at_once_and_the_record_holds_what_was_logged) {
    const std::vector<std::string> measure = {"measure", "--model",    "VXA-2", "--function",
                                              "VOLT",    "--interval", "100"};
    // The links drop after 80 commands: the set-up takes about 60, so the run has fetched
    // readings about 20 times by then, however slowly the machine runs it.
    const std::vector<std::string> drop = {"--drop-after", "80"};
    const std::vector<fault_case_t> cases = {
        {"measure by count, VXI-11", drop, false, measure, cli_exit_link, "was lost"},
        {"measure by count, socket", drop, true, measure, cli_exit_link, "was lost"},
        {"measure by time, VXI-11", drop, false, measure, cli_exit_link, "was lost"},
    };
    const std::vector<std::vector<std::string>> stops = {
        {"--count", "2000000000"}, {"--count", "2000000000"}, {"--time", "3600"}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const fault_case_t& c = cases[i];
        SCOPED_TRACE(c.name);
        sim_process_t sim("VXA-2", c.sim_args);
        ASSERT_TRUE(sim.ok());
        temp_dir_t dir;
        std::vector<std::string> extra = stops[i];
        extra.insert(extra.end(), {"--log-dir", dir.path()});
        const process_result_t r = run_case(c, sim, extra);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, c.code) << r.out << r.err;
        EXPECT_NE(r.err.find(c.stderr_text), std::string::npos) << r.err;
        const std::string resource = c.socket ? sim.socket_resource() : sim.instr_resource();
        EXPECT_NE(r.err.find("VXA-2 at " + resource), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("VI_"), std::string::npos) << "the VISA status name: " << r.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.err, m, std::regex("; ([0-9]+) readings logged"))) << r.err;
        const std::size_t logged = std::stoul(m[1]);
        EXPECT_GT(logged, 0u) << "the run fetched readings before the drop";
        EXPECT_EQ(record_lines(dir.path()), record_header_lines + logged);
    }
}

// A USB instrument unplugged mid-measurement: the node's reads end and its writes fail,
// and the device leaves sysfs. The user gets the lost-link code, the line naming the
// instrument and its VISA status, and the readings logged are the lines in the record.
TEST(cli_faults, a_usb_instrument_unplugged_mid_measurement_is_a_lost_link) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    // Unplugged at the 80th command: the set-up takes about 60, the rest are fetches.
    velkaro_test::fake_usbtmc_device_t usb("NL2611A0042", sim.address(), sim.socket_port(), 80);
    ASSERT_TRUE(usb.ok());
    usb.use_tree();  // inherited by the child
    temp_dir_t dir;
    const process_result_t r =
        run_cli({"measure", "--model", "VXA-2", "--function", "VOLT", "--interval", "100", "--count",
                 "2000000000", "--log-dir", dir.path(), usb.resource()},
                hang_guard_ms);
    EXPECT_TRUE(usb.unplugged()) << "the program sent " << usb.commands() << " commands";
    EXPECT_EQ(usb.split_replies(), 0) << "every reply reached the program whole";
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, cli_exit_link) << r.out << r.err;
    EXPECT_NE(r.err.find("VXA-2 at " + usb.resource() + " was lost (VI_ERROR_"), std::string::npos) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.err, m, std::regex("; ([0-9]+) readings logged"))) << r.err;
    const std::size_t logged = std::stoul(m[1]);
    EXPECT_GT(logged, 0u) << "the run fetched readings before the unplug";
    EXPECT_EQ(record_lines(dir.path()), record_header_lines + logged);
}

TEST(cli_faults, a_lost_link_ends_a_scan_at_once) {
    sim_process_t sim("VXA-2", {"--drop-at", "2"});
    ASSERT_TRUE(sim.ok());
    const process_result_t r = run_cli({"scan", "--model", "VXA-2", "--channels", "1,2", "--sweeps", "999",
                                        "--delay", "0.1", sim.instr_resource()},
                                       hang_guard_ms);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, cli_exit_link) << r.out << r.err;
    EXPECT_NE(r.err.find("VXA-2 at " + sim.instr_resource() + " was lost"), std::string::npos) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex("; [1-9][0-9]* readings taken"))) << r.err;
}

// A full disk, made by a file size limit the command inherits (with the signal it would
// raise ignored, so writes fail as on a full disk): the user hears at once on stderr,
// the run goes on to its end, the exit code says so, and every log file ends at a line
// end with whole lines only.
TEST(cli_faults, a_full_disk_while_scanning_is_told_and_the_logs_end_at_a_line_end) {
    struct disk_case_t {
        const char* file_mode;
        rlim_t limit;
    };
    const disk_case_t cases[] = {{"single", 400}, {"per-channel", 260}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_mode);
        sim_process_t sim("VXA-2");
        ASSERT_TRUE(sim.ok());
        temp_dir_t log;
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto old_handler = signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = c.limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const process_result_t r =
            run_cli({"scan", "--model", "VXA-2", "--channels", "1,2,3", "--sweeps", "20", "--delay", "0.01",
                     "--log-dir", log.path(), "--file-mode", c.file_mode, sim.instr_resource()},
                    hang_guard_ms);
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, old_handler);
        EXPECT_EQ(r.exit_code, cli_exit_file) << r.out << r.err;
        EXPECT_TRUE(std::regex_search(r.err, std::regex("writing the log file failed after [0-9]+ readings")))
            << r.err;
        EXPECT_EQ(r.out.find("write fail"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("count 20"), std::string::npos) << "the run went on: " << r.out;
        ASSERT_FALSE(log.files().empty());
        for (const auto& f : log.files()) {
            const std::string text = velkaro_test::read_file(log.path() + "/" + f);
            ASSERT_FALSE(text.empty()) << f;
            EXPECT_EQ(text.back(), '\n') << f;
            EXPECT_LE(text.size(), c.limit) << f;
            // Whole lines only: below the titles or the header, every line has one cell per column.
            const std::size_t cells = std::string(c.file_mode) == "single" ? 3 : 2;
            std::istringstream in(text);
            std::string line;
            std::size_t n = 0;
            for (; std::getline(in, line) && n < 1000; ++n) {
                if (n < (cells == 3 ? 1u : 9u)) continue;
                EXPECT_EQ(static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')), cells - 1)
                    << f << ": " << line;
            }
            EXPECT_FALSE(fs::exists(log.path() + "/" + f + ".tail"));
        }
    }
}

TEST(cli_faults, a_scan_without_a_card_is_refused_at_the_start) {
    sim_process_t sim("VXA-2", {"--no-scan-card"});
    ASSERT_TRUE(sim.ok());
    const process_result_t r =
        run_cli({"scan", "--model", "VXA-2", "--channels", "1", sim.instr_resource()}, hang_guard_ms);
    EXPECT_EQ(r.exit_code, cli_exit_run) << r.out << r.err;
    EXPECT_NE(r.err.find("Failed to query that the device has a scan card installed!"), std::string::npos)
        << r.err;
    const auto log = sim.log_lines();
    EXPECT_NE(std::find(log.begin(), log.end(), "ROUT:STAT?"), log.end()) << "the card was asked";
    EXPECT_EQ(std::find(log.begin(), log.end(), "ROUT:SCAN 1"), log.end()) << "nothing was programmed";
}

TEST(cli_faults, silence_or_noise_at_identification_is_a_connection_failure_not_another_model) {
    const std::vector<std::string> identify = {"identify", "--model", "VXA-2"};
    const std::vector<fault_case_t> cases = {
        {"reply past the time-out",
         {"--reply-delay", "3000"},
         false,
         identify,
         cli_exit_connect,
         "VI_ERROR_TMO"},
        {"garbled reply", {"--garbage"}, false, identify, cli_exit_connect, "unreadable identification"},
        {"truncated reply, socket", {"--truncate"}, true, identify, cli_exit_connect, "connection failure"},
        {"truncated reply, VXI-11", {"--truncate"}, false, identify, cli_exit_connect, "connection failure"},
        // The line names the model that answered, with its serial number.
        {"another model",
         {},
         false,
         {"identify", "--model", "VXB-1"},
         cli_exit_model,
         "is not a VXB-1: it answers as VXA-2 (NL2611A0042) (The device doesn't match the model!)"},
        {"another model, socket, measure",
         {},
         true,
         {"measure", "--model", "VXA-3", "--function", "VOLT", "--count", "1"},
         cli_exit_model,
         "is not a VXA-3: it answers as VXA-2 (NL2611A0042) (The device doesn't match the model!)"},
        {"another model, scan",
         {},
         false,
         {"scan", "--model", "VXB-2", "--channels", "1"},
         cli_exit_model,
         "is not a VXB-2: it answers as VXA-2 (NL2611A0042) (The device doesn't match the model!)"},
    };
    for (const fault_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        sim_process_t sim("VXA-2", c.sim_args);
        ASSERT_TRUE(sim.ok());
        const process_result_t r = run_case(c, sim);
        EXPECT_EQ(r.exit_code, c.code) << r.out << r.err;
        EXPECT_NE(r.err.find(c.stderr_text), std::string::npos) << r.err;
        if (c.code != cli_exit_model) {
            EXPECT_EQ(r.err.find("is not a"), std::string::npos) << r.err;
        }
    }
}

TEST(cli_faults, a_count_beyond_the_counter_is_refused_not_wrapped) {
    const std::string unreachable = "TCPIP0::127.0.0.0::inst0::INSTR";
    for (const std::string count : {"2147483648", "4294967296", "99999999999"}) {
        SCOPED_TRACE(count);
        const process_result_t r =
            run_cli({"measure", "--model", "VXA-2", "--function", "VOLT", "--count", count, unreachable});
        EXPECT_EQ(r.exit_code, cli_exit_usage) << r.out << r.err;
        EXPECT_NE(r.err.find("out of range"), std::string::npos) << r.err;
    }
}

TEST(cli_faults, a_link_lost_during_set_up_ends_the_command_at_once) {
    const std::vector<std::vector<std::string>> commands = {
        {"measure", "--model", "VXA-2", "--function", "VOLT", "--count", "100"},
        {"scan", "--model", "VXA-2", "--channels", "1,2", "--sweeps", "5"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command.front());
        sim_process_t sim("VXA-2", {"--drop-after", "3"});  // after the identification
        ASSERT_TRUE(sim.ok());
        std::vector<std::string> args = command;
        args.push_back(sim.instr_resource());
        const process_result_t r = run_cli(args, hang_guard_ms);
        EXPECT_EQ(r.exit_code, cli_exit_link) << r.out << r.err;
        EXPECT_NE(r.err.find("VXA-2 at " + sim.instr_resource() + " was lost (VI_ERROR_CONN_LOST)"),
                  std::string::npos)
            << r.err;
    }
}
