// The control column of the Scan Data page: the "Setting" button (scan parameter
// settings dialog), the start switch, the Config/Result button and the status box
// (status, cycles, elapsed time). GUI thread only.
#pragma once

#include <QFrame>

#include "ui/ui_primary_window/ui_scan_channel_config_widget.h"

class QLabel;
class QPushButton;
class QToolButton;
class cfg_main_t;
class ui_switch_button_t;

class ui_scan_data_param_widget_t : public QFrame {
    Q_OBJECT
public:
    // `cfg` is borrowed (the dialog edits its scan configuration); may be null.
    ui_scan_data_param_widget_t(QWidget* parent, cfg_main_t* cfg);

    // The instrument is going away: the dialog is not offered any more.
    void release_instrument() { m_pcfg = nullptr; }

    ui_switch_button_t* start_switch() const { return m_switch; }
    QToolButton* table_button() const { return m_table_btn; }
    QPushButton* setting_button() const { return m_setting_btn; }

    // Turns the switch off without emitting.
    void switch_off_silently();
    // Checks (Result) or unchecks (Config) the table button without emitting.
    void show_table_button(ui_scan_config_result_widget_index_t index);
    void set_status(const QString& text);
    void set_cycles(const QString& text);
    void set_elapsed(const QString& text);

signals:
    void signal_start_btn_switch(bool checked);
    void signal_change_config_and_result_widget(ui_scan_config_result_widget_index_t index);

public slots:
    void slot_show_setting_dialog();

private:
    cfg_main_t* m_pcfg = nullptr;
    QPushButton* m_setting_btn = nullptr;
    ui_switch_button_t* m_switch = nullptr;
    QToolButton* m_table_btn = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_cycles = nullptr;
    QLabel* m_elapsed = nullptr;
};
