#include "cli/cli_output.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "cli/cli_instrument.h"

namespace velkaro_cli {
namespace {

FILE* s_results = nullptr;
bool s_verbose = false;

}  // namespace

bool route_diagnostics_to_stderr() {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    if (saved < 0) return false;
    FILE* out = ::fdopen(saved, "w");
    if (out == nullptr) {
        ::close(saved);
        return false;
    }
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fclose(out);
        return false;
    }
    // The libraries' lines now share standard error with ours: keep them whole lines.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    s_results = out;
    return true;
}

FILE* results() { return s_results != nullptr ? s_results : stdout; }

void write_results(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), results());
    std::fflush(results());
}

void set_verbose(bool on) { s_verbose = on; }
bool verbose() { return s_verbose; }

void note(const char* command, const std::string& text) {
    if (s_verbose) std::fprintf(stderr, "velkaro-cli %s: %s\n", command, text.c_str());
}

void write_json(const nlohmann::json& document) {
    // Replace rather than throw on text that is not UTF-8 (an instrument's reply may be anything).
    write_results(document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

nlohmann::json error_json(int exit_code, const std::string& message, int visa_status) {
    nlohmann::json e = {{"exit_code", exit_code}, {"message", message}};
    if (visa_status != 0) e["visa_status"] = status_text(visa_status);
    return e;
}

nlohmann::json number_json(double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(); }

nlohmann::json statistics_json(const plib_acq_statistics_t& st) {
    return {{"count", st.count},         {"min", number_json(st.min)},       {"max", number_json(st.max)},
            {"mean", number_json(st.mean)}, {"stddev", number_json(st.stddev)}, {"overloads", st.overloads}};
}

std::string statistics_text(const plib_acq_statistics_t& st, const std::string& indent) {
    auto figure = [&st](double v) {
        if (st.count == 0 || !std::isfinite(v)) return std::string("-");
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.10g", v);
        return std::string(buf);
    };
    std::string text = indent + "count: " + std::to_string(st.count) + "\n";
    text += indent + "min: " + figure(st.min) + "\n";
    text += indent + "max: " + figure(st.max) + "\n";
    text += indent + "mean: " + figure(st.mean) + "\n";
    text += indent + "stddev: " + figure(st.stddev) + "\n";
    if (st.overloads > 0) text += indent + "overloads: " + std::to_string(st.overloads) + "\n";
    return text;
}

int cli_report_t::fail(int code, const std::string& message, int visa_status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fprintf(stderr, "velkaro-cli %s: %s\n", m_command.c_str(), message.c_str());
    m_errors.push_back(error_json(code, message, visa_status));
    return code;
}

void cli_report_t::warn(const std::string& message) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fprintf(stderr, "velkaro-cli %s: %s\n", m_command.c_str(), message.c_str());
    m_warnings.push_back(message);
}

int cli_report_t::finish(int code) {
    if (!m_json) return code;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_doc["warnings"] = m_warnings;
    m_doc["errors"] = m_errors;
    m_doc["exit_code"] = code;
    write_json(m_doc);
    return code;
}

cli_progress_t::cli_progress_t() : m_enabled(::isatty(STDERR_FILENO) != 0) {}

void cli_progress_t::draw(const std::string& line, bool force) {
    if (!m_enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && m_drawn && now - m_last < std::chrono::milliseconds(200)) return;
    m_last = now;
    m_drawn = true;
    // "\r" back to the line's start, "ESC [K" clears what a longer previous line left.
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
}

void cli_progress_t::finish() {
    if (!m_enabled || !m_drawn) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_drawn = false;
}

std::string progress_text(unsigned long long readings, double elapsed_s, std::size_t files) {
    char text[160];
    const double rate = elapsed_s > 0 ? static_cast<double>(readings) / elapsed_s : 0.0;
    std::snprintf(text, sizeof text, "%llu readings, %.1f readings/s, %.1f s, %zu file%s", readings, rate,
                  elapsed_s, files, files == 1 ? "" : "s");
    return text;
}

dir_snapshot_t snapshot_dir(const std::string& dir) {
    dir_snapshot_t files;
    if (dir.empty()) return files;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    // Bounded: a log directory with more entries than this is not ours to list.
    for (int n = 0; !ec && it != end && n < 100000; it.increment(ec), ++n) {
        std::error_code e2;
        if (!it->is_regular_file(e2)) continue;
        const auto size = it->file_size(e2);
        const auto time = it->last_write_time(e2);
        files[it->path().string()] = {size, time.time_since_epoch().count()};
    }
    return files;
}

std::vector<std::string> files_written(const std::string& dir, const dir_snapshot_t& before) {
    std::vector<std::string> written;
    for (const auto& entry : snapshot_dir(dir)) {
        const auto old = before.find(entry.first);
        if (old == before.end() || old->second != entry.second) written.push_back(entry.first);
    }
    return written;
}

}  // namespace velkaro_cli
