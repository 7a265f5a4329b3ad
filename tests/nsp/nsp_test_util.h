// Small helpers shared by the nsp tests: a bounded wait and an assertion recorder.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "nsp_src/lib/lib_assert.h"

namespace nsp_test {

// Polls pred every millisecond for at most limit; returns its last value.
inline bool wait_for(const std::function<bool()>& pred,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Records failed contracts (expression and file) instead of printing them.
class assert_recorder_t {
public:
    assert_recorder_t() {
        nsp::set_assert_hook([this](const nsp::assert_info_t& info) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_exprs.emplace_back(info.expr);
            m_files.emplace_back(info.file);
        });
    }
    ~assert_recorder_t() { nsp::set_assert_hook({}); }
    std::vector<std::string> exprs() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_exprs;
    }
    std::vector<std::string> files() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_files;
    }

private:
    mutable std::mutex m_mutex;  // guards both lists
    std::vector<std::string> m_exprs;
    std::vector<std::string> m_files;
};

}  // namespace nsp_test
