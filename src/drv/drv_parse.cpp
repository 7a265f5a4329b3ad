#include "drv/drv_parse.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/plib_format.h"
#include "drv/drv_number.h"

namespace {

constexpr std::string_view null_reply = "NULL";
constexpr std::string_view vxa_private_prefix = "IDN-MRQX-PRI";
constexpr std::string_view micro_sign = "\xCE\xBC";  // "μ"

inline bool _is_digit(char c) { return c >= '0' && c <= '9'; }
// The "C" locale's white space, which std::regex's \s and \S use.
inline bool _is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Calls f(piece) for each comma-separated piece of text, left to right, while f
// returns true. "a,b," yields "a", "b", "".
template <typename F>
void _for_each_piece(std::string_view text, char delimiter, F&& f) {
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        const void* hit = std::memchr(p, delimiter, static_cast<std::size_t>(end - p));
        const char* stop = hit ? static_cast<const char*>(hit) : end;
        if (!f(std::string_view(p, static_cast<std::size_t>(stop - p)))) return;
        if (stop == end) return;
        p = stop + 1;
    }
}

std::string _normalize_micro(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, micro_sign.size(), micro_sign) == 0) {
            out += 'u';
            i += micro_sign.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace

int64_t drv_now_us() { return static_cast<int64_t>(now_us()); }

bool drv_line(std::string_view reply, std::string_view& line) {
    if (reply.empty() || reply.back() != '\n') return false;
    line = reply.substr(0, reply.size() - 1);
    return true;
}

void drv_parse_block_readings(std::string_view reply, std::vector<plib_data_t>& out, drv_clock_t clock) {
    if (reply.size() < 2 || reply == null_reply || reply[0] != '#' || !_is_digit(reply[1])) return;
    const std::size_t digits = static_cast<std::size_t>(reply[1] - '0');
    if (digits == 0 || reply.size() < digits + 2) return;
    std::uint64_t length = 0;  // at most nine digits: no overflow
    for (std::size_t i = 2; i < digits + 2; ++i) {
        if (!_is_digit(reply[i])) return;
        length = length * 10 + static_cast<std::uint64_t>(reply[i] - '0');
    }
    if (static_cast<std::uint64_t>(reply.size()) != length + digits + 3) return;
    std::string_view data;
    if (!drv_line(reply.substr(digits + 2), data)) return;
    if (data.empty()) return;  // a zero-length block holds no readings
    const std::size_t pieces = static_cast<std::size_t>(std::count(data.begin(), data.end(), ',')) + 1;
    out.reserve(out.size() + std::min(pieces, drv_max_readings));
    std::size_t kept = 0;
    _for_each_piece(data, ',', [&](std::string_view piece) {
        if (kept++ >= drv_max_readings) return false;
        plib_data_t reading;
        drv_parse_double(piece, reading.value);  // 0 when the piece does not parse
        reading.timestamp = clock();
        out.push_back(reading);
        return true;
    });
}

void drv_parse_measure_data(std::string_view reply, std::vector<plib_data_t>& out) {
    std::string_view line;
    if (!drv_line(reply, line) || line == null_reply) return;
    std::size_t kept = 0;
    _for_each_piece(line, ',', [&](std::string_view entry) {
        const std::size_t colon = entry.find(':');
        if (colon == std::string_view::npos || entry.find(':', colon + 1) != std::string_view::npos)
            return true;
        plib_data_t reading;
        if (!drv_parse_double(entry.substr(0, colon), reading.value)) return true;
        if (!drv_parse_timestamp(entry.substr(colon + 1), reading.timestamp)) return true;
        if (kept++ >= drv_max_readings) return false;
        out.push_back(reading);
        return true;
    });
}

void drv_parse_scan_data(std::string_view reply, plib_scan_data_map_t& out, drv_clock_t clock) {
    std::string_view line;
    if (!drv_line(reply, line) || line.empty() || line == null_reply) return;
    std::size_t kept = 0;
    _for_each_piece(line, ',', [&](std::string_view entry) {
        const std::size_t space = entry.find(' ');
        if (space == std::string_view::npos) return true;
        const std::string_view unit = entry.substr(space + 1);
        const std::string_view head = entry.substr(0, space);
        const std::string_view channel_text = head.substr(0, head.find(':'));
        const std::size_t last_colon = head.rfind(':');
        const std::string_view value_text =
            last_colon == std::string_view::npos ? head : head.substr(last_colon + 1);
        int channel = 0;
        if (!drv_parse_int(channel_text, channel)) return false;  // a bad channel ends the reply
        double value = 0.0;
        if (!drv_parse_double(value_text, value)) return true;
        if (kept++ >= drv_max_readings) return false;
        const double scaled = from_prefix_unit(value, unit_prefix_index(unit));
        if (!std::isfinite(scaled)) return true;  // "1e308 MVDC" is no reading
        auto it = out.find(channel);
        if (it == out.end()) {
            if (out.size() >= drv_max_scan_channels) return true;
            it = out.emplace(channel, std::vector<plib_data_t>()).first;
        }
        it->second.push_back({scaled, clock()});
        return true;
    });
}

void drv_parse_read_data(std::string_view reply, std::vector<plib_data_t>& out, drv_clock_t clock) {
    std::string_view line;
    if (!drv_line(reply, line)) return;
    std::size_t kept = 0;
    _for_each_piece(line, ',', [&](std::string_view piece) {
        double value = 0.0;
        if (!drv_parse_double(piece, value)) return true;
        if (kept++ >= drv_max_readings) return false;
        out.push_back({value, clock()});
        return true;
    });
}

void drv_parse_udef_tran_list(std::string_view reply, int type, std::vector<drv_temp_sensor_t>& out) {
    std::string_view line;
    if (!drv_line(reply, line)) return;
    std::size_t kept = 0;
    _for_each_piece(line, ',', [&](std::string_view name) {
        if (name.empty() || name == "NONE" || !drv_is_utf8(name)) return true;
        if (kept++ >= drv_max_readings) return false;
        out.push_back({1, type, std::string(name)});
        return true;
    });
}

std::string drv_parse_vxa_private_model(std::string_view reply) {
    // ^IDN-MRQX-PRI\s(\S.+)\n$ by hand: std::regex recurses per character on ".+" and
    // can exhaust the stack on a long hostile reply.
    if (reply.substr(0, vxa_private_prefix.size()) != vxa_private_prefix) return std::string();
    std::string_view rest = reply.substr(vxa_private_prefix.size());
    if (rest.size() < 4 || !_is_space(rest.front()) || rest.back() != '\n') return std::string();
    const std::string_view name = rest.substr(1, rest.size() - 2);
    if (_is_space(name.front())) return std::string();
    for (std::size_t i = 1; i < name.size(); ++i) {
        if (name[i] == '\n' || name[i] == '\r') return std::string();
    }
    return std::string(name);
}

std::string drv_parse_vxb_private_model(std::string_view reply) {
    return std::string(reply.substr(0, reply.find('\n')));
}

bool drv_parse_number_reply(std::string_view reply, double& value) {
    std::string_view line;
    if (!drv_line(reply, line)) return false;
    drv_parse_double(line, value);
    return true;
}

bool drv_parse_scan_state_reply(std::string_view reply, int& state) {
    std::string_view line;
    if (!drv_line(reply, line)) return false;
    state = (line == "ON" || line == "1") ? 1 : 0;
    return true;
}

int drv_find_range(const std::vector<std::string>& ranges, std::string_view range) {
    const std::string wanted = _normalize_micro(range);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (_normalize_micro(ranges[i]) == wanted) return static_cast<int>(i);
    }
    return -1;
}

bool drv_is_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p != end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t extra = 0;
        unsigned int code = 0, min = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, code = c & 0x1Fu, min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, code = c & 0x0Fu, min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, code = c & 0x07u, min = 0x10000;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= extra) return false;
        for (std::size_t i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0u) != 0x80u) return false;
            code = (code << 6) | (p[i] & 0x3Fu);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}
