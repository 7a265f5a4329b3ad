// Feeds arbitrary bytes, as a TCP stream from a server, to the record-marking
// decoder, the RPC reply decoder and every VXI-11 and portmapper result decoder.
// The first byte chooses how the stream is cut into pieces.
#include <cstddef>
#include <cstdint>

#include "visa/visa_portmap.h"
#include "visa/visa_rpc.h"
#include "visa/visa_vxi11.h"

namespace {

void decode_results(const uint8_t* data, size_t size) {
    visa::vxi11_create_link_resp_t cl;
    visa::vxi11_write_resp_t wr;
    visa::vxi11_read_resp_t rd;
    int32_t error = 0;
    uint16_t port = 0;
    visa::vxi11_decode(data, size, cl);
    visa::vxi11_decode(data, size, wr);
    visa::vxi11_decode(data, size, rd, 1U << 20);
    visa::vxi11_decode_error(data, size, error);
    visa::portmap_decode_getport_result(data, size, port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 64;
    ++data;
    --size;

    // A small cap so the fuzzer reaches the refusal of oversized records.
    visa::rpc_record_decoder_t decoder(1U << 16);
    size_t pos = 0;
    for (int records = 0; pos < size && records < 64 && !decoder.failed();) {
        const size_t n = piece < size - pos ? piece : size - pos;
        const size_t used = decoder.feed(data + pos, n);
        pos += used;
        if (decoder.record_complete()) {
            ++records;
            const visa::byte_vector_t rec = decoder.take_record();
            visa::rpc_reply_t reply;
            if (visa::rpc_decode_reply(rec.data(), rec.size(), reply) == visa::rpc_status_t::ok) {
                if (reply.results_offset > rec.size()) __builtin_trap();
                decode_results(rec.data() + reply.results_offset, rec.size() - reply.results_offset);
            }
        } else if (used == 0) {
            break;
        }
    }
    decode_results(data, size);
    return 0;
}
