// The simulator's VXI-11 side, spoken with hand-built RPC bytes: portmapper GETPORT over
// TCP and UDP, create_link, device_write/device_read with END and requestSize, errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sim_test_client.h"
#include "support/sim_process.h"

using velkaro_test::sim_process_t;
using sim_test::get_u32;
using sim_test::put_opaque;
using sim_test::put_u32;
using sim_test::rpc_client_t;

namespace {

constexpr uint32_t pmap_prog = 100000, pmap_vers = 2, pmap_getport = 3;
constexpr uint32_t core_prog = 0x0607AF, core_vers = 1;
constexpr uint32_t create_link = 10, device_write = 11, device_read = 12, destroy_link = 23;
constexpr uint32_t flag_end = 0x08, flag_termchrset = 0x80;
constexpr uint32_t reason_reqcnt = 1, reason_chr = 2, reason_end = 4;

std::string getport_args(uint32_t prog, uint32_t vers, uint32_t prot)
{
    std::string a;
    for (uint32_t v : {prog, vers, prot, 0u}) {
        put_u32(a, v);
    }
    return a;
}

struct link_fixture_t {
    explicit link_fixture_t(const sim_process_t& sim) : rpc(sim.address(), sim.vxi11_port()) {}

    int32_t open()
    {
        std::string args, res;
        uint32_t accept = 99;
        put_u32(args, 7);  // clientId
        put_u32(args, 0);  // lockDevice
        put_u32(args, 0);  // lock_timeout
        put_opaque(args, "inst0");
        if (!rpc.call(core_prog, core_vers, create_link, args, res, accept) || accept != 0 || get_u32(res, 0) != 0) {
            return -1;
        }
        max_recv = get_u32(res, 12);
        return static_cast<int32_t>(get_u32(res, 4));
    }

    // Returns {error, size}.
    std::pair<uint32_t, uint32_t> write(int32_t lid, const std::string& data, uint32_t flags)
    {
        std::string args, res;
        uint32_t accept = 99;
        for (uint32_t v : {static_cast<uint32_t>(lid), 1000u, 0u, flags}) {
            put_u32(args, v);
        }
        put_opaque(args, data);
        if (!rpc.call(core_prog, core_vers, device_write, args, res, accept) || accept != 0) {
            return {0xFFFFFFFFu, 0};
        }
        return {get_u32(res, 0), get_u32(res, 4)};
    }

    // Returns the error; fills reason and data.
    uint32_t read(int32_t lid, uint32_t request_size, uint32_t& reason, std::string& data, uint32_t flags = 0,
                  uint32_t io_timeout = 1000)
    {
        std::string args, res;
        uint32_t accept = 99;
        for (uint32_t v : {static_cast<uint32_t>(lid), request_size, io_timeout, 0u, flags, uint32_t{'\n'}}) {
            put_u32(args, v);
        }
        if (!rpc.call(core_prog, core_vers, device_read, args, res, accept) || accept != 0) {
            return 0xFFFFFFFFu;
        }
        reason = get_u32(res, 4);
        const uint32_t len = get_u32(res, 8);
        data = res.substr(12, len);
        return get_u32(res, 0);
    }

    rpc_client_t rpc;
    uint32_t max_recv = 0;
};

}  // namespace

TEST(sim_vxi11, portmapper_getport_over_tcp_and_udp)
{
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    struct {
        uint32_t prog, vers, prot;
        bool known;
    } cases[] = {{core_prog, core_vers, 6, true}, {core_prog, core_vers, 17, false}, {0x0607B0, 1, 6, false},
                 {core_prog, 2, 6, false}};
    for (const auto& c : cases) {
        rpc_client_t tcp(sim.address(), sim.portmapper_port());
        ASSERT_TRUE(tcp.connected());
        std::string res;
        uint32_t accept = 99;
        ASSERT_TRUE(tcp.call(pmap_prog, pmap_vers, pmap_getport, getport_args(c.prog, c.vers, c.prot), res, accept));
        EXPECT_EQ(accept, 0u);
        EXPECT_EQ(get_u32(res, 0), c.known ? static_cast<uint32_t>(sim.vxi11_port()) : 0u);
    }

    // UDP: one datagram, no record marking.
    const int fd = sim_test::connect_tcp(sim.address(), sim.portmapper_port(), SOCK_DGRAM);
    ASSERT_GE(fd, 0);
    const std::string call = sim_test::rpc_call(0x55, pmap_prog, pmap_vers, pmap_getport,
                                                getport_args(core_prog, core_vers, 6));
    ASSERT_EQ(::send(fd, call.data(), call.size(), 0), static_cast<ssize_t>(call.size()));
    pollfd pfd{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 3000), 1);
    char buf[512];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ::close(fd);
    const std::string reply(buf, n > 0 ? static_cast<size_t>(n) : 0);
    ASSERT_EQ(reply.size(), 28u);
    EXPECT_EQ(get_u32(reply, 0), 0x55u);
    EXPECT_EQ(get_u32(reply, 24), static_cast<uint32_t>(sim.vxi11_port()));
}

TEST(sim_vxi11, idn_exchange_with_a_message_split_over_writes_and_fragments)
{
    sim_process_t sim("VXB-2");
    ASSERT_TRUE(sim.ok());
    link_fixture_t link(sim);
    ASSERT_TRUE(link.rpc.connected());
    const int32_t lid = link.open();
    ASSERT_GE(lid, 0);
    EXPECT_GE(link.max_recv, 1024u);

    // "*ID" without END, then "N?\n" with END in a record of three fragments.
    EXPECT_EQ(link.write(lid, "*ID", 0), std::make_pair(0u, 3u));
    std::string args, res;
    uint32_t accept = 99;
    for (uint32_t v : {static_cast<uint32_t>(lid), 1000u, 0u, flag_end}) {
        put_u32(args, v);
    }
    put_opaque(args, "N?\n");
    ASSERT_TRUE(link.rpc.call(core_prog, core_vers, device_write, args, res, accept, 3));
    EXPECT_EQ(get_u32(res, 0), 0u);

    uint32_t reason = 0;
    std::string data;
    ASSERT_EQ(link.read(lid, 4096, reason, data), 0u);
    EXPECT_EQ(data, "Norvale Labs,VXB-2,NL2611A0042,2.03.11\n");
    EXPECT_EQ(reason & reason_end, reason_end);
}

TEST(sim_vxi11, reads_honour_request_size_and_set_end_only_on_the_last_piece)
{
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    link_fixture_t link(sim);
    const int32_t lid = link.open();
    ASSERT_GE(lid, 0);
    for (uint32_t piece : {1u, 7u, 10u, 39u, 40u}) {
        ASSERT_EQ(link.write(lid, "*IDN?\n", flag_end).first, 0u);
        std::string all;
        uint32_t reason = 0;
        for (int i = 0; i < 100 && !(reason & reason_end); ++i) {
            std::string data;
            ASSERT_EQ(link.read(lid, piece, reason, data), 0u);
            ASSERT_LE(data.size(), piece);
            if (!(reason & reason_end)) {
                EXPECT_EQ(reason, reason_reqcnt) << "piece " << piece;
            }
            all += data;
        }
        EXPECT_EQ(all, "Norvale Labs,VXA-2,NL2611A0042,2.03.11\n") << "piece " << piece;
    }
    // The termination character ends a read when the client asks for it.
    ASSERT_EQ(link.write(lid, "*IDN?;*IDN?\n", flag_end).first, 0u);
    uint32_t reason = 0;
    std::string data;
    ASSERT_EQ(link.read(lid, 4096, reason, data, flag_termchrset), 0u);
    EXPECT_EQ(data, "Norvale Labs,VXA-2,NL2611A0042,2.03.11\n");
    EXPECT_EQ(reason, reason_chr);
}

TEST(sim_vxi11, errors_for_bad_links_sizes_and_empty_reads)
{
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    link_fixture_t link(sim);
    const int32_t lid = link.open();
    ASSERT_GE(lid, 0);
    uint32_t reason = 0;
    std::string data;
    EXPECT_EQ(link.write(lid + 1000, "*IDN?\n", flag_end).first, 4u);                  // invalid link
    EXPECT_EQ(link.write(lid, std::string(link.max_recv + 1, 'x'), flag_end).first, 5u);  // above maxRecvSize
    EXPECT_EQ(link.read(lid, 100, reason, data, 0, 50), 15u);                          // nothing to read
    std::string args, res;
    uint32_t accept = 99;
    put_u32(args, static_cast<uint32_t>(lid));
    ASSERT_TRUE(link.rpc.call(core_prog, core_vers, destroy_link, args, res, accept));
    EXPECT_EQ(get_u32(res, 0), 0u);
    EXPECT_EQ(link.write(lid, "*IDN?\n", flag_end).first, 4u);  // destroyed
    ASSERT_TRUE(link.rpc.call(0x0607B0, 1, 1, args, res, accept));
    EXPECT_EQ(accept, 1u);  // PROG_UNAVAIL: no abort channel program here
    ASSERT_TRUE(link.rpc.call(core_prog, core_vers, 99, args, res, accept));
    EXPECT_EQ(accept, 3u);  // PROC_UNAVAIL
}

TEST(sim_vxi11, truncated_reply_ends_without_line_feed)
{
    sim_process_t sim("VXA-2", {"--truncate"});
    ASSERT_TRUE(sim.ok());
    link_fixture_t link(sim);
    const int32_t lid = link.open();
    ASSERT_GE(lid, 0);
    ASSERT_EQ(link.write(lid, "*IDN?\n", flag_end).first, 0u);
    uint32_t reason = 0;
    std::string data;
    ASSERT_EQ(link.read(lid, 4096, reason, data), 0u);
    EXPECT_EQ(reason & reason_end, reason_end);
    EXPECT_FALSE(data.empty());
    EXPECT_EQ(data.find('\n'), std::string::npos);
}

// lxi-tools asks the portmapper on port 111, so this simulator needs that port on its own address.
TEST(sim_vxi11, lxi_tools_reads_the_identification)
{
    if (::access("/usr/bin/lxi", X_OK) != 0) {
        GTEST_SKIP() << "lxi-tools not installed";
    }
    sim_process_t sim("VXA-3", {"--portmapper-port", "111"});
    if (!sim.ok()) {
        GTEST_SKIP() << "cannot bind portmapper port 111";
    }
    const std::string cmd = "timeout 10 /usr/bin/lxi scpi -a " + sim.address() + " -t 3 \"*IDN?\" 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr && out.size() < 4096) {
        out += buf;
    }
    ::pclose(p);
    EXPECT_NE(out.find("Norvale Labs,VXA-3,"), std::string::npos) << out;
}

TEST(sim_vxi11, big_block_arrives_in_server_sized_pieces_with_end_on_the_last)
{
    sim_process_t sim("VXA-2", {"--fast"});
    ASSERT_TRUE(sim.ok());
    link_fixture_t link(sim);
    const int32_t lid = link.open();
    ASSERT_GE(lid, 0);
    ASSERT_EQ(link.write(lid, "TRIG:COUNT INF;INIT\n", flag_end).first, 0u);
    ::usleep(200000);  // 200,000 readings at the fast rate: a block of about 3.2 MB
    ASSERT_EQ(link.write(lid, "R?\n", flag_end).first, 0u);
    std::string all;
    uint32_t reason = 0;
    int pieces = 0;
    for (; pieces < 100 && !(reason & reason_end); ++pieces) {
        std::string data;
        ASSERT_EQ(link.read(lid, 0xFFFFFFFFu, reason, data), 0u);
        all += data;
    }
    EXPECT_GT(pieces, 1);  // a full server buffer gives reason 0 and the client reads on
    ASSERT_GT(all.size(), 2000000u);
    const size_t digits = static_cast<size_t>(all[1] - '0');
    EXPECT_EQ(all.size(), 2 + digits + std::stoul(all.substr(2, digits)) + 1);
    EXPECT_EQ(all.back(), '\n');
}

TEST(sim_vxi11, delayed_reply_times_out_first_and_is_read_later)
{
    sim_process_t sim("VXA-2", {"--reply-delay", "300"});
    ASSERT_TRUE(sim.ok());
    link_fixture_t link(sim);
    const int32_t lid = link.open();
    ASSERT_GE(lid, 0);
    ASSERT_EQ(link.write(lid, "*IDN?\n", flag_end).first, 0u);
    uint32_t reason = 0;
    std::string data;
    EXPECT_EQ(link.read(lid, 4096, reason, data, 0, 50), 15u);
    EXPECT_EQ(data, "");
    EXPECT_EQ(link.read(lid, 4096, reason, data, 0, 2000), 0u);
    EXPECT_NE(data.find("VXA-2"), std::string::npos);
}

TEST(sim_vxi11, drop_after_closes_the_core_channel)
{
    sim_process_t sim("VXA-2", {"--drop-after", "2"});
    ASSERT_TRUE(sim.ok());
    link_fixture_t link(sim);
    const int32_t lid = link.open();
    ASSERT_GE(lid, 0);
    EXPECT_EQ(link.write(lid, "*RST\n", flag_end).first, 0u);
    EXPECT_EQ(link.write(lid, "*CLS\n", flag_end).first, 0u);  // the second command: acknowledged, then dropped
    EXPECT_EQ(link.write(lid, "*IDN?\n", flag_end).first, 0xFFFFFFFFu);
    link_fixture_t again(sim);
    EXPECT_LT(again.open(), 0);
}
