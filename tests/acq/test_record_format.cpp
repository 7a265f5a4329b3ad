// The record file's value column: acq_format_record_value must give the bytes of
// snprintf("%.10g") for every double, whichever path (fast or std::to_chars) it takes.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "acq/acq_record_file.h"
#include "common/plib_format.h"

namespace {

std::string printf_g10(double v) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%.10g", v);
    return std::string(text, static_cast<std::size_t>(n));
}

std::string ours(double v) {
    char text[acq_record_value_max_chars + 8];
    std::memset(text, '#', sizeof text);
    const char* end = acq_format_record_value(v, text);
    EXPECT_LE(static_cast<std::size_t>(end - text), acq_record_value_max_chars);
    return std::string(text, static_cast<std::size_t>(end - text));
}

// Counts mismatches and reports the first few, so one fault does not print a million lines.
struct comparer_t {
    long checked = 0;
    long mismatches = 0;
    void check(double v) {
        ++checked;
        const std::string expected = printf_g10(v);
        const std::string got = ours(v);
        if (got == expected) return;
        if (++mismatches <= 10)
            ADD_FAILURE() << std::hexfloat << v << std::defaultfloat << ": \"" << got << "\" vs \""
                          << expected << "\"";
    }
    void check_with_neighbours(double v) {
        check(v);
        check(-v);
        check(std::nextafter(v, 0.0));
        check(std::nextafter(v, std::numeric_limits<double>::infinity()));
    }
};

double from_bits(uint64_t bits) {
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

TEST(record_format, edge_values_match_printf) {
    comparer_t c;
    const double inf = std::numeric_limits<double>::infinity();
    const double edges[] = {0.0,
                            -0.0,
                            inf,
                            -inf,
                            std::numeric_limits<double>::quiet_NaN(),
                            -std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::denorm_min(),
                            -std::numeric_limits<double>::denorm_min(),
                            from_bits(0x000FFFFFFFFFFFFFULL),  // largest denormal
                            DBL_MIN,
                            DBL_MAX,
                            -DBL_MAX,
                            9.9e37,
                            -9.9e37,
                            9.91e37,
                            1.00004124e-07,
                            0.00012345,
                            0.0001,
                            0.000099999999996,
                            0.00009999999999,
                            9999999999.5,
                            9999999999.4,
                            9999999999.6,
                            999999999.95,
                            9.9999999995,
                            9.99999999949,
                            0.99999999995,
                            1234567890.5,  // an exact tie: printf rounds it to even
                            1234567891.5,
                            0.5,
                            1.5,
                            2.5e-12,
                            1e-13,
                            9.99999999e-14,
                            1e31,
                            9.999999999e30,
                            123.4567890123,
                            1.0000000004,
                            1.0000000005,
                            1.0000000015};
    for (double v : edges) c.check_with_neighbours(v);
    // Every power of ten a double reaches, with its neighbours (rounding up a digit
    // around each one).
    for (int e = -323; e <= 308; ++e) c.check_with_neighbours(std::pow(10.0, e));
    EXPECT_EQ(c.mismatches, 0) << "of " << c.checked;
}

TEST(record_format, ten_digit_ties_and_near_ties_match_printf) {
    // n + 0.5 in the tenth digit's unit at every exponent the fast path takes, and the
    // doubles just around it: where the last digit's rounding is closest to a tie.
    std::mt19937_64 rng(42);
    comparer_t c;
    for (int e = -14; e <= 32; ++e) {
        for (int i = 0; i < 2000; ++i) {
            const uint64_t n = 1000000000ULL + rng() % 9000000000ULL;
            const double tie = (static_cast<double>(n) + 0.5) * std::pow(10.0, e - 9);
            c.check_with_neighbours(tie);
        }
    }
    EXPECT_EQ(c.mismatches, 0) << "of " << c.checked;
}

TEST(record_format, random_doubles_match_printf) {
    std::mt19937_64 rng(20261210);
    comparer_t c;
    // Any bit pattern: denormals, NaN payloads, infinities, every exponent.
    for (int i = 0; i < 300000; ++i) c.check(from_bits(rng()));
    // Magnitudes readings have, log-uniform over 1e-16 .. 1e36, both signs.
    std::uniform_real_distribution<double> exponent(-16.0, 36.0);
    for (int i = 0; i < 300000; ++i) {
        const double v = std::pow(10.0, exponent(rng));
        c.check(rng() % 2 ? v : -v);
    }
    // Instrument texts ("%+.8E") read back, and short decimals: few significant digits.
    for (int i = 0; i < 200000; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%+.8E", std::pow(10.0, exponent(rng)));
        c.check(std::strtod(text, nullptr));
        c.check(static_cast<double>(rng() % 100000) / std::pow(10.0, static_cast<double>(rng() % 12)));
    }
    EXPECT_EQ(c.mismatches, 0) << "of " << c.checked;
}

TEST(record_format, reading_lines_are_value_comma_time) {
    std::mt19937_64 rng(7);
    acq_record_line_formatter_t f;
    std::string text;
    std::string expected;
    int64_t ts = 1730124309000000;
    for (int i = 0; i < 5000; ++i) {
        const double v = from_bits(rng());
        ts += static_cast<int64_t>(rng() % 700000);
        f.append_line(text, plib_data_t{v, ts});
        expected += printf_g10(v) + "," + format_timestamp_us(ts) + "\n";
    }
    EXPECT_EQ(text, expected);
}
