// Fuzz target: the RPC record layer on its own. The bytes are a TCP stream cut into
// pieces (the first byte chooses their size and the record size limit); every record
// the decoder completes must be within the limit, framing it again and decoding that
// must give it back byte for byte, and a reply header decoded from it must point
// inside it.
#include <cstddef>
#include <cstdint>

#include "visa/visa_rpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 32;
    const size_t limit = size_t{16} << (data[0] >> 5);  // 16 bytes .. 2 KiB: refusals are reached
    ++data;
    --size;

    visa::rpc_record_decoder_t decoder(limit);
    size_t pos = 0;
    for (int steps = 0; pos < size && steps < 4096 && !decoder.failed(); ++steps) {
        const size_t n = piece < size - pos ? piece : size - pos;
        const size_t used = decoder.feed(data + pos, n);
        if (used > n) __builtin_trap();
        pos += used;
        if (decoder.record_complete()) {
            const visa::byte_vector_t rec = decoder.take_record();
            if (rec.size() > limit) __builtin_trap();
            if (decoder.record_complete() || decoder.in_progress()) __builtin_trap();

            // Framing round trip, fed one byte at a time.
            const visa::byte_vector_t framed = visa::rpc_frame_record(rec);
            visa::rpc_record_decoder_t again(limit);
            size_t at = 0;
            while (at < framed.size() && !again.record_complete() && !again.failed())
                at += again.feed(framed.data() + at, 1);
            if (!again.record_complete() || again.take_record() != rec) __builtin_trap();

            visa::rpc_reply_t reply;
            if (visa::rpc_decode_reply(rec.data(), rec.size(), reply) == visa::rpc_status_t::ok &&
                reply.results_offset > rec.size())
                __builtin_trap();
        } else if (used == 0) {
            break;
        }
    }
    return 0;
}
