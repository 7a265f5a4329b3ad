// Scan log files: names, the per-channel header and lines, and the single-file table.
//
// The single file is a CSV table with one column per scanned channel whose columns grow
// independently. No CSV library is packaged for this system, so scan_csv_table_file_t
// is our own small writer: it keeps the rows that can still change in memory and, at
// each append, truncates the file at the first changed row and writes from there on, so
// the cost of an append does not depend on the length of the file.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

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

// Appends `text` to the file (created if missing). False when it cannot be written whole.
bool scan_append_to_file(const std::string& path, const std::string& text);

// The single log file as a table: a titles row and one column per channel.
class scan_csv_table_file_t {
public:
    // Creates (or appends to) `path` with the titles row, without a line break.
    // False when the file cannot be written.
    bool create(const std::string& path, const std::vector<std::string>& titles);

    // Appends values to the columns (index into the titles); values are written with
    // 17 significant digits, and the cells a shorter column lacks stay empty. The file
    // is complete after every call. False when it cannot be written.
    bool append(const std::map<std::size_t, std::vector<double>>& values);

    const std::string& path() const { return m_path; }
    std::size_t row_count() const { return m_row_count; }
    // Rows held in memory because some column may still fill them (for tests).
    std::size_t pending_rows() const { return m_rows_start.size(); }

private:
    std::string _render_row(std::size_t row) const;

    std::string m_path;
    uint64_t m_header_size = 0;  // bytes of the titles row, without its line break
    uint64_t m_file_size = 0;    // bytes this writer has put in the file
    std::size_t m_row_count = 0;
    // Rows from m_base_row on may still change; rows before it are final on disk.
    std::size_t m_base_row = 0;
    std::deque<uint64_t> m_rows_start;  // byte offset of each row from m_base_row on
    std::vector<std::size_t> m_column_length;
    std::vector<std::deque<std::string>> m_cells;  // per column, cells from m_base_row on
};

// Quotes a cell that holds a separator, a quote, a blank or a line break.
std::string scan_csv_cell(const std::string& text);
