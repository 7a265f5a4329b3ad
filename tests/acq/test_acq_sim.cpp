// End to end: link engine, driver and acquisition engine against the simulator.
#include "acq_test_util.h"

#include <thread>

#include "acq/acq_drv_adapter.h"
#include "common/plib_format.h"
#include "drv/drv_link.h"
#include "drv/if/drv_if.h"
#include "remote/remote_main.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;

struct sim_case_t {
    const char* name;
    std::vector<std::string> sim_args;
    int stop_num;
};

class acq_sim_test : public ::testing::TestWithParam<sim_case_t> {};

TEST_P(acq_sim_test, a_measured_run_logs_exactly_its_readings_in_time_order) {
    const sim_case_t& c = GetParam();
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXA-2", c.sim_args);
    ASSERT_TRUE(sim.ok());
    remote_main_t link;
    unsigned long session = 0;
    ASSERT_EQ(link.open(sim.instr_resource(), session), 0);
    drv_remote_link_t remote_link(link);
    drv_if_t driver(&remote_link, "VXA-2");
    driver.set_session(session);
    acq_drv_adapter_t instrument(driver);

    temp_dir_t dir;
    std::atomic<int> stops{0};
    {
        acq_main_t engine(&instrument);
        engine.set_notify_callback([&](plib_acq_notify_t n) {
            if (n == acq_notify_stop) ++stops;
        });
        const std::string d = dir.path();
        engine.set_record_info_callback([d](plib_acq_file_record_param_t& p) {
            acq_fill_record_param(p, "M", "VXA-2", "SN", "fw", "V1.0.3", "DC Voltage", d, "run");
        });
        auto param = [&](int kind, auto fill) {
            plib_record_parameter_set_msg_t p;
            p.kind = kind;
            fill(p);
            engine.m_acq_record_parameter_data_msg.send(p);
        };
        param(record_kind_record_enable, [](auto& p) { p.record_enable = 1; });
        param(record_kind_interval, [](auto& p) { p.interval_ms = 50; });
        param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
        param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_count; });
        param(record_kind_stop_num, [&](auto& p) { p.stop_num = c.stop_num; });
        engine.set_run_state(1);
        for (int i = 0; i < 1000 && stops.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(engine.get_run_state(), 0) << "the run did not stop by itself within 10 s";
        std::vector<plib_data_t> all;
        engine.m_acq_original_data_list_msg.fetch(all);
        ASSERT_EQ(all.size(), static_cast<std::size_t>(c.stop_num));

        const std::string path = (fs::path(d) / "run DC Voltage VXA-2 SN.csv").string();
        const auto lines = split_lines(read_file(path));
        ASSERT_EQ(lines.size(), 10u + static_cast<std::size_t>(c.stop_num));
        EXPECT_EQ(lines[9], "DC Voltage,Time(s)");
        for (std::size_t i = 0; i < all.size(); ++i) {
            ASSERT_EQ(lines[10 + i].substr(lines[10 + i].find(',') + 1), format_timestamp_us(all[i].timestamp)) << i;
            if (i > 0) {
                ASSERT_LE(all[i - 1].timestamp, all[i].timestamp) << i;
            }
        }
        EXPECT_LT(all.front().timestamp, all.back().timestamp);
    }
    link.close(session);
}

INSTANTIATE_TEST_SUITE_P(runs, acq_sim_test,
                         ::testing::Values(sim_case_t{"one_tick", {"--fast"}, 20000},
                                           sim_case_t{"several_ticks", {"--fast"}, 150000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
