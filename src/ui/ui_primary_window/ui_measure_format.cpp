#include "ui/ui_primary_window/ui_measure_format.h"

#include <QRegularExpression>
#include <cmath>

#include "common/plib_format.h"

const char* const ui_measure_placeholder = "——.——";

namespace {

constexpr int digit_field_width = 8;
constexpr int fixed_decimals = 6;

bool is_fixed_decimals_function(plib_measure_type_t f) {
    return f == measure_freq || f == measure_period || f == measure_cont || f == measure_diode ||
           f == measure_temp;
}

int count_range_digits(const QString& range) {
    static const QRegularExpression digit("(\\d)");
    int n = 0;
    for (auto it = digit.globalMatch(range); it.hasNext(); it.next()) ++n;
    return n;
}

// The instruments name micro ranges with the Greek sign ("200μA"); scaling knows the
// prefix as "u". Without this a 50 μA reading would print as 0.0001 A.
std::string with_latin_micro(const std::string& range) { return replace_all(range, "\xCE\xBC", "u"); }

}  // namespace

QString ui_measure_unit_text(plib_measure_type_t function, bool open, int temp_display, int temp_unit) {
    if (function == measure_temp)
        return temp_display != 0 ? QString("VDC") : QString::fromStdString(temp_unit_text(temp_unit));
    if (open) return QString();
    return QString::fromStdString(measure_unit_text(function));
}

ui_measure_reading_text_t ui_format_measure_reading(double value, const ui_measure_format_input_t& in) {
    ui_measure_reading_text_t out;
    const plib_measure_type_t f = in.function;
    if (std::isnan(value) || std::isinf(value) || is_equal(value, plib_no_reading_value)) {
        out.digits = QString::fromUtf8(ui_measure_placeholder);
        out.unit = ui_measure_unit_text(f, false, in.temp_display, in.temp_unit);
        return out;
    }
    const bool open_kind = f == measure_cont || f == measure_diode;
    bool overload = is_overload(std::fabs(value));
    double v = value;
    if (!overload) {
        out.prefix = QString::fromStdString(scale_to_range(v, with_latin_micro(in.range)));
        // Beyond the largest prefix the field cannot hold the reading.
        overload = std::fabs(v) >= 1000.0;
    }
    if (overload) {
        out.digits = open_kind ? QString("OPEN") : QString("OVERLOAD");
        out.prefix.clear();
        out.unit = ui_measure_unit_text(f, open_kind, in.temp_display, in.temp_unit);
        return out;
    }
    out.polarity = v < 0 ? "-" : "+";
    v = std::fabs(v);
    const int decimals = is_fixed_decimals_function(f)
                             ? fixed_decimals
                             : 7 - count_range_digits(QString::fromStdString(in.range));
    out.digits = QString::number(v, 'f', std::max(0, decimals)).rightJustified(digit_field_width, '0', true);
    out.unit = ui_measure_unit_text(f, false, in.temp_display, in.temp_unit);
    return out;
}

QString ui_value_unit_text(double value, const QString& unit, int digits) {
    if (!std::isfinite(value) || is_equal(value, plib_no_reading_value)) return QStringLiteral("-");
    if (is_overload(std::fabs(value))) return QStringLiteral("OVERLOAD");
    // Temperatures read best without a prefix ("0.5 ℃", not "500 m℃").
    if (unit.isEmpty() || unit == QString::fromUtf8("℃") || unit == QString::fromUtf8("℉") || unit == "K")
        return unit.isEmpty() ? QString::number(value, 'g', digits) : QString::number(value, 'g', digits) + " " + unit;
    const plib_si_scaled_t scaled = si_auto_scale(value);
    return QString::number(scaled.value, 'g', digits) + " " + QString::fromStdString(si_prefix_text(scaled.index)) +
           unit;
}
