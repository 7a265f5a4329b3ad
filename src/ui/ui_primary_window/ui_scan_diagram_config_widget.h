// The configuration area of the Scan Diagram page: a "Time Display" group (automatic
// or manual time window) and a table with one row per scanner channel (name,
// function, visibility, colour, line and symbol pattern, Y range, latest value).
//
// The area only shows values and reports the user's changes as signals; the page
// loads it (with its signals blocked) and connects the signals to the scan chart,
// which stores every value in the instrument's scan-diagram settings. GUI thread only.
#pragma once

#include <qwt_symbol.h>

#include <QFrame>
#include <QPushButton>
#include <QRgb>
#include <QString>
#include <QVector>

#include "cfg/cfg_scan_diagram.h"
#include "ui/ui_item_delegate.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QTableWidget;
class QTableWidgetItem;
class cfg_main_t;
class ui_time_edit_widget_t;

// Colour cell of a row: a small button filled with the curve's colour; a click opens a
// colour dialog.
class ui_scan_diagram_color_btn_t : public QPushButton {
    Q_OBJECT
public:
    explicit ui_scan_diagram_color_btn_t(QWidget* parent = nullptr);

    // Stores the colour, fills the button with it and emits signal_color_change.
    void set_color(QRgb color);
    QRgb color() const { return m_color; }

signals:
    void signal_color_change(QRgb color);

private:
    void _choose_color();
    QRgb m_color = 0;
};

// Range cells: edited as plain numbers (the text typed is stored), shown scaled with
// an SI prefix letter.
class ui_scan_diagram_deleagte_t : public ui_item_delegate_double_t {
    Q_OBJECT
public:
    explicit ui_scan_diagram_deleagte_t(QObject* parent = nullptr);
    QString displayText(const QVariant& value, const QLocale& locale) const override;

    // "" for text that is not a finite number, "OVERLOAD" for +-9.9e37, else the value
    // scaled to [1, 1000) in 6 significant digits followed by its prefix letter.
    static QString display_text_of(const QString& text);
};

// The values of one row, as the page loads them.
struct ui_scan_diagram_row_t {
    QString name;
    QString measurement;
    bool valid = false;
    bool visible = true;
    QRgb color = 0;
    int line_pattern = Qt::SolidLine;
    int symbol_pattern = QwtSymbol::Ellipse;
    bool auto_range = true;
    double upper = 0.0;
    double lower = 0.0;
};

class ui_scan_diagram_config_widget_t : public QFrame {
    Q_OBJECT
public:
    enum column_t : int {
        col_name = 0,
        col_measurement,
        col_visible,
        col_color,
        col_line,
        col_symbol,
        col_auto_range,
        col_upper,
        col_lower,
        col_data,
        col_count
    };

    // `cfg` (may be null) gives the stored window that "Manual" shows.
    ui_scan_diagram_config_widget_t(QWidget* parent, cfg_main_t* cfg, int channel_count);

    // Writes the rows (index ch - 1) and the display mode and window without emitting
    // any signal; a row that is not valid is hidden.
    void load(const QVector<ui_scan_diagram_row_t>& rows, int display_mode, double start, double end);
    void set_row_texts(int ch, const QString& name, const QString& measurement);
    void set_row_shown(int ch, bool shown);
    void set_data_text(int ch, const QString& text);

    // "3<Pump>" for channel 3 named Pump, "3" without a name.
    static QString name_text(int ch, const std::string& name);
    // Data column text of a reading of function `func`: "" for NaN and infinities,
    // "OVERLOAD" (or "OPEN" for Continuity and Diode) for +-9.9e37, else five decimals
    // and the SI prefix letter.
    static QString data_text(double value, int func);

signals:
    void signal_change_disp_mode(plib_scan_trend_display_mode_t mode);
    void signal_change_disp_period(double start, double end);
    void signal_change_visible(int ch, bool visible);
    void signal_change_color(int ch, QRgb color);
    void signal_change_line_pattern(int ch, Qt::PenStyle pattern);
    void signal_change_symbol_pattern(int ch, QwtSymbol::Style pattern);
    void signal_change_auto_range(int ch, bool flg);
    void signal_change_range(int ch, double upper, double lower);
    // The user chose channel ch's row: the value axis follows it.
    void signal_select_channel(int ch);
    // "Common axis per function" toggled.
    void signal_change_common_axis(bool on);

public slots:
    // A range the chart computed: written as is, not treated as an edit.
    void slot_update_range(int ch, double upper, double lower);
    // Channel ch was chosen elsewhere (a click at its curve): its row becomes current,
    // without signal_select_channel.
    void slot_show_selected_channel(int ch);

private:
    QWidget* _create_time_group();
    void _create_table();
    void _create_row(int row);
    void _on_mode_button(int id, bool checked);
    void _on_auto_range(int row, bool checked);
    void _set_range_cells_editable(int row, bool editable);
    void _on_cell_double_clicked(int row, int column);
    void _on_item_changed(QTableWidgetItem* item);
    void _show_stored_period();

    cfg_main_t* m_pcfg = nullptr;
    int m_channel_count = 0;

    QButtonGroup* m_pmode_group = nullptr;
    QRadioButton* m_pauto_btn = nullptr;
    QRadioButton* m_pmanual_btn = nullptr;
    QWidget* m_pmanual_panel = nullptr;
    ui_time_edit_widget_t* m_pstart_edit = nullptr;
    ui_time_edit_widget_t* m_pend_edit = nullptr;
    QPushButton* m_papply_btn = nullptr;
    QCheckBox* m_pcommon_axis_box = nullptr;
    QTableWidget* m_ptable = nullptr;

    // One entry per row (= channel - 1).
    QVector<QLabel*> m_name_labels;
    QVector<QLabel*> m_measurement_labels;
    QVector<QCheckBox*> m_visible_boxes;
    QVector<ui_scan_diagram_color_btn_t*> m_color_btns;
    QVector<QComboBox*> m_line_combos;
    QVector<QComboBox*> m_symbol_combos;
    QVector<QCheckBox*> m_auto_range_boxes;
    QVector<QTableWidgetItem*> m_upper_items;
    QVector<QTableWidgetItem*> m_lower_items;
    QVector<QTableWidgetItem*> m_data_items;

    QString m_edit_text;  // text of the cell double-clicked last, before its edit
};
