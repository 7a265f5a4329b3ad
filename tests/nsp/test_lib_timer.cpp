// Timer service: periods, run counts, restart, enable, removal (also while a callback runs).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "nsp_src/lib/lib_timer/lib_timer.h"
#include "nsp_test_util.h"

namespace {

using nsp::timer::lib_timer_t;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

long long ms(clock_type::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// Counts runs and keeps their times; shared with the callback so it outlives a failed test.
struct run_log_t {
    std::mutex mutex;  // guards times
    std::vector<clock_type::time_point> times;
    std::atomic<int> runs{0};

    std::function<void(int)> callback() {
        return [this](int) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                times.push_back(clock_type::now());
            }
            ++runs;
        };
    }
};

TEST(lib_timer, periodic_task_runs_at_its_period_not_faster) {
    auto log = std::make_shared<run_log_t>();
    lib_timer_t& timer = lib_timer_t::instance();
    std::atomic<int> nonzero_args{0};
    const int id = timer.create_task(
        [log, &nonzero_args](int arg) {
            if (arg != 0) ++nonzero_args;
            log->callback()(arg);
        },
        200, -1, true);
    // Order and outcome: it runs again and again, and never sooner than its period after
    // the run before (a loaded machine can only make the gaps longer).
    ASSERT_TRUE(nsp_test::wait_for([&] { return log->runs.load() >= 4; }, 30000ms));
    timer.remove_task(id);
    EXPECT_EQ(nonzero_args.load(), 0);
    std::lock_guard<std::mutex> lock(log->mutex);
    ASSERT_GE(log->times.size(), 4u);
    for (std::size_t i = 1; i < log->times.size(); ++i) {
        EXPECT_GE(ms(log->times[i] - log->times[i - 1]), 195) << "run " << i;
    }
}

TEST(lib_timer, count_limits_runs_until_restart) {
    auto log = std::make_shared<run_log_t>();
    lib_timer_t& timer = lib_timer_t::instance();
    const int id = timer.create_task([log](int arg) { log->callback()(arg); }, 20, 3, true);
    ASSERT_TRUE(nsp_test::wait_for([&] { return log->runs.load() >= 3; }));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(log->runs.load(), 3);
    timer.restart_task(id, -1, true);
    ASSERT_TRUE(nsp_test::wait_for([&] { return log->runs.load() >= 6; }));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(log->runs.load(), 6);
    timer.remove_task(id);
}

TEST(lib_timer, restart_keeps_period_and_counts_from_zero) {
    auto log = std::make_shared<run_log_t>();
    lib_timer_t& timer = lib_timer_t::instance();
    const int id = timer.create_task([log](int arg) { log->callback()(arg); }, 300, -1, true);
    ASSERT_TRUE(nsp_test::wait_for([&] { return log->runs.load() >= 1; }));
    std::this_thread::sleep_for(200ms);  // two thirds of the period already elapsed
    const auto restarted = clock_type::now();
    timer.restart_task(id, -1, true);
    ASSERT_TRUE(nsp_test::wait_for([&] { return log->runs.load() >= 2; }));
    timer.remove_task(id);
    std::lock_guard<std::mutex> lock(log->mutex);
    // The first run after the restart comes a whole period after it (the period counts
    // from zero again; the first tick may count up to one tick from before it).
    EXPECT_GE(ms(log->times[1] - restarted), 300 - 15);
}

TEST(lib_timer, disabled_task_runs_only_once_enabled) {
    auto log = std::make_shared<run_log_t>();
    lib_timer_t& timer = lib_timer_t::instance();
    const int id = timer.create_task([log](int arg) { log->callback()(arg); }, 20, -1, false);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(log->runs.load(), 0);
    timer.restart_task(id, 20, true);
    EXPECT_TRUE(nsp_test::wait_for([&] { return log->runs.load() >= 1; }));
    timer.remove_task(id);
}

TEST(lib_timer, restart_of_unknown_id_violates_contract) {
    nsp_test::assert_recorder_t asserts;
    lib_timer_t& timer = lib_timer_t::instance();
    const int id = timer.create_task([](int) {}, 1000, -1, false);
    timer.remove_task(id);
    timer.restart_task(id, 20, true);
    EXPECT_EQ(asserts.exprs(), std::vector<std::string>{"0"});
}

TEST(lib_timer, callback_removes_its_own_task) {
    struct state_t {
        std::atomic<int> id{-1};
        std::atomic<int> runs{0};
        std::atomic<bool> returned{false};
    };
    auto state = std::make_shared<state_t>();
    lib_timer_t& timer = lib_timer_t::instance();
    state->id = timer.create_task(
        [state](int) {
            ++state->runs;
            lib_timer_t::instance().remove_task(state->id);
            state->returned = true;
        },
        20, -1, false);
    timer.restart_task(state->id, 20, true);
    ASSERT_TRUE(nsp_test::wait_for([&] { return state->returned.load(); }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(state->runs.load(), 1);
}

// The owner frees what the callback uses right after remove_task returns: the callback
// must be finished by then (under AddressSanitizer anything else is a use-after-free).
TEST(lib_timer, remove_waits_for_running_callback) {
    struct payload_t {
        int value = 0;
    };
    auto* payload = new payload_t;
    std::atomic<payload_t*> shared{payload};
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    lib_timer_t& timer = lib_timer_t::instance();
    const int id = timer.create_task(
        [&](int) {
            entered = true;
            std::this_thread::sleep_for(60ms);
            shared.load()->value += 1;
            finished = true;
        },
        10, 1, true);
    ASSERT_TRUE(nsp_test::wait_for([&] { return entered.load(); }));
    timer.remove_task(id);
    EXPECT_TRUE(finished.load());
    delete payload;
}

// A task collected in the same tick as a slow one and removed meanwhile must not run.
TEST(lib_timer, task_removed_after_collection_does_not_run) {
    struct state_t {
        std::atomic<bool> slow_entered{false};
        std::atomic<bool> release{false};
        std::atomic<int> victim_runs{0};
        std::atomic<int> slow_id{-1};
        std::atomic<int> victim_id{-1};
    };
    auto state = std::make_shared<state_t>();
    lib_timer_t& timer = lib_timer_t::instance();
    // Created from a callback, so no tick falls between the two creations: both are due together.
    const int starter = timer.create_task(
        [state](int) {
            lib_timer_t& t = lib_timer_t::instance();
            state->slow_id = t.create_task(
                [state](int) {
                    state->slow_entered = true;
                    nsp_test::wait_for([&] { return state->release.load(); }, 2000ms);
                },
                30, 1, true);
            state->victim_id = t.create_task([state](int) { ++state->victim_runs; }, 30, 1, true);
        },
        10, 1, true);
    ASSERT_TRUE(nsp_test::wait_for([&] { return state->slow_entered.load(); }));
    timer.remove_task(state->victim_id);  // collected, not running: returns at once
    state->release = true;
    timer.remove_task(state->slow_id);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(state->victim_runs.load(), 0);
    timer.remove_task(starter);
}

}  // namespace
