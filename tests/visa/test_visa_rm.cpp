// Resource manager: handles, attributes, closing, threads, and the system library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "support/fake_vxi11_server.h"
#include "visa/visa_sys_lib.h"
#include "visa_test_util.h"

using namespace visa;
using velkaro_test::fake_vxi11_server_t;

namespace {
class visa_rm_test : public velkaro_test::visa_rm_fixture_t {};
}  // namespace

TEST_F(visa_rm_test, parse_rsrc_reports_interface_type_and_number) {
    struct case_t {
        const char* rsrc;
        ViStatus status;
        ViUInt16 type;
        ViUInt16 num;
    } cases[] = {
        {"TCPIP0::192.168.0.3::inst0::INSTR", VI_SUCCESS, VI_INTF_TCPIP, 0},
        {"TCPIP4::h::5025::SOCKET", VI_SUCCESS, VI_INTF_TCPIP, 4},
        {"USB1::0x1AB1::0x0E11::SN::INSTR", VI_SUCCESS, VI_INTF_USB, 1},
        {"TCPIP0::192.168.0.3::inst0::INSTR::", VI_ERROR_INV_RSRC_NAME, 0, 0},
        {"nonsense", VI_ERROR_INV_RSRC_NAME, 0, 0},
    };
    for (const auto& c : cases) {
        ViUInt16 type = 0, num = 0;
        EXPECT_EQ(viParseRsrc(m_rm, c.rsrc, &type, &num), c.status) << c.rsrc;
        EXPECT_EQ(type, c.type) << c.rsrc;
        EXPECT_EQ(num, c.num) << c.rsrc;
    }
    ViUInt16 type = 0, num = 0;
    EXPECT_EQ(viParseRsrc(m_rm, nullptr, &type, &num), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viParseRsrc(0xDEAD, "USB0::1::2::3::INSTR", &type, &num), VI_ERROR_INV_OBJECT);
}

TEST_F(visa_rm_test, unknown_handles_and_wrong_kinds_are_refused) {
    ViByte buf[4] = {};
    ViUInt32 n = 0;
    ViUInt32 tmo = 0;
    char desc[VI_FIND_BUFLEN];
    ViSession vi = VI_NULL;
    const ViSession unknown = 0xDEADBEEF;
    EXPECT_EQ(viWrite(unknown, buf, 4, &n), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viRead(unknown, buf, 4, &n), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(unknown), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viFindNext(unknown, desc), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viSetAttribute(unknown, VI_ATTR_TMO_VALUE, 5), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viGetAttribute(unknown, VI_ATTR_TMO_VALUE, &tmo), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viOpen(unknown, "TCPIP0::h::INSTR", VI_NULL, 0, &vi), VI_ERROR_INV_OBJECT);
    // The resource manager is not an instrument.
    EXPECT_EQ(viWrite(m_rm, buf, 4, &n), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viRead(m_rm, buf, 4, &n), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viFindNext(m_rm, desc), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viOpen(m_rm, "TCPIP0::h::INSTR", 0x100, 0, &vi), VI_ERROR_INV_ACC_MODE);
    EXPECT_EQ(viOpen(m_rm, "bogus", VI_NULL, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viOpenDefaultRM(nullptr), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(viClose(VI_NULL), VI_SUCCESS);
}

TEST_F(visa_rm_test, instrument_attributes) {
    fake_vxi11_server_t server;
    server.use_portmapper();
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, server.resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    ViUInt32 tmo = 0;
    ViUInt8 term = 0;
    ViBoolean b = 9;
    ViUInt16 u16 = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
    EXPECT_EQ(tmo, 2000u);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TERMCHAR, &term), VI_SUCCESS);
    EXPECT_EQ(term, 0x0A);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TERMCHAR_EN, &b), VI_SUCCESS);
    EXPECT_EQ(b, VI_FALSE);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_SEND_END_EN, &b), VI_SUCCESS);
    EXPECT_EQ(b, VI_TRUE);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_INTF_TYPE, &u16), VI_SUCCESS);
    EXPECT_EQ(u16, VI_INTF_TCPIP);

    struct set_case_t {
        ViAttr attr;
        ViAttrState value;
        ViStatus expect;
    } sets[] = {
        {VI_ATTR_TMO_VALUE, 150, VI_SUCCESS},
        {VI_ATTR_TMO_VALUE, 1ULL << 33, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_TERMCHAR, '\r', VI_SUCCESS},
        {VI_ATTR_TERMCHAR, 256, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_TERMCHAR_EN, 2, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_INTF_TYPE, 1, VI_ERROR_ATTR_READONLY},
        {0x3FFF9999, 1, VI_ERROR_NSUP_ATTR},
    };
    for (const auto& s : sets) EXPECT_EQ(viSetAttribute(vi, s.attr, s.value), s.expect) << std::hex << s.attr;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
    EXPECT_EQ(tmo, 150u);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TERMCHAR, &term), VI_SUCCESS);
    EXPECT_EQ(term, '\r');
    EXPECT_EQ(viGetAttribute(vi, 0x3FFF9999, &tmo), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, nullptr), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(viSetAttribute(m_rm, VI_ATTR_TMO_VALUE, 5), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT) << "a closed handle is gone";
}

TEST_F(visa_rm_test, closing_a_resource_manager_closes_what_it_opened) {
    fake_vxi11_server_t server;
    server.use_portmapper();
    ViSession rm2 = VI_NULL, vi = VI_NULL, other = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm2), VI_SUCCESS);
    EXPECT_NE(rm2, m_rm);
    ASSERT_EQ(viOpen(rm2, server.resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    ASSERT_EQ(viOpen(m_rm, server.resource().c_str(), VI_NULL, 0, &other), VI_SUCCESS);
    EXPECT_EQ(viClose(rm2), VI_SUCCESS);
    ViUInt32 n = 0;
    EXPECT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>("x"), 1, &n), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viWrite(other, reinterpret_cast<ViConstBuf>("x"), 1, &n), VI_SUCCESS)
        << "the other RM's session lives";
    EXPECT_EQ(viClose(other), VI_SUCCESS);
}

TEST_F(visa_rm_test, sessions_run_in_parallel_threads) {
    constexpr int sessions = 4;
    constexpr int queries = 40;
    std::vector<std::unique_ptr<fake_vxi11_server_t>> servers;
    std::vector<ViSession> vis(sessions, VI_NULL);
    for (int i = 0; i < sessions; ++i) {
        servers.push_back(std::make_unique<fake_vxi11_server_t>());
        servers.back()->set_responder([i](const std::string& m) { return std::to_string(i) + ":" + m; });
        servers.back()->use_portmapper();  // read at open time, so each session gets its server
        ASSERT_EQ(viOpen(m_rm, servers.back()->resource().c_str(), VI_NULL, 0, &vis[i]), VI_SUCCESS);
    }
    std::vector<int> good(sessions, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < sessions; ++i) {
        threads.emplace_back([&, i] {
            for (int q = 0; q < queries; ++q) {
                const std::string cmd = "Q" + std::to_string(q) + "\n";
                ViUInt32 n = 0;
                char buf[64];
                if (viWrite(vis[i], reinterpret_cast<ViConstBuf>(cmd.data()),
                            static_cast<ViUInt32>(cmd.size()), &n) != VI_SUCCESS) {
                    continue;
                }
                if (viRead(vis[i], reinterpret_cast<ViBuf>(buf), sizeof buf, &n) != VI_SUCCESS) continue;
                if (std::string(buf, n) == std::to_string(i) + ":" + cmd) good[i]++;
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < sessions; ++i) {
        EXPECT_EQ(good[i], queries) << i;
        EXPECT_EQ(viClose(vis[i]), VI_SUCCESS);
    }
}

TEST(visa_sys_lib, calls_are_forwarded_to_the_named_library) {
    ::setenv("VELKARO_VISA_LIBRARY", VELKARO_FAKE_VISA_LIB, 1);
    sys_visa_reset_choice_for_tests();
    ViSession rm = VI_NULL, vi = VI_NULL;
    ViFindList list = VI_NULL;
    ViUInt32 count = 0, n = 0, tmo = 0;
    ViUInt16 type = 0, num = 0;
    char desc[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    EXPECT_EQ(rm, 0x4242u);
    EXPECT_EQ(viFindRsrc(rm, "(USB|TCPIP)?*INSTR", &list, &count, desc), VI_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(desc, "TCPIP0::fake-one::inst0::INSTR");
    EXPECT_EQ(viFindNext(list, desc), VI_SUCCESS);
    EXPECT_STREQ(desc, "USB0::0x1234::0x5678::FAKE::INSTR");
    EXPECT_EQ(viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viClose(list), VI_SUCCESS);
    EXPECT_EQ(viParseRsrc(rm, "anything", &type, &num), VI_SUCCESS);
    EXPECT_EQ(type, 99);
    EXPECT_EQ(num, 3);
    EXPECT_EQ(viOpen(rm, "TCPIP0::fake-one::inst0::INSTR", VI_NULL, 0, &vi), VI_SUCCESS);
    EXPECT_EQ(vi, 0x7777u);
    EXPECT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>("MEAS?\n"), 6, &n), VI_SUCCESS);
    EXPECT_EQ(n, 6u);
    char buf[32];
    EXPECT_EQ(viRead(vi, reinterpret_cast<ViBuf>(buf), sizeof buf, &n), VI_SUCCESS);
    EXPECT_EQ(std::string(buf, n), "fake:MEAS?\n");
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 777), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
    EXPECT_EQ(tmo, 777u);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
    ::unsetenv("VELKARO_VISA_LIBRARY");
    sys_visa_reset_choice_for_tests();
}

TEST(visa_sys_lib, a_library_that_cannot_be_used_fails_every_call) {
    // A missing file, and a real library without the VISA symbols.
    for (const char* path : {"/nonexistent/libvisa.so", "libm.so.6"}) {
        ::setenv("VELKARO_VISA_LIBRARY", path, 1);
        sys_visa_reset_choice_for_tests();
        ViSession rm = VI_NULL;
        ViUInt32 n = 0, cnt = 0;
        ViUInt16 t = 0;
        char desc[VI_FIND_BUFLEN];
        ViByte buf[4] = {};
        EXPECT_EQ(viOpenDefaultRM(&rm), VI_ERROR_LIBRARY_NFOUND) << path;
        EXPECT_EQ(viFindRsrc(1, "?*", &rm, &cnt, desc), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viFindNext(1, desc), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viParseRsrc(1, "x", &t, &t), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viOpen(1, "x", 0, 0, &rm), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viClose(1), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viWrite(1, buf, 1, &n), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viRead(1, buf, 1, &n), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viSetAttribute(1, VI_ATTR_TMO_VALUE, 1), VI_ERROR_LIBRARY_NFOUND);
        EXPECT_EQ(viGetAttribute(1, VI_ATTR_TMO_VALUE, &n), VI_ERROR_LIBRARY_NFOUND);
    }
    ::unsetenv("VELKARO_VISA_LIBRARY");
    sys_visa_reset_choice_for_tests();
    ViSession rm = VI_NULL;
    EXPECT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS) << "back to the built-in layer";
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
}
