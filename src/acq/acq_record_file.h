// The measurement record file: a ten-line header, then one "value,time" line per reading.
//
// The same layout serves the log written during a run and the export of the whole
// record buffer. Files are plain byte streams (no locale): values in general notation
// with at most ten significant digits, times as local "YYYY-MM-DD HH:MM:SS.ffffff".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "acq/plib_acq_types.h"
#include "common/plib_log_file.h"

inline constexpr int acq_record_value_digits = 10;
// Longest value text: sign, ten digits, point, "e-308".
inline constexpr std::size_t acq_record_value_max_chars = 24;

// The value column: the bytes of snprintf("%.10g", value) in the "C" locale, written at
// `out` (room for acq_record_value_max_chars); returns the end of the text. Values
// from 1e-13 to 1e31 take an exact fast path, everything else std::to_chars.
char* acq_format_record_value(double value, char* out);

// Header lines 1..10, each ended by "\n". `date_text` is line 8's time, normally
// format_local_time(":").
std::string acq_record_header(const plib_acq_file_record_param_t& param, int interval_ms,
                              std::string_view date_text);

// Appends reading lines to a text. The date-time part of the time column changes once
// a second, so it is taken from format_timestamp_us once per second and reused; the
// bytes are those of format_timestamp_us for every reading.
class acq_record_line_formatter_t {
public:
    void append_line(std::string& out, const plib_data_t& r);
    void append_lines(std::string& out, const plib_data_t* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) append_line(out, data[i]);
    }

private:
    int64_t m_second = 0;
    bool m_have_second = false;
    std::string m_prefix;  // "YYYY-MM-DD HH:MM:SS." of m_second, or "" if it has no calendar date
};

// File name of a run's log: "<stamp> <column title> <product type> <serial number>.csv".
// The identity texts come from the instrument: characters that would leave the record
// directory or break a path ('/', '\\', control characters) become '_'.
std::string acq_record_file_name(std::string_view stamp, std::string_view column_title,
                                 std::string_view product_type, std::string_view serial_number);

// The log's full path: directory and file name joined with the platform separator;
// an empty directory means no log file (empty path).
std::string acq_record_path(std::string_view directory, std::string_view file_name);

// Fills the record information of a run from the identity of the instrument, the
// application version, the function's display name and the record directory. The
// configuration's record-information callback is built on this.
void acq_fill_record_param(plib_acq_file_record_param_t& param, std::string_view manufacturer,
                           std::string_view product_type, std::string_view serial_number,
                           std::string_view product_software_version, std::string_view software_version,
                           std::string_view column_title, std::string_view record_directory,
                           std::string_view stamp);

enum class acq_file_result_t {
    ok,
    open_failed,   // the file could not be opened (missing directory, no permission)
    write_failed,  // opened, but not every byte reached the file (disk full, I/O error)
};

// Creates the run's log file new (plib_log_file_create: another name when the name is
// taken, a shorter one when it is too long) and writes `header` into it. `created`
// tells the path and identity of the file; open_failed when no file could be created.
acq_file_result_t acq_create_log_file(const std::string& path, std::string_view header,
                                      plib_log_create_t& created);

// Opens the log file `id` at `path` (refused when anything else is at the name now),
// writes `text`, closes it. A torn last line already in the file (a crash mid-write)
// is first cut back to the last "\n"; `text` goes out in writes that end at line ends,
// and a write that fails part-way is cut back too: the file ends at a line end after a
// failure, and by the next append after a crash.
acq_file_result_t acq_append_to_file(const std::string& path, const plib_log_file_id_t& id, std::string_view text);

// Export: writes the header and one line per reading to a temporary file beside `path`,
// syncs it and renames it over `path` (a device is written into directly),
// formatting in bounded chunks so a full buffer never needs one giant text.
acq_file_result_t acq_export_file(const std::string& path, const std::string& header, const plib_data_t* data,
                                  std::size_t n);
