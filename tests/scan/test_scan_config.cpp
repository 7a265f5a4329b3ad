// Scan configuration: driver defaults, setter ranges, parameters reaching the engine,
// sweep readings and the order in which the card is programmed.
#include <gtest/gtest.h>

#include <cmath>

#include "../drv/drv_fake_link.h"
#include "cfg/cfg_scan_config.h"
#include "drv/if/drv_if.h"
#include "scan_test_util.h"

struct scan_config_fixture_t : scan_engine_fixture_t {
    velkaro_test::drv_fake_link_t link;
    std::unique_ptr<drv_if_t> driver;
    std::unique_ptr<cfg_scan_config_t> config;
    void SetUp() override {
        scan_engine_fixture_t::SetUp();
        driver = std::make_unique<drv_if_t>(&link, "VXA-2");
        config = std::make_unique<cfg_scan_config_t>(driver.get(), engine.get());
        link.commands.clear();
    }
};

TEST_F(scan_config_fixture_t, defaults_come_from_the_driver) {
    EXPECT_EQ(config->get_scan_mode(), 0);
    EXPECT_EQ(config->get_scan_delay(), 1.0);
    EXPECT_EQ(config->get_scan_count(), 1);
    EXPECT_EQ(config->get_auto_count(), 1);
    EXPECT_EQ(config->get_max_delay(), 999.0);
    EXPECT_EQ(config->get_max_count(), 999);
    EXPECT_EQ(config->get_channel_params().size(), 16u);
    EXPECT_EQ(config->get_stop_scan_count(), 1);
    EXPECT_EQ(config->get_record_enable(), 0);
    EXPECT_TRUE(link.commands.empty());
}

TEST_F(scan_config_fixture_t, setter_ranges) {
    struct delay_case_t {
        double in, stored;
    };
    for (const auto& c :
         {delay_case_t{0.0, 0.0}, delay_case_t{-0.1, 0.0}, delay_case_t{999.0, 999.0},
          delay_case_t{999.5, 999.0}, delay_case_t{std::nan(""), 999.0}, delay_case_t{2.5, 2.5}}) {
        config->set_scan_delay(c.in);
        EXPECT_EQ(config->get_scan_delay(), c.stored) << c.in;
    }
    struct count_case_t {
        int in, stored;
    };
    for (const auto& c : {count_case_t{5, 5}, count_case_t{0, 5}, count_case_t{1, 1}, count_case_t{999, 999},
                          count_case_t{1000, 999}, count_case_t{-3, 999}}) {
        config->set_scan_count(c.in);
        EXPECT_EQ(config->get_scan_count(), c.stored) << c.in;
    }
    // The stop count also sets the scan count, up to and including the bound.
    for (const auto& c : {count_case_t{7, 7}, count_case_t{999, 999}, count_case_t{1, 1}, count_case_t{0, 1},
                          count_case_t{1000, 1}}) {
        config->set_stop_scan_count(c.in);
        EXPECT_EQ(config->get_stop_scan_count(), c.stored) << c.in;
        EXPECT_EQ(config->get_scan_count(), c.stored) << c.in;
    }
    config->set_limit_channels(2, 2000000000);
    EXPECT_EQ(config->get_limit_low_channel(), 2);
    EXPECT_EQ(config->get_limit_high_channel(), 0);
}

TEST_F(scan_config_fixture_t, channel_params_set_sweep_readings_and_the_engine_stops_after_the_sweeps) {
    plib_scanner_channel_map_t params = config->get_channel_params();
    params[1].scan_state = 1;
    params[1].scan_counts = 2;
    params[3].scan_state = 1;
    params[3].scan_counts = 1;
    params[4].scan_counts = 9;    // not scanned
    params[20] = channel(1, 50);  // unknown channel: not taken
    config->set_channel_params(params);
    EXPECT_EQ(config->get_sweep_readings(), 3);
    EXPECT_EQ(config->get_channel_params().count(20), 0u);
    EXPECT_EQ(config->get_channel_params().at(1).scan_counts, 2);

    config->set_stop_mode(3);
    config->set_stop_scan_count(2);
    start_scanning();
    tick_with({{1, readings({1, 2})}, {3, readings({3})}, {2, readings({4})}});
    EXPECT_EQ(engine->get_run_state(), 1);  // 4 < 2 * 3
    tick_with({{1, readings({5})}, {3, readings({6})}});
    EXPECT_EQ(engine->get_run_state(), 0);
}

TEST_F(scan_config_fixture_t, apply_programs_the_card_in_order) {
    plib_scanner_channel_map_t params = config->get_channel_params();
    params[2].scan_state = 1;
    params[2].scan_counts = 3;
    config->set_channel_params(params);
    config->set_limit_channels(2, 2);
    config->set_scan_mode(1);
    config->set_scan_delay(0.5);
    config->set_scan_count(4);
    config->set_auto_count(0);
    link.commands.clear();
    EXPECT_EQ(config->apply_scan_config(), 0);
    EXPECT_EQ(config->get_scan_enable(), 1);
    ASSERT_EQ(link.commands.size(), 1u + 16u + 5u);
    std::vector<std::string> c = link.commands;
    for (auto& s : c) {
        ASSERT_FALSE(s.empty());
        EXPECT_EQ(s.back(), '\n');
        s.pop_back();
    }
    EXPECT_EQ(c.front(), "ROUT:SCAN 1");
    for (int ch = 1; ch <= 16; ++ch)
        EXPECT_EQ(c[static_cast<std::size_t>(ch)].rfind("ROUT:CHAN " + std::to_string(ch) + ",", 0), 0u)
            << c[ch];
    EXPECT_EQ(c[2], "ROUT:CHAN 2,ON,DCV,Auto,SLOW,3");
    const std::vector<std::string> tail(c.end() - 5, c.end());
    EXPECT_EQ(tail, (std::vector<std::string>{":ROUT:LIMIT:LOW 2\n;:ROUT:LIMIT:HIGH 2", "ROUT:FUNC STEP",
                                              "ROUT:DEL 0.5", "ROUT:COUNT 4", "ROUT:COUNT:AUTO 0"}))
        << ::testing::PrintToString(tail);
}

TEST_F(scan_config_fixture_t, export_and_clear_reach_the_engine) {
    start_scanning();
    tick_with({{1, readings({1})}});
    config->clear_data();
    plib_scan_run_state_t info;
    engine->m_scan_run_state_info_msg.fetch(info);
    EXPECT_EQ(info.readings_count, 0u);
    EXPECT_NE(config->export_data(""), 0);
}
