// An open instrument session: the VISA behaviour common to every transport
// (attributes, time-out arithmetic) and the interface each transport implements.
#pragma once

#include <cstdint>
#include <mutex>

#include "visa/visa_net.h"
#include "visa/visa_types.h"

namespace visa {

constexpr ViUInt32 default_tmo_ms = 2000;
// VI_TMO_INFINITE is honoured as a day, so that no call can block for ever.
constexpr uint64_t infinite_tmo_cap_ms = 24ULL * 3600ULL * 1000ULL;

struct session_attrs_t {
    ViUInt32 tmo_ms = default_tmo_ms;
    ViUInt8 termchar = 0x0A;
    bool termchar_en = false;
    bool send_end_en = true;
    bool suppress_end_en = false;
};

// Deadline of one whole VISA operation under `tmo_ms`.
deadline_t operation_deadline(ViUInt32 tmo_ms);

class session_t {
public:
    session_t(ViUInt16 intf_type, ViUInt16 intf_num) : m_intf_type(intf_type), m_intf_num(intf_num) {}
    virtual ~session_t() = default;
    session_t(const session_t&) = delete;
    session_t& operator=(const session_t&) = delete;

    // Called with m_mutex held.
    virtual ViStatus write(const ViByte* buf, ViUInt32 cnt, ViUInt32& written) = 0;
    virtual ViStatus read(ViByte* buf, ViUInt32 cnt, ViUInt32& got) = 0;
    // Releases the instrument; the session is unusable afterwards.
    virtual void close() = 0;

    ViStatus set_attribute(ViAttr attr, ViAttrState value);
    ViStatus get_attribute(ViAttr attr, void* value) const;

    // Guards the transport and the attributes: one operation at a time per session.
    std::mutex m_mutex;

protected:
    session_attrs_t m_attrs;
    ViUInt16 m_intf_type;
    ViUInt16 m_intf_num;
};

}  // namespace visa
