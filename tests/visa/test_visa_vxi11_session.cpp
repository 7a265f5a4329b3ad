// The VXI-11 session against a scripted server: read loop, chunked writes,
// time-outs and every kind of broken reply.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "support/fake_vxi11_server.h"
#include "visa/visa_session_vxi11.h"
#include "visa_test_util.h"

using namespace visa;
using velkaro_test::fake_fault_t;
using velkaro_test::fake_vxi11_server_t;
using velkaro_test::ms_since;

namespace {

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7) % 26);
    return s;
}

class visa_vxi11_test : public velkaro_test::visa_rm_fixture_t {
protected:
    void SetUp() override {
        visa_rm_fixture_t::SetUp();
        ASSERT_TRUE(m_server.ok());
        m_server.use_portmapper();
    }
    void TearDown() override {
        if (m_vi != VI_NULL) {
            EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
        }
        visa_rm_fixture_t::TearDown();
    }
    void open_instr(ViUInt32 tmo_ms = 2000) {
        ASSERT_EQ(viOpen(m_rm, m_server.resource().c_str(), VI_NULL, 0, &m_vi), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, tmo_ms), VI_SUCCESS);
    }

    fake_vxi11_server_t m_server;
    ViSession m_vi = VI_NULL;
};

}  // namespace

TEST_F(visa_vxi11_test, query_round_trip) {
    m_server.set_responder(
        [](const std::string& msg) { return msg == "*IDN?\n" ? "MAKER,VXA-2,1,1.0\n" : ""; });
    open_instr();
    ViUInt32 n = 0;
    EXPECT_EQ(write(m_vi, "*IDN?\n", &n), VI_SUCCESS);
    EXPECT_EQ(n, 6u);
    std::string reply;
    EXPECT_EQ(read(m_vi, reply, 800000), VI_SUCCESS);
    EXPECT_EQ(reply, "MAKER,VXA-2,1,1.0\n");
    ASSERT_EQ(m_server.writes().size(), 1u);
    EXPECT_EQ(m_server.writes()[0].flags & vxi11_flag_end, vxi11_flag_end);
}

TEST_F(visa_vxi11_test, read_loop_keeps_data_and_end_over_many_chunk_sizes) {
    open_instr();
    // Server buffer sizes around the reply length, including exact divisors, so the
    // reply is sometimes an exact multiple of the chunk (END must not be lost).
    const size_t reply_len = 3072;
    const uint32_t chunks[] = {1, 7, 512, 1023, 1024, 1025, 1536, 3071, 3072, 3073, 65536};
    for (uint32_t chunk : chunks) {
        m_server.set_server_chunk(chunk);
        const std::string data = pattern(reply_len);
        m_server.set_reply(data);
        std::string got;
        EXPECT_EQ(read(m_vi, got, 800000), VI_SUCCESS) << chunk;
        EXPECT_EQ(got, data) << chunk;
    }
}

TEST_F(visa_vxi11_test, caller_buffer_filling_first_gives_max_cnt_and_keeps_the_rest) {
    open_instr();
    struct case_t {
        size_t reply;
        ViUInt32 count;
        uint32_t server_chunk;
    } cases[] = {{25, 10, 1 << 20}, {20, 10, 1 << 20}, {20, 10, 3}, {10, 10, 1 << 20}, {1, 1, 1}};
    for (const auto& c : cases) {
        const std::string data = pattern(c.reply);
        m_server.set_reply(data);
        m_server.set_server_chunk(c.server_chunk);
        std::string all, part;
        ViStatus st = VI_SUCCESS_MAX_CNT;
        int reads = 0;
        while (st == VI_SUCCESS_MAX_CNT && reads < 100) {
            st = read(m_vi, part, c.count);
            ++reads;
            all += part;
            if (st == VI_SUCCESS_MAX_CNT) {
                EXPECT_EQ(part.size(), c.count);
            }
        }
        EXPECT_EQ(st, VI_SUCCESS) << c.reply << "/" << c.count;
        EXPECT_EQ(all, data);
        EXPECT_EQ(reads, static_cast<int>((c.reply + c.count - 1) / c.count)) << "END ends the last read";
    }
}

TEST_F(visa_vxi11_test, excess_bytes_from_a_server_are_kept_for_the_next_read) {
    open_instr();
    m_server.set_reply("0123456789ABCDE");
    m_server.set_read_fault(fake_fault_t::extra_data);
    std::string a, b;
    EXPECT_EQ(read(m_vi, a, 4), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(a, "0123");
    EXPECT_EQ(read(m_vi, b, 100), VI_SUCCESS);
    EXPECT_EQ(a + b, "0123456789ABCDE");
}

TEST_F(visa_vxi11_test, termchar_ends_a_read_when_enabled) {
    open_instr();
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    // A server that ignores termchrset still ends a chunk on the character: seen here.
    for (bool server_honours : {true, false}) {
        m_server.set_honour_termchar(server_honours);
        m_server.set_server_chunk(5);
        m_server.set_reply("line\nmore");
        std::string got;
        EXPECT_EQ(read(m_vi, got, 100), VI_SUCCESS_TERM_CHAR) << server_honours;
        EXPECT_EQ(got, "line\n");
        EXPECT_EQ(read(m_vi, got, 100), VI_SUCCESS) << "END wins over a final termination character";
        EXPECT_EQ(got, "more");
    }
    m_server.set_server_chunk(1U << 20);
    m_server.set_honour_termchar(true);
    m_server.set_reply("ab\ncd\n");
    std::string got;
    EXPECT_EQ(read(m_vi, got, 100), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(got, "ab\n");
    EXPECT_EQ(read(m_vi, got, 100), VI_SUCCESS);
    EXPECT_EQ(got, "cd\n");
}

TEST_F(visa_vxi11_test, writes_above_max_recv_size_are_split_with_end_on_the_last_chunk) {
    m_server.set_max_recv_size(1024);
    open_instr();
    struct case_t {
        size_t size;
        std::vector<size_t> chunks;
    } cases[] = {{3000, {1024, 1024, 952}}, {2048, {1024, 1024}}, {1024, {1024}}, {1, {1}}, {0, {0}}};
    size_t seen = 0;
    for (const auto& c : cases) {
        const std::string data = pattern(c.size);
        ViUInt32 n = 0;
        ASSERT_EQ(write(m_vi, data, &n), VI_SUCCESS) << c.size;
        EXPECT_EQ(n, c.size);
        const auto w = m_server.writes();
        ASSERT_EQ(w.size(), seen + c.chunks.size());
        std::string joined;
        for (size_t i = 0; i < c.chunks.size(); ++i) {
            const auto& chunk = w[seen + i];
            EXPECT_EQ(chunk.data.size(), c.chunks[i]);
            const bool last = i + 1 == c.chunks.size();
            EXPECT_EQ((chunk.flags & vxi11_flag_end) != 0, last) << c.size << " chunk " << i;
            joined += chunk.data;
        }
        EXPECT_EQ(joined, data);
        seen = w.size();
    }
    // Without SEND_END_EN no chunk carries END.
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_SEND_END_EN, VI_FALSE), VI_SUCCESS);
    ASSERT_EQ(write(m_vi, pattern(1500)), VI_SUCCESS);
    const auto w = m_server.writes();
    for (size_t i = seen; i < w.size(); ++i) EXPECT_EQ(w[i].flags & vxi11_flag_end, 0);
}

TEST_F(visa_vxi11_test, huge_max_recv_size_is_capped) {
    m_server.set_max_recv_size(0xFFFFFFFFu);
    open_instr();
    ASSERT_EQ(write(m_vi, pattern(vxi11_max_write_chunk + 10)), VI_SUCCESS);
    const auto w = m_server.writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].data.size(), vxi11_max_write_chunk);
}

TEST_F(visa_vxi11_test, time_out_counts_over_the_whole_read_not_per_chunk) {
    open_instr(300);
    // 100 one-byte chunks of 40 ms each would take 4 s if every chunk had its own time-out.
    m_server.set_server_chunk(1);
    m_server.set_read_delay_ms(40);
    m_server.set_reply(pattern(100));
    const auto t0 = std::chrono::steady_clock::now();
    std::string got;
    EXPECT_EQ(read(m_vi, got, 1000), VI_ERROR_TMO);
    const auto elapsed = ms_since(t0);
    EXPECT_GE(elapsed, 280);
    EXPECT_LT(elapsed, 1500);
    EXPECT_GT(got.size(), 0u) << "bytes read before the time-out are returned";
    EXPECT_LT(got.size(), 100u);
    m_server.set_read_delay_ms(0);
}

TEST_F(visa_vxi11_test, io_timeout_sent_to_the_server_is_the_time_left) {
    open_instr(500);
    m_server.set_reply("x");
    ASSERT_EQ(write(m_vi, "abc"), VI_SUCCESS);
    const auto w = m_server.writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_LE(w[0].io_timeout, 500u);
    EXPECT_GE(w[0].io_timeout, 400u);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 0), VI_SUCCESS);
    ASSERT_EQ(write(m_vi, "abc"), VI_SUCCESS);
    EXPECT_EQ(m_server.writes().back().io_timeout, vxi11_min_io_timeout_ms) << "never below 10 ms";
}

TEST_F(visa_vxi11_test, faults_give_the_right_status_quickly) {
    struct case_t {
        fake_fault_t fault;
        ViStatus expect;
        bool connection_survives;
    } cases[] = {
        {fake_fault_t::error15, VI_ERROR_TMO, true},
        {fake_fault_t::silent, VI_ERROR_TMO, true},
        {fake_fault_t::stale_xid_first, VI_SUCCESS, true},
        {fake_fault_t::multi_fragment, VI_SUCCESS, true},
        {fake_fault_t::denied, VI_ERROR_IO, true},
        {fake_fault_t::prog_unavail, VI_ERROR_IO, true},
        {fake_fault_t::truncated_results, VI_ERROR_IO, true},
        {fake_fault_t::garbage_record, VI_ERROR_IO, false},
        {fake_fault_t::lying_opaque_length, VI_ERROR_IO, true},
        {fake_fault_t::huge_record_length, VI_ERROR_IO, false},
        {fake_fault_t::close_mid_reply, VI_ERROR_CONN_LOST, false},
        {fake_fault_t::close_before_reply, VI_ERROR_CONN_LOST, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        open_instr(300);
        m_server.set_reply("hello\n");
        m_server.set_read_fault(c.fault);
        const auto t0 = std::chrono::steady_clock::now();
        std::string got;
        EXPECT_EQ(read(m_vi, got, 100), c.expect);
        EXPECT_LT(ms_since(t0), 1500) << "returns within the time-out and its margin";
        if (c.expect == VI_SUCCESS) {
            EXPECT_EQ(got, "hello\n");
        }
        // The session stays usable after faults that leave the stream in step.
        m_server.set_reply("again\n");
        const ViStatus next = read(m_vi, got, 100);
        if (c.connection_survives) {
            EXPECT_EQ(next, VI_SUCCESS);
        } else {
            EXPECT_EQ(next, VI_ERROR_CONN_LOST);
        }
        EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
        m_vi = VI_NULL;
    }
}

TEST_F(visa_vxi11_test, a_late_answer_to_a_timed_out_read_is_skipped) {
    open_instr(200);
    m_server.set_reply("stale\n");
    m_server.set_read_fault(fake_fault_t::late_reply);
    std::string got;
    EXPECT_EQ(read(m_vi, got, 100), VI_ERROR_TMO);
    m_server.set_reply("fresh\n");
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
    EXPECT_EQ(read(m_vi, got, 100), VI_SUCCESS);
    EXPECT_EQ(got, "fresh\n") << "the stale reply (older xid) must not be taken for this one";
}

TEST_F(visa_vxi11_test, write_faults_give_the_right_status) {
    struct case_t {
        fake_fault_t fault;
        ViStatus expect;
    } cases[] = {{fake_fault_t::silent, VI_ERROR_TMO},
                 {fake_fault_t::close_mid_reply, VI_ERROR_CONN_LOST},
                 {fake_fault_t::garbage_record, VI_ERROR_IO}};
    for (const auto& c : cases) {
        open_instr(200);
        m_server.set_write_fault(c.fault);
        EXPECT_EQ(write(m_vi, "CONF:VOLT:DC\n"), c.expect) << static_cast<int>(c.fault);
        EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
        m_vi = VI_NULL;
    }
}

TEST_F(visa_vxi11_test, close_destroys_the_link) {
    open_instr();
    EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
    m_vi = VI_NULL;
    for (int i = 0; i < 100 && m_server.destroy_calls() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(m_server.destroy_calls(), 1);
}

TEST_F(visa_vxi11_test, open_failures_map_to_visa_errors) {
    struct case_t {
        const char* what;
        int getport;
        int32_t link_error;
        ViStatus expect;
    } cases[] = {
        {"core program not registered", 0, 0, VI_ERROR_RSRC_NFOUND},
        {"core port refuses", 1, 0, VI_ERROR_RSRC_NFOUND},
        {"device locked", -1, 11, VI_ERROR_RSRC_LOCKED},
        {"device not accessible", -1, 3, VI_ERROR_RSRC_NFOUND},
    };
    for (const auto& c : cases) {
        m_server.set_getport_answer(c.getport);
        m_server.set_create_link_error(c.link_error);
        ViSession vi = 12345;
        EXPECT_EQ(viOpen(m_rm, m_server.resource().c_str(), VI_NULL, 0, &vi), c.expect) << c.what;
        EXPECT_EQ(vi, VI_NULL);
    }
}

TEST_F(visa_vxi11_test, unreachable_portmapper_and_unknown_host) {
    uint16_t closed_port = 0;
    const int fd = velkaro_test::listen_loopback(closed_port);  // bound, then closed: nobody listens
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::setenv("VELKARO_VXI11_PORTMAPPER_PORT", std::to_string(closed_port).c_str(), 1);
    ViSession vi = VI_NULL;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(viOpen(m_rm, "TCPIP0::127.0.0.1::inst0::INSTR", VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
    // A name the resolver refuses without asking any server (a DNS label is at most 63
    // characters), so the test sends nothing beyond loopback.
    const std::string unknown = "TCPIP0::" + std::string(64, 'a') + "::inst0::INSTR";
    EXPECT_EQ(viOpen(m_rm, unknown.c_str(), VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(ms_since(t0), 3000);
    EXPECT_EQ(viOpen(m_rm, "TCPIP0::::inst0::INSTR", VI_NULL, 0, &vi), VI_ERROR_INV_RSRC_NAME);
}

TEST_F(visa_vxi11_test, portmapper_port_is_read_at_open_time) {
    ::setenv("VELKARO_VXI11_PORTMAPPER_PORT", "1", 1);
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(m_rm, m_server.resource().c_str(), VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
    m_server.use_portmapper();
    EXPECT_EQ(viOpen(m_rm, m_server.resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}
