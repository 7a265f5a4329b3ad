// ONC RPC (RFC 5531) client over TCP: call encoding, record marking, reply decoding.
// Written by hand for the same reason as the XDR layer (no C++ RPC package in Debian
// that avoids rpcgen and libtirpc's global state). The encoders and decoders work on
// byte buffers so they can be tested and fuzzed without sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "visa/visa_net.h"
#include "visa/visa_xdr.h"

namespace visa {

constexpr uint32_t rpc_msg_call = 0;
constexpr uint32_t rpc_msg_reply = 1;
constexpr uint32_t rpc_version = 2;
constexpr uint32_t rpc_auth_none = 0;
constexpr uint32_t rpc_reply_accepted = 0;
constexpr uint32_t rpc_reply_denied = 1;
constexpr uint32_t rpc_accept_success = 0;
constexpr uint32_t rpc_accept_prog_unavail = 1;
constexpr uint32_t rpc_accept_prog_mismatch = 2;
constexpr uint32_t rpc_accept_proc_unavail = 3;
constexpr uint32_t rpc_accept_garbage_args = 4;

// Record marking: a 4-byte big-endian word before each fragment; the top bit flags
// the last fragment of a record, the low 31 bits give the fragment length.
constexpr uint32_t rpc_last_fragment_bit = 0x80000000U;
constexpr uint32_t rpc_fragment_length_mask = 0x7FFFFFFFU;
// A record larger than this is refused, so a lying length cannot make us allocate
// without bound. Replies we expect are at most a few MiB (one read chunk).
constexpr size_t rpc_max_record_size = 64U * 1024U * 1024U;
// Opaque verifier bodies are at most 400 bytes (RFC 5531).
constexpr uint32_t rpc_max_auth_body = 400;

enum class rpc_status_t {
    ok,
    timeout,     // no complete reply before the deadline
    conn_lost,   // connection refused, closed or reset
    unresolved,  // host name not known
    garbage,     // a reply that is not valid RPC, too large, or for an unknown call
    rejected,    // MSG_DENIED or an accept state other than SUCCESS
};

// Appends the record body of a call (without record mark) to `out`; the caller then
// appends the XDR arguments.
void rpc_encode_call_header(byte_vector_t& out, uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc);

// Wraps a record body into one last fragment.
byte_vector_t rpc_frame_record(const byte_vector_t& body);

struct rpc_reply_t {
    uint32_t xid = 0;
    uint32_t reply_stat = 0;
    uint32_t accept_stat = 0;   // valid when reply_stat is accepted
    uint32_t reject_stat = 0;   // valid when reply_stat is denied
    size_t results_offset = 0;  // where the procedure's results start in the record
};

// Decodes a reply record header. Returns ok only for an accepted, successful reply;
// rejected for a well-formed denial or failed accept state; garbage otherwise.
rpc_status_t rpc_decode_reply(const uint8_t* data, size_t size, rpc_reply_t& reply);

// Reassembles records from a byte stream fed in arbitrary pieces.
class rpc_record_decoder_t {
public:
    explicit rpc_record_decoder_t(size_t max_record = rpc_max_record_size) : m_max_record(max_record) {}

    // Consumes bytes up to the end of the current record. Returns the number used;
    // afterwards record_complete() or failed() may be true. Feed nothing more after
    // a complete record until take_record() or after a failure.
    size_t feed(const uint8_t* data, size_t size);
    bool record_complete() const { return m_complete; }
    bool failed() const { return m_failed; }
    bool in_progress() const { return m_header_fill > 0 || !m_record.empty() || m_fragment_left > 0; }
    byte_vector_t take_record();
    void reset();

private:
    size_t m_max_record;
    byte_vector_t m_record;
    uint8_t m_header[4] = {0, 0, 0, 0};
    size_t m_header_fill = 0;
    size_t m_fragment_left = 0;
    bool m_last_fragment = false;
    bool m_complete = false;
    bool m_failed = false;
};

// One TCP connection to one RPC program. Calls are serialised by the caller (the
// session lock). A reply whose xid does not match (a late answer to a call that
// timed out) is skipped. After a time-out in the middle of a record the stream is
// out of step: the connection is dropped and later calls report conn_lost.
class rpc_client_t {
public:
    rpc_client_t(uint32_t prog, uint32_t vers);

    rpc_status_t connect(const std::string& host, uint16_t port, deadline_t deadline);
    // `args` are the XDR arguments. On ok, `record` holds the reply record and
    // `results_offset` where the results begin.
    rpc_status_t call(uint32_t proc, const byte_vector_t& args, byte_vector_t& record, size_t& results_offset,
                      deadline_t deadline);
    bool is_connected() const { return m_socket.is_open(); }
    void close();

private:
    rpc_status_t _receive_record(byte_vector_t& record, deadline_t deadline);

    uint32_t m_prog;
    uint32_t m_vers;
    uint32_t m_next_xid;
    tcp_socket_t m_socket;
    rpc_record_decoder_t m_decoder;
    byte_vector_t m_inbuf;  // receive buffer; bytes [m_inbuf_pos, m_inbuf_len) not yet fed to the decoder
    size_t m_inbuf_len = 0;
    size_t m_inbuf_pos = 0;
};

rpc_status_t rpc_status_from_net(net_status_t s);

}  // namespace visa
