// velkaro-cli run as a child process (no shell), talking to the simulators through
// the test portmapper port.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_exit.h"
#include "support/run_process.h"
#include "support/sim_process.h"

namespace velkaro_test {

inline process_result_t run_cli(const std::vector<std::string>& args, int timeout_ms = 60000) {
    use_test_portmapper_port();  // inherited by the child
    return run_process(VELKARO_CLI_PATH, args, timeout_ms);
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace velkaro_test
