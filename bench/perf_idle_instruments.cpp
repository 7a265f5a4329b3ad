// Resident memory of connected, idle instruments in the core (no GUI): creates one
// instrument manager per resource through the registry, binds and connects it as
// the program does, and prints the process's resident set before, after the first
// and after the last, as JSON on standard output.
//
// usage: perf_idle_instruments MODEL RESOURCE...
// Exit codes: 0 done, 2 bad arguments, 3 a connection failed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_memory.h"
#include "cfg/cfg_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: perf_idle_instruments MODEL RESOURCE...\n");
        return 2;
    }
    const std::string model = argv[1];
    ui_connect_mngr_t& registry = ui_connect_mngr_t::instance();
    std::vector<std::pair<plib_mngr_t*, std::string>> managers;
    const long before = resident_kib();
    long after_first = before;
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string resource = argv[i];
        plib_mngr_t* mngr = registry.create_mngr(model);
        if (mngr == nullptr || registry.bind_mngr(resource, mngr) != 1) {
            std::fprintf(stderr, "perf_idle_instruments: cannot register %s\n", resource.c_str());
            status = 3;
            break;
        }
        managers.emplace_back(mngr, resource);
        cfg_remote_info_t info;
        info.resource = resource;
        mngr->get_cfg()->set_info(info);
        if (mngr->get_cfg()->connect(1) != cfg_remote_t::result_ok) {
            std::fprintf(stderr, "perf_idle_instruments: cannot connect to %s\n", resource.c_str());
            status = 3;
            break;
        }
        if (i == 2) after_first = resident_kib();
    }
    // Idle for a moment: the engine threads settle into their polls.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long after_all = resident_kib();
    const std::size_t n = managers.size();
    std::printf(
        "{\"instruments\": %zu, \"before_kib\": %ld, \"after_first_kib\": %ld, \"after_all_kib\": %ld, "
        "\"per_instrument_mib\": %.3f, \"per_further_instrument_mib\": %.3f}\n",
        n, before, after_first, after_all,
        n > 0 ? static_cast<double>(after_all - before) / static_cast<double>(n) / 1024.0 : 0.0,
        n > 1 ? static_cast<double>(after_all - after_first) / static_cast<double>(n - 1) / 1024.0 : 0.0);
    std::fflush(stdout);
    for (auto& [mngr, resource] : managers) registry.release_mngr(mngr, resource);
    return status;
}
