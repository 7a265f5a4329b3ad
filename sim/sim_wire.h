// Server side of ONC RPC for the simulator: XDR encoding, TCP record marking and the
// call/reply envelopes. Written independently of the client VISA layer in src/visa on
// purpose: sharing code would let one bug on both sides of the wire go unnoticed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace vx_sim {

// RPC and program constants, named once.
constexpr uint32_t rpc_version = 2;
constexpr uint32_t msg_call = 0;
constexpr uint32_t msg_reply = 1;
constexpr uint32_t reply_accepted = 0;
constexpr uint32_t reply_denied = 1;
constexpr uint32_t reject_rpc_mismatch = 0;
constexpr uint32_t accept_success = 0;
constexpr uint32_t accept_prog_unavail = 1;
constexpr uint32_t accept_prog_mismatch = 2;
constexpr uint32_t accept_proc_unavail = 3;
constexpr uint32_t accept_garbage_args = 4;
constexpr uint32_t record_last_fragment = 0x80000000u;

constexpr uint32_t portmapper_program = 100000;
constexpr uint32_t portmapper_version = 2;
constexpr uint32_t pmap_proc_null = 0;
constexpr uint32_t pmap_proc_getport = 3;
constexpr uint32_t pmap_proc_dump = 4;
constexpr uint32_t ip_proto_tcp = 6;
constexpr uint32_t ip_proto_udp = 17;

constexpr uint32_t device_core_program = 0x0607AF;
constexpr uint32_t device_core_version = 1;

// Big-endian 4-byte words; opaque data padded to a multiple of four.
class xdr_reader_t {
public:
    xdr_reader_t(const std::string& data, size_t offset = 0) : m_data(data), m_pos(offset) {}
    bool u32(uint32_t& out);
    bool i32(int32_t& out);
    bool opaque(std::string& out, size_t max_size);
    size_t position() const { return m_pos; }

private:
    const std::string& m_data;
    size_t m_pos;
};

class xdr_writer_t {
public:
    void u32(uint32_t v);
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void opaque(const std::string& data);
    std::string& data() { return m_data; }

private:
    std::string m_data;
};

// A decoded call header; `args_offset` is where the procedure's arguments begin.
struct rpc_call_t {
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
    size_t args_offset = 0;
};

// False when the bytes are not an RPC call (the connection should then be dropped).
// `rpc_version_ok` is false for a call of another RPC version (answered with a denial).
bool parse_rpc_call(const std::string& record, rpc_call_t& call, bool& rpc_version_ok);
// Accepted reply header with a null verifier and the given status.
xdr_writer_t accepted_reply(uint32_t xid, uint32_t accept_status);
std::string denied_rpc_mismatch(uint32_t xid);

// Socket helpers that give up when `stop` is set; every wait polls in short slices.
bool read_exact(int fd, char* buf, size_t n, const std::atomic<bool>& stop);
bool write_all(int fd, const char* buf, size_t n, const std::atomic<bool>& stop);
// One record, possibly spread over several fragments; false on EOF, error or oversize.
bool read_record(int fd, std::string& out, size_t max_size, const std::atomic<bool>& stop);
bool write_record(int fd, const std::string& record, const std::atomic<bool>& stop);

}  // namespace vx_sim
