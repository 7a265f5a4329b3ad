// Running statistics against a plain two-pass computation, on a table of runs split
// into batches; and the engine's figures over a whole run, a clear and a small buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "acq/acq_statistics.h"
#include "acq_test_util.h"

namespace {

constexpr double ovl = 9.9e37;
constexpr double no_reading = 9.91e37;
const double nan_v = std::numeric_limits<double>::quiet_NaN();
const double inf_v = std::numeric_limits<double>::infinity();

struct plain_figures_t {
    uint64_t count = 0, overloads = 0;
    double min = 0, max = 0, mean = 0, stddev = 0;
};

// The textbook way: filter, then sums over the kept values.
plain_figures_t plain(const std::vector<double>& values) {
    plain_figures_t f;
    std::vector<double> kept;
    for (double v : values) {
        if (!std::isfinite(v) || std::fabs(v) >= 9.9e37 * (1 - 1e-9)) {
            ++f.overloads;
            continue;
        }
        kept.push_back(v);
    }
    f.count = kept.size();
    if (kept.empty()) return f;
    f.min = f.max = kept[0];
    double sum = 0;
    for (double v : kept) {
        f.min = std::min(f.min, v);
        f.max = std::max(f.max, v);
        sum += v;
    }
    f.mean = sum / kept.size();
    double sq = 0;
    for (double v : kept) sq += (v - f.mean) * (v - f.mean);
    f.stddev = kept.size() > 1 ? std::sqrt(sq / (kept.size() - 1)) : 0.0;
    return f;
}

struct run_case_t {
    const char* name;
    std::vector<double> values;
    std::size_t batch;  // readings per add() call
};

const std::vector<run_case_t> runs = {
    {"single reading", {3.25}, 1},
    {"two readings", {1.0, 3.0}, 1},
    {"constant", {5, 5, 5, 5, 5, 5}, 4},
    {"negative and positive", {-2, -1, 0, 1, 2, 7.5, -3.25}, 3},
    {"overloads apart", {1.0, ovl, 2.0, -ovl, 3.0, no_reading}, 2},
    {"only overloads", {ovl, -ovl, inf_v, nan_v}, 4},
    {"overload first", {ovl, 10.0, 12.0}, 1},
    {"large offset small spread", {10.000001, 10.000002, 10.000003, 10.000004}, 2},
    {"tiny currents", {1.5e-9, 1.7e-9, 1.6e-9, 1.4e-9, 1.8e-9}, 5},
    {"empty", {}, 1},
};

}  // namespace

TEST(acq_statistics, running_figures_equal_the_plain_computation) {
    for (const run_case_t& c : runs) {
        SCOPED_TRACE(c.name);
        acq_statistics_t st;
        std::vector<plib_data_t> data;
        for (double v : c.values) data.push_back({v, 0});
        for (std::size_t i = 0; i < data.size(); i += c.batch)
            st.add(data.data() + i, std::min(c.batch, data.size() - i));
        const plib_acq_statistics_t got = st.get();
        const plain_figures_t want = plain(c.values);
        EXPECT_EQ(got.count, want.count);
        EXPECT_EQ(got.overloads, want.overloads);
        if (want.count == 0) {
            EXPECT_TRUE(std::isnan(got.min) && std::isnan(got.max) && std::isnan(got.mean) &&
                        std::isnan(got.stddev));
            continue;
        }
        EXPECT_EQ(got.min, want.min);
        EXPECT_EQ(got.max, want.max);
        const double scale = std::max(std::fabs(want.mean), 1e-300);
        EXPECT_NEAR(got.mean, want.mean, scale * 1e-12);
        EXPECT_NEAR(got.stddev, want.stddev, std::max(want.stddev, 1e-300) * 1e-6);
    }
}

TEST(acq_statistics, reset_forgets_everything) {
    acq_statistics_t st;
    st.add(1.0);
    st.add(ovl);
    st.reset();
    st.add(4.0);
    const plib_acq_statistics_t got = st.get();
    EXPECT_EQ(got.count, 1u);
    EXPECT_EQ(got.overloads, 0u);
    EXPECT_EQ(got.min, 4.0);
    EXPECT_EQ(got.stddev, 0.0);
}

TEST_F(acq_engine_fixture_t, run_statistics_cover_the_whole_run_not_only_the_buffer) {
    // A buffer of 10 that keeps the latest readings: after 36 readings it holds the last 10,
    // while the figures still cover all 35 (0 .. 34) and count the overload apart.
    make_engine(10);
    param(record_kind_buffer_mode, [](auto& p) { p.buffer_mode = acq_buffer_mode_keep_latest; });
    engine->set_run_state(1);
    EXPECT_EQ(run_info().statistics.count, 0u);
    for (int i = 0; i < 4; ++i) tick_with(make_batch(5, 5.0 * i));
    tick_with({{ovl, 1}});
    for (int i = 4; i < 7; ++i) tick_with(make_batch(5, 5.0 * i));
    ASSERT_EQ(buffer_size(), 10u);
    plib_acq_statistics_t st = run_info().statistics;
    EXPECT_EQ(st.count, 35u);
    EXPECT_EQ(st.overloads, 1u);
    EXPECT_EQ(st.min, 0.0);
    EXPECT_EQ(st.max, 34.0);
    EXPECT_DOUBLE_EQ(st.mean, 17.0);
    EXPECT_NEAR(st.stddev, std::sqrt(35.0 * 36.0 / 12.0), 1e-9);  // n(n+1)/12 for 0..n-1

    // Cleared with the buffer; counting goes on from there.
    param(record_kind_clear, [](auto&) {});
    EXPECT_EQ(run_info().statistics.count, 0u);
    EXPECT_EQ(run_info().statistics.overloads, 0u);
    tick_with({{-1.5, 2}});
    st = run_info().statistics;
    EXPECT_EQ(st.count, 1u);
    EXPECT_EQ(st.mean, -1.5);
    EXPECT_EQ(st.stddev, 0.0);

    // A stop keeps them; a new start clears them.
    engine->set_run_state(0);
    EXPECT_EQ(run_info().statistics.count, 1u);
    engine->set_run_state(1);
    EXPECT_EQ(run_info().statistics.count, 0u);
}

TEST_F(acq_engine_fixture_t, run_statistics_count_only_what_an_automatic_stop_accepted) {
    param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
    param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_count; });
    param(record_kind_stop_num, [](auto& p) { p.stop_num = 6; });
    engine->set_run_state(1);
    tick_with(make_batch(4, 1.0));
    tick_with(make_batch(4, 5.0));  // cut to 5, 6
    const plib_acq_statistics_t st = run_info().statistics;
    EXPECT_EQ(st.count, 6u);
    EXPECT_EQ(st.max, 6.0);
    EXPECT_DOUBLE_EQ(st.mean, 3.5);
    EXPECT_EQ(run_info().stop_cause, acq_stop_by_count);
}

TEST_F(acq_engine_fixture_t, run_state_info_says_why_the_run_ended) {
    EXPECT_EQ(run_info().stop_cause, acq_stop_none);
    engine->set_run_state(1);
    EXPECT_EQ(run_info().stop_cause, acq_stop_none);
    engine->set_run_state(0);
    EXPECT_EQ(run_info().stop_cause, acq_stop_requested);

    // Automatic stop after a time.
    param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
    param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_time; });
    param(record_kind_stop_time, [](auto& p) { p.stop_time = 1.0; });
    engine->set_run_state(1);
    EXPECT_EQ(run_info().stop_cause, acq_stop_none);  // a start forgets the last cause
    clock_us += 2000000;
    tick_with(make_batch(1));
    EXPECT_EQ(engine->get_run_state(), 0);
    EXPECT_EQ(run_info().stop_cause, acq_stop_by_time);
    EXPECT_TRUE(run_info().record_path.empty());  // nothing was logged

    // A full buffer in stop-when-full mode.
    param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = false; });
    make_engine(4);
    param(record_kind_buffer_mode, [](auto& p) { p.buffer_mode = acq_buffer_mode_stop_when_full; });
    engine->set_run_state(1);
    tick_with(make_batch(3));
    tick_with(make_batch(3));
    EXPECT_EQ(engine->get_run_state(), 0);
    EXPECT_EQ(run_info().stop_cause, acq_stop_buffer_full);
}

TEST_F(acq_engine_fixture_t, run_state_info_names_the_record_file_of_the_run) {
    temp_dir_t dir;
    const std::string path = dir.path() + "/run.csv";
    engine->set_record_info_callback([path](plib_acq_file_record_param_t& p) { p.record_path = path; });
    param(record_kind_record_enable, [](auto& p) { p.record_enable = 1; });
    engine->set_run_state(1);
    tick_with(make_batch(2));
    engine->set_run_state(0);
    EXPECT_EQ(run_info().record_path, path);  // kept after the stop
    param(record_kind_record_enable, [](auto& p) { p.record_enable = 0; });
    engine->set_run_state(1);
    EXPECT_TRUE(run_info().record_path.empty());
}
