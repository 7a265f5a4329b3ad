#include "cfg/resource_registry.h"

#include "remote/remote_main.h"

namespace {

int _search_with_temporary_link(std::vector<std::string>& resources) {
    // A link engine of its own: its thread and default resource manager live only for
    // this search, so a slow discovery never blocks an instrument's link.
    remote_main_t link;
    return link.find_resource(resources);
}

}  // namespace

resource_registry_t& resource_registry_t::instance() {
    static resource_registry_t registry;
    return registry;
}

resource_registry_t::resource_registry_t(search_t search)
    : m_search(search ? std::move(search) : search_t(_search_with_temporary_link)) {}

bool resource_registry_t::add(const std::string& resource) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_saved.insert(resource).second;
}

int resource_registry_t::remove(const std::string& resource) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_saved.erase(resource) > 0 ? 1 : 0;
}

void resource_registry_t::list_all(std::vector<std::string>& out) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    out.insert(out.end(), m_saved.begin(), m_saved.end());
    out.insert(out.end(), m_found.begin(), m_found.end());
}

void resource_registry_t::search_found(std::vector<std::string>& out) {
    _search();
    std::lock_guard<std::mutex> lock(m_mutex);
    out.insert(out.end(), m_found.begin(), m_found.end());
}

void resource_registry_t::search_all(std::vector<std::string>& out) {
    _search();
    list_all(out);
}

void resource_registry_t::_search() {
    // The discovery runs without the lock: it may take seconds while the UI reads.
    std::vector<std::string> resources;
    m_search(resources);
    std::set<std::string> found(resources.begin(), resources.end());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_found.swap(found);
}
