#include "ui/ui_primary_window/ui_primary_base_window.h"

#include "ui/mngr/plib_mngr.h"
#include "ui/ui_device_column/ui_device_item.h"

ui_primary_base_window_t::ui_primary_base_window_t(QWidget* parent, ui_device_item_t* item)
    : QFrame(parent), m_pdev(item) {
    m_pmngr = item != nullptr ? item->get_mngr() : nullptr;
    if (m_pmngr != nullptr) {
        m_pdrv = m_pmngr->get_driver();
        m_pacq = m_pmngr->get_acq();
        m_pscan = m_pmngr->get_scan();
        m_pcfg = m_pmngr->get_cfg();
    }
}
