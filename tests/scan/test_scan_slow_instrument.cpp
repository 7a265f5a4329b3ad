// A slow scanner must not hold up the engine: while a tick waits for its fetch, data
// fetches and run-state queries complete and a stop changes the run state at once; the
// late readings never reach the stopped run. Also: clearing the notify callback while
// ticks notify is final.
#include <chrono>
#include <condition_variable>
#include <thread>

#include "scan_test_util.h"

namespace {

// Bounded wait for a condition another thread brings about; only a guard against a hang.
template <typename F>
bool eventually(F pred) {
    for (int i = 0; i < 10000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

// The first fetch after arm() blocks until release() and then returns `batch`; every
// other fetch returns nothing. Start and stop commands are logged in order with the end
// of the gated fetch.
class gated_scanner_t : public scan_instrument_t {
public:
    void arm(plib_scan_data_map_t batch) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_armed = true;
        m_released = false;
        m_batch = std::move(batch);
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_released = true;
        }
        m_cond.notify_all();
    }
    bool in_fetch() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_in_fetch;
    }
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

    int get_scan_channel_count() override { return 16; }
    int read_scan_data(plib_scan_data_map_t& data) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        data.clear();
        if (!m_armed) return 0;
        m_armed = false;
        m_in_fetch = true;
        // Bounded: a test that never releases fails instead of hanging.
        m_cond.wait_for(lock, std::chrono::seconds(30), [this] { return m_released; });
        data = std::move(m_batch);
        m_in_fetch = false;
        m_events.push_back("fetch ends");
        return 0;
    }
    int set_scan_start(int on) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back("start " + std::to_string(on));
        return 0;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_armed = false;
    bool m_released = false;
    bool m_in_fetch = false;
    std::vector<std::string> m_events;
    plib_scan_data_map_t m_batch;
};

void set_poll_interval(scan_main_t& engine, int ms) {
    plib_scan_record_parameter_set_t p;
    p.kind = scan_param_poll_interval;
    p.poll_interval_ms = ms;
    engine.m_scan_record_parameter_set_msg.send(p);
}

TEST(scan_slow_instrument, fetches_queries_and_the_stop_state_do_not_wait_for_a_fetch_in_flight) {
    gated_scanner_t scanner;
    scan_main_t engine(&scanner);
    std::mutex notes_mutex;
    std::vector<plib_scan_notify_t> notes;
    engine.set_notify_callback([&](plib_scan_notify_t n) {
        std::lock_guard<std::mutex> lock(notes_mutex);
        notes.push_back(n);
    });
    set_poll_interval(engine, 1);
    engine.set_run_state(1);
    ASSERT_TRUE(eventually([&] {
        const auto e = scanner.events();
        return !e.empty() && e.front() == "start 1";
    }));
    scanner.arm({{1, readings({1.0, 2.0})}, {2, readings({3.0})}});
    ASSERT_TRUE(eventually([&] { return scanner.in_fetch(); }));

    plib_scan_data_map_t stored;
    engine.m_scan_original_data_msg.fetch(stored);
    plib_scan_latest_map_t latest;
    engine.m_scan_latest_data_msg.fetch(latest);
    plib_scan_statistic_map_t statistics;
    engine.m_scan_statistic_data_msg.fetch(statistics);
    plib_scan_run_state_t info;
    engine.m_scan_run_state_info_msg.fetch(info);
    EXPECT_EQ(engine.get_run_state(), 1);
    std::thread stopping([&] { engine.set_run_state(0); });
    // The state changes at once; "ROUT:STAR 0" waits for the fetch in flight.
    ASSERT_TRUE(eventually([&] { return engine.get_run_state() == 0; }));
    engine.m_scan_run_state_info_msg.fetch(info);
    EXPECT_TRUE(scanner.in_fetch()) << "the stop waited for the instrument";
    EXPECT_EQ(scanner.events(), (std::vector<std::string>{"start 1"}));

    scanner.release();
    stopping.join();
    EXPECT_EQ(scanner.events(), (std::vector<std::string>{"start 1", "fetch ends", "start 0"}));
    engine.m_scan_original_data_msg.fetch(stored);
    for (const auto& [ch, v] : stored) EXPECT_TRUE(v.empty()) << ch;
    engine.m_scan_run_state_info_msg.fetch(info);
    EXPECT_EQ(info.readings_count, 0u);
    std::lock_guard<std::mutex> lock(notes_mutex);
    std::vector<plib_scan_notify_t> without_data;
    for (auto n : notes)
        if (n != scan_notify_data) without_data.push_back(n);
    EXPECT_EQ(without_data, (std::vector<plib_scan_notify_t>{scan_notify_start, scan_notify_stop}));
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back(), scan_notify_stop);  // the late fetch notified nothing
}

TEST(scan_slow_instrument, a_restart_during_a_fetch_gets_none_of_its_readings_and_stops_first) {
    gated_scanner_t scanner;
    scan_main_t engine(&scanner);
    set_poll_interval(engine, 1);
    engine.set_run_state(1);
    ASSERT_TRUE(eventually([&] { return !scanner.events().empty(); }));
    scanner.arm({{1, readings({1.0, 2.0})}});
    ASSERT_TRUE(eventually([&] { return scanner.in_fetch(); }));
    std::thread restart([&] {
        engine.set_run_state(0);
        engine.set_run_state(1);
    });
    ASSERT_TRUE(eventually([&] { return engine.get_run_state() == 0; }));
    scanner.release();
    restart.join();
    ASSERT_TRUE(eventually([&] { return scanner.events().size() >= 4; }));
    EXPECT_EQ(scanner.events(), (std::vector<std::string>{"start 1", "fetch ends", "start 0", "start 1"}));
    plib_scan_data_map_t stored;
    engine.m_scan_original_data_msg.fetch(stored);
    for (const auto& [ch, v] : stored) EXPECT_TRUE(v.empty()) << ch;
    engine.set_run_state(0);
}

struct window_t {
    explicit window_t(int id) : id(id) {}
    int id;
    std::atomic<int> seen{0};
};

TEST(scan_notify, window_deleted_right_after_clearing_its_callback_is_never_called) {
    fake_scanner_t scanner;
    scanner.set_endless(2, 1);
    scan_main_t engine(&scanner);
    set_poll_interval(engine, 1);
    engine.set_run_state(1);
    std::atomic<bool> stop{false};
    std::atomic<int> released_id{-1};
    std::atomic<int> late_calls{0};
    std::thread trig([&] {
        for (int i = 0; i < 100000 && !stop.load(); ++i) engine.m_scan_trig_msg.send();
    });
    for (int id = 0; id < 150; ++id) {
        auto window = std::make_unique<window_t>(id);
        window_t* w = window.get();
        engine.set_notify_callback([w, &released_id, &late_calls](plib_scan_notify_t) {
            ++w->seen;  // a use after free under ASan if called late
            // Still inside while the test clears: a clear that does not wait returns now.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (released_id.load() >= w->id) ++late_calls;
        });
        eventually([&] { return w->seen.load() > 0; });
        if (id % 10 == 0) engine.set_run_state(0), engine.set_run_state(1);
        engine.set_notify_callback(nullptr);
        released_id = id;
        window.reset();
    }
    stop = true;
    trig.join();
    engine.set_run_state(0);
    EXPECT_EQ(late_calls.load(), 0);
}

}  // namespace
