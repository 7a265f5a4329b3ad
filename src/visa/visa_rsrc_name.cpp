#include "visa/visa_rsrc_name.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

#include "visa/visa_types.h"

namespace visa {

namespace {

// No resource string of ours comes near this; longer input is refused outright.
constexpr size_t max_rsrc_length = 1024;
constexpr size_t max_tokens = 8;

bool iequals(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

bool split(const std::string& text, std::vector<std::string>& tokens) {
    size_t start = 0;
    while (tokens.size() < max_tokens) {
        const size_t pos = text.find("::", start);
        tokens.push_back(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos) return true;
        start = pos + 2;
    }
    return false;
}

// Decimal or 0x-prefixed hexadecimal, whole token, at most `max`.
bool parse_number(const std::string& s, unsigned max, unsigned& value) {
    int base = 10;
    size_t from = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        from = 2;
    }
    if (from >= s.size()) return false;
    unsigned long v = 0;
    const char* first = s.data() + from;
    const char* last = s.data() + s.size();
    const auto r = std::from_chars(first, last, v, base);
    if (r.ec != std::errc() || r.ptr != last || v > max) return false;
    value = static_cast<unsigned>(v);
    return true;
}

// "TCPIP", "TCPIP0", "usb12": keyword then an optional board number.
bool parse_prefix(const std::string& token, const char* keyword, uint16_t& board) {
    size_t n = 0;
    while (keyword[n]) ++n;
    if (token.size() < n || !iequals(token.substr(0, n), keyword)) return false;
    const std::string digits = token.substr(n);
    board = 0;
    if (digits.empty()) return true;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    unsigned v = 0;
    if (!parse_number(digits, 65535, v)) return false;
    board = static_cast<uint16_t>(v);
    return true;
}

bool valid_word(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == ':') return false;
    }
    return true;
}

bool parse_tcpip(uint16_t board, const std::vector<std::string>& t, rsrc_name_t& out) {
    // t[0] is the prefix.
    if (t.size() < 2 || !valid_word(t[1])) return false;
    std::string host = t[1];
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (t.size() == 4 && iequals(t[3], "SOCKET")) {
        unsigned port = 0;
        if (!parse_number(t[2], 65535, port) || port == 0) return false;
        out = tcpip_socket_name_t{board, host, static_cast<uint16_t>(port)};
        return true;
    }
    tcpip_instr_name_t n{board, host, "inst0"};
    size_t rest = t.size();
    if (rest >= 3 && iequals(t[rest - 1], "INSTR")) --rest;
    if (rest == 3) {
        if (!valid_word(t[2]) || iequals(t[2], "SOCKET") || iequals(t[2], "INSTR")) return false;
        n.lan_device_name = t[2];
    } else if (rest != 2) {
        return false;
    }
    out = n;
    return true;
}

bool parse_usb(uint16_t board, const std::vector<std::string>& t, rsrc_name_t& out) {
    size_t rest = t.size();
    if (rest >= 5 && iequals(t[rest - 1], "INSTR")) --rest;
    if (rest != 4 && rest != 5) return false;
    unsigned vendor = 0, product = 0;
    if (!parse_number(t[1], 0xFFFF, vendor) || !parse_number(t[2], 0xFFFF, product) || !valid_word(t[3]) ||
        iequals(t[3], "INSTR")) {
        return false;
    }
    usb_instr_name_t n{board, static_cast<uint16_t>(vendor), static_cast<uint16_t>(product), t[3], -1};
    if (rest == 5) {
        unsigned intf = 0;
        if (!parse_number(t[4], 255, intf)) return false;
        n.interface_number = static_cast<int>(intf);
    }
    out = n;
    return true;
}

}  // namespace

bool parse_rsrc_name(const std::string& text, rsrc_name_t& out) {
    if (text.empty() || text.size() > max_rsrc_length) return false;
    std::vector<std::string> tokens;
    if (!split(text, tokens)) return false;
    uint16_t board = 0;
    if (parse_prefix(tokens[0], "TCPIP", board)) return parse_tcpip(board, tokens, out);
    if (parse_prefix(tokens[0], "USB", board)) return parse_usb(board, tokens, out);
    return false;
}

std::string format_rsrc_name(const rsrc_name_t& name) {
    if (const auto* i = std::get_if<tcpip_instr_name_t>(&name)) {
        return "TCPIP" + std::to_string(i->board) + "::" + i->host + "::" + i->lan_device_name + "::INSTR";
    }
    if (const auto* s = std::get_if<tcpip_socket_name_t>(&name)) {
        return "TCPIP" + std::to_string(s->board) + "::" + s->host + "::" + std::to_string(s->port) +
               "::SOCKET";
    }
    const auto& u = std::get<usb_instr_name_t>(name);
    char ids[32];
    std::snprintf(ids, sizeof ids, "::0x%04X::0x%04X::", u.manufacturer_id, u.model_code);
    std::string out = "USB" + std::to_string(u.board) + ids + u.serial;
    if (u.interface_number > 0) out += "::" + std::to_string(u.interface_number);
    return out + "::INSTR";
}

uint16_t rsrc_interface_type(const rsrc_name_t& name) {
    return std::holds_alternative<usb_instr_name_t>(name) ? VI_INTF_USB : VI_INTF_TCPIP;
}

uint16_t rsrc_board(const rsrc_name_t& name) {
    return std::visit([](const auto& n) { return n.board; }, name);
}

}  // namespace visa
