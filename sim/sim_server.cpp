// Listeners and per-connection threads of the simulator. Each connection gets its own
// thread (bounded in number); every wait is a short poll slice so that shutdown and an
// injected link drop take effect within a tenth of a second.
#include "sim_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <vector>

#include "sim_wire.h"

namespace vx_sim {
namespace {

constexpr int poll_slice_ms = 100;
constexpr size_t max_line = 16u << 20;  // raw socket: longest command line kept
constexpr uint32_t core_max_recv_size = 1u << 20;
constexpr size_t core_max_record = (4u << 20);    // a device_write above maxRecvSize is refused, not read
constexpr size_t core_max_read_piece = 1u << 20;  // device_read answers at most this much per call
constexpr size_t core_max_pending_input = 16u << 20;
constexpr int max_links_per_connection = 16;
constexpr uint32_t read_timeout_cap_ms = 10000;

// VXI-11 core procedures, flags, reasons and errors.
enum : uint32_t {
    proc_null = 0,
    proc_create_link = 10,
    proc_device_write = 11,
    proc_device_read = 12,
    proc_device_readstb = 13,
    proc_device_trigger = 14,
    proc_device_clear = 15,
    proc_device_remote = 16,
    proc_device_local = 17,
    proc_device_lock = 18,
    proc_device_unlock = 19,
    proc_device_enable_srq = 20,
    proc_device_docmd = 22,
    proc_destroy_link = 23,
    proc_create_intr_chan = 25,
    proc_destroy_intr_chan = 26,
};
constexpr int32_t flag_end = 0x08;
constexpr int32_t flag_termchrset = 0x80;
constexpr int32_t reason_reqcnt = 1;
constexpr int32_t reason_chr = 2;
constexpr int32_t reason_end = 4;
constexpr int32_t err_none = 0;
constexpr int32_t err_invalid_link = 4;
constexpr int32_t err_parameter = 5;
constexpr int32_t err_not_supported = 8;
constexpr int32_t err_out_of_resources = 9;
constexpr int32_t err_io_timeout = 15;
constexpr uint8_t stb_message_available = 0x10;

bool sleep_unless(const std::atomic<bool>& stop, std::chrono::milliseconds total) {
    const auto end = std::chrono::steady_clock::now() + total;
    while (std::chrono::steady_clock::now() < end) {
        if (stop.load()) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(20)));
    }
    return !stop.load();
}

int make_listener(const in_addr& address, int port, int type, std::string& error, int& bound_port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = address;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = "cannot bind " + std::string(type == SOCK_DGRAM ? "udp" : "tcp") + " port " +
                std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (type == SOCK_STREAM && ::listen(fd, 16) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    bound_port = ntohs(sa.sin_port);
    return fd;
}

// Splits a line into its ';'-separated commands; quoted text may hold a ';'.
std::vector<std::string> split_units(const std::string& line) {
    std::vector<std::string> units;
    std::string cur;
    char quote = 0;
    for (char c : line) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            units.push_back(cur);
            cur.clear();
            continue;
        }
        cur.push_back(c);
    }
    units.push_back(cur);
    return units;
}

}  // namespace

// ---------------------------------------------------------------------------------------
sim_front_t::sim_front_t(const sim_options_t& options, sim_instrument_t& instrument)
    : m_options(options), m_instrument(instrument) {
    if (options.log_path == "-") {
        m_log_stderr = true;
    } else if (!options.log_path.empty()) {
        m_log.open(options.log_path, std::ios::out | std::ios::app);
        if (!m_log) {
            std::cerr << "vx_sim: cannot open log file " << options.log_path << "\n";
        }
    }
}

void sim_front_t::_log(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_log_mutex);
    if (m_log_stderr) {
        std::cerr << line << std::endl;
    } else if (m_log.is_open()) {
        m_log << line << '\n';
        m_log.flush();  // tests read the log while the simulator runs
    }
}

void sim_front_t::check_drop_time() {
    if (m_outage_state.load() == 1) {
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                  m_started);
        if (since.count() >= m_outage_end_ms.load()) {
            if (!m_options.outage_serial.empty()) m_instrument.set_serial(m_options.outage_serial);
            m_outage_state.store(2);
            m_halted.store(false);  // the network is back
            _log("# outage over");
        }
    }
    if (m_options.drop_at_s > 0 &&
        std::chrono::steady_clock::now() - m_started >= std::chrono::duration<double>(m_options.drop_at_s)) {
        halt();
    }
}

std::string sim_front_t::process_line(const std::string& line, std::mt19937& rng) {
    std::string text = line;
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    if (text.find_first_not_of(" \t") == std::string::npos) {
        return {};
    }
    _log(text);
    int not_begun = 0;
    if (m_options.outage_after > 0 && m_commands.load() + 1 >= m_options.outage_after &&
        m_outage_state.compare_exchange_strong(not_begun, 1)) {
        // The network goes before the command arrives: it is not executed, nothing is lost.
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                  m_started);
        m_outage_end_ms.store(since.count() + static_cast<int64_t>(m_options.outage_s * 1000.0));
        _log("# outage begins");
        halt();
        return {};
    }
    std::string reply;
    for (const auto& unit : split_units(text)) {
        std::string one;
        if (m_instrument.execute(unit, one)) {
            reply += one;
        }
    }
    const long long count = ++m_commands;
    if (m_options.drop_after > 0 && count >= m_options.drop_after) {
        halt();
    }
    if (reply.empty()) {
        return reply;
    }
    if (m_options.garbage) {
        // Same length, any byte but the line feed, then a line feed: a hostile but framed reply.
        std::uniform_int_distribution<int> byte(0, 254);
        for (size_t i = 0; i + 1 < reply.size(); ++i) {
            int b = byte(rng);
            reply[i] = static_cast<char>(b >= '\n' ? b + 1 : b);
        }
        reply.back() = '\n';
    }
    if (m_options.truncate) {
        reply.resize((reply.size() - 1) / 2);
    }
    return reply;
}

// ---------------------------------------------------------------------------------------
sim_server_t::sim_server_t(const sim_options_t& options, sim_front_t& front)
    : m_options(options), m_front(front) {}

sim_server_t::~sim_server_t() {
    m_front.halt();
    m_shutdown.store(true);
    _reap(true);
    for (int fd : {m_pm_tcp, m_pm_udp, m_core, m_raw}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool sim_server_t::bind_all(std::string& error) {
    in_addr address{};
    if (::inet_pton(AF_INET, m_options.address.c_str(), &address) != 1) {
        error = "invalid address " + m_options.address;
        return false;
    }
    if ((ntohl(address.s_addr) >> 24) != 127) {
        error = "address " + m_options.address + " is not a loopback address (127.x.y.z)";
        return false;
    }
    int udp_port = 0;
    if ((m_core = make_listener(address, m_options.vxi11_port, SOCK_STREAM, error, m_core_port)) < 0 ||
        (m_raw = make_listener(address, m_options.socket_port, SOCK_STREAM, error, m_raw_port)) < 0 ||
        (m_pm_tcp = make_listener(address, m_options.portmapper_port, SOCK_STREAM, error, m_pm_port)) < 0 ||
        (m_pm_udp = make_listener(address, m_pm_port, SOCK_DGRAM, error, udp_port)) < 0) {
        return false;
    }
    return true;
}

void sim_server_t::run(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        m_front.check_drop_time();
        pollfd fds[4] = {
            {m_pm_tcp, POLLIN, 0}, {m_core, POLLIN, 0}, {m_raw, POLLIN, 0}, {m_pm_udp, POLLIN, 0}};
        const int r = ::poll(fds, 4, poll_slice_ms);
        if (r > 0) {
            if (fds[0].revents & POLLIN) {
                _accept(m_pm_tcp, service_t::portmapper);
            }
            if (fds[1].revents & POLLIN) {
                _accept(m_core, service_t::core);
            }
            if (fds[2].revents & POLLIN) {
                _accept(m_raw, service_t::raw);
            }
            if (fds[3].revents & POLLIN) {
                _serve_portmapper_udp();
            }
        }
        _reap(false);
    }
    m_front.halt();
    m_shutdown.store(true);
    _reap(true);
}

void sim_server_t::_accept(int listen_fd, service_t service) {
    const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (m_front.halted().load() || static_cast<int>(m_connections.size()) >= m_options.max_connections) {
        ::close(fd);  // a dropped-off instrument, or too many clients
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto conn = std::make_unique<connection_t>();
    conn->fd = fd;
    connection_t* c = conn.get();
    conn->thread = std::thread([this, c, service]() {
        switch (service) {
            case service_t::portmapper:
                _serve_portmapper_tcp(c->fd);
                break;
            case service_t::core:
                _serve_core(c->fd);
                break;
            case service_t::raw:
                _serve_raw(c->fd);
                break;
        }
        ::shutdown(c->fd, SHUT_RDWR);
        c->done.store(true);
    });
    m_connections.push_back(std::move(conn));
}

void sim_server_t::_reap(bool all) {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (all || (*it)->done.load()) {
            if ((*it)->thread.joinable()) {
                (*it)->thread.join();
            }
            ::close((*it)->fd);
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Portmapper: GETPORT knows one mapping, the VXI-11 core channel over TCP.
std::string sim_server_t::_portmapper_reply(const std::string& record, bool& ok) const {
    rpc_call_t call;
    bool version_ok = true;
    ok = parse_rpc_call(record, call, version_ok);
    if (!ok) {
        return {};
    }
    if (!version_ok) {
        return denied_rpc_mismatch(call.xid);
    }
    if (call.program != portmapper_program) {
        return accepted_reply(call.xid, accept_prog_unavail).data();
    }
    if (call.version != portmapper_version) {
        xdr_writer_t out = accepted_reply(call.xid, accept_prog_mismatch);
        out.u32(portmapper_version);
        out.u32(portmapper_version);
        return out.data();
    }
    xdr_reader_t args(record, call.args_offset);
    switch (call.procedure) {
        case pmap_proc_null:
            return accepted_reply(call.xid, accept_success).data();
        case pmap_proc_getport: {
            uint32_t prog = 0, vers = 0, prot = 0, port = 0;
            if (!args.u32(prog) || !args.u32(vers) || !args.u32(prot) || !args.u32(port)) {
                return accepted_reply(call.xid, accept_garbage_args).data();
            }
            xdr_writer_t out = accepted_reply(call.xid, accept_success);
            const bool known =
                prog == device_core_program && vers == device_core_version && prot == ip_proto_tcp;
            out.u32(known ? static_cast<uint32_t>(m_core_port) : 0);
            return out.data();
        }
        case pmap_proc_dump: {
            xdr_writer_t out = accepted_reply(call.xid, accept_success);
            const uint32_t entries[][4] = {
                {portmapper_program, portmapper_version, ip_proto_tcp, static_cast<uint32_t>(m_pm_port)},
                {portmapper_program, portmapper_version, ip_proto_udp, static_cast<uint32_t>(m_pm_port)},
                {device_core_program, device_core_version, ip_proto_tcp, static_cast<uint32_t>(m_core_port)}};
            for (const auto& e : entries) {
                out.u32(1);  // value follows
                for (uint32_t v : e) {
                    out.u32(v);
                }
            }
            out.u32(0);
            return out.data();
        }
        default:
            return accepted_reply(call.xid, accept_proc_unavail).data();
    }
}

void sim_server_t::_serve_portmapper_tcp(int fd) {
    std::string record;
    while (read_record(fd, record, 64 * 1024, m_front.halted())) {
        bool ok = false;
        const std::string reply = _portmapper_reply(record, ok);
        if (!ok || !write_record(fd, reply, m_shutdown)) {
            return;
        }
    }
}

void sim_server_t::_serve_portmapper_udp() {
    char buf[9000];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t got =
        ::recvfrom(m_pm_udp, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (got <= 0 || m_front.halted().load()) {
        return;
    }
    bool ok = false;
    const std::string reply = _portmapper_reply(std::string(buf, static_cast<size_t>(got)), ok);
    if (ok) {
        ::sendto(m_pm_udp, reply.data(), reply.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), len);
    }
}

// ---------------------------------------------------------------------------------------
// VXI-11 core channel: links live on the connection that created them.
void sim_server_t::_serve_core(int fd) {
    struct link_t {
        std::string input;   // bytes of the message being written
        std::string output;  // reply bytes not yet read
        size_t output_pos = 0;
        std::chrono::steady_clock::time_point ready_at;  // --reply-delay
    };
    std::map<int32_t, link_t> links;
    std::mt19937 rng(static_cast<uint32_t>(fd) * 2654435761u);
    std::string record;

    while (read_record(fd, record, core_max_record, m_front.halted())) {
        rpc_call_t call;
        bool version_ok = true;
        if (!parse_rpc_call(record, call, version_ok)) {
            return;
        }
        if (!version_ok) {
            if (!write_record(fd, denied_rpc_mismatch(call.xid), m_shutdown)) {
                return;
            }
            continue;
        }
        if (call.program != device_core_program) {
            if (!write_record(fd, accepted_reply(call.xid, accept_prog_unavail).data(), m_shutdown)) {
                return;
            }
            continue;
        }
        if (call.version != device_core_version) {
            xdr_writer_t out = accepted_reply(call.xid, accept_prog_mismatch);
            out.u32(device_core_version);
            out.u32(device_core_version);
            if (!write_record(fd, out.data(), m_shutdown)) {
                return;
            }
            continue;
        }
        xdr_reader_t in(record, call.args_offset);
        xdr_writer_t out = accepted_reply(call.xid, accept_success);
        bool garbage = false;
        int32_t lid = 0;
        auto find_link = [&](int32_t id) -> link_t* {
            const auto it = links.find(id);
            return it == links.end() ? nullptr : &it->second;
        };
        switch (call.procedure) {
            case proc_null:
                break;
            case proc_create_link: {
                int32_t client_id = 0;
                uint32_t lock_device = 0, lock_timeout = 0;
                std::string device;
                if (!in.i32(client_id) || !in.u32(lock_device) || !in.u32(lock_timeout) ||
                    !in.opaque(device, 256)) {
                    garbage = true;
                    break;
                }
                if (static_cast<int>(links.size()) >= max_links_per_connection) {
                    out.i32(err_out_of_resources);
                    out.i32(0);
                    out.u32(0);
                    out.u32(core_max_recv_size);
                    break;
                }
                lid = m_next_link_id++;
                links[lid];
                out.i32(err_none);
                out.i32(lid);
                out.u32(0);  // no abort channel
                out.u32(core_max_recv_size);
                break;
            }
            case proc_device_write: {
                uint32_t io_timeout = 0, lock_timeout = 0;
                int32_t flags = 0;
                std::string data;
                if (!in.i32(lid) || !in.u32(io_timeout) || !in.u32(lock_timeout) || !in.i32(flags) ||
                    !in.opaque(data, core_max_record)) {
                    garbage = true;
                    break;
                }
                link_t* link = find_link(lid);
                if (link == nullptr || data.size() > core_max_recv_size) {
                    out.i32(link == nullptr ? err_invalid_link : err_parameter);
                    out.u32(0);
                    break;
                }
                if (link->input.empty()) {
                    // A new message discards a reply nobody read, as a query interrupted by a new command.
                    link->output.clear();
                    link->output_pos = 0;
                }
                link->input += data;
                const bool end = (flags & flag_end) != 0;
                size_t start = 0;
                for (;;) {
                    const auto nl = link->input.find('\n', start);
                    std::string line;
                    if (nl != std::string::npos) {
                        line = link->input.substr(start, nl - start);
                        start = nl + 1;
                    } else if (end && start < link->input.size()) {
                        line = link->input.substr(start);
                        start = link->input.size();
                    } else {
                        break;
                    }
                    const std::string reply = m_front.process_line(line, rng);
                    if (!reply.empty()) {
                        link->output += reply;
                        link->ready_at = std::chrono::steady_clock::now() +
                                         std::chrono::milliseconds(m_front.reply_delay_ms());
                    }
                }
                link->input.erase(0, start);
                if (end || link->input.size() > core_max_pending_input) {
                    link->input.clear();
                }
                out.i32(err_none);
                out.u32(static_cast<uint32_t>(data.size()));
                break;
            }
            case proc_device_read: {
                uint32_t request_size = 0, io_timeout = 0, lock_timeout = 0, term_char = 0;
                int32_t flags = 0;
                if (!in.i32(lid) || !in.u32(request_size) || !in.u32(io_timeout) || !in.u32(lock_timeout) ||
                    !in.i32(flags) || !in.u32(term_char)) {
                    garbage = true;
                    break;
                }
                link_t* link = find_link(lid);
                if (link == nullptr) {
                    out.i32(err_invalid_link);
                    out.i32(0);
                    out.opaque({});
                    break;
                }
                const auto wait_limit = std::chrono::milliseconds(std::min(io_timeout, read_timeout_cap_ms));
                const bool pending = link->output_pos < link->output.size();
                const auto now = std::chrono::steady_clock::now();
                if (!pending || link->ready_at > now + wait_limit) {
                    // Nothing to read (or not within the caller's time-out): wait it out like an instrument.
                    sleep_unless(m_front.halted(), wait_limit);
                    out.i32(err_io_timeout);
                    out.i32(0);
                    out.opaque({});
                    break;
                }
                if (link->ready_at > now &&
                    !sleep_unless(m_front.halted(), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                        link->ready_at - now) +
                                                        std::chrono::milliseconds(1))) {
                    return;
                }
                const size_t remaining = link->output.size() - link->output_pos;
                size_t n = std::min<size_t>({remaining, request_size, core_max_read_piece});
                int32_t reason = 0;
                if ((flags & flag_termchrset) != 0) {
                    const auto pos = link->output.find(static_cast<char>(term_char & 0xFF), link->output_pos);
                    if (pos != std::string::npos && pos < link->output_pos + n) {
                        n = pos - link->output_pos + 1;
                        reason |= reason_chr;
                    }
                }
                if (n == request_size) {
                    reason |= reason_reqcnt;
                }
                const std::string piece = link->output.substr(link->output_pos, n);
                link->output_pos += n;
                if (link->output_pos >= link->output.size()) {
                    reason |= reason_end;
                    link->output.clear();
                    link->output_pos = 0;
                }
                out.i32(err_none);
                out.i32(reason);
                out.opaque(piece);
                break;
            }
            case proc_device_readstb: {
                if (!in.i32(lid)) {
                    garbage = true;
                    break;
                }
                link_t* link = find_link(lid);
                out.i32(link == nullptr ? err_invalid_link : err_none);
                out.u32(link != nullptr && link->output_pos < link->output.size() ? stb_message_available
                                                                                  : 0);
                break;
            }
            case proc_device_clear:
            case proc_device_trigger:
            case proc_device_remote:
            case proc_device_local:
            case proc_device_lock:
            case proc_device_unlock:
            case proc_destroy_link: {
                if (!in.i32(lid)) {
                    garbage = true;
                    break;
                }
                link_t* link = find_link(lid);
                if (link == nullptr) {
                    out.i32(err_invalid_link);
                    break;
                }
                if (call.procedure == proc_device_clear) {
                    link->input.clear();
                    link->output.clear();
                    link->output_pos = 0;
                } else if (call.procedure == proc_destroy_link) {
                    links.erase(lid);
                }
                out.i32(err_none);
                break;
            }
            case proc_device_enable_srq:
            case proc_device_docmd:
            case proc_create_intr_chan:
            case proc_destroy_intr_chan:
                out.i32(err_not_supported);
                break;
            default:
                out = accepted_reply(call.xid, accept_proc_unavail);
                break;
        }
        if (garbage) {
            out = accepted_reply(call.xid, accept_garbage_args);
        }
        if (!write_record(fd, out.data(), m_shutdown) || m_front.halted().load()) {
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Raw SCPI socket: commands end with "\n", so do replies.
void sim_server_t::_serve_raw(int fd) {
    std::mt19937 rng(static_cast<uint32_t>(fd) * 40503u + 7u);
    std::string pending;
    char buf[65536];
    while (!m_front.halted().load()) {
        pollfd pfd{fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, poll_slice_ms);
        if (r < 0 && errno != EINTR) {
            return;
        }
        if (r <= 0) {
            continue;
        }
        const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
            return;
        }
        if (got < 0) {
            continue;
        }
        pending.append(buf, static_cast<size_t>(got));
        size_t start = 0;
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n', start)) {
            const std::string reply = m_front.process_line(pending.substr(start, nl - start), rng);
            start = nl + 1;
            if (!reply.empty()) {
                if (m_front.reply_delay_ms() > 0 &&
                    !sleep_unless(m_front.halted(), std::chrono::milliseconds(m_front.reply_delay_ms()))) {
                    return;
                }
                if (!write_all(fd, reply.data(), reply.size(), m_shutdown)) {
                    return;
                }
            }
            if (m_front.halted().load()) {
                return;
            }
        }
        pending.erase(0, start);
        if (pending.size() > max_line) {
            pending.clear();
        }
    }
}

}  // namespace vx_sim
