// Fuzz target: identification replies ("*IDN?", "IDN-MRQX-PRI?", "MACHINE_INFO?").
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cfg/cfg_remote.h"
#include "drv/drv_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const cfg_identity_t id = cfg_parse_identification(reply);
    const std::size_t total = id.manufacturer.size() + id.product_type.size() + id.serial_number.size() +
                              id.software_version.size();
    if (total > 4 * size) __builtin_trap();
    const std::string vxa = drv_parse_vxa_private_model(reply);
    if (!vxa.empty() && (vxa.size() + 14 > size || vxa.find('\n') != std::string::npos)) __builtin_trap();
    const std::string vxb = drv_parse_vxb_private_model(reply);
    if (vxb.size() > size || vxb.find('\n') != std::string::npos) __builtin_trap();
    return 0;
}
