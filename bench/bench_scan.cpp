// Scan engine costs: one single-file log tick after one minute and after 24 hours of
// 16 channels at 10 readings/s each (the per-tick cost must not grow with the file), and
// readings per second through the whole scan tick without file I/O.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "scan/scan_main.h"
#include "scan/scan_record_file.h"

namespace {

constexpr int channels = 16;
constexpr int readings_per_second = 10;
constexpr int ticks_per_second = 5;  // 200 ms poll
constexpr int per_tick = readings_per_second / ticks_per_second;

std::string temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velkaro_bench_scan_XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// The single log file after `seconds` of scanning, then one tick per iteration. Half the
// channels lag one reading behind (a sweep cut by the poll), as on a real card.
void BM_single_file_tick(benchmark::State& state) {
    const int64_t seconds = state.range(0);
    const std::string dir = temp_dir();
    scan_csv_table_file_t table;
    std::vector<std::string> titles;
    for (int c = 1; c <= channels; ++c) titles.push_back(scan_column_title(c, "", 0));
    if (!table.create(dir + "/bench.csv", titles)) {
        state.SkipWithError("cannot create the file");
        return;
    }
    double v = 0.1;
    // Fill in slices of 10 minutes, so the set-up needs little memory.
    const int64_t total = seconds * readings_per_second;
    for (int64_t done = 0; done < total;) {
        const int64_t n = std::min<int64_t>(6000, total - done);
        std::map<std::size_t, std::vector<double>> add;
        for (std::size_t c = 0; c < channels; ++c)
            for (int64_t i = 0; i < n - (c >= channels / 2 && done + n == total ? 1 : 0); ++i)
                add[c].push_back(v += 1e-3);
        table.append(add);
        done += n;
    }
    std::map<std::size_t, std::vector<double>> tick;
    for (std::size_t c = 0; c < channels; ++c) tick[c] = std::vector<double>(per_tick, 0.0);
    for (auto _ : state) {
        for (auto& e : tick)
            for (double& x : e.second) x = (v += 1e-3);
        if (!table.append(tick)) {
            state.SkipWithError("append failed");
            break;
        }
    }
    state.counters["rows"] = static_cast<double>(table.row_count());
    state.counters["file_MB"] =
        static_cast<double>(std::filesystem::file_size(dir + "/bench.csv")) / (1024.0 * 1024.0);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_single_file_tick)
    ->Arg(60)
    ->Arg(24 * 3600)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300)
    ->UseRealTime();

// A scanner that hands out `per_channel` readings on each of 16 channels per fetch.
class bench_scanner_t : public scan_instrument_t {
public:
    explicit bench_scanner_t(std::size_t per_channel) : m_per_channel(per_channel) {}
    int get_scan_channel_count() override { return channels; }
    int read_scan_data(plib_scan_data_map_t& data) override {
        data.clear();
        for (int c = 1; c <= channels; ++c) {
            auto& list = data[c];
            list.resize(m_per_channel);
            for (auto& d : list) d = {1.0 + 1e-6 * static_cast<double>(m_t % 977), m_t++};
        }
        return 0;
    }
    int set_scan_start(int) override { return 0; }

private:
    std::size_t m_per_channel;
    int64_t m_t = 1730124309000000;
};

// The whole tick (fetch, scaling, limit, store, statistics, count) through scan_trig_msg_t.
void BM_scan_tick(benchmark::State& state) {
    bench_scanner_t scanner(static_cast<std::size_t>(state.range(0)));
    scan_main_options_t options;
    options.periodic_task_enabled = false;
    scan_main_t engine(&scanner, options);
    engine.set_record_info_callback([](plib_scanner_channel_map_t& params, plib_scan_file_record_param_t&) {
        for (int c = 1; c <= channels; ++c) {
            params[c].scan_state = 1;
            params[c].scaling = c % 2;
            params[c].gain = 2.0;
        }
    });
    engine.set_run_state(1);
    engine.m_scan_trig_msg.send();  // meets the start condition
    for (auto _ : state) engine.m_scan_trig_msg.send();
    state.SetItemsProcessed(state.iterations() * state.range(0) * channels);
    engine.set_run_state(0);
}
BENCHMARK(BM_scan_tick)->Arg(2)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
