// Small helpers shared by the VISA layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "visa/visa.h"
#include "visa/visa_rm.h"

namespace velkaro_test {

// A default resource manager opened for one test and closed after it; checks that
// the test left no session behind.
class visa_rm_fixture_t : public ::testing::Test {
protected:
    void SetUp() override {
        m_objects_before = visa::builtin::open_object_count();
        ASSERT_EQ(visa::viOpenDefaultRM(&m_rm), visa::VI_SUCCESS);
    }
    void TearDown() override {
        EXPECT_EQ(visa::viClose(m_rm), visa::VI_SUCCESS);
        EXPECT_EQ(visa::builtin::open_object_count(), m_objects_before) << "sessions leaked";
    }

    visa::ViStatus write(visa::ViSession s, const std::string& text, visa::ViUInt32* count = nullptr) {
        visa::ViUInt32 n = 0;
        const visa::ViStatus st = visa::viWrite(s, reinterpret_cast<visa::ViConstBuf>(text.data()),
                                                static_cast<visa::ViUInt32>(text.size()), &n);
        if (count) *count = n;
        return st;
    }
    visa::ViStatus read(visa::ViSession s, std::string& out, visa::ViUInt32 cnt) {
        std::string buf(cnt, '\0');
        visa::ViUInt32 n = 0;
        const visa::ViStatus st = visa::viRead(s, reinterpret_cast<visa::ViBuf>(&buf[0]), cnt, &n);
        out.assign(buf.data(), n);
        return st;
    }

    visa::ViSession m_rm = visa::VI_NULL;
    size_t m_objects_before = 0;
};

inline long long ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
        .count();
}

}  // namespace velkaro_test
