#include "cfg/cfg_trig.h"

#include "drv/if/drv_if.h"

int cfg_trig_t::initiate() { return m_drv.init(); }
int cfg_trig_t::abort() { return m_drv.abort(); }
int cfg_trig_t::set_trig_count_inf() { return m_drv.set_trig_count_inf(); }
