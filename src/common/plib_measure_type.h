// Measurement functions and the per-reading record shared by engines, drivers and UI.
//
// The enumerator values are stored in project files and sent between threads:
// never renumber them. Every lookup below is a linear scan of a small constant
// table kept in the order of the enumeration; unknown values give "" or
// measure_none, never an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum plib_measure_type_t : int {
    measure_dcv = 0,
    measure_dci = 1,
    measure_acv = 2,
    measure_aci = 3,
    measure_res_2w = 4,
    measure_res_4w = 5,
    measure_freq = 6,
    measure_period = 7,
    measure_cap = 8,
    measure_cont = 9,
    measure_diode = 10,
    measure_temp = 11,
    measure_sensor = 12,
    measure_none = 13,  // result of a failed lookup
};

// One reading. The timestamp is microseconds since the Unix epoch (system clock);
// the VXB family stores the instrument's own timestamp here.
struct plib_data_t {
    double value = 0.0;
    int64_t timestamp = 0;
};

// The value an instrument returns for an overloaded or open input.
inline constexpr double plib_overload_value = 9.9e37;
// The acquisition engine's value for "no reading yet"; distinct from the overload.
inline constexpr double plib_no_reading_value = 9.91e37;

using plib_measure_text_table_t = std::vector<std::pair<plib_measure_type_t, std::string>>;

// The three name tables, in enumeration order (for combo boxes and lookups).
const plib_measure_text_table_t& measure_name_table();   // display names, "DC Voltage" ...
const plib_measure_text_table_t& measure_scpi_table();   // SCPI mnemonics, "VOLT" ...
const plib_measure_text_table_t& measure_short_table();  // scanner-card keywords, "DCV" ...

std::string measure_name(plib_measure_type_t type);        // "" when not in the table
std::string measure_scpi(plib_measure_type_t type);        // "" when not in the table
std::string measure_short_name(plib_measure_type_t type);  // "" when not in the table

// Exact, case-sensitive matches; measure_none when absent.
plib_measure_type_t measure_type_from_name(std::string_view name);
plib_measure_type_t measure_type_from_scpi(std::string_view scpi);

// Composition of the two lookups; "" when the first lookup fails.
std::string scpi_to_name(std::string_view scpi);
std::string name_to_scpi(std::string_view name);

// Unit of a reading ("VDC", "Ω", "Hz" ...); "" for Temperature, Sensor and unknown values.
std::string measure_unit_text(plib_measure_type_t type);
// Unit of the function's range texts ("V", "A", "Ω", "F"); "" where the function has no range.
std::string range_unit_text(plib_measure_type_t type);

// 0 "OFF", 1 "ON"; "" otherwise.
std::string on_off_text(int on);
// 0 "℃", 1 "℉", 2 "K"; "" otherwise.
std::string temp_unit_text(int index);
// A reply counts as "on" when it is exactly "ON" or exactly "1".
bool is_on_text(std::string_view text);
