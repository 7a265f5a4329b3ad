// Fuzz target: the reading fetch parsers of both families ("R?" block, "MEASURE_DATA?").
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "drv/drv_parse.h"

namespace {
int64_t fixed_clock() { return 1; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    std::vector<plib_data_t> block;
    const std::size_t dropped = drv_parse_block_readings(reply, block, fixed_clock);
    // Every piece is either a reading or counted as dropped, never both.
    if (block.size() + dropped > size + 1) __builtin_trap();
    std::vector<plib_data_t> entries;
    drv_parse_measure_data(reply, entries);
    // No reading without a closing line feed, and never NaN or infinity.
    if ((!block.empty() || !entries.empty()) && reply.back() != '\n') __builtin_trap();
    for (const auto* readings : {&block, &entries}) {
        if (readings->size() > size) __builtin_trap();
        for (const plib_data_t& d : *readings) {
            if (!std::isfinite(d.value)) __builtin_trap();
        }
    }
    for (const plib_data_t& d : entries) {
        if (d.timestamp < 0) __builtin_trap();
    }
    return 0;
}
