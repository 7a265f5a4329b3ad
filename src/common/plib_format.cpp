// Unit and range texts are matched byte by byte instead of with std::regex: the
// patterns are single character classes ("[a-zA-z]+", "^[Mkmunp]"), and std::regex
// is slow to build and to run for code that formats every reading.
#include "common/plib_format.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/plib_number.h"

namespace {

constexpr int si_index_first = plib_si_index_pico;
constexpr int si_index_last = plib_si_index_tera;

bool _is_si_index(int index) { return index >= si_index_first && index <= si_index_last; }

// The unit of a range or value text starts at the first character of the class
// [a-zA-z]. The second range really is 'A'..'z', so it also takes [ \ ] ^ _ and the
// backtick; bytes of multi-byte UTF-8 characters (>= 0x80) never match, as in a
// Unicode-aware regular expression over the decoded text.
bool _is_unit_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'z'); }

}  // namespace

std::string si_prefix_text(int index) {
    static const char* const texts[] = {"p", "n", "u", "m", "", "k", "M", "G", "T"};
    if (!_is_si_index(index)) return std::string();
    return texts[index - si_index_first];
}

double si_prefix_factor(int index) {
    static const double factors[] = {1e-12, 1e-9, 1e-6, 1e-3, 1.0, 1e3, 1e6, 1e9, 1e12};
    if (!_is_si_index(index)) return 1.0;
    return factors[index - si_index_first];
}

plib_si_scaled_t si_auto_scale(double x) {
    plib_si_scaled_t scaled;
    if (std::fabs(x) <= 1e-15) return scaled;  // (0, 8)
    const bool negative = x < 0;
    double value = std::fabs(x);
    int index = plib_si_index_one;
    if (value < 1) {
        for (int step = 0; step < 4; ++step) {
            value *= 1000;
            --index;
            if (value >= 1) break;
        }
    } else if (value >= 1000) {
        while (index <= si_index_last - 1) {
            value *= 0.001;
            ++index;
            if (value < 1000) break;
        }
    }
    scaled.value = negative ? -value : value;
    scaled.index = index;
    return scaled;
}

void to_prefix_unit(double& value, int index) {
    if (is_overload(value)) return;
    value /= si_prefix_factor(index);
}

double from_prefix_unit(double value, int index) {
    if (is_overload(value)) return value;
    return value * si_prefix_factor(index);
}

plib_value_unit_t split_value_unit(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && !_is_unit_start(text[i])) ++i;
    return {std::string(text.substr(0, i)), std::string(text.substr(i))};
}

int unit_prefix_index(std::string_view unit) {
    if (unit.empty()) return plib_si_index_one;
    switch (unit.front()) {
        case 'M':
            return plib_si_index_mega;
        case 'k':
            return plib_si_index_kilo;
        case 'm':
            return plib_si_index_milli;
        case 'u':
            return plib_si_index_micro;
        case 'n':
            return plib_si_index_nano;
        case 'p':
            return plib_si_index_pico;
        default:
            return plib_si_index_one;
    }
}

double range_text_to_value(std::string_view range_text) {
    if (range_text.empty()) return 0.0;
    const plib_value_unit_t parts = split_value_unit(range_text);
    // Read as a stream would: leading blanks skipped, anything unparsable is 0.
    return parse_double_stream(parts.number) * si_prefix_factor(unit_prefix_index(parts.unit));
}

std::string value_to_range_text(double value, plib_measure_type_t type) {
    const plib_si_scaled_t scaled = si_auto_scale(value);
    const double whole = std::trunc(scaled.value);
    char number[400];
    // A plain int conversion of a value beyond int (or NaN) is undefined; print those
    // truncated values with "%.0f" instead, which agrees with "%d" inside int range.
    if (whole >= static_cast<double>(INT_MIN) && whole <= static_cast<double>(INT_MAX)) {
        std::snprintf(number, sizeof(number), "%d", static_cast<int>(whole));
    } else {
        std::snprintf(number, sizeof(number), "%.0f", whole);
    }
    std::string text = number + si_prefix_text(scaled.index) + range_unit_text(type);
    // The instruments name their top voltage range "1000V", never "1kV".
    if (text == "1kV") text = "1000V";
    return text;
}

std::string scale_to_range(double& value, std::string_view range_text) {
    if (is_overload(value)) return std::string();
    if (range_text.empty()) {
        const plib_si_scaled_t scaled = si_auto_scale(value);
        value = scaled.value;
        return si_prefix_text(scaled.index);
    }
    int index = unit_prefix_index(split_value_unit(range_text).unit);
    value /= si_prefix_factor(index);
    // Stop at the largest prefix: an infinite or huge reading must not loop on.
    while (std::fabs(value) >= 1000 && index < si_index_last) {
        value *= 0.001;
        ++index;
    }
    return si_prefix_text(index);
}

bool is_equal(double a, double b) {
    const double diff = std::fabs(a - b);
    if (diff <= 1e-8) return true;
    return std::fabs(a) >= 1000 && diff <= std::fabs(a) * 1e-6;
}

bool is_overload(double value) { return is_equal(value, plib_overload_value); }

std::vector<std::string> split_string(std::string_view text, char delimiter) {
    return split_string(text, std::string_view(&delimiter, 1));
}

std::vector<std::string> split_string(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> tokens;
    if (delimiter.empty()) {
        tokens.emplace_back(text);
        return tokens;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(delimiter, start);
        if (pos == std::string_view::npos) break;
        tokens.emplace_back(text.substr(start, pos - start));
        start = pos + delimiter.size();
    }
    tokens.emplace_back(text.substr(start));
    return tokens;
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    std::size_t pos = 0;
    while ((pos = text.find(from.data(), pos, from.size())) != std::string::npos) {
        text.replace(pos, from.size(), to.data(), to.size());
        pos += to.size();
    }
    return text;
}

uint64_t now_us() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count());
}

std::string format_timestamp_us(int64_t t_us) {
    constexpr int64_t us_per_second = 1000000;
    int64_t seconds = t_us / us_per_second;
    int64_t micros = t_us % us_per_second;
    if (micros < 0) {  // floor division: -1 us is 23:59:59.999999 of the second before
        micros += us_per_second;
        --seconds;
    }
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return std::string();
    char text[96];
    const std::size_t len = std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    if (len == 0) return std::string();
    std::snprintf(text + len, sizeof(text) - len, ".%06d", static_cast<int>(micros));
    return text;
}

std::string format_local_time(std::string_view separator) {
    // strftime would read a '%' of the separator as a conversion: double it.
    const std::string sep = replace_all(std::string(separator), "%", "%%");
    const std::string format = "%Y-%m-%d %H" + sep + "%M" + sep + "%S";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return std::string();
    // Sized for any separator, so a long one cannot truncate the text.
    std::string text(40 + 2 * separator.size(), '\0');
    const std::size_t len = std::strftime(text.data(), text.size(), format.c_str(), &local);
    text.resize(len);
    return text;
}

plib_hms_t split_seconds(double seconds) {
    plib_hms_t hms;
    if (!(seconds >= 0)) return hms;  // negative or NaN
    constexpr double max_seconds = static_cast<double>(INT_MAX) * 3600.0 + 3599.0;
    if (seconds > max_seconds) seconds = max_seconds;
    const int64_t whole = static_cast<int64_t>(seconds);
    hms.hours = static_cast<int>(whole / 3600);
    hms.minutes = static_cast<int>(whole / 60 - 60 * static_cast<int64_t>(hms.hours));
    hms.seconds = static_cast<int>(whole % 60);
    hms.fraction = seconds - static_cast<double>(whole);
    return hms;
}

std::string printable_line(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = ' ';
    }
    return out;
}
