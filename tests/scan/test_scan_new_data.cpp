// The engine's "readings not seen yet" read-out: exactly the new readings per channel,
// indexes that survive the per-channel limit, and a new memory at every start and clear.
#include <random>
#include <thread>

#include "scan_test_util.h"

namespace {

std::vector<plib_data_t> numbered(std::size_t n, double first) {
    std::vector<plib_data_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = {first + static_cast<double>(i), static_cast<int64_t>(scan_test_t0 + first + i)};
    return v;
}

std::vector<double> values(const std::vector<plib_data_t>& v) {
    std::vector<double> r;
    for (const auto& d : v) r.push_back(d.value);
    return r;
}

// A reader that follows the engine the way the scan chart does.
struct follower_t {
    uint64_t memory_id = 0;
    std::map<int, std::vector<plib_data_t>> copy;
    std::map<int, uint64_t> next;
    std::map<int, uint64_t> gaps;  // readings the engine dropped before this reader saw them

    plib_scan_new_data_t poll(scan_main_t& engine) {
        plib_scan_new_data_t d;
        d.memory_id = memory_id;
        d.from = next;
        EXPECT_EQ(engine.m_scan_new_data_msg.fetch(d), 0);
        if (d.current_memory_id != memory_id) {
            copy.clear();
            next.clear();
            gaps.clear();
            memory_id = d.current_memory_id;
        }
        for (const auto& [ch, tail] : d.channels) {
            auto& v = copy[ch];
            EXPECT_GE(tail.first_index, tail.oldest_index);
            EXPECT_EQ(tail.end_index - tail.first_index, tail.readings.size());
            // The copy keeps what the engine keeps: readings older than its oldest go.
            const uint64_t have_from = next[ch] - v.size();
            if (tail.oldest_index > have_from) {
                const uint64_t drop = std::min<uint64_t>(tail.oldest_index - have_from, v.size());
                v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(drop));
            }
            if (tail.first_index > next[ch]) gaps[ch] += tail.first_index - next[ch];
            v.insert(v.end(), tail.readings.begin(), tail.readings.end());
            next[ch] = tail.end_index;
        }
        return d;
    }
};

}  // namespace

TEST_F(scan_engine_fixture_t, new_data_returns_exactly_the_readings_after_the_index) {
    start_scanning();
    clock_us += 500000;
    tick_with({{1, readings({1, 2, 3})}, {2, readings({10})}});
    follower_t f;
    auto d = f.poll(*engine);
    EXPECT_NE(d.current_memory_id, 0u);
    EXPECT_EQ(values(d.channels.at(1).readings), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(d.channels.at(1).first_index, 0u);
    EXPECT_EQ(d.channels.at(1).end_index, 3u);
    EXPECT_EQ(d.channels.size(), 16u);
    EXPECT_EQ(d.run.start_timestamp, scan_test_t0);
    EXPECT_DOUBLE_EQ(d.run.elapsed_s, 0.5);
    EXPECT_EQ(d.run.readings_count, 4u);

    tick_with({{1, readings({4, 5})}});
    d = f.poll(*engine);
    EXPECT_EQ(values(d.channels.at(1).readings), (std::vector<double>{4, 5}));
    EXPECT_EQ(d.channels.at(1).first_index, 3u);
    EXPECT_EQ(d.channels.at(1).end_index, 5u);
    EXPECT_TRUE(d.channels.at(2).readings.empty());
    EXPECT_EQ(d.channels.at(2).first_index, 1u);

    // Nothing new: nothing copied.
    d = f.poll(*engine);
    for (const auto& [ch, tail] : d.channels) EXPECT_TRUE(tail.readings.empty()) << ch;

    // An index from the caller's future (a wrong caller) is answered with nothing.
    plib_scan_new_data_t ahead;
    ahead.memory_id = f.memory_id;
    ahead.from[1] = 99;
    engine->m_scan_new_data_msg.fetch(ahead);
    EXPECT_TRUE(ahead.channels.at(1).readings.empty());
    EXPECT_EQ(ahead.channels.at(1).first_index, 5u);
    EXPECT_EQ(f.copy.at(1).size(), stored().at(1).size());
}

// A new run and a clear give a new memory; the caller's old indexes are then ignored.
TEST_F(scan_engine_fixture_t, new_data_starts_over_at_a_new_run_and_at_a_clear) {
    start_scanning();
    tick_with({{1, readings({1, 2, 3})}});
    follower_t f;
    f.poll(*engine);
    const uint64_t first_memory = f.memory_id;

    struct step_t {
        const char* what;
        std::function<void()> act;
    };
    const std::vector<step_t> steps = {
        {"new run",
         [&] {
             engine->set_run_state(0);
             start_scanning();
         }},
        {"clear", [&] { param(scan_param_clear_data, [](auto&) {}); }},
    };
    uint64_t previous = first_memory;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        tick_with({{1, readings({7, 8})}});
        const auto d = f.poll(*engine);
        EXPECT_NE(d.current_memory_id, previous);
        EXPECT_EQ(d.channels.at(1).first_index, 0u);
        EXPECT_EQ(values(d.channels.at(1).readings), (std::vector<double>{7, 8}));
        EXPECT_EQ(values(f.copy.at(1)), (std::vector<double>{7, 8}));
        previous = d.current_memory_id;
    }
}

// At the per-channel limit the engine drops its oldest readings; indexes keep counting,
// the oldest index moves on, and a caller behind it gets the readings from the oldest
// still held (the gap tells how many it missed).
TEST_F(scan_engine_fixture_t, new_data_indexes_keep_counting_at_the_limit) {
    const std::size_t limit = scan_stored_per_channel_limit;
    start_scanning();
    tick_with({{1, numbered(limit - 2, 0.0)}});
    follower_t f;
    f.poll(*engine);
    follower_t late;  // reads its first readings only after the drop
    late.poll(*engine);
    late.next[1] = 3;  // pretends to have seen three readings only

    tick_with({{1, numbered(10, 1e7)}});
    auto d = f.poll(*engine);
    const auto& tail = d.channels.at(1);
    EXPECT_EQ(tail.end_index, limit + 8);
    EXPECT_EQ(tail.oldest_index, 8u);
    EXPECT_EQ(tail.first_index, limit - 2);
    ASSERT_EQ(tail.readings.size(), 10u);
    EXPECT_EQ(tail.readings.front().value, 1e7);
    EXPECT_EQ(values(f.copy.at(1)), values(stored().at(1)));

    auto dl = late.poll(*engine);
    EXPECT_EQ(dl.channels.at(1).first_index, 8u);
    EXPECT_EQ(late.gaps[1], 5u);
    EXPECT_EQ(dl.channels.at(1).readings.size(), limit);

    // A batch above the limit: its oldest readings are counted and never held.
    tick_with({{1, numbered(limit + 5, 2e7)}});
    d = f.poll(*engine);
    EXPECT_EQ(d.channels.at(1).end_index, 2 * limit + 13);
    EXPECT_EQ(d.channels.at(1).oldest_index, limit + 13);
    EXPECT_EQ(d.channels.at(1).first_index, limit + 13);
    EXPECT_EQ(f.gaps[1], 5u);
    EXPECT_EQ(d.channels.at(1).readings.front().value, 2e7 + 5);
    EXPECT_EQ(values(f.copy.at(1)), values(stored().at(1)));
}

// A reader on another thread following a run of random batches ends with exactly the
// engine's stored readings (also the lock check under the thread sanitizer).
TEST_F(scan_engine_fixture_t, new_data_follower_on_another_thread_matches_the_stored_readings) {
    start_scanning();
    std::atomic<bool> done{false};
    follower_t f;
    std::thread reader([&] {
        for (int i = 0; i < 5000 && !done.load(); ++i) {
            f.poll(*engine);
            std::this_thread::yield();
        }
    });
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> size(0, 40000);
    double next_value = 0.0;
    for (int t = 0; t < 40; ++t) {
        plib_scan_data_map_t batch;
        for (int ch : {1, 4, 16}) {
            const std::size_t n = static_cast<std::size_t>(size(rng));
            batch[ch] = numbered(n, next_value);
            next_value += static_cast<double>(n);
        }
        tick_with(std::move(batch));
    }
    done = true;
    reader.join();
    f.poll(*engine);
    const auto s = stored();
    for (int ch : {1, 4, 16}) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(values(f.copy.at(ch)), values(s.at(ch)));
    }
}
