// Number texts without the process locale.
//
// Parsing uses std::from_chars (exact, locale-free) on a span this file delimits
// itself, because from_chars alone differs from what we must accept: it rejects a
// leading '+' and whitespace, accepts "inf"/"nan", and a stream reads "1e" as a
// failure where strtod reads 1. Formatting uses std::to_chars, which is specified
// as printf "%.*g" in the "C" locale.
#include "common/plib_number.h"

#include <charconv>
#include <cstdint>
#include <system_error>

namespace {

// The "C" locale's isspace set, which strtod and stream extraction both skip.
bool _is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool _is_digit(char c) { return c >= '0' && c <= '9'; }

enum class number_rule_t {
    strtod,  // longest valid prefix: "1e" is 1
    stream,  // what num_get collects must be a whole number: "1e" fails
};

struct number_span_t {
    std::size_t sign = 0;   // index of the optional sign (after the whitespace)
    std::size_t begin = 0;  // first digit or '.'
    std::size_t end = 0;    // one past the number
    bool negative = false;
    bool valid = false;
};

number_span_t _scan_number(std::string_view s, number_rule_t rule) {
    number_span_t span;
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n && _is_space(s[i])) ++i;
    span.sign = i;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        span.negative = s[i] == '-';
        ++i;
    }
    span.begin = i;
    std::size_t mantissa_digits = 0;
    while (i < n && _is_digit(s[i])) ++i, ++mantissa_digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && _is_digit(s[i])) ++i, ++mantissa_digits;
    }
    if (mantissa_digits == 0) return span;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
        std::size_t exponent_digits = 0;
        while (j < n && _is_digit(s[j])) ++j, ++exponent_digits;
        if (exponent_digits > 0) {
            i = j;
        } else if (rule == number_rule_t::stream) {
            return span;
        }
    }
    span.end = i;
    span.valid = true;
    return span;
}

// Decimal exponent of the first non-zero digit of a valid span, saturated; decides
// whether an out-of-range number overflowed (>= 0) or underflowed (< 0).
long long _decimal_magnitude(std::string_view s, const number_span_t& span) {
    constexpr long long limit = 1000000000LL;
    long long int_digits = 0;     // digits before the point, after leading zeros
    long long leading_zeros = 0;  // zeros after the point before the first non-zero digit
    bool seen_nonzero = false, after_point = false;
    std::size_t i = span.begin;
    for (; i < span.end && s[i] != 'e' && s[i] != 'E'; ++i) {
        const char c = s[i];
        if (c == '.') {
            after_point = true;
        } else if (!seen_nonzero && c == '0') {
            if (after_point && leading_zeros < limit) ++leading_zeros;
        } else {
            seen_nonzero = true;
            if (!after_point && int_digits < limit) ++int_digits;
        }
    }
    long long exponent = 0;
    if (i < span.end) {
        ++i;
        bool negative = false;
        if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
        for (; i < span.end; ++i) {
            if (exponent < limit) exponent = exponent * 10 + (s[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    const long long magnitude = int_digits > 0 ? int_digits - 1 : -(leading_zeros + 1);
    return magnitude + exponent;
}

enum class convert_result_t { ok, underflow, overflow };

convert_result_t _convert(std::string_view s, const number_span_t& span, double& out) {
    double value = 0.0;
    const char* first = s.data() + span.begin;
    const char* last = s.data() + span.end;
    const auto res = std::from_chars(first, last, value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        if (_decimal_magnitude(s, span) < 0) {
            out = span.negative ? -0.0 : 0.0;
            return convert_result_t::underflow;
        }
        out = 0.0;
        return convert_result_t::overflow;
    }
    if (res.ec != std::errc() || res.ptr != last) {
        // Cannot happen for a span scanned above; treat as no number.
        out = 0.0;
        return convert_result_t::overflow;
    }
    out = span.negative ? -value : value;
    return convert_result_t::ok;
}

}  // namespace

std::string format_general(double value, int significant) {
    if (significant < 0) significant = 6;
    // "%g" is at most sign, digits, point, "e-308": precision + 8 characters.
    std::string text(static_cast<std::size_t>(significant) + 32, '\0');
    const auto res =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, significant);
    if (res.ec != std::errc()) return std::string();
    text.resize(static_cast<std::size_t>(res.ptr - text.data()));
    return text;
}

bool parse_double_prefix(std::string_view text, double& out, std::size_t& consumed) {
    out = 0.0;
    consumed = 0;
    const number_span_t span = _scan_number(text, number_rule_t::strtod);
    if (!span.valid) return false;
    double value = 0.0;
    if (_convert(text, span, value) == convert_result_t::overflow) return false;
    out = value;
    consumed = span.end;
    return true;
}

bool parse_double_stream(std::string_view text, double& out) {
    out = 0.0;
    const number_span_t span = _scan_number(text, number_rule_t::stream);
    if (!span.valid) return false;
    double value = 0.0;
    // A stream fails on overflow (value DBL_MAX and failbit); a failed parse reads as 0.
    if (_convert(text, span, value) == convert_result_t::overflow) return false;
    out = value;
    return true;
}

double parse_double_stream(std::string_view text) {
    double value = 0.0;
    parse_double_stream(text, value);
    return value;
}
