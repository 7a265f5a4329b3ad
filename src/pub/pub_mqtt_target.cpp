#include "pub/pub_mqtt_target.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "common/plib_version.h"
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

// Where a line's series (measurement and tag set) ends: its first blank not escaped.
std::size_t series_end(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && line[i] != ' ') i += line[i] == '\\' ? 2 : 1;
    return i < line.size() ? i : line.size();
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

// A client id of its own per host, target (with its spool) and purpose ("" delivery,
// else an instrument's status), the same in every run. Short: MQTT 3.1.1 brokers may refuse ids
// longer than 23 characters.
std::string client_id_of(const std::string& target_name, const std::string& purpose) {
    char host[64] = {};
    ::gethostname(host, sizeof host - 1);
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : target_name) hash = (hash ^ c) * 1099511628211ull;
    for (unsigned char c : purpose) hash = (hash ^ c) * 1099511628211ull;
    char id[24];
    std::snprintf(id, sizeof id, "%08llx", static_cast<unsigned long long>(hash & 0xffffffffu));
    return std::string("velkaro-") + std::string(host).substr(0, purpose.empty() ? 10 : 5) + "-" + id +
           (purpose.empty() ? "" : "s");
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

bool pub_parse_mqtt_url(const std::string& url, pub_mqtt_url_t& out, std::string& error,
                        pub_mqtt_url_fault_t* fault) {
    if (fault != nullptr) *fault = pub_mqtt_url_fault_t::none;
    auto refuse = [&](pub_mqtt_url_fault_t why, std::string text) {
        if (fault != nullptr) *fault = why;
        error = std::move(text);
        return false;
    };
    const bool tls = url.rfind("mqtts://", 0) == 0;
    if (!tls && url.rfind("mqtt://", 0) != 0) {
        return refuse(pub_mqtt_url_fault_t::scheme, "\"" + pub_url_for_message(url) + "\": unknown kind of target");
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
            return refuse(pub_mqtt_url_fault_t::password,
                          "no password in the URL of a target (" + std::string(tls ? "mqtts://" : "mqtt://") +
                              authority + "): give it in VELKARO_PUBLISH_PASSWORD or a secret file");
        }
    }
    // A password holding "/", "?" or "#" ends the authority early (mqtt://u:pa/ss@host/x),
    // and what follows a "?" (p=, password=, token=) stays in the target's name: whatever
    // a message would mask is refused like a password written before the "@".
    if (const std::string masked = pub_url_for_message(url); masked != url) {
        return refuse(pub_mqtt_url_fault_t::password,
                      "no password in the URL of a target (" + masked +
                          "): give it in VELKARO_PUBLISH_PASSWORD or a secret file");
    }
    int port = tls ? default_tls_port : default_port;
    std::string host = authority;
    if (const std::size_t colon = authority.rfind(':'); colon != std::string::npos && authority.back() != ']') {
        host = authority.substr(0, colon);
        const std::string digits = authority.substr(colon + 1);
        port = !digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos
                   ? std::stoi(digits)
                   : 0;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty() || port <= 0 || port > 65535 || prefix.empty() ||
        prefix.find_first_of("+#") != std::string::npos) {
        return refuse(pub_mqtt_url_fault_t::form, "\"" + pub_url_for_message(url) + "\": not an MQTT target (mqtt://[USER@]HOST[:PORT]/PREFIX)");
    }
    out.tls = tls;
    out.host = host;
    out.port = port;
    out.user = user;
    out.prefix = prefix;
    out.name = (tls ? "mqtts://" : "mqtt://") + authority + "/" + prefix;
    return true;
}

std::unique_ptr<pub_target_t> pub_make_mqtt_target(const pub_target_config_t& config, std::string& error) {
    pub_mqtt_url_t url;
    if (!pub_parse_mqtt_url(config.url, url, error)) return nullptr;
    return std::make_unique<pub_mqtt_target_t>(url.name, url.host, url.port, url.user, url.prefix, config);
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

pub_mqtt_target_t::~pub_mqtt_target_t() { _drop_client(); }

void pub_mqtt_target_t::_drop_client() {
    if (m_mosq != nullptr) {
        if (m_connected) mosquitto_disconnect(m_mosq);
        mosquitto_destroy(m_mosq);
    }
    m_mosq = nullptr;
    m_connected = false;
}

bool pub_mqtt_target_t::_connect(std::string& error) {
    if (m_mosq == nullptr) {
        // A client id of its own per host and target, the same in every run: the broker
        // keeps the session (and what it acknowledged) for it.
        const std::string client_id = client_id_of(m_identity.empty() ? m_name : m_identity, "");
        m_mosq = mosquitto_new(client_id.c_str(), false, nullptr);
        if (m_mosq == nullptr) {
            error = "cannot create an MQTT client";
            return false;
        }
        // MQTT 5: a refused publish (not authorised, quota) comes back with its reason in
        // the PUBACK instead of being dropped without a word as 3.1.1 brokers do.
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION,
                             m_protocol == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
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
    } else if (m_protocol != 5) {
        rc = mosquitto_connect(m_mosq, m_host.c_str(), m_port, keepalive_s);  // 3.1.1: no properties
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
    pub_send_result_t result = _send(lines);
    if (m_fell_back) {
        // The same lines again at once, over MQTT 3.1.1.
        m_fell_back = false;
        result = _send(lines);
        result.notice = m_name +
                        " speaks only MQTT 3.1.1: publishing with it, but a publish the broker refuses (not "
                        "authorised, quota) is dropped without a word there and cannot be reported";
    }
    return result;
}

pub_send_result_t pub_mqtt_target_t::_send(std::string_view lines) {
    pub_send_result_t result;
    if (m_abort) {
        result.reason = "stopped";
        return result;
    }
    // One message per run of lines with one topic, in the order the lines came: each a
    // piece of `lines` itself. The topic is worked out once per series (the measurement
    // and tag set that start a line), not once per line.
    std::vector<std::pair<std::string, std::string_view>> messages;
    std::string_view series;  // of the line before
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        end = end == std::string_view::npos ? lines.size() : end + 1;
        const std::string_view line = lines.substr(start, end - start);
        const bool same_series = !series.empty() && line.size() > series.size() &&
                                 line.compare(0, series.size(), series) == 0 && line[series.size()] == ' ';
        if (!same_series) {
            series = line.substr(0, series_end(line));
            std::string topic = topic_of(m_prefix, line);
            if (messages.empty() || messages.back().first != topic)
                messages.emplace_back(std::move(topic), line.substr(0, 0));
        }
        std::string_view& payload = messages.back().second;
        payload = std::string_view(payload.empty() ? line.data() : payload.data(), payload.size() + line.size());
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
        if (acks.connack_code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION && m_protocol == 5) {
            // A broker without MQTT 5: a client of the older protocol is made anew.
            mosquitto_user_data_set(m_mosq, nullptr);
            _drop_client();
            m_protocol = 4;
            m_fell_back = true;
            result.reason = "the broker does not speak MQTT 5";
            return result;
        }
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

namespace {

// The instruments' status connections of one broker target (see the header).
class mqtt_status_sink_t : public pub_status_sink_t {
public:
    mqtt_status_sink_t(std::string target_name, std::string host, int port, std::string user, std::string password,
                       std::string prefix, bool tls, std::string ca_file)
        : m_target_name(std::move(target_name)),
          m_host(std::move(host)),
          m_port(port),
          m_user(std::move(user)),
          m_password(std::move(password)),
          m_prefix(std::move(prefix)),
          m_tls(tls),
          m_ca_file(std::move(ca_file)) {}

    ~mqtt_status_sink_t() override {
        std::vector<connection_t*> all;
        for (auto& [key, c] : m_connections) all.push_back(c.get());
        _end(all);
    }

    void publish(const pub_instrument_key_t& key, const std::string& json) override {
        connection_t* c = _connection(key);
        // Only while connected: libmosquitto would queue every status of an outage without
        // limit. The status goes again once the connection is made (reconnected()).
        if (c == nullptr || !c->up) return;
        mosquitto_publish(c->mosq, nullptr, c->topic.c_str(), static_cast<int>(json.size()), json.data(),
                          qos_at_least_once, true);
    }

    bool reconnected(const pub_instrument_key_t& key) override {
        auto it = m_connections.find(key);
        return it != m_connections.end() && it->second->connected_anew.exchange(false);
    }

    void close(const pub_instrument_key_t& key, const std::string& json) override { close_all({{key, json}}); }

    // Two passes, so the waits do not add up per instrument: "offline" on every live
    // connection, one wait for all the acknowledgements, then every connection ends.
    void close_all(const std::vector<std::pair<pub_instrument_key_t, std::string>>& leaving) override {
        std::vector<std::pair<connection_t*, int>> sent;  // connection, message id
        std::vector<connection_t*> ending;
        for (const auto& [key, json] : leaving) {
            auto it = m_connections.find(key);
            if (it == m_connections.end()) continue;
            connection_t* c = it->second.get();
            ending.push_back(c);
            int mid = 0;
            if (c->up && mosquitto_publish(c->mosq, &mid, c->topic.c_str(), static_cast<int>(json.size()),
                                           json.data(), qos_at_least_once, true) == MOSQ_ERR_SUCCESS)
                sent.emplace_back(c, mid);
        }
        // Until the broker has them, the last messages of these connections (bounded: a
        // broker that does not answer keeps the will).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        auto all_acked = [&sent] {
            for (const auto& [c, mid] : sent)
                if (c->last_acked_mid != mid && c->up) return false;
            return true;
        };
        while (!all_acked() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        _end(ending);
        for (const auto& [key, json] : leaving) m_connections.erase(key);
    }

private:
    struct connection_t {
        mosquitto* mosq = nullptr;
        std::string topic;
        std::atomic<bool> connected_anew{false};
        std::atomic<bool> up{false};
        std::atomic<int> last_acked_mid{-1};  // the message id the broker acknowledged last
    };

    static void on_connect(mosquitto*, void* self, int rc) {
        auto* c = static_cast<connection_t*>(self);
        if (rc != 0) return;
        c->up = true;
        c->connected_anew = true;
    }
    static void on_disconnect(mosquitto*, void* self, int) { static_cast<connection_t*>(self)->up = false; }
    static void on_publish(mosquitto*, void* self, int mid) {
        static_cast<connection_t*>(self)->last_acked_mid = mid;
    }

    connection_t* _connection(const pub_instrument_key_t& key) {
        auto it = m_connections.find(key);
        if (it != m_connections.end()) return it->second.get();
        auto c = std::make_unique<connection_t>();
        c->topic = m_prefix + "/" + topic_level(key.station) + "/" + topic_level(key.model) + "/" +
                   topic_level(key.serial) + "/status";
        // The client id from the key as given, not from the topic: serials "A/B" and "A_B"
        // share a topic but must not share an id, or the broker drops one for the other.
        std::string purpose = m_prefix;
        for (const std::string* part : {&key.station, &key.model, &key.serial})
            purpose += "\n" + std::to_string(part->size()) + ":" + *part;
        const std::string id = client_id_of(m_target_name, purpose);
        c->mosq = mosquitto_new(id.c_str(), true, c.get());
        if (c->mosq == nullptr) return nullptr;
        mosquitto_int_option(c->mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(c->mosq, &on_connect);
        mosquitto_disconnect_callback_set(c->mosq, &on_disconnect);
        mosquitto_publish_callback_set(c->mosq, &on_publish);
        mosquitto_reconnect_delay_set(c->mosq, 1, 30, true);
        const std::string will = pub_status_will_json(plib_software_version);
        int rc = mosquitto_will_set(c->mosq, c->topic.c_str(), static_cast<int>(will.size()), will.data(),
                                    qos_at_least_once, true);
        // TLS before the credentials: a CA file that cannot be read leaves libmosquitto
        // without TLS, and the login would go out in clear. No status connection then; the
        // delivery connection reports the TLS fault.
        if (rc == MOSQ_ERR_SUCCESS && m_tls)
            rc = mosquitto_tls_set(c->mosq, m_ca_file.empty() ? nullptr : m_ca_file.c_str(),
                                   m_ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(c->mosq);
            return nullptr;
        }
        if (!m_user.empty()) mosquitto_username_pw_set(c->mosq, m_user.c_str(), m_password.c_str());
        // Asynchronous: the network thread connects and reconnects; the delivery
        // connection already tells when the broker cannot be reached.
        mosquitto_connect_async(c->mosq, m_host.c_str(), m_port, keepalive_s);
        mosquitto_loop_start(c->mosq);
        connection_t* raw = c.get();
        m_connections.emplace(key, std::move(c));
        return raw;
    }

    // Ends connections, every wait bounded: DISCONNECT on each one that is up (the broker
    // drops the will), then each network thread stops. A thread whose connection is not up
    // may be inside a blocking reconnect to a host that drops packets: it is cancelled.
    static void _end(const std::vector<connection_t*>& connections) {
        std::vector<std::pair<connection_t*, bool>> ending;  // connection, was up
        for (connection_t* c : connections) {
            if (c->mosq == nullptr) continue;
            const bool up = c->up;
            if (up) mosquitto_disconnect(c->mosq);
            ending.emplace_back(c, up);
        }
        // The network threads of connections that were up leave once DISCONNECT is out.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        auto all_down = [&ending] {
            for (const auto& [c, was_up] : ending)
                if (was_up && c->up) return false;
            return true;
        };
        while (!all_down() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (const auto& [c, was_up] : ending) {
            mosquitto_loop_stop(c->mosq, !(was_up && !c->up));
            mosquitto_destroy(c->mosq);
            c->mosq = nullptr;
        }
    }

    const std::string m_target_name;
    const std::string m_host;
    const int m_port;
    const std::string m_user;
    const std::string m_password;
    const std::string m_prefix;
    const bool m_tls;
    const std::string m_ca_file;
    std::map<pub_instrument_key_t, std::unique_ptr<connection_t>> m_connections;
};

}  // namespace

std::unique_ptr<pub_status_sink_t> pub_mqtt_target_t::make_status_sink() {
    return std::make_unique<mqtt_status_sink_t>(m_identity.empty() ? m_name : m_identity, m_host, m_port, m_user, m_password, m_prefix, m_tls,
                                                m_ca_file);
}
