// The computations behind the trend charts, free of widgets so that they run and are
// tested without a display: chart units, axis labels, default and automatic Y ranges,
// and the measure chart's points built from a trend view.
//
// Chart units: a value v shown against [lower, upper] is drawn at
//   y = 60000 / (upper - lower) * (v - (upper + lower) / 2),
// so lower lands on -30000 and upper on +30000; the overload lines sit at +-33000. The
// Y axes never rescale: a range change only remaps the values and relabels the ticks.
#pragma once

#include <QList>
#include <QPointF>
#include <QString>
#include <QVector>
#include <string>

#include "acq/plib_acq_types.h"

inline constexpr double chart_unit_half_span = 30000.0;  // |y| of the range edges
inline constexpr double chart_overload_y = 33000.0;      // |y| of the overload lines

// Measure chart: the overload value (either sign) goes onto its line, anything else is
// clamped to the range edges; a value beyond the range whose y overflows lands on the
// nearer edge, and a NaN reading on the middle line.
double chart_measure_y(double v, double lower, double upper);

// Scan chart: the chart-unit formula without clamping; a zero span, a NaN or an
// infinite result give 0.
double chart_scan_y(double v, double lower, double upper);

// The value a Y tick stands for (inverse of the chart-unit formula).
double chart_value_of_y(double y, double lower, double upper);

// Measure chart Y tick label: "OVERLOAD" at +33000, "-OVERLOAD" at -33000, else the
// value in engineering form with six significant digits and its prefix letter
// (0.15 -> "150m").
QString chart_y_label(double y, double lower, double upper);

// Time label of an X tick at x seconds: "5.25s", "5m09s", "1h05m09s"; negative times
// keep their sign in the leading part only ("-1m05s").
QString chart_time_label(double x);

// "All" mode X tick label: the readings count under x = 0, nothing elsewhere.
QString chart_readings_label(double x, quint64 readings);

// Major ticks (seconds) of a time axis over [x1, x2] seconds, at most about `max_steps`
// steps, on the round steps of a clock (1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min,
// 1, 2, 3, 4, 6, 12 h, days ...) counted from 0; Qwt's date scale engine picks them.
QList<double> chart_time_ticks(double x1, double x2, int max_steps);

// Record time of the header: two-digit hours, two-digit minutes, seconds as "05.25".
struct chart_elapsed_texts_t {
    QString hours;
    QString minutes;
    QString seconds;
};
chart_elapsed_texts_t chart_elapsed_texts(double elapsed_s);

// A range text of a measurement function as a number, with the Greek micro sign read
// as the micro prefix ("200μA" -> 2e-4, "200mV" -> 0.2, "2kΩ" -> 2000).
double chart_range_text_value(const std::string& range_text);

// Default Y range of function f (plib_measure_type_t): Continuity and Diode [0,
// threshold as an integer]; AC Voltage, AC Current, the resistances, Frequency and
// Period [0, r]; the others [-r, r], r being the current range text as a number.
// Returns false (outputs untouched) when that gives no usable range (an empty or
// unreadable text).
bool chart_default_range(int f, const std::string& range_text, const std::string& threshold_text,
                         double& lower, double& upper);

// Automatic range from a trend view's extremes: false when the view holds no reading
// that is not overload (ymax still -9.9e37 or ymin still 9.9e37). Equal extremes are
// widened to [v - |v|, v + |v|] ([-1, 1] around 0) so the line keeps labelled ticks.
bool chart_auto_range(double ymin, double ymax, double& lower, double& upper);

// The measure chart's points from a trend view (count clamped to 0..1000).
//   "All" (trend mode 1): each max and min at its time in seconds since the earliest
//   timestamp of the view (so x runs from 0 over the whole run), the earlier of a pair
//   first, and the second only when it differs from the first in time or value.
//   "Recent" (0): each max and min at its time in seconds before the latest timestamp
//   of the view (so x runs up to 0).
// Also tells whether a point lies on the upper or the lower overload line.
struct chart_measure_points_t {
    QVector<QPointF> points;
    bool upper_overload = false;
    bool lower_overload = false;
};
chart_measure_points_t chart_measure_points(const plib_trend_data_info_t& info, int trend_mode, double lower,
                                            double upper);
