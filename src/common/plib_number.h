// Exact number formatting and parsing for record files and instrument replies,
// independent of the process locale (the UI sets one from the environment).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// printf("%.*g", significant, value) in the "C" locale, byte for byte.
// A negative precision means 6, as in printf.
std::string format_general(double value, int significant);

// Reads the leading decimal number of `text` the way strtod does in the "C" locale:
// leading whitespace and one '+' or '-' are accepted, then the longest valid
// decimal prefix ("1e" reads 1 and consumes one character). Hex, "inf" and "nan"
// are not numbers here. On success sets out and consumed (whitespace included)
// and returns true; a number too small for a double reads as 0 (signed), as strtod
// gives it. No number, or one too large for a double: out = 0, consumed = 0, false.
bool parse_double_prefix(std::string_view text, double& out, std::size_t& consumed);

// The number text as `std::istream >> double` reads it in the "C" locale: leading
// whitespace skipped, then the characters a stream takes for a number; if those
// do not form a complete number ("1e", "-", ".") or it is out of range, 0.
// "1.5e3x" -> 1500, "12.5.1" -> 12.5, "abc" -> 0.
double parse_double_stream(std::string_view text);
// The same rule with a success flag, for callers that must tell "0" from "no
// number": true and out set, or false and out = 0.
bool parse_double_stream(std::string_view text, double& out);
