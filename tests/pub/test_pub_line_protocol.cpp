// The line-protocol writer: escaping, numbers, flags and the distinct stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
    pub_series_tags_t tags{"bench 1", "VXA-2", "", "VOLT", "VDC", 0};
    pub_series_t series(pub_measurement_reading, tags);
    std::string out;
    ASSERT_TRUE(series.append_reading(1.25, 1700000000123456, out));
    EXPECT_EQ(out, "velkaro_reading,station=bench\\ 1,model=VXA-2,function=VOLT,unit=VDC value=1.25 1700000000123456000\n");

    tags.channel = 12;
    pub_series_t scan(pub_measurement_scan, tags);
    out.clear();
    ASSERT_TRUE(scan.append_scan(-0.5, 2, 1700000000000000, out));
    EXPECT_EQ(out,
              "velkaro_scan,station=bench\\ 1,model=VXA-2,function=VOLT,unit=VDC,channel=12 value=-0.5,alarm=2i "
              "1700000000000000000\n");
}

TEST(pub_line_protocol, numbers_round_trip_and_overload_is_flagged) {
    pub_series_t series(pub_measurement_reading, {"s", "m", "n", "VOLT", "VDC", 0}, 1);
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

TEST(pub_line_protocol, readings_sharing_a_time_get_distinct_increasing_stamps_per_series) {
    pub_series_t a(pub_measurement_reading, {"s", "m", "n", "VOLT", "VDC", 0});
    pub_series_t b(pub_measurement_reading, {"s", "m", "n", "CURR", "ADC", 0});
    const int64_t block_us = 1700000000000000;
    EXPECT_EQ(a.next_stamp_ns(block_us), block_us * 1000);
    EXPECT_EQ(a.next_stamp_ns(block_us), block_us * 1000 + pub_default_step_ns);
    EXPECT_EQ(a.next_stamp_ns(block_us), block_us * 1000 + 2 * pub_default_step_ns);
    // An earlier clock (the instrument's own) never goes back.
    EXPECT_EQ(a.next_stamp_ns(block_us - 5000), block_us * 1000 + 3 * pub_default_step_ns);
    // A later reading keeps its own time.
    EXPECT_EQ(a.next_stamp_ns(block_us + 10000), (block_us + 10000) * 1000);
    // Another series is stamped on its own.
    EXPECT_EQ(b.next_stamp_ns(block_us), block_us * 1000);
    // Times outside the protocol's range are clamped, never overflow.
    pub_series_t c(pub_measurement_reading, {}, 1);
    EXPECT_EQ(c.next_stamp_ns(-5), 0);
    EXPECT_GT(c.next_stamp_ns(std::numeric_limits<int64_t>::max()), 0);
}

}  // namespace
