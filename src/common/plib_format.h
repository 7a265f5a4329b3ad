// SI prefixes, range texts, value scaling, and the small string and time helpers
// used to print readings and build file names.
//
// SI prefix index: 4 "p" 1e-12, 5 "n", 6 "u", 7 "m", 8 "" (1), 9 "k", 10 "M",
// 11 "G", 12 "T" 1e12; the factor of index i is 1000^(i - 8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/plib_measure_type.h"

inline constexpr int plib_si_index_pico = 4;
inline constexpr int plib_si_index_nano = 5;
inline constexpr int plib_si_index_micro = 6;
inline constexpr int plib_si_index_milli = 7;
inline constexpr int plib_si_index_one = 8;
inline constexpr int plib_si_index_kilo = 9;
inline constexpr int plib_si_index_mega = 10;
inline constexpr int plib_si_index_giga = 11;
inline constexpr int plib_si_index_tera = 12;

// Prefix text of an index; "" for 8 and for any index outside 4..12.
std::string si_prefix_text(int index);
// Factor of an index; 1 for any index outside 4..12 (the same "no prefix" as the text).
double si_prefix_factor(int index);

struct plib_si_scaled_t {
    double value = 0.0;
    int index = plib_si_index_one;
};
// Scales |x| into [1, 1000) where the prefixes allow: 0.0123 -> (12.3, 7),
// 1234567 -> (1.234567, 10), |x| <= 1e-15 -> (0, 8). Index stays within 4..12.
plib_si_scaled_t si_auto_scale(double x);

// value /= factor(index), except for the overload sentinel, which is never scaled.
void to_prefix_unit(double& value, int index);
// value * factor(index), except for the overload sentinel, which is never scaled.
double from_prefix_unit(double value, int index);

// "200mV" -> {"200", "mV"}: the unit starts at the first byte in 'A'..'z'.
struct plib_value_unit_t {
    std::string number;
    std::string unit;
};
plib_value_unit_t split_value_unit(std::string_view text);

// Prefix index named by the unit's first byte: M 10, k 9, m 7, u 6, n 5, p 4, else 8.
// The Greek micro sign ("μA") is not a prefix here and gives 8.
int unit_prefix_index(std::string_view unit);

// "200mV" -> 0.2, "1MΩ" -> 1e6, "" or an unparsable number -> 0.
double range_text_to_value(std::string_view range_text);
// (0.2, measure_dcv) -> "200mV"; (1000, measure_dcv) -> "1000V" (never "1kV").
std::string value_to_range_text(double value, plib_measure_type_t type);
// Expresses a reading in the prefix of the range ("" = auto range: auto-scale) and
// returns the prefix text. The overload sentinel is left untouched and gives "".
std::string scale_to_range(double& value, std::string_view range_text);

// Approximate equality: |a - b| <= 1e-8, or |a| >= 1000 and |a - b| <= |a| * 1e-6.
bool is_equal(double a, double b);
// is_equal(value, plib_overload_value).
bool is_overload(double value);

// Each delimiter ends one token; "a,b," -> {"a", "b", ""}; "" -> {""}.
std::vector<std::string> split_string(std::string_view text, char delimiter);
// Same with a multi-character delimiter; an empty delimiter gives the whole text.
std::vector<std::string> split_string(std::string_view text, std::string_view delimiter);
// Every occurrence, left to right, resuming after the inserted text. Empty `from`
// returns the text unchanged.
std::string replace_all(std::string text, std::string_view from, std::string_view to);

// One line of printable text from an instrument's (or a file's) text: every control
// character (below 0x20, and 0x7F) becomes a blank, so the text cannot break a line
// of a header, a file or the console. Bytes of UTF-8 sequences are kept.
std::string printable_line(std::string_view text);

// Wall clock, microseconds since the Unix epoch.
uint64_t now_us();
// Local time "YYYY-MM-DD HH:MM:SS.ffffff" (six-digit microsecond fraction); floor
// division, so negative timestamps name the right second. "" if the time cannot be
// represented as a calendar date.
std::string format_timestamp_us(int64_t t_us);
// Current local time as "%Y-%m-%d %H<sep>%M<sep>%S", for file names and headers.
std::string format_local_time(std::string_view separator);

struct plib_hms_t {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    double fraction = 0.0;
};
// 3725.5 -> {1, 2, 5, 0.5}. Negative and NaN durations give all zeros; very long
// durations are clamped so the hours fit an int.
plib_hms_t split_seconds(double seconds);
