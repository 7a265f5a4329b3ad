// One instrument's manager: owns its link engine, driver, acquisition and scan engines
// and configuration facade. Built in that order, destroyed in the reverse order; the
// facade disconnects the instrument first. Always on the heap, never copied.
#pragma once

#include <memory>
#include <pugixml.hpp>
#include <string>

class remote_main_t;
class drv_link_t;
class drv_remote_link_t;
class drv_if_t;
class acq_drv_adapter_t;
class acq_main_t;
class scan_drv_adapter_t;
class scan_main_t;
class cfg_main_t;
class plib_mngr_events_t;
class plib_reconnect_t;

class plib_mngr_t {
public:
    // `model` must not be empty; a non-null `project` section is loaded at the end.
    plib_mngr_t(const std::string& model, pugi::xml_node project);
    // Tests: the driver and the identification use `link` (which must outlive the
    // manager) instead of the link engine.
    plib_mngr_t(const std::string& model, pugi::xml_node project, drv_link_t* link);
    ~plib_mngr_t();
    plib_mngr_t(const plib_mngr_t&) = delete;
    plib_mngr_t& operator=(const plib_mngr_t&) = delete;

    cfg_main_t* get_cfg() const { return m_pcfg.get(); }
    acq_main_t* get_acq() const { return m_pacq.get(); }
    scan_main_t* get_scan() const { return m_pscan.get(); }
    drv_if_t* get_driver() const { return m_pdrv.get(); }
    remote_main_t* get_remote() const { return m_premote.get(); }
    // The fan-out of the engines' events: the one way to listen to this instrument.
    plib_mngr_events_t& events() const { return *m_pevents; }
    // Automatic reconnection after a lost link (off until its policy turns it on).
    plib_reconnect_t& reconnect() const { return *m_preconnect; }

    std::string get_model_name() const;
    void set_model_name(const std::string& model);
    int save_section(const std::string& path) const;

    bool is_bound() const { return m_bound; }
    void set_bound(bool bound) { m_bound = bound; }

private:
    void _construct(const std::string& model, pugi::xml_node project, drv_link_t* link);

    std::unique_ptr<remote_main_t> m_premote;
    std::unique_ptr<drv_remote_link_t> m_plink;
    std::unique_ptr<drv_if_t> m_pdrv;
    std::unique_ptr<acq_drv_adapter_t> m_pacq_adapter;
    std::unique_ptr<acq_main_t> m_pacq;
    std::unique_ptr<scan_drv_adapter_t> m_pscan_adapter;
    std::unique_ptr<scan_main_t> m_pscan;
    std::unique_ptr<cfg_main_t> m_pcfg;
    std::unique_ptr<plib_mngr_events_t> m_pevents;
    std::unique_ptr<plib_reconnect_t> m_preconnect;
    bool m_bound = false;
};
