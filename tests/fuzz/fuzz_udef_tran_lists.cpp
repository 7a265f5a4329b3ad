// Fuzz target: the user-defined transducer list parser.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "drv/drv_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    std::vector<drv_temp_sensor_t> sensors;
    drv_parse_udef_tran_list(reply, 1, sensors);
    std::size_t total = 0;
    for (const drv_temp_sensor_t& s : sensors) {
        // Only named, displayable, user-defined entries.
        if (s.name.empty() || s.name == "NONE" || !drv_is_utf8(s.name) || s.define != 1 || s.type != 1)
            __builtin_trap();
        total += s.name.size();
    }
    if (total > size) __builtin_trap();
    return 0;
}
