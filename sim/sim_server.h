// The simulator's network side: a portmapper (TCP and UDP), the VXI-11 core channel and
// a raw SCPI socket, all bound to one loopback address and sharing one instrument.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "sim_instrument.h"
#include "sim_options.h"

namespace vx_sim {

// What every transport shares: command log, fault injection and the instrument.
class sim_front_t {
public:
    sim_front_t(const sim_options_t& options, sim_instrument_t& instrument);

    // One line as received (no "\n"): logged, counted, split at ';' and executed.
    // Returns the reply bytes (empty when nothing answers), already damaged when a fault asks for it.
    std::string process_line(const std::string& line, std::mt19937& rng);

    // Set once the instrument has "dropped off" (--drop-after, --drop-at) or the simulator shuts
    // down: links close, new ones are refused.
    const std::atomic<bool>& halted() const { return m_halted; }
    void halt() { m_halted.store(true); }
    void check_drop_time();
    int reply_delay_ms() const { return m_options.reply_delay_ms; }

private:
    void _log(const std::string& line);

    const sim_options_t& m_options;
    sim_instrument_t& m_instrument;
    std::atomic<bool> m_halted{false};
    std::atomic<long long> m_commands{0};
    // The outage of --outage-after: 0 not begun, 1 the network is down, 2 over.
    std::atomic<int> m_outage_state{0};
    std::atomic<int64_t> m_outage_end_ms{0};  // steady clock, ms since m_started
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::mutex m_log_mutex;  // guards m_log
    std::ofstream m_log;
    bool m_log_stderr = false;
};

class sim_server_t {
public:
    sim_server_t(const sim_options_t& options, sim_front_t& front);
    ~sim_server_t();

    // Creates every listener; false with a message when an address or port cannot be bound.
    bool bind_all(std::string& error);
    int portmapper_port() const { return m_pm_port; }
    int vxi11_port() const { return m_core_port; }
    int socket_port() const { return m_raw_port; }

    // Serves until `stop` is set, then closes every connection and joins its thread.
    void run(const std::atomic<bool>& stop);

private:
    enum class service_t { portmapper, core, raw };
    struct connection_t {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void _accept(int listen_fd, service_t service);
    void _reap(bool all);
    void _serve_portmapper_tcp(int fd);
    void _serve_core(int fd);
    void _serve_raw(int fd);
    void _serve_portmapper_udp();
    std::string _portmapper_reply(const std::string& record, bool& ok) const;

    const sim_options_t& m_options;
    sim_front_t& m_front;
    int m_pm_tcp = -1;
    int m_pm_udp = -1;
    int m_core = -1;
    int m_raw = -1;
    int m_pm_port = 0;
    int m_core_port = 0;
    int m_raw_port = 0;
    // Replies already produced are still sent after a drop; only shutdown cuts them off.
    std::atomic<bool> m_shutdown{false};
    std::list<std::unique_ptr<connection_t>> m_connections;  // touched by the serving thread only
    std::atomic<int32_t> m_next_link_id{1};
};

}  // namespace vx_sim
