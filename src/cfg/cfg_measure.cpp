// Measurement configuration: driver first, then store (see cfg_measure.h).
#include "cfg/cfg_measure.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <system_error>

#include "acq/acq_main.h"
#include "common/plib_format.h"
#include "common/plib_number.h"
#include "drv/if/drv_if.h"
#include "nsp_src/lib/lib_assert.h"

namespace {
plib_measure_type_t as_type(int f) { return static_cast<plib_measure_type_t>(f); }
}  // namespace

cfg_measure_t::cfg_measure_t(drv_if_t* driver, acq_main_t* engine) : m_pdrv(driver), m_pacq(engine) {
    if (m_pdrv != nullptr) m_pdrv->get_default_cfg_map(m_cfg_map);
    set_acq_mode(acq_mode_continuous);
    reset_acq_param();
}

int cfg_measure_t::resolve_function(int f) const {
    if (f == measure_period && m_pdrv != nullptr) {
        drv_freq_caps_t caps;
        m_pdrv->get_period_caps(caps);
        if (caps.freq_shared) return measure_freq;
    }
    return f;
}

bool cfg_measure_t::has_function(int f) const {
    const int key = resolve_function(f);
    std::lock_guard<std::mutex> lock(m_store_mutex);
    return m_cfg_map.count(key) != 0;
}

namespace {
// The impedance choice the model offers on its impedance ranges.
const std::vector<std::string> impedance_choices = {"10M", "10G"};

bool number_within(const std::string& text, double min, double max) {
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(v) && v >= min && v <= max;
}
bool listed(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// One function's lists and limits, gathered from whichever capability record it has.
struct func_offer_t {
    std::vector<std::string> ranges, speeds, bandwidths, apertures, impedances;
    double rel_min = 0.0, rel_max = 0.0, threshold_min = 0.0, threshold_max = 0.0;
};

template <typename caps_t>
void take_common(func_offer_t& o, const caps_t& c) {
    o.ranges = c.ranges;
    o.rel_min = c.rel_min;
    o.rel_max = c.rel_max;
}

func_offer_t offer_of(drv_if_t& drv, int f) {
    func_offer_t o;
    switch (f) {
        case measure_dcv: {
            drv_dcv_caps_t c;
            drv.get_dcv_caps(c);
            take_common(o, c);
            o.speeds = c.speeds;
            if (!c.impedance_ranges.empty()) o.impedances = impedance_choices;
            break;
        }
        case measure_dci: {
            drv_dci_caps_t c;
            drv.get_dci_caps(c);
            take_common(o, c);
            o.speeds = c.speeds;
            break;
        }
        case measure_acv:
        case measure_aci: {
            drv_ac_caps_t c;
            if (f == measure_acv)
                drv.get_acv_caps(c);
            else
                drv.get_aci_caps(c);
            take_common(o, c);
            o.speeds = c.speeds;
            o.bandwidths = c.bandwidths;
            break;
        }
        case measure_res_2w:
        case measure_res_4w: {
            drv_res_caps_t c;
            if (f == measure_res_2w)
                drv.get_res2w_caps(c);
            else
                drv.get_res4w_caps(c);
            take_common(o, c);
            o.speeds = c.speeds;
            break;
        }
        case measure_cap: {
            drv_cap_caps_t c;
            drv.get_cap_caps(c);
            take_common(o, c);
            break;
        }
        case measure_freq:
        case measure_period: {
            drv_freq_caps_t c;
            if (f == measure_freq)
                drv.get_freq_caps(c);
            else
                drv.get_period_caps(c);
            take_common(o, c);
            o.apertures = c.apertures;
            break;
        }
        case measure_cont: {
            drv_cont_caps_t c;
            drv.get_cont_caps(c);
            o.threshold_min = c.threshold_min;
            o.threshold_max = c.threshold_max;
            break;
        }
        case measure_diode: {
            drv_diode_caps_t c;
            drv.get_diode_caps(c);
            o.threshold_min = c.threshold_min;
            o.threshold_max = c.threshold_max;
            break;
        }
        case measure_temp: {
            drv_temp_caps_t c;
            drv.get_temp_caps(c);
            o.rel_min = c.rel_min;
            o.rel_max = c.rel_max;
            break;
        }
        default:
            break;
    }
    return o;
}
}  // namespace

bool cfg_measure_t::offers(int f, cfg_text_setting_t s, const std::string& value) const {
    if (value.empty()) return true;
    if (m_pdrv == nullptr) return false;
    const func_offer_t o = offer_of(*m_pdrv, f);
    // A setting the model does not have for f is never sent: its value is only carried.
    auto in_list = [&value](const std::vector<std::string>& list) {
        return list.empty() || listed(list, value);
    };
    auto in_limits = [&value](double min, double max) {
        return !(max > min) || number_within(value, min, max);
    };
    switch (s) {
        case cfg_text_setting_t::range:
            return in_list(o.ranges);
        case cfg_text_setting_t::nplc:
            return in_list(o.speeds);
        case cfg_text_setting_t::impedance:
            return in_list(o.impedances);
        case cfg_text_setting_t::bandwidth:
            return in_list(o.bandwidths);
        case cfg_text_setting_t::aperture:
            return in_list(o.apertures);
        case cfg_text_setting_t::rel_value:
            return in_limits(o.rel_min, o.rel_max);
        case cfg_text_setting_t::threshold:
            return in_limits(o.threshold_min, o.threshold_max);
    }
    return false;
}

std::string cfg_measure_t::offered_text(int f, cfg_text_setting_t s) const {
    if (m_pdrv == nullptr) return std::string();
    const func_offer_t o = offer_of(*m_pdrv, f);
    auto list_text = [](const std::vector<std::string>& list) {
        std::string text;
        for (const std::string& v : list) text += (text.empty() ? "" : ", ") + v;
        return text;
    };
    auto limits_text = [](double min, double max) {
        return max > min ? "a number from " + format_general(min, 10) + " to " + format_general(max, 10)
                         : std::string();
    };
    switch (s) {
        case cfg_text_setting_t::range:
            return list_text(o.ranges);
        case cfg_text_setting_t::nplc:
            return list_text(o.speeds);
        case cfg_text_setting_t::impedance:
            return list_text(o.impedances);
        case cfg_text_setting_t::bandwidth:
            return list_text(o.bandwidths);
        case cfg_text_setting_t::aperture:
            return list_text(o.apertures);
        case cfg_text_setting_t::rel_value:
            return limits_text(o.rel_min, o.rel_max);
        case cfg_text_setting_t::threshold:
            return limits_text(o.threshold_min, o.threshold_max);
    }
    return std::string();
}

const plib_measure_func_cfg_t* cfg_measure_t::_find(int f) const {
    auto it = m_cfg_map.find(resolve_function(f));
    NSP_ASSERT(it != m_cfg_map.end());
    return it == m_cfg_map.end() ? nullptr : &it->second;
}

plib_measure_func_cfg_t& cfg_measure_t::_entry(int f) {
    auto it = m_cfg_map.find(resolve_function(f));
    NSP_ASSERT(it != m_cfg_map.end());
    if (it != m_cfg_map.end()) return it->second;
    // A function the model lacks: the value goes nowhere, the map keeps its keys.
    static thread_local plib_measure_func_cfg_t scratch;
    scratch = plib_measure_func_cfg_t();
    return scratch;
}

int cfg_measure_t::set_function(int f) {
    {
        std::lock_guard<std::mutex> lock(m_store_mutex);
        m_function = f;
    }
    return m_pdrv->set_function(as_type(f));
}

int cfg_measure_t::send_function(int f) const { return m_pdrv->set_function(as_type(f)); }

void cfg_measure_t::store_function(int f) {
    std::lock_guard<std::mutex> lock(m_store_mutex);
    m_function = f;
}

int cfg_measure_t::get_function() const {
    std::lock_guard<std::mutex> lock(m_store_mutex);
    return m_function;
}

#define CFG_GET(field, fallback)                     \
    std::lock_guard<std::mutex> lock(m_store_mutex); \
    const plib_measure_func_cfg_t* e = _find(f);     \
    return e ? e->field : fallback

// Stores into the record of f under the store lock.
#define CFG_STORE(f, statement)                          \
    do {                                                 \
        std::lock_guard<std::mutex> lock(m_store_mutex); \
        plib_measure_func_cfg_t& e = _entry(f);          \
        statement;                                       \
    } while (0)

namespace {
// The instrument refused a value before anything was sent (see _refused).
constexpr int status_refused = -1;
}  // namespace

int cfg_measure_t::set_auto_range(int f, int on) {
    const int status = m_pdrv->set_range_auto(as_type(f), on);
    CFG_STORE(f, e.auto_range = on);
    return status;
}
int cfg_measure_t::get_auto_range(int f) const { CFG_GET(auto_range, 0); }

namespace {
// A setting sent inside a SCPI command: a control character would end the command and
// start another, ';' would chain one. Refused before anything reaches the driver.
bool _refused(const char* what, std::string_view text, bool name = false) {
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || (c == ';' && !name)) {
            std::printf("Measure value refused: %s holds a control character or command separator\n", what);
            std::fflush(stdout);
            return true;
        }
    }
    return false;
}
}  // namespace

int cfg_measure_t::set_range(int f, const std::string& range) {
    if (_refused("range", range)) return status_refused;
    const int status = m_pdrv->set_range(as_type(f), range);
    CFG_STORE(f, {
        e.range = range;
        e.auto_range = 0;
    });
    return status;
}
std::string cfg_measure_t::get_range(int f) const { CFG_GET(range, std::string()); }

std::string cfg_measure_t::read_range(int f) {
    std::string text = query_range(f);
    store_read_range(f, text);
    return text;
}

std::string cfg_measure_t::query_range(int f) const {
    double value = 0.0;
    // A failed or unreadable answer names no range (a "0V" range would be saved with the
    // project and refused by the instrument later).
    if (m_pdrv->get_range(as_type(f), value) != 0 || !std::isfinite(value) || value <= 0.0)
        return std::string();
    return value_to_range_text(value, as_type(resolve_function(f)));
}

void cfg_measure_t::store_read_range(int f, const std::string& range) {
    if (!range.empty()) CFG_STORE(f, e.range = range);
}

int cfg_measure_t::set_nplc(int f, const std::string& nplc) {
    if (_refused("nplc", nplc)) return status_refused;
    const int status = m_pdrv->set_nplc(as_type(f), nplc);
    CFG_STORE(f, e.nplc = nplc);
    return status;
}
std::string cfg_measure_t::get_nplc(int f) const { CFG_GET(nplc, std::string()); }

int cfg_measure_t::set_rel_value(int f, const std::string& value) {
    if (_refused("rel_value", value)) return status_refused;
    const int status = m_pdrv->set_null_value(as_type(f), value);
    CFG_STORE(f, e.rel_value = value);
    return status;
}
std::string cfg_measure_t::get_rel_value(int f) const { CFG_GET(rel_value, std::string()); }

int cfg_measure_t::set_rel_state(int f, int on) {
    int status = m_pdrv->set_null(as_type(f), on);
    CFG_STORE(f, e.rel_state = on);
    if (on != 0) {
        std::string value;
        const int read = m_pdrv->get_null_value(as_type(f), value);
        if (status == 0) status = read;
        CFG_STORE(f, e.rel_value = value);
    }
    return status;
}
int cfg_measure_t::get_rel_state(int f) const { CFG_GET(rel_state, 0); }

int cfg_measure_t::set_impedance(const std::string& impedance) {
    if (_refused("impedance", impedance)) return status_refused;
    const int status = m_pdrv->set_volt_impedance(impedance);
    CFG_STORE(measure_dcv, e.impedance = impedance);
    return status;
}
std::string cfg_measure_t::get_impedance() const {
    const int f = measure_dcv;
    CFG_GET(impedance, std::string());
}

int cfg_measure_t::set_filter(int f, int on) {
    const int status = m_pdrv->set_filter(as_type(f), on);
    CFG_STORE(f, e.filter = on);
    return status;
}
int cfg_measure_t::get_filter(int f) const { CFG_GET(filter, 0); }

int cfg_measure_t::set_auto_zero(int f, int on) {
    const int status = m_pdrv->set_auto_zero(as_type(f), on);
    CFG_STORE(f, e.auto_zero = on);
    return status;
}
int cfg_measure_t::get_auto_zero(int f) const { CFG_GET(auto_zero, 0); }

int cfg_measure_t::set_bandwidth(int f, const std::string& bandwidth) {
    if (_refused("bandwidth", bandwidth)) return status_refused;
    const int status = m_pdrv->set_bandwidth(as_type(f), bandwidth);
    CFG_STORE(f, e.bandwidth = bandwidth);
    return status;
}
std::string cfg_measure_t::get_bandwidth(int f) const { CFG_GET(bandwidth, std::string()); }

int cfg_measure_t::set_diverter(int f, int v) {
    int status = m_pdrv->set_diverter(as_type(f), v);
    CFG_STORE(f, e.diverter = v);
    if (v == 1) {
        const int ranged = set_auto_range(f, 1);
        if (status == 0) status = ranged;
    }
    return status;
}
int cfg_measure_t::get_diverter(int f) const { CFG_GET(diverter, 0); }

int cfg_measure_t::set_aperture(int f, const std::string& aperture) {
    if (_refused("aperture", aperture)) return status_refused;
    const int status = m_pdrv->set_aperture(as_type(f), aperture);
    CFG_STORE(f, e.aperture = aperture);
    return status;
}
std::string cfg_measure_t::get_aperture(int f) const { CFG_GET(aperture, std::string()); }

int cfg_measure_t::set_beeper(int f, int v) {
    drv_cont_caps_t caps;
    m_pdrv->get_cont_caps(caps);
    {
        std::lock_guard<std::mutex> lock(m_store_mutex);
        if (caps.beeper_shared) {
            if (m_cfg_map.count(measure_cont) != 0) m_cfg_map[measure_cont].beeper = v;
            if (m_cfg_map.count(measure_diode) != 0) m_cfg_map[measure_diode].beeper = v;
        } else {
            _entry(f).beeper = v;
        }
    }
    return m_pdrv->set_beep(as_type(f), v);
}
int cfg_measure_t::get_beeper(int f) const { CFG_GET(beeper, 0); }

int cfg_measure_t::set_threshold(int f, const std::string& threshold) {
    if (_refused("threshold", threshold)) return status_refused;
    const int status = m_pdrv->set_threshold(as_type(f), threshold);
    CFG_STORE(f, e.threshold = threshold);
    return status;
}
std::string cfg_measure_t::get_threshold(int f) const { CFG_GET(threshold, std::string()); }

int cfg_measure_t::set_temp_unit(int v) {
    const int status = m_pdrv->set_temp_unit(v);
    CFG_STORE(measure_temp, e.temp_unit = v);
    return status;
}
int cfg_measure_t::get_temp_unit() const {
    const int f = measure_temp;
    CFG_GET(temp_unit, 0);
}
int cfg_measure_t::set_temp_display(int v) {
    const int status = m_pdrv->set_temp_type(v);
    CFG_STORE(measure_temp, e.temp_display = v);
    return status;
}
int cfg_measure_t::get_temp_display() const {
    const int f = measure_temp;
    CFG_GET(temp_display, 0);
}
int cfg_measure_t::set_temp_source(int v) {
    const int status = m_pdrv->set_temp_ref_source(v);
    CFG_STORE(measure_temp, e.temp_source = v);
    return status;
}
int cfg_measure_t::get_temp_source() const {
    const int f = measure_temp;
    CFG_GET(temp_source, 0);
}
int cfg_measure_t::set_temp_ext_source_val(const std::string& value) {
    if (_refused("temp_ext_source_val", value)) return status_refused;
    const int status = m_pdrv->set_temp_ref_value(value);
    CFG_STORE(measure_temp, e.temp_ext_source_val = value);
    return status;
}
std::string cfg_measure_t::get_temp_ext_source_val() const {
    const int f = measure_temp;
    CFG_GET(temp_ext_source_val, std::string());
}
int cfg_measure_t::set_temp_sensor(const plib_temp_sensor_t& sensor) {
    // Sent unquoted inside the command: refused like every setting (no ';' either).
    if (_refused("temp_sensor", sensor.name)) return status_refused;
    const int status = m_pdrv->set_temp_transducer(sensor);
    CFG_STORE(measure_temp, e.temp_sensor = sensor);
    return status;
}
plib_temp_sensor_t cfg_measure_t::get_temp_sensor() const {
    const int f = measure_temp;
    CFG_GET(temp_sensor, plib_temp_sensor_t());
}
int cfg_measure_t::sync_udef_sensors(std::vector<plib_udef_sensor_t>& out) {
    out.clear();
    const int status = m_pdrv->get_udef_tran_lists(out);
    CFG_STORE(measure_temp, e.udef_sensor = out);
    return status;
}
#undef CFG_GET
#undef CFG_STORE

plib_measure_cfg_map_t cfg_measure_t::cfg_map_copy() const {
    std::lock_guard<std::mutex> lock(m_store_mutex);
    return m_cfg_map;
}

cfg_measure_settings_t cfg_measure_t::stored_settings() const {
    std::lock_guard<std::mutex> lock(m_store_mutex);
    return {m_function, m_cfg_map};
}

void cfg_measure_t::restore_settings(const cfg_measure_settings_t& settings) {
    std::lock_guard<std::mutex> lock(m_store_mutex);
    m_function = settings.function;
    // The keys never change: only records of keys the model has are taken back.
    for (auto& [key, entry] : m_cfg_map) {
        const auto it = settings.cfg_map.find(key);
        if (it != settings.cfg_map.end()) entry = it->second;
    }
}

void cfg_measure_t::apply_to_instrument() {
    const cfg_measure_settings_t settings = stored_settings();
    m_pdrv->apply_cfg_map(settings.cfg_map);
    m_pdrv->set_function(as_type(settings.function));
}

plib_measure_cfg_t cfg_measure_t::snapshot() const {
    plib_measure_cfg_t s;
    {
        std::lock_guard<std::mutex> lock(m_store_mutex);
        s.function = m_function;
        s.cfg_map = m_cfg_map;
    }
    s.acq_mode = m_acq_mode.load();
    s.buffer_mode = m_buffer_mode;
    s.record_position = m_record_position;
    s.auto_stop_mode = m_auto_stop_mode;
    s.stop_time = m_stop_time;
    s.stop_num = m_stop_num;
    s.interval_ms = m_interval_ms;
    s.auto_enable = m_auto_enable;
    s.record_directory = m_record_directory;
    s.export_path = m_export_path;
    return s;
}

void cfg_measure_t::apply_snapshot(const plib_measure_cfg_t& s) {
    restore_settings({s.function, s.cfg_map});
    set_acq_mode(s.acq_mode);
    m_buffer_mode = s.buffer_mode;
    m_record_position = s.record_position;
    m_stop_time = s.stop_time;
    m_auto_stop_mode = s.auto_stop_mode;
    m_stop_num = s.stop_num;
    m_interval_ms = s.interval_ms;
    m_auto_enable = s.auto_enable;
    m_record_directory = s.record_directory;
    m_export_path = s.export_path;
    plib_acq_param_t p;
    p.buffer_mode = m_buffer_mode;
    p.record_position = m_record_position;
    p.auto_stop_mode = m_auto_stop_mode;
    p.stop_time = m_stop_time;
    p.stop_num = static_cast<int>(m_stop_num);
    p.interval_ms = m_interval_ms;
    p.auto_enable = m_auto_enable;
    p.record_directory = m_record_directory;
    p.export_path = m_export_path;
    apply_acq_param(p);
}

void cfg_measure_t::reset_acq_param() { apply_acq_param(plib_acq_param_t()); }

void cfg_measure_t::apply_acq_param(const plib_acq_param_t& p) {
    set_buffer_mode(p.buffer_mode);
    set_record_position(p.record_position);
    set_record_directory(p.record_directory);
    set_auto_enable(p.auto_enable);
    set_auto_stop_mode(p.auto_stop_mode);
    set_stop_time(p.stop_time);
    set_stop_num(static_cast<uint32_t>(p.stop_num));
}

int cfg_measure_t::_send_record_parameter(const plib_record_parameter_set_msg_t& param) {
    if (m_pacq == nullptr) return -1;
    return m_pacq->m_acq_record_parameter_data_msg.send(param);
}

void cfg_measure_t::set_acq_mode(int v) {
    m_acq_mode = v;
    if (m_pacq == nullptr) return;
    // On the caller's thread: the engine thread stays free while a fetch in flight ends.
    m_pacq->set_mode(v);
}

void cfg_measure_t::set_buffer_mode(int v) {
    m_buffer_mode = v;
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_buffer_mode;
    p.buffer_mode = v;
    _send_record_parameter(p);
}

void cfg_measure_t::set_record_position(int v) {
    m_record_position = v;
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_record_enable;
    p.record_enable = v;
    _send_record_parameter(p);
}

void cfg_measure_t::set_interval_ms(int v) {
    m_interval_ms = v;
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_interval;
    p.interval_ms = v;
    _send_record_parameter(p);
}

void cfg_measure_t::set_auto_stop_mode(int v) {
    m_auto_stop_mode = v;
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_auto_stop_mode;
    p.auto_stop_mode = v;
    _send_record_parameter(p);
}

void cfg_measure_t::set_stop_time(double seconds) {
    m_stop_time = seconds;
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_stop_time;
    p.stop_time = seconds;
    _send_record_parameter(p);
}

void cfg_measure_t::set_stop_num(uint32_t n) {
    m_stop_num = n;
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_stop_num;
    p.stop_num = static_cast<int>(n);
    _send_record_parameter(p);
}

void cfg_measure_t::set_auto_enable(bool b) {
    m_auto_enable = b;
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_auto_stop_enable;
    p.auto_stop_enable = b;
    _send_record_parameter(p);
}

void cfg_measure_t::clear_data() {
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_clear;
    _send_record_parameter(p);
}

int cfg_measure_t::export_data(const std::string& path) {
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_export;
    p.export_path = path;
    return _send_record_parameter(p);
}
