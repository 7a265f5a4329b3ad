// Scan log files: names, the per-channel header and lines, and the single-file table.
//
// The single file is a CSV table with one column per scanned channel whose columns grow
// independently. No CSV library is packaged for this system, so scan_csv_table_file_t
// is our own small writer: it keeps the rows that can still change in memory and, at
// each append, rewrites the file from the first changed row on, so the cost of an append
// does not depend on the length of the file.
//
// The rewrite must never lose a reading already on disk, whenever the process dies: the
// new tail first goes whole into a journal beside the file ("<file>.tail"), then over the
// file's old tail, and the journal is removed last. Until the journal is whole the file
// is untouched; from then on the journal holds every reading. A journal left by a crash
// is applied (or, when torn, dropped) by scan_csv_table_recover, which creating a table
// and opening a run's log files call.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/plib_log_file.h"
#include "drv/drv_types.h"
#include "scan/plib_scan_types.h"

inline constexpr const char* scan_file_prefix = "VX_Scan ";

// directory + "/" + name (no second separator when the directory already ends in one).
std::string scan_join_path(const std::string& directory, const std::string& name);
// "VX_Scan " + stamp + ".csv"; the stamp uses apostrophes.
std::string scan_single_file_name(const std::string& stamp);
// "VX_Scan <stamp> Channel_<n> ['<name>']<function name>.csv"
std::string scan_channel_file_name(const std::string& stamp, int channel, const std::string& name, int func);
// (A "/" or "\\" in the name becomes "_", so the file stays in its directory.)
// "Channel_" + n + name + ": " + function name.
std::string scan_column_title(int channel, const std::string& name, int func);
// The eight identity lines and the column line of a per-channel file; stamp with colons.
std::string scan_channel_header(const plib_scan_file_record_param_t& info, const std::string& stamp);
// value + "," + seconds since the start, each with at most 10 significant digits, "\n".
void scan_append_channel_line(std::string& out, double value, double seconds);

// Appends `text` to the regular file at `path` (created if missing; a link, pipe or
// device at the name is refused). False when it cannot be written whole.
bool scan_append_to_file(const std::string& path, const std::string& text);

// Creates a log file of this writer (plib_log_file_create: another name when the name
// is taken) with `text` in it; `created` tells its path and identity. False when no file
// could be made or `text` not written whole.
bool scan_create_log_file(const std::string& path, const std::string& text, plib_log_create_t& created);
// Appends `text` to the log file `id` at `path`; false when anything else is at the name
// now or the text cannot be written whole (the file then ends where it ended).
bool scan_append_to_log_file(const std::string& path, const plib_log_file_id_t& id, const std::string& text);

// The journal of a table file's pending rewrite.
std::string scan_csv_table_journal_path(const std::string& path);

// Finishes or drops a rewrite of `path` that a crash cut short: a whole journal is
// written over the file's tail, a torn one is removed (the file was not yet touched).
// True when the file is consistent afterwards (also when there was no journal).
bool scan_csv_table_recover(const std::string& path);

// Recovers every table journal in `directory` (at most a bounded number of entries are
// looked at). Returns the number of journals applied or dropped.
int scan_csv_table_recover_directory(const std::string& directory);

// The steps of one append, where a test may make the writer stop (as a crash would) or
// fail (as a full disk would).
enum class scan_table_step_t {
    journal_begin,   // nothing written yet
    journal_half,    // half the journal written
    file_begin,      // the journal is whole, the file not yet touched
    file_half,       // half the new tail written over the file
    journal_remove,  // the file is whole again, the journal not yet removed
};
enum class scan_table_fault_t { none, crash, fail };
using scan_table_fault_hook_t = std::function<scan_table_fault_t(scan_table_step_t)>;

// The single log file as a table: a titles row and one column per channel.
class scan_csv_table_file_t {
public:
    // Creates a new file at `path` (or at a free alternative name, see path()) with the
    // titles row, without a line break. False when the file cannot be written.
    bool create(const std::string& path, const std::vector<std::string>& titles);
    // Ends a table without a data row with the titles row's line break.
    bool finish();

    // Appends values to the columns (index into the titles); values are written with
    // 17 significant digits, and the cells a shorter column lacks stay empty. The file
    // is complete after every call. False when it cannot be written; the file then
    // still holds every earlier reading and ends where it ended before the call, and
    // every later call fails too (the table in memory no longer matches the file).
    bool append(const std::map<std::size_t, std::vector<double>>& values);

    // Test-only: called before each step of an append.
    void set_fault_hook(scan_table_fault_hook_t hook) { m_fault_hook = std::move(hook); }

    const std::string& path() const { return m_path; }
    std::size_t row_count() const { return m_row_count; }
    // Rows held in memory because some column may still fill them (for tests).
    std::size_t pending_rows() const { return m_rows_start.size(); }

private:
    std::string _render_row(std::size_t row) const;
    // Writes `text` at `offset` through the journal; false on a failure or a crash.
    bool _rewrite_tail(uint64_t offset, const std::string& text);
    scan_table_fault_t _fault(scan_table_step_t step) const;

    std::string m_path;
    plib_log_file_id_t m_id;
    uint64_t m_header_size = 0;  // bytes of the titles row, without its line break
    uint64_t m_file_size = 0;    // bytes this writer has put in the file
    std::size_t m_row_count = 0;
    // Rows from m_base_row on may still change; rows before it are final on disk.
    std::size_t m_base_row = 0;
    std::deque<uint64_t> m_rows_start;  // byte offset of each row from m_base_row on
    std::vector<std::size_t> m_column_length;
    std::vector<std::deque<std::string>> m_cells;  // per column, cells from m_base_row on
    bool m_failed = false;                         // a write failed: the file is left as it was
    bool m_finished = false;                       // the titles row has its line break
    scan_table_fault_hook_t m_fault_hook;
};

// Quotes a cell that holds a separator, a quote, a blank or a line break.
std::string scan_csv_cell(const std::string& text);
