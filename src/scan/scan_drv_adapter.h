// The scan engine's view of an instrument, served by its driver holder.
#pragma once

#include "scan/scan_instrument.h"

class drv_if_t;

class scan_drv_adapter_t : public scan_instrument_t {
public:
    // `driver` must outlive the adapter.
    explicit scan_drv_adapter_t(drv_if_t& driver) : m_driver(driver) {}

    int get_scan_channel_count() override;
    int read_scan_data(plib_scan_data_map_t& data) override;
    int set_scan_start(int on) override;

private:
    drv_if_t& m_driver;
};
