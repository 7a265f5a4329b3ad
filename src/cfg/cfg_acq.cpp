#include "cfg/cfg_acq.h"
#include "common/plib_log.h"

#include <iostream>

#include "acq/acq_main.h"
#include "acq/acq_record_file.h"
#include "cfg/cfg_measure.h"
#include "cfg/cfg_remote.h"
#include "cfg/cfg_run_gate.h"
#include "common/plib_format.h"
#include "common/plib_version.h"
#include "scan/scan_main.h"

cfg_acq_t::cfg_acq_t(acq_main_t& engine, const cfg_remote_t& remote, const scan_main_t& scan,
                     const cfg_measure_t& measure)
    : m_acq(engine), m_remote(remote), m_scan(scan), m_measure(measure) {
    m_acq.set_record_info_callback(
        [this](plib_acq_file_record_param_t& param) { _get_file_record_info(param); });
}

cfg_acq_t::~cfg_acq_t() {
    // The engine outlives the facade: it must not call back into a deleted object.
    m_acq.set_record_info_callback(nullptr);
}

void cfg_acq_t::set_run_state(int s) {
    m_acq.set_run_state(cfg_gated_run_state(s, m_remote, m_scan.get_run_state()));
}

int cfg_acq_t::get_run_state() const { return m_acq.get_run_state(); }

void cfg_acq_t::restart() {
    if (m_acq.get_run_state() != 0) m_acq.set_run_state(0);
    set_run_state(1);
}

int cfg_acq_t::trigger_once() { return m_acq.m_acq_trig_msg.send(); }

plib_record_run_state_info_t cfg_acq_t::get_run_state_info() const {
    plib_record_run_state_info_t info;
    m_acq.m_acq_record_run_state_info_msg.fetch(info);
    return info;
}

bool cfg_acq_t::is_recording() const { return get_run_state_info().recording; }
double cfg_acq_t::get_elapsed_s() const { return get_run_state_info().elapsed_s; }
uint32_t cfg_acq_t::get_total_count() const { return get_run_state_info().total_count; }

void cfg_acq_t::_get_file_record_info(plib_acq_file_record_param_t& param) {
    acq_fill_record_param(param, m_remote.get_manufacturer(), m_remote.get_product_type(),
                          m_remote.get_serial_number(), m_remote.get_software_version(),
                          plib_software_version,
                          measure_name(static_cast<plib_measure_type_t>(m_measure.get_function())),
                          m_measure.get_record_directory(), format_local_time("'"));
    plib_log("cfg_acq_t::_get_file_record_info: param.record_path " + param.record_path);
}
