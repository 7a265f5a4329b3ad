// A real mosquitto broker for a test, started by the test itself on a random loopback
// address 127.a.b.c (so tests running side by side never meet) with its own config,
// persistence directory and log in a temp directory, and stopped (SIGTERM) with the
// object. Anonymous or with one login, optionally with an ACL and a TLS listener.
// stop() and start() again keep the address and the retained messages and sessions, as a
// broker restart does. Every wait is bounded (5 s).
#pragma once

#include <sys/types.h>

#include <string>

#include "temp_dir.h"

namespace velkaro_test {

inline constexpr int mqtt_broker_port = 18831;

class mqtt_broker_t {
public:
    // `acl`: the text of an ACL file for the broker, or empty for none; `user`/`password`:
    // the one login the broker takes (anonymous clients refused), or empty for anonymous.
    explicit mqtt_broker_t(const std::string& acl = "", const std::string& user = "", const std::string& password = "");
    ~mqtt_broker_t();  // stop()
    mqtt_broker_t(const mqtt_broker_t&) = delete;
    mqtt_broker_t& operator=(const mqtt_broker_t&) = delete;

    static bool available();  // mosquitto is installed

    bool start();  // true once a client can connect; false when the broker exited or never answered
    void stop();
    bool ok() const { return m_pid > 0; }
    const std::string& address() const { return m_address; }
    int port() const { return mqtt_broker_port; }
    // mqtt://[USER@]ADDRESS:PORT/PREFIX
    std::string url(const std::string& prefix, const std::string& user = "") const;
    // What the broker logged so far (connections, disconnections, subscriptions).
    std::string log() const;
    // False when the password file for the login could not be made.
    bool login_ok() const { return m_login_ok; }

    // Adds a TLS listener on tls_port with a server certificate for the broker's address,
    // signed by a CA made here (its certificate in ca_file()); call before start().
    bool add_tls_listener();
    std::string ca_file() const { return m_dir.path() + "/ca.crt"; }
    static constexpr int tls_port = mqtt_broker_port + 1;

private:
    temp_dir_t m_dir;
    std::string m_address;
    pid_t m_pid = -1;
    bool m_login_ok = true;
};

}  // namespace velkaro_test
