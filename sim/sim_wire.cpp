// ONC RPC server plumbing of the simulator (see sim_wire.h for why it stands alone).
#include "sim_wire.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace vx_sim {
namespace {

constexpr int poll_slice_ms = 100;
constexpr auto write_stall_limit = std::chrono::seconds(10);
constexpr size_t max_auth_size = 400;  // RFC 5531 limit for credentials and verifiers
constexpr int max_fragments = 65536;

}  // namespace

bool xdr_reader_t::u32(uint32_t& out) {
    if (m_data.size() < 4 || m_pos > m_data.size() - 4) {
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(m_data.data() + m_pos);
    out = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    m_pos += 4;
    return true;
}

bool xdr_reader_t::i32(int32_t& out) {
    uint32_t v = 0;
    if (!u32(v)) {
        return false;
    }
    out = static_cast<int32_t>(v);
    return true;
}

bool xdr_reader_t::opaque(std::string& out, size_t max_size) {
    uint32_t len = 0;
    if (!u32(len) || len > max_size) {
        return false;
    }
    const size_t padded = (static_cast<size_t>(len) + 3) & ~size_t{3};
    if (padded > m_data.size() - m_pos) {
        return false;
    }
    out.assign(m_data, m_pos, len);
    m_pos += padded;
    return true;
}

void xdr_writer_t::u32(uint32_t v) {
    const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    m_data.append(bytes, 4);
}

void xdr_writer_t::opaque(const std::string& data) {
    u32(static_cast<uint32_t>(data.size()));
    m_data += data;
    m_data.append((4 - data.size() % 4) % 4, '\0');
}

bool parse_rpc_call(const std::string& record, rpc_call_t& call, bool& rpc_version_ok) {
    xdr_reader_t in(record);
    uint32_t type = 0, rpcvers = 0, flavor = 0;
    std::string body;
    if (!in.u32(call.xid) || !in.u32(type) || type != msg_call || !in.u32(rpcvers)) {
        return false;
    }
    rpc_version_ok = rpcvers == rpc_version;
    if (!rpc_version_ok) {
        return true;
    }
    if (!in.u32(call.program) || !in.u32(call.version) || !in.u32(call.procedure) || !in.u32(flavor) ||
        !in.opaque(body, max_auth_size) || !in.u32(flavor) || !in.opaque(body, max_auth_size)) {
        return false;
    }
    call.args_offset = in.position();
    return true;
}

xdr_writer_t accepted_reply(uint32_t xid, uint32_t accept_status) {
    xdr_writer_t out;
    out.u32(xid);
    out.u32(msg_reply);
    out.u32(reply_accepted);
    out.u32(0);  // verifier flavor AUTH_NONE
    out.u32(0);  // empty verifier body
    out.u32(accept_status);
    return out;
}

std::string denied_rpc_mismatch(uint32_t xid) {
    xdr_writer_t out;
    out.u32(xid);
    out.u32(msg_reply);
    out.u32(reply_denied);
    out.u32(reject_rpc_mismatch);
    out.u32(rpc_version);
    out.u32(rpc_version);
    return out.data();
}

bool read_exact(int fd, char* buf, size_t n, const std::atomic<bool>& stop) {
    size_t done = 0;
    while (done < n) {
        if (stop.load()) {
            return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, poll_slice_ms);
        if (r < 0 && errno != EINTR) {
            return false;
        }
        if (r <= 0) {
            continue;
        }
        const ssize_t got = ::recv(fd, buf + done, n - done, 0);
        if (got == 0) {
            return false;
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool write_all(int fd, const char* buf, size_t n, const std::atomic<bool>& stop) {
    size_t done = 0;
    auto last_progress = std::chrono::steady_clock::now();
    while (done < n) {
        if (stop.load() || std::chrono::steady_clock::now() - last_progress > write_stall_limit) {
            return false;
        }
        pollfd pfd{fd, POLLOUT, 0};
        const int r = ::poll(&pfd, 1, poll_slice_ms);
        if (r < 0 && errno != EINTR) {
            return false;
        }
        if (r <= 0) {
            continue;
        }
        const ssize_t sent = ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(sent);
        last_progress = std::chrono::steady_clock::now();
    }
    return true;
}

bool read_record(int fd, std::string& out, size_t max_size, const std::atomic<bool>& stop) {
    out.clear();
    for (int fragments = 0; fragments < max_fragments; ++fragments) {
        unsigned char header[4];
        if (!read_exact(fd, reinterpret_cast<char*>(header), 4, stop)) {
            return false;
        }
        const uint32_t word = (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) |
                              (uint32_t{header[2]} << 8) | uint32_t{header[3]};
        const size_t len = word & ~record_last_fragment;
        if (len > max_size - out.size()) {
            return false;
        }
        const size_t old = out.size();
        out.resize(old + len);
        if (len > 0 && !read_exact(fd, &out[old], len, stop)) {
            return false;
        }
        if (word & record_last_fragment) {
            return true;
        }
    }
    return false;
}

bool write_record(int fd, const std::string& record, const std::atomic<bool>& stop) {
    const uint32_t word = record_last_fragment | static_cast<uint32_t>(record.size());
    std::string framed;
    framed.reserve(record.size() + 4);
    framed.push_back(static_cast<char>(word >> 24));
    framed.push_back(static_cast<char>(word >> 16));
    framed.push_back(static_cast<char>(word >> 8));
    framed.push_back(static_cast<char>(word));
    framed += record;
    return write_all(fd, framed.data(), framed.size(), stop);
}

}  // namespace vx_sim
