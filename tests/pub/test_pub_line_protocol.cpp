// The line-protocol writer: escaping, numbers, flags and the distinct stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/plib_measure_type.h"
#include "pub/pub_line_protocol.h"

namespace {

struct escape_case_t {
    const char* input;
    const char* tag;          // as a tag key or value
    const char* measurement;  // as a measurement name
    const char* field_string; // inside a string field's quotes
};

TEST(pub_line_protocol, escapes_each_part_as_the_protocol_requires) {
    const escape_case_t cases[] = {
        {"VXA-2", "VXA-2", "VXA-2", "VXA-2"},
        {"a,b", "a\\,b", "a\\,b", "a,b"},
        {"a b", "a\\ b", "a\\ b", "a b"},
        {"a=b", "a\\=b", "a=b", "a=b"},
        {"say \"hi\"", "say\\ \"hi\"", "say\\ \"hi\"", "say \\\"hi\\\""},
        {"end\\", "end/", "end/", "end\\\\"},
        {"a\\,b", "a/\\,b", "a/\\,b", "a\\\\,b"},
        {"a\\b", "a\\b", "a\\b", "a\\\\b"},
        {"two\nlines", "two\\ lines", "two\\ lines", "two lines"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::string tag, measurement, field;
        pub_escape_tag(c.input, tag);
        pub_escape_measurement(c.input, measurement);
        pub_escape_field_string(c.input, field);
        EXPECT_EQ(tag, c.tag);
        EXPECT_EQ(measurement, c.measurement);
        EXPECT_EQ(field, c.field_string);
    }
}

TEST(pub_line_protocol, writes_the_schema_with_empty_tags_left_out) {
    pub_series_tags_t tags{"bench 1", "VXA-2", "", "VOLT", "VDC", 0, ""};
    pub_series_t series(pub_measurement_reading, tags);
    std::string out;
    ASSERT_TRUE(series.append_reading(1.25, 1700000000123456, out));
    EXPECT_EQ(out, "velkaro_reading,station=bench\\ 1,model=VXA-2,function=VOLT,unit=VDC value=1.25 1700000000123456000\n");

    tags.channel = 12;
    pub_series_t scan(pub_measurement_scan, tags);
    out.clear();
    ASSERT_TRUE(scan.append_scan_at(-0.5, 2, 1700000000000000000, out));
    EXPECT_EQ(out,
              "velkaro_scan,station=bench\\ 1,model=VXA-2,function=VOLT,unit=VDC,channel=12 value=-0.5,alarm=2i "
              "1700000000000000000\n");
}

TEST(pub_line_protocol, numbers_round_trip_and_overload_is_flagged) {
    pub_series_t series(pub_measurement_reading, {"s", "m", "n", "VOLT", "VDC", 0, ""}, 1);
    struct value_case_t {
        double value;
        const char* text;
    } cases[] = {
        {0.0, "value=0 "},
        {1e-12, "value=1e-12 "},
        {0.1, "value=0.1 "},
        {-123456.789, "value=-123456.789 "},
        {plib_overload_value, "value=9.9e+37,overload=true "},
    };
    int64_t t = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string out;
        ASSERT_TRUE(series.append_reading(c.value, t++, out));
        EXPECT_NE(out.find(c.text), std::string::npos) << out;
        const std::size_t at = out.find("value=") + 6;
        EXPECT_EQ(std::strtod(out.c_str() + at, nullptr), c.value);
    }
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        std::string out = "kept";
        EXPECT_FALSE(series.append_reading(bad, t++, out));
        EXPECT_EQ(out, "kept");
    }
}

// Blocks of readings sharing a time, as ticks deliver them: stamps in nanoseconds.
struct block_case_t {
    const char* name;
    std::vector<std::pair<int64_t, std::size_t>> blocks;  // (block time in us, readings)
    std::vector<int64_t> stamps;                          // all of them, in order
};

TEST(pub_line_protocol, readings_sharing_a_time_get_distinct_stamps_that_never_run_ahead) {
    const int64_t t = 1700000000000000;  // us
    const int64_t T = t * 1000;          // ns
    const int64_t ms = 1000000;
    const block_case_t cases[] = {
        {"a first block spreads back from its time, 1 ms apart", {{t, 3}}, {T - 2 * ms, T - ms, T}},
        {"slow readings keep their own times", {{t, 1}, {t + 200000, 1}, {t + 400000, 1}},
         {T, T + 200 * ms, T + 400 * ms}},
        {"a tick of 4 readings after 200 ms: 1 ms apart, the last at the block time", {{t, 1}, {t + 200000, 4}},
         {T, T + 197 * ms, T + 198 * ms, T + 199 * ms, T + 200 * ms}},
        {"fast readings are spread evenly over the tick", {{t, 1}, {t + 200000, 400000}}, {}},
        {"a block at the same time as the last: just after it", {{t, 1}, {t, 2}}, {T, T + 1, T + 2}},
        {"an earlier clock never goes back", {{t, 1}, {t - 5000, 1}}, {T, T + 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pub_series_t series(pub_measurement_reading, {"s", "m", "n", "VOLT", "VDC", 0, ""});
        std::vector<int64_t> all;
        for (const auto& [block_us, n] : c.blocks) {
            std::vector<int64_t> stamps(n);
            series.stamp_block(block_us, n, stamps.data());
            all.insert(all.end(), stamps.begin(), stamps.end());
        }
        if (!c.stamps.empty()) {
            EXPECT_EQ(all, c.stamps);
            continue;
        }
        // 400,000 readings in 200 ms: 500 ns apart, the last one at the block time.
        ASSERT_EQ(all.size(), 400001u);
        EXPECT_EQ(all.back(), T + 200 * ms);
        EXPECT_EQ(all[1] - all[0], 500);
        for (std::size_t i = 1; i < all.size(); ++i) ASSERT_LT(all[i - 1], all[i]) << i;
    }
    // Times outside the protocol's range are clamped, never overflow.
    pub_series_t c(pub_measurement_reading, {}, 1);
    EXPECT_EQ(c.next_stamp_ns(-5), 0);
    EXPECT_GT(c.next_stamp_ns(std::numeric_limits<int64_t>::max()), 0);
}

}  // namespace
