#include "visa/visa_rpc.h"

#include <algorithm>
#include <atomic>

namespace visa {

namespace {
// Stale replies skipped per call before the stream is declared garbage.
constexpr int max_stale_replies = 16;
constexpr size_t receive_chunk = 64U * 1024U;

uint32_t initial_xid() {
    // Different per client and per process run, so a reused connection port does
    // not see a recent xid again.
    static std::atomic<uint32_t> counter{0};
    const auto now = static_cast<uint64_t>(clock_t_::now().time_since_epoch().count());
    return static_cast<uint32_t>(now ^ (now >> 32)) + (counter.fetch_add(1) << 20);
}
}  // namespace

rpc_status_t rpc_status_from_net(net_status_t s) {
    switch (s) {
        case net_status_t::ok:
            return rpc_status_t::ok;
        case net_status_t::timeout:
            return rpc_status_t::timeout;
        case net_status_t::unresolved:
            return rpc_status_t::unresolved;
        case net_status_t::closed:
        case net_status_t::refused:
        case net_status_t::error:
            return rpc_status_t::conn_lost;
    }
    return rpc_status_t::conn_lost;
}

void rpc_encode_call_header(byte_vector_t& out, uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc) {
    xdr_writer_t w(out);
    w.put_u32(xid);
    w.put_u32(rpc_msg_call);
    w.put_u32(rpc_version);
    w.put_u32(prog);
    w.put_u32(vers);
    w.put_u32(proc);
    w.put_u32(rpc_auth_none);  // credential: AUTH_NONE, empty body
    w.put_u32(0);
    w.put_u32(rpc_auth_none);  // verifier: AUTH_NONE, empty body
    w.put_u32(0);
}

byte_vector_t rpc_frame_record(const byte_vector_t& body) {
    byte_vector_t out;
    out.reserve(body.size() + 4);
    xdr_writer_t(out).put_u32(rpc_last_fragment_bit | static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

rpc_status_t rpc_decode_reply(const uint8_t* data, size_t size, rpc_reply_t& reply) {
    reply = rpc_reply_t{};
    xdr_reader_t r(data, size);
    uint32_t msg_type = 0;
    if (!r.get_u32(reply.xid) || !r.get_u32(msg_type) || msg_type != rpc_msg_reply)
        return rpc_status_t::garbage;
    if (!r.get_u32(reply.reply_stat)) return rpc_status_t::garbage;
    if (reply.reply_stat == rpc_reply_denied) {
        // RPC_MISMATCH carries low/high versions, AUTH_ERROR a status; either way denied.
        return r.get_u32(reply.reject_stat) ? rpc_status_t::rejected : rpc_status_t::garbage;
    }
    if (reply.reply_stat != rpc_reply_accepted) return rpc_status_t::garbage;
    uint32_t verf_flavor = 0;
    if (!r.get_u32(verf_flavor) || !r.skip_opaque(rpc_max_auth_body)) return rpc_status_t::garbage;
    if (!r.get_u32(reply.accept_stat)) return rpc_status_t::garbage;
    if (reply.accept_stat != rpc_accept_success) {
        return reply.accept_stat <= rpc_accept_garbage_args ? rpc_status_t::rejected : rpc_status_t::garbage;
    }
    reply.results_offset = r.position();
    return rpc_status_t::ok;
}

size_t rpc_record_decoder_t::feed(const uint8_t* data, size_t size) {
    size_t used = 0;
    while (used < size && !m_complete && !m_failed) {
        if (m_fragment_left == 0 && m_header_fill < 4) {
            m_header[m_header_fill++] = data[used++];
            if (m_header_fill < 4) continue;
            const uint32_t mark = (static_cast<uint32_t>(m_header[0]) << 24) |
                                  (static_cast<uint32_t>(m_header[1]) << 16) |
                                  (static_cast<uint32_t>(m_header[2]) << 8) | m_header[3];
            m_last_fragment = (mark & rpc_last_fragment_bit) != 0;
            m_fragment_left = mark & rpc_fragment_length_mask;
            if (m_fragment_left > m_max_record - m_record.size()) {
                m_failed = true;
                break;
            }
            if (m_fragment_left == 0) {
                m_header_fill = 0;
                if (m_last_fragment) m_complete = true;
                continue;
            }
            // Reserve for the fragment only as the bytes actually arrive.
        }
        const size_t take = std::min(m_fragment_left, size - used);
        m_record.insert(m_record.end(), data + used, data + used + take);
        used += take;
        m_fragment_left -= take;
        if (m_fragment_left == 0) {
            m_header_fill = 0;
            if (m_last_fragment) m_complete = true;
        }
    }
    return used;
}

byte_vector_t rpc_record_decoder_t::take_record() {
    byte_vector_t out;
    out.swap(m_record);
    m_complete = false;
    m_header_fill = 0;
    m_fragment_left = 0;
    m_last_fragment = false;
    return out;
}

void rpc_record_decoder_t::reset() {
    m_record.clear();
    m_header_fill = 0;
    m_fragment_left = 0;
    m_last_fragment = false;
    m_complete = false;
    m_failed = false;
}

rpc_client_t::rpc_client_t(uint32_t prog, uint32_t vers)
    : m_prog(prog), m_vers(vers), m_next_xid(initial_xid()) {}

rpc_status_t rpc_client_t::connect(const std::string& host, uint16_t port, deadline_t deadline) {
    close();
    return rpc_status_from_net(m_socket.connect(host, port, deadline));
}

void rpc_client_t::close() {
    m_socket.close();
    m_decoder.reset();
    m_inbuf_len = 0;
    m_inbuf_pos = 0;
}

rpc_status_t rpc_client_t::_receive_record(byte_vector_t& record, deadline_t deadline) {
    for (;;) {
        if (m_inbuf_pos < m_inbuf_len) {
            m_inbuf_pos += m_decoder.feed(m_inbuf.data() + m_inbuf_pos, m_inbuf_len - m_inbuf_pos);
            if (m_inbuf_pos == m_inbuf_len) {
                m_inbuf_len = 0;
                m_inbuf_pos = 0;
            }
        }
        if (m_decoder.failed()) return rpc_status_t::garbage;
        if (m_decoder.record_complete()) {
            record = m_decoder.take_record();
            return rpc_status_t::ok;
        }
        // Sized once: zero-filling a fresh chunk per receive cost more than a small reply.
        if (m_inbuf.size() != receive_chunk) m_inbuf.resize(receive_chunk);
        size_t n = 0;
        const net_status_t s = m_socket.recv_some(m_inbuf.data(), m_inbuf.size(), n, deadline);
        m_inbuf_len = n;
        m_inbuf_pos = 0;
        if (s != net_status_t::ok) return rpc_status_from_net(s);
    }
}

rpc_status_t rpc_client_t::call(uint32_t proc, const byte_vector_t& args, byte_vector_t& record,
                                size_t& results_offset, deadline_t deadline) {
    if (!m_socket.is_open()) return rpc_status_t::conn_lost;
    const uint32_t xid = m_next_xid++;
    byte_vector_t body;
    body.reserve(40 + args.size());
    rpc_encode_call_header(body, xid, m_prog, m_vers, proc);
    body.insert(body.end(), args.begin(), args.end());
    const byte_vector_t framed = rpc_frame_record(body);
    net_status_t ns = m_socket.send_all(framed.data(), framed.size(), deadline);
    if (ns != net_status_t::ok) {
        // A partly sent call leaves the server's stream out of step.
        close();
        return rpc_status_from_net(ns);
    }
    for (int stale = 0; stale <= max_stale_replies; ++stale) {
        const rpc_status_t s = _receive_record(record, deadline);
        if (s != rpc_status_t::ok) {
            if (s != rpc_status_t::timeout || m_decoder.in_progress()) close();
            return s;
        }
        rpc_reply_t reply;
        const rpc_status_t d = rpc_decode_reply(record.data(), record.size(), reply);
        if (reply.xid != xid && d != rpc_status_t::garbage) continue;  // late answer to an earlier call
        if (d == rpc_status_t::garbage) {
            close();
            return d;
        }
        results_offset = reply.results_offset;
        return d;
    }
    close();
    return rpc_status_t::garbage;
}

}  // namespace visa
