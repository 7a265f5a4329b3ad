// velkaro-cli measure and project show, against the simulator.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_test_util.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using velkaro_test::run_process;
using velkaro_test::temp_dir_t;
using namespace velkaro_cli;

namespace {

std::vector<std::string> lines_of(const fs::path& p) {
    std::ifstream in(p);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(cli_measure, runs_to_the_automatic_stop_with_a_record_file_and_an_export) {
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    temp_dir_t dir;
    const fs::path exported = fs::path(dir.path()) / "export.csv";
    const auto r =
        run_process(VELKARO_CLI_PATH, {"measure", "--model", "VXA-2", "--function", "VOLT", "--range", "20V",
                                       "--nplc", "1", "--count", "5", "--log-dir", dir.path(), "--export",
                                       exported.string(), sim.instr_resource()});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("readings: 5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mean: "), std::string::npos);

    fs::path record;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path() != exported) record = e.path();
    ASSERT_FALSE(record.empty());
    EXPECT_NE(record.filename().string().find(" DC Voltage VXA-2 "), std::string::npos) << record;
    const auto lines = lines_of(record);
    ASSERT_GE(lines.size(), 10u + 5u);
    const std::vector<std::string> header = {"Product type : VXA-2",
                                             "Product SRLN : NL2611A0042",
                                             "Product Software Version : 2.03.11",
                                             "Software Version : V1.0.3",
                                             "File type: CSV",
                                             "File version: 1.0",
                                             "Interval : 200ms"};
    for (std::size_t i = 0; i < header.size(); ++i) EXPECT_EQ(lines[i], header[i]);
    EXPECT_EQ(lines[9], "DC Voltage,Time(s)");
    EXPECT_EQ(lines_of(exported).size(), 10u + 5u);

    const auto log = sim.log_lines();
    EXPECT_NE(std::find(log.begin(), log.end(), "VOLT:RANGE 20V"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "VOLT:NPLC 1"), log.end());
}

TEST(cli_measure, a_project_section_is_written_at_connect_before_the_options) {
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    const auto r =
        run_process(VELKARO_CLI_PATH,
                    {"measure", "--model", "VXA-2", "--function", "DC Voltage", "--count", "2", "--project",
                     std::string(VELKARO_TEST_DATA_DIR) + "/sample_project.dmm", sim.instr_resource()});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("readings: 2\n"), std::string::npos) << r.out;
    const auto log = sim.log_lines();
    const auto rst = std::find(log.begin(), log.end(), "*RST");
    const auto nplc = std::find(rst, log.end(), "VOLT:NPLC 0.3");  // the sample's DC Voltage record
    const auto stored_function = std::find(nplc, log.end(), "FUNC \"RES\"");
    const auto chosen_function = std::find(stored_function, log.end(), "FUNC \"VOLT\"");
    EXPECT_NE(rst, log.end());
    EXPECT_NE(nplc, log.end());
    EXPECT_NE(stored_function, log.end());
    EXPECT_NE(chosen_function, log.end());
}

TEST(cli_measure, errors_give_a_message_and_their_exit_code) {
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXB-1");
    ASSERT_TRUE(sim.ok());
    temp_dir_t dir;
    const std::string file = (fs::path(dir.path()) / "plain").string();
    std::ofstream(file) << "x";
    struct error_case_t {
        const char* name;
        std::vector<std::string> args;
        int exit_code;
        const char* message;
    };
    const std::string res = sim.instr_resource();
    const std::vector<error_case_t> cases = {
        {"wrong model",
         {"--model", "VXA-2", "--function", "VOLT", "--count", "1", res},
         cli_exit_model,
         "is not a VXA-2"},
        {"unknown function",
         {"--model", "VXB-1", "--function", "Pressure", "--count", "1", res},
         cli_exit_function,
         "no function"},
        {"cannot connect",
         {"--model", "VXB-1", "--function", "DC Voltage", "--count", "1", "TCPIP0::127.0.0.1::inst9::INSTR"},
         cli_exit_connect,
         "cannot connect"},
        {"unwritable log dir",
         {"--model", "VXB-1", "--function", "VOLT", "--count", "1", "--log-dir", file, res},
         cli_exit_usage,
         "log directory"},
        {"unwritable export",
         {"--model", "VXB-1", "--function", "VOLT", "--count", "1", "--export", file + "/e.csv", res},
         cli_exit_usage,
         "export file"},
        {"full disk on export",
         {"--model", "VXB-1", "--function", "VOLT", "--count", "1", "--export", "/dev/full", res},
         cli_exit_file,
         "export file"},
    };
    for (const error_case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        std::vector<std::string> args = {"measure"};
        args.insert(args.end(), tc.args.begin(), tc.args.end());
        const auto r = run_process(VELKARO_CLI_PATH, args);
        EXPECT_EQ(r.exit_code, tc.exit_code) << r.out << r.err;
        EXPECT_NE(r.err.find(tc.message), std::string::npos) << r.err;
    }
}

TEST(cli_project, show_lists_instruments_and_skips_unknown_models) {
    temp_dir_t dir;
    const auto sample = run_process(
        VELKARO_CLI_PATH, {"project", "show", std::string(VELKARO_TEST_DATA_DIR) + "/sample_project.dmm"});
    ASSERT_EQ(sample.exit_code, 0) << sample.err;
    EXPECT_NE(sample.out.find("project 1: VXA-2 at TCPIP0::127.0.0.9::inst0::INSTR\n"), std::string::npos);
    EXPECT_NE(sample.out.find("project 2: VXB-1 at (no resource)\n"), std::string::npos);
    EXPECT_NE(sample.out.find("instruments: 2\n"), std::string::npos);

    const fs::path odd = fs::path(dir.path()) / "odd.dmm";
    std::ofstream(odd) << "<root><project><product_type>XYZ-9</product_type></project>"
                          "<project><product_type>VXB-2</product_type></project></root>";
    const auto r = run_process(VELKARO_CLI_PATH, {"project", "show", odd.string()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("project 1: unsupported model \"XYZ-9\", skipped\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("project 2: VXB-2 at (no resource)\n"), std::string::npos) << r.out;

    const fs::path bad = fs::path(dir.path()) / "bad.dmm";
    std::ofstream(bad) << "not xml";
    EXPECT_EQ(run_process(VELKARO_CLI_PATH, {"project", "show", bad.string()}).exit_code, cli_exit_usage);
}
