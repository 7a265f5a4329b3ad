// The search settings the GUI's Preferences saved (hosts, CIDR ranges, portmapper port),
// read from the same file with the same reader (QtCore's QSettings), so that
// `velkaro-cli find` without --hosts and --ranges probes what the GUI's search probes.
// Without QtCore at build time nothing is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velkaro_cli {

struct cli_search_preferences_t {
    std::vector<std::string> hosts;
    std::vector<std::string> ranges;
    uint16_t portmapper_port = 0;  // 0: not saved
};

cli_search_preferences_t load_search_preferences();

}  // namespace velkaro_cli
