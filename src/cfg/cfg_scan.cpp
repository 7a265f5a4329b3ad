#include "cfg/cfg_scan.h"

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "scan/scan_main.h"

cfg_scan_t::cfg_scan_t(cfg_main_t* facade, scan_main_t* engine) : m_pfacade(facade), m_pscan(engine) {
    if (m_pscan == nullptr) return;
    m_pscan->set_record_info_callback(
        [this](plib_scanner_channel_map_t& channels, plib_scan_file_record_param_t& param) {
            const cfg_scan_config_t& config = *m_pfacade->get_scan_config();
            channels = config.get_channel_params();
            const cfg_remote_t* remote = m_pfacade->remote();
            param.maker = remote->get_manufacturer();
            param.product_type = remote->get_product_type();
            param.serial_number = remote->get_serial_number();
            param.product_software_version = remote->get_software_version();
            param.software_version = m_pfacade->get_app_software_version();
            param.record_directory = config.get_record_directory();
        });
}

cfg_scan_t::~cfg_scan_t() {
    if (m_pscan != nullptr) m_pscan->set_record_info_callback(nullptr);
}

void cfg_scan_t::set_run_state(int s) {
    if (m_pscan == nullptr) return;
    int state = s;
    if (s == 1) state = m_pfacade->get_run_state() != 0 ? 0 : (m_pfacade->get_info().connected ? 1 : 0);
    m_pscan->set_run_state(state);
}

int cfg_scan_t::get_run_state() const { return m_pscan != nullptr ? m_pscan->get_run_state() : 0; }

int cfg_scan_t::trigger_once() { return m_pscan != nullptr ? m_pscan->m_scan_trig_msg.send() : -1; }
