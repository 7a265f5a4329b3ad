// Direct trigger control of the instrument.
#pragma once

class drv_if_t;

class cfg_trig_t {
public:
    // `driver` must outlive this object.
    explicit cfg_trig_t(drv_if_t& driver) : m_drv(driver) {}
    int initiate();
    int abort();
    int set_trig_count_inf();

private:
    drv_if_t& m_drv;
};
