#include "cfg/cfg_trig.h"

#include "drv/if/drv_if.h"

int cfg_trig_t::initiate() { return m_pdrv->init(); }
int cfg_trig_t::abort() { return m_pdrv->abort(); }
int cfg_trig_t::set_trig_count_inf() { return m_pdrv->set_trig_count_inf(); }
