// XDR, record marking, RPC reply and VXI-11 result decoding on byte buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "visa/visa_portmap.h"
#include "visa/visa_rpc.h"
#include "visa/visa_vxi11.h"
#include "visa/visa_xdr.h"

using namespace visa;

namespace {
byte_vector_t words(std::initializer_list<uint32_t> ws) {
    byte_vector_t b;
    xdr_writer_t w(b);
    for (uint32_t x : ws) w.put_u32(x);
    return b;
}
}  // namespace

TEST(visa_xdr, opaque_is_padded_to_four_bytes_and_reads_back) {
    for (size_t n = 0; n <= 9; ++n) {
        byte_vector_t data(n, 0xAB);
        byte_vector_t enc;
        xdr_writer_t(enc).put_opaque(data.data(), n);
        ASSERT_EQ(enc.size(), 4 + ((n + 3) / 4) * 4) << n;
        for (size_t i = 4 + n; i < enc.size(); ++i) EXPECT_EQ(enc[i], 0) << "padding must be zero";
        xdr_reader_t r(enc.data(), enc.size());
        byte_vector_t back;
        ASSERT_TRUE(r.get_opaque(back, 100));
        EXPECT_EQ(back, data);
        EXPECT_EQ(r.remaining(), 0u);
    }
}

TEST(visa_xdr, scalars_are_big_endian) {
    byte_vector_t enc;
    xdr_writer_t w(enc);
    w.put_u32(0x01020304);
    w.put_i32(-2);
    w.put_bool(true);
    const byte_vector_t expect{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 1};
    EXPECT_EQ(enc, expect);
    xdr_reader_t r(enc.data(), enc.size());
    uint32_t u = 0;
    int32_t i = 0;
    bool b = false;
    EXPECT_TRUE(r.get_u32(u) && r.get_i32(i) && r.get_bool(b));
    EXPECT_EQ(u, 0x01020304u);
    EXPECT_EQ(i, -2);
    EXPECT_TRUE(b);
}

TEST(visa_xdr, every_truncation_of_a_string_fails_without_overreading) {
    byte_vector_t enc;
    xdr_writer_t(enc).put_string("hello");  // 4 + 8 bytes
    for (size_t cut = 0; cut < enc.size(); ++cut) {
        // A heap copy of exactly `cut` bytes lets the address sanitizer see any overread.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[cut + 1]);
        std::memcpy(copy.get(), enc.data(), cut);
        xdr_reader_t r(copy.get(), cut);
        std::string s;
        EXPECT_FALSE(r.get_string(s, 100)) << cut;
        EXPECT_FALSE(r.ok());
        uint32_t after = 0;
        EXPECT_FALSE(r.get_u32(after)) << "a failed reader stays failed";
    }
}

TEST(visa_xdr, lengths_above_the_maximum_or_the_buffer_are_refused) {
    struct case_t {
        uint32_t length;
        size_t body;
        uint32_t max;
    } cases[] = {{6, 8, 5}, {0xFFFFFFFFu, 8, 0xFFFFFFFFu}, {0xFFFFFFFDu, 0, 0xFFFFFFFFu}, {9, 8, 100}};
    for (const auto& c : cases) {
        byte_vector_t b = words({c.length});
        b.resize(4 + c.body, 'x');
        xdr_reader_t r(b.data(), b.size());
        byte_vector_t out;
        EXPECT_FALSE(r.get_opaque(out, c.max)) << c.length;
        EXPECT_TRUE(out.empty());
    }
    const byte_vector_t two = words({2});
    xdr_reader_t r(two.data(), two.size());
    bool v = false;
    EXPECT_FALSE(r.get_bool(v)) << "a bool is 0 or 1";
}

TEST(visa_rpc, call_header_layout) {
    byte_vector_t b;
    rpc_encode_call_header(b, 0x11223344, 100000, 2, 3);
    EXPECT_EQ(b, words({0x11223344, 0, 2, 100000, 2, 3, 0, 0, 0, 0}));
    const byte_vector_t framed = rpc_frame_record(b);
    EXPECT_EQ(framed.size(), b.size() + 4);
    EXPECT_EQ(framed[0], 0x80);
    EXPECT_EQ(framed[3], 40);
}

TEST(visa_rpc, record_decoder_joins_fragments_fed_in_any_pieces) {
    // Two fragments "abc" + "defg" (last), then a second record "z".
    byte_vector_t stream = words({3});
    stream.insert(stream.end(), {'a', 'b', 'c'});
    byte_vector_t last = words({0x80000004u});
    stream.insert(stream.end(), last.begin(), last.end());
    stream.insert(stream.end(), {'d', 'e', 'f', 'g'});
    byte_vector_t second = words({0x80000001u});
    stream.insert(stream.end(), second.begin(), second.end());
    stream.push_back('z');
    const size_t first_len = 4 + 3 + 4 + 4;

    for (size_t piece = 1; piece <= stream.size(); ++piece) {
        rpc_record_decoder_t d;
        std::vector<std::string> records;
        size_t pos = 0;
        for (int guard = 0; pos < stream.size() && guard < 1000; ++guard) {
            const size_t n = std::min(piece, stream.size() - pos);
            pos += d.feed(stream.data() + pos, n);
            if (d.record_complete()) {
                const byte_vector_t rec = d.take_record();
                records.emplace_back(rec.begin(), rec.end());
                if (records.size() == 1) {
                    EXPECT_EQ(pos, first_len) << "stops at the record's end";
                }
            }
        }
        ASSERT_FALSE(d.failed());
        EXPECT_EQ(records, (std::vector<std::string>{"abcdefg", "z"})) << piece;
    }
}

TEST(visa_rpc, record_decoder_refuses_records_beyond_the_cap) {
    rpc_record_decoder_t one(100);
    const byte_vector_t huge = words({0xFFFFFFFFu});
    one.feed(huge.data(), huge.size());
    EXPECT_TRUE(one.failed()) << "a 2 GiB fragment is refused from its mark alone";

    // 60 + 60 bytes across two fragments exceed a 100-byte cap.
    rpc_record_decoder_t two(100);
    byte_vector_t s = words({60});
    s.resize(s.size() + 60, 1);
    byte_vector_t m = words({0x80000000u | 60});
    s.insert(s.end(), m.begin(), m.end());
    s.resize(s.size() + 60, 2);
    two.feed(s.data(), s.size());
    EXPECT_TRUE(two.failed());
    EXPECT_FALSE(two.record_complete());
}

TEST(visa_rpc, reply_decoding_table) {
    struct case_t {
        const char* what;
        byte_vector_t record;
        rpc_status_t expect;
    } cases[] = {
        {"accepted success", words({9, 1, 0, 0, 0, 0, 42}), rpc_status_t::ok},
        {"verifier with a body", words({9, 1, 0, 1, 4, 0xAAAAAAAA, 0, 42}), rpc_status_t::ok},
        {"prog unavailable", words({9, 1, 0, 0, 0, 1}), rpc_status_t::rejected},
        {"prog mismatch", words({9, 1, 0, 0, 0, 2, 1, 1}), rpc_status_t::rejected},
        {"denied auth", words({9, 1, 1, 1, 1}), rpc_status_t::rejected},
        {"unknown accept state", words({9, 1, 0, 0, 0, 77}), rpc_status_t::garbage},
        {"a call, not a reply", words({9, 0, 2, 0}), rpc_status_t::garbage},
        {"unknown reply state", words({9, 1, 5}), rpc_status_t::garbage},
        {"truncated header", words({9, 1, 0, 0}), rpc_status_t::garbage},
        {"verifier longer than allowed", words({9, 1, 0, 0, 1000}), rpc_status_t::garbage},
        {"empty", {}, rpc_status_t::garbage},
    };
    for (const auto& c : cases) {
        rpc_reply_t r;
        EXPECT_EQ(rpc_decode_reply(c.record.data(), c.record.size(), r), c.expect) << c.what;
    }
    const byte_vector_t ok = words({9, 1, 0, 1, 4, 0xAAAAAAAA, 0, 42});
    rpc_reply_t r;
    ASSERT_EQ(rpc_decode_reply(ok.data(), ok.size(), r), rpc_status_t::ok);
    EXPECT_EQ(r.xid, 9u);
    EXPECT_EQ(r.results_offset, 28u);
}

TEST(visa_vxi11, argument_layouts) {
    vxi11_read_args_t rd;
    rd.lid = 7;
    rd.request_size = 1000;
    rd.io_timeout = 250;
    rd.lock_timeout = 0;
    rd.flags = vxi11_flag_termchrset;
    rd.term_char = '\n';
    EXPECT_EQ(vxi11_encode(rd), words({7, 1000, 250, 0, 0x80, 10}));

    const uint8_t data[5] = {'h', 'e', 'l', 'l', 'o'};
    vxi11_write_args_t wr;
    wr.lid = 7;
    wr.io_timeout = 100;
    wr.flags = vxi11_flag_end;
    wr.data = data;
    wr.size = 5;
    byte_vector_t expect = words({7, 100, 0, 8, 5});
    expect.insert(expect.end(), {'h', 'e', 'l', 'l', 'o', 0, 0, 0});
    EXPECT_EQ(vxi11_encode(wr), expect);

    vxi11_create_link_args_t cl;
    cl.client_id = 3;
    cl.lock_device = true;
    cl.lock_timeout = 10;
    expect = words({3, 1, 10, 5});
    expect.insert(expect.end(), {'i', 'n', 's', 't', '0', 0, 0, 0});
    EXPECT_EQ(vxi11_encode(cl), expect);

    vxi11_generic_args_t g{7, 0, 10, 20};
    EXPECT_EQ(vxi11_encode(g), words({7, 0, 10, 20}));
    EXPECT_EQ(portmap_encode_getport_args(0x0607AF, 1, 6), words({0x0607AF, 1, 6, 0}));
}

TEST(visa_vxi11, result_decoding_accepts_valid_and_refuses_short_or_lying_input) {
    byte_vector_t read_ok = words({0, 4, 3});
    read_ok.insert(read_ok.end(), {'a', 'b', 'c', 0});
    vxi11_read_resp_t rr;
    ASSERT_TRUE(vxi11_decode(read_ok.data(), read_ok.size(), rr));
    EXPECT_EQ(rr.reason, vxi11_reason_end);
    EXPECT_EQ(std::string(rr.data.begin(), rr.data.end()), "abc");

    const byte_vector_t lying = words({0, 4, 0x7FFFFFF0u, 1, 2});
    EXPECT_FALSE(vxi11_decode(lying.data(), lying.size(), rr));
    const byte_vector_t over_cap = words({0, 4, 9});
    EXPECT_FALSE(vxi11_decode(over_cap.data(), over_cap.size(), rr, 8));

    vxi11_create_link_resp_t cl;
    const byte_vector_t link = words({0, 7, 0, 0xFFFFFFFFu});
    ASSERT_TRUE(vxi11_decode(link.data(), link.size(), cl));
    EXPECT_EQ(cl.lid, 7);
    EXPECT_EQ(cl.max_recv_size, 0xFFFFFFFFu);
    EXPECT_FALSE(vxi11_decode(link.data(), link.size() - 1, cl));

    vxi11_write_resp_t wr;
    const byte_vector_t w = words({15, 12});
    ASSERT_TRUE(vxi11_decode(w.data(), w.size(), wr));
    EXPECT_EQ(wr.error, vxi11_err_io_timeout);
    EXPECT_EQ(wr.size, 12u);
    EXPECT_FALSE(vxi11_decode(w.data(), 7, wr));

    uint16_t port = 0;
    const byte_vector_t p = words({1024}), bad = words({70000});
    EXPECT_TRUE(portmap_decode_getport_result(p.data(), p.size(), port));
    EXPECT_EQ(port, 1024);
    EXPECT_FALSE(portmap_decode_getport_result(bad.data(), bad.size(), port));
}
