// velkaro-cli's output for scripts: results only on standard output, the libraries'
// diagnostics on standard error, --json documents that parse into the same facts, and
// progress only on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
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

// The readings of a record or export file (values after the header, first column).
std::vector<double> values_of(const std::string& path) {
    std::ifstream in(path);
    std::vector<double> values;
    std::size_t n = 0;
    for (std::string line; std::getline(in, line); ++n)
        if (n >= record_header_lines) values.push_back(std::stod(line.substr(0, line.find(','))));
    return values;
}

json parse(const process_result_t& r) {
    json doc = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << "not one JSON document: " << r.out;
    return doc;
}

// The library diagnostics seen during connecting and logging.
const char* const diagnostic_lines[] = {"_check_device_model_match", "get_private_model_name",
                                        "_get_file_record_info", "Success to open"};

}  // namespace

TEST(cli_output, standard_output_holds_results_only_and_step_lines_need_verbose) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    temp_dir_t dir;
    const std::string exported = (fs::path(dir.path()) / "export.csv").string();
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "--verbose" : "quiet");
        std::vector<std::string> args = {"measure",  "--model",  "VXA-2",  "--function",
                                         "VOLT",     "--count",  "3",      "--log-dir",
                                         dir.path(), "--export", exported, sim.instr_resource()};
        if (verbose) args.insert(args.begin(), "--verbose");
        const process_result_t r = run_cli(args);
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        for (const char* line : diagnostic_lines) EXPECT_EQ(r.out.find(line), std::string::npos) << line;
        // The core's step lines reach standard error with --verbose only.
        for (const char* step : {"_check_device_model_match: true\n", "get_private_model_name: VXA-2\n"}) {
            EXPECT_EQ(r.err.find(step) != std::string::npos, verbose) << step << "\n" << r.err;
        }
        EXPECT_EQ(r.err.find("_get_file_record_info") != std::string::npos, verbose) << r.err;
        EXPECT_NE(r.out.find("readings: 3\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("file: " + exported + "\n"), std::string::npos) << r.out;
        // Every line of standard output is a result line "key: value".
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_NE(line.find(": "), std::string::npos) << line;
        const bool told = r.err.find("velkaro-cli measure: connected to the VXA-2 at " +
                                     sim.instr_resource()) != std::string::npos;
        EXPECT_EQ(told, verbose) << r.err;
    }
    // Help and version are results too.
    const process_result_t version = run_cli({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out.rfind("velkaro-cli ", 0), 0u) << version.out;
    EXPECT_EQ(version.err, "");
}

TEST(cli_output, measure_json_holds_the_summary_statistics_and_files_of_the_run) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    temp_dir_t dir;
    const std::string exported = (fs::path(dir.path()) / "export.csv").string();
    const process_result_t r =
        run_cli({"measure", "--model", "VXA-2", "--function", "VOLT", "--count", "6", "--log-dir", dir.path(),
                 "--export", exported, "--json", sim.instr_resource()});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const json doc = parse(r);
    EXPECT_EQ(doc["exit_code"], 0);
    EXPECT_TRUE(doc["errors"].empty());
    EXPECT_EQ(doc["model"], "VXA-2");
    EXPECT_EQ(doc["readings"], 6);
    EXPECT_EQ(doc["readings_logged"], 6);
    EXPECT_EQ(doc["readings_in_buffer"], 6);
    EXPECT_EQ(doc["dropped"], 0);
    ASSERT_EQ(doc["files"].size(), 2u) << doc.dump();

    // The statistics are those of the readings in the files, and the files are complete.
    const std::vector<double> values = values_of(exported);
    ASSERT_EQ(values.size(), 6u);
    const json& st = doc["statistics"];
    EXPECT_EQ(st["count"], 6);
    EXPECT_DOUBLE_EQ(st["min"].get<double>(), *std::min_element(values.begin(), values.end()));
    EXPECT_DOUBLE_EQ(st["max"].get<double>(), *std::max_element(values.begin(), values.end()));
    double sum = 0;
    for (double v : values) sum += v;
    EXPECT_NEAR(st["mean"].get<double>(), sum / 6, 1e-12);
    for (const auto& f : doc["files"]) {
        const std::string path = f.get<std::string>();
        EXPECT_TRUE(fs::exists(path)) << path;
        EXPECT_EQ(values_of(path), values) << path;
    }
}

TEST(cli_output, json_documents_of_every_command_parse_into_the_same_facts) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());

    const process_result_t find = run_cli({"find", "--hosts", sim.address(), "--json"});
    ASSERT_EQ(find.exit_code, 0) << find.err;
    EXPECT_EQ(parse(find)["resources"], json::array({sim.instr_resource()}));

    const process_result_t id = run_cli({"identify", "--model", "VXA-2", "--json", sim.instr_resource()});
    ASSERT_EQ(id.exit_code, 0) << id.err;
    const json idj = parse(id);
    EXPECT_EQ(idj["manufacturer"], "Norvale Labs");
    EXPECT_EQ(idj["product_type"], "VXA-2");
    EXPECT_EQ(idj["serial_number"], "NL2611A0042");
    EXPECT_EQ(idj["software_version"], "2.03.11");
    EXPECT_TRUE(idj["error"].is_null());

    const process_result_t scan = run_cli(
        {"scan", "--model", "VXA-2", "--channels", "1,3", "--sweeps", "2", "--json", sim.instr_resource()});
    ASSERT_EQ(scan.exit_code, 0) << scan.out << scan.err;
    const json sj = parse(scan);
    EXPECT_EQ(sj["readings"], 4);
    EXPECT_EQ(sj["sweeps"], 2);
    ASSERT_EQ(sj["channels"].size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const json& ch = sj["channels"][i];
        SCOPED_TRACE(ch.dump());
        EXPECT_EQ(ch["channel"], i == 0 ? 1 : 3);
        EXPECT_EQ(ch["count"], 2);
        EXPECT_EQ(ch["function"], "DC Voltage");
        EXPECT_LE(ch["min"].get<double>(), ch["average"].get<double>());
        EXPECT_LE(ch["average"].get<double>(), ch["max"].get<double>());
        EXPECT_EQ(ch["alarm"], false);
    }

    const process_result_t show =
        run_cli({"project", "show", "--json", std::string(VELKARO_TEST_DATA_DIR) + "/sample_project.dmm"});
    ASSERT_EQ(show.exit_code, 0) << show.err;
    const json pj = parse(show);
    EXPECT_EQ(pj["software_version"], "V1.0.3");
    ASSERT_EQ(pj["instruments"].size(), 2u);
    const json& first = pj["instruments"][0];
    EXPECT_EQ(first["model"], "VXA-2");
    EXPECT_EQ(first["resource"], "TCPIP0::127.0.0.9::inst0::INSTR");
    EXPECT_EQ(first["function"]["scpi"], "RES");
    EXPECT_EQ(first["scan"]["enabled_channels"], json::array({2}));
    EXPECT_EQ(first["acquisition"]["record_directory"], "/tmp/rec dir");
    EXPECT_EQ(pj["instruments"][1]["resource"], "");
}

TEST(cli_output, json_errors_carry_the_exit_code_and_the_visa_status_name) {
    temp_dir_t dir;
    const std::string not_a_project = (fs::path(dir.path()) / "x.dmm").string();
    std::ofstream(not_a_project) << "not xml";
    const process_result_t show = run_cli({"project", "show", "--json", not_a_project});
    EXPECT_EQ(show.exit_code, cli_exit_usage);
    EXPECT_EQ(parse(show)["error"]["exit_code"], cli_exit_usage);

    // A reply slower than the link's time-out: a connection failure with VISA's own name.
    sim_process_t slow("VXA-2", {"--reply-delay", "2600"});
    ASSERT_TRUE(slow.ok());
    const process_result_t id = run_cli({"identify", "--model", "VXA-2", "--json", slow.instr_resource()});
    EXPECT_EQ(id.exit_code, cli_exit_connect) << id.out << id.err;
    const json e = parse(id)["error"];
    EXPECT_EQ(e["exit_code"], cli_exit_connect);
    EXPECT_EQ(e["visa_status"], "VI_ERROR_TMO") << e.dump();

    // A link lost during a measurement: the summary so far, and the error with its status.
    // By command count, not by time: connecting takes about 60 commands, each tick one more.
    sim_process_t dropping("VXA-2", {"--drop-after", "70"});
    ASSERT_TRUE(dropping.ok());
    const process_result_t m = run_cli({"measure", "--model", "VXA-2", "--function", "VOLT", "--time", "20",
                                        "--json", dropping.instr_resource()});
    EXPECT_EQ(m.exit_code, cli_exit_link) << m.out << m.err;
    const json mj = parse(m);
    EXPECT_EQ(mj["exit_code"], cli_exit_link);
    ASSERT_EQ(mj["errors"].size(), 1u) << mj.dump();
    EXPECT_EQ(mj["errors"][0]["exit_code"], cli_exit_link);
    EXPECT_EQ(mj["errors"][0]["visa_status"].get<std::string>().rfind("VI_ERROR_", 0), 0u) << mj.dump();
    EXPECT_NE(mj["errors"][0]["message"].get<std::string>().find("was lost"), std::string::npos);
    EXPECT_GT(mj["readings"].get<unsigned>(), 0u) << mj.dump();
    EXPECT_EQ(mj["statistics"]["count"], mj["readings_in_buffer"]);
}

TEST(cli_output, progress_is_drawn_on_a_terminal_and_never_into_a_pipe) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    const std::vector<std::string> args = {"measure", "--model", "VXA-2", "--function",
                                           "VOLT",    "--time",  "1.5",   sim.instr_resource()};
    const process_result_t piped = run_cli(args);
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    for (const std::string& text : {piped.out, piped.err}) {
        EXPECT_EQ(text.find('\r'), std::string::npos) << text;
        EXPECT_EQ(text.find("\033["), std::string::npos) << text;
        EXPECT_EQ(text.find("readings/s,"), std::string::npos) << text;
    }

    // The same run on a pseudo-terminal draws its progress line in place.
    velkaro_test::use_test_portmapper_port();
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> argv;
        std::string program = VELKARO_CLI_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO: the child closed the terminal
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    // A pseudo-terminal turns every line feed into "\r\n": the line drawn in place is a
    // "\r" that is not the start of one, followed by the clearing escape.
    bool drawn_in_place = false;
    for (std::size_t at = seen.find('\r'); at != std::string::npos; at = seen.find('\r', at + 1))
        if (at + 1 < seen.size() && seen[at + 1] != '\n') drawn_in_place = true;
    EXPECT_TRUE(drawn_in_place) << seen;
    EXPECT_NE(seen.find("\033[K"), std::string::npos) << seen;
    EXPECT_NE(seen.find(" readings/s, "), std::string::npos) << seen;
    EXPECT_NE(seen.find("readings: "), std::string::npos) << seen;
}
