// Reply parsers: the documented cases and hostile replies.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
// GCC 12 reports a false -Wmaybe-uninitialized inside std::regex when sanitizers are on.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <sstream>

#include "drv/drv_number.h"
#include "drv/drv_parse.h"
#include "drv/if/drv_if.h"
#include "drv_fake_link.h"

namespace {

int64_t fixed_clock() { return 1234; }

std::vector<double> values(const std::vector<plib_data_t>& data) {
    std::vector<double> out;
    for (const plib_data_t& d : data) out.push_back(d.value);
    return out;
}

std::string block(const std::string& data) {
    const std::string length = std::to_string(data.size());
    return "#" + std::to_string(length.size()) + length + data + "\n";
}

struct block_case_t {
    const char* name;
    std::string reply;
    std::vector<double> expected;
};

TEST(drv_parse, block_readings) {
    const std::vector<block_case_t> cases = {
        {"three readings", "#151,2,3\n", {1, 2, 3}},
        {"instrument notation", block("+1.23450000E-03,-9.90000000E+37"), {1.2345e-3, -9.9e37}},
        {"declared one byte short", "#141,2,3\n", {}},
        {"declared one byte long", "#161,2,3\n", {}},
        {"digit count 0", "#0\n", {}},
        {"digit count 9 claiming gigabytes", "#99999999991,2\n", {}},
        {"digit count beyond the reply", "#9123\n", {}},
        {"length not a number", "#2x51,2,3\n", {}},
        {"no hash", "151,2,3\n", {}},
        {"hash without digit", "#x\n", {}},
        {"NULL", "NULL", {}},
        {"NULL with line feed", "NULL\n", {}},
        {"empty", "", {}},
        {"only hash", "#", {}},
        {"no closing line feed", "#151,2,3X", {}},
        {"zero-length block", "#10\n", {}},
        {"unparsable pieces are dropped", block("1,abc,,nan,inf,1e999,-1e999,0x10,2"), {1, 2}},
        {"leading spaces and trailing text", block(" 1.5V, 2e1x"), {1.5, 20}},
        {"tiny values read as zero", block("1e-400"), {0}},
        {"non-UTF-8 bytes", block("\xff\xfe,3"), {3}},
        {"embedded line feed", block("1\n,2"), {1, 2}},
    };
    for (const block_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<plib_data_t> data;
        drv_parse_block_readings(c.reply, data, fixed_clock);
        EXPECT_EQ(values(data), c.expected);
        for (const plib_data_t& d : data) EXPECT_EQ(d.timestamp, 1234);
    }
}

// Pieces that are no number are dropped and counted, never logged as 0; an overload
// stays an overload, a real 0 stays a 0.
TEST(drv_parse, block_readings_drop_and_count_what_is_no_number) {
    struct case_t {
        const char* name;
        std::string data;
        std::vector<double> expected;
        std::size_t dropped;
    };
    const std::vector<case_t> cases = {
        {"the reported block", "abc,nan,inf,-inf,1e999,--,0x1p3,,1.0", {1.0}, 8},
        {"overload markers", "+9.90000000E+37,-9.90000000E+37,9.9e37", {9.9e37, -9.9e37, 9.9e37}, 0},
        {"real zeros", "0,+0.00000000E+00,-0", {0, 0, -0.0}, 0},
        {"hex in any case and sign", "0X10,-0x1,+0x0,0,0x", {0}, 4},
        {"embedded NULs", std::string("1,\0,\0\0,2", 8), {1, 2}, 2},
        {"NUL after a number", std::string("3\0,4", 4), {3, 4}, 0},
        {"only commas", ",,,", {}, 4},
        {"signs and dots", "+,-,.,-.,1.", {1}, 4},
        {"incomplete exponents", "1e,1e+,2E-5", {2e-5}, 2},
        {"nan spelled otherwise", "NaN,-nan(0x1),INF,infinity", {}, 4},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<plib_data_t> data;
        const std::size_t dropped = drv_parse_block_readings(block(c.data), data, fixed_clock);
        EXPECT_EQ(values(data), c.expected);
        EXPECT_EQ(dropped, c.dropped);
        for (const plib_data_t& d : data) {
            EXPECT_TRUE(std::isfinite(d.value));
            EXPECT_EQ(d.timestamp, 1234);
        }
    }
    // A malformed block is no block: nothing kept, nothing counted.
    std::vector<plib_data_t> data;
    EXPECT_EQ(drv_parse_block_readings("#151,a,3X", data, fixed_clock), 0u);
    EXPECT_TRUE(data.empty());
}

TEST(drv_parse, block_readings_get_their_own_increasing_wall_clock_timestamps) {
    std::vector<plib_data_t> data;
    const int64_t before = drv_now_us();
    drv_parse_block_readings(block("1,2,3,4"), data);
    ASSERT_EQ(data.size(), 4u);
    EXPECT_GE(data.front().timestamp, before);
    for (std::size_t i = 1; i < data.size(); ++i) EXPECT_GE(data[i].timestamp, data[i - 1].timestamp);
}

TEST(drv_parse, large_block_over_one_read) {
    std::string text;
    for (int i = 0; i < 60000; ++i) text += (i ? "," : "") + std::string("+1.23456789E+00");
    ASSERT_GT(text.size(), 800000u);
    std::vector<plib_data_t> data;
    drv_parse_block_readings(block(text), data, fixed_clock);
    ASSERT_EQ(data.size(), 60000u);
    EXPECT_DOUBLE_EQ(data.back().value, 1.23456789);
}

struct measure_case_t {
    const char* name;
    std::string reply;
    std::vector<plib_data_t> expected;
};

TEST(drv_parse, measure_data) {
    const std::vector<measure_case_t> cases = {
        {"two entries",
         "1.5:1700000000000000,-2.5E-3:1700000000000100\n",
         {{1.5, 1700000000000000}, {-2.5e-3, 1700000000000100}}},
        {"NULL", "NULL\n", {}},
        {"no line feed", "1.5:100", {}},
        {"empty", "\n", {}},
        {"three pieces skipped", "1:2:3,4:5\n", {{4, 5}}},
        {"timestamp not a number", "1:abc,2:7\n", {{2, 7}}},
        {"value not a number", "x:1,nan:2,inf:3,1e999:4,5:6\n", {{5, 6}}},
        {"negative timestamp", "1:-5,2:6\n", {{2, 6}}},
        {"timestamp beyond 64 bits", "1:99999999999999999999,2:6\n", {{2, 6}}},
        {"timestamp beyond int64",
         "1:9223372036854775808,2:9223372036854775807\n",
         {{2, 9223372036854775807}}},
        {"missing colon", "1,2:6\n", {{2, 6}}},
        {"empty entries", ",,:,2:6,\n", {{2, 6}}},
        {"white space accepted", " 1.5: 100\n", {{1.5, 100}}},
        {"non-UTF-8", "\xff:1,2:\xfe\n", {}},
    };
    for (const measure_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<plib_data_t> data;
        drv_parse_measure_data(c.reply, data);
        ASSERT_EQ(data.size(), c.expected.size());
        for (std::size_t i = 0; i < data.size(); ++i) {
            EXPECT_EQ(data[i].value, c.expected[i].value);
            EXPECT_EQ(data[i].timestamp, c.expected[i].timestamp);
        }
    }
}

// Entries that are no reading are counted as dropped: kept + dropped = entries.
TEST(drv_parse, measure_data_counts_what_it_drops) {
    const struct {
        const char* reply;
        std::size_t kept, dropped;
    } cases[] = {
        {"1.5:1700000000000000,-2.5E-3:1700000000000100\n", 2, 0},
        {"NULL\n", 0, 0},
        {"1:2:3,4:5\n", 1, 1},
        {"x:1,nan:2,inf:3,1e999:4,5:6\n", 1, 4},
        {",,:,2:6,\n", 1, 4},
        {"\xff:1,2:\xfe\n", 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        std::vector<plib_data_t> data;
        EXPECT_EQ(drv_parse_measure_data(c.reply, data), c.dropped);
        EXPECT_EQ(data.size(), c.kept);
    }
}

struct scan_case_t {
    const char* name;
    std::string reply;
    std::map<int, std::vector<double>> expected;
};

TEST(drv_parse, scan_data) {
    const std::vector<scan_case_t> cases = {
        {"documented", "1:+1.0E+00 VDC,2:2.5 mVDC\n", {{1, {1.0}}, {2, {0.0025}}}},
        {"several readings per channel", "3:1 VDC,3:2 kOHM,16:5 uADC\n", {{3, {1, 2000}}, {16, {5e-6}}}},
        {"NULL", "NULL\n", {}},
        {"empty", "\n", {}},
        {"no line feed", "1:1 VDC", {}},
        {"entry without space skipped", "1:1VDC,2:2 VDC\n", {{2, {2}}}},
        {"bad channel ends the reply", "1:1 VDC,x:2 VDC,3:3 VDC\n", {{1, {1}}}},
        {"huge channel ends the reply", "99999999999:1 VDC,2:2 VDC\n", {}},
        {"bad value skips the entry", "1:abc VDC,2:nan VDC,2:3 VDC\n", {{2, {3}}}},
        {"greek micro is no prefix",
         "1:1 \xCE\xBC"
         "ADC\n",
         {{1, {1}}}},
        {"overload stays recognisable", "1:9.9E+37 mVDC\n", {{1, {9.9e37}}}},
        {"empty entries", ",,1:1 V,\n", {{1, {1}}}},
        {"scaled beyond double skipped", "1:1e308 MVDC,2:1 V\n", {{2, {1}}}},
        {"value is the last piece", "4:9:7 V\n", {{4, {7}}}},
        {"no colon", "5 V\n", {{5, {5}}}},
    };
    for (const scan_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        plib_scan_data_map_t data;
        drv_parse_scan_data(c.reply, data, fixed_clock);
        std::map<int, std::vector<double>> got;
        for (const auto& entry : data) got[entry.first] = values(entry.second);
        ASSERT_EQ(got.size(), c.expected.size());
        for (const auto& entry : c.expected) {
            ASSERT_EQ(got[entry.first].size(), entry.second.size());
            for (std::size_t i = 0; i < entry.second.size(); ++i)
                EXPECT_DOUBLE_EQ(got[entry.first][i], entry.second[i]);
        }
    }
}

TEST(drv_parse, scan_data_keeps_a_bounded_number_of_channels) {
    std::string reply;
    for (int ch = 0; ch < 5000; ++ch) reply += std::to_string(ch) + ":1 V,";
    reply += "\n";
    plib_scan_data_map_t data;
    drv_parse_scan_data(reply, data, fixed_clock);
    EXPECT_EQ(data.size(), drv_max_scan_channels);
}

TEST(drv_parse, read_data_skips_pieces_that_are_not_numbers) {
    std::vector<plib_data_t> data;
    drv_parse_read_data("1.5, -2,abc,,1e,3e2 V\n", data, fixed_clock);
    EXPECT_EQ(values(data), (std::vector<double>{1.5, -2, 300}));
    data.clear();
    drv_parse_read_data("1,2", data, fixed_clock);
    EXPECT_TRUE(data.empty());
}

TEST(drv_parse, udef_tran_lists) {
    struct udef_case_t {
        const char* name;
        std::string reply;
        std::vector<std::string> names;
    };
    const std::vector<udef_case_t> cases = {
        {"none", "NONE\n", {}},
        {"two", "T1,T2\n", {"T1", "T2"}},
        {"no line feed", "T1,T2", {}},
        {"empty names skipped", "\n", {}},
        {"empty entries", ",T1,,NONE,\n", {"T1"}},
        {"non-UTF-8 skipped",
         "A,\xff\xfe,\xCE\xBC"
         "1\n",
         {"A",
          "\xCE\xBC"
          "1"}},
    };
    for (const udef_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<drv_temp_sensor_t> sensors;
        drv_parse_udef_tran_list(c.reply, 1, sensors);
        ASSERT_EQ(sensors.size(), c.names.size());
        for (std::size_t i = 0; i < sensors.size(); ++i) {
            EXPECT_EQ(sensors[i], (drv_temp_sensor_t{1, 1, c.names[i]}));
        }
    }
}

TEST(drv_parse, vxa_private_model_matches_the_regular_expression) {
    const std::regex pattern("^IDN-MRQX-PRI\\s(\\S.+)\\n$");
    const std::vector<std::string> replies = {
        "IDN-MRQX-PRI VXA-2E\n",
        "IDN-MRQX-PRI VXA-2E",
        "IDN-MRQX-PRI  VXA\n",
        "IDN-MRQX-PRI X\n",
        "IDN-MRQX-PRI\tAB\n",
        "IDN-MRQX-PRI AB\r\n",
        "IDN-MRQX-PRI A\rB\n",
        "xIDN-MRQX-PRI AB\n",
        "IDN-MRQX-PRI\nAB\n",
        "IDN-MRQX-PRIAB\n",
        "IDN-MRQX-PRI AB\n\n",
        "IDN-MRQX-PRI A\n\n",
        "",
        "IDN-MRQX-PRI",
        "IDN-MRQX-PRI \xff\xfe\n",
        std::string("IDN-MRQX-PRI A\0B\n", 18),
        "IDN-MRQX-PRI A B C\n",
        "IDN-MRQX-PRI\vAB\n",
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        std::smatch match;
        const std::string expected = std::regex_match(reply, match, pattern) ? match[1].str() : "";
        EXPECT_EQ(drv_parse_vxa_private_model(reply), expected);
    }
    EXPECT_EQ(drv_parse_vxa_private_model("IDN-MRQX-PRI VXA-2E\n"), "VXA-2E");
    // A reply long enough to exhaust a recursive matcher is handled in one pass.
    EXPECT_EQ(drv_parse_vxa_private_model("IDN-MRQX-PRI " + std::string(1000000, 'A') + "\n").size(),
              1000000u);
}

// drv_parse_double must agree with `std::istream >> double` (the behaviour the parsers
// were specified with) on success, value and sign, except that an overflow is a
// failure rather than DBL_MAX.
void expect_like_stream(const std::string& text) {
    std::istringstream in(text);
    double stream_value = 0.0;
    in >> stream_value;
    const bool stream_ok = !in.fail();
    double value = 7.0;
    const bool ok = drv_parse_double(text, value);
    ASSERT_EQ(ok, stream_ok) << '"' << text << '"';
    if (ok) {
        ASSERT_EQ(value, stream_value) << '"' << text << '"';
        ASSERT_EQ(std::signbit(value), std::signbit(stream_value)) << '"' << text << '"';
    } else {
        ASSERT_EQ(value, 0.0);
    }
}

TEST(drv_number, double_agrees_with_stream_extraction) {
    for (const char* text : {"0",
                             "-0",
                             "+1",
                             "1.",
                             ".5",
                             ".",
                             "-",
                             "+",
                             "",
                             " ",
                             "  \t\n5",
                             "1e",
                             "1e+",
                             "1e-",
                             "1E5",
                             "1e+05x",
                             "1.5.3",
                             "1e5.3",
                             "1e5e3",
                             "00012",
                             "-.5e-3",
                             "abc",
                             "nan",
                             "inf",
                             "-inf",
                             "infinity",
                             "0x1p3",
                             "1e999",
                             "-1e999",
                             "1e-400",
                             "-1e-400",
                             "2.4703282292062328e-324",
                             "4.9e-324",
                             "1.7976931348623157e308",
                             "1.7976931348623159e308",
                             "+-1",
                             "- 1",
                             "1,5",
                             "9.9E+37",
                             "123456789012345678901234567890",
                             "0.000000000000000000000000000001e-300",
                             "1e-9999999999999",
                             "1e99999999999999999",
                             ".e5",
                             "e5"}) {
        expect_like_stream(text);
    }
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789+-.eE x\t";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const int length = static_cast<int>(rng() % 12);
        for (int j = 0; j < length; ++j) text += alphabet[rng() % alphabet.size()];
        expect_like_stream(text);
    }
}

TEST(drv_number, int_and_timestamp) {
    struct int_case_t {
        const char* text;
        bool ok;
        int value;
    };
    for (const int_case_t& c : std::vector<int_case_t>{{"12", true, 12},
                                                       {" -3x", true, -3},
                                                       {"+7", true, 7},
                                                       {"2147483647", true, 2147483647},
                                                       {"-2147483648", true, -2147483647 - 1},
                                                       {"2147483648", false, 0},
                                                       {"99999999999", false, 0},
                                                       {"x1", false, 0},
                                                       {"", false, 0},
                                                       {"-", false, 0}}) {
        int value = 5;
        EXPECT_EQ(drv_parse_int(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    int64_t t = 5;
    EXPECT_TRUE(drv_parse_timestamp(" +1700000000000000 ", t));
    EXPECT_EQ(t, 1700000000000000);
    EXPECT_FALSE(drv_parse_timestamp("-1", t));
    EXPECT_FALSE(drv_parse_timestamp("9223372036854775808", t));
    EXPECT_FALSE(drv_parse_timestamp("", t));
}

TEST(drv_parse, utf8_and_range_lookup) {
    EXPECT_TRUE(
        drv_is_utf8("2\xCE\xBC"
                    "F"));
    EXPECT_FALSE(drv_is_utf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(drv_is_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(drv_is_utf8("\xCE"));              // truncated
    EXPECT_FALSE(drv_is_utf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    const std::vector<std::string> ranges = {"Auto", "2nF",
                                             "2\xCE\xBC"
                                             "F",
                                             "20uF"};
    EXPECT_EQ(drv_find_range(ranges, "2uF"), 2);
    EXPECT_EQ(drv_find_range(ranges,
                             "20\xCE\xBC"
                             "F"),
              3);
    EXPECT_EQ(drv_find_range(ranges, "2mF"), -1);
}

}  // namespace

// The reading-fetch parsers convert the usual pieces in one pass and hand anything else
// to the general rules: over random replies mixing both, they must give exactly what
// the general rules give piece by piece.
namespace {

std::string random_piece(std::mt19937& rng) {
    static const char* const odd[] = {"",       " 1.5",     "1.5V",
                                      "1e",     "1e+",      "1.5e+x",
                                      "+-1",    "--1",      "inf",
                                      "-nan",   "0x10",     "1e999",
                                      "-1e999", "1e-999",   ".",
                                      "-.",     ".5",       "5.",
                                      "-.5e1",  "1.2.3",    "\xff",
                                      "1\n",    "+",        "E5",
                                      "1:2:3",  ":",        "1:",
                                      ":1",     "1: 2",     "1:+2",
                                      "1:-2",   "nan:1",    "1:99999999999999999999",
                                      "-0",     "4.9e-324", "1.7976931348623157e308"};
    char text[64];
    switch (rng() % 4) {
        case 0: {  // the instrument's own form
            const double v = std::ldexp(static_cast<double>(rng()) / 4294967296.0 - 0.5,
                                        static_cast<int>(rng() % 80) - 40);
            std::snprintf(text, sizeof text, "%+.8E", v);
            return text;
        }
        case 1: {  // shortest and long forms, sometimes with a timestamp
            const double v = std::ldexp(static_cast<double>(rng()), static_cast<int>(rng() % 200) - 100);
            std::snprintf(text, sizeof text, rng() % 2 ? "%.17g" : "%g", rng() % 2 ? v : -v);
            std::string piece = text;
            if (rng() % 2) piece += ":" + std::to_string(rng() % 1000000000);
            return piece;
        }
        case 2:
            return odd[rng() % (sizeof odd / sizeof odd[0])];
        default: {
            std::snprintf(text, sizeof text, "%+.8E:%u", static_cast<double>(rng() % 100000) / 7.0,
                          static_cast<unsigned>(rng()));
            return text;
        }
    }
}

std::vector<std::string> split_pieces(const std::string& line) {
    std::vector<std::string> pieces(1);
    for (char c : line) {
        if (c == ',') {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return pieces;
}

}  // namespace

TEST(drv_parse, reading_fetch_parsers_agree_with_the_general_rules_piece_by_piece) {
    std::mt19937 rng(20261210);
    for (int round = 0; round < 400; ++round) {
        std::string line;
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) line += (i ? "," : "") + random_piece(rng);
        SCOPED_TRACE(line);
        const std::vector<std::string> pieces = split_pieces(line);

        std::vector<plib_data_t> block_data;
        const std::size_t dropped = drv_parse_block_readings(block(line), block_data, fixed_clock);
        std::vector<double> expected_values;
        for (const std::string& piece : pieces) {
            double expected = 0.0;
            if (drv_block_piece_value(piece, expected)) expected_values.push_back(expected);
        }
        ASSERT_EQ(block_data.size(), expected_values.size());
        EXPECT_EQ(block_data.size() + dropped, pieces.size());
        for (std::size_t i = 0; i < expected_values.size(); ++i) {
            EXPECT_EQ(std::signbit(block_data[i].value), std::signbit(expected_values[i])) << i;
            EXPECT_EQ(block_data[i].value, expected_values[i]) << i;
            EXPECT_EQ(block_data[i].timestamp, 1234);
        }

        std::vector<plib_data_t> entries;
        drv_parse_measure_data(line + "\n", entries);
        std::vector<plib_data_t> expected_entries;
        for (const std::string& entry : pieces) {
            const std::size_t colon = entry.find(':');
            if (colon == std::string::npos || entry.find(':', colon + 1) != std::string::npos) continue;
            plib_data_t d;
            if (drv_parse_double(entry.substr(0, colon), d.value) &&
                drv_parse_timestamp(entry.substr(colon + 1), d.timestamp))
                expected_entries.push_back(d);
        }
        ASSERT_EQ(entries.size(), expected_entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].value, expected_entries[i].value);
            EXPECT_EQ(std::signbit(entries[i].value), std::signbit(expected_entries[i].value));
            EXPECT_EQ(entries[i].timestamp, expected_entries[i].timestamp);
        }
    }
}

// The block's clock is read at the first reading and again once drv_clock_bytes bytes
// have been parsed since: stamps are non-decreasing and no stamp covers more than that.
TEST(drv_parse, block_clock_is_read_again_every_few_hundred_bytes) {
    static int64_t ticks = 0;
    ticks = 0;
    const auto counting_clock = []() -> int64_t { return ++ticks; };
    std::string line;
    std::vector<std::size_t> starts;
    for (int i = 0; i < 2000; ++i) {
        if (i) line += ',';
        starts.push_back(line.size());
        line += i % 7 == 0 ? "1" : "+1.23456789E-03";  // pieces of two lengths
    }
    std::vector<plib_data_t> data;
    drv_parse_block_readings(block(line), data, counting_clock);
    ASSERT_EQ(data.size(), 2000u);
    EXPECT_EQ(data.front().timestamp, 1);
    std::size_t group_start = 0;
    for (std::size_t i = 1; i < data.size(); ++i) {
        ASSERT_GE(data[i].timestamp, data[i - 1].timestamp);
        ASSERT_LE(data[i].timestamp, data[i - 1].timestamp + 1);
        if (data[i].timestamp != data[i - 1].timestamp) {
            // A new read starts at the first piece at or beyond the limit, not later.
            EXPECT_GE(starts[i] - starts[group_start], drv_clock_bytes);
            EXPECT_LT(starts[i - 1] - starts[group_start], drv_clock_bytes);
            group_start = i;
        }
    }
    EXPECT_GE(ticks, static_cast<int64_t>(line.size() / (drv_clock_bytes + 16)));
}

// A reply of more pieces than drv_max_readings keeps exactly drv_max_readings.
TEST(drv_parse, block_and_measure_data_keep_at_most_the_reading_limit) {
    std::string ones;
    ones.reserve((drv_max_readings + 10) * 2);
    for (std::size_t i = 0; i < drv_max_readings + 10; ++i) ones += i ? ",1" : "1";
    std::vector<plib_data_t> data;
    // The pieces beyond the limit are not read, and are counted as dropped.
    EXPECT_EQ(drv_parse_block_readings(block(ones), data, fixed_clock), 10u);
    EXPECT_EQ(data.size(), drv_max_readings);
    // A reply of bare commas is all dropped pieces, and costs no storage.
    std::string commas(drv_max_readings + 10, ',');
    data.clear();
    EXPECT_EQ(drv_parse_block_readings(block(commas), data, fixed_clock), drv_max_readings + 11);
    EXPECT_TRUE(data.empty());
    std::string entries;
    entries.reserve((drv_max_readings + 3) * 4);
    for (std::size_t i = 0; i < drv_max_readings + 3; ++i) entries += i ? ",1:2" : "1:2";
    data.clear();
    drv_parse_measure_data(entries + "\n", data);
    EXPECT_EQ(data.size(), drv_max_readings);
}

// The first family's fetch counts what its block parser dropped, for the engine to take.
TEST(drv_parse, the_fetch_counts_dropped_pieces_until_they_are_taken) {
    velkaro_test::drv_fake_link_t link;
    drv_if_t driver(&link, "VXA-2");
    const std::string data = "abc,nan,inf,-inf,1e999,--,0x1p3,,1.0";
    link.reply(block(data));
    link.reply(block("2,x"));
    std::vector<plib_data_t> v;
    EXPECT_EQ(driver.read_measure_data(v), 0);
    EXPECT_EQ(values(v), std::vector<double>{1.0});
    EXPECT_EQ(driver.read_measure_data(v), 0);
    EXPECT_EQ(values(v), std::vector<double>{2.0});
    EXPECT_EQ(driver.take_dropped_readings(), 9u);
    EXPECT_EQ(driver.take_dropped_readings(), 0u);
}
