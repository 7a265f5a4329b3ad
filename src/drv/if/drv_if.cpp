#include "drv/if/drv_if.h"

#include <utility>

#include "common/plib_model_registry.h"
#include "drv/drv_vxa.h"
#include "drv/drv_vxb.h"
#include "nsp_src/lib/lib_assert.h"

std::unique_ptr<drv_vx_base_t> create_driver(drv_link_t* link, const std::string& model) {
    switch (model_registry_t::instance().family_of(model)) {
        case model_registry_t::family_vxa:
            if (model == plib_model_vxa_1) return std::make_unique<drv_vxa_1_t>(link);
            if (model == plib_model_vxa_2 || model == plib_model_vxa_2e)
                return std::make_unique<drv_vxa_2_t>(link);
            if (model == plib_model_vxa_3) return std::make_unique<drv_vxa_3_t>(link);
            return nullptr;
        case model_registry_t::family_vxb:
            if (model == plib_model_vxb_1) return std::make_unique<drv_vxb_1_t>(link);
            if (model == plib_model_vxb_2) return std::make_unique<drv_vxb_2_t>(link);
            if (model == plib_model_vxb_3) return std::make_unique<drv_vxb_3_t>(link);
            return nullptr;
        default:
            return nullptr;
    }
}

drv_if_t::drv_if_t(drv_link_t* link, const std::string& model)
    : m_model(model), m_pvx_base(create_driver(link, model)) {
    NSP_ASSERT(m_pvx_base != nullptr);
}

// Every forwarder checks the driver: a holder without one answers 0 (or does nothing).

int drv_if_t::get_dcv_caps(drv_dcv_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_dcv_caps(caps) : 0;
}

int drv_if_t::get_acv_caps(drv_ac_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_acv_caps(caps) : 0;
}

int drv_if_t::get_dci_caps(drv_dci_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_dci_caps(caps) : 0;
}

int drv_if_t::get_aci_caps(drv_ac_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_aci_caps(caps) : 0;
}

int drv_if_t::get_res2w_caps(drv_res_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_res2w_caps(caps) : 0;
}

int drv_if_t::get_res4w_caps(drv_res_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_res4w_caps(caps) : 0;
}

int drv_if_t::get_cap_caps(drv_cap_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_cap_caps(caps) : 0;
}

int drv_if_t::get_freq_caps(drv_freq_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_freq_caps(caps) : 0;
}

int drv_if_t::get_period_caps(drv_freq_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_period_caps(caps) : 0;
}

int drv_if_t::get_cont_caps(drv_cont_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_cont_caps(caps) : 0;
}

int drv_if_t::get_diode_caps(drv_diode_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_diode_caps(caps) : 0;
}

int drv_if_t::get_temp_caps(drv_temp_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_temp_caps(caps) : 0;
}

int drv_if_t::get_sensor_caps(drv_sensor_caps_t& caps) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_sensor_caps(caps) : 0;
}

void drv_if_t::get_default_cfg_map(plib_measure_cfg_map_t& cfg_map) {
    if (NSP_ASSERT(m_pvx_base != nullptr)) m_pvx_base->get_default_cfg_map(cfg_map);
}

void drv_if_t::apply_cfg_map(plib_measure_cfg_map_t cfg_map) {
    if (NSP_ASSERT(m_pvx_base != nullptr)) m_pvx_base->apply_cfg_map(std::move(cfg_map));
}

int drv_if_t::init() { return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->init() : 0; }

int drv_if_t::abort() { return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->abort() : 0; }

int drv_if_t::set_trig_count_inf() {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_trig_count_inf() : 0;
}

int drv_if_t::set_trig_count(int count) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_trig_count(count) : 0;
}

int drv_if_t::set_sample_count(int count) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_sample_count(count) : 0;
}

int drv_if_t::get_private_model_name(std::string& name) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_private_model_name(name) : 0;
}

int drv_if_t::read_measure_data(std::vector<plib_data_t>& data) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->read_measure_data(data) : 0;
}

uint64_t drv_if_t::take_dropped_readings() {
    return m_pvx_base != nullptr ? m_pvx_base->take_dropped_readings() : 0;
}

int drv_if_t::read_data(std::vector<plib_data_t>& data) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->read_data(data) : 0;
}

int drv_if_t::get_range(plib_measure_type_t type, double& range) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_range(type, range) : 0;
}

int drv_if_t::get_null_value(plib_measure_type_t type, std::string& value) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_null_value(type, value) : 0;
}

int drv_if_t::get_udef_tran_lists(std::vector<drv_temp_sensor_t>& sensors) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_udef_tran_lists(sensors) : 0;
}

int drv_if_t::set_function(plib_measure_type_t type) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_function(type) : 0;
}

int drv_if_t::set_range_auto(plib_measure_type_t type, int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_range_auto(type, on) : 0;
}

int drv_if_t::set_range(plib_measure_type_t type, std::string range) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_range(type, std::move(range)) : 0;
}

int drv_if_t::set_nplc(plib_measure_type_t type, std::string nplc) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_nplc(type, std::move(nplc)) : 0;
}

int drv_if_t::set_null_value(plib_measure_type_t type, std::string value) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_null_value(type, std::move(value)) : 0;
}

int drv_if_t::set_null(plib_measure_type_t type, int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_null(type, on) : 0;
}

int drv_if_t::set_volt_impedance(std::string impedance) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_volt_impedance(std::move(impedance)) : 0;
}

int drv_if_t::set_filter(plib_measure_type_t type, int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_filter(type, on) : 0;
}

int drv_if_t::set_auto_zero(plib_measure_type_t type, int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_auto_zero(type, on) : 0;
}

int drv_if_t::set_bandwidth(plib_measure_type_t type, std::string bandwidth) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_bandwidth(type, std::move(bandwidth)) : 0;
}

int drv_if_t::set_diverter(plib_measure_type_t type, int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_diverter(type, on) : 0;
}

int drv_if_t::set_aperture(plib_measure_type_t type, std::string aperture) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_aperture(type, std::move(aperture)) : 0;
}

int drv_if_t::set_beep(plib_measure_type_t type, int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_beep(type, on) : 0;
}

int drv_if_t::set_threshold(plib_measure_type_t type, std::string threshold) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_threshold(type, std::move(threshold)) : 0;
}

int drv_if_t::set_temp_transducer(drv_temp_sensor_t sensor) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_temp_transducer(std::move(sensor)) : 0;
}

int drv_if_t::set_temp_type(int type) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_temp_type(type) : 0;
}

int drv_if_t::set_temp_unit(int unit) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_temp_unit(unit) : 0;
}

int drv_if_t::set_temp_ref_source(int source) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_temp_ref_source(source) : 0;
}

int drv_if_t::set_temp_ref_value(std::string value) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_temp_ref_value(std::move(value)) : 0;
}

int drv_if_t::get_scan_default_param(plib_scan_param_t& param) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_scan_default_param(param) : 0;
}

int drv_if_t::get_scan_channel_funcs(plib_scan_channel_funcs_t& funcs) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_scan_channel_funcs(funcs) : 0;
}

int drv_if_t::get_scan_ranges(plib_measure_type_t type, std::vector<std::string>& ranges) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_scan_ranges(type, ranges) : 0;
}

int drv_if_t::get_scan_limits(plib_scan_limits_t& limits) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_scan_limits(limits) : 0;
}

int drv_if_t::get_scan_default_channel_param(plib_scanner_channel_map_t& params) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_scan_default_channel_param(params) : 0;
}

int drv_if_t::get_scan_channel_count() {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_scan_channel_count() : 0;
}

int drv_if_t::read_scan_data(plib_scan_data_map_t& data) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->read_scan_data(data) : 0;
}

int drv_if_t::get_scan_state(int& state) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_scan_state(state) : 0;
}

int drv_if_t::set_scan(int on) { return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_scan(on) : 0; }

int drv_if_t::set_scan_start(int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_scan_start(on) : 0;
}

int drv_if_t::set_scan_limits(int low, int high) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_scan_limits(low, high) : 0;
}

int drv_if_t::set_scan_mode(int mode) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_scan_mode(mode) : 0;
}

int drv_if_t::set_scan_delay(double seconds) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_scan_delay(seconds) : 0;
}

int drv_if_t::set_scan_channel(int channel, int on, plib_measure_type_t type, std::string range, int speed,
                               int count) {
    return NSP_ASSERT(m_pvx_base != nullptr)
               ? m_pvx_base->set_scan_channel(channel, on, type, std::move(range), speed, count)
               : 0;
}

int drv_if_t::set_scan_count(int count) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_scan_count(count) : 0;
}

int drv_if_t::set_scan_count_auto(int on) {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->set_scan_count_auto(on) : 0;
}

int drv_if_t::reset() { return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->reset() : 0; }

void drv_if_t::set_session(unsigned long session) {
    if (NSP_ASSERT(m_pvx_base != nullptr)) m_pvx_base->set_session(session);
}

unsigned long drv_if_t::get_session() const {
    return NSP_ASSERT(m_pvx_base != nullptr) ? m_pvx_base->get_session() : 0;
}
