// Raw TCP instrument session (TCPIP::host::port::SOCKET). A byte stream has no END:
// a read ends at the termination character (enabled by default, '\n'), when the
// caller's count is reached, or at the time-out.
#pragma once

#include <memory>

#include "visa/visa_rsrc_name.h"
#include "visa/visa_session.h"
#include "visa/visa_xdr.h"

namespace visa {

class socket_session_t final : public session_t {
public:
    static ViStatus open(const tcpip_socket_name_t& name, std::unique_ptr<session_t>& out);

    ViStatus write(const ViByte* buf, ViUInt32 cnt, ViUInt32& written) override;
    ViStatus read(ViByte* buf, ViUInt32 cnt, ViUInt32& got) override;
    void close() override;

private:
    explicit socket_session_t(uint16_t board);

    tcp_socket_t m_socket;
    // Received bytes not yet handed out (those after a termination character);
    // never more than one read's count.
    byte_vector_t m_pending;
};

}  // namespace visa
