// The tick (timer thread and trig message), the handlers and run-state changes at the
// same time: the engine lock keeps every view whole (and ThreadSanitizer quiet).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "scan_test_util.h"

TEST(scan_threads, tick_handlers_and_run_state_changes_never_overlap) {
    fake_scanner_t scanner;
    scanner.set_endless(4, 3);
    scan_temp_dir_t dir;
    scan_main_options_t opt;
    opt.stamp = [](const std::string& sep) { return "2024-10-28 14" + sep + "05" + sep + "09"; };
    scan_main_t engine(&scanner, opt);
    std::atomic<int> notes{0};
    engine.set_notify_callback([&](plib_scan_notify_t) { notes.fetch_add(1); });
    engine.set_record_info_callback(
        [&](plib_scanner_channel_map_t& params, plib_scan_file_record_param_t& info) {
            for (int ch = 1; ch <= 4; ++ch) params[ch] = channel(1, 3);
            params[2].scaling = 1;
            params[2].gain = 2.0;
            info.record_directory = dir.path();
        });
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_record_enable;
    p.record_enable = 1;
    engine.m_scan_record_parameter_set_msg.send(p);
    p.kind = scan_param_poll_interval;
    p.poll_interval_ms = 10;
    engine.m_scan_record_parameter_set_msg.send(p);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    std::atomic<bool> broken{false};
    std::thread runner([&] {
        for (int i = 0; i < 400 && std::chrono::steady_clock::now() < deadline; ++i) {
            engine.set_run_state(i % 2 == 0 ? 1 : 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    std::thread trigger([&] {
        for (int i = 0; i < 2000 && std::chrono::steady_clock::now() < deadline; ++i)
            engine.m_scan_trig_msg.send();
    });
    std::thread reader([&] {
        for (int i = 0; i < 2000 && std::chrono::steady_clock::now() < deadline; ++i) {
            plib_scan_statistic_map_t stats;
            plib_scan_data_map_t stored;
            plib_scan_run_state_t info;
            engine.m_scan_statistic_data_msg.fetch(stats);
            engine.m_scan_original_data_msg.fetch(stored);
            engine.m_scan_run_state_info_msg.fetch(info);
            // Each view is taken whole: every tick adds three readings to each of the four
            // channels and a clear empties them all, so a copy taken inside a tick or a
            // clear would show channels of different lengths.
            for (int ch = 2; ch <= 4; ++ch) {
                if (stored[ch].size() != stored[1].size() || stored[1].size() % 3 != 0) broken = true;
                if (stats.count(ch) != stats.count(1)) broken = true;
                if (stats.count(ch) && stats[ch].count != stats[1].count) broken = true;
            }
            if (info.readings_count % 12 != 0) broken = true;
            if (i % 50 == 0) {
                plib_scan_record_parameter_set_t clear;
                clear.kind = scan_param_clear_data;
                engine.m_scan_record_parameter_set_msg.send(clear);
            }
        }
    });
    runner.join();
    trigger.join();
    reader.join();
    engine.set_run_state(0);
    EXPECT_FALSE(broken.load());
    EXPECT_GT(notes.load(), 0);
    EXPECT_GT(scanner.fetches(), 1);
}
