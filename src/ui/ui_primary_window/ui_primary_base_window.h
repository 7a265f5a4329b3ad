// Base of every page of an instrument's window: keeps the device item and, from the
// item's instrument manager, the driver holder, the two engines and the facade. All
// pointers are borrowed; the item owns the manager and outlives its pages.
//
// Doors into an instrument: settings and run control go through the facade
// (`cfg()`); readings and results are fetched through the engines' messages
// (`acq()`, `scan()`).
#pragma once

#include <QFrame>

class acq_main_t;
class cfg_main_t;
class drv_if_t;
class plib_mngr_t;
class scan_main_t;
class ui_device_item_t;

class ui_primary_base_window_t : public QFrame {
    Q_OBJECT
public:
    ui_primary_base_window_t(QWidget* parent, ui_device_item_t* item);

    ui_device_item_t* device_item() const { return m_pdev; }
    plib_mngr_t* mngr() const { return m_pmngr; }
    drv_if_t* driver() const { return m_pdrv; }
    acq_main_t* acq() const { return m_pacq; }
    scan_main_t* scan() const { return m_pscan; }
    cfg_main_t* cfg() const { return m_pcfg; }

protected:
    ui_device_item_t* m_pdev = nullptr;
    plib_mngr_t* m_pmngr = nullptr;
    drv_if_t* m_pdrv = nullptr;
    acq_main_t* m_pacq = nullptr;
    scan_main_t* m_pscan = nullptr;
    cfg_main_t* m_pcfg = nullptr;
};
