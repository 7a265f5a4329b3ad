// Command-line settings of the simulator, filled by main() and read by every part.
#pragma once

#include <string>

namespace vx_sim {

struct sim_options_t {
    std::string model = "VXA-2";
    std::string address = "127.0.0.2";
    int portmapper_port = 111;
    int vxi11_port = 0;  // 0: ephemeral, announced through the portmapper
    int socket_port = 5025;
    std::string serial = "NL2611A0042";
    std::string firmware = "2.03.11";
    std::string private_model;  // empty: the model itself
    bool scan_card = true;
    std::string log_path;  // empty: no log; "-": standard error
    int reply_delay_ms = 0;
    long long drop_after = 0;  // 0: never
    double drop_at_s = 0.0;    // 0: never
    // A network outage: after this many commands (0: never) every link closes and new ones
    // are refused for outage_s seconds, while the instrument goes on measuring; then the
    // network is back. outage_serial, when set, is the serial number *IDN? reports after it
    // (another instrument came back at the address).
    long long outage_after = 0;
    double outage_s = 3.0;
    std::string outage_serial;
    bool garbage = false;
    bool truncate = false;
    bool fast = false;    // readings at 1,000,000/s whatever the settings
    int non_numbers = 0;  // pieces that are no number added to every "R?" block
    int max_connections = 16;
    std::string udef_rtd;  // user-defined transducer names, comma-separated
    std::string udef_ther;
};

}  // namespace vx_sim
