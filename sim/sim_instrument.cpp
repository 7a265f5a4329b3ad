// The simulated multimeter. Readings are not produced by a running thread: every
// command first brings the instrument up to the present, computing from the elapsed
// instrument time how many readings the settings would have taken since the last
// command, so an idle simulator costs nothing.
#include "sim_instrument.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>

namespace vx_sim {
namespace {

constexpr double overload_value = 9.9e37;
constexpr double pi = 3.14159265358979323846;
constexpr size_t reading_buffer_max = 1000000;   // readings kept between fetches
constexpr size_t scan_buffer_max = 200000;        // scanner readings kept between fetches
constexpr size_t error_queue_max = 20;
constexpr size_t read_query_max = 10000;
constexpr double line_frequency_hz = 50.0;
constexpr double rate_min = 0.5;
constexpr double rate_max = 50000.0;
constexpr double rate_fast = 1000000.0;
constexpr int scan_channels = 16;
constexpr const char* maker_name = "Norvale Labs";
constexpr const char* no_data_reply = "NULL\n";

const char* const func_mnemonics[func_count] = {"VOLT", "CURR", "VOLT:AC", "CURR:AC", "RES", "FRES", "FREQ",
                                                "PER",  "CAP",  "CONT",    "DIOD",    "TEMP", "SENS"};
const char* const card_keywords[func_count] = {"DCV", "DCI", "ACV", "ACI", "2W",   "4W", "FRQ",
                                               "FRQ", "CAP", "CONT", "DIO", "TEMP", ""};
const char* const scan_units[func_count] = {"VDC", "ADC", "VAC", "AAC", "OHM", "OHM", "Hz",
                                            "s",   "F",   "OHM", "VDC", "C",   ""};

// Long keyword forms accepted besides the short ones the program sends.
const std::pair<const char*, const char*> long_keywords[] = {
    {"FUNCTION", "FUNC"},   {"VOLTAGE", "VOLT"},      {"CURRENT", "CURR"},     {"RESISTANCE", "RES"},
    {"FRESISTANCE", "FRES"}, {"FREQUENCY", "FREQ"},   {"PERIOD", "PER"},       {"CAPACITANCE", "CAP"},
    {"CONTINUITY", "CONT"}, {"DIODE", "DIOD"},        {"TEMPERATURE", "TEMP"}, {"SENSOR", "SENS"},
    {"RANG", "RANGE"},      {"NPLCYCLES", "NPLC"},    {"FILTER", "FILT"},      {"BANDWIDTH", "BAND"},
    {"DIVERTER", "DIVER"},  {"APERTURE", "APER"},     {"THRESHOLD", "THR"},    {"VALUE", "VAL"},
    {"IMPEDANCE", "IMP"},   {"SYSTEM", "SYST"},       {"BEEPER", "BEEP"},      {"STATE", "STAT"},
    {"TRANSDUCER", "TRAN"}, {"REFENCE", "REF"},       {"REFERENCE", "REF"},    {"SOURCE", "SOUR"},
    {"TRIGGER", "TRIG"},    {"SAMPLE", "SAMP"},       {"COUN", "COUNT"},       {"ROUTE", "ROUT"},
    {"START", "STAR"},      {"LIM", "LIMIT"},         {"DELAY", "DEL"},        {"CHANNEL", "CHAN"},
    {"ERROR", "ERR"},       {"INITIATE", "INIT"},     {"ABOR", "ABORT"},       {"AUTO", "AUTO"},
};

enum setting_kind_t { kind_bool, kind_number, kind_range, kind_text };

// Settings a function mnemonic may carry; family 0 = both families.
struct function_setting_t {
    const char* suffix;
    setting_kind_t kind;
    int family;
};
const function_setting_t function_settings[] = {
    {"RANGE", kind_range, 0},         {"RANGE:AUTO", kind_bool, 0},      {"NPLC", kind_number, 0},
    {"NULL", kind_bool, 0},           {"NULL:VAL", kind_number, 0},      {"FILT", kind_bool, 0},
    {"AZ", kind_bool, 1},             {"ZERO:AUTO", kind_bool, 2},       {"BAND", kind_number, 0},
    {"DIVER", kind_bool, 0},          {"APER", kind_number, 0},          {"THR:VAL", kind_number, 0},
    {"IMP", kind_text, 0},            {"MDEF:RTD:TRAN", kind_text, 0},   {"MDEF:THER:TRAN", kind_text, 0},
    {"UDEF:RTD:TRAN", kind_text, 0},  {"UDEF:THER:TRAN", kind_text, 0},  {"REF:SOUR", kind_text, 0},
    {"REF:VAL", kind_number, 0},
};

struct global_setting_t {
    const char* header;
    setting_kind_t kind;
};
const global_setting_t global_settings[] = {
    {"SYST:BEEP:STAT", kind_bool}, {"TYPE:TEMP", kind_text}, {"UNIT:TEMP", kind_text}};

std::string upper(std::string s)
{
    for (auto& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

std::string trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return {};
    }
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string& s, char delimiter)
{
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

// Upper-cases the header, maps long keywords to short ones and drops the optional
// ":DC" of "VOLT:DC:..." so that every spelling of a setting shares one key.
std::string canonical_header(const std::string& raw)
{
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

bool parse_number(const std::string& text, double& out)
{
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

bool parse_int(const std::string& text, long long& out)
{
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

bool parse_bool(const std::string& text, bool& out)
{
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

// Range texts: "200mV", "2kOHM", "200uA", "1GΩ", "2μF" on the function commands (the
// case of the prefix matters); the scanner card writes them upper case with "ML" for
// milli and "MG" for mega ("200MLV", "10MGOHM"). A plain number is taken in base units.
bool parse_range(const std::string& text, bool card, double& out)
{
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
            {"ML", 1e-3}, {"MG", 1e6}, {"M", 1e-3}, {"K", 1e3}, {"U", 1e-6},
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

// "+1.23456789E+00": the fixed-width scientific form instruments send.
void append_number(std::string& out, double v)
{
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

std::string number_text(double v)
{
    std::string s;
    append_number(s, v);
    return s;
}

// Deterministic noise in [-1, 1) from a reading index (splitmix64).
double noise(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / static_cast<double>(1ULL << 52) - 1.0;
}

int family_of_model(const std::string& model)
{
    if (model == "VXA-1" || model == "VXA-2" || model == "VXA-2E" || model == "VXA-3") {
        return 1;
    }
    if (model == "VXB-1" || model == "VXB-2" || model == "VXB-3") {
        return 2;
    }
    return 0;
}

}  // namespace

sim_instrument_t::sim_instrument_t(const sim_options_t& options) : m_options(options)
{
    m_family = family_of_model(options.model);
    m_epoch_us = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
    m_steady_origin_us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    std::lock_guard<std::mutex> lock(m_mutex);
    _reset();
}

int64_t sim_instrument_t::_now_us() const
{
    // Wall-clock based but monotonic: the instrument's clock never steps back.
    const int64_t steady = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    return m_epoch_us + (steady - m_steady_origin_us);
}

void sim_instrument_t::_reset()
{
    m_settings.clear();
    m_function = func_dcv;
    m_running = false;
    m_trig_infinite = false;
    m_trig_count = 1;
    m_sample_count = 1;
    m_taken = 0;
    m_buffer.clear();

    // Model defaults (ranges as the program's model tables list them).
    const std::string& m = m_options.model;
    const bool vxa1 = m == "VXA-1";
    const bool vxb3 = m == "VXB-3";
    const char* dcv = vxa1 ? "600mV" : vxb3 ? "100mV" : "200mV";
    const char* dci = vxa1 ? "600uA" : vxb3 ? "100uA" : "200uA";
    const char* aci = vxa1 ? "60mA" : vxb3 ? "10mA" : "20mA";
    const char* res = vxa1 ? "6kOHM" : vxb3 ? "1kOHM" : "2kOHM";
    const char* cap = vxb3 ? "1uF" : "2uF";
    const char* freq = vxa1 ? "60V" : m_family == 2 ? "2V" : "20V";
    const char* nplc = m == "VXB-1" ? "1" : "10";
    const char* ranges[func_count] = {dcv, dci, dcv, aci, res, res, freq, freq, cap, "", "", "", ""};
    for (int f = 0; f < func_count; ++f) {
        const std::string mn = func_mnemonics[f];
        if (ranges[f][0] != '\0') {
            m_settings[mn + ":RANGE"] = ranges[f];
            m_settings[mn + ":RANGE:AUTO"] = "1";
        }
        m_settings[mn + ":NPLC"] = nplc;
        m_settings[mn + ":NULL"] = "0";
        m_settings[mn + ":NULL:VAL"] = "0";
    }
    for (const char* mn : {"VOLT", "CURR"}) {
        m_settings[std::string(mn) + ":FILT"] = "0";
        m_settings[std::string(mn) + (m_family == 2 ? ":ZERO:AUTO" : ":AZ")] = m_family == 1 ? "1" : "0";
    }
    for (const char* mn : {"RES", "FRES"}) {
        m_settings[std::string(mn) + (m_family == 2 ? ":ZERO:AUTO" : ":AZ")] = "0";
    }
    for (const char* mn : {"CURR", "CURR:AC"}) {
        m_settings[std::string(mn) + ":DIVER"] = "0";
    }
    for (const char* mn : {"VOLT:AC", "CURR:AC"}) {
        m_settings[std::string(mn) + ":BAND"] = "20";
    }
    m_settings["FREQ:APER"] = "0.1";
    m_settings["PER:APER"] = "0.1";
    m_settings["CONT:THR:VAL"] = "50";
    m_settings["DIOD:THR:VAL"] = "2";
    m_settings["VOLT:IMP"] = "10M";
    m_settings["SYST:BEEP:STAT"] = "1";
    m_settings["TYPE:TEMP"] = "TEM";
    m_settings["UNIT:TEMP"] = "C";
    m_settings["TEMP:REF:SOUR"] = "INT";
    m_settings["TEMP:REF:VAL"] = "0";
    m_settings["TEMP:MDEF:THER:TRAN"] = "KITS90";

    for (int ch = 1; ch <= scan_channels; ++ch) {
        channel_t c;
        c.func = ch <= 12 ? func_dcv : func_dci;
        c.text = std::to_string(ch) + ",OFF," + card_keywords[c.func] + ",DEF,DEF,1";
        m_channels[ch] = c;
    }
    m_scan_enabled = false;
    m_scan_running = false;
    m_frq_is_period = false;
    m_limit_low = 1;
    m_limit_high = scan_channels;
    m_scan_mode = 0;
    m_scan_delay_s = 1.0;
    m_scan_count = 1;
    m_scan_count_auto = true;
    m_sweep.clear();
    m_scan_buffer.clear();
}

void sim_instrument_t::_error(const std::string& text)
{
    if (m_errors.size() < error_queue_max) {
        m_errors.push_back(text);
    }
}

double sim_instrument_t::_setting_number(const std::string& key, double fallback) const
{
    const auto it = m_settings.find(key);
    double v = fallback;
    if (it != m_settings.end() && parse_number(it->second, v)) {
        return v;
    }
    return fallback;
}

bool sim_instrument_t::_setting_on(const std::string& key) const
{
    const auto it = m_settings.find(key);
    return it != m_settings.end() && it->second == "1";
}

double sim_instrument_t::_reading_rate() const
{
    if (m_options.fast) {
        return rate_fast;
    }
    const std::string mn = func_mnemonics[m_function];
    double rate = 10.0;
    switch (m_function) {
    case func_freq:
    case func_period: {
        const double aperture = _setting_number(mn + ":APER", 0.1);
        rate = aperture > 0 ? 1.0 / aperture : rate_max;
        break;
    }
    case func_cap: rate = 4.0; break;
    case func_cont:
    case func_diode: rate = 50.0; break;
    case func_temp: rate = 5.0; break;
    default: {
        const double nplc = _setting_number(mn + ":NPLC", 10.0);
        rate = nplc > 0 ? line_frequency_hz / nplc : rate_max;
        break;
    }
    }
    return std::min(rate_max, std::max(rate_min, rate));
}

// A plausible reading: a fixed input per function with slow drift and noise, overload
// when it exceeds a fixed range, and continuity/diode probes that are open every other second.
double sim_instrument_t::_value_of(int func, double range, uint64_t index, int64_t t_us, int channel) const
{
    static const double inputs[func_count] = {1.2345,  0.012345, 0.23456, 0.0045, 1234.5, 1234.2, 1000.02,
                                              1e-3,    1.0e-7,   0.35,    0.612,  23.5,   0.0421};
    const double t_s = static_cast<double>(t_us - m_epoch_us) / 1e6;
    double v = inputs[func] * (1.0 + 0.05 * channel);
    if (func == func_period) {
        v = 1.0 / (inputs[func_freq] * (1.0 + 0.05 * channel));
    }
    v *= 1.0 + 2e-4 * std::sin(2.0 * pi * t_s / 300.0) + 5e-5 * noise(index * 31 + static_cast<uint64_t>(channel));
    if (func == func_cont || func == func_diode) {
        const bool open = (static_cast<int64_t>(std::floor(t_s)) % 2) != 0;
        return open ? overload_value : v;
    }
    if (func == func_temp) {
        const auto it = m_settings.find("UNIT:TEMP");
        const std::string unit = it == m_settings.end() ? "C" : it->second;
        if (unit == "F") {
            v = v * 9.0 / 5.0 + 32.0;
        } else if (unit == "K") {
            v += 273.15;
        }
        return v;
    }
    if (range > 0 && func != func_freq && func != func_period && std::fabs(v) > 1.2 * range) {
        return overload_value;
    }
    return v;
}

void sim_instrument_t::_restart_segment(int64_t now_us)
{
    m_segment_start_us = now_us;
    m_segment_taken = 0;
    m_segment_rate = _reading_rate();
}

void sim_instrument_t::_advance(int64_t now_us)
{
    if (!m_running) {
        return;
    }
    const double elapsed_s = std::max(0.0, static_cast<double>(now_us - m_segment_start_us) / 1e6);
    const double due_d = std::floor(elapsed_s * m_segment_rate);
    uint64_t due = due_d > 1e15 ? static_cast<uint64_t>(1e15) : static_cast<uint64_t>(due_d);
    uint64_t fresh = due > m_segment_taken ? due - m_segment_taken : 0;
    if (!m_trig_infinite) {
        fresh = std::min<uint64_t>(fresh, m_limit > m_taken ? m_limit - m_taken : 0);
    }
    if (fresh > reading_buffer_max) {
        // The memory holds the newest readings only.
        const uint64_t skipped = fresh - reading_buffer_max;
        m_segment_taken += skipped;
        m_taken += skipped;
        fresh = reading_buffer_max;
        m_buffer.clear();
    }
    const std::string mn = func_mnemonics[m_function];
    const bool autorange = _setting_on(mn + ":RANGE:AUTO");
    double range = 0.0;
    if (!autorange) {
        const auto it = m_settings.find(mn + ":RANGE");
        if (it == m_settings.end() || !parse_range(it->second, false, range)) {
            range = 0.0;
        }
    }
    const bool null_on = _setting_on(mn + ":NULL");
    const double null_value = _setting_number(mn + ":NULL:VAL", 0.0);
    for (uint64_t i = 0; i < fresh; ++i) {
        ++m_segment_taken;
        ++m_taken;
        const int64_t ts = m_segment_start_us +
                           static_cast<int64_t>(std::llround(static_cast<double>(m_segment_taken) * 1e6 / m_segment_rate));
        double v = _value_of(m_function, range, m_taken, ts, 0);
        if (null_on && v != overload_value) {
            v -= null_value;
        }
        m_buffer.push_back({v, ts});
        if (m_buffer.size() > reading_buffer_max) {
            m_buffer.pop_front();
        }
    }
    if (!m_trig_infinite && m_taken >= m_limit) {
        m_running = false;
    }
}

std::vector<sim_instrument_t::reading_t> sim_instrument_t::_take_readings(size_t max_count)
{
    const size_t n = std::min(max_count, m_buffer.size());
    std::vector<reading_t> out(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(n));
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

std::string sim_instrument_t::_format_readings(const std::vector<reading_t>& readings, bool with_timestamps) const
{
    std::string out;
    out.reserve(readings.size() * (with_timestamps ? 34 : 16));
    for (size_t i = 0; i < readings.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        append_number(out, readings[i].value);
        if (with_timestamps) {
            out += ':';
            out += std::to_string(readings[i].timestamp_us);
        }
    }
    return out;
}

double sim_instrument_t::_channel_reading_time(const channel_t& ch) const
{
    const double t = ch.speed == 0 ? 0.1 : ch.speed == 1 ? 0.01 : 0.02;
    return m_options.fast ? t / 100.0 : t;
}

void sim_instrument_t::_rebuild_scan(int64_t now_us)
{
    // In scan mode the delay separates channels; in step mode it precedes every reading.
    m_sweep.clear();
    double t = 0.0;
    for (int ch = std::max(1, m_limit_low); ch <= std::min(scan_channels, m_limit_high); ++ch) {
        const channel_t& c = m_channels[ch];
        if (!c.on) {
            continue;
        }
        for (int j = 0; j < c.count; ++j) {
            if (j == 0 || m_scan_mode == 1) {
                t += m_scan_delay_s;
            }
            t += _channel_reading_time(c);
            m_sweep.push_back({ch, t});
        }
    }
    m_sweep_s = t;
    m_scan_start_us = now_us;
    m_scan_done = 0;
}

void sim_instrument_t::_advance_scan(int64_t now_us)
{
    if (!m_scan_running || m_sweep.empty() || m_sweep_s <= 0) {
        return;
    }
    const uint64_t per_sweep = m_sweep.size();
    const double elapsed_s = std::max(0.0, static_cast<double>(now_us - m_scan_start_us) / 1e6);
    const double sweeps_d = std::floor(elapsed_s / m_sweep_s);
    const uint64_t full = sweeps_d > 1e12 ? static_cast<uint64_t>(1e12) : static_cast<uint64_t>(sweeps_d);
    const double rest = elapsed_s - static_cast<double>(full) * m_sweep_s;
    uint64_t partial = 0;
    while (partial < per_sweep && m_sweep[partial].offset_s <= rest) {
        ++partial;
    }
    uint64_t due = full * per_sweep + partial;
    if (!m_scan_count_auto) {
        due = std::min<uint64_t>(due, static_cast<uint64_t>(std::max(1, m_scan_count)) * per_sweep);
    }
    if (due > m_scan_done + scan_buffer_max) {
        m_scan_done = due - scan_buffer_max;
        m_scan_buffer.clear();
    }
    for (; m_scan_done < due; ++m_scan_done) {
        const uint64_t sweep = m_scan_done / per_sweep;
        const scan_slot_t& slot = m_sweep[m_scan_done % per_sweep];
        const channel_t& c = m_channels[slot.channel];
        const int64_t ts = m_scan_start_us +
                           static_cast<int64_t>((static_cast<double>(sweep) * m_sweep_s + slot.offset_s) * 1e6);
        m_scan_buffer.push_back({slot.channel, c.func, _value_of(c.func, c.range, m_scan_done, ts, slot.channel)});
        if (m_scan_buffer.size() > scan_buffer_max) {
            m_scan_buffer.pop_front();
        }
    }
    if (!m_scan_count_auto && m_scan_done >= static_cast<uint64_t>(std::max(1, m_scan_count)) * per_sweep) {
        m_scan_running = false;
    }
}

// "<channel>:<value> <prefix><unit>", the value scaled to an engineering prefix.
std::string sim_instrument_t::_format_scan_entry(const scan_reading_t& r) const
{
    std::string unit = scan_units[r.func];
    if (r.func == func_temp) {
        const auto it = m_settings.find("UNIT:TEMP");
        unit = it == m_settings.end() ? "C" : it->second;
    }
    std::string out = std::to_string(r.channel) + ":";
    double v = r.value;
    const char* prefix = "";
    if (v != overload_value && r.func != func_temp && v != 0.0) {
        static const std::pair<double, const char*> prefixes[] = {
            {1e6, "M"}, {1e3, "k"}, {1.0, ""}, {1e-3, "m"}, {1e-6, "u"}, {1e-9, "n"}, {1e-12, "p"}};
        for (const auto& p : prefixes) {
            if (std::fabs(v) >= p.first || p.first == 1e-12) {
                v /= p.first;
                prefix = p.second;
                break;
            }
        }
    }
    append_number(out, v);
    out += ' ';
    out += prefix;
    out += unit;
    return out;
}

bool sim_instrument_t::execute(const std::string& command, std::string& reply)
{
    std::string text = trim(command);
    while (!text.empty() && (text[0] == ';' || text[0] == ':')) {
        text = trim(text.substr(1));
    }
    if (text.empty()) {
        return false;
    }
    const auto space = text.find_first_of(" \t");
    std::string header = space == std::string::npos ? text : text.substr(0, space);
    const std::string args = space == std::string::npos ? std::string() : trim(text.substr(space));
    bool query = false;
    if (!header.empty() && header.back() == '?') {
        query = true;
        header.pop_back();
    }
    header = canonical_header(header);

    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = _now_us();
    _advance(now);
    _advance_scan(now);
    reply.clear();
    const bool answered = _execute_locked(header, args, query, reply);
    if (!query && m_running && header != "INIT") {
        // Readings taken from now on follow the new settings (and rate).
        _restart_segment(now);
    }
    if (answered) {
        reply += '\n';
    }
    return answered;
}

bool sim_instrument_t::_execute_locked(const std::string& header, const std::string& args, bool query,
                                       std::string& reply)
{
    const int64_t now = _now_us();
    if (header == "*IDN" && query) {
        reply = std::string(maker_name) + "," + m_options.model + "," + m_options.serial + "," + m_options.firmware;
        return true;
    }
    if (header == "*RST" && !query) {
        _reset();
        return false;
    }
    if (header == "*CLS" && !query) {
        m_errors.clear();
        return false;
    }
    if (header == "*OPC" && query) {
        reply = "1";
        return true;
    }
    if (header == "SYST:ERR" && query) {
        if (m_errors.empty()) {
            reply = "+0,\"No error\"";
        } else {
            reply = m_errors.front();
            m_errors.pop_front();
        }
        return true;
    }
    const std::string private_name = m_options.private_model.empty() ? m_options.model : m_options.private_model;
    if (header == "IDN-MRQX-PRI" && query && m_family == 1) {
        reply = "IDN-MRQX-PRI " + private_name;
        return true;
    }
    if (header == "MACHINE_INFO" && query && m_family == 2) {
        reply = private_name;
        return true;
    }
    if (header == "FUNC") {
        if (query) {
            reply = std::string("\"") + func_mnemonics[m_function] + "\"";
            return true;
        }
        std::string name = args;
        if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front()) {
            name = name.substr(1, name.size() - 2);
        }
        name = canonical_header(name);
        for (int f = 0; f < func_count; ++f) {
            if (name == func_mnemonics[f] && !(f == func_sensor && m_family != 2)) {
                m_function = f;
                return false;
            }
        }
        _error("-224,\"Illegal parameter value\"");
        return false;
    }
    if (header == "INIT" && !query) {
        m_buffer.clear();
        m_taken = 0;
        m_limit = m_trig_count * m_sample_count;
        m_running = true;
        _restart_segment(now);
        return false;
    }
    if (header == "ABORT" && !query) {
        m_running = false;
        return false;
    }
    if (header == "TRIG:COUNT") {
        if (query) {
            reply = m_trig_infinite ? std::string("INF") : std::to_string(m_trig_count);
            return true;
        }
        long long n = 0;
        if (upper(args) == "INF") {
            m_trig_infinite = true;
        } else if (parse_int(args, n) && n >= 1 && n <= 1000000000LL) {
            m_trig_infinite = false;
            m_trig_count = static_cast<uint64_t>(n);
        } else {
            _error("-224,\"Illegal parameter value\"");
        }
        return false;
    }
    if (header == "SAMP:COUNT") {
        if (query) {
            reply = std::to_string(m_sample_count);
            return true;
        }
        long long n = 0;
        if (parse_int(args, n) && n >= 1 && n <= 1000000000LL) {
            m_sample_count = static_cast<uint64_t>(n);
        } else {
            _error("-224,\"Illegal parameter value\"");
        }
        return false;
    }
    if (header == "READ" && query) {
        // A one-shot measurement of SAMP:COUNT readings, outside the reading memory.
        const uint64_t n = std::min<uint64_t>(m_sample_count, read_query_max);
        const double rate = _reading_rate();
        std::vector<reading_t> readings;
        const std::string mn = func_mnemonics[m_function];
        double range = 0.0;
        if (!_setting_on(mn + ":RANGE:AUTO")) {
            const auto it = m_settings.find(mn + ":RANGE");
            if (it == m_settings.end() || !parse_range(it->second, false, range)) {
                range = 0.0;
            }
        }
        for (uint64_t i = 0; i < n; ++i) {
            const int64_t ts = now + static_cast<int64_t>(static_cast<double>(i + 1) * 1e6 / rate);
            readings.push_back({_value_of(m_function, range, i + static_cast<uint64_t>(now), ts, 0), ts});
        }
        reply = _format_readings(readings, false);
        return true;
    }
    if (header == "R" && query && m_family == 1) {
        size_t max_count = reading_buffer_max;
        long long n = 0;
        if (!args.empty() && parse_int(args, n) && n > 0) {
            max_count = static_cast<size_t>(std::min<long long>(n, static_cast<long long>(reading_buffer_max)));
        }
        const auto readings = _take_readings(max_count);
        if (readings.empty()) {
            reply = "NULL";
            return true;
        }
        const std::string payload = _format_readings(readings, false);
        const std::string length = std::to_string(payload.size());
        reply = "#" + std::to_string(length.size()) + length + payload;
        return true;
    }
    if (header == "MEASURE_DATA" && query && m_family == 2) {
        const auto readings = _take_readings(reading_buffer_max);
        reply = readings.empty() ? std::string("NULL") : _format_readings(readings, true);
        return true;
    }
    if (header.compare(0, 4, "ROUT") == 0) {
        return _route(header, args, query, reply);
    }
    for (const auto& g : global_settings) {
        if (header == g.header) {
            if (query) {
                reply = m_settings[header];
                return true;
            }
            bool on = false;
            if (g.kind == kind_bool) {
                if (!parse_bool(args, on)) {
                    _error("-224,\"Illegal parameter value\"");
                    return false;
                }
                m_settings[header] = on ? "1" : "0";
            } else {
                const std::string value = upper(args);
                if (value.empty()) {
                    _error("-109,\"Missing parameter\"");
                    return false;
                }
                m_settings[header] = value;
            }
            return false;
        }
    }
    if (_function_setting(header, args, query, reply)) {
        return query;
    }
    _error("-113,\"Undefined header\"");
    return false;
}

// "<mnemonic>:<setting> <value>" and "<mnemonic>:<setting>?"; Frequency and Period
// address their voltage range as "FREQ:VOLT:RANGE". Returns false when the header is unknown.
bool sim_instrument_t::_function_setting(const std::string& header, const std::string& args, bool query,
                                         std::string& reply)
{
    int func = -1;
    std::string suffix;
    for (int f = 0; f < func_count; ++f) {
        const std::string mn = func_mnemonics[f];
        if (header.size() > mn.size() + 1 && header.compare(0, mn.size(), mn) == 0 && header[mn.size()] == ':') {
            const std::string rest = header.substr(mn.size() + 1);
            if ((f == func_dcv || f == func_dci) && rest.compare(0, 2, "AC") == 0) {
                continue;  // VOLT:AC / CURR:AC come later in the table
            }
            func = f;
            suffix = rest;
            break;
        }
    }
    if (func < 0) {
        return false;
    }
    if ((func == func_freq || func == func_period) && suffix.compare(0, 5, "VOLT:") == 0) {
        suffix = suffix.substr(5);
    }
    const std::string mn = func_mnemonics[func];
    if (query && func == func_temp && (suffix == "UDEF:RTD:TRAN:LIST" || suffix == "UDEF:THER:TRAN:LIST")) {
        const std::string& list = suffix == "UDEF:RTD:TRAN:LIST" ? m_options.udef_rtd : m_options.udef_ther;
        reply = list.empty() ? std::string("NONE") : list;
        return true;
    }
    const function_setting_t* setting = nullptr;
    for (const auto& s : function_settings) {
        if (suffix == s.suffix && (s.family == 0 || s.family == m_family)) {
            setting = &s;
        }
    }
    if (setting == nullptr) {
        return false;
    }
    const std::string key = mn + ":" + suffix;
    if (query) {
        const auto it = m_settings.find(key);
        if (it == m_settings.end()) {
            return false;  // never set and no default: nothing to answer
        }
        double v = 0.0;
        if (setting->kind == kind_range) {
            reply = parse_range(it->second, false, v) ? number_text(v) : it->second;
        } else if (setting->kind == kind_number && parse_number(it->second, v)) {
            reply = number_text(v);
        } else {
            reply = it->second;
        }
        return true;
    }
    switch (setting->kind) {
    case kind_bool: {
        bool on = false;
        if (!parse_bool(args, on)) {
            _error("-224,\"Illegal parameter value\"");
            return true;
        }
        m_settings[key] = on ? "1" : "0";
        break;
    }
    case kind_number: {
        double v = 0.0;
        if (!parse_number(args, v)) {
            _error("-224,\"Illegal parameter value\"");
            return true;
        }
        m_settings[key] = trim(args);
        break;
    }
    case kind_range: {
        double v = 0.0;
        const std::string value = trim(args);
        if (upper(value) == "AUTO" || upper(value) == "DEF") {
            m_settings[mn + ":RANGE:AUTO"] = "1";
        } else if (parse_range(value, false, v)) {
            // Choosing a range switches autoranging off, as on any bench meter.
            m_settings[key] = value;
            m_settings[mn + ":RANGE:AUTO"] = "0";
        } else {
            _error("-224,\"Illegal parameter value\"");
        }
        break;
    }
    case kind_text:
        if (trim(args).empty()) {
            _error("-109,\"Missing parameter\"");
            return true;
        }
        m_settings[key] = trim(args);
        break;
    }
    return true;
}

bool sim_instrument_t::_route(const std::string& header, const std::string& args, bool query, std::string& reply)
{
    const int64_t now = _now_us();
    if (header == "ROUT:STAT" && query) {
        reply = m_options.scan_card ? "1" : "0";
        return true;
    }
    if (header == "ROUT:DATA:REMOVE" && query) {
        if (m_scan_buffer.empty()) {
            reply = "NULL";
            return true;
        }
        reply.reserve(m_scan_buffer.size() * 24);
        for (size_t i = 0; i < m_scan_buffer.size(); ++i) {
            if (i > 0) {
                reply += ',';
            }
            reply += _format_scan_entry(m_scan_buffer[i]);
        }
        m_scan_buffer.clear();
        return true;
    }
    if (!m_options.scan_card) {
        _error("-241,\"Hardware missing\"");
        return false;
    }
    auto illegal = [this]() {
        _error("-224,\"Illegal parameter value\"");
        return false;
    };
    bool on = false;
    long long n = 0;
    double v = 0.0;
    bool changed = false;
    if (header == "ROUT:SCAN") {
        if (query) {
            reply = m_scan_enabled ? "1" : "0";
            return true;
        }
        if (!parse_bool(args, on)) {
            return illegal();
        }
        m_scan_enabled = on;
    } else if (header == "ROUT:STAR") {
        if (query) {
            reply = m_scan_running ? "1" : "0";
            return true;
        }
        if (!parse_bool(args, on)) {
            return illegal();
        }
        if (on) {
            m_scan_buffer.clear();
            m_scan_running = true;
            _rebuild_scan(now);
        } else {
            m_scan_running = false;
        }
        return false;
    } else if (header == "ROUT:LIMIT:LOW" || header == "ROUT:LIMIT:HIGH") {
        int& limit = header == "ROUT:LIMIT:LOW" ? m_limit_low : m_limit_high;
        if (query) {
            reply = std::to_string(limit);
            return true;
        }
        if (!parse_int(args, n) || n < 1 || n > scan_channels) {
            return illegal();
        }
        limit = static_cast<int>(n);
        changed = true;
    } else if (header == "ROUT:FUNC") {
        if (query) {
            reply = m_scan_mode == 0 ? "SCAN" : "STEP";
            return true;
        }
        const std::string mode = upper(args);
        if (mode != "SCAN" && mode != "STEP") {
            return illegal();
        }
        m_scan_mode = mode == "SCAN" ? 0 : 1;
        changed = true;
    } else if (header == "ROUT:DEL") {
        if (query) {
            reply = number_text(m_scan_delay_s);
            return true;
        }
        if (!parse_number(args, v) || v < 0 || v > 999.0) {
            return illegal();
        }
        m_scan_delay_s = v;
        changed = true;
    } else if (header == "ROUT:COUNT") {
        if (query) {
            reply = std::to_string(m_scan_count);
            return true;
        }
        if (!parse_int(args, n) || n < 1 || n > 999) {
            return illegal();
        }
        m_scan_count = static_cast<int>(n);
        changed = true;
    } else if (header == "ROUT:COUNT:AUTO") {
        if (query) {
            reply = m_scan_count_auto ? "1" : "0";
            return true;
        }
        if (!parse_bool(args, on)) {
            return illegal();
        }
        m_scan_count_auto = on;
        changed = true;
    } else if ((header == "ROUT:FREQ" || header == "ROUT:PER") && !query) {
        m_frq_is_period = header == "ROUT:PER";
        return false;
    } else if (header == "ROUT:CHAN") {
        if (query) {
            if (!parse_int(args, n) || n < 1 || n > scan_channels) {
                return illegal();
            }
            reply = m_channels[n].text;
            return true;
        }
        // channel, ON|OFF, function keyword, range, SLOW|FAST|DEF, readings per visit
        const auto f = split(args, ',');
        if (f.size() != 6 || !parse_int(f[0], n) || n < 1 || n > scan_channels || !parse_bool(f[1], on)) {
            return illegal();
        }
        channel_t c;
        c.on = on;
        const std::string keyword = upper(trim(f[2]));
        c.func = -1;
        for (int k = 0; k < func_count; ++k) {
            if (keyword == card_keywords[k] && keyword[0] != '\0') {
                c.func = k;
                break;
            }
        }
        if (c.func == func_freq && m_frq_is_period) {
            c.func = func_period;
        }
        static const int bank1[] = {func_dcv, func_acv, func_res_2w, func_res_4w, func_freq, func_period,
                                    func_cap, func_cont, func_diode, func_temp};
        const bool allowed =
            n <= 12 ? std::find(std::begin(bank1), std::end(bank1), c.func) != std::end(bank1) &&
                          !(n >= 7 && c.func == func_res_4w)
                    : (c.func == func_dci || c.func == func_aci);
        if (!allowed) {
            return illegal();
        }
        const std::string range = upper(trim(f[3]));
        if (range == "DEF" || range == "AUTO" || range.empty()) {
            c.range = 0.0;
        } else if (!parse_range(range, true, c.range)) {
            return illegal();
        }
        const std::string speed = upper(trim(f[4]));
        c.speed = speed == "SLOW" ? 0 : speed == "FAST" ? 1 : speed == "DEF" ? 2 : -1;
        long long count = 0;
        if (c.speed < 0 || !parse_int(f[5], count) || count < 1 || count > 999) {
            return illegal();
        }
        c.count = static_cast<int>(count);
        c.text = std::to_string(n) + "," + (on ? "ON" : "OFF") + "," + keyword + "," + range + "," + speed + "," +
                 std::to_string(count);
        m_channels[n] = c;
        changed = true;
    } else {
        _error("-113,\"Undefined header\"");
        return false;
    }
    if (changed && m_scan_running) {
        _rebuild_scan(now);
    }
    return false;
}

}  // namespace vx_sim
