// One exit-code table for every command: listed by --help, and the same failure gives
// the same code whichever command meets it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_util.h"

namespace {

using velkaro_test::process_result_t;
using velkaro_test::run_cli;
using namespace velkaro_cli;

const std::string unreachable = "TCPIP0::127.0.0.0::inst0::INSTR";

struct row_t {
    std::vector<std::string> args;
    int code;
};

void expect_codes(const std::vector<row_t>& rows) {
    for (const row_t& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        const process_result_t r = run_cli(row.args);
        EXPECT_EQ(r.exit_code, row.code) << r.out << r.err;
        EXPECT_FALSE(r.err.empty()) << "a failure says why";
    }
}

TEST(cli_exit_codes, help_lists_every_code_with_its_meaning) {
    const process_result_t r = run_cli({"--help"});
    ASSERT_EQ(r.exit_code, cli_exit_ok) << r.err;
    for (const cli_exit_info_t& e : cli_exit_table)
        EXPECT_NE(r.out.find("\n  " + std::to_string(static_cast<int>(e.code)) + "  " + e.meaning + "\n"),
                  std::string::npos)
            << e.meaning << "\n"
            << r.out;
}

TEST(cli_exit_codes, the_readme_table_is_the_same_table) {
    const std::string readme =
        velkaro_test::read_file(std::string(VELKARO_TEST_DATA_DIR) + "/../../README.md");
    ASSERT_FALSE(readme.empty());
    for (const cli_exit_info_t& e : cli_exit_table)
        EXPECT_NE(readme.find("\n| " + std::to_string(static_cast<int>(e.code)) + " | " + e.meaning + " |\n"),
                  std::string::npos)
            << e.meaning;
}

TEST(cli_exit_codes, an_instrument_that_cannot_be_opened_is_connect_in_every_command) {
    expect_codes({
        {{"identify", "--model", "VXA-2", unreachable}, cli_exit_connect},
        // Without --model it identifies whatever answers: nothing does here.
        {{"identify", unreachable}, cli_exit_connect},
        {{"measure", "--model", "VXA-2", "--function", "VOLT", "--count", "1", unreachable},
         cli_exit_connect},
        {{"scan", "--model", "VXA-2", "--channels", "1", unreachable}, cli_exit_connect},
        {{"query", unreachable, "*IDN?"}, cli_exit_connect},
        {{"write", unreachable, "*RST"}, cli_exit_connect},
        {{"read", unreachable}, cli_exit_connect},
    });
}

TEST(cli_exit_codes, another_model_is_model_in_every_command) {
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    const std::string res = sim.instr_resource();
    expect_codes({
        {{"identify", "--model", "VXB-1", res}, cli_exit_model},
        {{"measure", "--model", "VXB-1", "--function", "VOLT", "--count", "1", res}, cli_exit_model},
        {{"scan", "--model", "VXB-2", "--channels", "1", res}, cli_exit_model},
    });
}

TEST(cli_exit_codes, argument_errors_are_usage_in_every_command) {
    expect_codes({
        {{}, cli_exit_usage},
        {{"frobnicate"}, cli_exit_usage},
        {{"identify", "--model", "XYZ-9", unreachable}, cli_exit_usage},
        {{"measure", "--model", "VXA-2", unreachable}, cli_exit_usage},
        {{"measure", "--model", "VXA-2", "--function", "VOLT", "--count", "-1", unreachable}, cli_exit_usage},
        {{"scan", "--model", "VXA-2", "--channels", "17", unreachable}, cli_exit_usage},
        {{"query", unreachable}, cli_exit_usage},
        {{"read", unreachable, "--timeout", "-5"}, cli_exit_usage},
        {{"project", "show"}, cli_exit_usage},
        {{"project", "show", "/nonexistent/velkaro.dmm"}, cli_exit_usage},
    });
}

}  // namespace
