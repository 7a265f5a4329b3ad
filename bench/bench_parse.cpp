// Parse rate of the two reading fetch replies with 1,000,000 readings each: our
// parsers (std::from_chars over the reply in place) next to a stream-extraction
// baseline (std::getline into pieces, `istringstream >> double`) and a floor that
// only calls std::from_chars over the same numbers (no splitting, no checks, no
// timestamps, nothing stored), in the same run. Bytes/s and items/s (readings) are
// reported by the counters.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "drv/drv_parse.h"

namespace {

constexpr int reading_count = 1000000;

std::string make_values(bool with_timestamps) {
    std::string text;
    text.reserve(reading_count * (with_timestamps ? 34 : 16));
    char piece[64];
    for (int i = 0; i < reading_count; ++i) {
        const double value = (i % 2 ? -1.0 : 1.0) * (0.000123456789 * (i % 9973) + 1.5e-3);
        int n = std::snprintf(piece, sizeof piece, "%s%+.8E", i ? "," : "", value);
        text.append(piece, static_cast<std::size_t>(n));
        if (with_timestamps) {
            n = std::snprintf(piece, sizeof piece, ":%lld", 1765350000000000LL + i);
            text.append(piece, static_cast<std::size_t>(n));
        }
    }
    return text;
}

const std::string& block_reply() {
    static const std::string reply = [] {
        const std::string data = make_values(false);
        const std::string length = std::to_string(data.size());
        return "#" + std::to_string(length.size()) + length + data + "\n";
    }();
    return reply;
}

const std::string& measure_data_reply() {
    static const std::string reply = make_values(true) + "\n";
    return reply;
}

void set_counters(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * reading_count);
}

void bm_block_from_chars(benchmark::State& state) {
    const std::string& reply = block_reply();
    std::vector<plib_data_t> data;
    for (auto _ : state) {
        data.clear();
        drv_parse_block_readings(reply, data);
        benchmark::DoNotOptimize(data.data());
    }
    if (data.size() != reading_count) state.SkipWithError("wrong reading count");
    set_counters(state, reply.size());
}

void bm_block_stream_baseline(benchmark::State& state) {
    const std::string& reply = block_reply();
    std::vector<plib_data_t> data;
    for (auto _ : state) {
        data.clear();
        const std::size_t digits = static_cast<std::size_t>(reply[1] - '0');
        std::istringstream in(reply.substr(digits + 2, reply.size() - digits - 3));
        for (std::string piece; std::getline(in, piece, ',');) {
            std::istringstream number(piece);
            double value = 0.0;
            number >> value;
            data.push_back({value, drv_now_us()});
        }
        benchmark::DoNotOptimize(data.data());
    }
    if (data.size() != reading_count) state.SkipWithError("wrong reading count");
    set_counters(state, reply.size());
}

void bm_measure_data_from_chars(benchmark::State& state) {
    const std::string& reply = measure_data_reply();
    std::vector<plib_data_t> data;
    for (auto _ : state) {
        data.clear();
        drv_parse_measure_data(reply, data);
        benchmark::DoNotOptimize(data.data());
    }
    if (data.size() != reading_count) state.SkipWithError("wrong reading count");
    set_counters(state, reply.size());
}

void bm_measure_data_stream_baseline(benchmark::State& state) {
    const std::string& reply = measure_data_reply();
    std::vector<plib_data_t> data;
    for (auto _ : state) {
        data.clear();
        std::istringstream in(reply.substr(0, reply.size() - 1));
        for (std::string entry; std::getline(in, entry, ',');) {
            const std::size_t colon = entry.find(':');
            if (colon == std::string::npos) continue;
            std::istringstream value_in(entry.substr(0, colon));
            std::istringstream time_in(entry.substr(colon + 1));
            plib_data_t reading;
            unsigned long long timestamp = 0;
            if (!(value_in >> reading.value) || !(time_in >> timestamp)) continue;
            reading.timestamp = static_cast<int64_t>(timestamp);
            data.push_back(reading);
        }
        benchmark::DoNotOptimize(data.data());
    }
    if (data.size() != reading_count) state.SkipWithError("wrong reading count");
    set_counters(state, reply.size());
}

// The floor: the conversions alone. Each number starts with a sign ('+' is skipped,
// std::from_chars takes only '-'), the separator after it is stepped over unchecked.
void bm_block_floor(benchmark::State& state) {
    const std::string& reply = block_reply();
    const std::size_t digits = static_cast<std::size_t>(reply[1] - '0');
    const char* const first = reply.data() + digits + 2;
    const char* const last = reply.data() + reply.size() - 1;
    std::size_t count = 0;
    for (auto _ : state) {
        double sum = 0.0;
        count = 0;
        for (const char* p = first; p < last;) {
            if (*p == '+') ++p;
            double value = 0.0;
            p = std::from_chars(p, last, value).ptr + 1;
            sum += value;
            ++count;
        }
        benchmark::DoNotOptimize(sum);
    }
    if (count != reading_count) state.SkipWithError("wrong reading count");
    set_counters(state, reply.size());
}

void bm_measure_data_floor(benchmark::State& state) {
    const std::string& reply = measure_data_reply();
    const char* const first = reply.data();
    const char* const last = reply.data() + reply.size() - 1;
    std::size_t count = 0;
    for (auto _ : state) {
        double sum = 0.0;
        long long stamps = 0;
        count = 0;
        for (const char* p = first; p < last;) {
            if (*p == '+') ++p;
            double value = 0.0;
            p = std::from_chars(p, last, value).ptr + 1;
            long long timestamp = 0;
            p = std::from_chars(p, last, timestamp).ptr + 1;
            sum += value;
            stamps += timestamp;
            ++count;
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(stamps);
    }
    if (count != reading_count) state.SkipWithError("wrong reading count");
    set_counters(state, reply.size());
}

}  // namespace

BENCHMARK(bm_block_from_chars)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_block_stream_baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_block_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_measure_data_from_chars)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_measure_data_stream_baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_measure_data_floor)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
