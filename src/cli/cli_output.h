// Where velkaro-cli writes what.
//
// Standard output carries results only, so that a script can read them. The core
// libraries' step lines go through their log sink (common/plib_log.h), which the
// command-line program points at standard error with --verbose and at nothing without;
// whatever else a library prints on standard output is moved to standard error once, at
// start, and the results go through results() to the real standard output. --verbose
// adds the program's own step lines on standard error too. Progress is drawn on standard error,
// only when it is a terminal.
//
// All of this is used from the command's thread only (the main thread).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "acq/plib_acq_types.h"

namespace velkaro_cli {

// Keeps a handle on the real standard output for results and points file descriptor 1
// (the libraries' printf and cout) at standard error. false when the descriptors could
// not be set up; the results then still go to standard output.
bool route_diagnostics_to_stderr();

// The real standard output (stdout until route_diagnostics_to_stderr has run).
FILE* results();

// Writes text to results() unchanged.
void write_results(const std::string& text);

void set_verbose(bool on);
bool verbose();
// One "velkaro-cli <command>: <text>" line on standard error, only with --verbose.
void note(const char* command, const std::string& text);

// One JSON document on results(), indented, ending in a newline.
void write_json(const nlohmann::json& document);

// {"exit_code": N, "message": "...", "visa_status": "VI_ERROR_TMO"} (the status only when
// one is known, i.e. non-zero).
nlohmann::json error_json(int exit_code, const std::string& message, int visa_status = 0);

// A number for JSON: non-finite values (no reading, an overload's infinity) become null.
nlohmann::json number_json(double v);

// The run statistics for JSON: {"count", "min", "max", "mean", "stddev", "overloads"}
// (figures null while no reading counted).
nlohmann::json statistics_json(const plib_acq_statistics_t& st);
// The same as text, one "name: value" line each, every line starting with `indent`;
// "-" for figures without readings; the overloads line only when there were some.
std::string statistics_text(const plib_acq_statistics_t& st, const std::string& indent);

// What a command reports: its failures on standard error as they happen, and with
// --json one document on standard output at the end (the command fills doc() with its
// facts; "errors" and "exit_code" are added here).
class cli_report_t {
public:
    cli_report_t(std::string command, bool json)
        : m_command(std::move(command)), m_json(json), m_doc(nlohmann::json::object()) {}

    bool json() const { return m_json; }
    nlohmann::json& doc() { return m_doc; }
    // "velkaro-cli <command>: <message>" on standard error; recorded for the document.
    // Returns code, so that `return report.fail(...)` reads naturally. fail() and warn()
    // may be called from several threads at once.
    int fail(int code, const std::string& message, int visa_status = 0);
    // A warning: on standard error and in the document's "warnings", no exit code.
    void warn(const std::string& message);
    // Writes the document (with --json) and returns code.
    int finish(int code);

private:
    std::string m_command;
    bool m_json = false;
    nlohmann::json m_doc;
    std::mutex m_mutex;  // guards m_errors and m_warnings, and keeps their lines whole
    nlohmann::json m_errors = nlohmann::json::array();
    nlohmann::json m_warnings = nlohmann::json::array();
};

// A one-line live display on standard error, redrawn in place at most a few times a
// second; silent when standard error is not a terminal, so pipes and files never see it.
class cli_progress_t {
public:
    cli_progress_t();  // enabled when standard error is a terminal
    explicit cli_progress_t(bool enabled) : m_enabled(enabled) {}
    ~cli_progress_t() { finish(); }
    cli_progress_t(const cli_progress_t&) = delete;
    cli_progress_t& operator=(const cli_progress_t&) = delete;

    bool enabled() const { return m_enabled; }
    // Redraws the line when enough time has passed since the last drawing (or force).
    void draw(const std::string& line, bool force = false);
    // Clears the line (once), so that what follows starts on a clean line.
    void finish();

private:
    bool m_enabled = false;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_last{};
};

// "123 readings, 45.6 readings/s, 2.7 s, 1 file": the facts every progress line shows.
std::string progress_text(unsigned long long readings, double elapsed_s, std::size_t files);

// The regular files of a directory with their size and modification time, taken before
// a run, so that afterwards the files the run wrote can be named.
using dir_snapshot_t = std::map<std::string, std::pair<std::uintmax_t, long long>>;
dir_snapshot_t snapshot_dir(const std::string& dir);
// Files of dir that are new or changed since `before`, by path.
std::vector<std::string> files_written(const std::string& dir, const dir_snapshot_t& before);

}  // namespace velkaro_cli
