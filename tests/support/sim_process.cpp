// Starts vx_sim with posix_spawn and reads its ready line through a pipe. Every wait is
// bounded so a broken simulator fails the test instead of hanging it.
#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

#ifndef VELKARO_SIM_PATH
#define VELKARO_SIM_PATH "vx_sim"
#endif

namespace velkaro_test {
namespace {

constexpr int start_attempts = 8;
constexpr auto ready_timeout = std::chrono::seconds(10);
constexpr auto stop_timeout = std::chrono::seconds(3);
constexpr int exit_code_bind_failed = 2;

std::string random_loopback_address()
{
    static std::mt19937 rng{std::random_device{}()};
    std::uniform_int_distribution<int> a(16, 254);
    std::uniform_int_distribution<int> bc(1, 254);
    return "127." + std::to_string(a(rng)) + "." + std::to_string(bc(rng)) + "." + std::to_string(bc(rng));
}

// Parses "vx_sim ready <address> portmapper=<p> vxi11=<p> socket=<p>".
bool parse_ready_line(const std::string& line, std::string& address, int& pm, int& vxi11, int& sock)
{
    std::istringstream in(line);
    std::string w1, w2, a, p1, p2, p3;
    if (!(in >> w1 >> w2 >> a >> p1 >> p2 >> p3) || w1 != "vx_sim" || w2 != "ready") {
        return false;
    }
    auto value_of = [](const std::string& field, const char* key, int& out) {
        const std::string prefix = std::string(key) + "=";
        if (field.compare(0, prefix.size(), prefix) != 0) {
            return false;
        }
        try {
            out = std::stoi(field.substr(prefix.size()));
        } catch (...) {
            return false;
        }
        return out > 0 && out < 65536;
    };
    address = a;
    return value_of(p1, "portmapper", pm) && value_of(p2, "vxi11", vxi11) && value_of(p3, "socket", sock);
}

}  // namespace

void use_test_portmapper_port()
{
    ::setenv("VELKARO_VXI11_PORTMAPPER_PORT", std::to_string(test_portmapper_port).c_str(), 1);
}

sim_process_t::sim_process_t(const std::string& model, std::vector<std::string> extra_args)
{
    char tmpl[] = "/tmp/velkaro_sim_XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("sim_process_t: mkdtemp");
        return;
    }
    m_temp_dir = tmpl;
    m_log_path = m_temp_dir + "/commands.log";
    for (int attempt = 0; attempt < start_attempts && !m_ok; ++attempt) {
        bool bind_failed = false;
        if (_start_once(random_loopback_address(), model, extra_args, bind_failed)) {
            m_ok = true;
        } else if (!bind_failed) {
            break;
        }
    }
}

sim_process_t::~sim_process_t()
{
    _stop();
    if (!m_temp_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_temp_dir, ec);
    }
}

bool sim_process_t::_start_once(const std::string& address, const std::string& model,
                                const std::vector<std::string>& extra_args, bool& bind_failed)
{
    bind_failed = false;
    std::vector<std::string> args = {VELKARO_SIM_PATH,  "--model",           model,
                                     "--address",       address,            "--portmapper-port",
                                     std::to_string(test_portmapper_port), "--socket-port",
                                     "5025",            "--log",            m_log_path};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::perror("sim_process_t: pipe2");
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        std::fprintf(stderr, "sim_process_t: cannot start %s (error %d)\n", argv[0], rc);
        ::close(fds[0]);
        return false;
    }
    m_pid = pid;
    m_exit_code = -1;

    std::string line;
    bool got_line = false;
    const auto deadline = std::chrono::steady_clock::now() + ready_timeout;
    while (!got_line) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd pfd{fds[0], POLLIN, 0};
        const int n = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (n <= 0) {
            continue;
        }
        char buf[256];
        const ssize_t got = ::read(fds[0], buf, sizeof buf);
        if (got <= 0) {
            break;  // the simulator closed its output: it ended
        }
        for (ssize_t i = 0; i < got && !got_line; ++i) {
            if (buf[i] == '\n') {
                got_line = true;
            } else if (line.size() < 1024) {
                line.push_back(buf[i]);
            }
        }
    }
    // Nothing else is read from the simulator's output; it ignores SIGPIPE.
    ::close(fds[0]);

    std::string ready_address;
    if (got_line && parse_ready_line(line, ready_address, m_portmapper_port, m_vxi11_port, m_socket_port)) {
        m_address = ready_address;
        return true;
    }
    _stop();
    bind_failed = (m_exit_code == exit_code_bind_failed);
    if (!bind_failed) {
        std::fprintf(stderr, "sim_process_t: simulator did not become ready (exit code %d, line \"%s\")\n",
                     m_exit_code, line.c_str());
    }
    return false;
}

void sim_process_t::_stop()
{
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + stop_timeout;
    pid_t done = 0;
    while ((done = ::waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        std::fprintf(stderr, "sim_process_t: simulator %d ignored SIGTERM, killing it\n", m_pid);
        ::kill(m_pid, SIGKILL);
        done = ::waitpid(m_pid, &status, 0);
    }
    if (done == m_pid) {
        m_exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    m_pid = -1;
    m_ok = false;
}

bool sim_process_t::ok() const { return m_ok; }
const std::string& sim_process_t::address() const { return m_address; }
int sim_process_t::portmapper_port() const { return m_portmapper_port; }
int sim_process_t::vxi11_port() const { return m_vxi11_port; }
int sim_process_t::socket_port() const { return m_socket_port; }
int sim_process_t::pid() const { return m_pid; }

std::string sim_process_t::instr_resource() const { return "TCPIP0::" + m_address + "::inst0::INSTR"; }

std::string sim_process_t::socket_resource() const
{
    return "TCPIP0::" + m_address + "::" + std::to_string(m_socket_port) + "::SOCKET";
}

std::string sim_process_t::log_path() const { return m_log_path; }

std::vector<std::string> sim_process_t::log_lines() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_log_path);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace velkaro_test
