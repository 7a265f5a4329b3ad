// The channel result table of the Scan Data page: per channel the latest reading, the
// running statistics and the alarm state, as texts.
//
// GUI thread only. Every cell item is created once with the table; an update only
// rewrites texts, so a long scan never rebuilds widgets.
#pragma once

#include <QTableWidget>

#include "scan/plib_scan_types.h"
#include "ui/ui_primary_window/ui_scan_channel_config_widget.h"

class ui_scan_channel_result_widget_t : public QTableWidget {
    Q_OBJECT
public:
    ui_scan_channel_result_widget_t(QWidget* parent, int channel_count);

    // Column of a header text; -1 when there is none.
    static int column_of(const QString& header);

    // Engineering form: five decimals and the SI prefix letter, no unit ("1.23456m").
    static QString engineering_text(double value);
    // Data column: empty for NaN and infinities; "OVERLOAD" ("OPEN" for Continuity and
    // Diode) for the overload value; else the engineering form.
    // The tooltip of a value cell: the value with its function's unit ("1.23456 VDC").
    static QString value_tip(double value, int func);
    static QString data_text(double value, int func);
    // Min, Max and Average: empty for NaN and infinities, an em dash for overload.
    static QString statistic_text(double value);
    // Whether the statistics break the channel's alarm limit.
    static bool in_alarm(const plib_scan_statistic_data_t& stat, const plib_scanner_channel_param_t* param);

    // Empties Data, Min, Max, Average, Total nums and Alarm of every row.
    void clear_results();
    // Writes the results of every channel present in the maps; `params` gives the
    // function and the limits (a channel missing there has no alarm).
    void show_results(const plib_scan_latest_map_t& latest, const plib_scan_statistic_map_t& stats,
                      const plib_scanner_channel_map_t& params);

public slots:
    void slot_name_change(ui_scan_name_map_t name_map);

private:
    void _set_text(int row, int column, const QString& text);
    void _set_tip(int row, int column, const QString& tip);
};
