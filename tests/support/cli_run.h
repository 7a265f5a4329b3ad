// Runs velkaro-cli through the shell with the test portmapper port, bounded by
// timeout(1), and captures standard output and error together.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace velkaro_test {

struct run_result_t {
    int exit_code = -1;
    std::string output;  // standard output and standard error
};

inline run_result_t run_cli(const std::string& arguments, int timeout_s = 30) {
    run_result_t result;
    const std::string command = "VELKARO_VXI11_PORTMAPPER_PORT=11111 timeout " + std::to_string(timeout_s) +
                                " " + std::string(VELKARO_CLI_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        result.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace velkaro_test
