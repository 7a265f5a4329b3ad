// Leading numbers of instrument replies, read exactly as `std::istream >> double`
// (and >> int) read them in the "C" locale, but over a string_view, without
// allocation, and with a success flag the parsers need to skip bad pieces.
//
// Written here rather than taken from common/plib_number.h because that helper
// answers 0 for both "0" and "not a number"; the conversion itself is
// std::from_chars, so the values are exact and locale-free.
#pragma once

#include <cstdint>
#include <string_view>

// Leading white space skipped, one sign, then what a stream collects for a number
// (digits, one '.', an exponent that needs a digit before it and after its sign).
// The collected text must be a complete number: "1e", ".", "-" fail. Trailing text
// is ignored ("1.5 mVDC" reads 1.5). "inf", "nan" and hex are not numbers. A value
// beyond the range of double fails (a stream would store DBL_MAX with failbit); one
// too small reads as a signed zero or denormal, as a stream reads it.
// Returns true and sets out; on failure out = 0.
bool drv_parse_double(std::string_view text, double& out);

// Leading white space, one sign, at least one decimal digit; out of int range fails.
bool drv_parse_int(std::string_view text, int& out);

// Leading white space, an optional '+', at least one decimal digit. The result must
// fit a signed 64-bit value (it is stored in plib_data_t::timestamp).
bool drv_parse_timestamp(std::string_view text, int64_t& out);
