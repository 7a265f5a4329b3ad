#include "cfg/cfg_scan.h"

#include "acq/acq_main.h"
#include "cfg/cfg_remote.h"
#include "cfg/cfg_run_gate.h"
#include "cfg/cfg_scan_config.h"
#include "common/plib_version.h"
#include "scan/scan_main.h"

cfg_scan_t::cfg_scan_t(scan_main_t& engine, const cfg_remote_t& remote, const acq_main_t& acq,
                       const cfg_scan_config_t& config)
    : m_scan(engine), m_remote(remote), m_acq(acq), m_config(config) {
    m_scan.set_record_info_callback(
        [this](plib_scanner_channel_map_t& channels, plib_scan_file_record_param_t& param) {
            channels = m_config.get_channel_params();
            param.maker = m_remote.get_manufacturer();
            param.product_type = m_remote.get_product_type();
            param.serial_number = m_remote.get_serial_number();
            param.product_software_version = m_remote.get_software_version();
            param.software_version = plib_software_version;
            param.record_directory = m_config.get_record_directory();
        });
}

cfg_scan_t::~cfg_scan_t() { m_scan.set_record_info_callback(nullptr); }

void cfg_scan_t::set_run_state(int s) {
    m_scan.set_run_state(cfg_gated_run_state(s, m_remote, m_acq.get_run_state()));
}

int cfg_scan_t::get_run_state() const { return m_scan.get_run_state(); }

int cfg_scan_t::trigger_once() { return m_scan.m_scan_trig_msg.send(); }
