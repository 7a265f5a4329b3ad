// Run states, modes, ticks, automatic stop, buffer modes, slices and clear.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "acq_test_util.h"

namespace {

using N = plib_acq_notify_t;

// -------------------------------------------------------------------------------------
// Start, stop, modes

TEST_F(acq_engine_fixture_t, start_twice_starts_once_and_stop_sends_nothing_to_the_instrument) {
    engine->set_run_state(1);
    tick_with(make_batch(3));
    instrument.clear_calls();
    take_notes();
    engine->set_run_state(1);  // already running: no clear, no notification
    EXPECT_EQ(buffer_size(), 3u);
    EXPECT_TRUE(take_notes().empty());
    engine->set_run_state(0);
    EXPECT_EQ(engine->get_run_state(), 0);
    EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_stop}));
    EXPECT_TRUE(instrument.calls().empty());
    EXPECT_EQ(buffer_size(), 3u);  // a stop keeps the run's data
}

TEST_F(acq_engine_fixture_t, mode_changes_program_the_instrument) {
    struct case_t {
        bool running;
        plib_acq_mode_t mode;
        std::vector<std::string> calls;
    };
    const case_t cases[] = {
        {false, acq_mode_single, {"trig 1", "sample 1"}},
        {false, acq_mode_continuous, {"trig inf"}},
        {true, acq_mode_single, {"trig 1", "sample 1", "init"}},
        {true, acq_mode_continuous, {"trig inf", "init"}},
    };
    for (const case_t& c : cases) {
        engine->set_run_state(c.running ? 1 : 0);
        instrument.clear_calls();
        plib_acq_mode_t m = c.mode;
        engine->m_acq_mode_msg.send(m);
        EXPECT_EQ(instrument.calls(), c.calls) << "running " << c.running << " mode " << c.mode;
        instrument.clear_calls();
        engine->m_acq_mode_msg.send(m);  // same mode again: nothing
        EXPECT_TRUE(instrument.calls().empty());
        plib_acq_mode_t got = acq_mode_continuous;
        engine->m_acq_mode_msg.fetch(got);
        EXPECT_EQ(got, c.mode);
    }
}

TEST_F(acq_engine_fixture_t, start_programs_the_mode_then_init_and_single_mode_rearms_after_data) {
    plib_acq_mode_t single = acq_mode_single;
    engine->m_acq_mode_msg.send(single);
    instrument.clear_calls();
    engine->set_run_state(1);
    EXPECT_EQ(instrument.calls(), (std::vector<std::string>{"trig 1", "sample 1", "init"}));
    instrument.clear_calls();
    tick();  // nothing fetched: no re-arm
    EXPECT_TRUE(instrument.calls().empty());
    tick_with(make_batch(1));
    EXPECT_EQ(instrument.calls(), (std::vector<std::string>{"init"}));
}

TEST_F(acq_engine_fixture_t, latest_and_notifications_across_runs) {
    plib_data_t latest{};
    engine->m_acq_latest_msg.fetch(latest);
    EXPECT_EQ(latest.value, plib_no_reading_value);
    EXPECT_EQ(latest.timestamp, 0);

    engine->set_run_state(1);
    tick_with(make_batch(4, 10.0));
    engine->set_run_state(0);
    engine->set_run_state(1);
    tick();  // empty fetch: a data notification, latest unchanged
    engine->m_acq_latest_msg.fetch(latest);
    EXPECT_EQ(latest.value, 13.0);
    EXPECT_EQ(buffer_size(), 0u);
    EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_start, acq_notify_data, acq_notify_stop,
                                            acq_notify_start, acq_notify_data}));
    engine->set_run_state(0);
    take_notes();
    tick_with(make_batch(2));  // a trig tick of a stopped engine fetches but keeps nothing
    EXPECT_EQ(buffer_size(), 0u);
    EXPECT_TRUE(take_notes().empty());
}

TEST_F(acq_engine_fixture_t, run_state_info_counts_and_first_reading_timestamp) {
    engine->set_run_state(1);
    clock_us += 2500000;
    tick_with(make_batch(5, 0.0, 42000000));
    tick_with(make_batch(3, 0.0, 99000000));
    const plib_record_run_state_info_t info = run_info();
    EXPECT_EQ(info.total_count, 8u);
    EXPECT_EQ(info.start_timestamp, 42000000);
    EXPECT_DOUBLE_EQ(info.elapsed_s, 2.5);
    EXPECT_FALSE(info.recording);
}

// -------------------------------------------------------------------------------------
// Automatic stop

struct count_stop_case_t {
    int stop_num;
    std::vector<std::size_t> batches;
    std::vector<int> run_state_after;  // per tick
    unsigned total;
};

TEST_F(acq_engine_fixture_t, automatic_stop_by_count) {
    const count_stop_case_t cases[] = {
        {10, {4, 4, 4, 4}, {1, 1, 0, 0}, 10}, {8, {4, 4, 4}, {1, 0, 0}, 8}, {0, {3, 3}, {0, 0}, 0},
        {5, {0, 0, 7}, {1, 1, 0}, 5},         {3, {1, 1}, {1, 1}, 2},
    };
    for (const count_stop_case_t& c : cases) {
        SCOPED_TRACE("stop_num " + std::to_string(c.stop_num));
        param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
        param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_count; });
        param(record_kind_stop_num, [&](auto& p) { p.stop_num = c.stop_num; });
        engine->set_run_state(1);
        take_notes();
        for (std::size_t i = 0; i < c.batches.size(); ++i) {
            tick_with(make_batch(c.batches[i], 100.0 * static_cast<double>(i)));
            EXPECT_EQ(engine->get_run_state(), c.run_state_after[i]) << "tick " << i;
        }
        EXPECT_EQ(run_info().total_count, c.total);
        EXPECT_EQ(buffer_size(), c.total);
        engine->set_run_state(0);
    }
}

TEST_F(acq_engine_fixture_t, stopping_tick_notifies_stop_then_data_with_its_cut_batch) {
    param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
    param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_count; });
    param(record_kind_stop_num, [](auto& p) { p.stop_num = 6; });
    engine->set_run_state(1);
    tick_with(make_batch(4, 0.0));
    tick_with(make_batch(4, 4.0));
    EXPECT_EQ(take_notes(),
              (std::vector<N>{acq_notify_start, acq_notify_data, acq_notify_stop, acq_notify_data}));
    const auto b = buffer();
    ASSERT_EQ(b.size(), 6u);
    EXPECT_EQ(b.back().value, 5.0);
    plib_data_t latest{};
    engine->m_acq_latest_msg.fetch(latest);
    EXPECT_EQ(latest.value, 5.0);
}

TEST_F(acq_engine_fixture_t, automatic_stop_by_time) {
    struct case_t {
        double stop_time;
        std::vector<int64_t> tick_offsets_us;
        std::vector<int> run_state_after;
        unsigned total;
    };
    const case_t cases[] = {
        // The stopping tick's readings are kept: the instrument has already given them up.
        {0.0, {0}, {0}, 2},
        {1.0, {500000, 999999, 1000000}, {1, 1, 0}, 6},
        {2.5, {3000000}, {0}, 2},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE("stop_time " + std::to_string(c.stop_time));
        param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
        param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_time; });
        param(record_kind_stop_time, [&](auto& p) { p.stop_time = c.stop_time; });
        const int64_t t0 = clock_us.load();
        engine->set_run_state(1);
        for (std::size_t i = 0; i < c.tick_offsets_us.size(); ++i) {
            clock_us = t0 + c.tick_offsets_us[i];
            tick_with(make_batch(2));
            EXPECT_EQ(engine->get_run_state(), c.run_state_after[i]) << "tick " << i;
        }
        EXPECT_EQ(run_info().total_count, c.total);
        EXPECT_EQ(buffer_size(), c.total);
        engine->set_run_state(0);
        clock_us = t0;
    }
}

// Reply pieces the instrument layer dropped as no number are counted per run: shown
// next to the readings, reset by a new start, not counted for a stopped engine.
TEST_F(acq_engine_fixture_t, dropped_pieces_are_counted_per_run) {
    engine->set_run_state(1);
    instrument.script_dropped(8);
    tick_with(make_batch(1));
    instrument.script_dropped(2);
    tick_with(make_batch(3));
    EXPECT_EQ(run_info().dropped_count, 10u);
    EXPECT_EQ(run_info().total_count, 4u);
    engine->set_run_state(0);
    instrument.script_dropped(5);
    tick_with(make_batch(2));  // a stopped engine keeps nothing of a fetch
    EXPECT_EQ(run_info().dropped_count, 10u);
    engine->set_run_state(1);
    EXPECT_EQ(run_info().dropped_count, 0u);
    instrument.script_dropped(1);
    tick();
    EXPECT_EQ(run_info().dropped_count, 1u);
}

// Each tick that dropped pieces says so once, before its data; a clean tick and a
// stopped engine do not.
TEST_F(acq_engine_fixture_t, a_tick_that_dropped_pieces_notifies_before_its_data) {
    engine->set_run_state(1);
    take_notes();
    struct tick_case_t {
        uint64_t dropped;
        std::vector<plib_acq_notify_t> notes;
    };
    const tick_case_t cases[] = {
        {3, {acq_notify_pieces_dropped, acq_notify_data}},
        {0, {acq_notify_data}},
        {1, {acq_notify_pieces_dropped, acq_notify_data}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dropped);
        if (c.dropped) instrument.script_dropped(c.dropped);
        tick_with(make_batch(1));
        EXPECT_EQ(take_notes(), c.notes);
    }
    engine->set_run_state(0);
    take_notes();
    instrument.script_dropped(4);
    tick_with(make_batch(1));
    const auto notes = take_notes();
    EXPECT_EQ(std::count(notes.begin(), notes.end(), acq_notify_pieces_dropped), 0);
}

TEST_F(acq_engine_fixture_t, automatic_stop_off_ignores_the_limits) {
    param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_count; });
    param(record_kind_stop_num, [](auto& p) { p.stop_num = 1; });
    engine->set_run_state(1);
    tick_with(make_batch(5));
    EXPECT_EQ(engine->get_run_state(), 1);
    EXPECT_EQ(buffer_size(), 5u);
}

// -------------------------------------------------------------------------------------
// Buffer capacity (a test-only capacity of 100 stands for 6,553,600)

struct capacity_case_t {
    const char* name;
    int buffer_mode;
    std::size_t prefill;
    std::size_t batch;
    std::size_t size_after;
    double first_value_after;  // values: prefill 0..prefill-1, batch 1000..
    double last_value_after;
    std::vector<N> notes;  // after the prefill
    int run_state_after;
    unsigned total_after;  // counts what the buffer accepted, after any cut
};

TEST_F(acq_engine_fixture_t, full_buffer_in_both_modes) {
    const capacity_case_t cases[] = {
        {"stop mode discards the batch",
         0,
         90,
         20,
         90,
         0,
         89,
         {acq_notify_buffer_full, acq_notify_stop, acq_notify_data},
         0,
         90},
        {"stop mode fills exactly", 0, 90, 10, 100, 0, 1009, {acq_notify_data}, 1, 100},
        {"keep latest drops the oldest", 1, 90, 20, 100, 10, 1019, {acq_notify_data}, 1, 110},
        {"keep latest, batch larger than capacity", 1, 90, 250, 100, 1150, 1249, {acq_notify_data}, 1, 190},
        {"keep latest, batch equals the buffer", 1, 50, 150, 100, 1050, 1149, {acq_notify_data}, 1, 150},
        {"keep latest, empty buffer, huge batch", 1, 0, 1000, 100, 1900, 1999, {acq_notify_data}, 1, 100},
    };
    for (const capacity_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        make_engine(100);
        param(record_kind_buffer_mode, [&](auto& p) { p.buffer_mode = c.buffer_mode; });
        engine->set_run_state(1);
        if (c.prefill > 0) tick_with(make_batch(c.prefill, 0.0));
        take_notes();
        tick_with(make_batch(c.batch, 1000.0));
        EXPECT_EQ(take_notes(), c.notes);
        const auto b = buffer();
        ASSERT_EQ(b.size(), c.size_after);
        EXPECT_EQ(b.front().value, c.first_value_after);
        EXPECT_EQ(b.back().value, c.last_value_after);
        EXPECT_EQ(engine->get_run_state(), c.run_state_after);
        EXPECT_EQ(run_info().total_count, c.total_after);
    }
}

TEST_F(acq_engine_fixture_t, keep_latest_over_many_ticks_holds_exactly_the_newest_readings) {
    // Batches of uneven sizes run the head past the storage's slack many times over; after
    // every tick the buffer, its slices and its count must be the newest readings.
    make_engine(100);
    param(record_kind_buffer_mode, [](auto& p) { p.buffer_mode = acq_buffer_mode_keep_latest; });
    engine->set_run_state(1);
    const std::size_t sizes[] = {7, 13, 1, 40, 99, 100, 3, 101, 17, 250, 0, 9};
    double next = 0.0;
    for (int round = 0; round < 40; ++round) {
        const std::size_t n = sizes[round % std::size(sizes)];
        tick_with(make_batch(n, next));
        next += static_cast<double>(n);
        const std::size_t want = static_cast<std::size_t>(std::min(next, 100.0));
        SCOPED_TRACE("round " + std::to_string(round));
        const auto b = buffer();
        ASSERT_EQ(b.size(), want);
        for (std::size_t i = 0; i < want; ++i) ASSERT_EQ(b[i].value, next - static_cast<double>(want - i));
        plib_acq_selected_data_list_t slice;
        slice.start = want / 2;
        slice.count = want - want / 2;
        engine->m_acq_selected_data_list_msg.fetch(slice);
        ASSERT_EQ(slice.data.size(), slice.count);
        if (!slice.data.empty()) {
            EXPECT_EQ(slice.data.front().value, b[want / 2].value);
        }
        EXPECT_EQ(engine->get_buffer_statistics().count, want);
    }
}

TEST_F(acq_engine_fixture_t, full_buffer_at_the_real_capacity) {
    make_engine();  // 6,553,600
    param(record_kind_buffer_mode, [](auto& p) { p.buffer_mode = acq_buffer_mode_keep_latest; });
    engine->set_run_state(1);
    tick_with(make_batch(acq_record_buffer_capacity - 10, 0.0, 0, 1));
    tick_with(make_batch(20, 1e7, 0, 1));
    const auto b = buffer();
    ASSERT_EQ(b.size(), acq_record_buffer_capacity);
    EXPECT_EQ(b.front().value, 10.0);
    EXPECT_EQ(b.back().value, 1e7 + 19);
}

TEST_F(acq_engine_fixture_t, buffer_statistics_skip_overloads_and_match_the_buffer) {
    // Empty buffer: nothing valid, no range.
    auto st = engine->get_buffer_statistics();
    EXPECT_EQ(st.count, 0u);
    EXPECT_EQ(st.valid, 0u);

    engine->set_run_state(1);
    std::vector<plib_data_t> batch = make_batch(5, -2.0);  // -2 .. 2
    batch.push_back({9.9e37, 1});                          // overload
    batch.push_back({std::numeric_limits<double>::quiet_NaN(), 2});
    batch.push_back({-std::numeric_limits<double>::infinity(), 3});
    tick_with(batch);
    st = engine->get_buffer_statistics();
    EXPECT_EQ(st.count, buffer().size());
    EXPECT_EQ(st.count, 8u);
    EXPECT_EQ(st.valid, 5u);
    EXPECT_EQ(st.min, -2.0);
    EXPECT_EQ(st.max, 2.0);
    EXPECT_EQ(st.sum, 0.0);

    // Only overloads: counted, no range.
    engine->set_run_state(0);
    make_engine(100);
    engine->set_run_state(1);
    tick_with({{9.9e37, 1}, {std::numeric_limits<double>::infinity(), 2}});
    st = engine->get_buffer_statistics();
    EXPECT_EQ(st.count, 2u);
    EXPECT_EQ(st.valid, 0u);
}

// -------------------------------------------------------------------------------------
// Slices and clear

TEST_F(acq_engine_fixture_t, slices_are_whole_or_nothing) {
    struct case_t {
        uint64_t start;
        uint64_t count;
        bool filled;
    };
    const case_t cases[] = {
        {100, 50, false},
        {100, 20, true},
        {0, 120, true},
        {120, 0, true},
        {121, 0, false},
        {0, 121, false},
        {1, std::numeric_limits<uint64_t>::max(), false},
        {std::numeric_limits<uint64_t>::max(), 2, false},
    };
    engine->set_run_state(1);
    tick_with(make_batch(120));
    const plib_data_t marker{-1.0, -1};
    for (const case_t& c : cases) {
        plib_acq_selected_data_list_t list;
        list.start = c.start;
        list.count = c.count;
        list.data = {marker};
        engine->m_acq_selected_data_list_msg.fetch(list);
        if (!c.filled) {
            ASSERT_EQ(list.data.size(), 1u) << c.start << "+" << c.count;
            EXPECT_EQ(list.data[0].value, -1.0);
            continue;
        }
        ASSERT_EQ(list.data.size(), c.count) << c.start << "+" << c.count;
        for (uint64_t i = 0; i < c.count; ++i)
            EXPECT_EQ(list.data[i].value, static_cast<double>(c.start + i));
    }
}

TEST_F(acq_engine_fixture_t, clear_during_a_run_restarts_counting) {
    param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
    param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_count; });
    param(record_kind_stop_num, [](auto& p) { p.stop_num = 6; });
    engine->set_run_state(1);
    tick_with(make_batch(5, 0.0, 1000));
    param(record_kind_clear, [](auto&) {});
    EXPECT_EQ(buffer_size(), 0u);
    EXPECT_EQ(run_info().total_count, 0u);
    EXPECT_EQ(engine->get_run_state(), 1);
    tick_with(make_batch(4, 10.0, 5000));
    EXPECT_EQ(run_info().start_timestamp, 5000);  // a new first reading
    EXPECT_EQ(engine->get_run_state(), 1);        // 4 of 6 since the clear
    tick_with(make_batch(4, 20.0, 9000));
    EXPECT_EQ(engine->get_run_state(), 0);
    EXPECT_EQ(run_info().total_count, 6u);
    plib_trend_data_info_t trend;
    trend.mode = 1;
    engine->m_acq_trend_data_msg.fetch(trend);
    EXPECT_EQ(trend.count, 6);  // the trend was cleared too
    EXPECT_EQ(trend.ymin, 10.0);
}

TEST_F(acq_engine_fixture_t, trend_follows_the_ticks_and_the_timebase) {
    engine->m_acq_trend_timebase_set_msg.send(600.0);
    engine->set_run_state(1);
    tick_with(make_batch(100, 0.0));  // 100 readings per 200 ms: 30 per history bucket
    plib_trend_data_info_t info;
    info.mode = 0;
    engine->m_acq_trend_data_msg.fetch(info);
    EXPECT_EQ(info.count, 1);  // 100 readings in one 300-reading display bucket
    EXPECT_EQ(info.max_points[0].value, 99.0);
    EXPECT_EQ(info.min_points[0].value, 0.0);
    EXPECT_EQ(info.ymax, 99.0);
}

TEST_F(acq_engine_fixture_t, interval_change_enables_the_periodic_tick) {
    instrument.set_endless(1);
    engine->set_run_state(1);
    param(record_kind_interval, [](auto& p) { p.interval_ms = 20; });
    // Bounded wait: the shared timer ticks every 10 ms.
    for (int i = 0; i < 300 && buffer_size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(buffer_size(), 3u);
    engine->set_run_state(0);
    const unsigned n = buffer_size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(buffer_size(), n);  // a stopped engine's task fetches nothing
}

}  // namespace
