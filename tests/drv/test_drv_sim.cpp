// Every model against the simulator: connect, identification, model check, reset,
// configuration transfer and reading fetches of both families.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "cfg/cfg_remote.h"
#include "drv/drv_link.h"
#include "drv/drv_parse.h"
#include "drv/if/drv_if.h"
#include "drv_fake_link.h"
#include "remote/remote_main.h"
#include "support/sim_process.h"

namespace {

using velkaro_test::sim_process_t;

// One instrument as the manager will assemble it: link engine, driver holder, identity.
struct instrument_t {
    remote_main_t remote;
    drv_remote_link_t link{remote};
    drv_if_t driver;
    cfg_remote_t identity;

    instrument_t(const std::string& model, const std::string& resource)
        : driver(&link, model), identity(&link, &driver, model, resource) {
        identity.set_config_transfer([](drv_if_t& d) {
            plib_measure_cfg_map_t cfg_map;
            d.get_default_cfg_map(cfg_map);
            d.apply_cfg_map(cfg_map);
            d.set_function(measure_dcv);
        });
    }
};

// The commands a transfer of the model's defaults sends, as the scripted link records them.
std::vector<std::string> expected_transfer(const std::string& model) {
    velkaro_test::drv_fake_link_t fake;
    drv_if_t driver(&fake, model);
    plib_measure_cfg_map_t cfg_map;
    driver.get_default_cfg_map(cfg_map);
    driver.apply_cfg_map(cfg_map);
    driver.set_function(measure_dcv);
    std::vector<std::string> lines;
    for (std::string command : fake.commands) {
        command.pop_back();  // the log strips the "\n"
        lines.push_back(command);
    }
    return lines;
}

class drv_sim_test : public testing::Test {
protected:
    void SetUp() override { velkaro_test::use_test_portmapper_port(); }
};

TEST_F(drv_sim_test, every_model_connects_identifies_resets_and_receives_its_configuration) {
    for (const char* model : {"VXA-1", "VXA-2", "VXA-2E", "VXA-3", "VXB-1", "VXB-2"}) {
        SCOPED_TRACE(model);
        sim_process_t sim(model);
        ASSERT_TRUE(sim.ok());
        instrument_t instrument(model, sim.instr_resource());
        ASSERT_EQ(instrument.identity.connect(1), 0);
        EXPECT_EQ(instrument.identity.get_manufacturer(), "Norvale Labs");
        EXPECT_EQ(instrument.identity.get_product_type(), model);
        EXPECT_EQ(instrument.identity.get_serial_number(), "NL2611A0042");
        EXPECT_EQ(instrument.identity.get_software_version(), "2.03.11");
        EXPECT_TRUE(instrument.identity.get_info().connected);
        EXPECT_NE(instrument.driver.get_session(), 0u);
        ASSERT_EQ(instrument.identity.connect(0), 0);
        EXPECT_EQ(instrument.identity.connect(0), 2);

        std::vector<std::string> expected = {"*IDN?", model[2] == 'A' ? "IDN-MRQX-PRI?" : "MACHINE_INFO?",
                                             "*RST"};
        for (const std::string& line : expected_transfer(model)) expected.push_back(line);
        EXPECT_EQ(sim.log_lines(), expected);
    }
}

TEST_F(drv_sim_test, model_check_against_the_private_name) {
    struct case_t {
        const char* sim_model;
        const char* private_model;
        const char* chosen;
        int result;
    };
    const std::vector<case_t> cases = {
        {"VXA-2", "VXA-2E", "VXA-2", 0},  // the chosen name begins the private one
        {"VXA-2E", "VXA-2", "VXA-2E", 4},
        {"VXB-1", "VXB-2", "VXB-1", 4},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(std::string(c.chosen) + " at " + c.private_model);
        sim_process_t sim(c.sim_model, {"--private-model", c.private_model});
        ASSERT_TRUE(sim.ok());
        instrument_t instrument(c.chosen, sim.instr_resource());
        EXPECT_EQ(instrument.identity.connect(1), c.result);
        EXPECT_TRUE(instrument.identity.get_info().connected);
        EXPECT_EQ(instrument.identity.connect(0), 0);
        const auto log = sim.log_lines();
        const bool reset = std::find(log.begin(), log.end(), "*RST") != log.end();
        EXPECT_EQ(reset, c.result == 0);
    }
}

TEST_F(drv_sim_test, unreachable_resource) {
    instrument_t instrument("VXA-2", "TCPIP0::127.0.0.0::inst0::INSTR");
    EXPECT_EQ(instrument.identity.connect(1), 1);
    EXPECT_FALSE(instrument.identity.get_info().available);
    EXPECT_FALSE(instrument.identity.get_info().connected);
}

// Readings fetched after a fast run: a block well over one 800,000-byte read.
TEST_F(drv_sim_test, read_measure_data_of_both_families) {
    for (const char* model : {"VXA-2", "VXB-2"}) {
        SCOPED_TRACE(model);
        sim_process_t sim(model, {"--fast"});
        ASSERT_TRUE(sim.ok());
        instrument_t instrument(model, sim.instr_resource());
        ASSERT_EQ(instrument.identity.connect(1), 0);
        drv_if_t& driver = instrument.driver;
        const int64_t start_us = drv_now_us();
        ASSERT_EQ(driver.set_trig_count_inf(), 0);
        ASSERT_EQ(driver.init(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        std::vector<plib_data_t> data;
        ASSERT_EQ(driver.read_measure_data(data), 0);
        EXPECT_GE(data.size(), 60000u);  // about 16 bytes each: > 800,000 bytes
        for (std::size_t i = 0; i < data.size(); ++i) {
            ASSERT_TRUE(std::isfinite(data[i].value));
            if (i > 0) {
                ASSERT_GE(data[i].timestamp, data[i - 1].timestamp);
            }
        }
        // Both families time-stamp in microseconds since the Unix epoch.
        EXPECT_GT(data.front().timestamp, start_us - 10000000);
        EXPECT_LT(data.back().timestamp, drv_now_us() + 10000000);
        EXPECT_EQ(driver.abort(), 0);
        EXPECT_EQ(instrument.identity.connect(0), 0);
    }
}

}  // namespace
