// The link engine against the simulator: every VISA operation runs on the engine's
// thread, long replies arrive in several reads, and repeated failures of one engine
// (and only of that engine) raise one link-lost notification.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "remote/remote_main.h"
#include "support/sim_process.h"
#include "visa/visa.h"

namespace {

using velkaro_test::sim_process_t;

constexpr unsigned long invalid_session = 0x7FFFFFF0UL;  // never handed out by open()

bool ends_with_newline(const std::string& text) { return !text.empty() && text.back() == '\n'; }

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// Counts notifications and remembers the name of the thread that delivered them.
struct notify_probe_t {
    std::mutex mutex;
    int link_lost = 0;
    std::string thread_name;

    std::function<void(plib_remote_notify_t)> callback() {
        return [this](plib_remote_notify_t notify) {
            char name[32] = {};
            pthread_getname_np(pthread_self(), name, sizeof(name));
            std::lock_guard<std::mutex> lock(mutex);
            if (notify == remote_notify_link_lost) ++link_lost;
            thread_name = name;
        };
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex);
        return link_lost;
    }
};

// One simulator for the tests that do not change its state.
class remote_link_test : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        velkaro_test::use_test_portmapper_port();
        s_sim = new sim_process_t("VXA-2");
    }
    static void TearDownTestSuite() {
        delete s_sim;
        s_sim = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_sim->ok()) << "simulator did not start"; }

    static sim_process_t* s_sim;
    remote_main_t m_link;
};
sim_process_t* remote_link_test::s_sim = nullptr;

TEST(remote_status_text_test, known_statuses_have_their_text_and_others_unknown_error) {
    struct row_t {
        unsigned status;
        const char* text;
    };
    const row_t rows[] = {
        {0x00000000U, "success"},
        {0xBFFF000EU, "The given session reference is invalid."},
        {0xBFFF0067U,
         "The given sesn does not support this operation. For VISA, this operation is supported "
         "only by the Default Resource Manager session."},
        {0xBFFF0012U, "Invalid resource reference specified. Parsing error."},
        {0xBFFF0011U, "Insufficient location information or resource not present in the system."},
        {0xBFFF003CU, "Insufficient system resources to parse the string."},
        {0xBFFF009EU, "A code library required by VISA could not be located or loaded."},
        {0xBFFF00A5U, "The interface type is valid, but the specified interface number is not configured."},
        {0xBFFF0015U, "unknown error"},  // time-out: not in the table
        {0x3FFF0006U, "unknown error"},
        {0xFFFFFFFFU, "unknown error"},
    };
    for (const auto& row : rows)
        EXPECT_STREQ(remote_status_text(static_cast<int>(row.status)), row.text) << std::hex << row.status;
}

TEST_F(remote_link_test, open_query_identification_and_close) {
    struct row_t {
        const char* kind;
        std::string resource;
    };
    const row_t rows[] = {{"VXI-11", s_sim->instr_resource()}, {"socket", s_sim->socket_resource()}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        unsigned long session = 0;
        ASSERT_EQ(m_link.open(row.resource, session), visa::VI_SUCCESS);
        EXPECT_NE(session, 0UL);
        std::string reply = "stale";
        const int status = m_link.query(session, "*IDN?\n", reply);
        EXPECT_GE(status, 0);
        ASSERT_TRUE(ends_with_newline(reply)) << reply;
        const auto fields = split(reply.substr(0, reply.size() - 1), ',');
        ASSERT_EQ(fields.size(), 4U) << reply;
        EXPECT_EQ(fields[1], "VXA-2");
        EXPECT_EQ(m_link.close(session), visa::VI_SUCCESS);
        // The closed session is gone for good.
        EXPECT_LT(m_link.write(session, "*IDN?\n"), 0);
    }
}

TEST_F(remote_link_test, write_sends_the_bytes_unchanged) {
    unsigned long session = 0;
    ASSERT_EQ(m_link.open(s_sim->instr_resource(), session), visa::VI_SUCCESS);
    EXPECT_EQ(m_link.write(session, "SAMP:COUNT 7\n"), visa::VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(m_link.query(session, "*IDN?\n", reply), visa::VI_SUCCESS);  // the write is done
    m_link.close(session);
    int seen = 0;
    for (const auto& line : s_sim->log_lines()) {
        seen += line == "SAMP:COUNT 7";
        EXPECT_NE(line, "") << "an extra terminator was sent";
    }
    EXPECT_EQ(seen, 1);
}

TEST_F(remote_link_test, read_time_out_gives_tmo_and_an_empty_reply) {
    unsigned long session = 0;
    ASSERT_EQ(m_link.open(s_sim->instr_resource(), session), visa::VI_SUCCESS);
    testing::internal::CaptureStdout();
    const int set_status = m_link.set_timeout(session, 300);
    const std::string diagnostic = testing::internal::GetCapturedStdout();
    EXPECT_EQ(set_status, visa::VI_SUCCESS);
    EXPECT_EQ(diagnostic, "_printf_vistatus: status = success\n");
    int timeout_ms = 0;
    EXPECT_EQ(m_link.get_timeout(session, timeout_ms), visa::VI_SUCCESS);
    EXPECT_EQ(timeout_ms, 300);

    std::string reply = "left over from before";
    EXPECT_EQ(m_link.read(session, reply), visa::VI_ERROR_TMO);
    EXPECT_EQ(reply, "");
    m_link.close(session);
}

TEST_F(remote_link_test, time_out_on_an_invalid_session_prints_the_status_text) {
    testing::internal::CaptureStdout();
    const int status = m_link.set_timeout(invalid_session, 500);
    const std::string diagnostic = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, visa::VI_ERROR_INV_OBJECT);
    EXPECT_EQ(diagnostic, "_printf_vistatus: status = The given session reference is invalid.\n");
    int timeout_ms = 1234;
    EXPECT_LT(m_link.get_timeout(invalid_session, timeout_ms), 0);
    EXPECT_EQ(timeout_ms, 1234);
}

TEST_F(remote_link_test, failed_read_empties_the_reply_and_failed_query_write_leaves_it) {
    std::string reply = "unchanged";
    EXPECT_EQ(m_link.query(invalid_session, "*IDN?\n", reply), visa::VI_ERROR_INV_OBJECT);
    EXPECT_EQ(reply, "unchanged");
    EXPECT_EQ(m_link.read(invalid_session, reply), visa::VI_ERROR_INV_OBJECT);
    EXPECT_EQ(reply, "");
}

TEST_F(remote_link_test, resource_available_only_for_an_instrument_that_opens_now) {
    struct row_t {
        std::string resource;
        int available;
    };
    const row_t rows[] = {
        {s_sim->instr_resource(), 1},
        {s_sim->socket_resource(), 1},
        {"not a resource", 0},
        {"TCPIP0::", 0},
        {"", 0},
        {"TCPIP0::" + s_sim->address() + "::inst0::INSTR::extra", 0},
        // Parses, but nothing listens there.
        {"TCPIP0::127.0.0.1::1::SOCKET", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(m_link.resource_available(row.resource), row.available) << row.resource;
}

// ---- link lost --------------------------------------------------------------------

enum class io_kind_t { write, read };

struct lost_row_t {
    const char* name;
    io_kind_t kind;
    int failures_before_success;  // failures, then one success (-1: no success)
    int failures_after;           // further failures
    int notifications;
};

class remote_link_lost_test : public remote_link_test, public ::testing::WithParamInterface<lost_row_t> {};

TEST_P(remote_link_lost_test, sixth_consecutive_failure_notifies_once) {
    const lost_row_t& row = GetParam();
    notify_probe_t probe;
    m_link.set_notify_callback(probe.callback());
    unsigned long session = 0;
    ASSERT_EQ(m_link.open(s_sim->instr_resource(), session), visa::VI_SUCCESS);

    auto fail = [&] {
        std::string reply;
        const int status = row.kind == io_kind_t::write ? m_link.write(invalid_session, "*IDN?\n")
                                                        : m_link.read(invalid_session, reply);
        EXPECT_LT(status, 0);
    };
    auto succeed = [&] {
        std::string reply;
        ASSERT_EQ(m_link.write(session, "*IDN?\n"), visa::VI_SUCCESS);
        ASSERT_GE(m_link.read(session, reply), 0);
    };
    for (int i = 0; i < row.failures_before_success; ++i) fail();
    if (row.failures_before_success >= 0) succeed();
    for (int i = 0; i < row.failures_after; ++i) fail();

    EXPECT_EQ(probe.count(), row.notifications);
    if (row.notifications > 0) {
        EXPECT_EQ(probe.thread_name, "remote");
    }
    m_link.close(session);
}

INSTANTIATE_TEST_SUITE_P(table, remote_link_lost_test,
                         ::testing::Values(lost_row_t{"five_writes_then_success", io_kind_t::write, 5, 0, 0},
                                           lost_row_t{"six_writes", io_kind_t::write, -1, 6, 1},
                                           lost_row_t{"eleven_writes", io_kind_t::write, -1, 11, 1},
                                           lost_row_t{"twelve_writes", io_kind_t::write, -1, 12, 2},
                                           lost_row_t{"five_success_six", io_kind_t::write, 5, 6, 1},
                                           lost_row_t{"five_reads_then_success", io_kind_t::read, 5, 0, 0},
                                           lost_row_t{"six_reads", io_kind_t::read, -1, 6, 1},
                                           lost_row_t{"five_success_five_reads", io_kind_t::read, 5, 5, 0}),
                         [](const ::testing::TestParamInfo<lost_row_t>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(remote_link_test, write_and_read_failures_are_counted_apart) {
    notify_probe_t probe;
    m_link.set_notify_callback(probe.callback());
    std::string reply;
    for (int i = 0; i < 5; ++i) {
        m_link.write(invalid_session, "*IDN?\n");
        m_link.read(invalid_session, reply);
    }
    EXPECT_EQ(probe.count(), 0);
}

TEST_F(remote_link_test, without_callback_the_count_goes_on_until_one_is_set) {
    for (int i = 0; i < 8; ++i) m_link.write(invalid_session, "*IDN?\n");
    notify_probe_t probe;
    m_link.set_notify_callback(probe.callback());
    m_link.write(invalid_session, "*IDN?\n");  // ninth in a row: reported at once
    EXPECT_EQ(probe.count(), 1);
    m_link.set_notify_callback(nullptr);
    for (int i = 0; i < 6; ++i) m_link.write(invalid_session, "*IDN?\n");
    EXPECT_EQ(probe.count(), 1);
}

TEST_F(remote_link_test, completion_codes_other_than_success_are_not_failures) {
    // A raw socket reply ends at its line feed: VI_SUCCESS_TERM_CHAR. Counting that as a
    // failure would report a healthy socket instrument lost after six replies.
    notify_probe_t probe;
    m_link.set_notify_callback(probe.callback());
    unsigned long session = 0;
    ASSERT_EQ(m_link.open(s_sim->socket_resource(), session), visa::VI_SUCCESS);
    std::string reply;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(m_link.write(session, "*IDN?\n"), visa::VI_SUCCESS);
        EXPECT_EQ(m_link.read(session, reply), visa::VI_SUCCESS_TERM_CHAR);
    }
    EXPECT_EQ(probe.count(), 0);
    m_link.close(session);
}

TEST(remote_link_engines_test, dead_instrument_counts_only_against_its_own_engine) {
    velkaro_test::use_test_portmapper_port();
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    remote_main_t dead_link;
    remote_main_t healthy_link;
    notify_probe_t dead_probe;
    notify_probe_t healthy_probe;
    dead_link.set_notify_callback(dead_probe.callback());
    healthy_link.set_notify_callback(healthy_probe.callback());
    unsigned long session = 0;
    ASSERT_EQ(healthy_link.open(sim.instr_resource(), session), visa::VI_SUCCESS);

    // Both engines at the same time: five failures on one, one on the other.
    std::thread dead_thread([&] {
        for (int i = 0; i < 5; ++i) dead_link.write(invalid_session, "*IDN?\n");
    });
    std::string reply;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(healthy_link.query(session, "*IDN?\n", reply), 0);
    dead_thread.join();
    EXPECT_LT(healthy_link.write(invalid_session, "*IDN?\n"), 0);
    EXPECT_EQ(dead_probe.count(), 0);
    EXPECT_EQ(healthy_probe.count(), 0);
    // The sixth failure of the dead engine is its own.
    dead_link.write(invalid_session, "*IDN?\n");
    EXPECT_EQ(dead_probe.count(), 1);
    EXPECT_EQ(healthy_probe.count(), 0);
    healthy_link.close(session);
}

}  // namespace

namespace {

// Parses "#<n><length>" at the start of a block; -1 when the header is malformed.
long block_length(const std::string& reply, std::size_t& header_size) {
    if (reply.size() < 2 || reply[0] != '#' || reply[1] < '1' || reply[1] > '9') return -1;
    const std::size_t digits = static_cast<std::size_t>(reply[1] - '0');
    if (reply.size() < 2 + digits) return -1;
    long length = 0;
    for (std::size_t i = 2; i < 2 + digits; ++i) {
        if (reply[i] < '0' || reply[i] > '9') return -1;
        length = length * 10 + (reply[i] - '0');
    }
    header_size = 2 + digits;
    return length;
}

TEST(remote_link_block_test, long_reply_is_completed_by_appended_reads) {
    velkaro_test::use_test_portmapper_port();
    sim_process_t sim("VXA-2", {"--fast"});  // readings at 1,000,000 per second
    ASSERT_TRUE(sim.ok());
    remote_main_t link;
    unsigned long session = 0;
    ASSERT_EQ(link.open(sim.instr_resource(), session), visa::VI_SUCCESS);
    constexpr int readings = 100000;  // about 1.6 MB of text: two full reads and a rest
    ASSERT_EQ(link.write(session, "SAMP:COUNT " + std::to_string(readings) + "\n"), 0);
    ASSERT_EQ(link.write(session, "TRIG:COUNT 1\n"), 0);
    ASSERT_EQ(link.write(session, "INIT\n"), 0);
    // The instrument stops by itself after the last reading (about 0.1 s): ask how many
    // readings its memory holds until all are there (bounded by count, not by the clock).
    std::string points;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(link.query(session, "DATA:POIN?\n", points), visa::VI_SUCCESS);
        if (points == std::to_string(readings) + "\n") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(points, std::to_string(readings) + "\n") << "the measurement did not complete";

    std::string reply;
    int status = link.query(session, "R?\n", reply);
    ASSERT_EQ(status, visa::VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(reply.size(), remote_main_t::read_buffer_size);
    int reads = 1;
    std::string more;
    while (status == visa::VI_SUCCESS_MAX_CNT && reads < 100) {
        status = link.read(session, more);
        reply += more;
        ++reads;
    }
    EXPECT_EQ(status, visa::VI_SUCCESS);
    EXPECT_GE(reads, 3);

    std::size_t header_size = 0;
    const long length = block_length(reply, header_size);
    ASSERT_GT(length, 800000);
    ASSERT_EQ(reply.size(), static_cast<std::size_t>(length) + header_size + 1);
    EXPECT_EQ(reply.back(), '\n');
    const auto values = split(reply.substr(header_size, static_cast<std::size_t>(length)), ',');
    EXPECT_EQ(values.size(), static_cast<std::size_t>(readings));
    // The block took every reading: the memory is empty and no more come.
    ASSERT_EQ(link.query(session, "DATA:POIN?\n", points), visa::VI_SUCCESS);
    EXPECT_EQ(points, "0\n");
    link.close(session);
}

TEST(remote_link_drop_test, instrument_that_drops_the_link_is_reported_lost_once) {
    velkaro_test::use_test_portmapper_port();
    sim_process_t sim("VXA-2", {"--drop-after", "2"});
    ASSERT_TRUE(sim.ok());
    remote_main_t link;
    notify_probe_t probe;
    link.set_notify_callback(probe.callback());
    unsigned long session = 0;
    ASSERT_EQ(link.open(sim.instr_resource(), session), visa::VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(link.query(session, "*IDN?\n", reply), visa::VI_SUCCESS);
    EXPECT_EQ(link.write(session, "*RST\n"), visa::VI_SUCCESS);
    // The instrument has gone away: every further write fails.
    for (int i = 0; i < 6; ++i) {
        EXPECT_LT(link.write(session, "*IDN?\n"), 0) << "write " << i;
        EXPECT_EQ(probe.count(), i == 5 ? 1 : 0) << "after failed write " << i;
    }
    link.close(session);
}

}  // namespace

// After the failure rule has declared a session lost, every further write and read on
// it fails at once (no I/O, no time-out to wait out) and still counts, until the
// session is closed; a fresh session works again.
TEST_F(remote_link_test, a_lost_session_fails_at_once_until_it_is_closed) {
    notify_probe_t probe;
    m_link.set_notify_callback(probe.callback());
    unsigned long session = 0;
    ASSERT_EQ(m_link.open(s_sim->instr_resource(), session), visa::VI_SUCCESS);
    std::string reply;
    for (int i = 0; i < 6; ++i) EXPECT_LT(m_link.write(invalid_session, "*IDN?\n"), 0);
    EXPECT_EQ(probe.count(), 1);
    // The healthy session is not touched by another session's rule.
    ASSERT_EQ(m_link.query(session, "*IDN?\n", reply), visa::VI_SUCCESS);
    // The lost session: refused with the lost-link status, still counted.
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(m_link.write(invalid_session, "*IDN?\n"), visa::VI_ERROR_CONN_LOST);
    }
    EXPECT_EQ(probe.count(), 2);
    EXPECT_EQ(m_link.read(invalid_session, reply), visa::VI_ERROR_CONN_LOST);
    EXPECT_TRUE(reply.empty());
    m_link.close(session);
}

// The console's reads do not count toward the rule: an idle console that reads an
// instrument with nothing to say never declares it lost.
TEST_F(remote_link_test, console_reads_do_not_count_toward_the_failure_rule) {
    notify_probe_t probe;
    m_link.set_notify_callback(probe.callback());
    std::string reply;
    for (int i = 0; i < 12; ++i) EXPECT_LT(m_link.console_read(invalid_session, reply), 0);
    EXPECT_EQ(probe.count(), 0);
    for (int i = 0; i < 6; ++i) EXPECT_LT(m_link.read(invalid_session, reply), 0);
    EXPECT_EQ(probe.count(), 1);  // the link's own reads still do
}

// Once the program lets go of the instrument, every later open, write and read fails at
// once with the lost-link status and does not count toward the rule; close still works.
TEST_F(remote_link_test, shut_down_io_fails_every_later_call_at_once) {
    notify_probe_t probe;
    m_link.set_notify_callback(probe.callback());
    unsigned long session = 0;
    ASSERT_EQ(m_link.open(s_sim->instr_resource(), session), visa::VI_SUCCESS);
    m_link.shut_down_io();
    std::string reply = "old";
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(m_link.write(session, "*IDN?\n"), visa::VI_ERROR_CONN_LOST);
        EXPECT_EQ(m_link.query(session, "*IDN?\n", reply), visa::VI_ERROR_CONN_LOST);
        EXPECT_EQ(m_link.read(session, reply), visa::VI_ERROR_CONN_LOST);
        EXPECT_TRUE(reply.empty());
    }
    EXPECT_EQ(probe.count(), 0);
    unsigned long other = 0;
    EXPECT_EQ(m_link.open(s_sim->instr_resource(), other), visa::VI_ERROR_CONN_LOST);
    EXPECT_EQ(m_link.close(session), visa::VI_SUCCESS);
}
