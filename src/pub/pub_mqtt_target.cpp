#include "pub/pub_mqtt_target.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include "pub/pub_line_protocol.h"

namespace {

constexpr int default_port = 1883;
constexpr int default_tls_port = 8883;
constexpr int keepalive_s = 30;
constexpr int qos_at_least_once = 1;

void mosquitto_once() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// The value of `key` in a line's tag set, unescaped; empty when the line has no such tag.
std::string tag_value(std::string_view line, std::string_view key) {
    // The tag set ends at the first blank that is not escaped.
    std::size_t i = 0;
    while (i < line.size() && line[i] != ',' && line[i] != ' ') i += line[i] == '\\' ? 2 : 1;
    while (i < line.size() && line[i] == ',') {
        const std::size_t start = ++i;
        std::size_t eq = std::string_view::npos;
        while (i < line.size() && line[i] != ',' && line[i] != ' ') {
            if (line[i] == '\\') {
                i += 2;
                continue;
            }
            if (line[i] == '=' && eq == std::string_view::npos) eq = i;
            ++i;
        }
        if (eq == std::string_view::npos || line.substr(start, eq - start) != key) continue;
        std::string value;
        for (std::size_t k = eq + 1; k < i && k < line.size(); ++k) {
            if (line[k] == '\\' && k + 1 < i) ++k;
            value += line[k];
        }
        return value;
    }
    return {};
}

// A topic level: never empty, no level separator or wildcard.
std::string topic_level(std::string text) {
    if (text.empty()) return "_";
    for (char& c : text)
        if (c == '/' || c == '+' || c == '#' || c == '\0') c = '_';
    return text;
}

// How long the broker keeps the session (and the messages queued for it) while the
// client is away: MQTT 5 ends a session at disconnection unless told otherwise.
constexpr uint32_t session_expiry_s = 7 * 24 * 3600;

struct acks_t {
    std::set<int> pending;
    int refused_code = 0;  // the first MQTT 5 reason code >= 0x80 a PUBACK carried
    int connack_code = 0;  // the reason code of a CONNACK that refused the connection
};

// Runs inside mosquitto_loop() on the sender thread, like everything touching acks_t.
void on_publish_v5(struct mosquitto*, void* self, int mid, int reason_code, const mosquitto_property*) {
    if (self == nullptr) return;
    auto* acks = static_cast<acks_t*>(self);
    acks->pending.erase(mid);
    if (reason_code >= 0x80 && acks->refused_code == 0) acks->refused_code = reason_code;
}



void on_connect_v5(struct mosquitto*, void* self, int reason_code, int, const mosquitto_property*) {
    if (self != nullptr && reason_code != 0) static_cast<acks_t*>(self)->connack_code = reason_code;
}

// libmosquitto's text for an error, plainer where it says too little. The TLS handshake
// may fail in connect or later in the loop, depending on how fast the broker answers.
std::string error_text(int rc) {
    if (rc == MOSQ_ERR_TLS) return "TLS handshake failed (the broker's certificate is not trusted or not for this host)";
    return mosquitto_strerror(rc);
}

}  // namespace

std::string pub_mqtt_target_t::topic_of(const std::string& prefix, std::string_view line) {
    // Scan readings have a topic of their own beside the readings of measure runs.
    const std::string_view scan = pub_measurement_scan;
    const bool is_scan = line.size() > scan.size() && line.compare(0, scan.size(), scan) == 0 &&
                         (line[scan.size()] == ',' || line[scan.size()] == ' ');
    return prefix + "/" + topic_level(tag_value(line, "station")) + "/" + topic_level(tag_value(line, "model")) +
           "/" + topic_level(tag_value(line, "serial")) + (is_scan ? "/scan" : "/readings");
}

std::unique_ptr<pub_target_t> pub_make_mqtt_target(const pub_target_config_t& config, std::string& error) {
    const std::string& url = config.url;
    const bool tls = url.rfind("mqtts://", 0) == 0;
    if (!tls && url.rfind("mqtt://", 0) != 0) {
        error = "\"" + url + "\": unknown kind of target";
        return nullptr;
    }
    std::string rest = url.substr(tls ? 8 : 7);
    const std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::string prefix = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    std::string user;
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        user = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (user.find(':') != std::string::npos) {
            error = "no password in the URL of a target (mqtt://" + authority +
                    "): give it in VELKARO_PUBLISH_PASSWORD or a secret file";
            return nullptr;
        }
    }
    int port = tls ? default_tls_port : default_port;
    std::string host = authority;
    if (const std::size_t colon = authority.rfind(':'); colon != std::string::npos && authority.back() != ']') {
        host = authority.substr(0, colon);
        try {
            port = std::stoi(authority.substr(colon + 1));
        } catch (...) {
            port = 0;
        }
    }
    if (host.empty() || port <= 0 || port > 65535 || prefix.empty() ||
        prefix.find_first_of("+#") != std::string::npos) {
        error = "\"" + url + "\": not an MQTT target (mqtt://[USER@]HOST[:PORT]/PREFIX)";
        return nullptr;
    }
    const std::string name = (tls ? "mqtts://" : "mqtt://") + authority + "/" + prefix;
    return std::make_unique<pub_mqtt_target_t>(name, host, port, user, prefix, config);
}

pub_mqtt_target_t::pub_mqtt_target_t(std::string name, std::string host, int port, std::string user,
                                     std::string prefix, const pub_target_config_t& config)
    : m_name(std::move(name)),
      m_host(std::move(host)),
      m_port(port),
      m_user(std::move(user)),
      m_password(config.password),
      m_prefix(std::move(prefix)),
      m_ca_file(config.ca_file),
      m_tls(config.url.rfind("mqtts://", 0) == 0),
      m_timeout_s(config.timeout_s) {
    mosquitto_once();
}

pub_mqtt_target_t::~pub_mqtt_target_t() {
    if (m_mosq != nullptr) {
        if (m_connected) mosquitto_disconnect(m_mosq);
        mosquitto_destroy(m_mosq);
    }
}

bool pub_mqtt_target_t::_connect(std::string& error) {
    if (m_mosq == nullptr) {
        // A client id of its own per host and target, the same in every run: the broker
        // keeps the session (and what it acknowledged) for it.
        char host[64] = {};
        ::gethostname(host, sizeof host - 1);
        uint64_t hash = 1469598103934665603ull;
        for (unsigned char c : m_name) hash = (hash ^ c) * 1099511628211ull;
        char id[24];
        std::snprintf(id, sizeof id, "%08llx", static_cast<unsigned long long>(hash & 0xffffffffu));
        const std::string client_id = std::string("velkaro-") + std::string(host).substr(0, 10) + "-" + id;
        m_mosq = mosquitto_new(client_id.c_str(), false, nullptr);
        if (m_mosq == nullptr) {
            error = "cannot create an MQTT client";
            return false;
        }
        // MQTT 5: a refused publish (not authorised, quota) comes back with its reason in
        // the PUBACK instead of being dropped without a word as 3.1.1 brokers do.
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_publish_v5_callback_set(m_mosq, &on_publish_v5);
        mosquitto_connect_v5_callback_set(m_mosq, &on_connect_v5);
        if (!m_user.empty()) mosquitto_username_pw_set(m_mosq, m_user.c_str(), m_password.c_str());
        if (m_tls) {
            const int rc = mosquitto_tls_set(m_mosq, m_ca_file.empty() ? nullptr : m_ca_file.c_str(),
                                             m_ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) {
                error = std::string("TLS: ") + mosquitto_strerror(rc);
                return false;
            }
        }
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (m_connected) {
        rc = mosquitto_reconnect(m_mosq);  // keeps the properties of the first connect
    } else {
        mosquitto_property* props = nullptr;
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL, session_expiry_s);
        rc = mosquitto_connect_bind_v5(m_mosq, m_host.c_str(), m_port, keepalive_s, nullptr, props);
        mosquitto_property_free_all(&props);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("MQTT connect: ") + (rc == MOSQ_ERR_ERRNO ? "cannot reach the broker" : error_text(rc));
        m_connected = false;
        return false;
    }
    m_connected = true;
    return true;
}

pub_send_result_t pub_mqtt_target_t::send(std::string_view lines) {
    pub_send_result_t result;
    if (m_abort) {
        result.reason = "stopped";
        return result;
    }
    // One message per topic, in the order the lines came.
    std::vector<std::pair<std::string, std::string>> messages;
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        end = end == std::string_view::npos ? lines.size() : end + 1;
        const std::string_view line = lines.substr(start, end - start);
        std::string topic = topic_of(m_prefix, line);
        if (messages.empty() || messages.back().first != topic) messages.emplace_back(std::move(topic), std::string());
        messages.back().second.append(line);
        start = end;
    }
    std::string error;
    if (!m_connected && !_connect(error)) {
        result.reason = error;
        return result;
    }
    acks_t acks;
    mosquitto_user_data_set(m_mosq, &acks);
    for (const auto& [topic, payload] : messages) {
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                         qos_at_least_once, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            m_connected = rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST;
            result.reason = std::string("MQTT publish: ") + mosquitto_strerror(rc);
            mosquitto_user_data_set(m_mosq, nullptr);
            return result;
        }
        acks.pending.insert(mid);
    }
    // Drive the network until the broker acknowledged every message (bounded).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(m_timeout_s);
    while (!acks.pending.empty()) {
        if (m_abort || std::chrono::steady_clock::now() > deadline) {
            result.reason = m_abort ? "stopped" : "the broker did not acknowledge in time";
            break;
        }
        const int rc = mosquitto_loop(m_mosq, 100, 1);
        if (acks.connack_code != 0) {
            // Wrong password, not authorised, banned: the broker's own reason, once.
            m_connected = false;
            result.reason = std::string("the broker refused the connection: ") +
                            mosquitto_reason_string(acks.connack_code);
            break;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            m_connected = false;
            result.reason = std::string("MQTT: ") + error_text(rc);
            break;
        }
    }
    mosquitto_user_data_set(m_mosq, nullptr);
    if (acks.pending.empty()) {
        if (acks.refused_code != 0) {
            result.kind = pub_send_result_t::refused;
            result.reason = std::string("the broker refused the readings: ") + mosquitto_reason_string(acks.refused_code);
        } else {
            result.kind = pub_send_result_t::sent;
        }
    }
    return result;
}
