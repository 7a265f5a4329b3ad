// Resource discovery for viFindRsrc: USBTMC devices from sysfs, and the LAN hosts to
// probe, each asked through its portmapper whether a VXI-11 core channel is
// registered. The hosts come from VELKARO_VISA_HOSTS (comma-separated) when it is set,
// else from the program's settings (host names and CIDR ranges). Nothing is probed
// until one of them names a host. This layer never broadcasts: the settings' broadcast
// switch and VELKARO_VISA_BROADCAST are held for the user, not acted upon.
//
// Threads: the settings are process-wide, guarded by one mutex inside the .cpp; they
// are copied out before a discovery runs, so the settings may change meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace visa {

// Time allowed to each host's portmapper.
constexpr int discovery_host_timeout_ms = 300;
// Hosts named one by one (environment or settings).
constexpr size_t discovery_max_hosts = 64;
// Addresses one CIDR range may cover (a /22).
constexpr size_t discovery_max_range_hosts = 1024;
// All hosts of one discovery, ranges included.
constexpr size_t discovery_max_total_hosts = 4096;
// Hosts probed at once: one thread each, so a batch costs one time-out in total.
constexpr size_t discovery_batch_size = 64;

// What the user set in the program; the environment wins where it is set.
struct discovery_settings_t {
    std::vector<std::string> hosts;   // host names or dotted IPv4 addresses
    std::vector<std::string> ranges;  // CIDR blocks such as "192.168.1.0/24"
    bool broadcast = false;           // kept for the user; never acted upon here
    uint16_t portmapper_port = 0;     // 0: the default port
};

void set_discovery_settings(const discovery_settings_t& settings);
discovery_settings_t discovery_settings();

// Expands a CIDR block ("a.b.c.d/n") into its host addresses, in ascending order. For
// prefixes up to /30 the network and broadcast addresses are left out (they are never
// asked); /31 and /32 give their addresses. False, with `error` set, for a malformed
// block or one covering more than discovery_max_range_hosts addresses.
bool parse_cidr_range(const std::string& text, std::vector<std::string>& hosts, std::string& error);

// Host names from VELKARO_VISA_HOSTS, trimmed, empty entries dropped, at most
// discovery_max_hosts.
std::vector<std::string> discovery_configured_hosts();

// The hosts one discovery probes: VELKARO_VISA_HOSTS when it is set and not empty,
// else the settings' hosts and the addresses of their ranges, without repeats, at most
// discovery_max_total_hosts.
std::vector<std::string> discovery_probe_hosts();

// "TCPIP0::<host>::inst0::INSTR" for each host to probe that answers in time.
std::vector<std::string> discover_vxi11_hosts();

// Every resource found, USB first, in a stable order.
std::vector<std::string> discover_resources();

}  // namespace visa
