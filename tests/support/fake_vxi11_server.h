// A scripted VXI-11 server for the VISA layer's and the command line's tests: a portmapper and a core
// channel on 127.0.0.1 ephemeral ports, each connection served by a bounded thread.
// The device holds one queued reply handed out by device_read in chunks of at most
// `server_chunk` bytes; faults can be injected into the next replies.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velkaro_test {

struct fake_write_t {
    int32_t flags = 0;
    std::string data;
    uint32_t io_timeout = 0;
};

enum class fake_fault_t {
    none,
    silent,               // no reply at all
    close_mid_reply,      // half a record, then the connection closes
    close_before_reply,   // the connection closes without a reply
    garbage_record,       // a well-framed record that is not an RPC reply
    huge_record_length,   // a record mark announcing 2 GiB, then nothing
    lying_opaque_length,  // device_read data length far beyond the record
    truncated_results,    // an accepted reply whose results stop early
    error15,              // waits io_timeout, then device error 15 (I/O time-out)
    stale_xid_first,      // an answer with another xid before the real one
    denied,               // MSG_DENIED
    prog_unavail,         // accepted, PROG_UNAVAIL
    multi_fragment,       // the correct reply split into 3-byte fragments
    extra_data,           // device_read answers more bytes than requested
    late_reply,           // the answer is sent 600 ms late (after the client gave up)
    endless,              // device_read hands out filler bytes and never sets END
};

class fake_vxi11_server_t {
public:
    fake_vxi11_server_t();
    ~fake_vxi11_server_t();
    fake_vxi11_server_t(const fake_vxi11_server_t&) = delete;
    fake_vxi11_server_t& operator=(const fake_vxi11_server_t&) = delete;

    bool ok() const { return m_pm_listen >= 0 && m_core_listen >= 0; }
    uint16_t portmapper_port() const { return m_pm_port; }
    uint16_t core_port() const { return m_core_port; }
    std::string resource() const { return "TCPIP0::127.0.0.1::inst0::INSTR"; }
    // Points VELKARO_VXI11_PORTMAPPER_PORT at this server's portmapper.
    void use_portmapper() const;

    void set_max_recv_size(uint32_t v);
    void set_server_chunk(uint32_t v);
    void set_reply(const std::string& bytes);
    // Called with each complete message (END seen); its result is queued as the reply.
    void set_responder(std::function<std::string(const std::string&)> f);
    // Called with each complete message before the responder; once it says yes, every
    // later device_read gets the endless fault.
    void set_endless_when(std::function<bool(const std::string&)> f);
    // The next `count` device_read (or device_write) calls get `fault`; -1 = all.
    void set_read_fault(fake_fault_t fault, int count = 1);
    void set_write_fault(fake_fault_t fault, int count = 1);
    void set_read_delay_ms(int ms);
    void set_create_link_error(int32_t e);
    void set_getport_answer(int port);  // -1: the core port
    void set_honour_termchar(bool on);

    std::vector<fake_write_t> writes() const;
    int read_calls() const { return m_read_calls.load(); }
    int destroy_calls() const { return m_destroy_calls.load(); }
    int create_calls() const { return m_create_calls.load(); }

private:
    void _accept_loop();
    void _serve(int fd, bool portmapper);
    bool _sleep_ms(int ms) const;  // false when stopping
    fake_fault_t _take_fault(fake_fault_t& slot, int& count);

    int m_pm_listen = -1;
    int m_core_listen = -1;
    uint16_t m_pm_port = 0;
    uint16_t m_core_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::mutex m_threads_mutex;  // guards m_threads
    std::vector<std::thread> m_threads;

    mutable std::mutex m_mutex;  // guards the device state below
    uint32_t m_max_recv_size = 1024;
    uint32_t m_server_chunk = 1U << 24;
    std::string m_reply;
    std::string m_incoming;
    std::function<std::string(const std::string&)> m_responder;
    std::function<bool(const std::string&)> m_endless_when;
    fake_fault_t m_read_fault = fake_fault_t::none;
    int m_read_fault_count = 0;
    fake_fault_t m_write_fault = fake_fault_t::none;
    int m_write_fault_count = 0;
    int m_read_delay_ms = 0;
    int32_t m_create_link_error = 0;
    int m_getport_answer = -1;
    bool m_honour_termchar = true;
    std::vector<fake_write_t> m_writes;
    std::atomic<int> m_read_calls{0};
    std::atomic<int> m_destroy_calls{0};
    std::atomic<int> m_create_calls{0};
};

// Listens on 127.0.0.1 (ephemeral port); returns the fd and the port, -1 on failure.
int listen_loopback(uint16_t& port);

}  // namespace velkaro_test
