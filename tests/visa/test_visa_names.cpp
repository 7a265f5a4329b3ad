// Resource-string grammar and viFindRsrc expressions.
#include <gtest/gtest.h>

#include "visa/visa.h"
#include "visa/visa_find_expr.h"
#include "visa/visa_rsrc_name.h"

using namespace visa;

TEST(visa_rsrc_name, valid_names_parse_to_their_canonical_form) {
    struct case_t {
        const char* text;
        const char* canonical;
        uint16_t intf_type;
        uint16_t board;
    } cases[] = {
        {"TCPIP0::192.168.1.5::inst0::INSTR", "TCPIP0::192.168.1.5::inst0::INSTR", VI_INTF_TCPIP, 0},
        {"tcpip::10.0.0.1::instr", "TCPIP0::10.0.0.1::inst0::INSTR", VI_INTF_TCPIP, 0},
        {"TCPIP3::dmm.lab", "TCPIP3::dmm.lab::inst0::INSTR", VI_INTF_TCPIP, 3},
        {"TCPIP0::10.0.0.1::gpib0,5", "TCPIP0::10.0.0.1::gpib0,5::INSTR", VI_INTF_TCPIP, 0},
        {"TCPIP0::10.0.0.1::5025::SOCKET", "TCPIP0::10.0.0.1::5025::SOCKET", VI_INTF_TCPIP, 0},
        {"TcpIp1::host::0x13A1::socket", "TCPIP1::host::5025::SOCKET", VI_INTF_TCPIP, 1},
        {"USB0::0x1AB1::0x0E11::DM3R1234::INSTR", "USB0::0x1AB1::0x0E11::DM3R1234::INSTR", VI_INTF_USB, 0},
        {"usb::6833::3601::abc", "USB0::0x1AB1::0x0E11::abc::INSTR", VI_INTF_USB, 0},
        {"USB2::0x1ab1::0x0e11::SN::1::INSTR", "USB2::0x1AB1::0x0E11::SN::1::INSTR", VI_INTF_USB, 2},
    };
    for (const auto& c : cases) {
        rsrc_name_t n;
        ASSERT_TRUE(parse_rsrc_name(c.text, n)) << c.text;
        EXPECT_EQ(format_rsrc_name(n), c.canonical) << c.text;
        EXPECT_EQ(rsrc_interface_type(n), c.intf_type) << c.text;
        EXPECT_EQ(rsrc_board(n), c.board) << c.text;
    }
}

TEST(visa_rsrc_name, malformed_names_are_refused) {
    const char* bad[] = {
        "",
        "TCPIP0",
        "TCPIP0::",
        "TCPIP0::::INSTR",
        "TCPIPX::host::INSTR",
        "TCPIP0::host::inst0::INSTR::extra",
        "TCPIP0::host::5025::SOCKET::x",
        "TCPIP0::host::SOCKET",
        "TCPIP0::host::0::SOCKET",
        "TCPIP0::host::70000::SOCKET",
        "TCPIP0::host::50x25::SOCKET",
        "TCPIP0::bad host::INSTR",
        "TCPIP99999::host::INSTR",
        "USB0::0x1AB1::0x0E11::INSTR",
        "USB0::0x1AB1G::0x0E11::SN::INSTR",
        "USB0::0x11AB1::0x0E11::SN::INSTR",
        "USB0::0x1AB1::0x0E11::SN::x::INSTR",
        "USB0::0x1AB1::0x0E11::SN::1::2::INSTR",
        "GPIB0::5::INSTR",
        "ASRL1::INSTR",
        "::::::::::::::::::::",
        "TCPIP0::host:::INSTR",
    };
    for (const char* text : bad) {
        rsrc_name_t n;
        EXPECT_FALSE(parse_rsrc_name(text, n)) << text;
    }
    rsrc_name_t n;
    EXPECT_FALSE(parse_rsrc_name(std::string(5000, 'T'), n));
}

TEST(visa_find_expr, matches_like_visa) {
    struct case_t {
        const char* expr;
        const char* rsrc;
        bool match;
    } cases[] = {
        {"(USB|TCPIP)?*INSTR", "USB0::0x1AB1::0x0E11::SN::INSTR", true},
        {"(USB|TCPIP)?*INSTR", "TCPIP0::127.0.0.1::inst0::INSTR", true},
        {"(USB|TCPIP)?*INSTR", "tcpip0::127.0.0.1::inst0::instr", true},
        {"(USB|TCPIP)?*INSTR", "TCPIP0::127.0.0.1::5025::SOCKET", false},
        {"(USB|TCPIP)?*INSTR", "GPIB0::5::INSTR", false},
        {"?*INSTR", "USB0::1::2::3::INSTR", true},
        {"?*INSTR", "INSTR", true},
        {"?*INSTR", "TCPIP0::h::5025::SOCKET", false},
        {"*INSTR", "INSTR", true},
        {"USB?*", "USB0::1::2::3::INSTR", true},
        {"USB?*", "XUSB0", false},
        {"USB[0-2]::?*", "USB1::x", true},
        {"USB[0-2]::?*", "USB3::x", false},
        {"USB[^0]::?*", "USB0::x", false},
        {"USB[^0]::?*", "USB4::x", true},
        {"TCPIP0::127.0.0.1::inst0::INSTR", "TCPIP0::127.0.0.1::inst0::INSTR", true},
        {"TCPIP0::127.0.0.1::inst0::INSTR", "TCPIP0::127X0Y0Z1::inst0::INSTR", false},
        {"US+B", "USSSB", true},
        {"US+B", "UB", false},
        {"A\\*B", "A*B", true},
        {"A\\*B", "AAB", false},
        {"USB?*|TCPIP?*", "TCPIP0::h::INSTR", true},
        {"a$b", "a$b", true},
    };
    for (const auto& c : cases) {
        find_expr_t e;
        ASSERT_TRUE(e.compile(c.expr)) << c.expr;
        EXPECT_EQ(e.matches(c.rsrc), c.match) << c.expr << " vs " << c.rsrc;
    }
}

TEST(visa_find_expr, malformed_or_filtered_expressions_are_refused) {
    const char* bad[] = {"", "(USB", "USB)", "[abc", "[]", "abc\\", "?*INSTR{VI_ATTR_INTF_NUM==0}", "a{2}"};
    for (const char* expr : bad) {
        find_expr_t e;
        EXPECT_FALSE(e.compile(expr)) << expr;
        EXPECT_FALSE(e.matches("abc"));
    }
    find_expr_t e;
    EXPECT_FALSE(e.compile(std::string(300, '?')));
}
