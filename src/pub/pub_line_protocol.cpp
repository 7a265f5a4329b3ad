#include "pub/pub_line_protocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "common/plib_measure_type.h"

namespace {

// Appends `text` with a backslash before every character in `special`. A backslash
// that would join the next escape (or end the text, joining the separator after it)
// becomes '/': readers differ on "\\" (InfluxDB 1.x keeps both characters, and refuses a
// value that ends in one), so no escape carries it faithfully everywhere. A line
// break, which no escape can carry, becomes a blank.
void escape_with(std::string_view text, std::string_view special, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' || c == '\r') c = ' ';
        if (c == '\\') {
            const bool last = i + 1 == text.size();
            const char next = last ? '\0' : text[i + 1];
            const bool joins = last || next == '\\' || special.find(next) != std::string_view::npos ||
                               next == '\n' || next == '\r';
            out += joins ? '/' : '\\';
            continue;
        }
        if (special.find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
}

}  // namespace

void pub_escape_measurement(std::string_view text, std::string& out) { escape_with(text, ", ", out); }

void pub_escape_tag(std::string_view text, std::string& out) {
    // A blank cannot be escaped at the end of a tag value in every reader: trailing blanks
    // are escaped like any other.
    escape_with(text, ",= ", out);
}

void pub_escape_field_string(std::string_view text, std::string& out) {
    for (char c : text) {
        if (c == '\n' || c == '\r') c = ' ';
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
}

bool pub_append_float(double value, std::string& out) {
    if (!std::isfinite(value)) return false;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc()) return false;
    out.append(buffer, result.ptr);
    return true;
}

std::string pub_tag_set(const pub_series_tags_t& tags) {
    std::string out;
    auto add = [&out](const char* key, const std::string& value) {
        if (value.empty()) return;
        out += ',';
        out += key;
        out += '=';
        pub_escape_tag(value, out);
    };
    add("station", tags.station);
    add("model", tags.model);
    add("serial", tags.serial);
    add("function", tags.function);
    add("unit", tags.unit);
    if (tags.channel > 0) add("channel", std::to_string(tags.channel));
    add("channel_name", tags.channel_name);
    return out;
}

pub_series_t::pub_series_t(const char* measurement, const pub_series_tags_t& tags, int64_t step_ns)
    : m_step_ns(step_ns) {
    pub_escape_measurement(measurement, m_key);
    m_key += pub_tag_set(tags);
}

void pub_series_t::stamp_block(int64_t block_us, std::size_t count, int64_t* stamps) {
    if (count == 0) return;
    // Readings before 1970 or past 2262 do not fit the protocol's nanoseconds.
    constexpr int64_t max_us = INT64_MAX / 1000 - 1;
    block_us = std::clamp<int64_t>(block_us, 0, max_us);
    const int64_t block = block_us * 1000;
    const auto n = static_cast<int64_t>(std::min<std::size_t>(count, INT64_MAX / 2 / std::max<int64_t>(1, m_step_ns)));
    // The first block of a series spreads back from its time at the full step.
    const int64_t last = m_have_last ? m_last_ns : block - n * m_step_ns;
    const int64_t spacing = std::clamp<int64_t>((block - last) / n, 1, m_step_ns);
    int64_t previous = last;
    for (std::size_t i = 0; i < count; ++i) {
        const auto behind = static_cast<int64_t>(count - 1 - i);
        int64_t stamp = behind < n ? block - behind * spacing : previous + 1;
        if (stamp <= previous) stamp = previous + 1;
        stamps[i] = stamp;
        previous = stamp;
    }
    m_last_ns = previous;
    m_have_last = true;
}

int64_t pub_series_t::next_stamp_ns(int64_t reading_us) {
    int64_t stamp = 0;
    stamp_block(reading_us, 1, &stamp);
    return stamp;
}

bool pub_series_t::append_reading_at(double value, int64_t stamp_ns, std::string& out) {
    return _append(value, nullptr, stamp_ns, out);
}

bool pub_series_t::append_scan_at(double value, int alarm, int64_t stamp_ns, std::string& out) {
    return _append(value, &alarm, stamp_ns, out);
}

bool pub_series_t::_append(double value, const int* alarm, int64_t stamp_ns, std::string& out) {
    if (!std::isfinite(value)) return false;
    const std::size_t mark = out.size();
    out += m_key;
    out += " value=";
    if (!pub_append_float(value, out)) {
        out.resize(mark);
        return false;
    }
    // The instrument's overload value: the reading stays as logged, flagged.
    if (std::fabs(value - plib_overload_value) <= plib_overload_value * 1e-9) out += ",overload=true";
    if (alarm != nullptr) {
        out += ",alarm=";
        out += std::to_string(*alarm);
        out += 'i';
    }
    out += ' ';
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, stamp_ns).ptr;
    out.append(digits, end);
    out += '\n';
    return true;
}
