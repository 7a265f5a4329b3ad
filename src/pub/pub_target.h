// One kind of publishing target behind one interface: the publisher hands each target
// the spooled lines and learns whether they were taken, should be tried again later, or
// were refused for good. InfluxDB-compatible HTTP targets are pub_influx_target_t, MQTT
// brokers pub_mqtt_target_t; both take the same lines through the same calls.
//
// Threads: send() runs on the target's own sender thread only; abort() may be called
// from any thread to cut a send in progress short (shutdown); name() is fixed at
// construction and safe anywhere.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pub/pub_status.h"

// The URL as it may appear in a message: a password written into it (USER:PASSWORD@)
// is replaced by "***", so a refusal never repeats a secret the user mistyped there.
// The password may hold "/", "?" or "#" (base64 does): everything from the first ":"
// after the scheme to the last "@" of the whole URL goes. The values of the query keys
// p, password and token (InfluxDB 1.x takes ?u=USER&p=PASSWORD) go too.
inline std::string pub_url_for_message(const std::string& url) {
    std::string out = url;
    std::size_t query_from = 0;
    if (const std::size_t scheme_end = out.find("://"); scheme_end != std::string::npos) {
        const std::size_t start = scheme_end + 3;
        query_from = start;
        const std::size_t at = out.rfind('@');
        const std::size_t colon = out.find(':', start);
        if (at != std::string::npos && at >= start && colon != std::string::npos && colon < at) {
            out = out.substr(0, colon + 1) + "***" + out.substr(at);
            query_from = colon + 5;  // after "***@"
        }
    }
    std::size_t i = out.find('?', query_from);
    while (i != std::string::npos && i < out.size()) {
        const std::size_t key_start = i + 1;
        const std::size_t end = std::min(out.find_first_of("&#", key_start), out.size());
        const std::size_t eq = out.find('=', key_start);
        if (eq != std::string::npos && eq < end) {
            const std::string key = out.substr(key_start, eq - key_start);
            if (key == "p" || key == "password" || key == "token") {
                out.replace(eq + 1, end - eq - 1, "***");
                i = eq + 4;
            } else {
                i = end;
            }
        } else {
            i = end;
        }
        if (i >= out.size() || out[i] != '&') break;
    }
    return out;
}

struct pub_send_result_t {
    enum kind_t {
        sent,     // the target took every line
        retry,    // not now (network, 5xx, 429, time-out): send the same lines again later
        refused,  // the target will never take these lines (4xx): keep them aside
    };
    kind_t kind = retry;
    std::string reason;       // for retry and refused: what the target or the network said
    double retry_after_s = 0;  // the target's own Retry-After, when it gave one
    // Something the user should hear once, whatever the outcome (a broker that speaks
    // only an older protocol, so refusals can no longer be told); empty mostly.
    std::string notice;
};

// Where a target keeps each instrument's status (pub_status.h): an MQTT broker's retained
// status topic with a last will. Called on the publisher's status thread only.
class pub_status_sink_t {
public:
    virtual ~pub_status_sink_t() = default;
    // The instrument's status now (pub_status_json): published as it is.
    virtual void publish(const pub_instrument_key_t& key, const std::string& json) = 0;
    // True once after the instrument's connection to the target was made anew (the
    // target may have published the last will meanwhile): publish the status again.
    virtual bool reconnected(const pub_instrument_key_t& key) = 0;
    // The instrument leaves cleanly: `json` (state offline) is its last status, then its
    // connection ends without the will. Bounded in time.
    virtual void close(const pub_instrument_key_t& key, const std::string& json) = 0;
    // Several instruments leave at once (the publisher stops): as close() for each, but
    // bounded in time once for all of them, not once per instrument.
    virtual void close_all(const std::vector<std::pair<pub_instrument_key_t, std::string>>& leaving) {
        for (const auto& [key, json] : leaving) close(key, json);
    }
};

class pub_target_t {
public:
    virtual ~pub_target_t() = default;
    // The target as users know it: its URL without any credentials.
    virtual const std::string& name() const = 0;
    // Delivers complete line-protocol lines.
    virtual pub_send_result_t send(std::string_view lines) = 0;
    virtual void abort() = 0;
    // Before the first send: the spool this target's deliveries come from. One process at
    // a time owns a spool, so it tells this sender apart from every other one on the host
    // (an MQTT client id) and stays the same from run to run.
    virtual void set_spool_directory(const std::string& directory) {}
    // A sink for the instruments' status, or null when the target keeps none (databases).
    // Called once, after set_spool_directory, before the publisher starts.
    virtual std::unique_ptr<pub_status_sink_t> make_status_sink() { return nullptr; }
};

// How a target is given: its URL and what goes with it.
struct pub_target_config_t {
    std::string url;
    std::string ca_file;   // private CA bundle (PEM), or empty for the system's
    std::string password;  // InfluxDB 1.x: the password of the URL's user
    std::string token;     // InfluxDB 2/3: the API token
    double timeout_s = 30;  // longest one delivery may take
};

// A target for `config.url` (http, https, mqtt, mqtts), or null with `error` said
// (unknown scheme, bad URL, credentials in the URL).
std::unique_ptr<pub_target_t> pub_make_target(const pub_target_config_t& config, std::string& error);
