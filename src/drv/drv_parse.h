// Parsers of instrument replies. Each is a pure function over the reply text (the
// link I/O stays in the drivers), so the fuzz targets and the tests reach them
// directly. Replies are untrusted: every parser reads only inside the text, never
// throws, and bounds what it keeps (drv_max_readings, drv_max_scan_channels).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/plib_measure_type.h"
#include "drv/drv_types.h"

// A completed reply may grow to this size; beyond it the fetch is abandoned. A full
// one-million-reading block is about 16 MB.
inline constexpr std::size_t drv_max_reply_bytes = 64u * 1024u * 1024u;
// Readings kept from one reply (a reply of bare commas must not turn 64 MB into 1 GB).
inline constexpr std::size_t drv_max_readings = drv_max_reply_bytes / 16u;
// Distinct channel keys kept from one scanner reply.
inline constexpr std::size_t drv_max_scan_channels = 4096u;

// Source of the per-reading timestamps (microseconds since the Unix epoch).
using drv_clock_t = int64_t (*)();
int64_t drv_now_us();

// Line rule: a reply is used only when it ends in "\n"; `line` is the text before it.
bool drv_line(std::string_view reply, std::string_view& line);

// Bytes of a block parsed between two reads of its clock.
inline constexpr std::size_t drv_clock_bytes = 256;

// "R?": "#" + digit count n (1..9) + n length digits L + L data bytes + "\n"; the
// data is a comma-separated list of numbers, timestamped by `clock` in reply order:
// the clock is read at the first reading and again at the first reading that starts
// drv_clock_bytes or more bytes after the last read (well under a microsecond of
// parsing), so stamps never decrease. Any header fault, "NULL", or a size other than
// L + n + 3 gives no readings (and counts none dropped). A piece that is no number
// (drv_block_piece_value) is dropped; pieces beyond drv_max_readings are not read.
// Appends the readings to `out`; returns the number of pieces dropped, so that
// readings + dropped = pieces of a well-formed block.
std::size_t drv_parse_block_readings(std::string_view reply, std::vector<plib_data_t>& out,
                                     drv_clock_t clock = drv_now_us);

// One piece of an "R?" block: the general number rule (drv_parse_double: trailing
// text such as a unit is ignored), except that hex ("0x1p3") is no number. The
// overload value 9.9e37 is a number. False (value 0) when the piece is no reading.
bool drv_block_piece_value(std::string_view piece, double& value);

// "MEASURE_DATA?": "value:timestamp,value:timestamp,...\n" or "NULL\n". An entry is
// kept only when it has exactly two ':' pieces that both convert; the timestamp is
// the instrument's own (microseconds since the Unix epoch). Appends to `out`; returns
// the number of entries dropped (kept + dropped = entries of the reply).
std::size_t drv_parse_measure_data(std::string_view reply, std::vector<plib_data_t>& out);

// "ROUT:DATA:REMOVE?": "channel:value unit,...\n" or "NULL\n". The unit's SI prefix
// scales the value ("2.5 mVDC" -> 0.0025). A channel that does not start with an
// integer ends the parsing; a value that does not start with a number, or that the
// prefix scales beyond the range of double, skips the entry. The overload value is
// kept unscaled.
void drv_parse_scan_data(std::string_view reply, plib_scan_data_map_t& out, drv_clock_t clock = drv_now_us);

// "READ?": comma-separated numbers; pieces that do not start with a number are skipped.
void drv_parse_read_data(std::string_view reply, std::vector<plib_data_t>& out,
                         drv_clock_t clock = drv_now_us);

// "TEMP:UDEF:RTD|THER:TRAN:LIST?": comma-separated names, "NONE" for none. Appends
// (define 1, `type`, name) for each name; empty names and names that are not UTF-8
// are left out (they could neither be shown nor sent back).
void drv_parse_udef_tran_list(std::string_view reply, int type, std::vector<drv_temp_sensor_t>& out);

// "IDN-MRQX-PRI?": the reply must match ^IDN-MRQX-PRI\s(\S.+)\n$ (ECMAScript: '.'
// is any byte but "\n" and "\r"); returns the captured name, "" when it does not.
std::string drv_parse_vxa_private_model(std::string_view reply);

// "MACHINE_INFO?": the reply up to its first "\n" (all of it when there is none).
std::string drv_parse_vxb_private_model(std::string_view reply);

// "...:RANGE?": line rule, then the leading number (0 when it does not parse).
// False (value unchanged) when the line rule fails.
bool drv_parse_number_reply(std::string_view reply, double& value);

// "ROUT:STAT?": line rule; 1 for "ON" or "1", else 0. False (state unchanged) when
// the line rule fails.
bool drv_parse_scan_state_reply(std::string_view reply, int& state);

// Index of `range` in `ranges`, or -1. "u" and "μ" count as the same prefix, so a
// default "2uF" finds "2μF".
int drv_find_range(const std::vector<std::string>& ranges, std::string_view range);

// Well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool drv_is_utf8(std::string_view text);
