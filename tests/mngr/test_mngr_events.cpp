// The fan-out of an instrument's engine events: every listener gets every event in the
// engines' order, a slow listener never holds up an engine, and a removed listener is
// not running any more when its removal returns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "acq/acq_test_util.h"
#include "ui/mngr/plib_mngr_events.h"

namespace {

struct recorder_t {
    std::mutex mutex;
    std::vector<std::pair<int, int>> seen;  // (source, kind)
    std::vector<double> values;

    plib_mngr_events_t::listener_t listener() {
        return [this](const plib_mngr_event_t& e) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.emplace_back(e.source, e.kind);
            if (e.acq_batch)
                for (const plib_data_t& d : e.acq_batch->readings) values.push_back(d.value);
        };
    }
};

struct gate_t {
    std::mutex mutex;
    std::condition_variable cond;
    bool open = false;
    bool entered = false;
    void wait() {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        cond.notify_all();
        cond.wait_for(lock, std::chrono::seconds(30), [this] { return open; });
    }
    bool wait_entered() {
        std::unique_lock<std::mutex> lock(mutex);
        return cond.wait_for(lock, std::chrono::seconds(30), [this] { return entered; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        cond.notify_all();
    }
};

acq_main_options_t driven() {
    acq_main_options_t o;
    o.periodic_task_enabled = false;
    return o;
}

const std::pair<int, int> acq_start{plib_mngr_event_t::source_acq, acq_notify_start};
const std::pair<int, int> acq_data{plib_mngr_event_t::source_acq, acq_notify_data};
const std::pair<int, int> acq_stop{plib_mngr_event_t::source_acq, acq_notify_stop};

}  // namespace

TEST(mngr_events, every_listener_gets_every_event_in_order_and_data_only_when_asked) {
    fake_instrument_t instrument;
    acq_main_t engine(&instrument, driven());
    plib_mngr_events_t hub;
    hub.attach(nullptr, &engine, nullptr);
    recorder_t plain, data;
    const int a = hub.add_listener(plain.listener());
    const int b = hub.add_listener(data.listener(), true);

    engine.set_run_state(1);
    instrument.script(make_batch(3, 1.0));
    engine.m_acq_trig_msg.send();
    engine.set_run_state(0);
    ASSERT_TRUE(hub.flush(30000));

    const std::vector<std::pair<int, int>> expected = {acq_start, acq_data, acq_stop};
    EXPECT_EQ(plain.seen, expected);
    EXPECT_EQ(data.seen, expected);
    EXPECT_EQ(data.values, (std::vector<double>{1, 2, 3}));

    // Without a data listener the engine hands no batch over.
    hub.remove_listener(b);
    recorder_t later;
    hub.add_listener(later.listener());
    engine.set_run_state(1);
    instrument.script(make_batch(2, 5.0));
    engine.m_acq_trig_msg.send();
    engine.set_run_state(0);
    ASSERT_TRUE(hub.flush(30000));
    EXPECT_EQ(later.seen, expected);
    EXPECT_TRUE(later.values.empty());
    EXPECT_EQ(data.seen.size(), 3u) << "a removed listener hears nothing more";
    hub.remove_listener(a);
    hub.detach();
}

TEST(mngr_events, a_blocked_listener_holds_up_neither_the_engine_nor_the_order) {
    fake_instrument_t instrument;
    acq_main_t engine(&instrument, driven());
    plib_mngr_events_t hub;
    hub.attach(nullptr, &engine, nullptr);
    gate_t gate;
    recorder_t rec;
    std::atomic<bool> first{true};
    hub.add_listener([&](const plib_mngr_event_t& e) {
        if (first.exchange(false)) gate.wait();
        rec.listener()(e);
    });

    engine.set_run_state(1);
    ASSERT_TRUE(gate.wait_entered());
    // The listener is stuck in the start event; the engine runs ten ticks and stops.
    for (int i = 0; i < 10; ++i) {
        instrument.script(make_batch(1, i));
        engine.m_acq_trig_msg.send();
    }
    engine.set_run_state(0);
    unsigned num = 0;
    engine.m_acq_original_data_num_msg.fetch(num);
    EXPECT_EQ(num, 10u);
    {
        std::lock_guard<std::mutex> lock(rec.mutex);
        EXPECT_TRUE(rec.seen.empty());
    }
    gate.release();
    ASSERT_TRUE(hub.flush(30000));
    ASSERT_EQ(rec.seen.size(), 12u);
    EXPECT_EQ(rec.seen.front(), acq_start);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(rec.seen[i], acq_data);
    EXPECT_EQ(rec.seen.back(), acq_stop);
    hub.detach();
}

TEST(mngr_events, removal_waits_for_a_running_call_and_manager_events_are_posted) {
    plib_mngr_events_t hub;
    gate_t gate;
    std::atomic<bool> finished{false};
    const int id = hub.add_listener([&](const plib_mngr_event_t& e) {
        if (e.kind == mngr_notify_reconnecting) gate.wait();
        finished = true;
    });
    recorder_t rec;
    hub.add_listener(rec.listener());
    plib_mngr_event_t e;
    e.source = plib_mngr_event_t::source_mngr;
    e.kind = mngr_notify_reconnecting;
    hub.post(e);
    ASSERT_TRUE(gate.wait_entered());
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        hub.remove_listener(id);
        removed = true;
    });
    // The removal cannot return while the call runs; it returns once the call ended.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(removed.load());
    gate.release();
    remover.join();
    EXPECT_TRUE(finished.load());
    ASSERT_TRUE(hub.flush(30000));
    std::lock_guard<std::mutex> lock(rec.mutex);
    EXPECT_EQ(rec.seen, (std::vector<std::pair<int, int>>{{plib_mngr_event_t::source_mngr, mngr_notify_reconnecting}}));
}
