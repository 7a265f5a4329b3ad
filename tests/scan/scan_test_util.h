// Shared pieces of the scan tests: a scripted scanner, an engine fixture with a
// controllable clock and stamp, and a temporary directory.
#pragma once

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "scan/scan_main.h"

inline constexpr uint64_t scan_test_t0 = 1700000000000000ULL;

// Answers each fetch with the next scripted batch (then with nothing) and logs the
// start/stop commands.
class fake_scanner_t : public scan_instrument_t {
public:
    void script(plib_scan_data_map_t batch) {
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
    int fetches() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_fetches;
    }
    // When set, every fetch returns this many readings on each of `channels` channels.
    void set_endless(int channels, std::size_t per_channel) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endless_channels = channels;
        m_endless = per_channel;
    }

    int get_scan_channel_count() override { return 16; }
    int read_scan_data(plib_scan_data_map_t& data) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_fetches;
        data.clear();
        if (m_endless > 0) {
            for (int ch = 1; ch <= m_endless_channels; ++ch) {
                auto& v = data[ch];
                for (std::size_t i = 0; i < m_endless; ++i)
                    v.push_back({static_cast<double>(m_next), static_cast<int64_t>(scan_test_t0) + m_next});
                ++m_next;
            }
        } else if (!m_batches.empty()) {
            data = std::move(m_batches.front());
            m_batches.pop_front();
        }
        return 0;
    }
    int set_scan_start(int on) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back("start " + std::to_string(on));
        return 0;
    }

private:
    mutable std::mutex m_mutex;
    std::deque<plib_scan_data_map_t> m_batches;
    std::vector<std::string> m_calls;
    int m_fetches = 0;
    int m_endless_channels = 0;
    std::size_t m_endless = 0;
    int64_t m_next = 0;
};

// Readings with the given values, timestamps t0 + offsets (microseconds).
inline std::vector<plib_data_t> readings(std::initializer_list<double> values, int64_t first_offset_us = 0,
                                         int64_t step_us = 100000) {
    std::vector<plib_data_t> v;
    int64_t t = static_cast<int64_t>(scan_test_t0) + first_offset_us;
    for (double x : values) {
        v.push_back({x, t});
        t += step_us;
    }
    return v;
}

using scan_temp_dir_t = velkaro_test::temp_dir_t;

inline std::string scan_read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline plib_scanner_channel_param_t channel(int scan_state, int counts, int func = 0,
                                            const std::string& name = "") {
    plib_scanner_channel_param_t p;
    p.scan_state = scan_state;
    p.scan_counts = counts;
    p.func = func;
    p.name = name;
    return p;
}

// An engine over a fake scanner whose ticks the test drives (the periodic task is created
// disabled), whose clock the test sets and whose file stamps are fixed.
struct scan_engine_fixture_t : ::testing::Test {
    fake_scanner_t scanner;
    std::atomic<uint64_t> clock_us{scan_test_t0};
    std::unique_ptr<scan_main_t> engine;
    plib_scanner_channel_map_t channel_params;
    plib_scan_file_record_param_t file_info;

    std::mutex notes_mutex;
    std::vector<plib_scan_notify_t> notes;

    void SetUp() override {
        scan_main_options_t opt;
        opt.periodic_task_enabled = false;
        opt.clock = [this] { return clock_us.load(); };
        opt.stamp = [](const std::string& sep) { return "2024-10-28 14" + sep + "05" + sep + "09"; };
        engine = std::make_unique<scan_main_t>(&scanner, opt);
        engine->set_notify_callback([this](plib_scan_notify_t n) {
            std::lock_guard<std::mutex> lock(notes_mutex);
            notes.push_back(n);
        });
        engine->set_record_info_callback(
            [this](plib_scanner_channel_map_t& params, plib_scan_file_record_param_t& info) {
                params = channel_params;
                info = file_info;
            });
        file_info.maker = "Maker";
        file_info.product_type = "VXA-2";
        file_info.serial_number = "SN0001";
        file_info.product_software_version = "1.2.3";
        file_info.software_version = "V1.0.3";
    }

    std::vector<plib_scan_notify_t> take_notes() {
        std::lock_guard<std::mutex> lock(notes_mutex);
        std::vector<plib_scan_notify_t> r;
        r.swap(notes);
        return r;
    }
    void tick() { engine->m_scan_trig_msg.send(); }
    void tick_with(plib_scan_data_map_t batch) {
        scanner.script(std::move(batch));
        tick();
    }
    int param(plib_scan_record_parameter_set_t p) { return engine->m_scan_record_parameter_set_msg.send(p); }
    template <typename F>
    int param(int kind, F fill) {
        plib_scan_record_parameter_set_t p;
        p.kind = kind;
        fill(p);
        return param(p);
    }
    // Starts and runs the first tick, which meets an immediate start condition.
    void start_scanning() {
        engine->set_run_state(1);
        tick();
    }
    plib_scan_data_map_t stored() {
        plib_scan_data_map_t m;
        engine->m_scan_original_data_msg.fetch(m);
        return m;
    }
    plib_scan_statistic_map_t statistics() {
        plib_scan_statistic_map_t m;
        engine->m_scan_statistic_data_msg.fetch(m);
        return m;
    }
    plib_scan_latest_map_t latest() {
        plib_scan_latest_map_t m;
        engine->m_scan_latest_data_msg.fetch(m);
        return m;
    }
    plib_scan_run_state_t run_info() {
        plib_scan_run_state_t r;
        engine->m_scan_run_state_info_msg.fetch(r);
        return r;
    }
};
