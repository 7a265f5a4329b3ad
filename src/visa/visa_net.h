// TCP client socket with deadlines: a non-blocking socket driven by poll(), so no
// connect, send or receive can wait past the caller's deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace visa {

using clock_t_ = std::chrono::steady_clock;
using deadline_t = std::chrono::steady_clock::time_point;

enum class net_status_t {
    ok,
    timeout,     // the deadline passed
    closed,      // the peer closed or reset the connection
    refused,     // nobody listens at the address
    unresolved,  // the host name could not be resolved
    error,       // any other socket failure
};

// Milliseconds from now until `deadline`, clamped to [0, INT32_MAX].
int ms_until(deadline_t deadline);
deadline_t deadline_after_ms(uint64_t ms);

class tcp_socket_t {
public:
    tcp_socket_t() = default;
    ~tcp_socket_t() { close(); }
    tcp_socket_t(const tcp_socket_t&) = delete;
    tcp_socket_t& operator=(const tcp_socket_t&) = delete;
    tcp_socket_t(tcp_socket_t&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    tcp_socket_t& operator=(tcp_socket_t&& other) noexcept;

    // Resolves `host` (IPv4 or IPv6, numeric or name) and connects to the first
    // address that answers before the deadline.
    net_status_t connect(const std::string& host, uint16_t port, deadline_t deadline);
    net_status_t send_all(const uint8_t* data, size_t size, deadline_t deadline);
    // Receives at least one byte (up to `size`) unless the deadline passes first.
    net_status_t recv_some(uint8_t* data, size_t size, size_t& received, deadline_t deadline);

    bool is_open() const { return m_fd >= 0; }
    void close();

private:
    net_status_t _connect_one(const void* addr, unsigned addr_len, int family, deadline_t deadline);
    int m_fd = -1;
};

}  // namespace visa
