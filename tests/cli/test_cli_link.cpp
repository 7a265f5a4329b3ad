// velkaro-cli find, query, write and read against the simulator: replies on standard
// output, VISA statuses on standard error, exit code 0 only on success.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_util.h"

namespace {

using velkaro_test::process_result_t;
using velkaro_test::sim_process_t;

using velkaro_test::run_cli;
using namespace velkaro_cli;

class cli_test : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        velkaro_test::use_test_portmapper_port();  // inherited by the tool
        s_sim = new sim_process_t("VXA-3");
    }
    static void TearDownTestSuite() {
        delete s_sim;
        s_sim = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_sim->ok()); }

    int log_count(const std::string& command) const {
        int count = 0;
        for (const auto& line : s_sim->log_lines()) count += line == command;
        return count;
    }

    static sim_process_t* s_sim;
};
sim_process_t* cli_test::s_sim = nullptr;

TEST_F(cli_test, query_prints_the_reply_with_or_without_the_terminator) {
    for (const std::string command : {"*IDN?", "*IDN?\n"}) {
        for (const std::string& resource : {s_sim->instr_resource(), s_sim->socket_resource()}) {
            SCOPED_TRACE(resource);
            const auto result = run_cli({"query", resource, command});
            EXPECT_EQ(result.exit_code, 0) << result.err;
            EXPECT_NE(result.out.find(",VXA-3,"), std::string::npos) << result.out;
            ASSERT_FALSE(result.out.empty());
            EXPECT_EQ(result.out.back(), '\n');
            EXPECT_EQ(result.err, "");
        }
    }
    // Each command reached the instrument as one terminated line, never as two.
    EXPECT_EQ(log_count("*IDN?"), 4);
    EXPECT_EQ(log_count(""), 0);
}

TEST_F(cli_test, write_sends_one_command) {
    const auto result = run_cli({"write", s_sim->instr_resource(), "SAMP:COUNT 3"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(log_count("SAMP:COUNT 3"), 1);
}

TEST_F(cli_test, read_with_nothing_pending_times_out) {
    const auto result = run_cli({"read", s_sim->instr_resource(), "--timeout", "200"});
    EXPECT_EQ(result.exit_code, cli_exit_link);
    // The link engine's diagnostic line is no result: standard error, before the failure.
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "_printf_vistatus: status = success\n"
              "velkaro-cli read: 0xBFFF0015 VI_ERROR_TMO: unknown error\n");
}

TEST_F(cli_test, failures_exit_non_zero_with_the_status_text) {
    struct row_t {
        std::vector<std::string> args;
        std::string err;
    };
    const row_t rows[] = {
        {{"query", "no resource at all", "*IDN?"},
         "velkaro-cli query: 0xBFFF0012 VI_ERROR_INV_RSRC_NAME: Invalid resource reference "
         "specified. Parsing error.\n"},
        {{"write", "TCPIP0::bogus::", "*RST"},
         "velkaro-cli write: 0xBFFF0012 VI_ERROR_INV_RSRC_NAME: Invalid resource reference "
         "specified. Parsing error.\n"},
    };
    for (const auto& row : rows) {
        const auto result = run_cli(row.args);
        EXPECT_EQ(result.exit_code, cli_exit_connect) << row.args[1];  // the open failed
        EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(cli_test, usage_errors_exit_non_zero) {
    const std::vector<std::vector<std::string>> rows = {
        {},
        {"query", s_sim->instr_resource()},
        {"frobnicate"},
        {"read", s_sim->instr_resource(), "--timeout", "-5"},
    };
    for (const auto& args : rows) {
        const auto result = run_cli(args);
        EXPECT_NE(result.exit_code, 0) << testing::PrintToString(args);
        EXPECT_GT(result.exit_code, 0) << "crashed or hung: " << testing::PrintToString(args);
    }
}

TEST_F(cli_test, find_lists_the_configured_host) {
    const auto result = run_cli({"find", "--hosts", s_sim->address()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, s_sim->instr_resource() + "\n");
}

}  // namespace
