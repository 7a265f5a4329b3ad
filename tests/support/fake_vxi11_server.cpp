#include "fake_vxi11_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "visa/visa_xdr.h"

namespace velkaro_test {

using visa::byte_vector_t;
using visa::xdr_reader_t;
using visa::xdr_writer_t;

namespace {

constexpr size_t max_request = 32U * 1024U * 1024U;

bool send_all(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool send_all(int fd, const byte_vector_t& b) { return send_all(fd, b.data(), b.size()); }

// Reads exactly n bytes; polls in short steps so a stopping server leaves quickly.
bool read_exact(int fd, uint8_t* p, size_t n, const std::atomic<bool>& stop) {
    while (n > 0) {
        pollfd pf{fd, POLLIN, 0};
        const int r = ::poll(&pf, 1, 50);
        if (stop.load()) return false;
        if (r <= 0) continue;
        const ssize_t k = ::recv(fd, p, n, 0);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool read_record(int fd, byte_vector_t& rec, const std::atomic<bool>& stop) {
    rec.clear();
    for (int fragments = 0; fragments < 1000; ++fragments) {
        uint8_t h[4];
        if (!read_exact(fd, h, 4, stop)) return false;
        const uint32_t mark = (uint32_t{h[0]} << 24) | (uint32_t{h[1]} << 16) | (uint32_t{h[2]} << 8) | h[3];
        const size_t len = mark & 0x7FFFFFFFU;
        if (rec.size() + len > max_request) return false;
        const size_t at = rec.size();
        rec.resize(at + len);
        if (len > 0 && !read_exact(fd, rec.data() + at, len, stop)) return false;
        if (mark & 0x80000000U) return true;
    }
    return false;
}

byte_vector_t frame(const byte_vector_t& body, size_t fragment) {
    byte_vector_t out;
    size_t pos = 0;
    do {
        const size_t n = std::min(fragment, body.size() - pos);
        const bool last = pos + n == body.size();
        xdr_writer_t(out).put_u32((last ? 0x80000000U : 0U) | static_cast<uint32_t>(n));
        out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(pos),
                   body.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < body.size());
    return out;
}

byte_vector_t accepted_header(uint32_t xid, uint32_t accept_stat = 0) {
    byte_vector_t b;
    xdr_writer_t w(b);
    w.put_u32(xid);
    w.put_u32(1);  // reply
    w.put_u32(0);  // accepted
    w.put_u32(0);  // verifier AUTH_NONE
    w.put_u32(0);
    w.put_u32(accept_stat);
    return b;
}

}  // namespace

int listen_loopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

fake_vxi11_server_t::fake_vxi11_server_t() {
    m_pm_listen = listen_loopback(m_pm_port);
    m_core_listen = listen_loopback(m_core_port);
    m_acceptor = std::thread([this] { _accept_loop(); });
}

fake_vxi11_server_t::~fake_vxi11_server_t() {
    m_stop = true;
    m_acceptor.join();
    std::lock_guard<std::mutex> lock(m_threads_mutex);
    for (auto& t : m_threads) t.join();
    if (m_pm_listen >= 0) ::close(m_pm_listen);
    if (m_core_listen >= 0) ::close(m_core_listen);
}

void fake_vxi11_server_t::use_portmapper() const {
    ::setenv("VELKARO_VXI11_PORTMAPPER_PORT", std::to_string(m_pm_port).c_str(), 1);
}

void fake_vxi11_server_t::set_endless_when(std::function<bool(const std::string&)> f) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_endless_when = std::move(f);
}

void fake_vxi11_server_t::set_max_recv_size(uint32_t v) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_max_recv_size = v;
}
void fake_vxi11_server_t::set_server_chunk(uint32_t v) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_server_chunk = v;
}
void fake_vxi11_server_t::set_reply(const std::string& b) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_reply = b;
}
void fake_vxi11_server_t::set_responder(std::function<std::string(const std::string&)> f) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_responder = std::move(f);
}
void fake_vxi11_server_t::set_read_fault(fake_fault_t f, int count) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_read_fault = f;
    m_read_fault_count = count;
}
void fake_vxi11_server_t::set_write_fault(fake_fault_t f, int count) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_write_fault = f;
    m_write_fault_count = count;
}
void fake_vxi11_server_t::set_read_delay_ms(int ms) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_read_delay_ms = ms;
}
void fake_vxi11_server_t::set_create_link_error(int32_t e) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_create_link_error = e;
}
void fake_vxi11_server_t::set_getport_answer(int p) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_getport_answer = p;
}
void fake_vxi11_server_t::set_honour_termchar(bool on) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_honour_termchar = on;
}

std::vector<fake_write_t> fake_vxi11_server_t::writes() const {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_writes;
}

bool fake_vxi11_server_t::_sleep_ms(int ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (m_stop.load()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !m_stop.load();
}

fake_fault_t fake_vxi11_server_t::_take_fault(fake_fault_t& slot, int& count) {
    if (slot == fake_fault_t::none || count == 0) return fake_fault_t::none;
    const fake_fault_t f = slot;
    if (count > 0 && --count == 0) slot = fake_fault_t::none;
    return f;
}

void fake_vxi11_server_t::_accept_loop() {
    while (!m_stop.load()) {
        pollfd p[2] = {{m_pm_listen, POLLIN, 0}, {m_core_listen, POLLIN, 0}};
        if (::poll(p, 2, 50) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & POLLIN)) continue;
            const int fd = ::accept4(p[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard<std::mutex> lock(m_threads_mutex);
            m_threads.emplace_back([this, fd, i] {
                _serve(fd, i == 0);
                ::close(fd);
            });
        }
    }
}

void fake_vxi11_server_t::_serve(int fd, bool portmapper) {
    byte_vector_t req;
    while (read_record(fd, req, m_stop)) {
        xdr_reader_t r(req.data(), req.size());
        uint32_t xid = 0, type = 0, rpcvers = 0, prog = 0, vers = 0, proc = 0, flavor = 0;
        r.get_u32(xid);
        r.get_u32(type);
        r.get_u32(rpcvers);
        r.get_u32(prog);
        r.get_u32(vers);
        r.get_u32(proc);
        r.get_u32(flavor);
        r.skip_opaque(400);
        r.get_u32(flavor);
        r.skip_opaque(400);
        if (!r.ok()) return;

        byte_vector_t body = accepted_header(xid);
        xdr_writer_t w(body);
        fake_fault_t fault = fake_fault_t::none;
        if (portmapper) {
            std::lock_guard<std::mutex> l(m_mutex);
            w.put_u32(m_getport_answer < 0 ? m_core_port : static_cast<uint32_t>(m_getport_answer));
        } else if (proc == 10) {  // create_link
            m_create_calls++;
            std::lock_guard<std::mutex> l(m_mutex);
            w.put_i32(m_create_link_error);
            w.put_i32(7);  // lid
            w.put_u32(0);  // abort port
            w.put_u32(m_max_recv_size);
        } else if (proc == 11) {  // device_write
            int32_t lid = 0, flags = 0;
            uint32_t io_timeout = 0, lock_timeout = 0;
            byte_vector_t data;
            r.get_i32(lid);
            r.get_u32(io_timeout);
            r.get_u32(lock_timeout);
            r.get_i32(flags);
            r.get_opaque(data, 1U << 30);
            std::lock_guard<std::mutex> l(m_mutex);
            fault = _take_fault(m_write_fault, m_write_fault_count);
            const std::string text(data.begin(), data.end());
            m_writes.push_back({flags, text, io_timeout});
            const bool too_big = data.size() > m_max_recv_size;
            if (!too_big) {
                m_incoming += text;
                if ((flags & 0x08) && m_endless_when && m_endless_when(m_incoming)) {
                    m_read_fault = fake_fault_t::endless;
                    m_read_fault_count = -1;
                }
                if ((flags & 0x08) && m_responder) {
                    m_reply += m_responder(m_incoming);
                    m_incoming.clear();
                }
            }
            w.put_i32(too_big ? 5 : 0);
            w.put_u32(too_big ? 0U : static_cast<uint32_t>(data.size()));
        } else if (proc == 12) {  // device_read
            m_read_calls++;
            int32_t lid = 0, flags = 0;
            uint32_t request = 0, io_timeout = 0, lock_timeout = 0, term = 0;
            r.get_i32(lid);
            r.get_u32(request);
            r.get_u32(io_timeout);
            r.get_u32(lock_timeout);
            r.get_i32(flags);
            r.get_u32(term);
            int delay = 0;
            {
                std::lock_guard<std::mutex> l(m_mutex);
                fault = _take_fault(m_read_fault, m_read_fault_count);
                delay = m_read_delay_ms;
            }
            if (delay > 0 && !_sleep_ms(delay)) return;
            if (fault == fake_fault_t::endless) {
                // A reply that never ends: as much as asked for (at most one chunk), no END.
                const size_t n = std::min<size_t>({request, m_server_chunk, size_t{1} << 20});
                const std::string out(n, 'x');
                w.put_i32(0);
                w.put_i32(n == request ? 1 : 0);
                w.put_opaque(reinterpret_cast<const uint8_t*>(out.data()), out.size());
            } else if (fault == fake_fault_t::error15) {
                if (!_sleep_ms(static_cast<int>(std::min<uint32_t>(io_timeout, 5000)))) return;
                w.put_i32(15);
                w.put_i32(0);
                w.put_opaque(nullptr, 0);
            } else {
                std::lock_guard<std::mutex> l(m_mutex);
                size_t n = std::min<size_t>({m_reply.size(), request, m_server_chunk});
                if (fault == fake_fault_t::extra_data) n = std::min<size_t>(m_reply.size(), request + 5);
                int32_t reason = 0;
                if ((flags & 0x80) && m_honour_termchar) {
                    const size_t t = m_reply.find(static_cast<char>(term));
                    if (t != std::string::npos && t < n) {
                        n = t + 1;
                        reason |= 2;
                    }
                }
                if (n == m_reply.size()) reason |= 4;
                if (n == request) reason |= 1;
                const std::string out = m_reply.substr(0, n);
                m_reply.erase(0, n);
                w.put_i32(0);
                w.put_i32(reason);
                if (fault == fake_fault_t::lying_opaque_length) {
                    w.put_u32(1000000);
                    body.insert(body.end(), out.begin(), out.end());
                } else {
                    w.put_opaque(reinterpret_cast<const uint8_t*>(out.data()), out.size());
                }
            }
        } else if (proc == 15) {  // device_clear
            w.put_i32(0);
        } else if (proc == 23) {  // destroy_link
            m_destroy_calls++;
            w.put_i32(0);
        } else {
            body = accepted_header(xid, 3);  // PROC_UNAVAIL
        }

        switch (fault) {
            case fake_fault_t::late_reply:
                if (!_sleep_ms(600)) return;
                break;
            case fake_fault_t::silent:
                continue;
            case fake_fault_t::close_before_reply:
                return;
            case fake_fault_t::close_mid_reply: {
                const byte_vector_t f = frame(body, body.size());
                send_all(fd, f.data(), f.size() / 2);
                return;
            }
            case fake_fault_t::garbage_record: {
                byte_vector_t g;
                for (int i = 0; i < 40; ++i) g.push_back(static_cast<uint8_t>(0xA5 ^ i));
                send_all(fd, frame(g, g.size()));
                continue;
            }
            case fake_fault_t::huge_record_length: {
                const uint8_t mark[4] = {0xFF, 0xFF, 0xFF, 0xF0};
                send_all(fd, mark, 4);
                continue;
            }
            case fake_fault_t::truncated_results:
                body.resize(body.size() >= 28 ? 28 : body.size());  // header and one word
                break;
            case fake_fault_t::stale_xid_first: {
                byte_vector_t stale = accepted_header(xid - 1);
                xdr_writer_t(stale).put_i32(0);
                send_all(fd, frame(stale, stale.size()));
                break;
            }
            case fake_fault_t::denied: {
                body.clear();
                xdr_writer_t d(body);
                d.put_u32(xid);
                d.put_u32(1);
                d.put_u32(1);  // denied
                d.put_u32(1);  // AUTH_ERROR
                d.put_u32(1);
                break;
            }
            case fake_fault_t::prog_unavail:
                body = accepted_header(xid, 1);
                break;
            default:
                break;
        }
        const size_t fragment = fault == fake_fault_t::multi_fragment ? 3 : body.size();
        if (!send_all(fd, frame(body, fragment))) return;
    }
}

}  // namespace velkaro_test
