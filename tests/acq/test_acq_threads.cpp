// The timer tick, message handlers and start/stop from three threads at once.
#include "acq_test_util.h"

#include <thread>

namespace {

TEST(acq_threads, ticks_messages_and_start_stop_do_not_race) {
    fake_instrument_t instrument;
    instrument.set_endless(5);
    temp_dir_t dir;
    acq_main_options_t opt;
    opt.buffer_capacity = 1000;
    std::atomic<int> starts{0}, stops{0}, data{0};
    {
        acq_main_t engine(&instrument, opt);
        engine.set_notify_callback([&](plib_acq_notify_t n) {
            if (n == acq_notify_start) ++starts;
            if (n == acq_notify_stop) ++stops;
            if (n == acq_notify_data) ++data;
            (void)engine.get_run_state();
        });
        const std::string d = dir.path();
        engine.set_record_info_callback([d](plib_acq_file_record_param_t& p) {
            acq_fill_record_param(p, "M", "VXA-2", "SN", "fw", "V1.0.3", "DC Voltage", d, "stamp");
        });
        auto param = [&](int kind, auto fill) {
            plib_record_parameter_set_msg_t p;
            p.kind = kind;
            fill(p);
            engine.m_acq_record_parameter_data_msg.send(p);
        };
        param(record_kind_record_enable, [](auto& p) { p.record_enable = 1; });
        param(record_kind_interval, [](auto& p) { p.interval_ms = 1; });  // the timer ticks every 10 ms

        std::thread ui([&] {
            for (int i = 0; i < 60; ++i) {
                engine.set_run_state(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
                engine.set_run_state(0);
            }
        });
        std::thread caller([&] {
            for (int i = 0; i < 300; ++i) {
                engine.m_acq_trig_msg.send();
                plib_data_t latest;
                engine.m_acq_latest_msg.fetch(latest);
                unsigned int n = 0;
                engine.m_acq_original_data_num_msg.fetch(n);
                plib_acq_selected_data_list_t slice;
                slice.start = 0;
                slice.count = n / 2;
                engine.m_acq_selected_data_list_msg.fetch(slice);
                plib_trend_data_info_t trend;
                trend.mode = i % 2;
                engine.m_acq_trend_data_msg.fetch(trend);
                plib_record_run_state_info_t info;
                engine.m_acq_record_run_state_info_msg.fetch(info);
                const double span = 60.0 * (1 + i % 3);
                engine.m_acq_trend_timebase_set_msg.send(span);
                if (i % 50 == 0) param(record_kind_clear, [](auto&) {});
                if (i % 70 == 0) param(record_kind_buffer_mode, [&](auto& p) { p.buffer_mode = (i / 70) % 2; });
            }
        });
        ui.join();
        caller.join();
        engine.set_run_state(0);

        std::vector<plib_data_t> all;
        engine.m_acq_original_data_list_msg.fetch(all);
        EXPECT_LE(all.size(), 1000u);
        for (std::size_t i = 1; i < all.size(); ++i) ASSERT_LT(all[i - 1].timestamp, all[i].timestamp) << i;
    }
    EXPECT_EQ(starts.load(), stops.load());
    EXPECT_GE(starts.load(), 1);
    EXPECT_GT(data.load(), 0);
}

}  // namespace
