// An MQTT broker as a publishing target, through libmosquitto:
//   mqtt://[USER@]HOST[:PORT]/PREFIX     (port 1883 by default; USER's password given apart)
// Each delivery publishes the lines of each instrument to
// PREFIX/STATION/MODEL/SERIAL/readings, scan readings to PREFIX/STATION/MODEL/SERIAL/scan
// (the tags of the lines, '/', '+' and '#' made '_'),
// payload = those line-protocol lines, QoS 1, and returns "sent" once the broker
// acknowledged every message (PUBACK); MQTT 5, so a publish the broker refuses (not
// authorised, quota) comes back "refused" with the broker's reason. The session is
// persistent (clean start off, a session expiry of a week, a client id stable for this
// host, URL and spool: two processes on one host never share a spool, so never an id,
// and each run with the same spool continues the session), so the broker keeps what it took across
// reconnections; a message sent again after a lost acknowledgement carries the same
// lines and stamps, which a consumer writing to a time-series database absorbs.
//
// Protocol: MQTT 5 first. A broker that answers "unsupported protocol version" (an MQTT
// 3.1.1 broker says "unacceptable protocol version" in its own CONNACK) gets the same
// connection again at once with MQTT 3.1.1 (clean session off: the session lasts until
// the broker drops it), told once as a notice: a 3.1.1 broker drops a publish it refuses
// without a word, so such refusals can no longer be reported.
//
// Status (make_status_sink): one more connection per instrument, made by the
// publisher's status thread, carries that instrument's retained status on
// PREFIX/STATION/MODEL/SERIAL/status (pub_status.h) and has that topic's "offline" as its
// last will. A connection has one will and each instrument needs its own, so the readings
// of all instruments share the delivery connection (one spool, one order) while each
// instrument's status has a connection of its own: MQTT 3.1.1, clean session (nothing to
// keep: the retained message is the state), libmosquitto's own network thread
// reconnecting with backoff, the will retained at QoS 1. A clean end publishes the
// instrument's last status as "offline" and disconnects with DISCONNECT, so the broker
// drops the will; kill -9, a crash or a broken network leaves the will to the broker.
//
// Threads: see pub_target.h; the delivery handle belongs to the sender thread (the
// blocking loop runs there, no thread of libmosquitto's own); abort() only sets a flag.
// The status sink belongs to the status thread; each status connection's callbacks run
// on its libmosquitto thread and touch only that connection's atomics.
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
    void set_spool_directory(const std::string& directory) override { m_identity = m_name + "\n" + directory; }
    std::unique_ptr<pub_status_sink_t> make_status_sink() override;

    // The protocol the delivery connection speaks now: 5, or 4 (3.1.1) after a fallback.
    int protocol_version() const { return m_protocol; }

    // The topic of a line (from its station, model and serial tags; "scan" for scan readings).
    static std::string topic_of(const std::string& prefix, std::string_view line);

private:
    bool _connect(std::string& error);
    pub_send_result_t _send(std::string_view lines);
    void _drop_client();

    const std::string m_name;
    std::string m_identity;  // what makes the client ids: the name and the spool (set before sending)
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
    std::atomic<int> m_protocol{5};  // set by the sender thread, read anywhere
    bool m_fell_back = false;        // the last _send() found a broker without MQTT 5
};

// An mqtt:// or mqtts:// URL taken apart.
struct pub_mqtt_url_t {
    bool tls = false;
    std::string host;
    int port = 0;          // 1883, or 8883 for mqtts, unless given
    std::string user;      // empty: anonymous
    std::string prefix;    // without trailing '/'
    std::string name;      // the URL as users know it (no credentials)
};
// The one parser of broker URLs (publishing targets and watch): false with `error`
// said for another scheme, a password in the URL, no host or prefix, a bad port, or a
// wildcard in the prefix.
bool pub_parse_mqtt_url(const std::string& url, pub_mqtt_url_t& out, std::string& error);

// Parses mqtt:// and mqtts:// URLs for pub_make_target; null with `error` otherwise.
std::unique_ptr<pub_target_t> pub_make_mqtt_target(const pub_target_config_t& config, std::string& error);
