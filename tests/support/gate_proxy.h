// A TCP proxy on loopback for tests of slow or hung servers: it forwards every
// connection to the upstream address, and holds the server's answers back while the
// gate is closed (or delays each by a fixed time). Bounded: poll loops with short
// time-outs, stopped and joined by the destructor.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace velkaro_test {

class gate_proxy_t {
public:
    // Listens on a random 127.a.b.c address, port `port`.
    gate_proxy_t(const std::string& upstream_address, int upstream_port, int port);
    ~gate_proxy_t();
    gate_proxy_t(const gate_proxy_t&) = delete;
    gate_proxy_t& operator=(const gate_proxy_t&) = delete;

    bool ok() const { return m_listen_fd >= 0; }
    const std::string& address() const { return m_address; }
    int port() const { return m_port; }
    std::string base_url() const { return "http://" + m_address + ":" + std::to_string(m_port); }

    // Plays a broker of MQTT 3.1.1 only in front of a real one: a CONNECT of MQTT 5 is
    // answered as such a broker answers it (CONNACK "unacceptable protocol version") and
    // the connection closed; older ones pass to the upstream broker.
    void set_refuse_mqtt5(bool refuse) { m_refuse_mqtt5 = refuse; }
    // Connections refused that way so far.
    int mqtt5_refused() const { return m_mqtt5_refused.load(); }

    void set_open(bool open) { m_open = open; }
    void set_delay_ms(int ms) { m_delay_ms = ms; }
    // Bytes of answers held back at this moment (> 0: a request is waiting on us).
    long held_bytes() const { return m_held.load(); }

private:
    void _accept_loop();
    void _serve(int client);
    void _pump(int client, int server);

    std::string m_upstream_address;
    int m_upstream_port;
    std::string m_address;
    int m_port;
    int m_listen_fd = -1;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_open{true};
    std::atomic<int> m_delay_ms{0};
    std::atomic<long> m_held{0};
    std::atomic<bool> m_refuse_mqtt5{false};
    std::atomic<int> m_mqtt5_refused{0};
    std::thread m_accept_thread;
    std::vector<std::thread> m_pumps;  // accept thread only, joined after it
};

}  // namespace velkaro_test
