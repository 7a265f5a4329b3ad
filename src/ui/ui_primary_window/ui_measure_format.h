// How the Measure page prints one reading: sign, the 8-character digit field, SI
// prefix and unit. Pure functions of the reading and the settings, no instrument.
#pragma once

#include <QString>
#include <string>

#include "common/plib_measure_type.h"

// Shown in the digit field while there is no reading to show.
extern const char* const ui_measure_placeholder;  // "——.——"

struct ui_measure_reading_text_t {
    QString polarity;  // "+", "-", or empty (overload, open, no reading)
    QString digits;    // the digit field, "OVERLOAD", "OPEN" or the placeholder
    QString prefix;    // "p" ... "T", or empty
    QString unit;      // "VDC", "Ω", "℃" ..., empty for "OPEN"
};

struct ui_measure_format_input_t {
    plib_measure_type_t function = measure_dcv;
    std::string range;     // range text in use ("200mV"); empty: the prefix follows the value
    int temp_display = 0;  // Temperature only: non-zero shows "VDC"
    int temp_unit = 0;     // Temperature only: 0 "℃", 1 "℉", 2 "K"
};

// Unit text of a reading of `function`; empty when the digits read "OPEN".
QString ui_measure_unit_text(plib_measure_type_t function, bool open, int temp_display, int temp_unit);

// Digits keep 7 digit positions plus the point: Frequency, Period, Continuity, Diode and
// Temperature print 6 decimals, every other function 7 minus the digits of its range
// text ("200mV" 4, "2V" 6, no range 7), right-aligned with leading "0", cut to 8.
// Readings approximately 9.9e37 are "OVERLOAD" ("OPEN" for Continuity and Diode);
// NaN, infinity and the engine's no-reading value give the placeholder.
ui_measure_reading_text_t ui_format_measure_reading(double value, const ui_measure_format_input_t& in);

// A number with SI prefix and unit, for statistics, tooltips and chart cursors:
// "12.3457 mVDC", "-1.5 kΩ", "0 VDC"; `digits` significant digits; "OVERLOAD" for the
// overload value, "-" for NaN, infinity and no reading. An empty unit gives the bare number.
QString ui_value_unit_text(double value, const QString& unit, int digits = 6);
