#include "visa/visa_session_vxi11.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "visa/visa_portmap.h"

namespace visa {

namespace {
// The socket waits this much longer than the io_timeout given to the server, so
// that the server's own time-out error (15) arrives first.
uint32_t socket_margin_ms(uint32_t io_timeout) { return std::clamp<uint32_t>(io_timeout / 4, 50, 500); }

// Distinguishes our links in the server's log; any value is valid.
int32_t next_client_id() {
    static std::atomic<int32_t> id{0x5600};
    return id.fetch_add(1);
}
}  // namespace

ViStatus vxi11_error_to_status(int32_t error) {
    switch (error) {
        case vxi11_err_none:
            return VI_SUCCESS;
        case vxi11_err_io_timeout:
            return VI_ERROR_TMO;
        case vxi11_err_io:
            return VI_ERROR_IO;
        case vxi11_err_locked:
            return VI_ERROR_RSRC_LOCKED;
        case vxi11_err_not_accessible:
            return VI_ERROR_CONN_LOST;
        case vxi11_err_not_supported:
            return VI_ERROR_NSUP_OPER;
        case vxi11_err_abort:
            return VI_ERROR_ABORT;
        default:
            return VI_ERROR_IO;
    }
}

ViStatus vxi11_session_t::_status_of(rpc_status_t s) const {
    switch (s) {
        case rpc_status_t::ok:
            return VI_SUCCESS;
        case rpc_status_t::timeout:
            return VI_ERROR_TMO;
        case rpc_status_t::conn_lost:
        case rpc_status_t::unresolved:
            return VI_ERROR_CONN_LOST;
        case rpc_status_t::garbage:
        case rpc_status_t::rejected:
            return VI_ERROR_IO;
    }
    return VI_ERROR_IO;
}

ViStatus vxi11_session_t::open(const tcpip_instr_name_t& name, bool lock_device, ViUInt32 lock_timeout,
                               std::unique_ptr<session_t>& out) {
    std::unique_ptr<vxi11_session_t> s(new vxi11_session_t(name.board));
    const deadline_t deadline = operation_deadline(s->m_attrs.tmo_ms);
    uint16_t core_port = 0;
    const rpc_status_t pm = portmap_getport(name.host, portmap_port_from_env(), vxi11_core_program,
                                            vxi11_core_version, core_port, deadline);
    if (pm == rpc_status_t::garbage || pm == rpc_status_t::rejected) return VI_ERROR_IO;
    // Unknown host, nobody listening, no answer, or no core channel registered.
    if (pm != rpc_status_t::ok || core_port == 0) return VI_ERROR_RSRC_NFOUND;

    if (s->m_core.connect(name.host, core_port, deadline) != rpc_status_t::ok) return VI_ERROR_RSRC_NFOUND;
    vxi11_create_link_args_t args;
    args.client_id = next_client_id();
    args.lock_device = lock_device;
    args.lock_timeout = lock_timeout;
    args.device = name.lan_device_name;
    vxi11_create_link_resp_t resp;
    const rpc_status_t cl = s->m_core.create_link(args, resp, deadline);
    if (cl == rpc_status_t::timeout) return VI_ERROR_TMO;
    if (cl != rpc_status_t::ok) return cl == rpc_status_t::conn_lost ? VI_ERROR_RSRC_NFOUND : VI_ERROR_IO;
    if (resp.error != vxi11_err_none) {
        if (resp.error == vxi11_err_locked) return VI_ERROR_RSRC_LOCKED;
        if (resp.error == vxi11_err_out_of_resources) return VI_ERROR_ALLOC;
        return VI_ERROR_RSRC_NFOUND;
    }
    s->m_lid = resp.lid;
    s->m_linked = true;
    // maxRecvSize is at least 1024 by the standard; 0 is a broken server, assume the minimum.
    s->m_write_chunk = resp.max_recv_size == 0 ? 1024U : std::min(resp.max_recv_size, vxi11_max_write_chunk);
    out = std::move(s);
    return VI_SUCCESS;
}

void vxi11_session_t::close() {
    if (m_linked && m_core.is_connected()) {
        int32_t error = 0;
        // A short wait: the link dies with the connection anyway.
        m_core.destroy_link(m_lid, error, deadline_after_ms(std::min<ViUInt32>(m_attrs.tmo_ms, 1000)));
    }
    m_linked = false;
    m_core.close();
    m_pending.clear();
    m_pending_pos = 0;
}

void vxi11_session_t::_chunk_timing(deadline_t op_deadline, uint32_t& io_timeout,
                                    deadline_t& socket_deadline) const {
    io_timeout = std::max<uint32_t>(static_cast<uint32_t>(ms_until(op_deadline)), vxi11_min_io_timeout_ms);
    socket_deadline = deadline_after_ms(uint64_t{io_timeout} + socket_margin_ms(io_timeout));
}

ViStatus vxi11_session_t::write(const ViByte* buf, ViUInt32 cnt, ViUInt32& written) {
    written = 0;
    if (!m_linked) return VI_ERROR_CONN_LOST;
    const deadline_t op_deadline = operation_deadline(m_attrs.tmo_ms);
    // A write always sends at least one chunk, so an empty write still carries END.
    bool first = true;
    while (first || written < cnt) {
        if (!first && clock_t_::now() >= op_deadline) return VI_ERROR_TMO;
        first = false;
        const uint32_t chunk = std::min(cnt - written, m_write_chunk);
        const bool last = written + chunk == cnt;
        vxi11_write_args_t args;
        args.lid = m_lid;
        args.flags = (last && m_attrs.send_end_en) ? vxi11_flag_end : 0;
        args.data = buf + written;
        args.size = chunk;
        deadline_t socket_deadline;
        _chunk_timing(op_deadline, args.io_timeout, socket_deadline);
        vxi11_write_resp_t resp;
        const rpc_status_t s = m_core.device_write(args, resp, socket_deadline);
        if (s != rpc_status_t::ok) return _status_of(s);
        if (resp.size > chunk) return VI_ERROR_IO;
        written += resp.size;
        if (resp.error != vxi11_err_none) return vxi11_error_to_status(resp.error);
        if (chunk == 0) break;
    }
    return VI_SUCCESS;
}

ViStatus vxi11_session_t::_deliver_pending(ViByte* buf, ViUInt32 cnt, ViUInt32& got, bool& done) {
    done = false;
    const size_t avail = m_pending.size() - m_pending_pos;
    const size_t n = std::min<size_t>(avail, cnt - got);
    if (n > 0) std::memcpy(buf + got, m_pending.data() + m_pending_pos, n);
    got += static_cast<ViUInt32>(n);
    m_pending_pos += n;
    if (m_pending_pos < m_pending.size()) {
        done = true;
        return VI_SUCCESS_MAX_CNT;
    }
    const int32_t reason = m_pending_reason;
    m_pending.clear();
    m_pending_pos = 0;
    m_pending_reason = 0;
    if (n == 0) return VI_SUCCESS;
    if ((reason & vxi11_reason_end) && !m_attrs.suppress_end_en) {
        done = true;
        return VI_SUCCESS;
    }
    if (reason & vxi11_reason_chr) {
        done = true;
        return VI_SUCCESS_TERM_CHAR;
    }
    if (got == cnt) {
        done = true;
        return VI_SUCCESS_MAX_CNT;
    }
    return VI_SUCCESS;
}

ViStatus vxi11_session_t::read(ViByte* buf, ViUInt32 cnt, ViUInt32& got) {
    got = 0;
    if (cnt == 0) return VI_SUCCESS_MAX_CNT;
    bool done = false;
    const ViStatus pending_status = _deliver_pending(buf, cnt, got, done);
    if (done) return pending_status;
    if (!m_linked) return VI_ERROR_CONN_LOST;

    // The time-out covers the whole read, not each chunk.
    const deadline_t op_deadline = operation_deadline(m_attrs.tmo_ms);
    bool first = true;
    for (;;) {
        if (!first && clock_t_::now() >= op_deadline) return VI_ERROR_TMO;
        first = false;
        vxi11_read_args_t args;
        args.lid = m_lid;
        args.request_size = std::min(cnt - got, vxi11_max_read_request);
        if (m_attrs.termchar_en) {
            args.flags |= vxi11_flag_termchrset;
            args.term_char = m_attrs.termchar;
        }
        deadline_t socket_deadline;
        _chunk_timing(op_deadline, args.io_timeout, socket_deadline);
        vxi11_read_resp_t resp;
        const rpc_status_t s = m_core.device_read(args, resp, socket_deadline);
        if (s != rpc_status_t::ok) return _status_of(s);

        const size_t take = std::min<size_t>(resp.data.size(), cnt - got);
        if (take > 0) std::memcpy(buf + got, resp.data.data(), take);
        got += static_cast<ViUInt32>(take);
        if (resp.error != vxi11_err_none) return vxi11_error_to_status(resp.error);

        int32_t reason = resp.reason;
        if (m_attrs.termchar_en && !resp.data.empty() && resp.data.back() == m_attrs.termchar) {
            reason |= vxi11_reason_chr;  // some servers ignore termchrset but the byte is there
        }
        if (take < resp.data.size()) {
            // The server sent more than asked; keep the rest for the next read.
            m_pending.assign(resp.data.begin() + static_cast<std::ptrdiff_t>(take), resp.data.end());
            m_pending_pos = 0;
            m_pending_reason = reason;
            return VI_SUCCESS_MAX_CNT;
        }
        if ((reason & vxi11_reason_end) && !m_attrs.suppress_end_en) return VI_SUCCESS;
        if (reason & vxi11_reason_chr) return VI_SUCCESS_TERM_CHAR;
        if (got == cnt) return VI_SUCCESS_MAX_CNT;
        // Reason 0 (server buffer full) or REQCNT of a smaller request: read on.
    }
}

}  // namespace visa
