#include "drv/drv_vx_base.h"

#include <string_view>

#include "common/plib_format.h"
#include "common/plib_number.h"
#include "drv/drv_parse.h"
#include "nsp_src/lib/lib_assert.h"
#include "visa/visa_types.h"

namespace {

constexpr std::string_view ohm_sign = "\xCE\xA9";    // "Ω"
constexpr std::string_view micro_sign = "\xCE\xBC";  // "μ"
// A completion loop may not read more often than this, even if every read is empty.
constexpr int max_completion_reads = 4096;

// Text of an index into a short list of SCPI keywords; "" outside it.
template <std::size_t N>
std::string _keyword(const char* const (&words)[N], int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N ? words[index] : "";
}

constexpr const char* define_words[] = {"MDEF", "UDEF"};
constexpr const char* sensor_type_words[] = {"RTD", "THER"};
constexpr const char* on_off_words[] = {"OFF", "ON"};
constexpr const char* temp_type_words[] = {"TEM", "MEA"};
constexpr const char* temp_unit_words[] = {"C", "F", "K"};
constexpr const char* ref_source_words[] = {"INT", "EXT"};
constexpr const char* scan_mode_words[] = {"SCAN", "STEP"};
constexpr const char* scan_speed_words[] = {"SLOW", "FAST"};

}  // namespace

std::string drv_format_double(double value) { return format_general(value, 6); }

// --- link access ------------------------------------------------------------------

int drv_vx_base_t::_write(const std::string& command) {
    if (!NSP_ASSERT(m_plink != nullptr)) return visa::VI_ERROR_INV_OBJECT;
    return m_plink->write(m_session.load(), command);
}

int drv_vx_base_t::_query(const std::string& command, std::string& reply) {
    if (!NSP_ASSERT(m_plink != nullptr)) return visa::VI_ERROR_INV_OBJECT;
    return m_plink->query(m_session.load(), command, reply);
}

int drv_vx_base_t::_query_complete(const std::string& command, std::string& reply) {
    int status = _query(command, reply);
    std::string more;
    for (int reads = 0; status == visa::VI_SUCCESS_MAX_CNT && reads < max_completion_reads; ++reads) {
        if (reply.size() > drv_max_reply_bytes) return status;
        status = m_plink->read(m_session.load(), more);
        reply += more;
    }
    return status;
}

std::string drv_vx_base_t::_range_prefix(plib_measure_type_t type) {
    std::string prefix = measure_scpi(type);
    if (type == measure_freq || type == measure_period) prefix += ":VOLT";
    return prefix;
}

int drv_vx_base_t::reset() { return _write("*RST\n"); }

// --- trigger ----------------------------------------------------------------------

int drv_vx_base_t::init() { return _write("INIT\n"); }
int drv_vx_base_t::abort() { return _write("ABORT\n"); }
int drv_vx_base_t::set_trig_count_inf() { return _write("TRIG:COUNT INF\n"); }
int drv_vx_base_t::set_trig_count(int count) { return _write("TRIG:COUNT " + std::to_string(count) + "\n"); }
int drv_vx_base_t::set_sample_count(int count) {
    return _write("SAMP:COUNT " + std::to_string(count) + "\n");
}

// --- readings and queries ---------------------------------------------------------

int drv_vx_base_t::read_measure_data(std::vector<plib_data_t>& data) {
    data.clear();
    std::string reply;
    const int status = _query_complete("R?\n", reply);
    if (status != 0) return status;
    m_dropped_readings += drv_parse_block_readings(reply, data);
    return status;
}

int drv_vx_base_t::read_data(std::vector<plib_data_t>& data) {
    data.clear();
    std::string reply;
    const int status = _query_complete("READ?\n", reply);
    if (status != 0) return status;
    drv_parse_read_data(reply, data);
    return status;
}

int drv_vx_base_t::get_range(plib_measure_type_t type, double& range) {
    std::string reply;
    const int status = _query(_range_prefix(type) + ":RANGE?\n", reply);
    if (status == 0) drv_parse_number_reply(reply, range);
    return status;
}

int drv_vx_base_t::get_null_value(plib_measure_type_t type, std::string& value) {
    std::string reply;
    const int status = _query(measure_scpi(type) + ":NULL:VAL?\n", reply);
    double number = 0.0;
    if (status == 0 && drv_parse_number_reply(reply, number)) value = drv_format_double(number);
    return status;
}

int drv_vx_base_t::get_udef_tran_lists(std::vector<drv_temp_sensor_t>& sensors) {
    std::string reply;
    int status = _query("TEMP:UDEF:RTD:TRAN:LIST?\n", reply);
    if (status == 0) drv_parse_udef_tran_list(reply, 0, sensors);
    reply.clear();
    status = _query("TEMP:UDEF:THER:TRAN:LIST?\n", reply);
    if (status == 0) drv_parse_udef_tran_list(reply, 1, sensors);
    return status;
}

// --- measurement settings ---------------------------------------------------------

int drv_vx_base_t::set_function(plib_measure_type_t type) {
    return _write("FUNC \"" + measure_scpi(type) + "\"\n");
}

int drv_vx_base_t::set_range_auto(plib_measure_type_t type, int on) {
    return _write(_range_prefix(type) + ":RANGE:AUTO " + std::to_string(on) + "\n");
}

int drv_vx_base_t::set_range(plib_measure_type_t type, std::string range) {
    if (type == measure_res_2w || type == measure_res_4w) range = replace_all(range, ohm_sign, "OHM");
    range = replace_all(range, micro_sign, "u");
    return _write(_range_prefix(type) + ":RANGE " + range + "\n");
}

int drv_vx_base_t::set_nplc(plib_measure_type_t type, std::string nplc) {
    return _write(measure_scpi(type) + ":NPLC " + nplc + "\n");
}

int drv_vx_base_t::set_null_value(plib_measure_type_t type, std::string value) {
    return _write(measure_scpi(type) + ":NULL:VAL " + value + "\n");
}

int drv_vx_base_t::set_null(plib_measure_type_t type, int on) {
    return _write(measure_scpi(type) + ":NULL " + std::to_string(on) + "\n");
}

int drv_vx_base_t::set_volt_impedance(std::string impedance) {
    return _write("VOLT:IMP " + impedance + "\n");
}

int drv_vx_base_t::set_filter(plib_measure_type_t type, int on) {
    return _write(measure_scpi(type) + ":FILT " + std::to_string(on) + "\n");
}

int drv_vx_base_t::set_auto_zero(plib_measure_type_t type, int on) {
    return _write(measure_scpi(type) + ":AZ " + std::to_string(on) + "\n");
}

int drv_vx_base_t::set_bandwidth(plib_measure_type_t type, std::string bandwidth) {
    return _write(measure_scpi(type) + ":BAND " + bandwidth + "\n");
}

int drv_vx_base_t::set_diverter(plib_measure_type_t type, int on) {
    return _write(measure_scpi(type) + ":DIVERter " + _keyword(on_off_words, on) + "\n");
}

int drv_vx_base_t::set_aperture(plib_measure_type_t type, std::string aperture) {
    return _write(measure_scpi(type) + ":APER " + aperture + "\n");
}

int drv_vx_base_t::set_beep(plib_measure_type_t /*type*/, int on) {
    return _write("SYST:BEEP:STAT " + std::to_string(on) + "\n");
}

int drv_vx_base_t::set_threshold(plib_measure_type_t type, std::string threshold) {
    return _write(measure_scpi(type) + ":THR:VAL " + threshold + "\n");
}

int drv_vx_base_t::set_temp_transducer(drv_temp_sensor_t sensor) {
    return _write("TEMP:" + _keyword(define_words, sensor.define) + ":" +
                  _keyword(sensor_type_words, sensor.type) + ":TRAN " + sensor.name + "\n");
}

int drv_vx_base_t::set_temp_type(int type) {
    return _write("TYPE:TEMP " + _keyword(temp_type_words, type) + "\n");
}

int drv_vx_base_t::set_temp_unit(int unit) {
    return _write("UNIT:TEMP " + _keyword(temp_unit_words, unit) + "\n");
}

int drv_vx_base_t::set_temp_ref_source(int source) {
    return _write(":TEMPerature:REFence:SOURce " + _keyword(ref_source_words, source) + "\n");
}

int drv_vx_base_t::set_temp_ref_value(std::string value) {
    return _write(":TEMPerature:REFence:VALue " + value + "\n");
}

// --- scanner card -----------------------------------------------------------------

int drv_vx_base_t::get_scan_default_param(plib_scan_param_t& param) {
    param = plib_scan_param_t();
    param.scan_mode = 0;
    param.scan_delay = 1.0;
    param.scan_count = 1;
    param.auto_count = 1;
    return 1;
}

int drv_vx_base_t::get_scan_channel_funcs(plib_scan_channel_funcs_t& funcs) {
    // Channels 1-6 take every voltage, resistance and frequency function; 7-12 lack
    // the 4-wire pairs; 13-16 are the current channels.
    static const std::vector<plib_measure_type_t> channels_1_6 = {
        measure_dcv,    measure_acv, measure_res_2w, measure_res_4w, measure_freq,
        measure_period, measure_cap, measure_cont,   measure_diode,  measure_temp};
    static const std::vector<plib_measure_type_t> channels_7_12 = {
        measure_dcv, measure_acv,  measure_res_2w, measure_freq, measure_period,
        measure_cap, measure_cont, measure_diode,  measure_temp};
    static const std::vector<plib_measure_type_t> channels_13_16 = {measure_dci, measure_aci};
    const int count = get_scan_channel_count();
    for (int channel = 1; channel <= count; ++channel) {
        const auto& list = channel <= 6 ? channels_1_6 : channel <= 12 ? channels_7_12 : channels_13_16;
        funcs.emplace(channel, list);  // keeps a channel already in the map
    }
    return 1;
}

int drv_vx_base_t::get_scan_ranges(plib_measure_type_t type, std::vector<std::string>& ranges) {
    if (type < measure_dcv || type > measure_temp) return 0;
    switch (type) {
        case measure_dcv:
        case measure_acv:
        case measure_freq:
        case measure_period:
            ranges = {"Auto", "200mV", "2V", "20V", "200V"};
            break;
        case measure_dci:
        case measure_aci:
            ranges = {"2A"};
            break;
        case measure_res_2w:
        case measure_res_4w:
            ranges = {"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "1MΩ", "10MΩ", "100MΩ"};
            break;
        case measure_cap:
            ranges = {"Auto", "2nF", "20nF", "200nF", "2uF", "20uF", "200uF", "10000uF"};
            break;
        default:
            ranges.clear();
            break;  // Continuity, Diode, Temperature
    }
    return 1;
}

int drv_vx_base_t::get_scan_limits(plib_scan_limits_t& limits) {
    limits.max_delay = 999.0;
    limits.max_count = 999;
    limits.max_stop_count = 999;
    return 1;
}

int drv_vx_base_t::get_scan_default_channel_param(plib_scanner_channel_map_t& params) {
    plib_scan_channel_funcs_t funcs;
    get_scan_channel_funcs(funcs);
    const int count = get_scan_channel_count();
    for (int channel = 1; channel <= count; ++channel) {
        plib_scanner_channel_param_t param;
        param.scan_counts = 1;
        const auto it = funcs.find(channel);
        if (it != funcs.end() && !it->second.empty()) {
            param.func = it->second.front();
            std::vector<std::string> ranges;
            get_scan_ranges(it->second.front(), ranges);
            if (!ranges.empty()) param.range = ranges.front();
        }
        params[channel] = param;
    }
    return 1;
}

int drv_vx_base_t::get_scan_channel_count() { return 16; }

int drv_vx_base_t::read_scan_data(plib_scan_data_map_t& data) {
    data.clear();
    std::string reply;
    const int status = _query_complete("ROUT:DATA:REMOVE?\n", reply);
    if (status != 0) return status;
    drv_parse_scan_data(reply, data);
    return 0;
}

int drv_vx_base_t::get_scan_state(int& state) {
    std::string reply;
    const int status = _query("ROUT:STAT?\n", reply);
    if (status == 0) drv_parse_scan_state_reply(reply, state);
    return status;
}

int drv_vx_base_t::set_scan(int on) { return _write("ROUT:SCAN " + std::to_string(on) + "\n"); }

int drv_vx_base_t::set_scan_start(int on) { return _write("ROUT:STAR " + std::to_string(on) + "\n"); }

int drv_vx_base_t::set_scan_limits(int low, int high) {
    // Both limits in one write: the instrument takes them as one program message.
    return _write(":ROUT:LIMIT:LOW " + std::to_string(low) + "\n;:ROUT:LIMIT:HIGH " + std::to_string(high) +
                  "\n");
}

int drv_vx_base_t::set_scan_mode(int mode) {
    return _write("ROUT:FUNC " + _keyword(scan_mode_words, mode) + "\n");
}

int drv_vx_base_t::set_scan_delay(double seconds) {
    return _write("ROUT:DEL " + drv_format_double(seconds) + "\n");
}

int drv_vx_base_t::set_scan_channel(int channel, int on, plib_measure_type_t type, std::string range,
                                    int speed, int count) {
    if (type == measure_freq) _write("ROUT:FREQ\n");
    if (type == measure_period) _write("ROUT:PER\n");
    // The card spells milli "ML" and mega "MG" so that the two never read alike.
    if (range.empty()) {
        range = "DEF";
    } else if (type == measure_dcv || type == measure_acv || type == measure_freq || type == measure_period) {
        range = replace_all(range, "m", "ML");
    } else if (type == measure_res_2w || type == measure_res_4w) {
        range = replace_all(replace_all(range, "M", "MG"), ohm_sign, "OHM");
    }
    const std::string speed_text = speed == 0 || speed == 1 ? _keyword(scan_speed_words, speed) : "DEF";
    return _write("ROUT:CHAN " + std::to_string(channel) + "," + (on ? "ON" : "OFF") + "," +
                  measure_short_name(type) + "," + range + "," + speed_text + "," + std::to_string(count) +
                  "\n");
}

int drv_vx_base_t::set_scan_count(int count) { return _write("ROUT:COUNT " + std::to_string(count) + "\n"); }

int drv_vx_base_t::set_scan_count_auto(int on) {
    return _write("ROUT:COUNT:AUTO " + std::to_string(on) + "\n");
}
