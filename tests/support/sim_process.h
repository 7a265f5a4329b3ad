// Launches the instrument simulator vx_sim for a test and tears it down again.
// Every simulator gets its own random loopback address, so tests running at the
// same time never compete for ports.
#pragma once

#include <string>
#include <vector>

namespace velkaro_test {

constexpr int test_portmapper_port = 11111;

// Sets VELKARO_VXI11_PORTMAPPER_PORT=11111 for this process (call before opening VXI-11 resources).
void use_test_portmapper_port();

// Starts build/bin/vx_sim (VELKARO_SIM_PATH) on a random loopback address 127.a.b.c (never 127.0.0.1),
// portmapper port 11111, raw socket port 5025, with a --log file in a fresh temp dir; waits (bounded, 10 s)
// for its "vx_sim ready ..." line; retries another address if the bind fails. The destructor sends SIGTERM,
// waits (bounded), SIGKILLs if needed, and removes the temp dir.
// extra_args come after the defaults, so they may override them (e.g. "--portmapper-port", "111").
class sim_process_t {
public:
    explicit sim_process_t(const std::string& model = "VXA-2", std::vector<std::string> extra_args = {});
    ~sim_process_t();
    sim_process_t(const sim_process_t&) = delete;
    sim_process_t& operator=(const sim_process_t&) = delete;

    bool ok() const;                         // started and ready
    const std::string& address() const;      // e.g. "127.31.7.201"
    int portmapper_port() const;
    int vxi11_port() const;
    int socket_port() const;
    int pid() const;
    std::string instr_resource() const;      // "TCPIP0::<address>::inst0::INSTR"
    std::string socket_resource() const;     // "TCPIP0::<address>::<socket port>::SOCKET"
    std::string log_path() const;
    std::vector<std::string> log_lines() const;  // every command received, one per line, "\n" stripped

    // Exit status of a simulator that already ended (e.g. after a failed start); -1 while it runs.
    int exit_code() const { return m_exit_code; }

private:
    bool _start_once(const std::string& address, const std::string& model,
                     const std::vector<std::string>& extra_args, bool& bind_failed);
    void _stop();

    bool m_ok = false;
    std::string m_address;
    int m_portmapper_port = 0;
    int m_vxi11_port = 0;
    int m_socket_port = 0;
    int m_pid = -1;
    int m_exit_code = -1;
    std::string m_temp_dir;
    std::string m_log_path;
};

}  // namespace velkaro_test
