// Raw socket sessions, USBTMC sessions on a fake sysfs tree, and discovery.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/fake_vxi11_server.h"
#include "visa_test_util.h"

using namespace visa;
using velkaro_test::ms_since;

namespace fs = std::filesystem;

namespace {

// Accepts one connection on 127.0.0.1 and runs `script` on it in a thread.
class line_server_t {
public:
    explicit line_server_t(std::function<void(int fd)> script) {
        m_listen = velkaro_test::listen_loopback(m_port);
        m_thread = std::thread([this, script] {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) return;
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0) return;
            script(fd);
            ::close(fd);
        });
    }
    ~line_server_t() {
        m_thread.join();
        ::close(m_listen);
    }
    std::string resource() const { return "TCPIP0::127.0.0.1::" + std::to_string(m_port) + "::SOCKET"; }

private:
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

void send_text(int fd, const std::string& s) { ::send(fd, s.data(), s.size(), MSG_NOSIGNAL); }

std::string recv_line(int fd) {
    std::string line;
    char c = 0;
    while (line.size() < 1000 && ::recv(fd, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n') break;
    }
    return line;
}

class visa_socket_test : public velkaro_test::visa_rm_fixture_t {};

}  // namespace

TEST_F(visa_socket_test, reads_end_at_line_feed_and_keep_what_follows) {
    std::atomic<bool> done{false};
    line_server_t server([&done](int fd) {
        if (recv_line(fd) == "*IDN?\n") send_text(fd, "MAKER,VXA-1,7,2.0\nsecond\nthird-no-newline");
        for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, server.resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    ViBoolean term_en = VI_FALSE;
    ASSERT_EQ(viGetAttribute(vi, VI_ATTR_TERMCHAR_EN, &term_en), VI_SUCCESS);
    EXPECT_EQ(term_en, VI_TRUE) << "SOCKET sessions end reads at the termination character by default";
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    ASSERT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
    std::string got;
    EXPECT_EQ(read(vi, got, 1000), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(got, "MAKER,VXA-1,7,2.0\n");
    EXPECT_EQ(read(vi, got, 3), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(got, "sec");
    EXPECT_EQ(read(vi, got, 1000), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(got, "ond\n");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(read(vi, got, 1000), VI_ERROR_TMO) << "no END on a stream: only the time-out ends it";
    EXPECT_EQ(got, "third-no-newline");
    EXPECT_LT(ms_since(t0), 1500);
    done = true;
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(visa_socket_test, peer_closing_gives_conn_lost) {
    line_server_t server([](int fd) { send_text(fd, "partial"); });
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, server.resource().c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
    std::string got;
    EXPECT_EQ(read(vi, got, 1000), VI_ERROR_CONN_LOST);
    EXPECT_EQ(read(vi, got, 1000), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(visa_socket_test, refused_port_is_not_found) {
    uint16_t port = 0;
    const int fd = velkaro_test::listen_loopback(port);
    ::close(fd);
    ViSession vi = VI_NULL;
    const std::string rsrc = "TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET";
    EXPECT_EQ(viOpen(m_rm, rsrc.c_str(), VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viOpen(m_rm, "TCPIP0::127.0.0.1::5025::SOCKET", VI_EXCLUSIVE_LOCK, 0, &vi),
              VI_ERROR_INV_ACC_MODE);
}

namespace {

// A fake sysfs and /dev: usbtmc0 (1AB1:0E11 "SN-A1", interface 0), usbtmc1 without
// ids, usbtmc2 (1AB1:0E11 "B2", interface 1). Device nodes are FIFOs, which echo
// what is written to them.
class visa_usbtmc_test : public velkaro_test::visa_rm_fixture_t {
protected:
    void SetUp() override {
        visa_rm_fixture_t::SetUp();
        char tmpl[] = "/tmp/velkaro_usbtmc_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_root = tmpl;
        add_device("usbtmc0", "1-1", "1ab1", "0e11", "SN-A1", "00");
        add_device("usbtmc1", "1-2", "", "", "X", "00");
        add_device("usbtmc2", "1-3", "1AB1", "0E11", "B2", "01");
        ::setenv("VELKARO_USBTMC_SYSFS_ROOT", (m_root / "sys").c_str(), 1);
        ::setenv("VELKARO_USBTMC_DEV_ROOT", (m_root / "dev").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("VELKARO_USBTMC_SYSFS_ROOT");
        ::unsetenv("VELKARO_USBTMC_DEV_ROOT");
        ::unsetenv("VELKARO_VISA_HOSTS");
        std::error_code ec;
        fs::remove_all(m_root, ec);
        visa_rm_fixture_t::TearDown();
    }
    void add_device(const std::string& node, const std::string& port, const std::string& vid,
                    const std::string& pid, const std::string& serial, const std::string& intf) {
        const fs::path usb = m_root / "sys/devices/usb1" / port;
        const fs::path iface = usb / (port + ":1." + intf);
        fs::create_directories(iface);
        if (!vid.empty()) std::ofstream(usb / "idVendor") << vid << "\n";
        if (!pid.empty()) std::ofstream(usb / "idProduct") << pid << "\n";
        std::ofstream(usb / "serial") << serial << "\n";
        std::ofstream(iface / "bInterfaceNumber") << intf << "\n";
        const fs::path cls = m_root / "sys/class/usbmisc" / node;
        fs::create_directories(cls);
        fs::create_directory_symlink(iface, cls / "device");
        fs::create_directories(m_root / "dev");
        ASSERT_EQ(::mkfifo((m_root / "dev" / node).c_str(), 0600), 0);
    }

    fs::path m_root;
};

}  // namespace

TEST_F(visa_usbtmc_test, opens_the_node_whose_sysfs_device_matches) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, "usb0::0x1AB1::0x0E11::sn-a1::INSTR", VI_NULL, 0, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
    ViUInt16 type = 0;
    ASSERT_EQ(viGetAttribute(vi, VI_ATTR_INTF_TYPE, &type), VI_SUCCESS);
    EXPECT_EQ(type, VI_INTF_USB);
    EXPECT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
    std::string got;
    EXPECT_EQ(read(vi, got, 1000), VI_SUCCESS) << "a short read is a whole message";
    EXPECT_EQ(got, "*IDN?\n");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(read(vi, got, 1000), VI_ERROR_TMO);
    EXPECT_LT(ms_since(t0), 1500);
    EXPECT_EQ(write(vi, "0123456789"), VI_SUCCESS);
    EXPECT_EQ(read(vi, got, 4), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(got, "0123");
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(visa_usbtmc_test, interface_number_and_unknown_devices) {
    struct case_t {
        const char* rsrc;
        ViStatus expect;
    } cases[] = {
        {"USB0::0x1AB1::0x0E11::B2::1::INSTR", VI_SUCCESS},
        {"USB0::0x1AB1::0x0E11::B2::INSTR", VI_SUCCESS},
        {"USB0::0x1AB1::0x0E11::B2::0::INSTR", VI_ERROR_RSRC_NFOUND},
        {"USB0::0x1AB1::0x0E12::B2::INSTR", VI_ERROR_RSRC_NFOUND},
        {"USB0::0x1AB1::0x0E11::nope::INSTR", VI_ERROR_RSRC_NFOUND},
        {"USB0::0x1AB1::0x0E11::X::INSTR", VI_ERROR_RSRC_NFOUND},
    };
    for (const auto& c : cases) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, c.rsrc, VI_NULL, 0, &vi), c.expect) << c.rsrc;
        if (vi != VI_NULL) {
            EXPECT_EQ(viClose(vi), VI_SUCCESS);
        }
    }
}

TEST_F(visa_usbtmc_test, find_lists_usb_devices_and_answering_hosts) {
    velkaro_test::fake_vxi11_server_t server;
    server.use_portmapper();
    // 127.0.0.3 has no portmapper on that port: probed, refused, left out.
    ::setenv("VELKARO_VISA_HOSTS", " 127.0.0.1 ,127.0.0.3,,", 1);
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN] = {};
    ASSERT_EQ(viFindRsrc(m_rm, "(USB|TCPIP)?*INSTR", &list, &count, desc), VI_SUCCESS);
    std::vector<std::string> found{desc};
    for (ViUInt32 i = 1; i < count; ++i) {
        ASSERT_EQ(viFindNext(list, desc), VI_SUCCESS);
        found.emplace_back(desc);
    }
    EXPECT_EQ(viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(found, (std::vector<std::string>{"USB0::0x1AB1::0x0E11::SN-A1::INSTR",
                                               "USB0::0x1AB1::0x0E11::B2::1::INSTR",
                                               "TCPIP0::127.0.0.1::inst0::INSTR"}));
    EXPECT_EQ(viClose(list), VI_SUCCESS);
    EXPECT_EQ(viFindNext(list, desc), VI_ERROR_INV_OBJECT);

    // Every resource found can be opened.
    for (const auto& r : found) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, r.c_str(), VI_NULL, 0, &vi), VI_SUCCESS) << r;
        EXPECT_EQ(viClose(vi), VI_SUCCESS);
    }

    ASSERT_EQ(viFindRsrc(m_rm, "TCPIP?*", &list, &count, desc), VI_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(viClose(list), VI_SUCCESS);
    EXPECT_EQ(viFindRsrc(m_rm, "GPIB?*INSTR", &list, &count, desc), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(viFindRsrc(m_rm, "?*INSTR{VI_ATTR_INTF_NUM==0}", &list, &count, desc), VI_ERROR_INV_EXPR);
    EXPECT_EQ(viFindRsrc(m_rm, nullptr, &list, &count, desc), VI_ERROR_INV_EXPR);
}

TEST_F(visa_usbtmc_test, find_without_any_device_or_host) {
    ::setenv("VELKARO_USBTMC_SYSFS_ROOT", (m_root / "nothing-here").c_str(), 1);
    ::unsetenv("VELKARO_VISA_HOSTS");
    ViFindList list = 77;
    ViUInt32 count = 5;
    char desc[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viFindRsrc(m_rm, "(USB|TCPIP)?*INSTR", &list, &count, desc), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list, VI_NULL);
}
