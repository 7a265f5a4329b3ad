#include "gate_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

namespace velkaro_test {
namespace {

std::string random_loopback_address() {
    static std::mt19937 rng{std::random_device{}()};
    std::uniform_int_distribution<int> a(16, 254);
    std::uniform_int_distribution<int> bc(1, 254);
    return "127." + std::to_string(a(rng)) + "." + std::to_string(bc(rng)) + "." + std::to_string(bc(rng));
}

sockaddr_in make_address(const std::string& address, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    return sa;
}

bool send_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

gate_proxy_t::gate_proxy_t(const std::string& upstream_address, int upstream_port, int port)
    : m_upstream_address(upstream_address), m_upstream_port(upstream_port), m_port(port) {
    for (int attempt = 0; attempt < 8 && m_listen_fd < 0; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const std::string address = random_loopback_address();
        sockaddr_in sa = make_address(address, port);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && ::listen(fd, 16) == 0) {
            m_listen_fd = fd;
            m_address = address;
        } else {
            ::close(fd);
        }
    }
    if (m_listen_fd >= 0) m_accept_thread = std::thread([this] { _accept_loop(); });
}

gate_proxy_t::~gate_proxy_t() {
    m_quit = true;
    if (m_accept_thread.joinable()) m_accept_thread.join();
    for (auto& t : m_pumps) t.join();
    if (m_listen_fd >= 0) ::close(m_listen_fd);
}

void gate_proxy_t::_accept_loop() {
    while (!m_quit) {
        pollfd p{m_listen_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int client = ::accept4(m_listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        m_pumps.emplace_back([this, client] { _serve(client); });
    }
}

void gate_proxy_t::_serve(int client) {
    // MQTT CONNECT: 0x10, remaining length (1 to 4 bytes), protocol name (2-byte length,
    // "MQTT"), protocol level (4: 3.1.1, 5: MQTT 5). Read that far (bounded).
    std::string first;
    if (m_refuse_mqtt5) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::size_t need = 0;  // bytes up to the level, known once the length is read
        while (!m_quit && std::chrono::steady_clock::now() < deadline && (need == 0 || first.size() < need)) {
            pollfd p{client, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char c[64];
            const ssize_t n = ::recv(client, c, sizeof c, 0);
            if (n <= 0) break;
            first.append(c, static_cast<size_t>(n));
            std::size_t i = 1;
            while (i < first.size() && i < 5 && (static_cast<unsigned char>(first[i]) & 0x80)) ++i;
            if (i < first.size() && i < 5) need = i + 1 + 2 + 4 + 1;
        }
        if (need == 0 || first.size() < need) {
            ::close(client);
            return;
        }
        if (first[need - 1] == 5) {
            const char refused[] = {0x20, 0x02, 0x00, 0x01};  // CONNACK, 3.1.1 code 1
            send_all(client, refused, sizeof refused);
            ++m_mqtt5_refused;
            ::close(client);
            return;
        }
    }
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = make_address(m_upstream_address, m_upstream_port);
    if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        !send_all(server, first.data(), first.size())) {
        if (server >= 0) ::close(server);
        ::close(client);
        return;
    }
    _pump(client, server);
}

void gate_proxy_t::_pump(int client, int server) {
    std::string held;  // the server's answer, not yet passed on
    auto held_since = std::chrono::steady_clock::now();
    char buffer[65536];
    bool done = false;
    bool server_eof = false;
    while (!m_quit && !done) {
        pollfd p[2] = {{client, POLLIN, 0}, {server_eof ? -1 : server, POLLIN, 0}};
        ::poll(p, 2, 20);
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0 || !send_all(server, buffer, static_cast<size_t>(n))) done = true;
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
            if (n <= 0) {
                server_eof = true;
            } else {
                if (held.empty()) held_since = std::chrono::steady_clock::now();
                held.append(buffer, static_cast<size_t>(n));
                m_held += n;
            }
        }
        const bool due = std::chrono::steady_clock::now() - held_since >= std::chrono::milliseconds(m_delay_ms.load());
        if (!held.empty() && m_open && due) {
            m_held -= static_cast<long>(held.size());
            if (!send_all(client, held.data(), held.size())) done = true;
            held.clear();
        }
        if (server_eof && held.empty()) done = true;
    }
    m_held -= static_cast<long>(held.size());
    ::close(client);
    ::close(server);
}

}  // namespace velkaro_test
