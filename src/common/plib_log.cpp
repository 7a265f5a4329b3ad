#include "common/plib_log.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {
std::mutex& sink_mutex() {
    static std::mutex m;
    return m;
}
// Guarded by sink_mutex().
plib_log_sink_t& sink() {
    static plib_log_sink_t s = plib_log_to_stdout;
    return s;
}
}  // namespace

void plib_log_to_stdout(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void plib_log(const std::string& line) {
    std::lock_guard<std::mutex> lock(sink_mutex());
    if (sink()) sink()(line);
}

plib_log_sink_t plib_set_log_sink(plib_log_sink_t s) {
    std::lock_guard<std::mutex> lock(sink_mutex());
    return std::exchange(sink(), std::move(s));
}
