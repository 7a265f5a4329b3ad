// Portmapper (RFC 1833) GETPORT over TCP: asks which port an RPC program listens on.
#pragma once

#include <cstdint>
#include <string>

#include "visa/visa_rpc.h"

namespace visa {

constexpr uint32_t portmap_program = 100000;
constexpr uint32_t portmap_version = 2;
constexpr uint32_t portmap_proc_getport = 3;
constexpr uint32_t portmap_prot_tcp = 6;
constexpr uint16_t portmap_default_port = 111;

// The port our clients ask: VELKARO_VXI11_PORTMAPPER_PORT when set to 1..65535
// (an invalid value gives 111), else the settings' port when chosen, else 111. Read at
// every call so tests and the settings can change it.
uint16_t portmap_port_from_env();

byte_vector_t portmap_encode_getport_args(uint32_t prog, uint32_t vers, uint32_t prot);
// Decodes the results part of a GETPORT reply; false unless a port 0..65535 is there.
bool portmap_decode_getport_result(const uint8_t* data, size_t size, uint16_t& port);

// Connects to the portmapper of `host`, asks GETPORT over TCP and closes. `port` is 0
// when the program is not registered (still rpc ok).
rpc_status_t portmap_getport(const std::string& host, uint16_t portmapper_port, uint32_t prog, uint32_t vers,
                             uint16_t& port, deadline_t deadline);

}  // namespace visa
