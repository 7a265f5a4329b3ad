// velkaro-cli find, query, write and read against the simulator: replies on standard
// output, VISA statuses on standard error, exit code 0 only on success.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <filesystem>
#include <fstream>
#include "support/temp_dir.h"
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
    // The link engine's diagnostic line is no result: with --verbose it goes to standard
    // error before the failure, without it only the failure is said.
    const struct {
        bool verbose;
        const char* err;
    } rows[] = {
        {false, "velkaro-cli read: 0xBFFF0015 VI_ERROR_TMO: unknown error\n"},
        {true,
         "velkaro-cli: _printf_vistatus: status = success\n"
         "velkaro-cli read: 0xBFFF0015 VI_ERROR_TMO: unknown error\n"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"read", s_sim->instr_resource(), "--timeout", "200"};
        if (row.verbose) args.insert(args.begin(), "--verbose");
        const auto result = run_cli(args);
        EXPECT_EQ(result.exit_code, cli_exit_link);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, row.err);
    }
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
    // Each resource with its identification, as the GUI's search lists it.
    EXPECT_EQ(result.out.rfind(s_sim->instr_resource() + "  VXA-3  ", 0), 0u) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
}

// CIDR ranges are probed; malformed ones are usage errors. With neither --hosts nor
// --ranges, the ranges the GUI's Preferences saved are probed.
TEST_F(cli_test, find_probes_ranges_given_or_saved_in_preferences) {
    const std::string block = s_sim->address() + "/32";
    const auto given = run_cli({"find", "--ranges", block});
    EXPECT_EQ(given.exit_code, 0) << given.err;
    EXPECT_EQ(given.out.rfind(s_sim->instr_resource() + "  VXA-3  ", 0), 0u) << given.out;

    const auto bad = run_cli({"find", "--ranges", "127.0.0.1/99"});
    EXPECT_EQ(bad.exit_code, cli_exit_usage) << bad.out << bad.err;
    EXPECT_NE(bad.err.find("127.0.0.1/99"), std::string::npos) << bad.err;

    velkaro_test::temp_dir_t config;
    std::filesystem::create_directories(config.path() + "/Velkaro");
    std::ofstream(config.path() + "/Velkaro/velkaro.ini") << "[search]\nranges=" << block << "\n";
    const char* old_config = std::getenv("XDG_CONFIG_HOME");
    const std::string kept = old_config != nullptr ? old_config : "";
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    unsetenv("VELKARO_VISA_HOSTS");
    const auto saved = run_cli({"find", "--json"});
    if (old_config != nullptr) setenv("XDG_CONFIG_HOME", kept.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(saved.exit_code, 0) << saved.err;
    EXPECT_NE(saved.out.find("\"resource\": \"" + s_sim->instr_resource() + "\""), std::string::npos) << saved.out;
    EXPECT_NE(saved.out.find("\"model\": \"VXA-3\""), std::string::npos) << saved.out;
}

}  // namespace
