// The notifier's rule: replacing or clearing the callback returns only when no call of
// the old one runs on another thread, and never deadlocks from inside a callback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "nsp_src/lib/thd/lib_notifier.h"
#include "nsp_test_util.h"

namespace {

using nsp_test::wait_for;

TEST(notifier, notify_without_callback_reports_false_and_calls_nothing) {
    nsp::thd::notifier_t<int> notifier;
    EXPECT_FALSE(notifier.notify(1));
    std::vector<int> got;
    notifier.set([&](int v) { got.push_back(v); });
    EXPECT_TRUE(notifier.notify(2));
    EXPECT_TRUE(notifier.notify(3));
    notifier.clear();
    EXPECT_FALSE(notifier.notify(4));
    EXPECT_EQ(got, (std::vector<int>{2, 3}));
}

TEST(notifier, clear_returns_only_after_a_call_running_on_another_thread_has_ended) {
    nsp::thd::notifier_t<int> notifier;
    std::atomic<bool> entered{false}, clear_called{false}, finished{false};
    notifier.set([&](int) {
        entered = true;
        // Stay inside until the clearing thread is on its way, then a little longer.
        wait_for([&] { return clear_called.load(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    std::thread notifying([&] { notifier.notify(1); });
    ASSERT_TRUE(wait_for([&] { return entered.load(); }));
    clear_called = true;
    notifier.clear();
    EXPECT_TRUE(finished.load()) << "clear() returned while the old callback still ran";
    notifying.join();
}

TEST(notifier, set_and_clear_from_inside_the_callback_do_not_wait_for_that_call) {
    nsp::thd::notifier_t<int> notifier;
    std::vector<int> first, second;
    notifier.set([&](int v) {
        first.push_back(v);
        if (v == 1) notifier.set([&](int w) { second.push_back(w); });
    });
    EXPECT_TRUE(notifier.notify(1));  // replaces itself
    EXPECT_TRUE(notifier.notify(2));
    EXPECT_EQ(first, (std::vector<int>{1}));
    EXPECT_EQ(second, (std::vector<int>{2}));

    std::atomic<int> calls{0};
    notifier.set([&](int) {
        ++calls;
        notifier.clear();
    });
    std::thread other([&] { EXPECT_TRUE(notifier.notify(3)); });
    other.join();
    EXPECT_FALSE(notifier.notify(4));
    EXPECT_EQ(calls.load(), 1);
}

TEST(notifier, two_threads_clearing_from_inside_their_callbacks_do_not_wait_for_each_other) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        nsp::thd::notifier_t<int> notifier;
        std::atomic<int> inside{0};
        notifier.set([&](int) {
            ++inside;
            // Both calls are inside before either clears: each clear sees the other's call.
            wait_for([&] { return inside.load() == 2; });
            notifier.clear();
        });
        std::thread a([&] { notifier.notify(1); });
        std::thread b([&] { notifier.notify(2); });
        a.join();
        b.join();
        EXPECT_EQ(inside.load(), 2);
        EXPECT_FALSE(notifier.notify(3));
    }
}

// The receiver a window would be: deleted as soon as its callback is cleared.
struct receiver_t {
    explicit receiver_t(int id) : id(id) {}
    int id;
    std::atomic<int> calls{0};
};

TEST(notifier, receiver_deleted_right_after_clear_is_never_called_again) {
    nsp::thd::notifier_t<int> notifier;
    std::atomic<bool> stop{false};
    std::atomic<int> released_id{-1};  // the last receiver whose callback was cleared
    std::atomic<int> late_calls{0};
    std::vector<std::thread> notifying;
    for (int t = 0; t < 3; ++t) {
        notifying.emplace_back([&, t] {
            for (int i = 0; i < 200000 && !stop.load(); ++i) notifier.notify(t);
        });
    }
    for (int id = 0; id < 200; ++id) {
        auto receiver = std::make_unique<receiver_t>(id);
        receiver_t* r = receiver.get();
        notifier.set([r, &released_id, &late_calls](int) {
            ++r->calls;  // touches the receiver: a use after free under ASan
            // Still inside while the test clears: a clear that does not wait returns now.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (released_id.load() >= r->id) ++late_calls;
            --r->calls;
        });
        std::this_thread::yield();
        notifier.clear();
        released_id = id;
        receiver.reset();
    }
    stop = true;
    for (auto& t : notifying) t.join();
    EXPECT_EQ(late_calls.load(), 0);
}

}  // namespace
