#include "cfg/cfg_scan_config.h"

#include "common/plib_format.h"
#include "drv/if/drv_if.h"
#include "nsp_src/lib/lib_assert.h"
#include "scan/scan_main.h"

cfg_scan_config_t::cfg_scan_config_t(drv_if_t* driver, scan_main_t* engine)
    : m_driver(driver), m_engine(engine) {
    NSP_ASSERT(m_driver != nullptr);
    NSP_ASSERT(m_engine != nullptr);
    const uint64_t now = now_us();
    m_start_timestamp = now;
    m_stop_timestamp = now;
    set_record_enable(0);
    set_file_mode(0);
    set_start_mode(0);
    set_start_timestamp(now);
    set_stop_mode(0);
    set_stop_timestamp(now);
    set_stop_duration(0.0);
    plib_scan_record_parameter_set_t count;
    count.kind = scan_param_stop_scan_count;
    count.stop_scan_count = m_stop_scan_count;
    _send(count);
    if (!m_driver) return;
    plib_scan_param_t defaults;
    m_driver->get_scan_default_param(defaults);
    m_scan_mode = defaults.scan_mode;
    m_scan_delay = defaults.scan_delay;
    m_scan_count = defaults.scan_count;
    m_auto_count = defaults.auto_count;
    m_driver->get_scan_default_channel_param(m_channel_params);
    plib_scan_limits_t limits;
    m_driver->get_scan_limits(limits);
    m_max_delay = limits.max_delay;
    m_max_count = limits.max_count;
    // The engine counts sweeps in readings: it needs the default channels' sum too, or a
    // stop after N sweeps would end the run at its first data tick.
    _update_sweep_readings();
}

int cfg_scan_config_t::_send(const plib_scan_record_parameter_set_t& param) {
    if (!m_engine) return -1;
    return m_engine->m_scan_record_parameter_set_msg.send(param);
}

void cfg_scan_config_t::set_record_enable(int on) {
    m_record_enable = on;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_record_enable;
    p.record_enable = on;
    _send(p);
}

void cfg_scan_config_t::set_file_mode(int mode) {
    m_file_mode = mode;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_file_mode;
    p.file_mode = mode;
    _send(p);
}

void cfg_scan_config_t::set_start_mode(int mode) {
    m_start_mode = mode;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_start_mode;
    p.start_mode = mode;
    _send(p);
}

void cfg_scan_config_t::set_start_timestamp(uint64_t t_us) {
    m_start_timestamp = t_us;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_start_timestamp;
    p.start_timestamp = t_us;
    _send(p);
}

void cfg_scan_config_t::set_stop_mode(int mode) {
    m_stop_mode = mode;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_stop_mode;
    p.stop_mode = mode;
    _send(p);
}

void cfg_scan_config_t::set_stop_duration(double seconds) {
    m_stop_duration = seconds;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_stop_duration;
    p.stop_duration = seconds;
    _send(p);
}

void cfg_scan_config_t::set_stop_timestamp(uint64_t t_us) {
    m_stop_timestamp = t_us;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_stop_timestamp;
    p.stop_timestamp = t_us;
    _send(p);
}

void cfg_scan_config_t::set_stop_scan_count(int count) {
    if (count < 1 || count > m_max_count) return;
    m_stop_scan_count = count;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_stop_scan_count;
    p.stop_scan_count = count;
    _send(p);
    set_scan_count(count);
}

void cfg_scan_config_t::set_scan_delay(double seconds) {
    if (seconds >= 0.0 && seconds <= m_max_delay) m_scan_delay = seconds;
}

void cfg_scan_config_t::set_scan_count(int count) {
    if (count >= 1 && count <= m_max_count) m_scan_count = count;
}

void cfg_scan_config_t::_update_sweep_readings() {
    int sum = 0;
    for (const auto& entry : m_channel_params)
        if (entry.second.scan_state != 0 && entry.second.scan_counts > 0) sum += entry.second.scan_counts;
    if (sum == 0) return;
    m_sweep_readings = sum;
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_sweep_readings;
    p.sweep_readings = sum;
    _send(p);
}

void cfg_scan_config_t::set_channel_params(const plib_scanner_channel_map_t& params) {
    for (auto& [channel, stored] : m_channel_params) {
        const auto it = params.find(channel);
        if (it != params.end()) stored = it->second;
    }
    _update_sweep_readings();
}

void cfg_scan_config_t::set_limit_channels(int first, int last) {
    constexpr long long bound = 1000000000LL;
    if (first >= -bound && first <= bound) m_limit_low_channel = first;
    if (last >= -bound && last <= bound) m_limit_high_channel = last;
}

void cfg_scan_config_t::get_channel_funcs(plib_scan_channel_funcs_t& funcs) const {
    m_driver->get_scan_channel_funcs(funcs);
}

void cfg_scan_config_t::get_ranges(int func, std::vector<std::string>& ranges) const {
    m_driver->get_scan_ranges(static_cast<plib_measure_type_t>(func), ranges);
}

int cfg_scan_config_t::query_scan_card(int& state) {
    state = 0;
    if (!m_driver) return -1;
    return m_driver->get_scan_state(state);
}

int cfg_scan_config_t::set_scan_enable(int on) {
    if (!m_driver) return -1;
    const int r = m_driver->set_scan(on);
    m_scan_enable = on;
    return r;
}

int cfg_scan_config_t::apply_scan_config() {
    if (!m_driver) return -1;
    int first_failure = 0;
    auto keep = [&first_failure](int r) {
        if (r != 0 && first_failure == 0) first_failure = r;
    };
    keep(set_scan_enable(1));
    for (const auto& [channel, p] : m_channel_params)
        keep(m_driver->set_scan_channel(channel, p.scan_state, static_cast<plib_measure_type_t>(p.func),
                                        p.range, p.speed, p.scan_counts));
    keep(m_driver->set_scan_limits(m_limit_low_channel, m_limit_high_channel));
    keep(m_driver->set_scan_mode(m_scan_mode));
    keep(m_driver->set_scan_delay(m_scan_delay));
    keep(m_driver->set_scan_count(m_scan_count));
    keep(m_driver->set_scan_count_auto(m_auto_count));
    return first_failure;
}

int cfg_scan_config_t::export_data(const std::string& directory) {
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_export_data;
    p.export_path = directory;
    return _send(p);
}

void cfg_scan_config_t::clear_data() {
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_clear_data;
    _send(p);
}

void cfg_scan_config_t::set_poll_interval(int ms) {
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_poll_interval;
    p.poll_interval_ms = ms;
    _send(p);
}
