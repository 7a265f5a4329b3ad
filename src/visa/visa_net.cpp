#include "visa/visa_net.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace visa {

int ms_until(deadline_t deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_t_::now()).count();
    if (left <= 0) return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

deadline_t deadline_after_ms(uint64_t ms) { return clock_t_::now() + std::chrono::milliseconds(ms); }

namespace {

// Waits until `fd` is ready for `events` or the deadline passes; EINTR resumes with
// the time left.
net_status_t wait_ready(int fd, short events, deadline_t deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, ms_until(deadline));
        if (r > 0) return net_status_t::ok;
        if (r == 0) return net_status_t::timeout;
        if (errno != EINTR) return net_status_t::error;
        if (clock_t_::now() >= deadline) return net_status_t::timeout;
    }
}

}  // namespace

tcp_socket_t& tcp_socket_t::operator=(tcp_socket_t&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void tcp_socket_t::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

net_status_t tcp_socket_t::_connect_one(const void* addr, unsigned addr_len, int family,
                                        deadline_t deadline) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return net_status_t::error;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int r = ::connect(fd, static_cast<const sockaddr*>(addr), static_cast<socklen_t>(addr_len));
    if (r != 0 && errno != EINPROGRESS) {
        const int e = errno;
        ::close(fd);
        return e == ECONNREFUSED ? net_status_t::refused : net_status_t::error;
    }
    if (r != 0) {
        const net_status_t w = wait_ready(fd, POLLOUT, deadline);
        if (w != net_status_t::ok) {
            ::close(fd);
            return w;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ::close(fd);
            return err == ECONNREFUSED ? net_status_t::refused : net_status_t::error;
        }
    }
    close();
    m_fd = fd;
    return net_status_t::ok;
}

net_status_t tcp_socket_t::connect(const std::string& host, uint16_t port, deadline_t deadline) {
    close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (host.empty() || ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) {
        return net_status_t::unresolved;
    }
    net_status_t result = net_status_t::error;
    // getaddrinfo returns a short list; stop at the first address that connects.
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        result = _connect_one(ai->ai_addr, ai->ai_addrlen, ai->ai_family, deadline);
        if (result == net_status_t::ok || result == net_status_t::timeout) break;
    }
    ::freeaddrinfo(list);
    return result;
}

net_status_t tcp_socket_t::send_all(const uint8_t* data, size_t size, deadline_t deadline) {
    if (m_fd < 0) return net_status_t::closed;
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(m_fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const net_status_t w = wait_ready(m_fd, POLLOUT, deadline);
            if (w != net_status_t::ok) return w;
            continue;
        }
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return net_status_t::closed;
        return net_status_t::error;
    }
    return net_status_t::ok;
}

net_status_t tcp_socket_t::recv_some(uint8_t* data, size_t size, size_t& received, deadline_t deadline) {
    received = 0;
    if (m_fd < 0) return net_status_t::closed;
    for (;;) {
        const ssize_t n = ::recv(m_fd, data, size, 0);
        if (n > 0) {
            received = static_cast<size_t>(n);
            return net_status_t::ok;
        }
        if (n == 0) return net_status_t::closed;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const net_status_t w = wait_ready(m_fd, POLLIN, deadline);
            if (w != net_status_t::ok) return w;
            continue;
        }
        if (errno == ECONNRESET || errno == EPIPE) return net_status_t::closed;
        return net_status_t::error;
    }
}

}  // namespace visa
