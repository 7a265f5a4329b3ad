// The channel configuration table of the Scan Data page: one row per scanner channel
// (row r is channel r + 1) with name, scan box, function, range, speed, readings per
// visit, scaling and alarm limits. Columns are found by their header text.
//
// GUI thread only. The table never talks to the instrument: the page reads the rows out
// (read_channel_params) and hands them to the scan configuration.
#pragma once

#include <QString>
#include <QStringList>
#include <QTableWidget>
#include <map>
#include <vector>

#include "common/plib_measure_type.h"
#include "drv/drv_types.h"

class QCheckBox;
class QComboBox;
class QMenu;
class cfg_scan_config_t;

// Which of the two tables the page shows.
enum ui_scan_config_result_widget_index_t : int {
    ui_scan_config_widget_index = 0,
    ui_scan_result_widget_index = 1,
};

using ui_scan_name_map_t = std::map<int, QString>;

// Header texts of the two tables, in column order.
const QStringList& ui_scan_config_columns();
const QStringList& ui_scan_result_columns();

// Settings of both tables: object name, no selection or focus, alternating rows, no grid,
// header sizing and scroll bars.
void ui_scan_setup_table(QTableWidget* table);

class ui_scan_channel_config_widget_t : public QTableWidget {
    Q_OBJECT
public:
    static constexpr double limit_bound = 1e9;
    static constexpr double gain_bound = 1e6;

    // `config` is borrowed and read here only: the channel count, the functions each
    // channel offers, the ranges of a function, the bounds and the stored rows.
    ui_scan_channel_config_widget_t(QWidget* parent, cfg_scan_config_t* config, int channel_count);

    // Column of a header text; -1 when there is none.
    static int column_of(const QString& header);

    // Every row as a channel parameter record, keyed by channel number.
    plib_scanner_channel_map_t read_channel_params() const;
    // Lowest and highest checked channel; false when no box is checked.
    bool scanned_channel_span(int& first, int& last) const;
    // Fills the rows from stored channel parameters.
    void load_channel_params(const plib_scanner_channel_map_t& params);

    QCheckBox* scan_box(int row) const;
    QCheckBox* scaling_box(int row) const;
    QComboBox* combo(int row, const QString& header) const;
    QMenu* context_menu() const { return m_context_menu; }
    // Emits signal_name_change with every row's name.
    void publish_names();

signals:
    void signal_name_change(ui_scan_name_map_t name_map);
    void signal_func_change(int row, plib_measure_type_t func);

public slots:
    void slot_func_change_func_event(int row, plib_measure_type_t func);
    void slot_func_change_range_event(int row, plib_measure_type_t func);
    void slot_func_change_speed_event(int row, plib_measure_type_t func);
    void slot_limit_data_rectify(QTableWidgetItem* item);
    void slot_select_all_channels();
    void slot_deselect_all_channels();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private slots:
    void _on_item_double_clicked(QTableWidgetItem* item);
    void _on_item_changed(QTableWidgetItem* item);

private:
    QTableWidgetItem* _text_item(const QString& text, bool editable);
    QCheckBox* _add_check_cell(int row, int column);
    QComboBox* _add_combo_cell(int row, int column);
    void _build_row(int row, const std::vector<plib_measure_type_t>& funcs);
    void _set_item_editable(int row, const QString& header, bool editable);
    void _apply_alarm_limit(int row, int alarm_limit);
    void _set_all_scan_boxes(bool checked);

    cfg_scan_config_t* m_config = nullptr;
    QMenu* m_context_menu = nullptr;
    // The cell being edited by double click and its text before the edit.
    QTableWidgetItem* m_edit_item = nullptr;
    QString m_edit_start_text;
    bool m_restoring = false;  // a restore writes the item: that change is not checked again
};
