// Each engine's ticks run on its own lane: a hung instrument holds up only its own
// ticks. And the event subscriber gets exactly the readings a tick accepted.
#include <chrono>
#include <thread>

#include "acq_test_util.h"
#include "support/gated_instrument.h"

namespace {

using velkaro_test::eventually;
using velkaro_test::gated_instrument_t;

void set_interval(acq_main_t& engine, int ms) {
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_interval;
    p.interval_ms = ms;
    ASSERT_EQ(engine.m_acq_record_parameter_data_msg.send(p), 0);
}

}  // namespace

TEST(acq_lanes, a_hung_instrument_does_not_hold_up_another_engines_ticks) {
    // The hung engine's first fetch blocks until released; any further fetch would count.
    gated_instrument_t hung;
    hung.arm();
    fake_instrument_t fast;
    fast.set_endless(3);
    acq_main_t hung_engine(&hung);
    acq_main_t fast_engine(&fast);
    set_interval(hung_engine, 20);
    set_interval(fast_engine, 20);

    hung_engine.set_run_state(1);
    ASSERT_TRUE(eventually([&] { return hung.fetches() == 1; }));
    fast_engine.set_run_state(1);
    // While the hung fetch is still in flight, the other engine keeps ticking.
    uint32_t count = 0;
    ASSERT_TRUE(eventually([&] {
        plib_record_run_state_info_t info;
        fast_engine.m_acq_record_run_state_info_msg.fetch(info);
        count = info.total_count;
        return count >= 30;
    }));
    EXPECT_EQ(hung.fetches(), 1) << "the hung engine's ticks folded into the one in flight";
    fast_engine.set_run_state(0);
    // A stop does not wait for the hung fetch; the engine's own lane finishes it.
    hung_engine.set_run_state(0);
    EXPECT_EQ(hung_engine.get_run_state(), 0);
    hung.release();
}

TEST(acq_lanes, events_carry_exactly_the_readings_each_tick_accepted) {
    fake_instrument_t instrument;
    acq_main_options_t options;
    options.periodic_task_enabled = false;
    acq_main_t engine(&instrument, options);

    std::mutex mutex;
    std::vector<plib_acq_event_t> events;
    auto take = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(events, {});
    };
    engine.set_event_callback(
        [&](plib_acq_event_t e) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(e));
        },
        true);

    // An automatic stop by count keeps 5 of the 8 readings of the second tick.
    plib_record_parameter_set_msg_t p;
    p.kind = record_kind_auto_stop_mode;
    p.auto_stop_mode = acq_auto_stop_by_count;
    engine.m_acq_record_parameter_data_msg.send(p);
    p.kind = record_kind_stop_num;
    p.stop_num = 9;
    engine.m_acq_record_parameter_data_msg.send(p);
    p.kind = record_kind_auto_stop_enable;
    p.auto_stop_enable = true;
    engine.m_acq_record_parameter_data_msg.send(p);

    engine.set_run_state(1);
    instrument.script(make_batch(4, 0.0));
    instrument.script(make_batch(8, 100.0));
    engine.m_acq_trig_msg.send();
    engine.m_acq_trig_msg.send();

    const std::vector<plib_acq_event_t> got = take();
    std::vector<int> kinds;
    std::vector<double> values;
    uint64_t run_id = 0;
    for (const plib_acq_event_t& e : got) {
        kinds.push_back(e.kind);
        if (e.kind != acq_notify_data) {
            EXPECT_EQ(e.batch, nullptr);
            continue;
        }
        ASSERT_NE(e.batch, nullptr);
        if (run_id == 0) run_id = e.batch->run_id;
        EXPECT_EQ(e.batch->run_id, run_id);
        for (const plib_data_t& d : e.batch->readings) values.push_back(d.value);
    }
    EXPECT_EQ(kinds, (std::vector<int>{acq_notify_start, acq_notify_data, acq_notify_stop, acq_notify_data}));
    EXPECT_EQ(values, (std::vector<double>{0, 1, 2, 3, 100, 101, 102, 103, 104}));

    // A second run has another id; without the wish for batches, data events come bare.
    engine.set_run_state(1);
    instrument.script(make_batch(2, 7.0));
    engine.m_acq_trig_msg.send();
    std::vector<plib_acq_event_t> second = take();
    ASSERT_GE(second.size(), 2u);
    ASSERT_NE(second[1].batch, nullptr);
    EXPECT_NE(second[1].batch->run_id, run_id);
    EXPECT_EQ(second[1].batch->readings.size(), 2u);

    engine.set_event_callback(
        [&](plib_acq_event_t e) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(e));
        },
        false);
    instrument.script(make_batch(3, 9.0));
    engine.m_acq_trig_msg.send();
    second = take();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].kind, acq_notify_data);
    EXPECT_EQ(second[0].batch, nullptr);
    // The readings still went into the run.
    unsigned num = 0;
    engine.m_acq_original_data_num_msg.fetch(num);
    EXPECT_EQ(num, 5u);
    engine.set_run_state(0);
}
