// A real mosquitto broker for a test: its own config, data and log in a temp directory,
// listening on a random loopback address 127.a.b.c (so tests running side by side never
// meet), anonymous or with one login, stopped (SIGTERM) with the object. Every wait is
// bounded (5 s).
#pragma once

#include <sys/types.h>

#include <string>

#include "temp_dir.h"

namespace velkaro_test {

class mosquitto_broker_t {
public:
    // `user`/`password`: the one login the broker takes (anonymous clients refused), or
    // empty for anonymous access.
    explicit mosquitto_broker_t(const std::string& user = "", const std::string& password = "");
    ~mosquitto_broker_t();
    mosquitto_broker_t(const mosquitto_broker_t&) = delete;
    mosquitto_broker_t& operator=(const mosquitto_broker_t&) = delete;

    static bool available();  // mosquitto is installed

    bool start();  // true once a client can connect
    void stop();
    bool ok() const { return m_pid > 0; }
    const std::string& address() const { return m_address; }
    int port() const { return m_port; }
    // mqtt://[USER@]ADDRESS:PORT/PREFIX
    std::string url(const std::string& prefix, const std::string& user = "") const;
    // What the broker logged so far (connections, disconnections, subscriptions).
    std::string log() const;

private:
    temp_dir_t m_dir;
    std::string m_address;
    int m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace velkaro_test
