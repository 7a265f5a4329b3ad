#include "drv/drv_link.h"

#include "remote/remote_main.h"
#include "visa/visa_types.h"

namespace {
// A read that ended on the termination character (raw socket sessions) is a complete
// reply; the drivers know only success (0) and "more follows" (VI_SUCCESS_MAX_CNT).
int as_driver_status(int status) { return status == visa::VI_SUCCESS_TERM_CHAR ? visa::VI_SUCCESS : status; }
}  // namespace

int drv_remote_link_t::open(const std::string& resource, unsigned long& session) {
    return m_remote.open(resource, session);
}

int drv_remote_link_t::close(unsigned long session) { return m_remote.close(session); }

int drv_remote_link_t::write(unsigned long session, const std::string& bytes) {
    return m_remote.write(session, bytes);
}

int drv_remote_link_t::read(unsigned long session, std::string& reply) {
    return as_driver_status(m_remote.read(session, reply));
}

int drv_remote_link_t::query(unsigned long session, const std::string& command, std::string& reply) {
    return as_driver_status(m_remote.query(session, command, reply));
}

int drv_remote_link_t::resource_available(const std::string& resource) {
    return m_remote.resource_available(resource);
}
