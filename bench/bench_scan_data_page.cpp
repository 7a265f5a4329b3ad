// GUI-thread cost of one scan data notification on the Scan Data page, offscreen: the
// copies of the latest readings, statistics and run state fetched from the engine and
// the in-place text update of the 16-row result table, with every channel holding
// the per-channel limit of 655,360 readings (the copies must not grow with them).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "scan/scan_main.h"
#include "ui/ui_primary_window/ui_scan_channel_result_widget.h"
#include "ui/ui_primary_window/ui_scan_data_frame.h"

namespace {

constexpr int channels = 16;

// Two readings per channel per fetch; the fetch after fill_next() fills every channel
// up to the limit.
class bench_scanner_t : public scan_instrument_t {
public:
    int get_scan_channel_count() override { return channels; }
    int read_scan_data(plib_scan_data_map_t& data) override {
        data.clear();
        const std::size_t n = m_fill ? scan_stored_per_channel_limit : 2;
        m_fill = false;
        for (int c = 1; c <= channels; ++c) {
            auto& list = data[c];
            list.resize(n);
            for (auto& d : list) d = {1.0 + 1e-6 * static_cast<double>(m_t % 977), m_t++};
        }
        return 0;
    }
    int set_scan_start(int) override { return 0; }
    void fill_next() { m_fill = true; }

private:
    bool m_fill = false;
    int64_t m_t = 1730124309000000;
};

void BM_scan_data_notification(benchmark::State& state) {
    bench_scanner_t scanner;
    scan_main_options_t options;
    options.periodic_task_enabled = false;
    scan_main_t engine(&scanner, options);
    plib_scanner_channel_map_t params;
    for (int c = 1; c <= channels; ++c) {
        params[c].scan_state = 1;
        params[c].scan_counts = 1;
        params[c].alarm_limit = c % 4;
        params[c].limit_low = 0.5;
        params[c].limit_high = 1.0005;
    }
    engine.set_record_info_callback(
        [&params](plib_scanner_channel_map_t& p, plib_scan_file_record_param_t&) { p = params; });
    engine.set_run_state(1);
    engine.m_scan_trig_msg.send();  // meets the start condition
    scanner.fill_next();
    engine.m_scan_trig_msg.send();  // the readings up to the limit
    ui_scan_channel_result_widget_t table(nullptr, channels);
    for (auto _ : state) {
        state.PauseTiming();
        engine.m_scan_trig_msg.send();  // new values to show (not timed)
        state.ResumeTiming();
        plib_scan_latest_map_t latest;
        plib_scan_statistic_map_t stats;
        plib_scan_run_state_t run;
        engine.m_scan_latest_data_msg.fetch(latest);
        engine.m_scan_statistic_data_msg.fetch(stats);
        engine.m_scan_run_state_info_msg.fetch(run);
        table.show_results(latest, stats, params);
        benchmark::DoNotOptimize(ui_scan_data_frame_t::elapsed_text(run.elapsed_s));
        benchmark::DoNotOptimize(ui_scan_data_frame_t::cycles_text(run.readings_count, channels));
    }
    plib_scan_data_map_t stored;
    engine.m_scan_original_data_msg.fetch(stored);
    state.counters["stored_per_channel"] = static_cast<double>(stored[1].size());
    engine.set_run_state(0);
}
BENCHMARK(BM_scan_data_notification)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
