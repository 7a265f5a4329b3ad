#include "ui/ui_primary_window/ui_scan_channel_result_widget.h"

#include <QBrush>
#include <QLabel>
#include <cmath>

#include "common/plib_format.h"
#include "ui/ui_primary_window/ui_measure_format.h"

namespace {

const QString col_name = "Name";
const QString col_data = "Data";
const QString col_min = "Min";
const QString col_max = "Max";
const QString col_average = "Average";
const QString col_total = "Total nums";
const QString col_alarm = "Alarm";

const QString em_dash = QString::fromUtf8("\xE2\x80\x94");

constexpr int alarm_low = 1;
constexpr int alarm_high = 2;
constexpr int alarm_low_high = 3;

bool is_overload_magnitude(double value) { return is_overload(std::fabs(value)); }

}  // namespace

ui_scan_channel_result_widget_t::ui_scan_channel_result_widget_t(QWidget* parent, int channel_count)
    : QTableWidget(parent) {
    const QStringList& columns = ui_scan_result_columns();
    setColumnCount(columns.size());
    setHorizontalHeaderLabels(columns);
    setRowCount(channel_count > 0 ? channel_count : 0);
    ui_scan_setup_table(this);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    const int alarm_column = column_of(col_alarm);
    for (int row = 0; row < rowCount(); ++row) {
        auto* channel = new QLabel(QString::number(row + 1), this);
        channel->setAlignment(Qt::AlignCenter);
        setCellWidget(row, 0, channel);
        for (int column = 1; column < columnCount(); ++column) {
            auto* cell = new QTableWidgetItem();
            cell->setTextAlignment(Qt::AlignCenter);
            cell->setFlags(Qt::ItemIsEnabled);
            if (column == alarm_column) cell->setForeground(QBrush(Qt::red));
            setItem(row, column, cell);
        }
    }
}

int ui_scan_channel_result_widget_t::column_of(const QString& header) {
    return ui_scan_result_columns().indexOf(header);
}

QString ui_scan_channel_result_widget_t::engineering_text(double value) {
    const plib_si_scaled_t scaled = si_auto_scale(value);
    return QString::number(scaled.value, 'f', 5) + QString::fromStdString(si_prefix_text(scaled.index));
}

QString ui_scan_channel_result_widget_t::data_text(double value, int func) {
    if (!std::isfinite(value)) return QString();
    if (is_overload_magnitude(value)) {
        return func == measure_cont || func == measure_diode ? QString("OPEN") : QString("OVERLOAD");
    }
    return engineering_text(value);
}

QString ui_scan_channel_result_widget_t::statistic_text(double value) {
    if (!std::isfinite(value)) return QString();
    if (is_overload_magnitude(value)) return em_dash;
    return engineering_text(value);
}

bool ui_scan_channel_result_widget_t::in_alarm(const plib_scan_statistic_data_t& stat,
                                               const plib_scanner_channel_param_t* param) {
    if (param == nullptr) return false;
    const bool low = stat.min < param->limit_low;
    const bool high = stat.max > param->limit_high;
    switch (param->alarm_limit) {
        case alarm_low:
            return low;
        case alarm_high:
            return high;
        case alarm_low_high:
            return low || high;
        default:
            return false;
    }
}

void ui_scan_channel_result_widget_t::_set_text(int row, int column, const QString& text) {
    QTableWidgetItem* cell = item(row, column);
    // Unchanged texts are left alone: no repaint for a quiet channel.
    if (cell != nullptr && cell->text() != text) cell->setText(text);
}

void ui_scan_channel_result_widget_t::_set_tip(int row, int column, const QString& tip) {
    QTableWidgetItem* cell = item(row, column);
    if (cell != nullptr && cell->toolTip() != tip) cell->setToolTip(tip);
}

QString ui_scan_channel_result_widget_t::value_tip(double value, int func) {
    if (!std::isfinite(value)) return QString();
    return ui_value_unit_text(value, ui_measure_unit_text(static_cast<plib_measure_type_t>(func), false, 0, 0), 10);
}

void ui_scan_channel_result_widget_t::clear_results() {
    for (int row = 0; row < rowCount(); ++row) {
        for (int column = column_of(col_data); column < columnCount(); ++column)
        {
            _set_text(row, column, QString());
            _set_tip(row, column, QString());
        }
    }
}

void ui_scan_channel_result_widget_t::show_results(const plib_scan_latest_map_t& latest,
                                                   const plib_scan_statistic_map_t& stats,
                                                   const plib_scanner_channel_map_t& params) {
    const int data = column_of(col_data);
    for (const auto& [channel, reading] : latest) {
        const int row = channel - 1;
        if (row < 0 || row >= rowCount()) continue;
        const auto it = params.find(channel);
        const int func = it != params.end() ? it->second.func : static_cast<int>(measure_dcv);
        _set_text(row, data, data_text(reading.value, func));
        _set_tip(row, data, value_tip(reading.value, func));
    }
    const int min = column_of(col_min);
    const int max = column_of(col_max);
    const int average = column_of(col_average);
    const int total = column_of(col_total);
    const int alarm = column_of(col_alarm);
    for (const auto& [channel, stat] : stats) {
        const int row = channel - 1;
        if (row < 0 || row >= rowCount()) continue;
        _set_text(row, min, statistic_text(stat.min));
        _set_text(row, max, statistic_text(stat.max));
        _set_text(row, average, statistic_text(stat.average));
        _set_text(row, total, QString::number(stat.count));
        const auto it = params.find(channel);
        const int func = it != params.end() ? it->second.func : static_cast<int>(measure_dcv);
        _set_tip(row, min, value_tip(stat.min, func));
        _set_tip(row, max, value_tip(stat.max, func));
        _set_tip(row, average, value_tip(stat.average, func));
        const bool over = in_alarm(stat, it != params.end() ? &it->second : nullptr);
        _set_text(row, alarm, over ? QString("Over Limit") : QString());
    }
}

void ui_scan_channel_result_widget_t::slot_name_change(ui_scan_name_map_t name_map) {
    const int name = column_of(col_name);
    for (const auto& [row, text] : name_map) {
        if (row >= 0 && row < rowCount()) _set_text(row, name, text);
    }
}
