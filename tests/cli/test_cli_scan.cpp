// velkaro-cli scan against the simulator.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cli_test_util.h"
#include "support/temp_dir.h"

namespace {

using velkaro_test::process_result_t;
using velkaro_test::read_file;
using velkaro_test::run_cli;
using namespace velkaro_cli;

TEST(cli_scan, sweeps_print_statistics_and_write_logs_and_export) {
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    velkaro_test::temp_dir_t log, exported;
    const process_result_t run =
        run_cli({"scan", "--model", "VXA-2", "--channels", "1,3", "--func", "3=RES", "--sweeps", "2",
                 "--delay", "0.02", "--log-dir", log.path(), "--file-mode", "per-channel", "--export",
                 exported.path(), sim.instr_resource()});
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    const std::regex ch1(
        "channel 1 \\(DC Voltage\\): min [-0-9.e+]+, max [-0-9.e+]+, average [-0-9.e+]+, "
        "count 2, alarm none\n");
    const std::regex ch3("channel 3 \\(2 Wire Resistance\\): min .*, count 2, alarm none\n");
    EXPECT_TRUE(std::regex_search(run.out, ch1)) << run.out;
    EXPECT_TRUE(std::regex_search(run.out, ch3)) << run.out;
    ASSERT_EQ(log.files().size(), 2u);
    ASSERT_EQ(exported.files().size(), 2u);
    for (const auto& f : exported.files()) {
        const std::string text = read_file(exported.path() + "/" + f);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9 + 2) << f;
    }
    const std::string logged = read_file(log.path() + "/" + log.files()[1]);
    EXPECT_NE(logged.find("Product type : VXA-2\n"), std::string::npos);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 9 + 2);
}

TEST(cli_scan, refused_requests_exit_with_a_reason) {
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    struct refusal_t {
        std::vector<std::string> args;
        int code;
        const char* text;
    };
    const refusal_t cases[] = {
        {{"--channels", "2", "--func", "2=CURR"}, cli_exit_usage, "channel 2 cannot measure CURR"},
        {{"--channels", "2", "--func", "x=DCV"}, cli_exit_usage, "bad --func x=DCV"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"scan", "--model", "VXA-2"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(sim.instr_resource());
        const process_result_t run = run_cli(args);
        EXPECT_EQ(run.exit_code, c.code) << run.out << run.err;
        EXPECT_NE(run.err.find(c.text), std::string::npos) << run.err;
    }
    const process_result_t wrong =
        run_cli({"scan", "--model", "VXB-2", "--channels", "1", sim.instr_resource()});
    EXPECT_EQ(wrong.exit_code, cli_exit_model) << wrong.out << wrong.err;
}

}  // namespace
