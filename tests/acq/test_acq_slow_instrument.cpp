// A slow instrument must not hold up the engine: while a tick waits for its fetch, data
// fetches, run-state queries and a stop complete, and the late readings never reach a run
// that was stopped or restarted meanwhile. Also: clearing the notify callback while ticks
// notify is final.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "acq/acq_drv_adapter.h"
#include "acq_test_util.h"
#include "drv/drv_link.h"
#include "drv/if/drv_if.h"
#include "remote/remote_main.h"
#include "support/gated_instrument.h"
#include "support/sim_process.h"

namespace {

using velkaro_test::eventually;
using velkaro_test::gated_instrument_t;

struct acq_slow_fixture_t : ::testing::Test {
    gated_instrument_t instrument;
    std::unique_ptr<acq_main_t> engine;
    std::mutex notes_mutex;
    std::vector<plib_acq_notify_t> notes;

    void SetUp() override {
        engine = std::make_unique<acq_main_t>(&instrument);  // periodic ticks on the timer thread
        engine->set_notify_callback([this](plib_acq_notify_t n) {
            std::lock_guard<std::mutex> lock(notes_mutex);
            notes.push_back(n);
        });
        plib_record_parameter_set_msg_t p;
        p.kind = record_kind_interval;
        p.interval_ms = 1;
        engine->m_acq_record_parameter_data_msg.send(p);
    }
    void TearDown() override {
        instrument.release();
        engine.reset();
    }
    std::vector<plib_acq_notify_t> notes_copy() {
        std::lock_guard<std::mutex> lock(notes_mutex);
        return notes;
    }
    unsigned int buffer_size() {
        unsigned int n = 0;
        engine->m_acq_original_data_num_msg.fetch(n);
        return n;
    }
};

TEST_F(acq_slow_fixture_t, fetch_query_and_stop_complete_while_a_tick_waits_for_the_instrument) {
    engine->set_run_state(1);
    instrument.arm(make_batch(5));
    ASSERT_TRUE(eventually([&] { return instrument.in_fetch(); }));

    plib_data_t latest;
    engine->m_acq_latest_msg.fetch(latest);
    plib_record_run_state_info_t info;
    engine->m_acq_record_run_state_info_msg.fetch(info);
    std::vector<plib_data_t> all;
    engine->m_acq_original_data_list_msg.fetch(all);
    EXPECT_EQ(engine->get_run_state(), 1);
    engine->set_run_state(0);
    EXPECT_EQ(engine->get_run_state(), 0);
    // Everything above returned while the fetch was still waiting.
    EXPECT_FALSE(instrument.fetch_done());
    EXPECT_TRUE(all.empty());

    instrument.release();
    ASSERT_TRUE(eventually([&] { return instrument.fetch_done(); }));
    // The tick has ended once a tick-serialised start can run; its readings belong to the
    // stopped run and are dropped.
    engine->set_run_state(1);
    engine->set_run_state(0);
    EXPECT_EQ(buffer_size(), 0u);
    const auto n = notes_copy();
    const std::vector<plib_acq_notify_t> expected = {acq_notify_start, acq_notify_stop, acq_notify_start,
                                                     acq_notify_stop};
    std::vector<plib_acq_notify_t> without_data;
    for (auto x : n)
        if (x != acq_notify_data) without_data.push_back(x);
    EXPECT_EQ(without_data, expected);
    // No data notification of the late tick between the first stop and the restart.
    const auto first_stop = std::find(n.begin(), n.end(), acq_notify_stop);
    ASSERT_NE(first_stop, n.end());
    EXPECT_EQ(*(first_stop + 1), acq_notify_start);
}

// A mode change waits for the fetch in flight on its caller's thread, the engine answers
// meanwhile (a change made on the engine thread held every data and mode query until
// the fetch ended), and the change reaches the instrument before the next fetch.
TEST_F(acq_slow_fixture_t, mode_change_waits_on_its_own_thread_and_goes_before_the_next_fetch) {
    engine->set_run_state(1);
    instrument.arm(make_batch(3));
    ASSERT_TRUE(eventually([&] { return instrument.in_fetch(); }));
    std::thread changer([&] { engine->set_mode(acq_mode_single); });
    ASSERT_TRUE(eventually([&] { return engine->commands_waiting() == 1; }));

    plib_data_t latest;
    EXPECT_EQ(engine->m_acq_latest_msg.fetch(latest), 0);
    plib_acq_mode_t mode = acq_mode_single;
    EXPECT_EQ(engine->m_acq_mode_msg.fetch(mode), 0);
    EXPECT_EQ(mode, acq_mode_continuous);  // not yet: the fetch still waits
    EXPECT_FALSE(instrument.fetch_done());

    instrument.release();
    changer.join();
    EXPECT_EQ(engine->commands_waiting(), 0);
    EXPECT_EQ(engine->m_acq_mode_msg.fetch(mode), 0);
    EXPECT_EQ(mode, acq_mode_single);
    const std::vector<std::string> events = instrument.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "fetch");
    EXPECT_EQ(events[1], "trig count 1");
    engine->set_run_state(0);
}

TEST_F(acq_slow_fixture_t, readings_fetched_before_a_restart_do_not_enter_the_new_run) {
    engine->set_run_state(1);
    instrument.arm(make_batch(5));
    ASSERT_TRUE(eventually([&] { return instrument.in_fetch(); }));
    engine->set_run_state(0);
    // The start waits for the tick in flight (starts and ticks share the instrument).
    std::atomic<bool> started{false};
    std::thread restart([&] {
        engine->set_run_state(1);
        started = true;
    });
    EXPECT_EQ(buffer_size(), 0u);  // answered while the restart waits
    instrument.release();
    restart.join();
    ASSERT_TRUE(started.load());
    EXPECT_EQ(engine->get_run_state(), 1);
    EXPECT_EQ(buffer_size(), 0u);
    plib_record_run_state_info_t info;
    engine->m_acq_record_run_state_info_msg.fetch(info);
    EXPECT_EQ(info.total_count, 0u);
    engine->set_run_state(0);
}

// Logs the bracket of every fetch around the real driver, for ordering checks.
class logging_instrument_t : public acq_instrument_t {
public:
    explicit logging_instrument_t(acq_instrument_t& inner) : m_inner(inner) {}
    void log(const std::string& event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
    }
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    bool has(const std::string& event) const {
        const auto e = events();
        return std::find(e.begin(), e.end(), event) != e.end();
    }

    int init() override { return m_inner.init(); }
    int set_trig_count_inf() override { return m_inner.set_trig_count_inf(); }
    int set_trig_count(int count) override { return m_inner.set_trig_count(count); }
    int set_sample_count(int count) override { return m_inner.set_sample_count(count); }
    int read_measure_data(std::vector<plib_data_t>& data) override {
        log("fetch begins");
        const int r = m_inner.read_measure_data(data);
        log("fetch ends");
        return r;
    }

private:
    acq_instrument_t& m_inner;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

TEST(acq_slow_sim, fetch_query_and_stop_return_before_the_delayed_reply) {
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXA-2", {"--reply-delay", "1000"});
    ASSERT_TRUE(sim.ok());
    remote_main_t link;
    unsigned long session = 0;
    ASSERT_EQ(link.open(sim.instr_resource(), session), 0);
    link.set_timeout(session, 5000);
    drv_remote_link_t remote_link(link);
    drv_if_t driver(&remote_link, "VXA-2");
    driver.set_session(session);
    acq_drv_adapter_t adapter(driver);
    logging_instrument_t instrument(adapter);
    {
        acq_main_t engine(&instrument);
        engine.set_run_state(1);
        ASSERT_TRUE(eventually([&] { return instrument.has("fetch begins"); }));
        plib_data_t latest;
        engine.m_acq_latest_msg.fetch(latest);
        plib_record_run_state_info_t info;
        engine.m_acq_record_run_state_info_msg.fetch(info);
        const int state = engine.get_run_state();
        engine.set_run_state(0);
        instrument.log("caller done");
        EXPECT_EQ(state, 1);
        ASSERT_TRUE(eventually([&] { return instrument.has("fetch ends"); }));
        const auto e = instrument.events();
        ASSERT_GE(e.size(), 3u);
        EXPECT_EQ(e[0], "fetch begins");
        EXPECT_EQ(e[1], "caller done") << "the caller waited for the instrument's reply";
        EXPECT_EQ(e[2], "fetch ends");
        std::vector<plib_data_t> all;
        engine.m_acq_original_data_list_msg.fetch(all);
        EXPECT_TRUE(all.empty());  // the reply came after the stop
    }
    link.close(session);
}

// The window a callback would belong to; deleted right after its callback is cleared.
struct window_t {
    explicit window_t(int id) : id(id) {}
    int id;
    std::atomic<int> seen{0};
};

TEST(acq_notify, window_deleted_right_after_clearing_its_callback_is_never_called) {
    fake_instrument_t instrument;
    instrument.set_endless(2);
    acq_main_options_t opt;
    opt.buffer_capacity = 1000;
    acq_main_t engine(&instrument, opt);
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_interval;
    p.interval_ms = 1;  // timer-thread ticks every timer period
    engine.m_acq_record_parameter_data_msg.send(p);
    engine.set_run_state(1);

    std::atomic<bool> stop{false};
    std::atomic<int> released_id{-1};
    std::atomic<int> late_calls{0};
    // Notifications from the engine thread (trig ticks) and, by start and stop, this one.
    std::thread trig([&] {
        for (int i = 0; i < 100000 && !stop.load(); ++i) engine.m_acq_trig_msg.send();
    });
    for (int id = 0; id < 150; ++id) {
        auto window = std::make_unique<window_t>(id);
        window_t* w = window.get();
        engine.set_notify_callback([w, &released_id, &late_calls](plib_acq_notify_t) {
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
