// Resource discovery for viFindRsrc: USBTMC devices from sysfs, and the LAN hosts
// listed in VELKARO_VISA_HOSTS (comma-separated), each asked through its portmapper
// whether a VXI-11 core channel is registered. Broadcast discovery is not done:
// VELKARO_VISA_BROADCAST is not acted upon by this layer.
#pragma once

#include <string>
#include <vector>

namespace visa {

// Time allowed to each host's portmapper.
constexpr int discovery_host_timeout_ms = 300;
constexpr size_t discovery_max_hosts = 64;

// Host names from VELKARO_VISA_HOSTS, trimmed, empty entries dropped, at most
// discovery_max_hosts.
std::vector<std::string> discovery_configured_hosts();

// "TCPIP0::<host>::inst0::INSTR" for each configured host that answers in time.
std::vector<std::string> discover_vxi11_hosts();

// Every resource found, USB first, in a stable order.
std::vector<std::string> discover_resources();

}  // namespace visa
