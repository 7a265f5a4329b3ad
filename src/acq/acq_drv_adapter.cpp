#include "acq/acq_drv_adapter.h"

#include "drv/if/drv_if.h"

int acq_drv_adapter_t::init() { return m_driver.init(); }
int acq_drv_adapter_t::set_trig_count_inf() { return m_driver.set_trig_count_inf(); }
int acq_drv_adapter_t::set_trig_count(int count) { return m_driver.set_trig_count(count); }
int acq_drv_adapter_t::set_sample_count(int count) { return m_driver.set_sample_count(count); }
int acq_drv_adapter_t::read_measure_data(std::vector<plib_data_t>& data) {
    return m_driver.read_measure_data(data);
}
uint64_t acq_drv_adapter_t::take_dropped_readings() { return m_driver.take_dropped_readings(); }
