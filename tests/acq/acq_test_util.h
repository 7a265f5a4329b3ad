// Shared pieces of the acquisition tests: a scripted instrument, an engine fixture
// with a controllable clock, and a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "acq/acq_main.h"
#include "support/temp_dir.h"

// Answers each fetch with the next scripted batch (then with nothing) and logs every call.
class fake_instrument_t : public acq_instrument_t {
public:
    void script(std::vector<plib_data_t> batch) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_batches.push_back(std::move(batch));
    }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    void clear_calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }
    // Dropped pieces the next fetch reports.
    void script_dropped(uint64_t n) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dropped += n;
    }
    uint64_t take_dropped_readings() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_dropped, 0);
    }
    // When set, every fetch returns this many readings (the scripted queue is ignored).
    void set_endless(std::size_t per_fetch) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endless = per_fetch;
    }

    int init() override { return _log("init"); }
    int set_trig_count_inf() override { return _log("trig inf"); }
    int set_trig_count(int count) override { return _log("trig " + std::to_string(count)); }
    int set_sample_count(int count) override { return _log("sample " + std::to_string(count)); }
    int read_measure_data(std::vector<plib_data_t>& data) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        data.clear();
        if (m_endless > 0) {
            for (std::size_t i = 0; i < m_endless; ++i)
                data.push_back({static_cast<double>(m_next++), m_next});
        } else if (!m_batches.empty()) {
            data = std::move(m_batches.front());
            m_batches.pop_front();
        }
        return 0;
    }

private:
    int _log(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
        return 0;
    }

    mutable std::mutex m_mutex;
    std::deque<std::vector<plib_data_t>> m_batches;
    std::vector<std::string> m_calls;
    std::size_t m_endless = 0;
    uint64_t m_dropped = 0;
    int64_t m_next = 0;
};

// n readings with values first, first + 1, ... and timestamps base_us + i * step_us.
inline std::vector<plib_data_t> make_batch(std::size_t n, double first = 0.0,
                                           int64_t base_us = 1700000000000000, int64_t step_us = 1000) {
    std::vector<plib_data_t> b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i].value = first + static_cast<double>(i);
        b[i].timestamp = base_us + static_cast<int64_t>(i) * step_us;
    }
    return b;
}

using temp_dir_t = velkaro_test::temp_dir_t;

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// An engine over a fake instrument whose ticks the test drives (the periodic task is
// created disabled) and whose clock the test sets.
struct acq_engine_fixture_t : ::testing::Test {
    fake_instrument_t instrument;
    std::atomic<int64_t> clock_us{1700000000000000};
    std::unique_ptr<acq_main_t> engine;

    mutable std::mutex notes_mutex;
    std::vector<plib_acq_notify_t> notes;

    void make_engine(std::size_t capacity = acq_record_buffer_capacity) {
        acq_main_options_t opt;
        opt.buffer_capacity = capacity;
        opt.periodic_task_enabled = false;
        opt.clock = [this] { return clock_us.load(); };
        engine = std::make_unique<acq_main_t>(&instrument, opt);
        engine->set_notify_callback([this](plib_acq_notify_t n) {
            std::lock_guard<std::mutex> lock(notes_mutex);
            notes.push_back(n);
        });
    }
    void SetUp() override { make_engine(); }

    std::vector<plib_acq_notify_t> take_notes() {
        std::lock_guard<std::mutex> lock(notes_mutex);
        std::vector<plib_acq_notify_t> r;
        r.swap(notes);
        return r;
    }
    void tick() { engine->m_acq_trig_msg.send(); }
    void tick_with(std::vector<plib_data_t> batch) {
        instrument.script(std::move(batch));
        tick();
    }
    template <typename F>
    int param(int kind, F fill) {
        plib_record_parameter_set_msg_t p;
        p.kind = kind;
        fill(p);
        return engine->m_acq_record_parameter_data_msg.send(p);
    }
    unsigned int buffer_size() {
        unsigned int n = 0;
        engine->m_acq_original_data_num_msg.fetch(n);
        return n;
    }
    std::vector<plib_data_t> buffer() {
        std::vector<plib_data_t> v;
        engine->m_acq_original_data_list_msg.fetch(v);
        return v;
    }
    plib_record_run_state_info_t run_info() {
        plib_record_run_state_info_t info;
        engine->m_acq_record_run_state_info_msg.fetch(info);
        return info;
    }
};
