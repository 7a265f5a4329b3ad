#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>

#include "common/plib_common.h"

namespace {

std::string printf_g(double value, int precision) {
    char text[512];
    std::snprintf(text, sizeof(text), "%.*g", precision, value);
    return text;
}

// What `stream >> double` gives in the "C" locale; a failed extraction reads as 0.
double stream_oracle(const std::string& text, bool* ok = nullptr) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    if (ok != nullptr) *ok = !in.fail();
    return in.fail() ? 0.0 : value;
}

TEST(format_general, known_texts) {
    struct case_t {
        double value;
        int precision;
        const char* text;
    };
    const case_t cases[] = {
        {0.00012345, 10, "0.00012345"},
        {0.00012345, 17, "0.00012344999999999999"},
        {9.9e37, 10, "9.9e+37"},
        {9.9e37, 17, "9.8999999999999993e+37"},
        {1e-5, 10, "1e-05"},
        {1e-5, 17, "1.0000000000000001e-05"},
        {123456789012, 10, "1.23456789e+11"},
        {123456789012, 17, "123456789012"},
        {0.1, 10, "0.1"},
        {0.1, 17, "0.10000000000000001"},
        {0, 10, "0"},
        {-2.5, 10, "-2.5"},
        {3.14159265, -1, "3.14159"},  // negative precision means 6
        {3.14159265, 0, "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.text, format_general(c.value, c.precision));
    }
}

TEST(format_general, matches_printf_byte_for_byte) {
    const double values[] = {0.00012345,
                             9.9e37,
                             9.91e37,
                             1e-5,
                             123456789012.0,
                             0.1,
                             0.0,
                             -0.0,
                             1.0,
                             -123.456,
                             1e-300,
                             5e-324,
                             std::numeric_limits<double>::max(),
                             100000,
                             1e16,
                             999999.5,
                             0.0001,
                             0.00001,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
    const int precisions[] = {-3, 0, 1, 2, 6, 10, 15, 17, 25, 40};
    for (const double v : values) {
        for (const int p : precisions) {
            EXPECT_EQ(printf_g(v, p), format_general(v, p)) << "value " << v << " precision " << p;
        }
    }
}

TEST(parse_double_prefix, table) {
    struct case_t {
        const char* text;
        bool ok;
        double value;
        std::size_t consumed;
    };
    const case_t cases[] = {
        {"200", true, 200, 3},
        {"  +1.5e3V", true, 1500, 8},
        {"-0.25\n", true, -0.25, 5},
        {"1e", true, 1, 1},  // like strtod: the incomplete exponent is not taken
        {"1e+", true, 1, 1},
        {"1.e5", true, 1e5, 4},
        {".5", true, 0.5, 2},
        {"5.", true, 5, 2},
        {"9.9E37", true, 9.9e37, 6},
        {"+9.91000000E+37,+1.0E+00\n", true, 9.91e37, 15},
        {"\t\n\v\f\r7", true, 7, 6},
        {"1,2", true, 1, 1},
        {"12.5.1", true, 12.5, 4},
        {"00012", true, 12, 5},
        {"0x1A", true, 0, 1},  // no hexadecimal numbers in replies
        {"-0", true, -0.0, 2},
        {"1e-400", true, 0, 6},  // too small: zero, as strtod gives it
        {"2.2250738585072011e-308", true, 2.2250738585072011e-308, 23},
        {"inf", false, 0, 0},
        {"nan", false, 0, 0},
        {"-", false, 0, 0},
        {"+-5", false, 0, 0},
        {"", false, 0, 0},
        {"   ", false, 0, 0},
        {".", false, 0, 0},
        {"e5", false, 0, 0},
        {"abc", false, 0, 0},
        {"1e400", false, 0, 0},  // too large for a double
        {"-1e400", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double out = -7;
        std::size_t consumed = 99;
        EXPECT_EQ(c.ok, parse_double_prefix(c.text, out, consumed));
        EXPECT_EQ(c.value, out);
        EXPECT_EQ(std::signbit(c.value), std::signbit(out));
        EXPECT_EQ(c.consumed, consumed);
    }
}

TEST(parse_double_prefix, long_digit_runs) {
    double out = 0;
    std::size_t consumed = 0;
    const std::string huge(400, '9');
    EXPECT_FALSE(parse_double_prefix(huge, out, consumed));
    const std::string tiny = "0." + std::string(400, '0') + "1";
    EXPECT_TRUE(parse_double_prefix(tiny, out, consumed));
    EXPECT_EQ(0.0, out);
    EXPECT_EQ(tiny.size(), consumed);
    const std::string exact = "1" + std::string(300, '0') + "e-300";
    EXPECT_TRUE(parse_double_prefix(exact, out, consumed));
    EXPECT_EQ(1.0, out);
    // A view that is not NUL-terminated must not be read past its end.
    const std::string digits = "12345";
    EXPECT_TRUE(parse_double_prefix(std::string_view(digits.data(), 2), out, consumed));
    EXPECT_EQ(12.0, out);
    EXPECT_EQ(2u, consumed);
}

TEST(parse_double_stream, table) {
    struct case_t {
        const char* text;
        double value;
    };
    const case_t cases[] = {
        {"200", 200},  {"1.5e3x", 1500}, {"abc", 0}, {"", 0},      {" 5", 5},
        {"\t-5", -5},  {"1e", 0},        {"1e+", 0}, {"1.e", 0},   {"12.5.1", 12.5},
        {"1e5e", 1e5}, {"0x10", 0},      {"inf", 0}, {"1e400", 0}, {"+.5e-1", 0.05},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.value, parse_double_stream(c.text));
    }
}

TEST(parse_double_stream, agrees_with_stream_extraction) {
    const char* const texts[] = {"200",    " 5",     "\t-5",   "1.5e3x", "abc",   "",     "1e",
                                 "1e+",    "1e-",    "1.e5",   ".5",     ".",     "-",    "+",
                                 "+.5e-1", "12.5.1", "1e5e",   "0x10",   "inf",   "nan",  "1e400",
                                 "-1e400", "1e-400", "9.9e37", "  ",     "+-1",   "--1",  "007",
                                 "1 2",    ".e5",    "5.",     "-.e1",   "1E+05", "1e-5x"};
    for (const char* text : texts) {
        bool expected_ok = false;
        const double expected = stream_oracle(text, &expected_ok);
        EXPECT_EQ(expected, parse_double_stream(text)) << '"' << text << '"';
        double out = -7;
        EXPECT_EQ(expected_ok, parse_double_stream(text, out)) << '"' << text << '"';
        EXPECT_EQ(expected, out) << '"' << text << '"';
    }
}

// Random short texts over the characters numbers are made of, checked against the
// C library and the standard stream: a fixed seed keeps failures reproducible.
TEST(number_parsers, random_texts_agree_with_strtod_and_streams) {
    static const char alphabet[] = "0123456789+-.eE ,\t";
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<int> pick(0, sizeof(alphabet) - 2);
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 10; ++i) {
        std::string text;
        for (int n = length(rng); n > 0; --n) text += alphabet[pick(rng)];

        errno = 0;
        char* end = nullptr;
        const double expected = std::strtod(text.c_str(), &end);
        const bool overflow = errno == ERANGE && std::isinf(expected);
        const std::size_t expected_consumed = overflow ? 0 : static_cast<std::size_t>(end - text.c_str());
        double out = -7;
        std::size_t consumed = 99;
        const bool ok = parse_double_prefix(text, out, consumed);
        if (ok != (expected_consumed > 0) || consumed != expected_consumed || (ok && out != expected)) {
            ADD_FAILURE() << "parse_double_prefix(\"" << text << "\") = " << out << " / " << consumed
                          << ", strtod " << expected << " / " << expected_consumed;
            ++failures;
        }
        bool stream_ok = false;
        const double stream_value = stream_oracle(text, &stream_ok);
        double value = -7;
        const bool parsed = parse_double_stream(text, value);
        if (parsed != stream_ok || value != stream_value) {
            ADD_FAILURE() << "parse_double_stream(\"" << text << "\") = " << value << " / " << parsed
                          << ", stream " << stream_value << " / " << stream_ok;
            ++failures;
        }
    }
}

}  // namespace
