#include "cfg/cfg_remote.h"
#include "common/plib_log.h"

#include <iostream>

#include "common/plib_format.h"
#include "nsp_src/lib/lib_assert.h"

cfg_identity_t cfg_parse_identification(std::string_view reply) {
    cfg_identity_t identity;
    std::string_view rest = reply;
    // Takes the text before the next comma, or all of it when there is none (then
    // the rest stays as it is for the next field).
    auto next_field = [&rest]() {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) return std::string(rest);
        std::string field(rest.substr(0, comma));
        rest.remove_prefix(comma + 1);
        return field;
    };
    identity.manufacturer = next_field();
    identity.product_type = next_field();
    identity.serial_number = next_field();
    if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    identity.software_version = std::string(rest);
    // Each field goes into one line of file headers, project files and the console:
    // a line break or other control character from the instrument becomes a blank.
    // A field that took the rest of the reply (a comma missing) loses its line end too.
    for (std::string* field : {&identity.manufacturer, &identity.product_type, &identity.serial_number,
                               &identity.software_version}) {
        while (!field->empty() && (field->back() == '\n' || field->back() == '\r')) field->pop_back();
        *field = printable_line(*field);
    }
    return identity;
}

cfg_remote_t::cfg_remote_t(drv_link_t* link, drv_if_t* driver, const std::string& model,
                           const std::string& resource)
    : m_plink(link), m_pdrv(driver), m_model(model), m_resource(resource) {
    NSP_ASSERT(!model.empty());
    NSP_ASSERT(link != nullptr);
    NSP_ASSERT(driver != nullptr);
}

int cfg_remote_t::connect(int op) { return op == 1 ? _open() : _close(); }

int cfg_remote_t::connect_if_needed(int op) {
    if (get_info().connected) return result_ok;
    return op == 1 ? connect(1) : result_visa_failed;
}

void cfg_remote_t::set_model(const std::string& model) {
    NSP_ASSERT(!model.empty());
    std::lock_guard<std::mutex> lock(m_state_mutex);
    m_model = model;
}

void cfg_remote_t::set_info(const cfg_remote_info_t& info) {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    m_resource = info.resource;
    m_available = info.available;
    m_connected = info.connected;
    m_session = static_cast<unsigned long>(info.session);
}

std::string cfg_remote_t::get_model() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_model;
}

cfg_remote_info_t cfg_remote_t::get_info() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    cfg_remote_info_t info;
    info.resource = m_resource;
    info.available = m_available;
    info.connected = m_connected;
    info.session = static_cast<int>(m_session);
    return info;
}

cfg_remote_t::identify_failure_t cfg_remote_t::identify_failure() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_identify_failure;
}

int cfg_remote_t::identify_status() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_identify_status;
}

int cfg_remote_t::open_status() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_open_status;
}

std::string cfg_remote_t::get_manufacturer() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_manufacturer;
}

std::string cfg_remote_t::get_product_type() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_product_type;
}

std::string cfg_remote_t::get_serial_number() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_serial_number;
}

std::string cfg_remote_t::get_software_version() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_software_version;
}

cfg_identity_t cfg_remote_t::found_identity() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_found_identity;
}

std::string cfg_remote_t::found_private_model() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_found_private_model;
}

int cfg_remote_t::_open() {
    std::string resource;
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        if (m_connected) return result_already_connected;
        resource = m_resource;
        m_found_identity = cfg_identity_t();
        m_found_private_model.clear();
    }
    unsigned long session = 0;
    const int opened = m_plink->open(resource, session);
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_open_status = opened;
    }
    if (opened != 0) return _connection_failed();
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_available = true;
        m_connected = true;
        m_session = session;
    }
    m_pdrv->set_session(session);

    std::string reply;
    const int status = m_plink->query(session, "*IDN?\n", reply);
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_identify_failure = identify_other_model;
        m_identify_status = status;
    }
    if (status != 0) {
        plib_log("get device information fail!");
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_identify_failure = identify_no_reply;
        return result_not_the_model;
    }
    cfg_identity_t identity = cfg_parse_identification(reply);
    std::string private_name;
    const bool match = _check_device_model_match(private_name);
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_found_private_model = private_name;
        if (_readable_identification(reply)) m_found_identity = identity;
        if (!match) {
            if (!_readable_identification(reply)) m_identify_failure = identify_unreadable;
            return result_not_the_model;
        }
        m_manufacturer = std::move(identity.manufacturer);
        m_product_type = std::move(identity.product_type);
        m_serial_number = std::move(identity.serial_number);
        m_software_version = std::move(identity.software_version);
    }
    m_pdrv->reset();
    if (m_config_transfer) m_config_transfer(*m_pdrv);
    return result_ok;
}

int cfg_remote_t::reconnect(cfg_identity_t& found) {
    unsigned long old_session = 0;
    std::string resource;
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        old_session = m_session;
        resource = m_resource;
        m_connected = false;
        m_session = 0;
    }
    m_pdrv->set_session(0);
    if (old_session != 0) m_plink->close(old_session);  // the dead session: its status does not matter
    unsigned long session = 0;
    if (m_plink->open(resource, session) != 0) return result_visa_failed;
    std::string reply;
    if (m_plink->query(session, "*IDN?\n", reply) != 0 || !_readable_identification(reply)) {
        m_plink->close(session);
        return result_visa_failed;
    }
    found = cfg_parse_identification(reply);
    bool same = false;
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_found_identity = found;
        same = found.manufacturer == m_manufacturer && found.product_type == m_product_type &&
               found.serial_number == m_serial_number;
        if (same) {
            m_available = true;
            m_connected = true;
            m_session = session;
        }
    }
    if (!same) {
        m_plink->close(session);
        return result_not_the_model;
    }
    m_pdrv->set_session(session);
    return result_ok;
}

void cfg_remote_t::restore_configuration() {
    if (m_config_transfer) m_config_transfer(*m_pdrv);
}

int cfg_remote_t::_close() {
    unsigned long session = 0;
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        if (!m_connected) return result_not_connected;
        session = m_session;
    }
    if (m_plink->close(session) != 0) return _connection_failed();
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_connected = false;
        m_session = 0;
    }
    m_pdrv->set_session(0);
    return result_ok;
}

bool cfg_remote_t::_readable_identification(std::string_view reply) {
    // Four comma-separated fields of printable text, ended by a line feed.
    if (reply.size() < 2 || reply.back() != '\n') return false;
    reply.remove_suffix(1);
    if (!reply.empty() && reply.back() == '\r') reply.remove_suffix(1);
    int commas = 0;
    for (const char c : reply) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) return false;
        if (c == ',') ++commas;
    }
    return commas >= 3;
}

bool cfg_remote_t::_check_device_model_match(std::string& private_name) const {
    m_pdrv->get_private_model_name(private_name);
    const std::string model = get_model();
    const bool match =
        private_name.size() >= model.size() && private_name.compare(0, model.size(), model) == 0;
    if (!match) return false;
    plib_log("_check_device_model_match: true");
    return true;
}

int cfg_remote_t::_connection_failed() {
    const bool available = m_plink->resource_available(get_info().resource) != 0;
    if (!available) plib_log("resource_unavailable!");
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_available = available;
        m_connected = false;
        m_session = 0;
    }
    m_pdrv->set_session(0);
    return result_visa_failed;
}
