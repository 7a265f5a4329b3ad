// Trend store: bucket sizes, rings, the all store's compression and its index table.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

#include "acq/acq_trend.h"

namespace {

plib_data_t reading(double v, int64_t ts) { return plib_data_t{v, ts}; }

std::vector<int32_t> row_of(int e) {
    const auto& t = acq_compress_index_table_t::instance();
    const int32_t* r = t.row(e);
    return std::vector<int32_t>(r, r + acq_compress_index_table_t::row_size(e));
}

TEST(acq_compress_index_table, bit_reversal_order_starts_as_expected) {
    const auto order = acq_compress_index_table_t::bit_reversal_order();
    ASSERT_EQ(order.size(), 1000u);
    EXPECT_EQ(std::vector<int32_t>(order.begin(), order.begin() + 12),
              (std::vector<int32_t>{512, 256, 768, 128, 640, 384, 896, 64, 576, 320, 832, 192}));
    std::vector<int32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i);  // a permutation
}

TEST(acq_compress_index_table, rows) {
    EXPECT_EQ(row_of(1), (std::vector<int32_t>{256}));
    EXPECT_EQ(row_of(2), (std::vector<int32_t>{128, 256}));
    EXPECT_EQ(row_of(3), (std::vector<int32_t>{128, 256, 384}));
    std::vector<int32_t> all(1000);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(row_of(1000), all);
    EXPECT_EQ(row_of(0), row_of(1));
    EXPECT_EQ(row_of(1001), row_of(1));
    for (int e : {4, 17, 500, 999}) {
        const auto r = row_of(e);
        ASSERT_EQ(r.size(), static_cast<std::size_t>(e));
        EXPECT_TRUE(std::is_sorted(r.begin(), r.end()));
        EXPECT_EQ(std::adjacent_find(r.begin(), r.end()), r.end()) << "distinct pairs, row " << e;
        EXPECT_LE(2 * r.back() + 1, e + 999) << "every pair lies inside 1000 + e buckets, row " << e;
    }
    // Row 500: the first 500 values of the order that are at most 749, ascending.
    const auto order = acq_compress_index_table_t::bit_reversal_order();
    std::vector<int32_t> want;
    for (int32_t v : order) {
        if (want.size() == 500u) break;
        if (v <= 749) want.push_back(v);
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(row_of(500), want);
}

TEST(acq_trend, bucket_sizes_from_the_sample_period) {
    struct case_t {
        double x_us;
        double timebase_s;
        int history;
        int display;
    };
    const case_t cases[] = {
        {200000.0, 60, 1, 1},    // one reading per 200 ms tick
        {2000.0, 60, 30, 30},    // 100 readings per tick
        {2000.0, 600, 30, 300},  // ten-minute view
        {2000.0, 90, 30, 45},    // 1.5 minutes
        {1.0, 60, 60000, 60000},
        {60001.0, 120, 1, 2},    // below one reading per 60 ms: 1
    };
    for (const case_t& c : cases) {
        acq_trend_t t;
        t.set_timebase(c.timebase_s);
        t.set_sample_period(c.x_us);
        EXPECT_EQ(t.history_bucket_size(), c.history) << c.x_us;
        EXPECT_EQ(t.display_bucket_size(), c.display) << c.x_us;
        EXPECT_EQ(t.all().base(), c.history);
        EXPECT_EQ(t.all().bucket_size(), c.history);
        t.set_sample_period(0.0);  // keeps everything
        EXPECT_EQ(t.history_bucket_size(), c.history);
    }
}

TEST(acq_trend, history_ring_costs_memory_only_after_the_first_reading) {
    acq_trend_t t;
    plib_trend_data_info_t info;
    t.set_timebase(600);
    t.copy_out(info);
    t.reset();
    const plib_data_t none[1] = {};
    t.push_batch(none, 0);
    EXPECT_FALSE(t.history_allocated());
    t.push_batch(std::vector<plib_data_t>{reading(1, 1)});
    EXPECT_TRUE(t.history_allocated());
}

TEST(acq_trend, recent_view_keeps_the_last_1000_points_oldest_first) {
    acq_trend_t t;
    t.set_timebase(60);
    t.set_sample_period(200000.0);
    for (int i = 0; i < 1500; ++i) t.push_batch(std::vector<plib_data_t>{reading(i, 200000LL * i)});
    plib_trend_data_info_t info;
    info.mode = 0;
    t.copy_out(info);
    ASSERT_EQ(info.count, 1000);
    EXPECT_EQ(info.max_points[0].value, 500.0);
    EXPECT_EQ(info.max_points[999].value, 1499.0);
    // The range covers the last 60 s only: 300 readings at 200 ms.
    EXPECT_EQ(info.ymax, 1499.0);
    EXPECT_EQ(info.ymin, 1499.0 - 300.0);
}

TEST(acq_trend, overload_readings_leave_the_ranges_empty) {
    acq_trend_t t;
    std::vector<plib_data_t> batch(10, reading(plib_overload_value, 5));
    t.push_batch(batch);
    for (int mode : {0, 1}) {
        plib_trend_data_info_t info;
        info.mode = mode;
        t.copy_out(info);
        EXPECT_EQ(info.ymax, -plib_overload_value) << mode;
        EXPECT_EQ(info.ymin, plib_overload_value) << mode;
    }
}

TEST(acq_trend, timebase_change_rebuckets_the_display_from_history) {
    acq_trend_t t;
    t.set_timebase(60);
    t.set_sample_period(200000.0);  // history and display buckets of one reading
    for (int i = 0; i < 3001; ++i) t.push_batch(std::vector<plib_data_t>{reading(i % 7 == 0 ? -i : i, i)});
    t.set_timebase(60);  // unchanged size: nothing rebuilt
    EXPECT_EQ(t.display_filled(), 1000);
    t.set_timebase(120);  // two history buckets per display bucket
    EXPECT_EQ(t.display_bucket_size(), 2);
    plib_trend_data_info_t info;
    info.mode = 0;
    t.copy_out(info);
    ASSERT_EQ(info.count, 1000);
    // The newest 2000 readings, 1001..3000, in pairs.
    for (int k = 0; k < 1000; ++k) {
        const int a = 1001 + 2 * k, b = a + 1;
        const double va = a % 7 == 0 ? -a : a, vb = b % 7 == 0 ? -b : b;
        ASSERT_EQ(info.max_points[static_cast<std::size_t>(k)].value, std::max(va, vb)) << k;
        ASSERT_EQ(info.min_points[static_cast<std::size_t>(k)].value, std::min(va, vb)) << k;
    }
}

// Pushes n single readings with value i (timestamp i), one bucket each at base 1.
void push_readings(acq_trend_t& t, int from, int to, double spike_at = -1) {
    std::vector<plib_data_t> batch;
    for (int i = from; i < to; ++i) batch.push_back(reading(i == spike_at ? 1e6 : i, i));
    t.push_batch(batch);
}

TEST(acq_trend, all_store_compresses_at_its_capacity_and_loses_no_reading) {
    acq_trend_t t;
    t.set_sample_period(200000.0);  // base 1
    push_readings(t, 0, 2000);
    EXPECT_EQ(t.all().filled(), 2000);
    push_readings(t, 2000, 2001);
    const acq_trend_all_t& a = t.all();
    EXPECT_EQ(a.multiplier(), 2);
    EXPECT_EQ(a.bucket_size(), 2);
    ASSERT_EQ(a.filled(), 1001);  // 1000 merged pairs, then the reading that found the store full
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(a.bucket(i).max.value, 2 * i + 1);
        ASSERT_EQ(a.bucket(i).min.value, 2 * i);
    }
    EXPECT_EQ(a.bucket(1000).max.value, 2000.0);
    push_readings(t, 2001, 2002);  // merges into the new bucket (size 2)
    EXPECT_EQ(a.filled(), 1001);
    EXPECT_EQ(a.bucket(1000).max.value, 2001.0);
}

TEST(acq_trend, all_display_uses_the_row_of_the_bucket_excess) {
    for (int n : {1001, 1002, 1003, 1500, 2000}) {
        acq_trend_t t;
        t.set_sample_period(200000.0);
        push_readings(t, 0, n, /*spike_at=*/n / 3);
        plib_trend_data_info_t info;
        info.mode = 1;
        t.copy_out(info);
        ASSERT_EQ(info.count, 1000) << n;
        // Expected: walk the row's pairs over buckets 0..n-1 (bucket i holds reading i).
        const auto row = row_of(n - 1000);
        std::vector<std::pair<double, double>> want;
        std::size_t k = 0;
        for (int s = 0; s < n;) {
            const double vs = s == n / 3 ? 1e6 : s;
            if (k < row.size() && s == 2 * row[k]) {
                const double vn = s + 1 == n / 3 ? 1e6 : s + 1;
                want.emplace_back(std::max(vs, vn), std::min(vs, vn));
                s += 2;
                ++k;
            } else {
                want.emplace_back(vs, vs);
                ++s;
            }
        }
        ASSERT_EQ(want.size(), 1000u) << n;
        for (std::size_t i = 0; i < 1000; ++i) {
            ASSERT_EQ(info.max_points[i].value, want[i].first) << n << " point " << i;
            ASSERT_EQ(info.min_points[i].value, want[i].second) << n << " point " << i;
        }
        EXPECT_EQ(info.ymax, 1e6);  // the spike survives the reduction
        EXPECT_EQ(info.ymin, 0.0);
    }
}

TEST(acq_trend, all_display_stays_current_between_bucket_changes_and_runs) {
    acq_trend_t t;
    t.set_sample_period(200000.0);
    push_readings(t, 0, 2001);  // bucket size 2 now, newest bucket holds one reading
    plib_trend_data_info_t info;
    info.mode = 1;
    t.push_batch(std::vector<plib_data_t>{reading(-5, 3000)});  // same bucket count
    t.copy_out(info);
    EXPECT_EQ(info.min_points[999].value, -5.0);  // the newest point shows the new reading

    // A new run that reaches the same bucket count must not show the old run's points.
    t.reset();
    t.set_sample_period(200000.0);
    std::vector<plib_data_t> batch;
    for (int i = 0; i < 1001; ++i) batch.push_back(reading(100000 + i, i));
    t.push_batch(batch);
    t.reset();
    batch.clear();
    for (int i = 0; i < 1001; ++i) batch.push_back(reading(-i, i));
    t.push_batch(batch);
    t.copy_out(info);
    EXPECT_EQ(info.count, 1000);
    EXPECT_EQ(info.max_points[0].value, 0.0);
    EXPECT_EQ(info.ymax, 0.0);
}

TEST(acq_trend, reset_keeps_sizes_and_timebase) {
    acq_trend_t t;
    t.set_timebase(600);
    t.set_sample_period(2000.0);
    push_readings(t, 0, 50);
    t.reset();
    EXPECT_EQ(t.history_bucket_size(), 30);
    EXPECT_EQ(t.display_bucket_size(), 300);
    EXPECT_EQ(t.rec_time(), 600.0);
    EXPECT_EQ(t.all().filled(), 0);
    plib_trend_data_info_t info;
    info.mode = 0;
    t.copy_out(info);
    EXPECT_EQ(info.count, 0);
    EXPECT_EQ(info.ymax, -plib_overload_value);
}

}  // namespace
