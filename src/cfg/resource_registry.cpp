#include "cfg/resource_registry.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "cfg/cfg_remote.h"
#include "remote/remote_main.h"

namespace {

int _search_with_temporary_link(std::vector<std::string>& resources) {
    // A link engine of its own: its thread and default resource manager live only for
    // this search, so a slow discovery never blocks an instrument's link.
    remote_main_t link;
    return link.find_resource(resources);
}

cfg_identity_t _identify_one(const std::string& resource) {
    remote_main_t link;
    unsigned long session = 0;
    if (link.open(resource, session) != 0) return cfg_identity_t();
    link.set_timeout(session, resource_identify_timeout_ms);
    std::string reply;
    const int status = link.query(session, "*IDN?\n", reply);
    link.close(session);
    // Four fields ended by a line feed; anything else names nobody.
    if (status != 0 || reply.empty() || reply.back() != '\n' ||
        std::count(reply.begin(), reply.end(), ',') < 3)
        return cfg_identity_t();
    return cfg_parse_identification(reply);
}

}  // namespace

std::vector<cfg_identity_t> resource_identify_all(const std::vector<std::string>& resources) {
    std::vector<cfg_identity_t> identities(resources.size());
    for (size_t batch = 0; batch < resources.size(); batch += resource_identify_batch) {
        const size_t end = std::min(resources.size(), batch + resource_identify_batch);
        std::vector<std::thread> askers;
        for (size_t i = batch; i < end; ++i) {
            auto ask = [&resources, &identities, i] { identities[i] = _identify_one(resources[i]); };
            try {
                askers.emplace_back(ask);
            } catch (const std::system_error&) {
                ask();  // no thread to spare: ask here
            }
        }
        for (auto& t : askers) t.join();
    }
    return identities;
}

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
