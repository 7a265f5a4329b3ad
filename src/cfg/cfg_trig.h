// Direct trigger control of the instrument.
#pragma once

class cfg_main_t;
class drv_if_t;

class cfg_trig_t {
public:
    cfg_trig_t(cfg_main_t* facade, drv_if_t* driver) : m_pfacade(facade), m_pdrv(driver) {}
    int initiate();
    int abort();
    int set_trig_count_inf();

private:
    cfg_main_t* m_pfacade = nullptr;
    drv_if_t* m_pdrv = nullptr;
};
