// A manager over a scripted link, for configuration tests without an instrument.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "../drv/drv_fake_link.h"
#include "cfg/cfg_main.h"
#include "ui/mngr/plib_mngr.h"

namespace velkaro_test {

// The fake link, plus a hook that runs at every write (before the reply is taken).
class cfg_hook_link_t : public drv_fake_link_t {
public:
    std::function<void(const std::string&)> on_write;
    int write(unsigned long session, const std::string& bytes) override {
        if (on_write) on_write(bytes);
        return drv_fake_link_t::write(session, bytes);
    }
};

struct cfg_fixture_t {
    explicit cfg_fixture_t(const std::string& model, pugi::xml_node node = pugi::xml_node())
        : mngr(std::make_unique<plib_mngr_t>(model, node, &link)) {}
    cfg_main_t& cfg() { return *mngr->get_cfg(); }
    cfg_hook_link_t link;
    std::unique_ptr<plib_mngr_t> mngr;
};

}  // namespace velkaro_test
