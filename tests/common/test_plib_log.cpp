// The core's log sink: lines reach the sink installed, whole and each once, from any
// thread; an empty sink drops them; the previous sink comes back on request.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/plib_log.h"

TEST(plib_log, lines_reach_the_installed_sink_whole_from_every_thread) {
    std::vector<std::string> lines;  // guarded by the sink's own mutex (the sink runs under it)
    plib_log_sink_t previous = plib_set_log_sink([&lines](const std::string& l) { lines.push_back(l); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) plib_log("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (std::thread& th : threads) th.join();
    plib_set_log_sink(nullptr);
    plib_log("dropped");
    plib_set_log_sink(previous);

    ASSERT_EQ(lines.size(), 400u);
    std::vector<int> next(4, 0);
    for (const std::string& l : lines) {
        const int t = l[7] - '0';
        ASSERT_GE(t, 0);
        ASSERT_LT(t, 4);
        EXPECT_EQ(l, "thread " + std::to_string(t) + " line " + std::to_string(next[t]++));  // in order per thread
    }
}
