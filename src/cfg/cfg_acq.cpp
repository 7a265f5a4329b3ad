#include "cfg/cfg_acq.h"

#include <iostream>

#include "acq/acq_main.h"
#include "acq/acq_record_file.h"
#include "cfg/cfg_main.h"
#include "common/plib_format.h"

cfg_acq_t::cfg_acq_t(cfg_main_t* facade, acq_main_t* engine) : m_pfacade(facade), m_pacq(engine) {
    if (m_pacq != nullptr)
        m_pacq->set_record_info_callback(
            [this](plib_acq_file_record_param_t& param) { _get_file_record_info(param); });
}

cfg_acq_t::~cfg_acq_t() {
    // The engine outlives the facade: it must not call back into a deleted object.
    if (m_pacq != nullptr) m_pacq->set_record_info_callback(nullptr);
}

void cfg_acq_t::set_run_state(int s) {
    if (m_pacq == nullptr) return;
    int state = s;
    if (s == 1) {
        const cfg_remote_info_t info = m_pfacade->get_info();
        state = m_pfacade->get_scan_run_state() != 0 ? 0 : (info.connected ? 1 : 0);
    }
    m_pacq->set_run_state(state);
}

int cfg_acq_t::get_run_state() const { return m_pacq != nullptr ? m_pacq->get_run_state() : 0; }

void cfg_acq_t::restart() {
    if (m_pacq != nullptr && m_pacq->get_run_state() != 0) m_pacq->set_run_state(0);
    set_run_state(1);
}

int cfg_acq_t::trigger_once() { return m_pacq != nullptr ? m_pacq->m_acq_trig_msg.send() : -1; }

plib_record_run_state_info_t cfg_acq_t::get_run_state_info() const {
    plib_record_run_state_info_t info;
    if (m_pacq != nullptr) m_pacq->m_acq_record_run_state_info_msg.fetch(info);
    return info;
}

bool cfg_acq_t::is_recording() const { return get_run_state_info().recording; }
double cfg_acq_t::get_elapsed_s() const { return get_run_state_info().elapsed_s; }
uint32_t cfg_acq_t::get_total_count() const { return get_run_state_info().total_count; }

void cfg_acq_t::_get_file_record_info(plib_acq_file_record_param_t& param) {
    const cfg_remote_t* remote = m_pfacade->remote();
    acq_fill_record_param(param, remote->get_manufacturer(), remote->get_product_type(),
                          remote->get_serial_number(), remote->get_software_version(),
                          m_pfacade->get_app_software_version(),
                          measure_name(static_cast<plib_measure_type_t>(m_pfacade->get_function())),
                          m_pfacade->get_record_directory(), format_local_time("'"));
    std::cout << "cfg_acq_t::_get_file_record_info: param.record_path " << param.record_path << std::endl;
}
