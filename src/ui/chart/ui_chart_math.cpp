#include "ui/chart/ui_chart_math.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <qwt_date.h>
#include <qwt_date_scale_engine.h>
#include <qwt_scale_engine.h>
#include <qwt_scale_div.h>

#include "common/plib_common.h"

double chart_measure_y(double v, double lower, double upper) {
    // The approximate equality calls an infinity "equal" to the overload value (of
    // either sign): an infinite reading is out of range, not an overload.
    if (std::isinf(v)) return v > 0 ? chart_unit_half_span : -chart_unit_half_span;
    if (is_equal(v, plib_overload_value)) return chart_overload_y;
    if (is_equal(v, -plib_overload_value)) return -chart_overload_y;
    const double y = 60000.0 / (upper - lower) * (v - (upper + lower) / 2.0);
    if (std::isnan(y)) return 0.0;
    // An infinite y is a value beyond the range (or a zero-width range): it belongs on
    // the edge like any other value outside the range.
    return std::clamp(y, -chart_unit_half_span, chart_unit_half_span);
}

double chart_scan_y(double v, double lower, double upper) {
    const double span = upper - lower;
    if (span == 0.0) return 0.0;
    const double y = 60000.0 / span * (v - (upper + lower) / 2.0);
    return std::isfinite(y) ? y : 0.0;
}

double chart_value_of_y(double y, double lower, double upper) {
    return y * (upper - lower) / 60000.0 + (upper + lower) / 2.0;
}

QString chart_y_label(double y, double lower, double upper) {
    if (std::fabs(y - chart_overload_y) < 1e-8) return "OVERLOAD";
    if (std::fabs(y + chart_overload_y) < 1e-8) return QString("-") + "OVERLOAD";
    const double v = chart_value_of_y(y, lower, upper);
    if (!std::isfinite(v)) return QString();
    const plib_si_scaled_t scaled = si_auto_scale(v);
    return QString::number(scaled.value, 'g', 6) + QString::fromStdString(si_prefix_text(scaled.index));
}

QString chart_time_label(double x) {
    if (!std::isfinite(x)) return QString();
    // Beyond a century the label would not fit anyway; keeping x there keeps the
    // integer conversions defined.
    x = std::clamp(x, -3.2e9, 3.2e9);
    // A tick computed as -0.0 or -1e-12 is the right edge, not a negative time.
    if (std::fabs(x) < 0.005) x = 0.0;
    const int64_t h = static_cast<int64_t>(x / 3600.0);
    const int64_t s = static_cast<int64_t>(x);
    const int64_t m = s / 60 - h * 60;
    const QChar zero('0');
    const QString sec = QString("%1s").arg(static_cast<qlonglong>(std::llabs(s % 60)), 2, 10, zero);
    if (h == 0 && m == 0) return QString("%1s").arg(x, 0, 'f', 2);
    if (h != 0) {
        return QString("%1h").arg(static_cast<qlonglong>(h)) +
               QString("%1m").arg(static_cast<qlonglong>(std::llabs(m)), 2, 10, zero) + sec;
    }
    return QString("%1m").arg(static_cast<qlonglong>(m)) + sec;
}

QString chart_readings_label(double x, quint64 readings) {
    if (std::fabs(x) < 1e-9) return QString("Readings: #%1").arg(readings);
    return QString();
}

QList<double> chart_time_ticks(double x1, double x2, int max_steps) {
    QList<double> ticks;
    if (!std::isfinite(x1) || !std::isfinite(x2) || !(x1 < x2)) return ticks;
    max_steps = std::clamp(max_steps, 1, 100);
    // Beyond a century (an instrument clock that jumped) the calendar has no use: plain
    // round numbers of seconds.
    constexpr double century_s = 3.2e9;
    if (std::fabs(x1) > century_s || std::fabs(x2) > century_s) {
        QwtLinearScaleEngine linear;
        const QwtScaleDiv div = linear.divideScale(x1, x2, max_steps, 0);
        return div.ticks(QwtScaleDiv::MajorTick);
    }
    // The engine aligns to the calendar in milliseconds since the epoch; in UTC, time 0
    // is a midnight, so its steps fall on whole seconds, minutes and hours of the run.
    QwtDateScaleEngine engine(Qt::UTC);
    const QwtScaleDiv div = engine.divideScale(x1 * 1000.0, x2 * 1000.0, max_steps, 0);
    for (double t : div.ticks(QwtScaleDiv::MajorTick)) {
        const double s = t / 1000.0;
        if (s >= x1 - 1e-9 && s <= x2 + 1e-9) ticks << s;
    }
    return ticks;
}

chart_elapsed_texts_t chart_elapsed_texts(double elapsed_s) {
    if (!std::isfinite(elapsed_s) || elapsed_s < 0.0) elapsed_s = 0.0;
    // Rounded to the shown hundredths first, so 59.999 s reads 01m00.00s, not 60.00s.
    const double centi = std::min(std::round(elapsed_s * 100.0), 3.6e14);
    const int64_t total = static_cast<int64_t>(centi);
    const int64_t hours = total / 360000;
    const int64_t minutes = (total / 6000) % 60;
    const double seconds = static_cast<double>(total % 6000) / 100.0;
    const QChar zero('0');
    return {QString("%1").arg(static_cast<qlonglong>(hours), 2, 10, zero),
            QString("%1").arg(static_cast<qlonglong>(minutes), 2, 10, zero),
            QString("%1").arg(seconds, 5, 'f', 2, zero)};
}

double chart_range_text_value(const std::string& range_text) {
    // The instruments spell micro as "μ" (U+03BC), which the byte-wise prefix lookup of
    // the vocabulary does not know; read it here so "200μA" is 200 microamperes.
    static const std::string micro_sign = "\xCE\xBC";
    const std::size_t mu = range_text.find(micro_sign);
    if (mu != std::string::npos) return parse_double_stream(range_text.substr(0, mu)) * 1e-6;
    return range_text_to_value(range_text);
}

bool chart_default_range(int f, const std::string& range_text, const std::string& threshold_text,
                         double& lower, double& upper) {
    if (f == measure_cont || f == measure_diode) {
        const double threshold = std::trunc(parse_double_stream(threshold_text));
        if (!(threshold > 0.0) || !std::isfinite(threshold)) return false;
        lower = 0.0;
        upper = threshold;
        return true;
    }
    const double r = std::fabs(chart_range_text_value(range_text));
    if (!(r > 0.0) || !std::isfinite(r)) return false;
    if (f >= measure_acv && f <= measure_period) {
        lower = 0.0;
    } else {
        lower = -r;
    }
    upper = r;
    return true;
}

bool chart_auto_range(double ymin, double ymax, double& lower, double& upper) {
    if (ymax == -plib_overload_value || ymin == plib_overload_value) return false;
    if (!std::isfinite(ymin) || !std::isfinite(ymax) || ymin > ymax) return false;
    if (ymin == ymax) {
        const double a = ymin == 0.0 ? 1.0 : std::fabs(ymin);
        lower = ymin - a;
        upper = ymin + a;
        return true;
    }
    lower = ymin;
    upper = ymax;
    return true;
}

chart_measure_points_t chart_measure_points(const plib_trend_data_info_t& info, int trend_mode, double lower,
                                            double upper) {
    chart_measure_points_t out;
    const int n = std::clamp(info.count, 0, acq_trend_display_points);
    if (n == 0) return out;
    out.points.reserve(2 * n);
    auto add = [&out](double x, double y) {
        if (y == chart_overload_y) out.upper_overload = true;
        if (y == -chart_overload_y) out.lower_overload = true;
        out.points.append(QPointF(x, y));
    };
    // The difference is taken on the whole 64-bit timestamps: as doubles of the epoch
    // they would lose the microseconds. The instrument's own clock may be anything, so
    // a difference beyond 64 bits falls back to doubles instead of overflowing.
    auto seconds_from = [](int64_t t, int64_t origin) {
        int64_t d = 0;
        if (__builtin_sub_overflow(t, origin, &d))
            return (static_cast<double>(t) - static_cast<double>(origin)) / 1e6;
        return static_cast<double>(d) / 1e6;
    };
    if (trend_mode == 1) {
        const int64_t earliest = std::min(info.max_points[0].timestamp, info.min_points[0].timestamp);
        for (int k = 0; k < n; ++k) {
            const plib_data_t* a = &info.max_points[k];
            const plib_data_t* b = &info.min_points[k];
            if (b->timestamp < a->timestamp) std::swap(a, b);
            add(seconds_from(a->timestamp, earliest), chart_measure_y(a->value, lower, upper));
            if (b->timestamp != a->timestamp || !(b->value == a->value))
                add(seconds_from(b->timestamp, earliest), chart_measure_y(b->value, lower, upper));
        }
        return out;
    }
    const int64_t latest = std::max(info.max_points[n - 1].timestamp, info.min_points[n - 1].timestamp);
    auto seconds_before = [&seconds_from, latest](int64_t t) { return seconds_from(t, latest); };
    for (int k = 0; k < n; ++k) {
        add(seconds_before(info.max_points[k].timestamp),
            chart_measure_y(info.max_points[k].value, lower, upper));
        add(seconds_before(info.min_points[k].timestamp),
            chart_measure_y(info.min_points[k].value, lower, upper));
    }
    return out;
}
