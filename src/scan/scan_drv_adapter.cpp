#include "scan/scan_drv_adapter.h"

#include "drv/if/drv_if.h"

int scan_drv_adapter_t::get_scan_channel_count() { return m_driver.get_scan_channel_count(); }
int scan_drv_adapter_t::read_scan_data(plib_scan_data_map_t& data) { return m_driver.read_scan_data(data); }
int scan_drv_adapter_t::set_scan_start(int on) { return m_driver.set_scan_start(on); }
