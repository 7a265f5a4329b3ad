// The acquisition engine's view of an instrument, served by its driver holder.
#pragma once

#include "acq/acq_instrument.h"

class drv_if_t;

class acq_drv_adapter_t : public acq_instrument_t {
public:
    // `driver` must outlive the adapter.
    explicit acq_drv_adapter_t(drv_if_t& driver) : m_driver(driver) {}

    int init() override;
    int set_trig_count_inf() override;
    int set_trig_count(int count) override;
    int set_sample_count(int count) override;
    int read_measure_data(std::vector<plib_data_t>& data) override;
    uint64_t take_dropped_readings() override;

private:
    drv_if_t& m_driver;
};
