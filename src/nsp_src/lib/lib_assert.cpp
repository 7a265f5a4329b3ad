#include "nsp_src/lib/lib_assert.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace nsp {
namespace {
std::atomic<unsigned long> g_failures{0};
std::mutex g_hook_mutex;  // guards g_hook
std::function<void(const assert_info_t&)> g_hook;
}  // namespace

bool assert_failed(const char* expr, const char* file, int line) {
    g_failures.fetch_add(1);
    std::function<void(const assert_info_t&)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hook_mutex);
        hook = g_hook;
    }
    if (hook) {
        hook(assert_info_t{expr, file, line});
    } else {
        std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
        std::fflush(stderr);
    }
    return false;
}

unsigned long assert_failure_count() { return g_failures.load(); }

void set_assert_hook(std::function<void(const assert_info_t&)> hook) {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    g_hook = std::move(hook);
}

}  // namespace nsp
