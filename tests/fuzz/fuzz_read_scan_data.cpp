// Fuzz target: the scanner reply parser ("ROUT:DATA:REMOVE?").
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "drv/drv_parse.h"

namespace {
int64_t fixed_clock() { return 1; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    plib_scan_data_map_t channels;
    drv_parse_scan_data(reply, channels, fixed_clock);
    if (channels.size() > drv_max_scan_channels) __builtin_trap();
    std::size_t readings = 0;
    for (const auto& entry : channels) {
        readings += entry.second.size();
        for (const plib_data_t& d : entry.second) {
            if (!std::isfinite(d.value)) __builtin_trap();
        }
    }
    if (readings > size) __builtin_trap();
    return 0;
}
