#include "common/plib_model_registry.h"

namespace {

constexpr int code_vxa_first = 1100;
constexpr int code_vxa_last = 1103;
constexpr int code_vxb_first = 1200;
constexpr int code_vxb_last = 1202;  // 1202 is reserved for a third VXB model

}  // namespace

const model_registry_t& model_registry_t::instance() {
    // Function-local static: constructed once, thread-safe, on first use.
    static const model_registry_t registry;
    return registry;
}

model_registry_t::model_registry_t() {
    m_vxa_models.emplace(1100, plib_model_vxa_1);
    m_vxa_models.emplace(1101, plib_model_vxa_2);
    m_vxa_models.emplace(1102, plib_model_vxa_2e);
    m_vxa_models.emplace(1103, plib_model_vxa_3);
    m_vxb_models.emplace(1200, plib_model_vxb_1);
    m_vxb_models.emplace(1201, plib_model_vxb_2);
    for (const auto& entry : m_vxa_models) m_family_of_name.emplace(entry.second, family_vxa);
    for (const auto& entry : m_vxb_models) m_family_of_name.emplace(entry.second, family_vxb);
}

int model_registry_t::family_of(std::string_view model_name) const {
    const auto it = m_family_of_name.find(model_name);
    return it == m_family_of_name.end() ? family_none : it->second;
}

int model_registry_t::model_code(std::string_view model_name) const {
    const int family = family_of(model_name);
    if (family == family_none) return 0;
    const auto& models = family == family_vxa ? m_vxa_models : m_vxb_models;
    for (const auto& [code, name] : models) {
        if (name == model_name) return code;
    }
    return 0;
}

std::string model_registry_t::model_name(int code) const {
    const int family = family_of_code(code);
    if (family == family_none) return std::string();
    const auto& models = family == family_vxa ? m_vxa_models : m_vxb_models;
    const auto it = models.find(code);
    return it == models.end() ? std::string() : it->second;
}

int model_registry_t::family_of_code(int code) {
    if (code >= code_vxa_first && code <= code_vxa_last) return family_vxa;
    if (code >= code_vxb_first && code <= code_vxb_last) return family_vxb;
    return family_none;
}

void model_registry_t::model_list(int kind, std::vector<std::string>& out) const {
    if (kind == list_all || kind == list_vxa) {
        for (const auto& entry : m_vxa_models) out.push_back(entry.second);
    }
    if (kind == list_all || kind == list_vxb) {
        for (const auto& entry : m_vxb_models) out.push_back(entry.second);
    }
}
