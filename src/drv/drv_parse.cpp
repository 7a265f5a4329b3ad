#include "drv/drv_parse.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

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

inline const char* _find_byte(const char* p, const char* end, char byte) {
    const void* hit = std::memchr(p, byte, static_cast<std::size_t>(end - p));
    return hit ? static_cast<const char*>(hit) : end;
}

// Counted in runs of 255 bytes into an 8-bit sum, which the compiler vectorises.
std::size_t _count_byte(std::string_view text, char byte) {
    std::size_t n = 0;
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const std::size_t run = std::min<std::size_t>(left, 255);
        unsigned char in_run = 0;
        for (std::size_t i = 0; i < run; ++i) in_run = static_cast<unsigned char>(in_run + (p[i] == byte));
        n += in_run;
        p += run;
        left -= run;
    }
    return n;
}

// The common case of drv_parse_double in one pass: an optional sign, a digit or '.',
// and a number std::from_chars converts that ends exactly at `delimiter` or at `end`.
// Gives the value drv_parse_double gives for that piece; false (nothing decided) for
// anything else, which the caller hands to drv_parse_double.
inline bool _fast_number(const char* p, const char* end, char delimiter, double& value, const char*& stop) {
    if (p == end) return false;
    const bool negative = *p == '-';
    if (*p == '+' || negative) ++p;
    if (p == end || !(_is_digit(*p) || *p == '.')) return false;  // also keeps "inf", "nan" out
    double v = 0.0;
    const auto res = std::from_chars(p, end, v, std::chars_format::general);
    if (res.ec != std::errc() || (res.ptr != end && *res.ptr != delimiter)) return false;
    value = negative ? -v : v;
    stop = res.ptr;
    return true;
}

// The common case of drv_parse_timestamp: decimal digits that fit, ending at ',' or
// at `end`.
inline bool _fast_timestamp(const char* p, const char* end, int64_t& value, const char*& stop) {
    if (p == end || !_is_digit(*p)) return false;
    const auto res = std::from_chars(p, end, value, 10);
    if (res.ec != std::errc() || (res.ptr != end && *res.ptr != ',')) return false;
    stop = res.ptr;
    return true;
}

// One "value:timestamp" entry by the general rule: exactly two ':' pieces that both
// convert.
bool _measure_entry(std::string_view entry, plib_data_t& reading) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos || entry.find(':', colon + 1) != std::string_view::npos) return false;
    if (!drv_parse_double(entry.substr(0, colon), reading.value)) return false;
    return drv_parse_timestamp(entry.substr(colon + 1), reading.timestamp);
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

bool drv_block_piece_value(std::string_view piece, double& value) {
    if (!drv_parse_double(piece, value)) return false;
    // "0x1p3" reads as a leading 0 followed by text; it is a hex number, not a 0.
    std::size_t i = 0;
    while (i < piece.size() && _is_space(piece[i])) ++i;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) ++i;
    if (i + 1 < piece.size() && piece[i] == '0' && (piece[i + 1] == 'x' || piece[i + 1] == 'X')) {
        value = 0.0;
        return false;
    }
    return true;
}

std::size_t drv_parse_block_readings(std::string_view reply, std::vector<plib_data_t>& out,
                                     drv_clock_t clock) {
    if (reply.size() < 2 || reply == null_reply || reply[0] != '#' || !_is_digit(reply[1])) return 0;
    const std::size_t digits = static_cast<std::size_t>(reply[1] - '0');
    if (digits == 0 || reply.size() < digits + 2) return 0;
    std::uint64_t length = 0;  // at most nine digits: no overflow
    for (std::size_t i = 2; i < digits + 2; ++i) {
        if (!_is_digit(reply[i])) return 0;
        length = length * 10 + static_cast<std::uint64_t>(reply[i] - '0');
    }
    if (static_cast<std::uint64_t>(reply.size()) != length + digits + 3) return 0;
    std::string_view data;
    if (!drv_line(reply.substr(digits + 2), data)) return 0;
    if (data.empty()) return 0;  // a zero-length block holds no readings
    const std::size_t all_pieces = _count_byte(data, ',') + 1;
    const std::size_t pieces = std::min(all_pieces, drv_max_readings);
    std::size_t dropped = all_pieces - pieces;  // pieces beyond the limit are not read
    out.reserve(out.size() + pieces);
    const char* p = data.data();
    const char* const end = p + data.size();
    const char* next_clock_at = p;
    int64_t now = 0;
    for (std::size_t seen = 0; seen < pieces; ++seen) {  // at most drv_max_readings
        // A clock read costs more than converting a number, and its microseconds do not
        // move within a few hundred bytes of parsing: read it again after every
        // drv_clock_bytes bytes, so each stamp is at most that much parsing old.
        if (p >= next_clock_at) {
            now = clock();
            next_clock_at = p + drv_clock_bytes;
        }
        // Both fields written in place: a reading built aside and copied in as a whole
        // stalls on the store of its two halves.
        plib_data_t& reading = out.emplace_back();
        const char* stop = nullptr;
        if (!_fast_number(p, end, ',', reading.value, stop)) {
            // Anything unusual (white space, trailing text, an incomplete exponent, a
            // value out of range) takes the general rule over the whole piece; a piece
            // that is no number is dropped, never stored as a 0 that looks like a reading.
            stop = _find_byte(p, end, ',');
            if (!drv_block_piece_value(std::string_view(p, static_cast<std::size_t>(stop - p)),
                                       reading.value)) {
                out.pop_back();
                ++dropped;
                if (stop == end) break;
                p = stop + 1;
                continue;
            }
        }
        reading.timestamp = now;
        if (stop == end) break;
        p = stop + 1;
    }
    return dropped;
}

std::size_t drv_parse_measure_data(std::string_view reply, std::vector<plib_data_t>& out) {
    std::string_view line;
    if (!drv_line(reply, line) || line == null_reply) return 0;
    out.reserve(out.size() + std::min(_count_byte(line, ','), drv_max_readings - 1) + 1);
    const char* p = line.data();
    const char* const end = p + line.size();
    std::size_t kept = 0, dropped = 0;
    for (;;) {
        // Fast path: "number:digits" ending at ',' or at the end of the line, which has
        // exactly two ':' pieces, both converted.
        const char* value_end = nullptr;
        const char* stop = nullptr;
        plib_data_t reading;
        bool keep = _fast_number(p, end, ':', reading.value, value_end) && value_end != end &&
                    _fast_timestamp(value_end + 1, end, reading.timestamp, stop);
        if (!keep) {
            stop = _find_byte(p, end, ',');
            keep = _measure_entry(std::string_view(p, static_cast<std::size_t>(stop - p)), reading);
        }
        if (!keep) ++dropped;
        if (keep) {
            if (kept++ >= drv_max_readings) return dropped;
            plib_data_t& slot = out.emplace_back();
            slot.value = reading.value;
            slot.timestamp = reading.timestamp;
        }
        if (stop == end) return dropped;
        p = stop + 1;
    }
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
