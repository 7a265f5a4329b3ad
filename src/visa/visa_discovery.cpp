#include "visa/visa_discovery.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "visa/visa_portmap.h"
#include "visa/visa_usbtmc.h"
#include "visa/visa_vxi11.h"

namespace visa {

namespace {

// Guards g_settings.
std::mutex g_settings_mutex;
discovery_settings_t g_settings;

std::string trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    size_t lead = 0;
    while (lead < text.size() && std::isspace(static_cast<unsigned char>(text[lead]))) ++lead;
    text.erase(0, lead);
    return text;
}

// A host name or address we may ask: not empty, not a resource string.
bool usable_host(const std::string& host) { return !host.empty() && host.find("::") == std::string::npos; }

bool parse_octet(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 3) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    unsigned parsed = 0;
    std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (parsed > 255) return false;
    value = parsed;
    return true;
}

std::string dotted(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace

void set_discovery_settings(const discovery_settings_t& settings) {
    std::lock_guard<std::mutex> lock(g_settings_mutex);
    g_settings = settings;
}

discovery_settings_t discovery_settings() {
    std::lock_guard<std::mutex> lock(g_settings_mutex);
    return g_settings;
}

bool parse_cidr_range(const std::string& text, std::vector<std::string>& hosts, std::string& error) {
    hosts.clear();
    const std::string block = trimmed(text);
    const size_t slash = block.find('/');
    if (slash == std::string::npos) {
        error = "a range is an address, \"/\" and a prefix length, e.g. 192.168.1.0/24";
        return false;
    }
    const std::string_view address_text(block.data(), slash);
    const std::string_view prefix_text(block.data() + slash + 1, block.size() - slash - 1);
    uint32_t address = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? address_text.find('.', start) : address_text.size();
        if (dot == std::string_view::npos) {
            error = "the address needs four numbers separated by dots";
            return false;
        }
        uint32_t octet = 0;
        if (!parse_octet(address_text.substr(start, dot - start), octet)) {
            error = "each number of the address is 0 to 255";
            return false;
        }
        address = (address << 8) | octet;
        start = dot + 1;
    }
    uint32_t prefix = 0;
    if (prefix_text.empty() || prefix_text.size() > 2 ||
        !std::all_of(prefix_text.begin(), prefix_text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        error = "the prefix length is a number from 22 to 32";
        return false;
    }
    std::from_chars(prefix_text.data(), prefix_text.data() + prefix_text.size(), prefix);
    if (prefix > 32) {
        error = "the prefix length is a number from 22 to 32";
        return false;
    }
    const uint64_t count = uint64_t(1) << (32 - prefix);
    if (count > discovery_max_range_hosts) {
        error = "a range covers at most " + std::to_string(discovery_max_range_hosts) + " addresses (/22)";
        return false;
    }
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t(0) << (32 - prefix);
    const uint32_t network = address & mask;
    // The network and broadcast addresses of a real subnet are never asked.
    const uint64_t first = count > 2 ? 1 : 0;
    const uint64_t last = count > 2 ? count - 2 : count - 1;
    for (uint64_t i = first; i <= last; ++i) hosts.push_back(dotted(network + static_cast<uint32_t>(i)));
    error.clear();
    return true;
}

std::vector<std::string> discovery_configured_hosts() {
    std::vector<std::string> hosts;
    const char* env = std::getenv("VELKARO_VISA_HOSTS");
    if (!env) return hosts;
    const std::string list(env);
    size_t start = 0;
    while (start <= list.size() && hosts.size() < discovery_max_hosts) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string h = trimmed(list.substr(start, end - start));
        if (usable_host(h)) hosts.push_back(h);
        start = end + 1;
    }
    return hosts;
}

std::vector<std::string> discovery_probe_hosts() {
    const char* env = std::getenv("VELKARO_VISA_HOSTS");
    if (env != nullptr && *env != '\0') return discovery_configured_hosts();

    const discovery_settings_t settings = discovery_settings();
    std::vector<std::string> hosts;
    std::set<std::string> seen;
    auto add = [&](const std::string& host) {
        if (hosts.size() < discovery_max_total_hosts && seen.insert(host).second) hosts.push_back(host);
    };
    size_t named = 0;
    for (const std::string& entry : settings.hosts) {
        const std::string host = trimmed(entry);
        if (!usable_host(host) || named >= discovery_max_hosts) continue;
        ++named;
        add(host);
    }
    for (const std::string& range : settings.ranges) {
        std::vector<std::string> addresses;
        std::string error;
        if (!parse_cidr_range(range, addresses, error)) continue;
        for (const std::string& address : addresses) add(address);
    }
    return hosts;
}

std::vector<std::string> discover_vxi11_hosts() {
    const std::vector<std::string> hosts = discovery_probe_hosts();
    const uint16_t pm_port = portmap_port_from_env();
    // Probed in parallel batches so that silent hosts cost one time-out per batch.
    std::vector<char> found(hosts.size(), 0);
    for (size_t batch = 0; batch < hosts.size(); batch += discovery_batch_size) {
        const size_t end = std::min(hosts.size(), batch + discovery_batch_size);
        std::vector<std::thread> probes;
        probes.reserve(end - batch);
        for (size_t i = batch; i < end; ++i) {
            auto probe = [&hosts, &found, pm_port, i] {
                uint16_t port = 0;
                const rpc_status_t s =
                    portmap_getport(hosts[i], pm_port, vxi11_core_program, vxi11_core_version, port,
                                    deadline_after_ms(discovery_host_timeout_ms));
                found[i] = (s == rpc_status_t::ok && port != 0) ? 1 : 0;
            };
            try {
                probes.emplace_back(probe);
            } catch (const std::system_error&) {
                probe();  // no thread to spare: probe this host here
            }
        }
        for (auto& t : probes) t.join();
    }
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
