// CPU cost of receiving a large VXI-11 read in our VISA layer, without sockets: a
// 10 MB block arriving as device_read replies of 1 MiB, each cut into 64 KiB record
// fragments and fed to the record decoder in 64 KiB receive pieces, then decoded
// (RPC header, XDR opaque) and appended to the caller's buffer.
#include <benchmark/benchmark.h>

#include <cstring>

#include "visa/visa_rpc.h"
#include "visa/visa_vxi11.h"

namespace {

constexpr size_t block_size = 10U * 1000U * 1000U;
constexpr size_t reply_data = 1U << 20;
constexpr size_t fragment = 64U * 1024U;
constexpr size_t receive_piece = 64U * 1024U;

// The byte stream a server sends for the whole block.
visa::byte_vector_t make_stream() {
    visa::byte_vector_t stream;
    uint32_t xid = 1;
    for (size_t sent = 0; sent < block_size; sent += reply_data, ++xid) {
        const size_t n = std::min(reply_data, block_size - sent);
        visa::byte_vector_t body;
        visa::xdr_writer_t w(body);
        for (uint32_t word : {xid, 1u, 0u, 0u, 0u, 0u}) w.put_u32(word);
        w.put_i32(0);
        w.put_i32(sent + n == block_size ? visa::vxi11_reason_end : 0);
        visa::byte_vector_t data(n, static_cast<uint8_t>('0' + xid % 10));
        w.put_opaque(data.data(), data.size());
        for (size_t pos = 0; pos < body.size(); pos += fragment) {
            const size_t len = std::min(fragment, body.size() - pos);
            const bool last = pos + len == body.size();
            visa::xdr_writer_t(stream).put_u32((last ? visa::rpc_last_fragment_bit : 0U) |
                                               static_cast<uint32_t>(len));
            stream.insert(stream.end(), body.begin() + static_cast<std::ptrdiff_t>(pos),
                          body.begin() + static_cast<std::ptrdiff_t>(pos + len));
        }
    }
    return stream;
}

void bm_decode_10mb_block(benchmark::State& state) {
    const visa::byte_vector_t stream = make_stream();
    std::vector<uint8_t> out(block_size);
    for (auto _ : state) {
        visa::rpc_record_decoder_t decoder;
        size_t pos = 0, got = 0;
        while (pos < stream.size()) {
            const size_t piece = std::min(receive_piece, stream.size() - pos);
            size_t used = 0;
            while (used < piece) {
                used += decoder.feed(stream.data() + pos + used, piece - used);
                if (!decoder.record_complete()) continue;
                const visa::byte_vector_t rec = decoder.take_record();
                visa::rpc_reply_t reply;
                visa::vxi11_read_resp_t resp;
                if (visa::rpc_decode_reply(rec.data(), rec.size(), reply) != visa::rpc_status_t::ok ||
                    !visa::vxi11_decode(rec.data() + reply.results_offset, rec.size() - reply.results_offset,
                                        resp)) {
                    state.SkipWithError("decode failed");
                    return;
                }
                std::memcpy(out.data() + got, resp.data.data(), resp.data.size());
                got += resp.data.size();
            }
            pos += piece;
        }
        if (got != block_size) state.SkipWithError("short block");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(block_size));
}
BENCHMARK(bm_decode_10mb_block)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
