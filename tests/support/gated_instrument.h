// An instrument whose fetch can be held: the first fetch after arm() blocks until
// release() (bounded, so a test that never releases fails instead of hanging) and then
// returns the armed batch; every other fetch returns nothing at once. fetches() counts
// every fetch that began, so a tick that should have folded into the one in flight shows.
// Shared by the tests of engines that must not be held up by a slow or hung instrument.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acq/acq_instrument.h"

namespace velkaro_test {

// Bounded wait for a condition another thread brings about; only a guard against a hang.
template <typename F>
bool eventually(F pred) {
    for (int i = 0; i < 20000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

// All state below is guarded by m_mutex; the engine's lane and the test thread share it.
class gated_instrument_t : public acq_instrument_t {
public:
    void arm(std::vector<plib_data_t> batch = {}) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
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
    bool fetch_done() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_done;
    }
    int fetches() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_fetches;
    }
    // What reached the instrument since arm(): "fetch" for each fetch begun, and the
    // trigger settings.
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

    int init() override { return 0; }
    int set_trig_count_inf() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back("trig count inf");
        return 0;
    }
    int set_trig_count(int n) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back("trig count " + std::to_string(n));
        return 0;
    }
    int set_sample_count(int) override { return 0; }
    int read_measure_data(std::vector<plib_data_t>& data) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_fetches;
        m_events.push_back("fetch");
        data.clear();
        if (!m_armed) return 0;
        m_armed = false;
        m_in_fetch = true;
        m_cond.wait_for(lock, std::chrono::seconds(30), [this] { return m_released; });
        data = std::move(m_batch);
        m_in_fetch = false;
        m_done = true;
        return 0;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_armed = false;
    bool m_released = false;
    bool m_in_fetch = false;
    bool m_done = false;
    int m_fetches = 0;
    std::vector<plib_data_t> m_batch;
    std::vector<std::string> m_events;
};

}  // namespace velkaro_test
