#include "drv/drv_number.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace {

inline bool _is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool _is_digit(char c) { return c >= '0' && c <= '9'; }

// Decimal exponent of the first non-zero digit of [first, last) (a complete number
// without sign), saturated: >= 0 means an out-of-range value overflowed.
long long _decimal_magnitude(const char* first, const char* last) {
    constexpr long long limit = 1000000000LL;
    long long int_digits = 0, leading_zeros = 0;
    bool seen_nonzero = false, after_point = false;
    const char* p = first;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            after_point = true;
        } else if (!seen_nonzero && *p == '0') {
            if (after_point && leading_zeros < limit) ++leading_zeros;
        } else {
            seen_nonzero = true;
            if (!after_point && int_digits < limit) ++int_digits;
        }
    }
    long long exponent = 0;
    if (p != last) {
        ++p;
        bool negative = false;
        if (*p == '+' || *p == '-') negative = *p++ == '-';
        for (; p != last; ++p) {
            if (exponent < limit) exponent = exponent * 10 + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    return (int_digits > 0 ? int_digits - 1 : -(leading_zeros + 1)) + exponent;
}

}  // namespace

bool drv_parse_double(std::string_view text, double& out) {
    out = 0.0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && _is_space(*p)) ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* const first = p;
    bool digits = false;
    while (p != end && _is_digit(*p)) ++p, digits = true;
    if (p != end && *p == '.') {
        ++p;
        while (p != end && _is_digit(*p)) ++p, digits = true;
    }
    if (!digits) return false;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '+' || *p == '-')) ++p;
        bool exponent_digits = false;
        while (p != end && _is_digit(*p)) ++p, exponent_digits = true;
        if (!exponent_digits) return false;  // a stream collects "1e" and rejects it
    }
    double value = 0.0;
    const auto res = std::from_chars(first, p, value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        if (_decimal_magnitude(first, p) >= 0) return false;
        out = negative ? -0.0 : 0.0;
        return true;
    }
    if (res.ec != std::errc() || res.ptr != p) return false;
    out = negative ? -value : value;
    return true;
}

bool drv_parse_int(std::string_view text, int& out) {
    out = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && _is_space(*p)) ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    long long value = 0;
    bool digits = false;
    for (; p != end && _is_digit(*p); ++p) {
        digits = true;
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return false;
    }
    if (!digits) return false;
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max()) return false;
    out = static_cast<int>(value);
    return true;
}

bool drv_parse_timestamp(std::string_view text, int64_t& out) {
    out = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && _is_space(*p)) ++p;
    if (p != end && *p == '+') ++p;
    const char* const first = p;
    while (p != end && _is_digit(*p)) ++p;
    if (p == first) return false;
    int64_t value = 0;
    const auto res = std::from_chars(first, p, value, 10);
    if (res.ec != std::errc() || res.ptr != p) return false;
    out = value;
    return true;
}
