// Fault injection, the command log and the simulator's process life (ready line, bind
// failure, clean exit on SIGTERM).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim_test_client.h"
#include "support/sim_process.h"

extern char** environ;

using velkaro_test::sim_process_t;
using sim_test::read_result_t;
using sim_test::scpi_client_t;
using namespace std::chrono_literals;

namespace {

// Runs vx_sim directly (not through sim_process_t) and waits, bounded, for its exit code.
int run_sim_until_exit(std::vector<std::string> args, std::chrono::milliseconds run_for, bool send_term)
{
    args.insert(args.begin(), VELKARO_SIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return -1;
    }
    std::this_thread::sleep_for(run_for);
    if (send_term) {
        ::kill(pid, SIGTERM);
    }
    int status = 0;
    for (int i = 0; i < 150; ++i) {  // at most 1.5 s
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -2;  // did not end in time
}

}  // namespace

TEST(sim_process, ready_line_fills_address_and_ports)
{
    sim_process_t sim;
    ASSERT_TRUE(sim.ok());
    EXPECT_NE(sim.address(), "127.0.0.1");
    EXPECT_EQ(sim.address().rfind("127.", 0), 0u);
    EXPECT_EQ(sim.portmapper_port(), velkaro_test::test_portmapper_port);
    EXPECT_EQ(sim.socket_port(), 5025);
    EXPECT_GT(sim.vxi11_port(), 0);
    EXPECT_GT(sim.pid(), 0);
    EXPECT_EQ(sim.instr_resource(), "TCPIP0::" + sim.address() + "::inst0::INSTR");
    EXPECT_EQ(sim.socket_resource(), "TCPIP0::" + sim.address() + "::5025::SOCKET");
}

TEST(sim_process, sigterm_ends_the_simulator_with_exit_code_0)
{
    EXPECT_EQ(run_sim_until_exit({"--address", "127.0.0.77", "--portmapper-port", "0", "--socket-port", "0"}, 300ms,
                                 true),
              0);
}

TEST(sim_process, a_port_in_use_gives_exit_code_2)
{
    sim_process_t first;
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(run_sim_until_exit({"--address", first.address(), "--portmapper-port", "0"}, 0ms, false), 2);
}

TEST(sim_process, non_loopback_address_is_refused)
{
    EXPECT_EQ(run_sim_until_exit({"--address", "192.0.2.1"}, 0ms, false), 2);
}

TEST(sim_log, every_command_line_is_logged_without_its_line_feed)
{
    sim_process_t sim;
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send("*RST\nVOLT:NPLC 1\n:ROUT:LIMIT:LOW 1\n;:ROUT:LIMIT:HIGH 16\n"));
    ASSERT_FALSE(client.query("*IDN?").empty());
    const std::vector<std::string> expected = {"*RST", "VOLT:NPLC 1", ":ROUT:LIMIT:LOW 1", ";:ROUT:LIMIT:HIGH 16",
                                               "*IDN?"};
    EXPECT_EQ(sim.log_lines(), expected);
}

TEST(sim_faults, drop_after_n_commands_closes_every_link)
{
    sim_process_t sim("VXA-2", {"--drop-after", "3"});
    ASSERT_TRUE(sim.ok());
    scpi_client_t a(sim.address(), sim.socket_port());
    scpi_client_t b(sim.address(), sim.socket_port());
    EXPECT_FALSE(a.query("*IDN?").empty());
    EXPECT_FALSE(b.query("*IDN?").empty());
    EXPECT_FALSE(a.query("*IDN?").empty());  // the third command is still answered
    std::string rest;
    EXPECT_EQ(a.read_all(rest, 2s), read_result_t::closed);
    EXPECT_EQ(b.read_all(rest, 2s), read_result_t::closed);
    scpi_client_t late(sim.address(), sim.socket_port());
    if (late.connected()) {
        late.send("*IDN?\n");
        EXPECT_EQ(late.read_all(rest, 2s), read_result_t::closed);
        EXPECT_EQ(rest, "");
    }
}

TEST(sim_faults, drop_at_time_closes_links)
{
    sim_process_t sim("VXA-2", {"--drop-at", "0.3"});
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    EXPECT_FALSE(client.query("*IDN?").empty());
    std::string rest;
    EXPECT_EQ(client.read_all(rest, 3s), read_result_t::closed);
}

TEST(sim_faults, truncate_cuts_replies_without_line_feed)
{
    sim_process_t plain("VXA-2");
    sim_process_t cut("VXA-2", {"--truncate"});
    ASSERT_TRUE(plain.ok() && cut.ok());
    scpi_client_t a(plain.address(), plain.socket_port());
    scpi_client_t b(cut.address(), cut.socket_port());
    const std::string full = a.query("*IDN?");
    ASSERT_GT(full.size(), 2u);
    ASSERT_TRUE(b.send("*IDN?\n"));
    std::string partial;
    EXPECT_EQ(b.read_all(partial, 300ms), read_result_t::timeout);
    EXPECT_FALSE(partial.empty());
    EXPECT_LT(partial.size(), full.size() - 1);
    EXPECT_EQ(partial.find('\n'), std::string::npos);
    EXPECT_EQ(full.compare(0, partial.size(), partial), 0);
}

TEST(sim_faults, garbage_replaces_the_reply_but_keeps_its_frame)
{
    sim_process_t plain("VXA-2");
    sim_process_t noisy("VXA-2", {"--garbage"});
    ASSERT_TRUE(plain.ok() && noisy.ok());
    scpi_client_t a(plain.address(), plain.socket_port());
    scpi_client_t b(noisy.address(), noisy.socket_port());
    const std::string good = a.query("*IDN?");
    const std::string bad = b.query("*IDN?");
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_NE(bad, good);
    EXPECT_EQ(bad.find('\n'), bad.size() - 1);
}

TEST(sim_faults, reply_delay_holds_the_reply_back)
{
    sim_process_t sim("VXA-2", {"--reply-delay", "400"});
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send("*IDN?\n"));
    std::string line;
    EXPECT_EQ(client.read_line(line, 150ms), read_result_t::timeout);
    EXPECT_EQ(client.read_line(line, 3s), read_result_t::ok);
    EXPECT_NE(line.find("VXA-2"), std::string::npos);
}

TEST(sim_clients, several_clients_share_one_instrument)
{
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    std::vector<std::unique_ptr<scpi_client_t>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<scpi_client_t>(sim.address(), sim.socket_port()));
        ASSERT_TRUE(clients.back()->connected());
    }
    ASSERT_EQ(clients[0]->query("VOLT:NPLC 0.3;VOLT:NPLC?"), "+3.00000000E-01\n");
    std::vector<std::thread> threads;
    std::vector<std::string> replies(clients.size());
    for (size_t i = 0; i < clients.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int k = 0; k < 20; ++k) {
                replies[i] = clients[i]->query("VOLT:NPLC?");
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& r : replies) {
        EXPECT_EQ(r, "+3.00000000E-01\n");
    }
}
