#include "drv/drv_vx_model.h"

#include "nsp_src/lib/lib_assert.h"

namespace {

template <typename caps_t>
int _copy(caps_t& caps, const caps_t& table) {
    caps = table;
    return 1;
}

}  // namespace

int drv_vx_model_t::get_dcv_caps(drv_dcv_caps_t& caps) { return _copy(caps, m_table.dcv); }
int drv_vx_model_t::get_acv_caps(drv_ac_caps_t& caps) { return _copy(caps, m_table.acv); }
int drv_vx_model_t::get_dci_caps(drv_dci_caps_t& caps) { return _copy(caps, m_table.dci); }
int drv_vx_model_t::get_aci_caps(drv_ac_caps_t& caps) { return _copy(caps, m_table.aci); }
int drv_vx_model_t::get_res2w_caps(drv_res_caps_t& caps) { return _copy(caps, m_table.res); }
int drv_vx_model_t::get_res4w_caps(drv_res_caps_t& caps) { return _copy(caps, m_table.res); }
int drv_vx_model_t::get_cap_caps(drv_cap_caps_t& caps) { return _copy(caps, m_table.cap); }
int drv_vx_model_t::get_freq_caps(drv_freq_caps_t& caps) { return _copy(caps, m_table.freq); }
int drv_vx_model_t::get_period_caps(drv_freq_caps_t& caps) { return _copy(caps, m_table.period); }
int drv_vx_model_t::get_cont_caps(drv_cont_caps_t& caps) { return _copy(caps, m_table.cont); }
int drv_vx_model_t::get_diode_caps(drv_diode_caps_t& caps) { return _copy(caps, m_table.diode); }
int drv_vx_model_t::get_temp_caps(drv_temp_caps_t& caps) { return _copy(caps, m_table.temp); }
int drv_vx_model_t::get_sensor_caps(drv_sensor_caps_t& caps) { return _copy(caps, m_table.sensor); }

void drv_vx_model_t::get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) {
    for (const auto& entry : m_table.defaults) cfg_map[entry.first] = entry.second;
}

void drv_vx_model_t::apply_cfg_map(plib_measure_cfg_map_t cfg_map) {
    for (const drv_transfer_step_t& step : m_table.transfer) {
        const auto it = cfg_map.find(step.type);
        if (!NSP_ASSERT(it != cfg_map.end())) continue;
        // Lowest bit first: that is the order the settings go out in.
        for (unsigned bit = 1; bit != 0 && bit <= step.settings; bit <<= 1) {
            if ((step.settings & bit) != 0) _send(step.type, static_cast<drv_send_t>(bit), it->second);
        }
    }
}

void drv_vx_model_t::_send(plib_measure_type_t type, drv_send_t setting, const plib_measure_func_cfg_t& cfg) {
    switch (setting) {
        case drv_send_range:
            set_range(type, cfg.range);
            break;
        case drv_send_range_auto:
            set_range_auto(type, cfg.auto_range);
            break;
        case drv_send_nplc:
            set_nplc(type, cfg.nplc);
            break;
        case drv_send_null:
            set_null(type, cfg.rel_state);
            break;
        case drv_send_null_value:
            set_null_value(type, cfg.rel_value);
            break;
        case drv_send_filter:
            set_filter(type, cfg.filter);
            break;
        case drv_send_auto_zero:
            set_auto_zero(type, cfg.auto_zero);
            break;
        case drv_send_volt_impedance:
            set_volt_impedance(cfg.impedance);
            break;
        case drv_send_bandwidth:
            set_bandwidth(type, cfg.bandwidth);
            break;
        case drv_send_diverter:
            set_diverter(type, cfg.diverter);
            break;
        case drv_send_aperture:
            set_aperture(type, cfg.aperture);
            break;
        case drv_send_beep:
            set_beep(type, cfg.beeper);
            break;
        case drv_send_threshold:
            set_threshold(type, cfg.threshold);
            break;
    }
}
