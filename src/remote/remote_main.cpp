#include "remote/remote_main.h"
#include "common/plib_log.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>

#include "visa/visa.h"

namespace {

// VISA: negative statuses are errors; every other value (VI_SUCCESS, VI_SUCCESS_MAX_CNT,
// VI_SUCCESS_TERM_CHAR, warnings) completed the operation.
bool is_failure(int status) { return status < 0; }

}  // namespace

const char* remote_status_text(int status) { return visa::status_text(status); }

// ---- engine life cycle ----------------------------------------------------------

remote_main_t::remote_main_t()
    : nsp::thd::engine_t<plib_remote_notify_t>("remote", 200),
      m_read_buffer(new unsigned char[read_buffer_size]) {
    visa::ViSession session = 0;
    const visa::ViStatus status = visa::viOpenDefaultRM(&session);
    NSP_ASSERT(status == visa::VI_SUCCESS);
    m_default_session = session;
    _start_thread();
}

remote_main_t::~remote_main_t() {
    _stop_engine();
    visa::viClose(m_default_session);
}

// ---- caller operations ------------------------------------------------------------

int remote_main_t::open(const std::string& resource, unsigned long& session) {
    return m_msg_open.send(resource, session);
}

int remote_main_t::close(unsigned long session) { return m_msg_close.send(session); }

int remote_main_t::write(unsigned long session, const std::string& bytes) {
    return m_msg_write.send(session, bytes);
}

int remote_main_t::read(unsigned long session, std::string& reply) { return m_msg_read.send(session, reply); }

int remote_main_t::console_read(unsigned long session, std::string& reply) {
    return m_msg_console_read.send(session, reply);
}

int remote_main_t::query(unsigned long session, const std::string& command, std::string& reply) {
    return m_msg_query.send(session, command, reply);
}

int remote_main_t::find_resource(std::vector<std::string>& resources) {
    return m_msg_find_resource.send(resources);
}

int remote_main_t::resource_available(const std::string& resource) {
    return m_msg_resource_available.send(resource);
}

int remote_main_t::set_timeout(unsigned long session, int milliseconds) {
    return m_msg_timeout.send(session, milliseconds);
}

int remote_main_t::get_timeout(unsigned long session, int& milliseconds) {
    return m_msg_timeout.fetch(session, milliseconds);
}

// ---- handlers (link thread) --------------------------------------------------------

int remote_main_t::_open(const std::string& resource, unsigned long& session) {
    visa::ViSession new_session = 0;
    const visa::ViStatus status =
        visa::viOpen(m_default_session, resource.c_str(), visa::VI_NULL, 0, &new_session);
    session = new_session;
    if (status >= 0) m_lost_sessions.erase(session);
    return status;
}

int remote_main_t::_close(unsigned long session) {
    m_lost_sessions.erase(session);
    return visa::viClose(static_cast<visa::ViObject>(session));
}

int remote_main_t::_write(unsigned long session, const std::string& bytes) {
    if (_is_lost(session)) {
        _count_result(session, visa::VI_ERROR_CONN_LOST, m_write_failures);
        return visa::VI_ERROR_CONN_LOST;
    }
    visa::ViUInt32 count = 0;
    // A single VISA write carries at most 4 GiB; nothing we send comes near that.
    const visa::ViUInt32 length = bytes.size() > UINT32_MAX ? static_cast<visa::ViUInt32>(UINT32_MAX)
                                                            : static_cast<visa::ViUInt32>(bytes.size());
    const visa::ViStatus status =
        visa::viWrite(static_cast<visa::ViSession>(session), reinterpret_cast<visa::ViConstBuf>(bytes.data()),
                      length, &count);
    _count_result(session, status, m_write_failures);
    return status;
}

int remote_main_t::_read(unsigned long session, std::string& reply) { return _read_once(session, reply, true); }

int remote_main_t::_console_read(unsigned long session, std::string& reply) {
    return _read_once(session, reply, false);
}

int remote_main_t::_read_once(unsigned long session, std::string& reply, bool count_result) {
    if (_is_lost(session)) {
        reply.clear();
        if (count_result) _count_result(session, visa::VI_ERROR_CONN_LOST, m_read_failures);
        return visa::VI_ERROR_CONN_LOST;
    }
    visa::ViUInt32 count = 0;
    const visa::ViStatus status = visa::viRead(static_cast<visa::ViSession>(session), m_read_buffer.get(),
                                               static_cast<visa::ViUInt32>(read_buffer_size), &count);
    // Never trust a count larger than the buffer we handed out.
    const std::size_t used = count > read_buffer_size ? read_buffer_size : count;
    reply.assign(reinterpret_cast<const char*>(m_read_buffer.get()), used);
    if (count_result) _count_result(session, status, m_read_failures);
    return status;
}

int remote_main_t::_query(unsigned long session, const std::string& command, std::string& reply) {
    const int status = _write(session, command);
    if (status != visa::VI_SUCCESS) return status;
    // Gives slow instruments time to parse the command before the read request arrives.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return _read(session, reply);
}

int remote_main_t::_find_resource(std::vector<std::string>& resources) {
    visa::ViFindList find_list = 0;
    visa::ViUInt32 count = 0;
    visa::ViChar description[visa::VI_FIND_BUFLEN] = {};
    visa::ViStatus status =
        visa::viFindRsrc(m_default_session, find_expression, &find_list, &count, description);
    if (status != visa::VI_SUCCESS) return status;

    for (visa::ViUInt32 i = 0; i < count; ++i) {
        description[visa::VI_FIND_BUFLEN - 1] = '\0';  // a foreign library may not terminate it
        const std::string resource(description);
        std::memset(description, 0, sizeof(description));
        if (i + 1 < count) visa::viFindNext(find_list, description);
        if (_resource_available(resource) != 0) resources.push_back(resource);
    }
    return visa::viClose(find_list);
}

int remote_main_t::_resource_available(const std::string& resource) {
    visa::ViUInt16 interface_type = 0;
    visa::ViUInt16 interface_number = 0;
    if (visa::viParseRsrc(m_default_session, resource.c_str(), &interface_type, &interface_number) !=
        visa::VI_SUCCESS) {
        return 0;
    }
    visa::ViSession probe = 0;
    if (visa::viOpen(m_default_session, resource.c_str(), visa::VI_NULL, 0, &probe) != visa::VI_SUCCESS) {
        return 0;
    }
    visa::viClose(probe);
    return 1;
}

int remote_main_t::_set_timeout(unsigned long session, int milliseconds) {
    // VISA reads the time-out as unsigned 32 bits (0xFFFFFFFF = infinite).
    const auto value = static_cast<visa::ViAttrState>(static_cast<visa::ViUInt32>(milliseconds));
    const visa::ViStatus status =
        visa::viSetAttribute(static_cast<visa::ViObject>(session), visa::VI_ATTR_TMO_VALUE, value);
    plib_log(std::string("_printf_vistatus: status = ") + remote_status_text(status));
    return status;
}

int remote_main_t::_get_timeout(unsigned long session, int& milliseconds) {
    // Zeroed and wider than the 32-bit attribute, so a library writing 4 or 8 bytes both work.
    visa::ViAttrState value = 0;
    const visa::ViStatus status =
        visa::viGetAttribute(static_cast<visa::ViObject>(session), visa::VI_ATTR_TMO_VALUE, &value);
    if (status == visa::VI_SUCCESS) milliseconds = static_cast<int>(static_cast<visa::ViUInt32>(value));
    return status;
}

void remote_main_t::_count_result(unsigned long session, int status, int& failures) {
    if (!is_failure(status)) {
        failures = 0;
        return;
    }
    if (failures < INT_MAX) ++failures;
    if (failures >= link_lost_failures) m_lost_sessions.insert(session);
    // Without a callback the count keeps growing until the next success.
    if (failures >= link_lost_failures && _notify(remote_notify_link_lost)) failures = 0;
}
