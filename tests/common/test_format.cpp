#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "common/plib_common.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(si_prefix, texts_and_factors) {
    struct case_t {
        int index;
        const char* text;
        double factor;
    };
    const case_t cases[] = {
        {4, "p", 1e-12}, {5, "n", 1e-9}, {6, "u", 1e-6},  {7, "m", 1e-3}, {8, "", 1.0},  {9, "k", 1e3},
        {10, "M", 1e6},  {11, "G", 1e9}, {12, "T", 1e12}, {3, "", 1.0},   {13, "", 1.0}, {-8, "", 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(c.text, si_prefix_text(c.index));
        EXPECT_EQ(c.factor, si_prefix_factor(c.index));
    }
}

TEST(si_prefix, auto_scale) {
    struct case_t {
        double in;
        double value;
        int index;
    };
    const case_t cases[] = {
        {0.0123, 12.3, 7}, {1234567, 1.234567, 10}, {5e-14, 0.05, 4}, {0, 0, 8},
        {-0.5, -500, 7},   {1e-15, 0, 8},           {-1e-15, 0, 8},   {1.1e-15, 0.0011, 4},
        {1, 1, 8},         {999.5, 999.5, 8},       {1000, 1, 9},     {-2500, -2.5, 9},
        {0.2, 200, 7},     {1.5e-6, 1.5, 6},        {1e15, 1000, 12}, {9.9e37, 9.9e25, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const plib_si_scaled_t s = si_auto_scale(c.in);
        EXPECT_NEAR(c.value, s.value, std::fabs(c.value) * 1e-12);
        EXPECT_EQ(c.index, s.index);
    }
    EXPECT_TRUE(std::isnan(si_auto_scale(nan).value));
    EXPECT_EQ(8, si_auto_scale(nan).index);
    EXPECT_EQ(12, si_auto_scale(inf).index);
}

TEST(si_prefix, to_and_from_prefix_unit) {
    struct case_t {
        double base;
        int index;
        double prefixed;
    };
    const case_t cases[] = {
        {0.2, 7, 200},
        {1500, 9, 1.5},
        {2e-9, 5, 2},
        {5, 8, 5},
        {5, 99, 5},
        // The overload sentinel is never scaled, either way.
        {plib_overload_value, 7, plib_overload_value},
        {plib_overload_value, 9, plib_overload_value},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base);
        double v = c.base;
        to_prefix_unit(v, c.index);
        EXPECT_DOUBLE_EQ(c.prefixed, v);
        EXPECT_DOUBLE_EQ(c.base, from_prefix_unit(c.prefixed, c.index));
    }
}

TEST(range_text, split_value_unit) {
    struct case_t {
        const char* text;
        const char* number;
        const char* unit;
    };
    const case_t cases[] = {
        {"200mV", "200", "mV"},
        {"10M\xCE\xA9", "10", "M\xCE\xA9"},
        {"1.5", "1.5", ""},
        {"", "", ""},
        {"\xCE\xA9", "\xCE\xA9", ""},  // Ω alone is no unit start
        {"10\xCE\xA9", "10\xCE\xA9", ""},
        {"\xCE\xBC"
         "A",
         "\xCE\xBC", "A"},             // μA: the micro sign stays with the number
        {"-1.5e-3V", "-1.5", "e-3V"},  // the exponent's 'e' starts the unit
        {"200 mV", "200 ", "mV"},
        // The class really is [a-zA-z]: 'A'..'z' also holds [ \ ] ^ _ and the backtick.
        {"5_x", "5", "_x"},
        {"5^2", "5", "^2"},
        {"5[V]", "5", "[V]"},
        {"5\\V", "5", "\\V"},
        {"5`", "5", "`"},
        {"5@V", "5@", "V"},    // '@' is just below 'A'
        {"5{V}", "5{", "V}"},  // '{' is just above 'z'
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const plib_value_unit_t parts = split_value_unit(c.text);
        EXPECT_EQ(c.number, parts.number);
        EXPECT_EQ(c.unit, parts.unit);
    }
}

TEST(range_text, unit_prefix_index) {
    struct case_t {
        const char* unit;
        int index;
    };
    const case_t cases[] = {
        {"M", 10},
        {"M\xCE\xA9", 10},
        {"k", 9},
        {"k\xCE\xA9", 9},
        {"m", 7},
        {"mV", 7},
        {"u", 6},
        {"uA", 6},
        {"n", 5},
        {"nF", 5},
        {"p", 4},
        {"pF", 4},
        {"", 8},
        {"V", 8},
        {"K", 8},
        {"G", 8},
        {"T", 8},
        {" mV", 8},
        {"\xCE\xBC"
         "A",
         8},  // "μA": the Greek micro sign is not a prefix here
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit);
        EXPECT_EQ(c.index, unit_prefix_index(c.unit));
    }
}

TEST(range_text, range_text_to_value) {
    struct case_t {
        const char* text;
        double value;
    };
    const case_t cases[] = {
        {"", 0},
        {"200mV", 0.2},
        {"1M\xCE\xA9", 1e6},
        {"2V", 2},
        {"10A", 10},
        {"100uA", 1e-4},
        {"1nF", 1e-9},
        {"100pF", 1e-10},
        {"100k\xCE\xA9", 1e5},
        {"-200mV", -0.2},
        {"+2V", 2},
        {" 5V", 5},
        {"10\xCE\xA9", 10},
        {"1G\xCE\xA9", 1},  // G is not in the prefix class
        {"abc", 0},
        {"V", 0},
        {"\xCE\xBC"
         "A",
         0},
        {"1..5V", 1},
        {"1.5e3x", 1.5},  // 'e' starts the unit text "e3x"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(c.value, range_text_to_value(c.text));
    }
    // A number beyond double does not parse.
    EXPECT_EQ(0.0, range_text_to_value(std::string(400, '9') + "V"));
}

TEST(range_text, value_to_range_text) {
    struct case_t {
        double value;
        plib_measure_type_t type;
        const char* text;
    };
    const case_t cases[] = {
        {0.2, measure_dcv, "200mV"},
        {1000, measure_dcv, "1000V"},
        {1000, measure_acv, "1000V"},
        {1000, measure_freq, "1000V"},
        {1000, measure_res_2w, "1k\xCE\xA9"},  // only "1kV" is spelled out
        {1e6, measure_res_4w, "1M\xCE\xA9"},
        {1e-4, measure_dci, "100uA"},
        {10, measure_dci, "10A"},
        {2.5, measure_dcv, "2V"},  // truncated, not rounded
        {-0.2, measure_dcv, "-200mV"},
        {0, measure_dcv, "0V"},
        {2e-9, measure_cap, "2nF"},
        {100, measure_cont, "100"},
        {10000, measure_dcv, "10kV"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.text, value_to_range_text(c.value, c.type));
    }
    // Beyond int after scaling: printed whole instead of an undefined conversion.
    const std::string huge = value_to_range_text(9.9e37, measure_dcv);
    EXPECT_EQ(0u, huge.rfind("99", 0)) << huge;
    EXPECT_EQ("TV", huge.substr(huge.size() - 2)) << huge;
    EXPECT_EQ(28u, huge.size()) << huge;
    EXPECT_EQ("V", value_to_range_text(nan, measure_dcv).substr(3));
}

TEST(range_text, scale_to_range) {
    struct case_t {
        double in;
        const char* range;
        double value;
        const char* prefix;
    };
    const case_t cases[] = {
        {plib_overload_value, "2V", plib_overload_value, ""},
        {plib_overload_value, "", plib_overload_value, ""},
        {0.0012, "200mV", 1.2, "m"},
        {2500, "2V", 2.5, "k"},
        {-2500, "2V", -2.5, "k"},
        {0.0012, "", 1.2, "m"},         // auto range
        {5, "10M\xCE\xA9", 5e-6, "M"},  // smaller readings keep the range's prefix
        {0.5,
         "1\xCE\xBC"
         "A",
         0.5, ""},  // μ is no prefix
        {1.5, "abc", 1.5, ""},
        {1e20, "2V", 1e8, "T"},  // stops at the largest prefix
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        double v = c.in;
        EXPECT_EQ(c.prefix, scale_to_range(v, c.range));
        EXPECT_NEAR(c.value, v, std::fabs(c.value) * 1e-12);
    }
    double v = 1e300;  // must stop at "T"
    EXPECT_EQ("T", scale_to_range(v, "2V"));
    EXPECT_DOUBLE_EQ(1e288, v);
}

TEST(approximate_equality, is_equal) {
    struct case_t {
        double a;
        double b;
        bool equal;
    };
    const case_t cases[] = {
        {1000, 1000.0009, true},
        {1, 1.0001, false},
        {1, 1 + 1e-9, true},
        {0, 1e-8, true},
        {0, 2e-8, false},
        {999, 999.0005, false},        // below 1000 only the absolute bound holds
        {999.9999, 1000.0009, false},  // the relative bound uses |a| only...
        {1000.0009, 999.9999, true},   // ...so the rule is not symmetric
        {-1e6, -1e6 - 0.5, true},
        {9.9e37, 9.9e37 * 1.0000005, true},
        {9.91e37, 9.9e37, false},
        {nan, nan, false},
        {inf, inf, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.equal, is_equal(c.a, c.b)) << c.a << " vs " << c.b;
    }
}

TEST(strings, split_string) {
    struct case_t {
        const char* text;
        const char* delimiter;
        std::vector<std::string> tokens;
    };
    const case_t cases[] = {
        {"a,b,", ",", {"a", "b", ""}}, {"", ",", {""}},           {"abc", ",", {"abc"}},
        {",a", ",", {"", "a"}},        {",,", ",", {"", "", ""}}, {"a\r\nb\r\n", "\r\n", {"a", "b", ""}},
        {"a\rb", "\r\n", {"a\rb"}},    {"a,b", "", {"a,b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.tokens, split_string(c.text, std::string_view(c.delimiter)));
        if (std::string_view(c.delimiter).size() == 1) {
            EXPECT_EQ(c.tokens, split_string(c.text, c.delimiter[0]));
        }
    }
}

TEST(strings, replace_all) {
    struct case_t {
        const char* text;
        const char* from;
        const char* to;
        const char* result;
    };
    const case_t cases[] = {
        {"aaa", "a", "aa", "aaaaaa"},  // resumes after the inserted text
        {"a.b.c", ".", "\\", "a\\b\\c"},
        {"abc", "", "x", "abc"},  // empty pattern: unchanged, no endless loop
        {"abab", "ab", "", ""},
        {"xyz", "q", "r", "xyz"},
        {"aaaa", "aa", "a", "aa"},
        {"", "a", "b", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.result, replace_all(c.text, c.from, c.to));
    }
}

// Runs each time test in a fixed zone and restores the caller's zone afterwards.
class local_time : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        m_had_tz = tz != nullptr;
        if (m_had_tz) m_saved_tz = tz;
        set_zone("UTC");
    }
    void TearDown() override {
        if (m_had_tz) {
            setenv("TZ", m_saved_tz.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void set_zone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

private:
    bool m_had_tz = false;
    std::string m_saved_tz;
};

TEST_F(local_time, format_timestamp_us) {
    struct case_t {
        int64_t t;
        const char* text;
    };
    const case_t cases[] = {
        {0, "1970-01-01 00:00:00.000000"},
        {123, "1970-01-01 00:00:00.000123"},
        {999999, "1970-01-01 00:00:00.999999"},
        {1000000, "1970-01-01 00:00:01.000000"},
        {1700000000123456, "2023-11-14 22:13:20.123456"},
        {-1, "1969-12-31 23:59:59.999999"},
        {-1000000, "1969-12-31 23:59:59.000000"},
        {-1500000, "1969-12-31 23:59:58.500000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.t);
        EXPECT_EQ(c.text, format_timestamp_us(c.t));
    }
    // The extremes still give a fraction of six digits and do not crash.
    const std::string max_text = format_timestamp_us(std::numeric_limits<int64_t>::max());
    EXPECT_EQ(".775807", max_text.substr(max_text.size() - 7));
    const std::string min_text = format_timestamp_us(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(".224192", min_text.substr(min_text.size() - 7));
}

TEST_F(local_time, format_timestamp_us_follows_the_zone) {
    set_zone("UTC-2");  // POSIX: two hours east of UTC
    EXPECT_EQ("1970-01-01 02:00:00.000001", format_timestamp_us(1));
    set_zone("UTC+5");
    EXPECT_EQ("1969-12-31 19:00:00.000000", format_timestamp_us(0));
}

// The text with every digit replaced by 'd', to compare layouts.
std::string digit_shape(std::string text) {
    for (char& c : text) {
        if (c >= '0' && c <= '9') c = 'd';
    }
    return text;
}

TEST_F(local_time, format_local_time) {
    struct case_t {
        const char* separator;
        std::string shape;
    };
    const std::string long_sep(29, '_');
    const case_t cases[] = {
        {":", "dddd-dd-dd dd:dd:dd"},
        {"-", "dddd-dd-dd dd-dd-dd"},
        {"", "dddd-dd-dd dddddd"},
        {"%", "dddd-dd-dd dd%dd%dd"},  // a '%' is text, not a conversion
        {"%H", "dddd-dd-dd dd%Hdd%Hdd"},
        {long_sep.c_str(), "dddd-dd-dd dd" + long_sep + "dd" + long_sep + "dd"},  // no truncation
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.separator);
        EXPECT_EQ(c.shape, digit_shape(format_local_time(c.separator)));
    }
    // It is the current time: compare with the clock, retrying across a second boundary.
    bool compared = false;
    for (int attempt = 0; attempt < 3 && !compared; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string text = format_local_time(":");
        if (std::time(nullptr) != before) continue;
        std::tm local{};
        ASSERT_NE(nullptr, localtime_r(&before, &local));
        char expected[64];
        std::strftime(expected, sizeof(expected), "%Y-%m-%d %H:%M:%S", &local);
        EXPECT_EQ(expected, text);
        compared = true;
    }
    EXPECT_TRUE(compared);
}

TEST(time, now_us_is_the_wall_clock) {
    using namespace std::chrono;
    const auto before = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const uint64_t now = now_us();
    const auto after = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    EXPECT_LE(static_cast<uint64_t>(before), now);
    EXPECT_GE(static_cast<uint64_t>(after), now);
}

TEST(time, split_seconds) {
    struct case_t {
        double seconds;
        int hours;
        int minutes;
        int secs;
        double fraction;
    };
    const case_t cases[] = {
        {3725.5, 1, 2, 5, 0.5}, {0, 0, 0, 0, 0},   {59.25, 0, 0, 59, 0.25},     {3600, 1, 0, 0, 0},
        {90061, 25, 1, 1, 0},  // hours are not wrapped at a day
        {-5, 0, 0, 0, 0},       {nan, 0, 0, 0, 0}, {1e300, INT_MAX, 59, 59, 0},  // clamped so the hours fit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        const plib_hms_t hms = split_seconds(c.seconds);
        EXPECT_EQ(c.hours, hms.hours);
        EXPECT_EQ(c.minutes, hms.minutes);
        EXPECT_EQ(c.secs, hms.seconds);
        EXPECT_DOUBLE_EQ(c.fraction, hms.fraction);
    }
}

}  // namespace
