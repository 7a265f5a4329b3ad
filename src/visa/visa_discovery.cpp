#include "visa/visa_discovery.h"

#include <cctype>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "visa/visa_portmap.h"
#include "visa/visa_usbtmc.h"
#include "visa/visa_vxi11.h"

namespace visa {

std::vector<std::string> discovery_configured_hosts() {
    std::vector<std::string> hosts;
    const char* env = std::getenv("VELKARO_VISA_HOSTS");
    if (!env) return hosts;
    const std::string list(env);
    size_t start = 0;
    while (start <= list.size() && hosts.size() < discovery_max_hosts) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string h = list.substr(start, end - start);
        while (!h.empty() && std::isspace(static_cast<unsigned char>(h.back()))) h.pop_back();
        size_t lead = 0;
        while (lead < h.size() && std::isspace(static_cast<unsigned char>(h[lead]))) ++lead;
        h.erase(0, lead);
        if (!h.empty() && h.find("::") == std::string::npos) hosts.push_back(h);
        start = end + 1;
    }
    return hosts;
}

std::vector<std::string> discover_vxi11_hosts() {
    const std::vector<std::string> hosts = discovery_configured_hosts();
    const uint16_t pm_port = portmap_port_from_env();
    // Probed in parallel so that silent hosts cost one time-out in total, not one each.
    std::vector<char> found(hosts.size(), 0);
    std::vector<std::thread> probes;
    probes.reserve(hosts.size());
    for (size_t i = 0; i < hosts.size(); ++i) {
        auto probe = [&hosts, &found, pm_port, i] {
            uint16_t port = 0;
            const rpc_status_t s = portmap_getport(hosts[i], pm_port, vxi11_core_program, vxi11_core_version,
                                                   port, deadline_after_ms(discovery_host_timeout_ms));
            found[i] = (s == rpc_status_t::ok && port != 0) ? 1 : 0;
        };
        try {
            probes.emplace_back(probe);
        } catch (const std::system_error&) {
            probe();  // no thread to spare: probe this host here
        }
    }
    for (auto& t : probes) t.join();
    std::vector<std::string> out;
    for (size_t i = 0; i < hosts.size(); ++i) {
        if (found[i]) out.push_back("TCPIP0::" + hosts[i] + "::inst0::INSTR");
    }
    return out;
}

std::vector<std::string> discover_resources() {
    std::vector<std::string> out;
    for (const auto& d : usbtmc_list_devices()) out.push_back(format_rsrc_name(d.name));
    for (auto& r : discover_vxi11_hosts()) out.push_back(std::move(r));
    return out;
}

}  // namespace visa
