// Hostile instruments and arguments against velkaro-cli: what the user gets (exit code,
// the stderr line, standard output, files) when an instrument sends control characters
// in its identification, a reply that never ends, or the arguments are not numbers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_util.h"
#include "support/fake_vxi11_server.h"
#include "support/temp_dir.h"

namespace {

using velkaro_test::process_result_t;
using velkaro_test::run_cli;
using velkaro_test::sim_process_t;
using velkaro_test::temp_dir_t;
using namespace velkaro_cli;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// One connection to a simulator's raw socket: a message goes as it is, and a message
// with a query waits (bounded) for its reply line. Used by the fronts below to be a
// working instrument until their reply stops ending.
class sim_line_client_t {
public:
    sim_line_client_t(const std::string& address, int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
            ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~sim_line_client_t() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    std::string exchange(const std::string& message) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (::send(m_fd, message.data(), message.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(message.size()))
            return {};
        if (message.find('?') == std::string::npos) return {};
        std::string reply;
        char buf[65536];
        for (int i = 0; i < 300 && reply.find('\n') == std::string::npos; ++i) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            reply.append(buf, static_cast<std::size_t>(n));
        }
        return reply;
    }

private:
    std::mutex m_mutex;  // one exchange at a time on the connection
    int m_fd = -1;
};

bool is_identification_query(const std::string& message) { return message.rfind("*IDN?", 0) == 0; }

// A raw socket "instrument" on loopback. From its `endless_from`th "*IDN?" on it answers
// with bytes that never end in a line feed (at most `limit` bytes, then it closes); before
// that it passes every line to `upstream` (when given) and sends back its reply.
class endless_socket_server_t {
public:
    explicit endless_socket_server_t(std::size_t limit, sim_line_client_t* upstream = nullptr,
                                     int endless_from = 1)
        : m_limit(limit), m_upstream(upstream), m_endless_from(endless_from) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(0x7f000001);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_fd, 4) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { _accept(); });
    }
    ~endless_socket_server_t() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        for (std::thread& t : m_connections) t.join();
        ::close(m_fd);
    }
    std::string resource() const { return "TCPIP0::127.0.0.1::" + std::to_string(m_port) + "::SOCKET"; }
    bool ok() const { return m_port != 0; }
    int identification_queries() const { return m_idn.load(); }

private:
    void _accept() {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!m_stop && std::chrono::steady_clock::now() < give_up && m_connections.size() < 16) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) m_connections.emplace_back([this, c, give_up] { _serve(c, give_up); });
        }
    }
    void _serve(int c, std::chrono::steady_clock::time_point give_up) {
        std::string pending;
        char buf[4096];
        while (!m_stop && std::chrono::steady_clock::now() < give_up) {
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t got = ::recv(c, buf, sizeof buf, 0);
            if (got <= 0) break;
            pending.append(buf, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end + 1);
                pending.erase(0, end + 1);
                if (is_identification_query(line) && ++m_idn >= m_endless_from) {
                    _send_endless(c, give_up);
                    ::close(c);
                    return;
                }
                if (m_upstream != nullptr) {
                    const std::string reply = m_upstream->exchange(line);
                    ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
                }
            }
        }
        ::close(c);
    }
    void _send_endless(int c, std::chrono::steady_clock::time_point give_up) {
        const std::string chunk(64 * 1024, 'x');
        std::size_t sent = 0;
        while (!m_stop && sent < m_limit && std::chrono::steady_clock::now() < give_up) {
            const ssize_t n = ::send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
    }
    int m_fd = -1;
    int m_port = 0;
    std::size_t m_limit;
    sim_line_client_t* m_upstream;
    int m_endless_from;
    std::atomic<int> m_idn{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<std::thread> m_connections;  // accept thread only; joined after it
};

// A reply that never ends (a stream without a line feed, VXI-11 without END) is read up
// to the command reply's limit and reported as a failure: nothing is printed as if it
// were the reply.
TEST(cli_hostile, a_reply_that_never_ends_is_an_error) {
    struct row_t {
        const char* name;
        bool vxi11;
    } rows[] = {{"raw socket", false}, {"VXI-11", true}};
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        endless_socket_server_t socket_server(64u * 1024u * 1024u);
        velkaro_test::fake_vxi11_server_t vxi11_server;
        ASSERT_TRUE(socket_server.ok() && vxi11_server.ok());
        vxi11_server.set_read_fault(velkaro_test::fake_fault_t::endless, -1);
        process_result_t r;
        if (row.vxi11) {
            vxi11_server.use_portmapper();  // inherited by the child
            r = velkaro_test::run_process(
                VELKARO_CLI_PATH, {"query", vxi11_server.resource(), "*IDN?", "--timeout", "2000"}, 60000);
            velkaro_test::use_test_portmapper_port();
            EXPECT_GT(vxi11_server.read_calls(), 1) << "the reply was read past its first piece";
        } else {
            r = run_cli({"query", socket_server.resource(), "*IDN?", "--timeout", "2000"}, 60000);
        }
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, cli_exit_link) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("the reply did not end within"), std::string::npos) << r.err;
    }
}

// The run's final identification check: an instrument that works through the whole run
// and then answers "*IDN?" with a reply that never ends fails the run with the
// lost-link code; the reply cut at the read limit is no identification.
TEST(cli_hostile, a_reply_that_never_ends_fails_the_final_identification_check_of_run) {
    struct row_t {
        const char* name;
        bool vxi11;
    } rows[] = {{"raw socket", false}, {"VXI-11", true}};
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        sim_process_t sim("VXA-2");
        ASSERT_TRUE(sim.ok());
        sim_line_client_t upstream(sim.address(), sim.socket_port());
        ASSERT_TRUE(upstream.ok());
        // The identification at connect passes; the one at the end never ends.
        endless_socket_server_t socket_server(64u * 1024u * 1024u, &upstream, 2);
        velkaro_test::fake_vxi11_server_t vxi11_server;
        ASSERT_TRUE(socket_server.ok() && vxi11_server.ok());
        std::atomic<int> idn{0};
        vxi11_server.set_responder([&](const std::string& m) { return upstream.exchange(m); });
        vxi11_server.set_endless_when(
            [&](const std::string& m) { return is_identification_query(m) && ++idn >= 2; });
        const std::string resource = row.vxi11 ? vxi11_server.resource() : socket_server.resource();

        temp_dir_t dir;
        const std::string project = dir.path() + "/bench.dmm";
        std::ofstream(project)
            << "<?xml version=\"1.0\"?>\n<root>\n<SoftwareVersion>V1.0.3</SoftwareVersion>\n"
               "<project><product_type>VXA-2</product_type><resource>"
            << resource
            << "</resource><measure><function>0</function><acq_param><record_position>1"
               "</record_position></acq_param></measure></project>\n</root>\n";
        const std::vector<std::string> args = {"run",       project,    "--time", "1",
                                               "--log-dir", dir.path(), "--json", "--no-reconnect"};
        process_result_t r;
        if (row.vxi11) {
            vxi11_server.use_portmapper();  // inherited by the child
            r = velkaro_test::run_process(VELKARO_CLI_PATH, args, 60000);
            velkaro_test::use_test_portmapper_port();
        } else {
            r = run_cli(args, 60000);
        }
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, cli_exit_link) << r.out << r.err;
        EXPECT_NE(r.err.find("gave no whole identification at the end of the run"), std::string::npos)
            << r.err;
        const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << r.out;
        ASSERT_EQ(doc["instruments"].size(), 1u) << r.out;
        EXPECT_EQ(doc["instruments"][0]["status"], "failed") << r.out;
        EXPECT_GT(doc["instruments"][0]["readings"].get<unsigned>(), 0u)
            << "the instrument worked until the end";
        EXPECT_EQ(row.vxi11 ? idn.load() : socket_server.identification_queries(), 2);
    }
}

// Control characters inside the identification never reach a file or the console as
// line breaks: identify prints four lines, the record file keeps its ten header lines,
// and the readings logged are the lines after them.
TEST(cli_hostile, control_characters_in_the_identification_stay_inside_their_line) {
    const std::string serial = "SN\n12\r34\x1b[2J";
    sim_process_t sim("VXA-2", {"--serial", serial});
    ASSERT_TRUE(sim.ok());
    const process_result_t id = run_cli({"identify", "--model", "VXA-2", sim.instr_resource()}, 60000);
    EXPECT_EQ(id.exit_code, cli_exit_ok) << id.err;
    const auto id_lines = lines_of(id.out);
    ASSERT_EQ(id_lines.size(), 4u) << id.out;
    EXPECT_EQ(id_lines[2], "serial_number: SN 12 34 [2J");

    temp_dir_t dir;
    const process_result_t m =
        run_cli({"measure", "--model", "VXA-2", "--function", "VOLT", "--count", "5", "--interval", "50",
                 "--log-dir", dir.path(), "--json", sim.instr_resource()},
                60000);
    ASSERT_EQ(m.exit_code, cli_exit_ok) << m.err;
    const nlohmann::json doc = nlohmann::json::parse(m.out);
    ASSERT_EQ(doc["files"].size(), 1u) << m.out;
    std::ifstream in(doc["files"][0].get<std::string>());
    std::stringstream text;
    text << in.rdbuf();
    const auto lines = lines_of(text.str());
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[1], "Product SRLN : SN 12 34 [2J");
    EXPECT_EQ(lines[9], "DC Voltage,Time(s)");
    EXPECT_EQ(doc["readings_logged"].get<std::size_t>(), lines.size() - 10);
    EXPECT_EQ(doc["readings_logged"].get<std::size_t>(), doc["readings"].get<std::size_t>());
}

// Arguments that pass a range check but are not numbers are refused before anything
// is opened.
TEST(cli_hostile, a_time_that_is_not_a_number_is_refused) {
    temp_dir_t dir;
    const process_result_t r = run_cli({"run", dir.path() + "/none.dmm", "--time", "nan"}, 60000);
    EXPECT_EQ(r.exit_code, cli_exit_usage) << r.err;
    EXPECT_NE(r.err.find("--time"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// Settings on the command line are checked against the model's tables before anything
// goes to the instrument: a value the model does not offer exits 2 and names the
// allowed values; the simulator never sees the command.
TEST(cli_hostile, settings_the_model_does_not_offer_are_refused) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    const struct {
        const char* option;
        const char* value;
        const char* allowed;  // one allowed value named in the message
    } cases[] = {
        {"--range", "2000V", "20V"}, {"--range", "20", "20V"}, {"--nplc", "1e999", "10"},
        {"--nplc", "1,2", "10"},     {"--nplc", "nan", "10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.value);
        const process_result_t r = run_cli({"measure", "--model", "VXA-2", "--function", "VOLT", c.option,
                                            c.value, "--count", "1", sim.instr_resource()},
                                           60000);
        EXPECT_EQ(r.exit_code, cli_exit_usage) << r.err;
        EXPECT_NE(r.err.find(std::string(c.option) + " \"" + c.value + "\" is not offered"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(c.allowed), std::string::npos) << r.err;
        for (const std::string& line : sim.log_lines()) {
            EXPECT_EQ(line.find(c.value), std::string::npos) << line;
        }
    }
}

}  // namespace

namespace {

// The record file's name comes from the instrument: a serial number longer than a file
// name may be, or one with a path separator, still gives one file in the log directory,
// whose readings are the readings logged.
TEST(cli_hostile, record_file_names_from_hostile_serial_numbers) {
    const std::string cases[] = {std::string(300, 'S'), "../../etc/x", "A/B\\C"};
    for (const std::string& serial : cases) {
        SCOPED_TRACE(serial);
        sim_process_t sim("VXA-2", {"--serial", serial});
        ASSERT_TRUE(sim.ok());
        temp_dir_t dir;
        const process_result_t m =
            run_cli({"measure", "--model", "VXA-2", "--function", "VOLT", "--count", "4", "--interval", "50",
                     "--log-dir", dir.path(), "--json", sim.instr_resource()},
                    60000);
        ASSERT_EQ(m.exit_code, cli_exit_ok) << m.err;
        const nlohmann::json doc = nlohmann::json::parse(m.out);
        ASSERT_EQ(doc["files"].size(), 1u) << m.out;
        const std::filesystem::path file = doc["files"][0].get<std::string>();
        EXPECT_EQ(file.parent_path(), std::filesystem::path(dir.path()));
        EXPECT_LE(file.filename().string().size(), 255u);
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        const auto lines = lines_of(text.str());
        ASSERT_GE(lines.size(), 10u);
        EXPECT_EQ(lines[1], "Product SRLN : " + serial);
        EXPECT_EQ(doc["readings_logged"].get<std::size_t>(), lines.size() - 10);
        EXPECT_EQ(doc["readings_logged"], doc["readings"]);
        std::size_t entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.exists() ? 1 : 0;
        EXPECT_EQ(entries, 1u);
    }
}

}  // namespace
