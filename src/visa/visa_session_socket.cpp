#include "visa/visa_session_socket.h"

#include <algorithm>
#include <cstring>

namespace visa {

namespace {
constexpr size_t socket_receive_chunk = 64U * 1024U;

ViStatus status_of(net_status_t s) {
    switch (s) {
        case net_status_t::ok:
            return VI_SUCCESS;
        case net_status_t::timeout:
            return VI_ERROR_TMO;
        case net_status_t::closed:
        case net_status_t::refused:
        case net_status_t::unresolved:
            return VI_ERROR_CONN_LOST;
        case net_status_t::error:
            return VI_ERROR_IO;
    }
    return VI_ERROR_IO;
}
}  // namespace

socket_session_t::socket_session_t(uint16_t board) : session_t(VI_INTF_TCPIP, board) {
    m_attrs.termchar_en = true;  // as VISA does for SOCKET resources
}

ViStatus socket_session_t::open(const tcpip_socket_name_t& name, std::unique_ptr<session_t>& out) {
    std::unique_ptr<socket_session_t> s(new socket_session_t(name.board));
    const net_status_t c = s->m_socket.connect(name.host, name.port, operation_deadline(s->m_attrs.tmo_ms));
    if (c != net_status_t::ok) return c == net_status_t::error ? VI_ERROR_IO : VI_ERROR_RSRC_NFOUND;
    out = std::move(s);
    return VI_SUCCESS;
}

void socket_session_t::close() {
    m_socket.close();
    m_pending.clear();
}

ViStatus socket_session_t::write(const ViByte* buf, ViUInt32 cnt, ViUInt32& written) {
    written = 0;
    if (!m_socket.is_open()) return VI_ERROR_CONN_LOST;
    const net_status_t s = m_socket.send_all(buf, cnt, operation_deadline(m_attrs.tmo_ms));
    if (s == net_status_t::ok) written = cnt;
    return status_of(s);
}

ViStatus socket_session_t::read(ViByte* buf, ViUInt32 cnt, ViUInt32& got) {
    got = 0;
    if (cnt == 0) return VI_SUCCESS_MAX_CNT;
    const deadline_t deadline = operation_deadline(m_attrs.tmo_ms);
    for (;;) {
        // Hand out what is buffered, stopping after a termination character.
        const size_t room = cnt - got;
        size_t n = std::min(room, m_pending.size());
        bool term = false;
        if (m_attrs.termchar_en) {
            const auto it = std::find(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n),
                                      m_attrs.termchar);
            if (it != m_pending.begin() + static_cast<std::ptrdiff_t>(n)) {
                n = static_cast<size_t>(it - m_pending.begin()) + 1;
                term = true;
            }
        }
        if (n > 0) {
            std::memcpy(buf + got, m_pending.data(), n);
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
            got += static_cast<ViUInt32>(n);
        }
        if (term) return VI_SUCCESS_TERM_CHAR;
        if (got == cnt) return VI_SUCCESS_MAX_CNT;
        if (!m_socket.is_open()) return VI_ERROR_CONN_LOST;

        // Ask no more than the caller can still take, so the buffer stays bounded.
        m_pending.resize(std::min(socket_receive_chunk, static_cast<size_t>(cnt - got)));
        size_t received = 0;
        const net_status_t s = m_socket.recv_some(m_pending.data(), m_pending.size(), received, deadline);
        m_pending.resize(received);
        if (s != net_status_t::ok) {
            if (s == net_status_t::closed) m_socket.close();
            return status_of(s);
        }
    }
}

}  // namespace visa
