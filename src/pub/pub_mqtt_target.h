// An MQTT broker as a publishing target, through libmosquitto:
//   mqtt://[USER@]HOST[:PORT]/PREFIX     (port 1883 by default; USER's password given apart)
// Each delivery publishes the lines of each instrument to
// PREFIX/STATION/MODEL/SERIAL/readings, scan readings to PREFIX/STATION/MODEL/SERIAL/scan
// (the tags of the lines, '/', '+' and '#' made '_'),
// payload = those line-protocol lines, QoS 1, and returns "sent" once the broker
// acknowledged every message (PUBACK); MQTT 5, so a publish the broker refuses (not
// authorised, quota) comes back "refused" with the broker's reason. The session is
// persistent (clean start off, a session expiry of a week, a client id stable for this
// host and URL), so the broker keeps what it took across
// reconnections; a message sent again after a lost acknowledgement carries the same
// lines and stamps, which a consumer writing to a time-series database absorbs.
//
// Threads: see pub_target.h; the mosquitto handle belongs to the sender thread (the
// blocking loop runs there, no thread of libmosquitto's own); abort() only sets a flag.
#pragma once

#include <atomic>
#include <map>
#include <string>

#include "pub/pub_target.h"

struct mosquitto;

class pub_mqtt_target_t : public pub_target_t {
public:
    pub_mqtt_target_t(std::string name, std::string host, int port, std::string user, std::string prefix,
                      const pub_target_config_t& config);
    ~pub_mqtt_target_t() override;

    const std::string& name() const override { return m_name; }
    pub_send_result_t send(std::string_view lines) override;
    void abort() override { m_abort = true; }

    // The topic of a line (from its station, model and serial tags; "scan" for scan readings).
    static std::string topic_of(const std::string& prefix, std::string_view line);

private:
    bool _connect(std::string& error);

    const std::string m_name;
    const std::string m_host;
    const int m_port;
    const std::string m_user;
    const std::string m_password;
    const std::string m_prefix;
    const std::string m_ca_file;
    const bool m_tls;
    const double m_timeout_s;
    std::atomic<bool> m_abort{false};
    mosquitto* m_mosq = nullptr;
    bool m_connected = false;
};

// Parses mqtt:// and mqtts:// URLs for pub_make_target; null with `error` otherwise.
std::unique_ptr<pub_target_t> pub_make_mqtt_target(const pub_target_config_t& config, std::string& error);
