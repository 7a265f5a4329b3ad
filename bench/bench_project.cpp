// Project file with 32 instruments: the whole save (document, serialisation, atomic
// write with fsync) and the load (parse, then every section applied to its manager).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"

namespace {

constexpr int instrument_count = 32;

struct project_fixture_t {
    project_fixture_t() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velkaro_bench_XXXXXX").string();
        dir = mkdtemp(pattern.data());
        path = (std::filesystem::path(dir) / "bench.dmm").string();
        const char* models[] = {"VXA-1", "VXA-2", "VXA-2E", "VXA-3", "VXB-1", "VXB-2"};
        for (int i = 0; i < instrument_count; ++i) {
            plib_mngr_t* m = registry.create_mngr(models[i % 6]);
            cfg_main_t& c = *m->get_cfg();
            c.set_stop_time(0.1 * i);
            c.set_record_directory("/data/run " + std::to_string(i));
            c.set_curve_valid(1 + i % 16, true);
            const std::string res = "TCPIP0::10.0.0." + std::to_string(i + 1) + "::inst0::INSTR";
            c.set_info({res, false, false, 0});
            registry.bind_mngr(res, m);
        }
    }
    ~project_fixture_t() {
        registry.destroy_all();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    ui_connect_mngr_t registry;
    std::string dir;
    std::string path;
};

project_fixture_t& fixture() {
    static project_fixture_t f;
    return f;
}

void bm_save_project_32(benchmark::State& state) {
    project_fixture_t& f = fixture();
    for (auto _ : state) {
        if (f.registry.save_project(f.path) != 1) state.SkipWithError("save failed");
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(f.path));
}
BENCHMARK(bm_save_project_32)->Unit(benchmark::kMillisecond);

void bm_load_project_32(benchmark::State& state) {
    project_fixture_t& f = fixture();
    f.registry.save_project(f.path);
    std::vector<cfg_main_t*> targets;
    for (const auto& [res, m] : f.registry.bound()) targets.push_back(m->get_cfg());
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!cfg_project_file::load_file(doc, f.path)) state.SkipWithError("load failed");
        std::size_t i = 0;
        for (pugi::xml_node p = doc.child("root").child("project"); p && i < targets.size();
             p = p.next_sibling("project"))
            targets[i++]->load_section(p);
        benchmark::DoNotOptimize(i);
    }
}
BENCHMARK(bm_load_project_32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
