#include "sim_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <system_error>
#include <utility>

namespace vx_sim {
namespace {

// Long keyword forms accepted besides the short ones the program sends.
const std::pair<const char*, const char*> long_keywords[] = {
    {"FUNCTION", "FUNC"},    {"VOLTAGE", "VOLT"},   {"CURRENT", "CURR"},     {"RESISTANCE", "RES"},
    {"FRESISTANCE", "FRES"}, {"FREQUENCY", "FREQ"}, {"PERIOD", "PER"},       {"CAPACITANCE", "CAP"},
    {"CONTINUITY", "CONT"},  {"DIODE", "DIOD"},     {"TEMPERATURE", "TEMP"}, {"SENSOR", "SENS"},
    {"RANG", "RANGE"},       {"NPLCYCLES", "NPLC"}, {"FILTER", "FILT"},      {"BANDWIDTH", "BAND"},
    {"DIVERTER", "DIVER"},   {"APERTURE", "APER"},  {"THRESHOLD", "THR"},    {"VALUE", "VAL"},
    {"IMPEDANCE", "IMP"},    {"SYSTEM", "SYST"},    {"BEEPER", "BEEP"},      {"STATE", "STAT"},
    {"TRANSDUCER", "TRAN"},  {"REFENCE", "REF"},    {"REFERENCE", "REF"},    {"SOURCE", "SOUR"},
    {"TRIGGER", "TRIG"},     {"SAMPLE", "SAMP"},    {"COUN", "COUNT"},       {"ROUTE", "ROUT"},
    {"START", "STAR"},       {"LIM", "LIMIT"},      {"DELAY", "DEL"},        {"CHANNEL", "CHAN"},
    {"ERROR", "ERR"},        {"INITIATE", "INIT"},  {"ABOR", "ABORT"},       {"AUTO", "AUTO"},
    {"POINTS", "POIN"},
};

}  // namespace

std::string upper(std::string s) {
    for (auto& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return {};
    }
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string& s, char delimiter) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const auto pos = s.find(delimiter, start);
        if (pos == std::string::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string canonical_header(const std::string& raw) {
    size_t b = 0;
    while (b < raw.size() && (raw[b] == ':' || raw[b] == ';' || raw[b] == ' ')) {
        ++b;
    }
    std::vector<std::string> keywords = split(upper(raw.substr(b)), ':');
    std::string out;
    for (size_t i = 0; i < keywords.size(); ++i) {
        std::string k = keywords[i];
        for (const auto& lk : long_keywords) {
            if (k == lk.first) {
                k = lk.second;
                break;
            }
        }
        if (i == 1 && k == "DC" && (out == "VOLT" || out == "CURR")) {
            continue;
        }
        if (!out.empty()) {
            out += ':';
        }
        out += k;
    }
    return out;
}

bool parse_number(const std::string& text, double& out) {
    std::string t = trim(text);
    if (!t.empty() && t[0] == '+') {
        t.erase(0, 1);
    }
    if (t.empty()) {
        return false;
    }
    double v = 0.0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size() || !std::isfinite(v)) {
        return false;
    }
    out = v;
    return true;
}

bool parse_int(const std::string& text, long long& out) {
    std::string t = trim(text);
    if (!t.empty() && t[0] == '+') {
        t.erase(0, 1);
    }
    long long v = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size()) {
        return false;
    }
    out = v;
    return true;
}

bool parse_bool(const std::string& text, bool& out) {
    const std::string t = upper(trim(text));
    if (t == "1" || t == "ON") {
        out = true;
        return true;
    }
    if (t == "0" || t == "OFF") {
        out = false;
        return true;
    }
    return false;
}

bool parse_range(const std::string& text, bool card, double& out) {
    const std::string t = trim(text);
    if (t.empty()) {
        return false;
    }
    const char* begin = t.data();
    const char* end = t.data() + t.size();
    if (*begin == '+') {
        ++begin;
    }
    double number = 0.0;
    const auto res = std::from_chars(begin, end, number, std::chars_format::fixed);
    if (res.ec != std::errc() || !std::isfinite(number) || number < 0) {
        return false;
    }
    std::string rest(res.ptr, end);
    static const char* const units[] = {"V", "A", "OHM", "\xCE\xA9", "F", "HZ", "Hz", ""};
    auto is_unit = [](const std::string& u) {
        return std::any_of(std::begin(units), std::end(units), [&](const char* x) { return u == x; });
    };
    double factor = 1.0;
    if (card) {
        rest = upper(rest);
        static const std::pair<const char*, double> prefixes[] = {
            {"ML", 1e-3},       {"MG", 1e6}, {"M", 1e-3},  {"K", 1e3}, {"U", 1e-6},
            {"\xCE\xBC", 1e-6}, {"N", 1e-9}, {"P", 1e-12}, {"G", 1e9}};
        if (!is_unit(rest)) {
            bool found = false;
            for (const auto& p : prefixes) {
                const size_t n = std::strlen(p.first);
                if (rest.compare(0, n, p.first) == 0 && is_unit(rest.substr(n))) {
                    factor = p.second;
                    found = true;
                    break;
                }
            }
            if (!found) {
                return false;
            }
        }
    } else if (!is_unit(rest)) {
        static const std::pair<const char*, double> prefixes[] = {
            {"p", 1e-12}, {"n", 1e-9}, {"u", 1e-6}, {"\xCE\xBC", 1e-6}, {"m", 1e-3},
            {"k", 1e3},   {"K", 1e3},  {"M", 1e6},  {"G", 1e9}};
        bool found = false;
        for (const auto& p : prefixes) {
            const size_t n = std::strlen(p.first);
            if (rest.compare(0, n, p.first) == 0 && is_unit(rest.substr(n))) {
                factor = p.second;
                found = true;
                break;
            }
        }
        if (!found) {
            return false;
        }
    }
    out = number * factor;
    return true;
}

void append_number(std::string& out, double v) {
    char buf[40];
    char* p = buf;
    if (!(v < 0)) {
        *p++ = '+';
    }
    const auto res = std::to_chars(p, buf + sizeof buf, v, std::chars_format::scientific, 8);
    for (char* c = p; c < res.ptr; ++c) {
        if (*c == 'e') {
            *c = 'E';
        }
    }
    out.append(buf, res.ptr);
}

std::string number_text(double v) {
    std::string s;
    append_number(s, v);
    return s;
}

}  // namespace vx_sim
