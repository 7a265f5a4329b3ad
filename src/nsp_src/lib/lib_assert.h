// Contract checks for programming errors.
//
// NSP_ASSERT(expr) reports a failed contract as one line on standard error,
//   "Assertion failed: <expr>, file <file>, line <line>"
// and then lets the program go on: the caller does whatever its contract says for
// the failure (for example a message call returns 0). Contract checks never answer
// instrument or user input. Tests can count failures or install a hook.
#pragma once

#include <functional>
#include <string>

namespace nsp {

struct assert_info_t {
    const char* expr;
    const char* file;
    int line;
};

// Reports one failed contract; returns false so it can be used in conditions.
bool assert_failed(const char* expr, const char* file, int line);

// Number of failed contracts since the process started (all threads).
unsigned long assert_failure_count();

// Replaces the reporter (called after the count is incremented, on the failing
// thread). An empty function restores the default line on standard error.
void set_assert_hook(std::function<void(const assert_info_t&)> hook);

}  // namespace nsp

#define NSP_ASSERT(expr) ((expr) ? true : ::nsp::assert_failed(#expr, __FILE__, __LINE__))
