// Acquisition engine throughput: the tick pipeline (record buffer append, trend store,
// record-line formatting) without file I/O, the engine's whole tick through its
// message, and the resident memory of an idle and of a full engine.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "acq/acq_drv_adapter.h"
#include "acq/acq_main.h"
#include "acq/acq_record_file.h"
#include "acq/acq_trend.h"
#include "bench_memory.h"
#include "drv/drv_link.h"
#include "drv/if/drv_if.h"
#include "remote/remote_main.h"
// The bench targets do not link the test-support library; its launcher is compiled in.
#include "support/sim_process.cpp"

namespace {

std::vector<plib_data_t> make_batch(std::size_t n, int64_t t0) {
    std::vector<plib_data_t> b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i].value = 1.0 + 1e-6 * static_cast<double>(i % 977) - 3e-7 * static_cast<double>(i % 13);
        b[i].timestamp = t0 + static_cast<int64_t>(i) * 20;  // 50,000 readings per second
    }
    return b;
}

// Append + trend + formatting of one batch per iteration, as a tick does them.
void BM_tick_pipeline(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    int64_t t0 = 1730124309000000;
    std::vector<plib_data_t> buffer;
    buffer.reserve(acq_record_buffer_capacity);
    auto trend = std::make_unique<acq_trend_t>();
    trend->set_timebase(60);
    acq_record_line_formatter_t formatter;
    std::string text;
    std::vector<plib_data_t> batch = make_batch(n, t0);
    for (auto _ : state) {
        if (buffer.size() + n > acq_record_buffer_capacity) buffer.clear();
        buffer.insert(buffer.end(), batch.begin(), batch.end());
        trend->set_sample_period(200.0 * 1000.0 / static_cast<double>(n));
        trend->push_batch(batch);
        text.clear();
        formatter.append_lines(text, batch.data(), batch.size());
        benchmark::DoNotOptimize(text.data());
        state.PauseTiming();
        t0 += static_cast<int64_t>(n) * 20;
        for (std::size_t i = 0; i < n; ++i) batch[i].timestamp = t0 + static_cast<int64_t>(i) * 20;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_tick_pipeline)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Hands out the same batch on every fetch, re-stamped.
class bench_instrument_t : public acq_instrument_t {
public:
    explicit bench_instrument_t(std::size_t n) : m_batch(make_batch(n, 1730124309000000)) {}
    int init() override { return 0; }
    int set_trig_count_inf() override { return 0; }
    int set_trig_count(int) override { return 0; }
    int set_sample_count(int) override { return 0; }
    int read_measure_data(std::vector<plib_data_t>& data) override {
        data = m_batch;
        for (auto& r : m_batch) r.timestamp += static_cast<int64_t>(m_batch.size()) * 20;
        return 0;
    }

private:
    std::vector<plib_data_t> m_batch;
};

// The engine's whole tick through acq_trig_msg_t, logging to /dev/null (open, append,
// close every tick as in a real run, without a disk).
void BM_engine_tick(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const bool logging = state.range(1) != 0;
    bench_instrument_t instrument(n);
    acq_main_options_t opt;
    opt.periodic_task_enabled = false;
    acq_main_t engine(&instrument, opt);
    engine.set_record_info_callback([](plib_acq_file_record_param_t& p) { p.record_path = "/dev/null"; });
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_record_enable;
    p.record_enable = logging ? 1 : 0;
    engine.m_acq_record_parameter_data_msg.send(p);
    engine.set_run_state(1);
    for (auto _ : state) {
        engine.m_acq_trig_msg.send();
        unsigned int num = 0;
        state.PauseTiming();
        engine.m_acq_original_data_num_msg.fetch(num);
        if (num + n > acq_record_buffer_capacity) engine.set_run_state(0), engine.set_run_state(1);
        state.ResumeTiming();
    }
    engine.set_run_state(0);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_engine_tick)->Args({10000, 0})->Args({10000, 1})->UseRealTime()->Unit(benchmark::kMicrosecond);

// A tick of a full buffer that keeps the latest readings (the state of every long run in
// that mode): each tick drops as many old readings as it adds.
void BM_engine_tick_full_keep_latest(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    bench_instrument_t instrument(n);
    acq_main_options_t opt;
    opt.periodic_task_enabled = false;
    acq_main_t engine(&instrument, opt);
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_buffer_mode;
    p.buffer_mode = acq_buffer_mode_keep_latest;
    engine.m_acq_record_parameter_data_msg.send(p);
    engine.set_run_state(1);
    for (std::size_t filled = 0; filled < acq_record_buffer_capacity + n; filled += n)
        engine.m_acq_trig_msg.send();
    for (auto _ : state) engine.m_acq_trig_msg.send();
    engine.set_run_state(0);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_engine_tick_full_keep_latest)->Arg(50000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Resident memory an engine adds: the first one (with the process-wide timer thread and
// compression table), each further idle one, and one whose record buffer is full.
void BM_resident_memory(benchmark::State& state) {
    for (auto _ : state) {
        bench_instrument_t idle_instrument(1);
        acq_main_options_t opt;
        opt.periodic_task_enabled = false;
        const long before = resident_kib();
        auto first = std::make_unique<acq_main_t>(&idle_instrument, opt);
        const long after_first = resident_kib();
        std::vector<std::unique_ptr<acq_main_t>> more;
        for (int i = 0; i < 4; ++i) more.push_back(std::make_unique<acq_main_t>(&idle_instrument, opt));
        const long after_more = resident_kib();
        more.clear();

        bench_instrument_t instrument(655360);
        auto engine = std::make_unique<acq_main_t>(&instrument, opt);
        const long before_full = resident_kib();
        engine->set_run_state(1);
        for (int i = 0; i < 10; ++i) engine->m_acq_trig_msg.send();
        const long full = resident_kib();
        engine->set_run_state(0);
        state.counters["first_engine_MiB"] = static_cast<double>(after_first - before) / 1024.0;
        state.counters["idle_engine_MiB"] = static_cast<double>(after_more - after_first) / 4.0 / 1024.0;
        state.counters["full_buffer_MiB"] = static_cast<double>(full - before_full) / 1024.0;
    }
}
BENCHMARK(BM_resident_memory)->Iterations(1)->Unit(benchmark::kMillisecond);

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Link engine + driver + engine against the simulator at its fastest rate (1,000,000
// readings/s), logging to a file, with the default 200 ms period. The VXB family carries
// the instrument's own timestamps, one microsecond apart, so readings the instrument
// produced between the run's first and last reading are (last - first) + 1; fewer
// accepted readings mean losses. Seconds: VELKARO_BENCH_E2E_SECONDS (default 20).
void BM_end_to_end(benchmark::State& state) {
    const char* env = std::getenv("VELKARO_BENCH_E2E_SECONDS");
    const int seconds = env ? std::max(1, std::atoi(env)) : 20;
    for (auto _ : state) {
        velkaro_test::use_test_portmapper_port();
        velkaro_test::sim_process_t sim("VXB-1", {"--fast"});
        if (!sim.ok()) {
            state.SkipWithError("simulator did not start");
            return;
        }
        remote_main_t link;
        unsigned long session = 0;
        if (link.open(sim.instr_resource(), session) != 0) {
            state.SkipWithError("open failed");
            return;
        }
        drv_remote_link_t remote_link(link);
        drv_if_t driver(&remote_link, "VXB-1");
        driver.set_session(session);
        acq_drv_adapter_t instrument(driver);
        char dir_pattern[] = "/tmp/velkaro_bench_acq_XXXXXX";
        const std::string dir = mkdtemp(dir_pattern) ? dir_pattern : "/tmp";
        uint64_t lines = 0;
        double cpu = 0.0;
        plib_record_run_state_info_t info;
        plib_data_t last{};
        {
            acq_main_t engine(&instrument);
            engine.set_record_info_callback([&](plib_acq_file_record_param_t& p) {
                acq_fill_record_param(p, "M", "VXB-1", "SN", "fw", "V1.0.3", "DC Voltage", dir, "bench");
            });
            plib_record_parameter_set_msg_t p;
            p.kind = record_kind_record_enable;
            p.record_enable = 1;
            engine.m_acq_record_parameter_data_msg.send(p);
            const double cpu0 = cpu_seconds();
            engine.set_run_state(1);
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            engine.set_run_state(0);
            cpu = cpu_seconds() - cpu0;
            engine.m_acq_record_run_state_info_msg.fetch(info);
            engine.m_acq_latest_msg.fetch(last);
        }
        const std::string path = dir + "/bench DC Voltage VXB-1 SN.csv";
        std::ifstream in(path, std::ios::binary);
        std::vector<char> buf(1 << 20);
        while (in) {
            in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
            for (std::streamsize i = 0; i < in.gcount(); ++i)
                lines += buf[static_cast<std::size_t>(i)] == '\n';
        }
        std::remove(path.c_str());
        std::filesystem::remove(dir);
        link.close(session);
        const double produced = static_cast<double>(last.timestamp - info.start_timestamp) + 1.0;
        const double logged = static_cast<double>(lines >= 10 ? lines - 10 : 0);
        state.counters["logged_per_s"] = logged / seconds;
        state.counters["accepted"] = info.total_count;
        state.counters["logged"] = logged;
        state.counters["lost"] = produced - static_cast<double>(info.total_count);
        state.counters["cpu_s_per_million"] = logged > 0 ? cpu / (logged / 1e6) : 0.0;
    }
}
BENCHMARK(BM_end_to_end)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
