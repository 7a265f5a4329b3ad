#include "visa/visa_portmap.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "visa/visa_discovery.h"

namespace visa {

uint16_t portmap_port_from_env() {
    const char* v = std::getenv("VELKARO_VXI11_PORTMAPPER_PORT");
    if (!v || !*v) {
        const uint16_t chosen = discovery_settings().portmapper_port;
        return chosen != 0 ? chosen : portmap_default_port;
    }
    unsigned port = 0;
    const char* end = v + std::strlen(v);
    const auto r = std::from_chars(v, end, port);
    if (r.ec != std::errc() || r.ptr != end || port == 0 || port > 65535) return portmap_default_port;
    return static_cast<uint16_t>(port);
}

byte_vector_t portmap_encode_getport_args(uint32_t prog, uint32_t vers, uint32_t prot) {
    byte_vector_t out;
    xdr_writer_t w(out);
    w.put_u32(prog);
    w.put_u32(vers);
    w.put_u32(prot);
    w.put_u32(0);
    return out;
}

bool portmap_decode_getport_result(const uint8_t* data, size_t size, uint16_t& port) {
    xdr_reader_t r(data, size);
    uint32_t p = 0;
    if (!r.get_u32(p) || p > 65535) return false;
    port = static_cast<uint16_t>(p);
    return true;
}

rpc_status_t portmap_getport(const std::string& host, uint16_t portmapper_port, uint32_t prog, uint32_t vers,
                             uint16_t& port, deadline_t deadline) {
    port = 0;
    rpc_client_t client(portmap_program, portmap_version);
    rpc_status_t s = client.connect(host, portmapper_port, deadline);
    if (s != rpc_status_t::ok) return s;
    byte_vector_t record;
    size_t offset = 0;
    s = client.call(portmap_proc_getport, portmap_encode_getport_args(prog, vers, portmap_prot_tcp), record,
                    offset, deadline);
    if (s != rpc_status_t::ok) return s;
    if (!portmap_decode_getport_result(record.data() + offset, record.size() - offset, port)) {
        return rpc_status_t::garbage;
    }
    return rpc_status_t::ok;
}

}  // namespace visa
