// VXI-11 instrument session (TCPIP::host::inst0::INSTR): finds the core channel
// through the portmapper, creates a link, and gives VISA semantics on top of
// device_write / device_read.
#pragma once

#include <memory>

#include "visa/visa_rsrc_name.h"
#include "visa/visa_session.h"
#include "visa/visa_vxi11.h"

namespace visa {

// Writes go out in chunks of at most this many bytes, or the server's maxRecvSize
// when smaller (some servers report 0xFFFFFFFF).
constexpr uint32_t vxi11_max_write_chunk = 1024U * 1024U;
// A read asks at most this much per device_read.
constexpr uint32_t vxi11_max_read_request = 1024U * 1024U;
// Smallest per-chunk io_timeout handed to the server.
constexpr uint32_t vxi11_min_io_timeout_ms = 10;

// Maps a VXI-11 device error to a VISA status.
ViStatus vxi11_error_to_status(int32_t error);

class vxi11_session_t final : public session_t {
public:
    // Connects and creates the link; on failure returns a VISA error and no session.
    static ViStatus open(const tcpip_instr_name_t& name, bool lock_device, ViUInt32 lock_timeout,
                         std::unique_ptr<session_t>& out);
    ~vxi11_session_t() override { close(); }

    ViStatus write(const ViByte* buf, ViUInt32 cnt, ViUInt32& written) override;
    ViStatus read(ViByte* buf, ViUInt32 cnt, ViUInt32& got) override;
    void close() override;

    uint32_t write_chunk_size() const { return m_write_chunk; }

private:
    explicit vxi11_session_t(uint16_t board) : session_t(VI_INTF_TCPIP, board) {}
    // io_timeout for the server and the later socket deadline of one chunk.
    void _chunk_timing(deadline_t op_deadline, uint32_t& io_timeout, deadline_t& socket_deadline) const;
    ViStatus _status_of(rpc_status_t s) const;
    ViStatus _deliver_pending(ViByte* buf, ViUInt32 cnt, ViUInt32& got, bool& done);

    vxi11_core_client_t m_core;
    int32_t m_lid = 0;
    bool m_linked = false;
    uint32_t m_write_chunk = 1024;
    // Bytes a server sent beyond what the caller could take, with the reason that
    // came with them, handed out first by the next read.
    byte_vector_t m_pending;
    size_t m_pending_pos = 0;
    int32_t m_pending_reason = 0;
};

}  // namespace visa
