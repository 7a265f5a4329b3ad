// Scaling, batch statistics, the merge rule and alarms.
#include <gtest/gtest.h>

#include <cmath>

#include "scan/scan_statistics.h"
#include "scan_test_util.h"

namespace {
constexpr double OV = plib_overload_value;

std::vector<plib_data_t> values(std::initializer_list<double> v) { return readings(v); }
}  // namespace

struct batch_case_t {
    std::vector<double> values;
    double min, max, average;
    int count;
};

TEST(scan_statistics, batch_statistics_table) {
    const batch_case_t cases[] = {
        {{1, 2, OV}, 1, OV, 1.0, 3}, {{4}, 4, 4, 4, 1},           {{OV, OV}, OV, OV, OV, 2},
        {{-OV, 3}, -OV, 3, 1.5, 2},  {{-2, 0, 5}, -2, 5, 1.0, 3},
    };
    for (const auto& c : cases) {
        std::vector<plib_data_t> v;
        for (double x : c.values) v.push_back({x, 0});
        const auto s = scan_batch_statistics(v);
        EXPECT_EQ(s.min, c.min);
        EXPECT_EQ(s.max, c.max);
        EXPECT_DOUBLE_EQ(s.average, c.average);
        EXPECT_EQ(s.count, c.count);
    }
}

struct merge_case_t {
    plib_scan_statistic_data_t running, batch, expected;
};

TEST(scan_statistics, merge_table) {
    const merge_case_t cases[] = {
        // weighted: (5 * 2 + 2 * 4) / 6
        {{9, 0, 2.0, 4}, {6, 4, 5.0, 2}, {9, 0, 3.0, 6}},
        // an all-overload first batch is replaced, not weighted
        {{OV, OV, OV, 3}, {5, 3, 4.0, 2}, {OV, 3, 4.0, 5}},
        // an overload batch leaves the average
        {{2, 1, 1.5, 2}, {OV, OV, OV, 1}, {OV, 1, 1.5, 3}},
        {{OV, OV, OV, 1}, {OV, OV, OV, 1}, {OV, OV, OV, 2}},
    };
    for (const auto& c : cases) {
        auto r = c.running;
        scan_merge_statistics(r, c.batch);
        EXPECT_EQ(r.max, c.expected.max);
        EXPECT_EQ(r.min, c.expected.min);
        EXPECT_DOUBLE_EQ(r.average, c.expected.average);
        EXPECT_EQ(r.count, c.expected.count);
    }
}

struct alarm_case_t {
    int alarm_limit;
    double min, max;
    bool alarm;
};

TEST(scan_statistics, alarm_table) {
    const alarm_case_t cases[] = {
        {0, -100, 100, false}, {1, 0, 5, false},  {1, -0.1, 5, true},    {2, 0, 10, false},
        {2, 0, 10.5, true},    {3, -1, 5, true},  {3, 0, 11, true},      {3, 0, 10, false},
        {2, 0, OV, true},      {1, -OV, 0, true}, {9, -100, 100, false},
    };
    for (const auto& c : cases) {
        plib_scanner_channel_param_t p;
        p.alarm_limit = c.alarm_limit;
        p.limit_low = 0;
        p.limit_high = 10;
        plib_scan_statistic_data_t s{c.max, c.min, 0, 1};
        EXPECT_EQ(scan_channel_in_alarm(s, &p), c.alarm) << c.alarm_limit << " " << c.min << " " << c.max;
    }
    EXPECT_FALSE(scan_channel_in_alarm({OV, -OV, 0, 1}, nullptr));  // missing settings: "None"
}

TEST_F(scan_engine_fixture_t, statistics_follow_the_batches_and_overload_lowers_the_average) {
    start_scanning();
    tick_with({{1, values({1, 2, OV})}});
    auto s = statistics().at(1);
    EXPECT_EQ(s.min, 1);
    EXPECT_EQ(s.max, OV);
    EXPECT_DOUBLE_EQ(s.average, 1.0);
    EXPECT_EQ(s.count, 3);
    tick_with({{2, values({OV})}});
    tick_with({{2, values({4, 4})}});
    s = statistics().at(2);
    EXPECT_DOUBLE_EQ(s.average, 4.0);
    EXPECT_EQ(s.count, 3);
}

TEST_F(scan_engine_fixture_t, scaling_applies_before_statistics_latest_and_store) {
    channel_params[1] = channel(1, 1);
    channel_params[1].scaling = 1;
    channel_params[1].gain = 2;
    channel_params[1].offset = 1;
    channel_params[2] = channel(1, 1);
    channel_params[2].gain = 2;  // scaling off
    start_scanning();
    tick_with({{1, values({3, 5})}, {2, values({3})}, {3, values({3})}});
    EXPECT_EQ(latest().at(1).value, 11.0);
    EXPECT_EQ(stored().at(1).front().value, 7.0);
    EXPECT_EQ(statistics().at(1).min, 7.0);
    EXPECT_DOUBLE_EQ(statistics().at(1).average, 9.0);
    EXPECT_EQ(latest().at(2).value, 3.0);
    EXPECT_EQ(latest().at(3).value, 3.0);
}
