// The simulated multimeter. Readings are not produced by a running thread: every
// command first brings the instrument up to the present, computing from the elapsed
// instrument time how many readings the settings would have taken since the last
// command, so an idle simulator costs nothing.
#include "sim_instrument.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <utility>

#include "sim_text.h"

namespace vx_sim {
namespace {

constexpr size_t reading_buffer_max = 1000000;  // readings kept between fetches
constexpr size_t scan_buffer_max = 200000;      // scanner readings kept between fetches
constexpr size_t error_queue_max = 20;
constexpr size_t read_query_max = 10000;
constexpr long long count_max = 1000000000LL;  // TRIG:COUNT and SAMP:COUNT
constexpr int scan_channels = 16;
constexpr const char* maker_name = "Norvale Labs";

constexpr const char* error_illegal_parameter = "-224,\"Illegal parameter value\"";
constexpr const char* error_missing_parameter = "-109,\"Missing parameter\"";
constexpr const char* error_undefined_header = "-113,\"Undefined header\"";
constexpr const char* error_hardware_missing = "-241,\"Hardware missing\"";

const char* const func_mnemonics[func_count] = {"VOLT", "CURR", "VOLT:AC", "CURR:AC", "RES",  "FRES", "FREQ",
                                                "PER",  "CAP",  "CONT",    "DIOD",    "TEMP", "SENS"};
const char* const card_keywords[func_count] = {"DCV", "DCI", "ACV",  "ACI", "2W",   "4W", "FRQ",
                                               "FRQ", "CAP", "CONT", "DIO", "TEMP", ""};

enum setting_kind_t { kind_bool, kind_number, kind_range, kind_text };

// Settings a function mnemonic may carry; family 0 = both families.
struct function_setting_t {
    const char* suffix;
    setting_kind_t kind;
    int family;
};
const function_setting_t function_settings[] = {
    {"RANGE", kind_range, 0},
    {"RANGE:AUTO", kind_bool, 0},
    {"NPLC", kind_number, 0},
    {"NULL", kind_bool, 0},
    {"NULL:VAL", kind_number, 0},
    {"FILT", kind_bool, 0},
    {"AZ", kind_bool, 1},
    {"ZERO:AUTO", kind_bool, 2},
    {"BAND", kind_number, 0},
    {"DIVER", kind_bool, 0},
    {"APER", kind_number, 0},
    {"THR:VAL", kind_number, 0},
    {"IMP", kind_text, 0},
    {"MDEF:RTD:TRAN", kind_text, 0},
    {"MDEF:THER:TRAN", kind_text, 0},
    {"UDEF:RTD:TRAN", kind_text, 0},
    {"UDEF:THER:TRAN", kind_text, 0},
    {"REF:SOUR", kind_text, 0},
    {"REF:VAL", kind_number, 0},
};

int family_of_model(const std::string& model) {
    if (model == "VXA-1" || model == "VXA-2" || model == "VXA-2E" || model == "VXA-3") {
        return 1;
    }
    if (model == "VXB-1" || model == "VXB-2" || model == "VXB-3") {
        return 2;
    }
    return 0;
}

// A whole count in [1, max], as TRIG:COUNT, SAMP:COUNT and the scanner take them.
bool parse_count(const std::string& text, long long max, long long& out) {
    long long n = 0;
    if (!parse_int(text, n) || n < 1 || n > max) {
        return false;
    }
    out = n;
    return true;
}

}  // namespace

// --- dispatch ---------------------------------------------------------------------

const std::map<std::string, sim_instrument_t::command_t>& sim_instrument_t::_commands() {
    using s = sim_instrument_t;
    constexpr offered_t always = offered_t::always;
    constexpr offered_t card = offered_t::scan_card;
    // header -> {query handler, command handler, who offers it}
    static const std::map<std::string, command_t> commands = {
        {"*IDN", {&s::_identify, nullptr, always}},
        {"*RST", {nullptr, &s::_reset_command, always}},
        {"*CLS", {nullptr, &s::_clear_errors, always}},
        {"*OPC", {&s::_operation_complete, nullptr, always}},
        {"SYST:ERR", {&s::_next_error, nullptr, always}},
        {"IDN-MRQX-PRI", {&s::_vxa_private_name, nullptr, offered_t::vxa}},
        {"MACHINE_INFO", {&s::_vxb_private_name, nullptr, offered_t::vxb}},
        {"SYST:BEEP:STAT", {&s::_stored_setting, &s::_set_stored_switch, always}},
        {"TYPE:TEMP", {&s::_stored_setting, &s::_set_stored_text, always}},
        {"UNIT:TEMP", {&s::_stored_setting, &s::_set_stored_text, always}},

        {"FUNC", {&s::_function_query, &s::_set_function, always}},
        {"INIT", {nullptr, &s::_initiate, always}},
        {"ABORT", {nullptr, &s::_abort, always}},
        {"TRIG:COUNT", {&s::_trig_count_query, &s::_set_trig_count, always}},
        {"SAMP:COUNT", {&s::_sample_count_query, &s::_set_sample_count, always}},
        {"READ", {&s::_read, nullptr, always}},
        {"R", {&s::_fetch_block, nullptr, offered_t::vxa}},
        {"DATA:POIN", {&s::_points_query, nullptr, always}},
        {"MEASURE_DATA", {&s::_fetch_stamped, nullptr, offered_t::vxb}},

        // Whether a card is fitted, and its data, are answered without one.
        {"ROUT:STAT", {&s::_card_state, nullptr, always}},
        {"ROUT:DATA:REMOVE", {&s::_fetch_scan_data, nullptr, always}},
        {"ROUT:SCAN", {&s::_scan_query, &s::_set_scan, card}},
        {"ROUT:STAR", {&s::_scan_start_query, &s::_set_scan_start, card}},
        {"ROUT:LIMIT:LOW", {&s::_limit_query, &s::_set_limit, card}},
        {"ROUT:LIMIT:HIGH", {&s::_limit_query, &s::_set_limit, card}},
        {"ROUT:FUNC", {&s::_scan_mode_query, &s::_set_scan_mode, card}},
        {"ROUT:DEL", {&s::_scan_delay_query, &s::_set_scan_delay, card}},
        {"ROUT:COUNT", {&s::_scan_count_query, &s::_set_scan_count, card}},
        {"ROUT:COUNT:AUTO", {&s::_scan_count_auto_query, &s::_set_scan_count_auto, card}},
        {"ROUT:FREQ", {nullptr, &s::_set_card_frequency_kind, card}},
        {"ROUT:PER", {nullptr, &s::_set_card_frequency_kind, card}},
        {"ROUT:CHAN", {&s::_channel_query, &s::_set_channel, card}},
    };
    return commands;
}

sim_instrument_t::sim_instrument_t(const sim_options_t& options) : m_options(options) {
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

bool sim_instrument_t::execute(const std::string& command, std::string& reply) {
    std::string text = trim(command);
    while (!text.empty() && (text[0] == ';' || text[0] == ':')) {
        text = trim(text.substr(1));
    }
    if (text.empty()) {
        return false;
    }
    const auto space = text.find_first_of(" \t");
    request_t request;
    std::string header = space == std::string::npos ? text : text.substr(0, space);
    request.args = space == std::string::npos ? std::string() : trim(text.substr(space));
    bool query = false;
    if (!header.empty() && header.back() == '?') {
        query = true;
        header.pop_back();
    }
    request.header = canonical_header(header);

    std::lock_guard<std::mutex> lock(m_mutex);
    request.now_us = _now_us();
    _advance(request.now_us);
    _advance_scan(request.now_us);
    reply.clear();
    const bool answered = _dispatch(request, query, reply);
    if (!query && m_running && request.header != "INIT") {
        // Readings taken from now on follow the new settings (and rate).
        _restart_segment(request.now_us);
    }
    if (answered) {
        reply += '\n';
    }
    return answered;
}

bool sim_instrument_t::_dispatch(const request_t& request, bool query, std::string& reply) {
    const auto& commands = _commands();
    const auto it = commands.find(request.header);
    if (it != commands.end()) {
        const command_t& command = it->second;
        const bool has_form = query ? command.query != nullptr : command.set != nullptr;
        const bool offered = command.offered == offered_t::always ||
                             command.offered == offered_t::scan_card ||
                             (command.offered == offered_t::vxa && m_family == 1) ||
                             (command.offered == offered_t::vxb && m_family == 2);
        if (has_form && offered) {
            if (command.offered == offered_t::scan_card && !m_options.scan_card) {
                _error(error_hardware_missing);
                return false;
            }
            if (query) {
                return (this->*command.query)(request, reply);
            }
            (this->*command.set)(request);
            return false;
        }
    }
    if (request.header.compare(0, 4, "ROUT") == 0) {
        // Any other scanner header: without a card there is nothing to answer it.
        _error(m_options.scan_card ? error_undefined_header : error_hardware_missing);
        return false;
    }
    if (_function_setting(request, query, reply)) {
        return query;
    }
    _error(error_undefined_header);
    return false;
}

// "<mnemonic>:<setting> <value>" and "<mnemonic>:<setting>?"; Frequency and Period
// address their voltage range as "FREQ:VOLT:RANGE". Returns false when the header is
// unknown or a queried setting has no value.
bool sim_instrument_t::_function_setting(const request_t& request, bool query, std::string& reply) {
    const std::string& header = request.header;
    int func = -1;
    std::string suffix;
    for (int f = 0; f < func_count; ++f) {
        const std::string mn = func_mnemonics[f];
        if (header.size() > mn.size() + 1 && header.compare(0, mn.size(), mn) == 0 &&
            header[mn.size()] == ':') {
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
            if (!parse_range(it->second, false, v)) {
                reply = it->second;
            } else {
                // Autoranging: the range the meter has moved to for its input.
                reply = number_text(
                    _setting_on(mn + ":RANGE:AUTO") ? autorange_for(func, m_lowest_auto_range[func], v) : v);
            }
        } else if (setting->kind == kind_number && parse_number(it->second, v)) {
            reply = number_text(v);
        } else {
            reply = it->second;
        }
        return true;
    }
    const std::string& args = request.args;
    switch (setting->kind) {
        case kind_bool: {
            bool on = false;
            if (!parse_bool(args, on)) {
                _error(error_illegal_parameter);
                return true;
            }
            m_settings[key] = on ? "1" : "0";
            break;
        }
        case kind_number: {
            double v = 0.0;
            if (!parse_number(args, v)) {
                _error(error_illegal_parameter);
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
                _error(error_illegal_parameter);
            }
            break;
        }
        case kind_text:
            if (trim(args).empty()) {
                _error(error_missing_parameter);
                return true;
            }
            m_settings[key] = trim(args);
            break;
    }
    return true;
}

void sim_instrument_t::_error(const std::string& text) {
    if (m_errors.size() < error_queue_max) {
        m_errors.push_back(text);
    }
}

// --- settings ---------------------------------------------------------------------

void sim_instrument_t::_reset() {
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
        m_lowest_auto_range[f] = 0.0;
        if (ranges[f][0] != '\0') {
            if (!parse_range(ranges[f], false, m_lowest_auto_range[f])) m_lowest_auto_range[f] = 0.0;
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

void sim_instrument_t::set_serial(const std::string& serial) {
    std::lock_guard<std::mutex> lock(m_serial_mutex);
    m_serial = serial;
}

bool sim_instrument_t::_identify(const request_t&, std::string& reply) {
    std::string serial;
    {
        std::lock_guard<std::mutex> lock(m_serial_mutex);
        serial = m_serial.empty() ? m_options.serial : m_serial;
    }
    reply = std::string(maker_name) + "," + m_options.model + "," + serial + "," + m_options.firmware;
    return true;
}

void sim_instrument_t::_reset_command(const request_t&) { _reset(); }

void sim_instrument_t::_clear_errors(const request_t&) { m_errors.clear(); }

bool sim_instrument_t::_operation_complete(const request_t&, std::string& reply) {
    reply = "1";
    return true;
}

bool sim_instrument_t::_next_error(const request_t&, std::string& reply) {
    if (m_errors.empty()) {
        reply = "+0,\"No error\"";
    } else {
        reply = m_errors.front();
        m_errors.pop_front();
    }
    return true;
}

bool sim_instrument_t::_vxa_private_name(const request_t&, std::string& reply) {
    reply = "IDN-MRQX-PRI " + (m_options.private_model.empty() ? m_options.model : m_options.private_model);
    return true;
}

bool sim_instrument_t::_vxb_private_name(const request_t&, std::string& reply) {
    reply = m_options.private_model.empty() ? m_options.model : m_options.private_model;
    return true;
}

// SYST:BEEP:STAT, TYPE:TEMP and UNIT:TEMP: kept under their header, always set.
bool sim_instrument_t::_stored_setting(const request_t& request, std::string& reply) {
    reply = m_settings[request.header];
    return true;
}

void sim_instrument_t::_set_stored_switch(const request_t& request) {
    bool on = false;
    if (!parse_bool(request.args, on)) {
        _error(error_illegal_parameter);
        return;
    }
    m_settings[request.header] = on ? "1" : "0";
}

void sim_instrument_t::_set_stored_text(const request_t& request) {
    const std::string value = upper(request.args);
    if (value.empty()) {
        _error(error_missing_parameter);
        return;
    }
    m_settings[request.header] = value;
}

// --- measurement commands ---------------------------------------------------------

bool sim_instrument_t::_function_query(const request_t&, std::string& reply) {
    reply = std::string("\"") + func_mnemonics[m_function] + "\"";
    return true;
}

void sim_instrument_t::_set_function(const request_t& request) {
    std::string name = request.args;
    if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front()) {
        name = name.substr(1, name.size() - 2);
    }
    name = canonical_header(name);
    for (int f = 0; f < func_count; ++f) {
        if (name == func_mnemonics[f] && !(f == func_sensor && m_family != 2)) {
            m_function = f;
            return;
        }
    }
    _error(error_illegal_parameter);
}

void sim_instrument_t::_initiate(const request_t& request) {
    m_buffer.clear();
    m_taken = 0;
    m_limit = m_trig_count * m_sample_count;
    m_running = true;
    _restart_segment(request.now_us);
}

void sim_instrument_t::_abort(const request_t&) { m_running = false; }

bool sim_instrument_t::_trig_count_query(const request_t&, std::string& reply) {
    reply = m_trig_infinite ? std::string("INF") : std::to_string(m_trig_count);
    return true;
}

void sim_instrument_t::_set_trig_count(const request_t& request) {
    long long n = 0;
    if (upper(request.args) == "INF") {
        m_trig_infinite = true;
    } else if (parse_count(request.args, count_max, n)) {
        m_trig_infinite = false;
        m_trig_count = static_cast<uint64_t>(n);
    } else {
        _error(error_illegal_parameter);
    }
}

bool sim_instrument_t::_sample_count_query(const request_t&, std::string& reply) {
    reply = std::to_string(m_sample_count);
    return true;
}

// "DATA:POIN?": readings in the memory, not yet fetched. Lets a client wait for a
// measurement to finish by asking instead of by the clock.
bool sim_instrument_t::_points_query(const request_t&, std::string& reply) {
    reply = std::to_string(m_buffer.size());
    return true;
}

void sim_instrument_t::_set_sample_count(const request_t& request) {
    long long n = 0;
    if (parse_count(request.args, count_max, n)) {
        m_sample_count = static_cast<uint64_t>(n);
    } else {
        _error(error_illegal_parameter);
    }
}

// A one-shot measurement of SAMP:COUNT readings, outside the reading memory.
bool sim_instrument_t::_read(const request_t& request, std::string& reply) {
    const int64_t now = request.now_us;
    const uint64_t n = std::min<uint64_t>(m_sample_count, read_query_max);
    const double rate = _reading_rate();
    const double range = _fixed_range();
    const std::string temp_unit = _temp_unit();
    std::vector<sim_reading_t> readings;
    for (uint64_t i = 0; i < n; ++i) {
        const int64_t ts = now + static_cast<int64_t>(static_cast<double>(i + 1) * 1e6 / rate);
        const double v = reading_value(m_function, range, i + static_cast<uint64_t>(now), _since_epoch_s(ts),
                                       0, temp_unit);
        readings.push_back({v, ts});
    }
    reply = format_readings(readings, false);
    return true;
}

// "R? [n]": up to n readings taken since the last fetch, as a definite-length block.
bool sim_instrument_t::_fetch_block(const request_t& request, std::string& reply) {
    size_t max_count = reading_buffer_max;
    long long n = 0;
    if (!request.args.empty() && parse_int(request.args, n) && n > 0) {
        max_count = static_cast<size_t>(std::min<long long>(n, static_cast<long long>(reading_buffer_max)));
    }
    const auto readings = _take_readings(max_count);
    if (readings.empty()) {
        reply = "NULL";
        return true;
    }
    // A hostile instrument: pieces no parser may take for a reading, before the readings.
    std::string payload;
    for (int i = 0; i < m_options.non_numbers; ++i) payload += "abc,";
    payload += format_readings(readings, false);
    const std::string length = std::to_string(payload.size());
    reply = "#" + std::to_string(length.size()) + length + payload;
    return true;
}

// "MEASURE_DATA?": every reading taken since the last fetch, with its timestamp.
bool sim_instrument_t::_fetch_stamped(const request_t&, std::string& reply) {
    const auto readings = _take_readings(reading_buffer_max);
    reply = readings.empty() ? std::string("NULL") : format_readings(readings, true);
    return true;
}

// --- scanner-card commands --------------------------------------------------------

bool sim_instrument_t::_card_state(const request_t&, std::string& reply) {
    reply = m_options.scan_card ? "1" : "0";
    return true;
}

bool sim_instrument_t::_fetch_scan_data(const request_t&, std::string& reply) {
    if (m_scan_buffer.empty()) {
        reply = "NULL";
        return true;
    }
    const std::string temp_unit = _temp_unit();
    reply.reserve(m_scan_buffer.size() * 24);
    for (size_t i = 0; i < m_scan_buffer.size(); ++i) {
        if (i > 0) {
            reply += ',';
        }
        const scan_reading_t& r = m_scan_buffer[i];
        reply += format_scan_entry(r.channel, r.func, r.value, temp_unit);
    }
    m_scan_buffer.clear();
    return true;
}

bool sim_instrument_t::_scan_query(const request_t&, std::string& reply) {
    reply = m_scan_enabled ? "1" : "0";
    return true;
}

void sim_instrument_t::_set_scan(const request_t& request) {
    bool on = false;
    if (!parse_bool(request.args, on)) {
        _error(error_illegal_parameter);
        return;
    }
    m_scan_enabled = on;
}

bool sim_instrument_t::_scan_start_query(const request_t&, std::string& reply) {
    reply = m_scan_running ? "1" : "0";
    return true;
}

void sim_instrument_t::_set_scan_start(const request_t& request) {
    bool on = false;
    if (!parse_bool(request.args, on)) {
        _error(error_illegal_parameter);
        return;
    }
    if (on) {
        m_scan_buffer.clear();
        m_scan_running = true;
        _rebuild_scan(request.now_us);
    } else {
        m_scan_running = false;
    }
}

bool sim_instrument_t::_limit_query(const request_t& request, std::string& reply) {
    reply = std::to_string(request.header == "ROUT:LIMIT:LOW" ? m_limit_low : m_limit_high);
    return true;
}

void sim_instrument_t::_set_limit(const request_t& request) {
    int& limit = request.header == "ROUT:LIMIT:LOW" ? m_limit_low : m_limit_high;
    long long n = 0;
    if (!parse_count(request.args, scan_channels, n)) {
        _error(error_illegal_parameter);
        return;
    }
    limit = static_cast<int>(n);
    _scan_settings_changed(request.now_us);
}

bool sim_instrument_t::_scan_mode_query(const request_t&, std::string& reply) {
    reply = m_scan_mode == 0 ? "SCAN" : "STEP";
    return true;
}

void sim_instrument_t::_set_scan_mode(const request_t& request) {
    const std::string mode = upper(request.args);
    if (mode != "SCAN" && mode != "STEP") {
        _error(error_illegal_parameter);
        return;
    }
    m_scan_mode = mode == "SCAN" ? 0 : 1;
    _scan_settings_changed(request.now_us);
}

bool sim_instrument_t::_scan_delay_query(const request_t&, std::string& reply) {
    reply = number_text(m_scan_delay_s);
    return true;
}

void sim_instrument_t::_set_scan_delay(const request_t& request) {
    double v = 0.0;
    if (!parse_number(request.args, v) || v < 0 || v > 999.0) {
        _error(error_illegal_parameter);
        return;
    }
    m_scan_delay_s = v;
    _scan_settings_changed(request.now_us);
}

bool sim_instrument_t::_scan_count_query(const request_t&, std::string& reply) {
    reply = std::to_string(m_scan_count);
    return true;
}

void sim_instrument_t::_set_scan_count(const request_t& request) {
    long long n = 0;
    if (!parse_count(request.args, 999, n)) {
        _error(error_illegal_parameter);
        return;
    }
    m_scan_count = static_cast<int>(n);
    _scan_settings_changed(request.now_us);
}

bool sim_instrument_t::_scan_count_auto_query(const request_t&, std::string& reply) {
    reply = m_scan_count_auto ? "1" : "0";
    return true;
}

void sim_instrument_t::_set_scan_count_auto(const request_t& request) {
    bool on = false;
    if (!parse_bool(request.args, on)) {
        _error(error_illegal_parameter);
        return;
    }
    m_scan_count_auto = on;
    _scan_settings_changed(request.now_us);
}

// "ROUT:FREQ" or "ROUT:PER" before a channel set-up: what its "FRQ" keyword measures.
void sim_instrument_t::_set_card_frequency_kind(const request_t& request) {
    m_frq_is_period = request.header == "ROUT:PER";
}

bool sim_instrument_t::_channel_query(const request_t& request, std::string& reply) {
    long long n = 0;
    if (!parse_count(request.args, scan_channels, n)) {
        _error(error_illegal_parameter);
        return false;
    }
    reply = m_channels[n].text;
    return true;
}

// channel, ON|OFF, function keyword, range, SLOW|FAST|DEF, readings per visit
void sim_instrument_t::_set_channel(const request_t& request) {
    const auto f = split(request.args, ',');
    long long n = 0;
    bool on = false;
    if (f.size() != 6 || !parse_count(f[0], scan_channels, n) || !parse_bool(f[1], on)) {
        _error(error_illegal_parameter);
        return;
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
    // Channels 1 to 12 take the voltage card's functions (4-wire only on 1 to 6),
    // 13 to 16 the currents.
    static const int bank1[] = {func_dcv,    func_acv, func_res_2w, func_res_4w, func_freq,
                                func_period, func_cap, func_cont,   func_diode,  func_temp};
    const bool allowed = n <= 12 ? std::find(std::begin(bank1), std::end(bank1), c.func) != std::end(bank1) &&
                                       !(n >= 7 && c.func == func_res_4w)
                                 : (c.func == func_dci || c.func == func_aci);
    if (!allowed) {
        _error(error_illegal_parameter);
        return;
    }
    const std::string range = upper(trim(f[3]));
    if (range == "DEF" || range == "AUTO" || range.empty()) {
        c.range = 0.0;
    } else if (!parse_range(range, true, c.range)) {
        _error(error_illegal_parameter);
        return;
    }
    const std::string speed = upper(trim(f[4]));
    c.speed = speed == "SLOW" ? 0 : speed == "FAST" ? 1 : speed == "DEF" ? 2 : -1;
    long long count = 0;
    if (c.speed < 0 || !parse_count(f[5], 999, count)) {
        _error(error_illegal_parameter);
        return;
    }
    c.count = static_cast<int>(count);
    c.text = std::to_string(n) + "," + (on ? "ON" : "OFF") + "," + keyword + "," + range + "," + speed + "," +
             std::to_string(count);
    m_channels[n] = c;
    _scan_settings_changed(request.now_us);
}

// --- measurement ------------------------------------------------------------------

int64_t sim_instrument_t::_now_us() const {
    // Wall-clock based but monotonic: the instrument's clock never steps back.
    const int64_t steady = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    return m_epoch_us + (steady - m_steady_origin_us);
}

double sim_instrument_t::_since_epoch_s(int64_t t_us) const {
    return static_cast<double>(t_us - m_epoch_us) / 1e6;
}

double sim_instrument_t::_setting_number(const std::string& key, double fallback) const {
    const auto it = m_settings.find(key);
    double v = fallback;
    if (it != m_settings.end() && parse_number(it->second, v)) {
        return v;
    }
    return fallback;
}

bool sim_instrument_t::_setting_on(const std::string& key) const {
    const auto it = m_settings.find(key);
    return it != m_settings.end() && it->second == "1";
}

double sim_instrument_t::_reading_rate() const {
    const std::string mn = func_mnemonics[m_function];
    return reading_rate(m_function, _setting_number(mn + ":NPLC", 10.0), _setting_number(mn + ":APER", 0.1),
                        m_options.fast);
}

// The range of the selected function in base units; 0 when autoranging.
double sim_instrument_t::_fixed_range() const {
    const std::string mn = func_mnemonics[m_function];
    double range = 0.0;
    if (!_setting_on(mn + ":RANGE:AUTO")) {
        const auto it = m_settings.find(mn + ":RANGE");
        if (it == m_settings.end() || !parse_range(it->second, false, range)) {
            range = 0.0;
        }
    }
    return range;
}

std::string sim_instrument_t::_temp_unit() const {
    const auto it = m_settings.find("UNIT:TEMP");
    return it == m_settings.end() ? "C" : it->second;
}

void sim_instrument_t::_restart_segment(int64_t now_us) {
    m_segment_start_us = now_us;
    m_segment_taken = 0;
    m_segment_rate = _reading_rate();
}

void sim_instrument_t::_advance(int64_t now_us) {
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
    const double range = _fixed_range();
    const std::string temp_unit = _temp_unit();
    const bool null_on = _setting_on(mn + ":NULL");
    const double null_value = _setting_number(mn + ":NULL:VAL", 0.0);
    for (uint64_t i = 0; i < fresh; ++i) {
        ++m_segment_taken;
        ++m_taken;
        const int64_t ts =
            m_segment_start_us +
            static_cast<int64_t>(std::llround(static_cast<double>(m_segment_taken) * 1e6 / m_segment_rate));
        double v = reading_value(m_function, range, m_taken, _since_epoch_s(ts), 0, temp_unit);
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

std::vector<sim_reading_t> sim_instrument_t::_take_readings(size_t max_count) {
    const size_t n = std::min(max_count, m_buffer.size());
    std::vector<sim_reading_t> out(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(n));
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(n));
    m_readings_sent += n;
    return out;
}

// --- scanner card -----------------------------------------------------------------

double sim_instrument_t::_channel_reading_time(const channel_t& ch) const {
    const double t = ch.speed == 0 ? 0.1 : ch.speed == 1 ? 0.01 : 0.02;
    return m_options.fast ? t / 100.0 : t;
}

void sim_instrument_t::_rebuild_scan(int64_t now_us) {
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

// A running scan follows changed settings from the start of a new sweep.
void sim_instrument_t::_scan_settings_changed(int64_t now_us) {
    if (m_scan_running) {
        _rebuild_scan(now_us);
    }
}

void sim_instrument_t::_advance_scan(int64_t now_us) {
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
    const std::string temp_unit = _temp_unit();
    for (; m_scan_done < due; ++m_scan_done) {
        const uint64_t sweep = m_scan_done / per_sweep;
        const scan_slot_t& slot = m_sweep[m_scan_done % per_sweep];
        const channel_t& c = m_channels[slot.channel];
        const int64_t ts =
            m_scan_start_us +
            static_cast<int64_t>((static_cast<double>(sweep) * m_sweep_s + slot.offset_s) * 1e6);
        const double v =
            reading_value(c.func, c.range, m_scan_done, _since_epoch_s(ts), slot.channel, temp_unit);
        m_scan_buffer.push_back({slot.channel, c.func, v});
        if (m_scan_buffer.size() > scan_buffer_max) {
            m_scan_buffer.pop_front();
        }
    }
    if (!m_scan_count_auto && m_scan_done >= static_cast<uint64_t>(std::max(1, m_scan_count)) * per_sweep) {
        m_scan_running = false;
    }
}

}  // namespace vx_sim
