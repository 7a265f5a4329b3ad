#include "remote/remote_main.h"

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

// ---- messages: each handler forwards to its engine -------------------------------

int remote_msg_timeout_t::on_set(const unsigned long& session, int& milliseconds) {
    return owner->_set_timeout(session, milliseconds);
}

int remote_msg_timeout_t::on_get(const unsigned long& session, int& milliseconds) {
    return owner->_get_timeout(session, milliseconds);
}

int remote_msg_find_resource_t::on_set(std::vector<std::string>& resources) {
    return owner->_find_resource(resources);
}

int remote_msg_open_t::on_set(const std::string& resource, unsigned long& session) {
    return owner->_open(resource, session);
}

int remote_msg_close_t::on_set(const unsigned long& session) { return owner->_close(session); }

int remote_msg_write_t::on_set(const unsigned long& session, const std::string& bytes) {
    return owner->_write(session, bytes);
}

int remote_msg_read_t::on_set(const unsigned long& session, std::string& reply) {
    return owner->_read(session, reply);
}

int remote_msg_query_t::on_set(const unsigned long& session, const std::string& command, std::string& reply) {
    return owner->_query(session, command, reply);
}

int remote_msg_resource_available_t::on_set(const std::string& resource) {
    return owner->_resource_available(resource);
}

// ---- engine life cycle ----------------------------------------------------------

remote_main_t::remote_main_t() : m_read_buffer(new unsigned char[read_buffer_size]) {
    visa::ViSession session = 0;
    const visa::ViStatus status = visa::viOpenDefaultRM(&session);
    NSP_ASSERT(status == visa::VI_SUCCESS);
    m_default_session = session;

    m_msg_timeout.owner = this;
    m_msg_find_resource.owner = this;
    m_msg_open.owner = this;
    m_msg_close.owner = this;
    m_msg_write.owner = this;
    m_msg_read.owner = this;
    m_msg_query.owner = this;
    m_msg_resource_available.owner = this;
    _start_thread();
}

remote_main_t::~remote_main_t() {
    m_quit.store(true);
    if (m_thread.joinable()) m_thread.join();
    visa::viClose(m_default_session);
}

void remote_main_t::_start_thread() {
    m_quit.store(false);
    m_msg_manager.register_msg(&m_msg_timeout);
    m_msg_manager.register_msg(&m_msg_find_resource);
    m_msg_manager.register_msg(&m_msg_open);
    m_msg_manager.register_msg(&m_msg_close);
    m_msg_manager.register_msg(&m_msg_write);
    m_msg_manager.register_msg(&m_msg_read);
    m_msg_manager.register_msg(&m_msg_query);
    m_msg_manager.register_msg(&m_msg_resource_available);
    m_thread = std::thread(thread_main, std::ref(m_msg_manager), std::ref(m_quit));
}

void remote_main_t::thread_main(nsp::thd::msg_manager_t& manager, std::atomic<bool>& quit) {
    nsp::thd::run_dispatch_loop(manager, quit, "remote", 200);
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

void remote_main_t::set_notify_callback(std::function<void(plib_remote_notify_t)> callback) {
    std::lock_guard<std::mutex> lock(m_notify_mutex);
    m_notify_callback = std::move(callback);
}

// ---- handlers (link thread) --------------------------------------------------------

int remote_main_t::_open(const std::string& resource, unsigned long& session) {
    visa::ViSession new_session = 0;
    const visa::ViStatus status =
        visa::viOpen(m_default_session, resource.c_str(), visa::VI_NULL, 0, &new_session);
    session = new_session;
    return status;
}

int remote_main_t::_close(unsigned long session) {
    return visa::viClose(static_cast<visa::ViObject>(session));
}

int remote_main_t::_write(unsigned long session, const std::string& bytes) {
    visa::ViUInt32 count = 0;
    // A single VISA write carries at most 4 GiB; nothing we send comes near that.
    const visa::ViUInt32 length = bytes.size() > UINT32_MAX ? static_cast<visa::ViUInt32>(UINT32_MAX)
                                                            : static_cast<visa::ViUInt32>(bytes.size());
    const visa::ViStatus status =
        visa::viWrite(static_cast<visa::ViSession>(session), reinterpret_cast<visa::ViConstBuf>(bytes.data()),
                      length, &count);
    _count_result(status, m_write_failures);
    return status;
}

int remote_main_t::_read(unsigned long session, std::string& reply) {
    visa::ViUInt32 count = 0;
    const visa::ViStatus status = visa::viRead(static_cast<visa::ViSession>(session), m_read_buffer.get(),
                                               static_cast<visa::ViUInt32>(read_buffer_size), &count);
    // Never trust a count larger than the buffer we handed out.
    const std::size_t used = count > read_buffer_size ? read_buffer_size : count;
    reply.assign(reinterpret_cast<const char*>(m_read_buffer.get()), used);
    _count_result(status, m_read_failures);
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
    std::printf("_printf_vistatus: status = %s\n", remote_status_text(status));
    std::fflush(stdout);
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

void remote_main_t::_count_result(int status, int& failures) {
    if (!is_failure(status)) {
        failures = 0;
        return;
    }
    if (failures < INT_MAX) ++failures;
    // Without a callback the count keeps growing until the next success.
    if (failures >= link_lost_failures && _notify(remote_notify_link_lost)) failures = 0;
}

bool remote_main_t::_notify(plib_remote_notify_t notify) {
    // Called under the lock so that set_notify_callback() never returns while the old
    // callback still runs.
    std::lock_guard<std::mutex> lock(m_notify_mutex);
    if (!m_notify_callback) return false;
    m_notify_callback(notify);
    return true;
}
