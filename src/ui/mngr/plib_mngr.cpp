#include "ui/mngr/plib_mngr.h"

#include "acq/acq_drv_adapter.h"
#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "drv/drv_link.h"
#include "drv/if/drv_if.h"
#include "nsp_src/lib/lib_assert.h"
#include "remote/remote_main.h"
#include "scan/scan_drv_adapter.h"
#include "scan/scan_main.h"
#include "ui/mngr/plib_mngr_events.h"
#include "ui/mngr/plib_reconnect.h"

plib_mngr_t::plib_mngr_t(const std::string& model, pugi::xml_node project) {
    _construct(model, project, nullptr);
}

plib_mngr_t::plib_mngr_t(const std::string& model, pugi::xml_node project, drv_link_t* link) {
    _construct(model, project, link);
}

void plib_mngr_t::_construct(const std::string& model, pugi::xml_node project, drv_link_t* link) {
    m_premote = std::make_unique<remote_main_t>();
    m_plink = std::make_unique<drv_remote_link_t>(*m_premote);
    drv_link_t* used_link = link != nullptr ? link : m_plink.get();
    m_pdrv = std::make_unique<drv_if_t>(used_link, model);
    m_pacq_adapter = std::make_unique<acq_drv_adapter_t>(*m_pdrv);
    m_pacq = std::make_unique<acq_main_t>(m_pacq_adapter.get());
    m_pscan_adapter = std::make_unique<scan_drv_adapter_t>(*m_pdrv);
    m_pscan = std::make_unique<scan_main_t>(m_pscan_adapter.get());
    m_pcfg = std::make_unique<cfg_main_t>(m_pacq.get(), m_pscan.get(), m_pdrv.get(), used_link);
    m_pevents = std::make_unique<plib_mngr_events_t>();
    m_pevents->attach(m_premote.get(), m_pacq.get(), m_pscan.get());
    m_preconnect = std::make_unique<plib_reconnect_t>(m_pcfg.get(), m_pacq.get(), m_pscan.get(), m_pdrv.get(),
                                                      used_link, m_pevents.get(), model);
    m_bound = false;
    NSP_ASSERT(!model.empty());
    m_pcfg->set_model(model);
    if (project) m_pcfg->load_section(project);
}

plib_mngr_t::~plib_mngr_t() {
    m_preconnect.reset();  // no attempt runs any more
    m_pcfg.reset();        // disconnects the instrument first
    m_pevents.reset();  // then no engine event goes anywhere
    m_pscan.reset();
    m_pscan_adapter.reset();
    m_pacq.reset();
    m_pacq_adapter.reset();
    m_pdrv.reset();
    m_plink.reset();
    m_premote.reset();
}

std::string plib_mngr_t::get_model_name() const { return m_pcfg->get_model(); }
void plib_mngr_t::set_model_name(const std::string& model) { m_pcfg->set_model(model); }
int plib_mngr_t::save_section(const std::string& path) const { return m_pcfg->save_section(path); }
