// velkaro-cli identify against the simulator.
#include <gtest/gtest.h>

#include <string>

#include "cli_test_util.h"

namespace {

using velkaro_test::process_result_t;
using velkaro_test::run_cli;
using namespace velkaro_cli;

TEST(cli_identify, prints_the_identification_of_the_chosen_model) {
    velkaro_test::sim_process_t sim("VXB-2");
    ASSERT_TRUE(sim.ok());
    const process_result_t run = run_cli({"identify", "--model", "VXB-2", sim.instr_resource()});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("manufacturer: Norvale Labs\nproduct_type: VXB-2\nserial_number: NL2611A0042\n"
                           "software_version: 2.03.11\n"),
              std::string::npos)
        << run.out;
    const auto log = sim.log_lines();
    EXPECT_EQ(log, (std::vector<std::string>{"*IDN?", "MACHINE_INFO?", "*RST"}));
}

TEST(cli_identify, failures_exit_with_the_result_code) {
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    const process_result_t mismatch = run_cli({"identify", "--model", "VXA-2E", sim.instr_resource()});
    EXPECT_EQ(mismatch.exit_code, cli_exit_model);
    EXPECT_NE(mismatch.err.find("The device doesn't match the model!"), std::string::npos) << mismatch.err;

    const process_result_t unreachable =
        run_cli({"identify", "--model", "VXA-2", "TCPIP0::127.0.0.0::inst0::INSTR"});
    EXPECT_EQ(unreachable.exit_code, cli_exit_connect) << unreachable.out << unreachable.err;

    const process_result_t unknown = run_cli({"identify", "--model", "VXB-3", sim.instr_resource()});
    EXPECT_NE(unknown.exit_code, 0);
    EXPECT_EQ(sim.log_lines(), (std::vector<std::string>{"*IDN?", "IDN-MRQX-PRI?"}));
}

// Without --model: whatever answers is identified and its model printed; only "*IDN?"
// is sent (no reset). Table of models, as each answers.
TEST(cli_identify, without_a_model_identifies_whatever_answers) {
    for (const char* model : {"VXA-2", "VXB-1"}) {
        SCOPED_TRACE(model);
        velkaro_test::sim_process_t sim(model);
        ASSERT_TRUE(sim.ok());
        const process_result_t run = run_cli({"identify", sim.instr_resource()});
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        EXPECT_EQ(run.out.rfind(std::string("model: ") + model + "\nmanufacturer: Norvale Labs\nproduct_type: " +
                                    model + "\nserial_number: ",
                                0),
                  0u)
            << run.out;
        EXPECT_NE(run.out.find("\nsupported: yes\n"), std::string::npos) << run.out;
        EXPECT_EQ(sim.log_lines(), (std::vector<std::string>{"*IDN?"}));
        const process_result_t json = run_cli({"identify", "--json", sim.instr_resource()});
        EXPECT_EQ(json.exit_code, 0);
        EXPECT_NE(json.out.find(std::string("\"model\": \"") + model + "\""), std::string::npos) << json.out;
    }
    const process_result_t unreachable = run_cli({"identify", "TCPIP0::127.0.0.0::inst0::INSTR"});
    EXPECT_EQ(unreachable.exit_code, cli_exit_connect) << unreachable.out << unreachable.err;
    EXPECT_TRUE(unreachable.out.empty()) << unreachable.out;
}

}  // namespace
