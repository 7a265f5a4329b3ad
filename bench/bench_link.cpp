// Query round trips and block throughput of our VISA layer against the simulator,
// through the link engine and directly through visa::viWrite/viRead.
//
// By default the benchmark starts its own vx_sim (fast readings, portmapper port 11111)
// on 127.0.0.77. With VELKARO_BENCH_SIM_ADDRESS set it uses a simulator that is already
// running there instead (bench/compare_lxi.sh does so, to compare against lxi on the
// same instrument); the portmapper port then comes from VELKARO_VXI11_PORTMAPPER_PORT.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "remote/remote_main.h"
#include "visa/visa.h"

extern char** environ;

namespace {

constexpr const char* own_sim_address = "127.0.0.77";
constexpr const char* own_portmapper_port = "11111";
constexpr int block_readings = 625000;  // 16 bytes each in the reply: a 10 MB block

// The simulator for the whole run: either ours (started once) or the caller's.
class bench_sim_t {
public:
    bench_sim_t() {
        if (const char* address = std::getenv("VELKARO_BENCH_SIM_ADDRESS")) {
            m_address = address;
            m_ok = true;
            return;
        }
        setenv("VELKARO_VXI11_PORTMAPPER_PORT", own_portmapper_port, 1);
        m_address = own_sim_address;
        std::vector<std::string> args = {
            VELKARO_SIM_PATH,    "--model",           "VXA-2",         "--address", m_address,
            "--portmapper-port", own_portmapper_port, "--socket-port", "5025",      "--fast"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            m_pid = -1;
            return;
        }
        // Bounded wait for the ready line.
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        char c = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{fds[0], POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) continue;
            if (read(fds[0], &c, 1) != 1 || c == '\n') break;
            line.push_back(c);
        }
        close(fds[0]);
        m_ok = line.rfind("vx_sim ready", 0) == 0;
        if (!m_ok) std::fprintf(stderr, "bench_link: vx_sim did not start: \"%s\"\n", line.c_str());
    }
    ~bench_sim_t() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, WNOHANG);
    }
    bool ok() const { return m_ok; }
    std::string instr_resource() const { return "TCPIP0::" + m_address + "::inst0::INSTR"; }

private:
    std::string m_address;
    pid_t m_pid = -1;
    bool m_ok = false;
};

bench_sim_t& sim() {
    static bench_sim_t instance;
    return instance;
}

// Query through the link engine: write, the engine's fixed 10 ms pause, read.
void BM_link_query_idn(benchmark::State& state) {
    if (!sim().ok()) return state.SkipWithError("no simulator");
    remote_main_t link;
    unsigned long session = 0;
    if (link.open(sim().instr_resource(), session) != 0) return state.SkipWithError("open");
    std::string reply;
    for (auto _ : state) {
        if (link.query(session, "*IDN?\n", reply) != 0) return state.SkipWithError("query");
    }
    state.SetItemsProcessed(state.iterations());
    link.close(session);
}
BENCHMARK(BM_link_query_idn)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Write then read through the link engine without the query pause: the engine's own cost.
void BM_link_write_read_idn(benchmark::State& state) {
    if (!sim().ok()) return state.SkipWithError("no simulator");
    remote_main_t link;
    unsigned long session = 0;
    if (link.open(sim().instr_resource(), session) != 0) return state.SkipWithError("open");
    std::string reply;
    for (auto _ : state) {
        if (link.write(session, "*IDN?\n") != 0 || link.read(session, reply) != 0)
            return state.SkipWithError("write/read");
    }
    state.SetItemsProcessed(state.iterations());
    link.close(session);
}
BENCHMARK(BM_link_write_read_idn)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The VISA layer alone, on the calling thread.
void BM_visa_write_read_idn(benchmark::State& state) {
    if (!sim().ok()) return state.SkipWithError("no simulator");
    visa::ViSession rm = 0;
    visa::ViSession session = 0;
    if (visa::viOpenDefaultRM(&rm) != 0) return state.SkipWithError("default RM");
    if (visa::viOpen(rm, sim().instr_resource().c_str(), 0, 0, &session) != 0) {
        visa::viClose(rm);
        return state.SkipWithError("open");
    }
    const std::string command = "*IDN?\n";
    unsigned char buffer[256];
    for (auto _ : state) {
        visa::ViUInt32 count = 0;
        if (visa::viWrite(session, reinterpret_cast<visa::ViConstBuf>(command.data()),
                          static_cast<visa::ViUInt32>(command.size()), &count) != 0 ||
            visa::viRead(session, buffer, sizeof(buffer), &count) != 0) {
            visa::viClose(rm);
            return state.SkipWithError("write/read");
        }
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations());
    visa::viClose(session);
    visa::viClose(rm);
}
BENCHMARK(BM_visa_write_read_idn)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Reading a 10 MB "R?" block through the link engine, completed over several reads the
// way the drivers do. Only the fetch is timed, not the instrument filling its memory.
// transfer_bytes_per_second leaves out the first read, which also waits for the
// simulator to format the reply: it is the rate of the link and VISA layer alone.
void BM_link_read_10mb_block(benchmark::State& state) {
    if (!sim().ok()) return state.SkipWithError("no simulator");
    remote_main_t link;
    unsigned long session = 0;
    if (link.open(sim().instr_resource(), session) != 0) return state.SkipWithError("open");
    link.set_timeout(session, 20000);
    std::string reply;
    std::string more;
    double bytes = 0;
    double transfer_bytes = 0;
    double transfer_seconds = 0;
    for (auto _ : state) {
        link.write(session, "SAMP:COUNT " + std::to_string(block_readings) + "\n");
        link.write(session, "TRIG:COUNT 1\n");
        link.write(session, "INIT\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(800));  // 0.625 s of readings
        link.query(session, "*IDN?\n", more);  // lets the simulator produce the readings now

        const auto start = std::chrono::steady_clock::now();
        int status = link.write(session, "R?\n");
        if (status == 0) status = link.read(session, reply);
        const auto first_read = std::chrono::steady_clock::now();
        const std::size_t first_size = reply.size();
        for (int i = 0; status == visa::VI_SUCCESS_MAX_CNT && i < 1000; ++i) {
            status = link.read(session, more);
            reply += more;
        }
        const auto end = std::chrono::steady_clock::now();
        if (status != 0 || reply.size() < 10000000) return state.SkipWithError("short block");
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        bytes += static_cast<double>(reply.size());
        transfer_bytes += static_cast<double>(reply.size() - first_size);
        transfer_seconds += std::chrono::duration<double>(end - first_read).count();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    if (transfer_seconds > 0) state.counters["transfer_bytes_per_second"] = transfer_bytes / transfer_seconds;
    link.close(session);
}
BENCHMARK(BM_link_read_10mb_block)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
