// velkaro-cli identify against the simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/sim_process.h"

namespace {

struct run_result_t {
    int exit_code = -1;
    std::string output;  // standard output and standard error
};

run_result_t run_cli(const std::string& arguments) {
    run_result_t result;
    const std::string command = "VELKARO_VXI11_PORTMAPPER_PORT=11111 timeout 30 " +
                                std::string(VELKARO_CLI_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        result.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(cli_identify, prints_the_identification_of_the_chosen_model) {
    velkaro_test::sim_process_t sim("VXB-2");
    ASSERT_TRUE(sim.ok());
    const run_result_t run = run_cli("identify --model VXB-2 " + sim.instr_resource());
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("manufacturer: Norvale Labs\nproduct_type: VXB-2\nserial_number: NL2611A0042\n"
                              "software_version: 2.03.11\n"),
              std::string::npos)
        << run.output;
    const auto log = sim.log_lines();
    EXPECT_EQ(log, (std::vector<std::string>{"*IDN?", "MACHINE_INFO?", "*RST"}));
}

TEST(cli_identify, failures_exit_with_the_result_code) {
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    const run_result_t mismatch = run_cli("identify --model VXA-2E " + sim.instr_resource());
    EXPECT_EQ(mismatch.exit_code, 4);
    EXPECT_NE(mismatch.output.find("The device doesn't match the model!"), std::string::npos)
        << mismatch.output;

    const run_result_t unreachable = run_cli("identify --model VXA-2 TCPIP0::127.0.0.0::inst0::INSTR");
    EXPECT_EQ(unreachable.exit_code, 1) << unreachable.output;

    const run_result_t unknown = run_cli("identify --model VXB-3 " + sim.instr_resource());
    EXPECT_NE(unknown.exit_code, 0);
    EXPECT_EQ(sim.log_lines(), (std::vector<std::string>{"*IDN?", "IDN-MRQX-PRI?"}));
}

}  // namespace
