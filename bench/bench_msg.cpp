// Cost of one message round trip into an engine thread, next to the bare hand-over it
// is built on: a mutex + condition-variable ping-pong between two threads.
// Run: bench_msg --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// and compare the medians (target: round trip <= 1.5 x ping-pong).
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "nsp_src/lib/thd/lib_thd_msg.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"

namespace {

class echo_msg_t : public nsp::thd::msg_t<int> {
protected:
    int on_set(int& value) override { return value; }
};

void bm_msg_round_trip(benchmark::State& state) {
    echo_msg_t msg;
    nsp::thd::msg_manager_t manager;
    std::atomic<bool> quit{false};
    manager.register_msg(&msg);
    std::thread engine([&] { nsp::thd::run_dispatch_loop(manager, quit, "bench_engine", 100); });
    int value = 0;
    for (auto _ : state) {
        ++value;
        benchmark::DoNotOptimize(msg.send(value));
    }
    quit.store(true);
    engine.join();
}
BENCHMARK(bm_msg_round_trip)->UseRealTime();

void bm_cv_ping_pong(benchmark::State& state) {
    std::mutex mutex;  // guards turn and stop
    std::condition_variable to_worker;
    std::condition_variable to_caller;
    int turn = 0;  // 1: worker's turn, 0: caller's
    bool stop = false;
    std::thread worker([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            to_worker.wait(lock, [&] { return turn == 1 || stop; });
            if (stop) return;
            turn = 0;
            to_caller.notify_one();
        }
    });
    for (auto _ : state) {
        std::unique_lock<std::mutex> lock(mutex);
        turn = 1;
        to_worker.notify_one();
        to_caller.wait(lock, [&] { return turn == 0; });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    to_worker.notify_one();
    worker.join();
}
BENCHMARK(bm_cv_ping_pong)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
