// A fresh directory under the system temp directory, removed with everything in it when
// the object goes out of scope.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace velkaro_test {

class temp_dir_t {
public:
    temp_dir_t() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velkaro_test_XXXXXX").string();
        m_path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~temp_dir_t() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    temp_dir_t(const temp_dir_t&) = delete;
    temp_dir_t& operator=(const temp_dir_t&) = delete;

    const std::string& path() const { return m_path; }

    // Names of the entries directly inside, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(m_path, ec))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::string m_path;
};

}  // namespace velkaro_test
