// Plain-socket clients for the simulator tests: a raw SCPI line client and a hand-built
// ONC RPC client. Deliberately independent of src/visa, so these tests judge the
// simulator's wire behaviour on their own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace sim_test {

inline int connect_tcp(const std::string& address, int port, int type = SOCK_STREAM)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    if (type == SOCK_STREAM) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

// Reads what arrives within `timeout`; `closed` tells whether the peer closed the connection.
enum class read_result_t { ok, timeout, closed };

class scpi_client_t {
public:
    scpi_client_t(const std::string& address, int port) : m_fd(connect_tcp(address, port)) {}
    ~scpi_client_t()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    scpi_client_t(const scpi_client_t&) = delete;
    scpi_client_t& operator=(const scpi_client_t&) = delete;

    bool connected() const { return m_fd >= 0; }

    bool send(const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::send(m_fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // One reply line including its "\n".
    read_result_t read_line(std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(3))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto nl = m_pending.find('\n');
            if (nl != std::string::npos) {
                line = m_pending.substr(0, nl + 1);
                m_pending.erase(0, nl + 1);
                return read_result_t::ok;
            }
            const read_result_t r = _fill(deadline);
            if (r != read_result_t::ok) {
                line = m_pending;
                return r;
            }
        }
    }

    // Everything that arrives until `timeout` passes or the peer closes.
    read_result_t read_all(std::string& out, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        read_result_t r = read_result_t::ok;
        while ((r = _fill(deadline)) == read_result_t::ok) {
        }
        out = m_pending;
        m_pending.clear();
        return r;
    }

    // Sends "<cmd>\n" and reads one line; returns "" on time-out or close.
    std::string query(const std::string& cmd, std::chrono::milliseconds timeout = std::chrono::seconds(3))
    {
        if (!send(cmd + "\n")) {
            return {};
        }
        std::string line;
        return read_line(line, timeout) == read_result_t::ok ? line : std::string();
    }

private:
    read_result_t _fill(std::chrono::steady_clock::time_point deadline)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return read_result_t::timeout;
        }
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return read_result_t::timeout;
        }
        char buf[65536];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return read_result_t::closed;
        }
        m_pending.append(buf, static_cast<size_t>(n));
        return read_result_t::ok;
    }

    int m_fd = -1;
    std::string m_pending;
};

// --- hand-built ONC RPC ---------------------------------------------------------------
inline void put_u32(std::string& out, uint32_t v)
{
    out.push_back(static_cast<char>(v >> 24));
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

inline void put_opaque(std::string& out, const std::string& data)
{
    put_u32(out, static_cast<uint32_t>(data.size()));
    out += data;
    out.append((4 - data.size() % 4) % 4, '\0');
}

inline uint32_t get_u32(const std::string& in, size_t pos)
{
    if (pos + 4 > in.size()) {
        return 0xFFFFFFFFu;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(in.data() + pos);
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Call header: xid, CALL, RPC version 2, program, version, procedure, AUTH_NONE twice.
inline std::string rpc_call(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc, const std::string& args)
{
    std::string out;
    for (uint32_t v : {xid, 0u, 2u, prog, vers, proc, 0u, 0u, 0u, 0u}) {
        put_u32(out, v);
    }
    return out + args;
}

class rpc_client_t {
public:
    rpc_client_t(const std::string& address, int port) : m_fd(connect_tcp(address, port)) {}
    ~rpc_client_t()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    rpc_client_t(const rpc_client_t&) = delete;
    rpc_client_t& operator=(const rpc_client_t&) = delete;
    bool connected() const { return m_fd >= 0; }

    // Sends the record split into `fragments` record-marking fragments.
    bool send_record(const std::string& record, int fragments = 1)
    {
        std::string wire;
        const size_t piece = (record.size() + static_cast<size_t>(fragments) - 1) / static_cast<size_t>(fragments);
        for (size_t pos = 0; pos < record.size() || pos == 0; pos += piece) {
            const size_t n = std::min(piece, record.size() - pos);
            const bool last = pos + n >= record.size();
            put_u32(wire, (last ? 0x80000000u : 0u) | static_cast<uint32_t>(n));
            wire += record.substr(pos, n);
            if (last) {
                break;
            }
        }
        return ::send(m_fd, wire.data(), wire.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(wire.size());
    }

    // Reads one reply record and returns the results after the accepted-reply header
    // (xid, REPLY, MSG_ACCEPTED, null verifier, accept_stat); accept_stat goes to `accept`.
    bool receive(std::string& results, uint32_t& accept, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::string record;
        for (;;) {
            std::string header;
            if (!_read(header, 4, timeout)) {
                return false;
            }
            const uint32_t word = get_u32(header, 0);
            std::string frag;
            if (!_read(frag, word & 0x7FFFFFFFu, timeout)) {
                return false;
            }
            record += frag;
            if (word & 0x80000000u) {
                break;
            }
        }
        if (record.size() < 24 || get_u32(record, 4) != 1 || get_u32(record, 8) != 0) {
            return false;
        }
        accept = get_u32(record, 20);
        results = record.substr(24);
        return true;
    }

    bool call(uint32_t prog, uint32_t vers, uint32_t proc, const std::string& args, std::string& results,
              uint32_t& accept, int fragments = 1)
    {
        return send_record(rpc_call(++m_xid, prog, vers, proc, args), fragments) && receive(results, accept);
    }

private:
    bool _read(std::string& out, size_t n, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        out.clear();
        while (out.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd pfd{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buf[65536];
            const ssize_t got = ::recv(m_fd, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0) {
                return false;
            }
            out.append(buf, static_cast<size_t>(got));
        }
        return true;
    }

    int m_fd = -1;
    uint32_t m_xid = 0x1000;
};

}  // namespace sim_test
