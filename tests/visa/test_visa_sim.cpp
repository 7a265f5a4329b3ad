// Our VISA layer against the instrument simulator vx_sim: VXI-11 and raw socket
// queries, a block larger than one read, time-out, a dropped link, discovery.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "support/sim_process.h"
#include "visa_test_util.h"

using namespace visa;
using velkaro_test::ms_since;
using velkaro_test::sim_process_t;

namespace {

class visa_sim_test : public velkaro_test::visa_rm_fixture_t {
protected:
    void SetUp() override {
        visa_rm_fixture_t::SetUp();
        velkaro_test::use_test_portmapper_port();
    }
    ViStatus query(ViSession vi, const std::string& cmd, std::string& reply) {
        const ViStatus st = write(vi, cmd);
        if (st != VI_SUCCESS) return st;
        return read(vi, reply, 800000);
    }
};

}  // namespace

TEST_F(visa_sim_test, identification_over_vxi11_and_raw_socket) {
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    ViSession instr = VI_NULL, sock = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, sim.instr_resource().c_str(), VI_NULL, 0, &instr), VI_SUCCESS);
    ASSERT_EQ(viOpen(m_rm, sim.socket_resource().c_str(), VI_NULL, 0, &sock), VI_SUCCESS);
    std::string a, b;
    EXPECT_EQ(query(instr, "*IDN?\n", a), VI_SUCCESS);
    EXPECT_EQ(query(sock, "*IDN?\n", b), VI_SUCCESS_TERM_CHAR);
    EXPECT_NE(a.find(",VXA-2,"), std::string::npos) << a;
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.back(), '\n');
    EXPECT_EQ(a, b);
    EXPECT_EQ(viClose(instr), VI_SUCCESS);
    EXPECT_EQ(viClose(sock), VI_SUCCESS);
}

TEST_F(visa_sim_test, block_larger_than_one_read_completes_over_max_cnt) {
    sim_process_t sim("VXA-2", {"--fast"});
    ASSERT_TRUE(sim.ok());
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, sim.instr_resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 10000), VI_SUCCESS);
    ASSERT_EQ(write(vi, "TRIG:COUNT INF\n"), VI_SUCCESS);
    ASSERT_EQ(write(vi, "INIT\n"), VI_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_EQ(write(vi, "R?\n"), VI_SUCCESS);
    std::string block, part;
    ViStatus st = VI_SUCCESS_MAX_CNT;
    int reads = 0;
    while (st == VI_SUCCESS_MAX_CNT && reads < 100) {
        st = read(vi, part, 800000);
        block += part;
        ++reads;
    }
    EXPECT_EQ(st, VI_SUCCESS);
    EXPECT_GE(reads, 2);
    ASSERT_GT(block.size(), 800000u);
    // "#<n><n digits of length><data>\n": the header's length must match what arrived.
    ASSERT_EQ(block[0], '#');
    const int digits = block[1] - '0';
    ASSERT_GT(digits, 0);
    const size_t length = std::stoul(block.substr(2, static_cast<size_t>(digits)));
    EXPECT_EQ(block.size(), 2 + static_cast<size_t>(digits) + length + 1);
    EXPECT_EQ(block.back(), '\n');
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(visa_sim_test, slow_reply_times_out_within_the_time_out) {
    sim_process_t sim("VXA-1", {"--reply-delay", "1500"});
    ASSERT_TRUE(sim.ok());
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, sim.instr_resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
    ASSERT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
    const auto t0 = std::chrono::steady_clock::now();
    std::string reply;
    EXPECT_EQ(read(vi, reply, 800000), VI_ERROR_TMO);
    EXPECT_LT(ms_since(t0), 1200);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(visa_sim_test, dropped_link_is_reported_as_lost) {
    sim_process_t sim("VXB-1", {"--drop-after", "2"});
    ASSERT_TRUE(sim.ok());
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, sim.instr_resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500), VI_SUCCESS);
    std::string reply;
    ViStatus st = VI_SUCCESS;
    for (int i = 0; i < 5 && st == VI_SUCCESS; ++i) st = query(vi, "*IDN?\n", reply);
    EXPECT_EQ(st, VI_ERROR_CONN_LOST);
    EXPECT_EQ(query(vi, "*IDN?\n", reply), VI_ERROR_CONN_LOST) << "stays lost, fails fast";
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(visa_sim_test, discovery_finds_configured_hosts) {
    sim_process_t sim("VXA-3");
    ASSERT_TRUE(sim.ok());
    ::setenv("VELKARO_VISA_HOSTS", sim.address().c_str(), 1);
    ::setenv("VELKARO_USBTMC_SYSFS_ROOT", "/nonexistent", 1);
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viFindRsrc(m_rm, "(USB|TCPIP)?*INSTR", &list, &count, desc), VI_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(std::string(desc), sim.instr_resource());
    EXPECT_EQ(viClose(list), VI_SUCCESS);
    ::unsetenv("VELKARO_VISA_HOSTS");
    ::unsetenv("VELKARO_USBTMC_SYSFS_ROOT");
}
