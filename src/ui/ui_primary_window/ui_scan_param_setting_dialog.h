// Scan parameter settings: when a scan starts and stops, the scanner's mode and delay
// (tab "Configuration"), logging to files and the export of the stored readings (tab
// "Data Logging"). Values are loaded from the scan configuration at opening and stored
// through its setters on "OK"; the export acts at once.
//
// GUI thread only. The page that opens it keeps its own instrument I/O from running
// meanwhile (the dialog is modal), so the scan configuration has one user at a time.
#pragma once

#include <QDialog>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class cfg_main_t;
class cfg_scan_config_t;
class ui_time_edit_widget_t;

class ui_scan_param_setting_config_tab_t : public QWidget {
    Q_OBJECT
public:
    // Ids of the button groups (the values stored).
    static constexpr int start_immediately = 0;
    static constexpr int start_after_time = 1;
    static constexpr int stop_manually = 0;
    static constexpr int stop_at = 1;
    static constexpr int stop_after_time = 2;
    static constexpr int stop_after_scans = 3;

    ui_scan_param_setting_config_tab_t(QWidget* parent, cfg_scan_config_t* config);

    void load();
    // Stores every value; false (after a "Warning" box) for a start or stop time that is
    // not in the future. All three parts are stored whatever the others gave.
    bool apply();

    QButtonGroup* start_group() const { return m_start_group; }
    QButtonGroup* stop_group() const { return m_stop_group; }
    QButtonGroup* scan_mode_group() const { return m_scan_mode_group; }

private:
    bool _apply_start();
    bool _apply_stop();
    void _apply_scan_mode();

    cfg_scan_config_t* m_config = nullptr;
    QButtonGroup* m_start_group = nullptr;
    QButtonGroup* m_stop_group = nullptr;
    QButtonGroup* m_scan_mode_group = nullptr;
    QDateTimeEdit* m_start_time = nullptr;
    QDateTimeEdit* m_stop_time = nullptr;
    ui_time_edit_widget_t* m_stop_duration = nullptr;
    QSpinBox* m_stop_scans = nullptr;
    QDoubleSpinBox* m_scan_delay = nullptr;
};

class ui_scan_param_setting_datalog_tab_t : public QWidget {
    Q_OBJECT
public:
    ui_scan_param_setting_datalog_tab_t(QWidget* parent, cfg_scan_config_t* config);

    void load();
    bool apply();

    QButtonGroup* file_mode_group() const { return m_file_mode_group; }

public slots:
    void slot_open_file_dialog();
    void slot_open_export_data_dialog();

private:
    cfg_scan_config_t* m_config = nullptr;
    QCheckBox* m_save_data = nullptr;
    QWidget* m_panel = nullptr;
    QLineEdit* m_directory = nullptr;
    QButtonGroup* m_file_mode_group = nullptr;
};

class ui_scan_param_setting_dialog_t : public QDialog {
    Q_OBJECT
public:
    static const char* const warning_title;
    static const char* const invalid_start_text;
    static const char* const invalid_stop_text;

    // `cfg` is borrowed and outlives the dialog.
    ui_scan_param_setting_dialog_t(QWidget* parent, cfg_main_t* cfg);

    ui_scan_param_setting_config_tab_t* config_tab() const { return m_config_tab; }
    ui_scan_param_setting_datalog_tab_t* datalog_tab() const { return m_datalog_tab; }

private slots:
    void slot_ok();

private:
    QTabWidget* m_tabs = nullptr;
    ui_scan_param_setting_config_tab_t* m_config_tab = nullptr;
    ui_scan_param_setting_datalog_tab_t* m_datalog_tab = nullptr;
};
