// End to end: link engine, driver, scan configuration and scan engine against the simulator.
#include <gtest/gtest.h>

#include <thread>

#include "cfg/cfg_scan_config.h"
#include "drv/drv_link.h"
#include "drv/if/drv_if.h"
#include "remote/remote_main.h"
#include "scan/scan_drv_adapter.h"
#include "scan_test_util.h"
#include "support/sim_process.h"

namespace {

struct sim_scan_case_t {
    const char* name;
    int file_mode;
    int scan_mode;  // 0 scan, 1 step
    int sweeps;
};

class scan_sim_test : public ::testing::TestWithParam<sim_scan_case_t> {};

TEST_P(scan_sim_test, a_run_by_sweep_count_stores_and_logs_every_reading) {
    const sim_scan_case_t& c = GetParam();
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    remote_main_t link;
    unsigned long session = 0;
    ASSERT_EQ(link.open(sim.instr_resource(), session), 0);
    drv_remote_link_t remote_link(link);
    drv_if_t driver(&remote_link, "VXA-2");
    driver.set_session(session);
    scan_drv_adapter_t instrument(driver);
    scan_temp_dir_t dir;
    {
        scan_main_t engine(&instrument);
        cfg_scan_config_t config(&driver, &engine);
        int card = 0;
        ASSERT_EQ(config.query_scan_card(card), 0);
        ASSERT_EQ(card, 1);

        plib_scanner_channel_map_t params = config.get_channel_params();
        params[1].scan_state = 1;
        params[1].scan_counts = 2;
        params[3].scan_state = 1;
        params[3].scan_counts = 1;
        config.set_channel_params(params);
        config.set_limit_channels(1, 3);
        config.set_scan_mode(c.scan_mode);
        config.set_scan_delay(0.01);
        config.set_auto_count(0);
        config.set_stop_mode(scan_stop_after_sweeps);
        config.set_stop_scan_count(c.sweeps);
        config.set_record_enable(1);
        config.set_file_mode(c.file_mode);
        config.set_poll_interval(50);
        const std::string d = dir.path();
        engine.set_record_info_callback(
            [&config, d](plib_scanner_channel_map_t& p, plib_scan_file_record_param_t& i) {
                p = config.get_channel_params();
                i.product_type = "VXA-2";
                i.record_directory = d;
            });
        std::atomic<int> stops{0};
        engine.set_notify_callback([&](plib_scan_notify_t n) {
            if (n == scan_notify_stop) ++stops;
        });
        ASSERT_EQ(config.apply_scan_config(), 0);
        engine.set_run_state(1);
        for (int i = 0; i < 1000 && stops.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(engine.get_run_state(), 0) << "the run did not stop by itself within 10 s";

        plib_scan_data_map_t stored;
        engine.m_scan_original_data_msg.fetch(stored);
        plib_scan_statistic_map_t stats;
        engine.m_scan_statistic_data_msg.fetch(stats);
        const std::size_t n1 = stored.at(1).size();
        const std::size_t n3 = stored.at(3).size();
        EXPECT_EQ(n1, 2u * static_cast<std::size_t>(c.sweeps));
        EXPECT_EQ(n3, static_cast<std::size_t>(c.sweeps));
        EXPECT_EQ(stored.at(2).size(), 0u);
        EXPECT_EQ(stats.at(1).count, static_cast<int>(n1));
        EXPECT_EQ(stats.size(), 2u);

        const auto files = dir.files();
        if (c.file_mode == scan_file_mode_per_channel) {
            ASSERT_EQ(files.size(), 2u);
            for (const auto& f : files) {
                const std::string text = scan_read_file(d + "/" + f);
                const std::size_t lines =
                    static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
                EXPECT_EQ(lines, 9u + (f.find("Channel_1 ") != std::string::npos ? n1 : n3)) << f;
            }
        } else {
            ASSERT_EQ(files.size(), 1u);
            const std::string text = scan_read_file(d + "/" + files[0]);
            EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
                      1u + std::max(n1, n3));
            EXPECT_EQ(text.rfind("\"Channel_1: DC Voltage\",\"Channel_3: DC Voltage\"\n", 0), 0u) << text;
        }
    }
    link.close(session);
}

INSTANTIATE_TEST_SUITE_P(cases, scan_sim_test,
                         ::testing::Values(sim_scan_case_t{"per_channel_scan", 1, 0, 3},
                                           sim_scan_case_t{"single_file_step", 0, 1, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
