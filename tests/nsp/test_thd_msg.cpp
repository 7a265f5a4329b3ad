// Message framework: calls into an engine thread, contract failures, thread names.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "nsp_src/lib/thd/lib_thd_msg.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"
#include "nsp_test_util.h"

namespace {

using nsp::thd::msg_base_t;
using nsp::thd::msg_data_t;
using nsp::thd::msg_manager_t;
using nsp::thd::msg_t;
using namespace std::chrono_literals;

std::string thread_name() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

// Implements on_set only; returns twice its argument and records the handler thread.
class double_msg_t : public msg_t<int> {
public:
    std::atomic<int> runs{0};
    std::string handler_thread;

protected:
    int on_set(int& value) override {
        ++runs;
        handler_thread = thread_name();
        return value * 2;
    }
};

// Get direction: fills the caller's vector.
class fill_msg_t : public msg_t<std::vector<int>> {
protected:
    int on_get(std::vector<int>& out) override {
        out = {1, 2, 3};
        return 7;
    }
};

// Const arguments reach the handler as const references, so callers may pass temporaries.
class format_msg_t : public msg_t<const unsigned long, const std::string, std::string> {
protected:
    int on_set(const unsigned long& session, const std::string& text, std::string& out) override {
        out = text + ":" + std::to_string(session);
        return static_cast<int>(session);
    }
};

// Both directions, for the stress case: set adds, get reads back.
class sum_msg_t : public msg_t<int, long> {
public:
    long total = 0;  // engine thread only

protected:
    int on_set(int& add, long& now) override {
        total += add;
        now = total;
        return add;
    }
    int on_get(int& tag, long& now) override {
        now = total;
        return tag;
    }
};

// A minimal engine: its manager and thread; messages are declared before it so they outlive it.
struct test_engine_t {
    msg_manager_t manager;
    std::atomic<bool> quit{false};
    std::thread thread;

    void start(std::vector<msg_base_t*> msgs, unsigned timeout_ms = 100, std::string name = "test_engine") {
        quit.store(false);
        for (msg_base_t* msg : msgs) manager.register_msg(msg);
        thread = std::thread(
            [this, timeout_ms, name] { nsp::thd::run_dispatch_loop(manager, quit, name, timeout_ms); });
    }
    void stop() {
        quit.store(true);
        if (thread.joinable()) thread.join();
    }
    ~test_engine_t() { stop(); }
};

TEST(thd_msg, call_runs_handler_on_engine_thread_and_returns_its_result) {
    double_msg_t msg;
    test_engine_t engine;
    engine.start({&msg}, 100, "dbl_engine");
    int value = 21;
    EXPECT_EQ(msg.send(value), 42);
    EXPECT_EQ(msg.handler_thread, "dbl_engine");
}

TEST(thd_msg, unimplemented_handler_violates_contract_and_returns_zero) {
    double_msg_t msg;
    test_engine_t engine;
    engine.start({&msg});
    nsp_test::assert_recorder_t asserts;
    int value = 5;
    EXPECT_EQ(msg.fetch(value), 0);
    EXPECT_EQ(asserts.exprs(), std::vector<std::string>{"0"});
    EXPECT_EQ(msg.runs.load(), 0);
    EXPECT_EQ(msg.send(value), 10);  // the message keeps working afterwards
}

TEST(thd_msg, get_direction_fills_callers_vector) {
    fill_msg_t msg;
    test_engine_t engine;
    engine.start({&msg});
    std::vector<int> out;
    EXPECT_EQ(msg.fetch(out), 7);
    EXPECT_EQ(out, (std::vector<int>{1, 2, 3}));
}

TEST(thd_msg, const_arguments_accept_temporaries) {
    format_msg_t msg;
    test_engine_t engine;
    engine.start({&msg});
    std::string out;
    EXPECT_EQ(msg.send(12UL, std::string("dev"), out), 12);
    EXPECT_EQ(out, "dev:12");
}

// While the first call's handler runs, the second caller must still be outside the queue
// (blocked on the engine's send mutex): a nested dispatch_one from the handler finds nothing.
class probe_msg_t : public msg_t<int> {
public:
    msg_manager_t* manager = nullptr;
    std::atomic<bool>* second_calling = nullptr;
    std::atomic<bool>* second_ran = nullptr;
    bool second_ran_nested = false;
    std::atomic<bool> entered{false};

protected:
    int on_set(int& value) override {
        entered.store(true);
        nsp_test::wait_for([this] { return second_calling->load(); });
        std::this_thread::sleep_for(50ms);  // gives the second caller time to queue, if it could
        manager->dispatch_one(0);
        second_ran_nested = second_ran->load();
        return value + 100;
    }
};

class mark_msg_t : public msg_t<int> {
public:
    std::atomic<bool> ran{false};

protected:
    int on_set(int& value) override {
        ran.store(true);
        return value + 200;
    }
};

TEST(thd_msg, second_caller_waits_until_first_call_returned) {
    std::atomic<bool> second_calling{false};
    probe_msg_t first;
    mark_msg_t second;
    test_engine_t engine;
    first.manager = &engine.manager;
    first.second_calling = &second_calling;
    first.second_ran = &second.ran;
    engine.start({&first, &second});

    int first_result = -1;
    int second_result = -1;
    std::thread a([&] {
        int value = 1;
        first_result = first.send(value);
    });
    ASSERT_TRUE(nsp_test::wait_for([&] { return first.entered.load(); }));
    std::thread b([&] {
        int value = 2;
        second_calling.store(true);
        second_result = second.send(value);
    });
    a.join();
    b.join();
    EXPECT_FALSE(first.second_ran_nested);
    EXPECT_EQ(first_result, 101);
    EXPECT_EQ(second_result, 202);
}

TEST(thd_msg, call_before_registration_succeeds_once_registered) {
    double_msg_t msg;
    test_engine_t engine;
    nsp_test::assert_recorder_t asserts;
    std::atomic<int> result{-1};
    std::atomic<bool> calling{false};
    std::thread caller([&] {
        int value = 4;
        calling = true;
        result = msg.send(value);
    });
    // The call is under way and waits for the registration: it has not returned.
    ASSERT_TRUE(nsp_test::wait_for([&] { return calling.load(); }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result.load(), -1);
    engine.start({&msg});
    caller.join();
    EXPECT_TRUE(msg.is_registered());
    EXPECT_EQ(result.load(), 8);
    EXPECT_TRUE(asserts.exprs().empty());
}

// An idle engine stops: its loop sees the quit flag at the end of the current wait and
// the thread ends (ctest's time-out guards a hang).
TEST(thd_msg, an_idle_engine_stops_and_serves_nothing_after) {
    double_msg_t msg;
    test_engine_t engine;
    engine.start({&msg}, 200);
    int value = 1;
    EXPECT_EQ(msg.send(value), 2);  // running
    engine.stop();
    EXPECT_FALSE(engine.thread.joinable());
}

TEST(thd_msg, idle_dispatch_waits_for_its_whole_timeout) {
    msg_manager_t manager;
    const auto begin = std::chrono::steady_clock::now();
    manager.dispatch_one(80);
    // A lower bound only: a loaded machine can make the wait longer, never shorter.
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 80ms);
}

// Records that reach execute malformed: checked, no handler runs, the caller gets 0.
TEST(thd_msg, malformed_record_is_reported_without_running_the_handler) {
    struct record_case_t {
        const char* name;
        std::size_t arg_count;
        bool with_result;
        bool with_cond;
        const char* expected_assert;
    };
    const record_case_t cases[] = {
        {"missing argument", 0, true, true, "msg_data.args.size() == sizeof...(Args)"},
        {"extra argument", 2, true, true, "msg_data.args.size() == sizeof...(Args)"},
        {"no result slot", 1, false, true, "msg_data.header.pret != nullptr"},
        {"no condition", 1, true, false, "msg_data.header.pdata_cond != nullptr"},
    };
    for (const record_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        double_msg_t msg;
        nsp_test::assert_recorder_t asserts;
        int arg = 3;
        int result = 99;
        std::condition_variable cond;
        msg_data_t record;
        record.header.pret = c.with_result ? &result : nullptr;
        record.header.pdata_cond = c.with_cond ? &cond : nullptr;
        record.header.pmsg_addr = &msg;
        record.args.assign(c.arg_count, &arg);
        msg.execute(record);
        EXPECT_EQ(asserts.exprs(), std::vector<std::string>{c.expected_assert});
        EXPECT_EQ(msg.runs.load(), 0);
        if (c.with_result && c.with_cond) {
            EXPECT_EQ(result, 0);
        }
    }
}

TEST(thd_msg, thread_name_limit) {
    struct name_case_t {
        std::string name;
        bool accepted;
    };
    const name_case_t cases[] = {{"abcdefghijklmno", true}, {"abcdefghijklmnop", false}};
    for (const name_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        nsp_test::assert_recorder_t asserts;
        std::string seen;
        std::thread t([&] {
            pthread_setname_np(pthread_self(), "before");
            nsp::thd::set_thread_name(c.name);
            seen = thread_name();
        });
        t.join();
        EXPECT_EQ(seen, c.accepted ? c.name : std::string("before"));
        EXPECT_EQ(asserts.exprs(),
                  c.accepted ? std::vector<std::string>{} : std::vector<std::string>{"name.size() < 16"});
    }
}

TEST(thd_msg, many_callers_on_one_engine_each_get_their_own_results) {
    constexpr int callers = 4;
    constexpr int calls = 300;
    sum_msg_t sum;
    double_msg_t dbl;
    fill_msg_t fill;
    test_engine_t engine;
    engine.start({&sum, &dbl, &fill});

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < calls; ++i) {
                int add = 1;
                long now = -1;
                if (sum.send(add, now) != 1 || now < 1) ++wrong;
                int value = t * 1000 + i;
                if (dbl.send(value) != 2 * value) ++wrong;
                std::vector<int> out;
                if (fill.fetch(out) != 7 || out.size() != 3) ++wrong;
                int tag = t;
                if (sum.fetch(tag, now) != t) ++wrong;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    int tag = 0;
    long total = 0;
    sum.fetch(tag, total);
    EXPECT_EQ(total, static_cast<long>(callers) * calls);
}

}  // namespace
