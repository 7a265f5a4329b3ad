// Scan engine: start conditions, stop conditions, stored-reading limit, parameter kinds.
#include <gtest/gtest.h>

#include "scan_test_util.h"

using notes_t = std::vector<plib_scan_notify_t>;

TEST_F(scan_engine_fixture_t, start_condition_in_the_past_starts_at_the_first_tick) {
    param(scan_param_start_mode, [](auto& p) { p.start_mode = 1; });
    param(scan_param_start_timestamp, [&](auto& p) { p.start_timestamp = scan_test_t0 - 1000000; });
    engine->set_run_state(1);
    EXPECT_TRUE(take_notes().empty());
    EXPECT_EQ(scanner.fetches(), 1);  // only the flush of old readings
    tick();
    EXPECT_EQ(take_notes(), (notes_t{scan_notify_start}));
    EXPECT_EQ(scanner.calls(), (std::vector<std::string>{"start 1"}));
    EXPECT_EQ(run_info().start_timestamp, scan_test_t0);
}

TEST_F(scan_engine_fixture_t, start_condition_in_the_future_waits_without_fetching) {
    param(scan_param_start_mode, [](auto& p) { p.start_mode = 1; });
    param(scan_param_start_timestamp, [&](auto& p) { p.start_timestamp = scan_test_t0 + 1000000; });
    engine->set_run_state(1);
    scanner.script({{1, readings({5.0})}});
    for (int i = 0; i < 3; ++i) {
        clock_us += 300000;
        tick();
    }
    EXPECT_EQ(take_notes(), (notes_t{scan_notify_wait, scan_notify_wait, scan_notify_wait}));
    EXPECT_EQ(scanner.fetches(), 1);
    EXPECT_EQ(run_info().elapsed_s, 0.0);
    clock_us += 100000;  // reaches the start time exactly
    tick();
    EXPECT_EQ(take_notes(), (notes_t{scan_notify_start}));
    clock_us += 2500000;
    tick();
    EXPECT_EQ(take_notes(), (notes_t{scan_notify_data}));
    EXPECT_DOUBLE_EQ(run_info().elapsed_s, 2.5);
    EXPECT_EQ(latest().at(1).value, 5.0);
}

TEST_F(scan_engine_fixture_t, second_start_does_nothing_and_stop_while_waiting_stops_the_scanner) {
    param(scan_param_start_mode, [](auto& p) { p.start_mode = 1; });
    param(scan_param_start_timestamp, [&](auto& p) { p.start_timestamp = scan_test_t0 + 1000000; });
    engine->set_run_state(1);
    engine->set_run_state(1);
    EXPECT_EQ(scanner.fetches(), 1);
    engine->set_run_state(0);
    EXPECT_EQ(engine->get_run_state(), 0);
    EXPECT_EQ(take_notes(), (notes_t{scan_notify_stop}));
    EXPECT_EQ(scanner.calls(), (std::vector<std::string>{"start 0"}));
    engine->set_run_state(0);
    EXPECT_TRUE(take_notes().empty());
}

// Stop conditions. Every case runs ticks of one reading on channels 1 and 2, 1 s apart,
// and names the tick (1-based, after the start tick) that stops the run. The readings of
// the stopping tick are kept in every mode.
struct stop_case_t {
    const char* name;
    int stop_mode;
    double stop_duration;
    uint64_t stop_offset_us;  // stop timestamp - t0
    int stop_scan_count;
    int sweep_readings;  // 0: never sent
    int stopping_tick;   // 0: never stops within 5 ticks
};

class scan_stop_test : public scan_engine_fixture_t, public ::testing::WithParamInterface<stop_case_t> {};

TEST_P(scan_stop_test, stops_at_the_expected_tick_and_keeps_its_readings) {
    const stop_case_t& c = GetParam();
    param(scan_param_stop_mode, [&](auto& p) { p.stop_mode = c.stop_mode; });
    param(scan_param_stop_duration, [&](auto& p) { p.stop_duration = c.stop_duration; });
    param(scan_param_stop_timestamp, [&](auto& p) { p.stop_timestamp = scan_test_t0 + c.stop_offset_us; });
    param(scan_param_stop_scan_count, [&](auto& p) { p.stop_scan_count = c.stop_scan_count; });
    param(scan_param_sweep_readings, [&](auto& p) { p.sweep_readings = c.sweep_readings; });
    start_scanning();
    take_notes();
    scanner.clear_calls();
    int stopped_at = 0;
    for (int t = 1; t <= 5 && engine->get_run_state() == 1; ++t) {
        clock_us += 1000000;
        tick_with({{1, readings({double(t)})}, {2, readings({double(10 + t)})}});
        const notes_t n = take_notes();
        if (engine->get_run_state() == 0) {
            stopped_at = t;
            EXPECT_EQ(n, (notes_t{scan_notify_stop, scan_notify_data}));
            EXPECT_EQ(scanner.calls(), (std::vector<std::string>{"start 0"}));
        } else {
            EXPECT_EQ(n, (notes_t{scan_notify_data}));
        }
    }
    EXPECT_EQ(stopped_at, c.stopping_tick);
    const int ticks = stopped_at ? stopped_at : 5;
    EXPECT_EQ(run_info().readings_count, static_cast<uint32_t>(2 * ticks));
    EXPECT_EQ(stored().at(1).size(), static_cast<std::size_t>(ticks));
    EXPECT_EQ(statistics().at(2).count, ticks);
}

INSTANTIATE_TEST_SUITE_P(cases, scan_stop_test,
                         ::testing::Values(stop_case_t{"manual", 0, 0.0, 0, 1, 2, 0},
                                           stop_case_t{"duration_3s", 2, 3.0, 0, 1, 2, 3},
                                           stop_case_t{"duration_2_5s", 2, 2.5, 0, 1, 2, 3},
                                           stop_case_t{"timestamp_reached", 1, 0.0, 2000000, 1, 2, 2},
                                           stop_case_t{"timestamp_past", 1, 0.0, 0, 1, 2, 1},
                                           stop_case_t{"count_2_sweeps_of_2", 3, 0.0, 0, 2, 2, 2},
                                           stop_case_t{"count_2_sweeps_of_4", 3, 0.0, 0, 2, 4, 4},
                                           stop_case_t{"count_sweep_readings_0", 3, 0.0, 0, 5, 0, 1},
                                           stop_case_t{"unknown_mode", 7, 0.0, 0, 1, 2, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(scan_engine_fixture_t, sweep_readings_zero_leaves_the_last_value) {
    param(scan_param_stop_mode, [](auto& p) { p.stop_mode = 3; });
    param(scan_param_stop_scan_count, [](auto& p) { p.stop_scan_count = 2; });
    param(scan_param_sweep_readings, [](auto& p) { p.sweep_readings = 3; });
    param(scan_param_sweep_readings, [](auto& p) { p.sweep_readings = 0; });
    start_scanning();
    tick_with({{1, readings({1, 2, 3, 4, 5})}});
    EXPECT_EQ(engine->get_run_state(), 1);  // 5 < 2 * 3
    tick_with({{1, readings({6})}});
    EXPECT_EQ(engine->get_run_state(), 0);
}

// The per-channel limit: stored + batch never exceeds 655,360; the oldest go first.
struct limit_case_t {
    std::size_t stored_before;
    std::size_t batch;
    std::size_t kept;
    double first_value;  // value of the oldest kept reading
};

class scan_limit_test : public scan_engine_fixture_t, public ::testing::WithParamInterface<limit_case_t> {};

TEST_P(scan_limit_test, keeps_the_newest_readings) {
    const limit_case_t& c = GetParam();
    start_scanning();
    auto make = [](std::size_t n, double first) {
        std::vector<plib_data_t> v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = {first + double(i), 0};
        return v;
    };
    if (c.stored_before) tick_with({{1, make(c.stored_before, 0.0)}, {2, readings({1.0})}});
    tick_with({{1, make(c.batch, 1e7)}});
    const auto s = stored();
    ASSERT_EQ(s.at(1).size(), c.kept);
    EXPECT_EQ(s.at(1).front().value, c.first_value);
    EXPECT_EQ(s.at(1).back().value, 1e7 + double(c.batch - 1));
    EXPECT_EQ(s.at(2).size(), c.stored_before ? 1u : 0u);  // other channels are left alone
}

INSTANTIATE_TEST_SUITE_P(cases, scan_limit_test,
                         ::testing::Values(limit_case_t{655360, 10, 655360, 10.0},
                                           limit_case_t{655000, 400, 655360, 40.0},
                                           limit_case_t{100, 655360, 655360, 1e7},
                                           limit_case_t{100, 655370, 655360, 1e7 + 10},
                                           limit_case_t{0, 5, 5, 1e7}));

TEST_F(scan_engine_fixture_t, every_channel_has_a_stored_entry_and_outside_channels_skip_statistics) {
    EXPECT_EQ(stored().size(), 16u);
    channel_params[17] = channel(1, 1);
    channel_params[17].scaling = 1;
    channel_params[17].gain = 2;
    start_scanning();
    tick_with({{17, readings({3.0})}, {0, readings({4.0})}, {3, readings({5.0})}});
    EXPECT_EQ(run_info().readings_count, 3u);
    EXPECT_EQ(latest().at(17).value, 3.0);  // not scaled
    EXPECT_EQ(statistics().size(), 1u);
    EXPECT_EQ(stored().count(17), 0u);
}

TEST_F(scan_engine_fixture_t, clear_during_a_run_empties_data_and_the_run_goes_on) {
    start_scanning();
    clock_us += 1000000;
    tick_with({{1, readings({1, 2})}});
    param(scan_param_clear_data, [](auto&) {});
    EXPECT_TRUE(statistics().empty());
    EXPECT_TRUE(latest().empty());
    EXPECT_EQ(run_info().readings_count, 0u);
    EXPECT_EQ(stored().at(1).size(), 0u);
    clock_us += 1000000;
    tick_with({{1, readings({3})}});
    EXPECT_EQ(engine->get_run_state(), 1);
    EXPECT_DOUBLE_EQ(run_info().elapsed_s, 2.0);
    EXPECT_EQ(statistics().at(1).count, 1);
}

TEST_F(scan_engine_fixture_t, a_start_clears_the_last_run_and_flushes_the_instrument) {
    start_scanning();
    tick_with({{1, readings({1, 2})}});
    engine->set_run_state(0);
    EXPECT_EQ(stored().at(1).size(), 2u);   // stays after the stop
    scanner.script({{1, readings({99})}});  // left over in the instrument
    engine->set_run_state(1);
    EXPECT_TRUE(statistics().empty());
    EXPECT_EQ(stored().at(1).size(), 0u);
    tick();
    tick();
    EXPECT_TRUE(latest().empty());
}

TEST_F(scan_engine_fixture_t, poll_interval_rearms_the_periodic_task) {
    param(scan_param_poll_interval, [](auto& p) { p.poll_interval_ms = 20; });
    engine->set_run_state(1);
    // The task now runs by itself: the start condition is met without a manual tick.
    for (int i = 0; i < 300 && scanner.calls().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(scanner.calls(), (std::vector<std::string>{"start 1"}));
    engine->set_run_state(0);
}
