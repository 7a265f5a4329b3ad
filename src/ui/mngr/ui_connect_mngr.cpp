#include "ui/mngr/ui_connect_mngr.h"
#include "common/plib_log.h"

#include <algorithm>
#include <iostream>

#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "nsp_src/lib/lib_assert.h"
#include "ui/mngr/plib_mngr.h"

ui_connect_mngr_t& ui_connect_mngr_t::instance() {
    static ui_connect_mngr_t registry;
    return registry;
}

ui_connect_mngr_t::~ui_connect_mngr_t() { destroy_all(); }

plib_mngr_t* ui_connect_mngr_t::create_mngr(const std::string& model, pugi::xml_node node) {
    NSP_ASSERT(!model.empty());
    auto* mngr = new plib_mngr_t(model, node);
    m_unbound.emplace_back(model, mngr);
    return mngr;
}

bool ui_connect_mngr_t::is_bound(const std::string& res) const {
    NSP_ASSERT(!res.empty());
    return m_bound.count(res) != 0;
}

int ui_connect_mngr_t::bind_mngr(const std::string& res, plib_mngr_t* mngr) {
    NSP_ASSERT(!res.empty() && mngr);
    if (res.empty() || mngr == nullptr) return 0;
    if (m_bound.count(res) != 0) {
        plib_log(res + " already bound other mngr!");
        return 0;
    }
    auto it =
        std::find_if(m_unbound.begin(), m_unbound.end(), [mngr](const auto& e) { return e.second == mngr; });
    if (it == m_unbound.end()) {
        plib_log(res + " mngr is not created by create_mngr function!");
        return 0;
    }
    mngr->set_bound(true);
    m_bound.emplace(res, mngr);
    m_unbound.erase(it);
    return 1;
}

plib_mngr_t* ui_connect_mngr_t::find_mngr(const std::string& res) const {
    NSP_ASSERT(!res.empty());
    auto it = m_bound.find(res);
    return it != m_bound.end() ? it->second : nullptr;
}

plib_mngr_t* ui_connect_mngr_t::create_bound_mngr(const std::string& res, const std::string& model) {
    NSP_ASSERT(!res.empty() && !model.empty());
    if (res.empty() || model.empty()) return nullptr;
    auto it = m_bound.find(res);
    if (it != m_bound.end()) return it->second;
    auto* mngr = new plib_mngr_t(model, pugi::xml_node());
    mngr->set_bound(true);
    m_bound.emplace(res, mngr);
    return mngr;
}

plib_mngr_t* ui_connect_mngr_t::unbind_mngr(const std::string& res) {
    NSP_ASSERT(!res.empty());
    auto it = m_bound.find(res);
    if (it == m_bound.end()) return nullptr;
    plib_mngr_t* mngr = it->second;
    m_unbound.emplace_back(mngr->get_model_name(), mngr);
    m_bound.erase(it);
    return mngr;
}

void ui_connect_mngr_t::remove_mngr(const std::string& res) {
    NSP_ASSERT(!res.empty());
    auto it = m_bound.find(res);
    if (it == m_bound.end()) return;
    plib_mngr_t* mngr = it->second;
    m_bound.erase(it);
    delete mngr;
}

void ui_connect_mngr_t::release_mngr(plib_mngr_t* mngr, const std::string& res) {
    NSP_ASSERT(mngr);
    if (mngr == nullptr) return;
    auto it =
        std::find_if(m_unbound.begin(), m_unbound.end(), [mngr](const auto& e) { return e.second == mngr; });
    if (it != m_unbound.end()) {
        m_unbound.erase(it);
        delete mngr;
        return;
    }
    if (!res.empty()) remove_mngr(res);
}

plib_mngr_t* ui_connect_mngr_t::take_mngr(plib_mngr_t* mngr, const std::string& res) {
    NSP_ASSERT(mngr);
    if (mngr == nullptr) return nullptr;
    auto it =
        std::find_if(m_unbound.begin(), m_unbound.end(), [mngr](const auto& e) { return e.second == mngr; });
    if (it != m_unbound.end()) {
        m_unbound.erase(it);
        return mngr;
    }
    if (res.empty()) return nullptr;
    auto bound = m_bound.find(res);
    if (bound == m_bound.end() || bound->second != mngr) return nullptr;
    m_bound.erase(bound);
    return mngr;
}

std::string ui_connect_mngr_t::project_text() const {
    std::vector<const plib_mngr_t*> order;
    for (const auto& [res, mngr] : m_bound) order.push_back(mngr);
    for (const auto& [model, mngr] : m_unbound) order.push_back(mngr);

    pugi::xml_document doc;
    cfg_project_file::make_header(doc);
    if (order.empty()) return cfg_project_file::to_string(doc);
    // Same bytes as writing the header and then reloading the file and appending one
    // section at a time: every section but the last went through one reload (which
    // drops the declaration's encoding and whitespace-only texts).
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        order[i]->get_cfg()->project()->append_section(doc.child("root"));
    const std::string text = cfg_project_file::to_string(doc);
    pugi::xml_document reloaded;
    reloaded.load_buffer(text.data(), text.size());
    order.back()->get_cfg()->project()->append_section(reloaded.child("root"));
    return cfg_project_file::to_string(reloaded);
}

int ui_connect_mngr_t::save_project(const std::string& path) {
    return cfg_project_file::write_file_atomic(path, project_text()) == 0 ? 1 : 0;
}

void ui_connect_mngr_t::destroy_all() {
    for (auto& [res, mngr] : m_bound) delete mngr;
    m_bound.clear();
    for (auto& [model, mngr] : m_unbound) delete mngr;
    m_unbound.clear();
}
