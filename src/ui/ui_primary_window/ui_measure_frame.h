// The Measure page: the latest reading as the instrument's front panel shows it (sign,
// digit field, prefix and unit, function, range), the parameter column and the button
// row (Run/Stop, Setting, Data, Save, Delete).
//
// Everything here runs on the GUI thread. The acquisition engine's notifications arrive
// as queued signals through the instrument window; the status label changes only on
// them. Readings are fetched from the engine (acq_latest_msg_t), settings and run
// control go through the facade; setting changes (and the restart they need) run on
// the device item's lane, and one the instrument did not take is told in a "Warning"
// box and a console line.
#pragma once

#include <QFrame>
#include <QFutureWatcher>
#include <QPointer>
#include <limits>
#include <memory>
#include <string>

#include "acq/plib_acq_types.h"
#include "ui/ui_primary_window/plib_measure_data_disp.h"
#include "ui/ui_primary_window/ui_primary_base_window.h"

class QLabel;
class QPushButton;
class QTimer;
class ui_measure_data_list_dialog_t;
class ui_measure_param_widget_t;
class ui_measure_run_info_widget_t;

// The display: function and range labels, sign and digits, prefix with unit.
class ui_measure_widget_t : public QFrame {
    Q_OBJECT
public:
    explicit ui_measure_widget_t(QWidget* parent);

    // Digits "——.——" with the sign hidden.
    void show_placeholder();
    // An empty sign hides the sign label.
    void show_reading(const QString& sign, const QString& digits);
    void set_range_texts(const QString& range, const QString& mode);
    void clear_range_texts() { set_range_texts(QString(), QString()); }
    void set_unit_text(const QString& text);
    void set_function_text(const QString& text);
    // The instrument is not connected: the texts are greyed and a reading shown (its last
    // one) has "Not connected" in place of the range mode (property "stale" true).
    // Cleared when it connects again.
    void set_stale(bool stale);
    bool is_stale() const { return m_stale; }

private:
    void _show_stale_mode();

    bool m_stale = false;
    bool m_has_reading = false;  // digits of a reading, not the placeholder
    QString m_range_mode_before_stale;
    QLabel* m_function = nullptr;
    QLabel* m_range = nullptr;
    QLabel* m_range_mode = nullptr;
    QLabel* m_polarity = nullptr;
    QLabel* m_digits = nullptr;
    QLabel* m_unit = nullptr;
};

// The button row. The dialogs it opens get the instrument manager, borrowed.
class ui_measure_btn_widget_t : public QFrame {
    Q_OBJECT
public:
    // `item` (may be null) holds `mngr`: its lane carries the changes that talk to the instrument.
    ui_measure_btn_widget_t(QWidget* parent, plib_mngr_t* mngr, ui_device_item_t* item = nullptr);

    // The instrument is going away: close the data list and forget the manager.
    void release_instrument();

signals:
    void signal_process_measure_run_stop();
    void signal_process_clear_data();

public slots:
    void slot_record_setting_process();
    void slot_data_display_process();
    void slot_save_data_process();
    void slot_clear_data_process();

private:
    QPushButton* _make_button(const QString& text, const char* icon, const char* object_name);

    plib_mngr_t* m_pmngr = nullptr;
    ui_device_item_t* m_pdev = nullptr;
    QPointer<ui_measure_data_list_dialog_t> m_data_list;
};

class ui_measure_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    ui_measure_frame_t(QWidget* parent, ui_device_item_t* item);

    // The instrument is going away: no engine or facade call after this.
    void release_instrument();

    // Console lines about dropped reply pieces come at most once per this interval;
    // drops within it are told in one line when it ends.
    static constexpr int dropped_line_interval_ms = 10000;
    // Test-only: the strip with the run's facts and statistics.
    ui_measure_run_info_widget_t* run_info_widget() const { return m_run_info; }
    // "Stopped automatically after 100 readings. Record file: /x/y.csv" for the run that
    // ended as `info` says; empty for a stop the user asked for without a file.
    static QString stop_text(const plib_record_run_state_info_t& info, double stop_time_s, uint32_t stop_num);
    // Test-only: a shorter interval.
    void set_dropped_line_interval_ms(int ms) { m_dropped_line_interval_ms = ms; }

signals:
    void signal_update_diagram_func();
    void signal_upload_latest_disp_data(plib_measure_data_disp_t data);
    // A line for the instrument's console (the SCPI page's log).
    void signal_console_line(const QString& text);

public slots:
    void slot_recv_measure_notify_update(plib_acq_notify_t acq_notify_type);
    void slot_process_measure_run_stop();
    void slot_process_clear_data();
    void slot_update_func_and_unit();

private:
    void _show_placeholders();
    void _update_func_and_unit(bool restart);
    void _set_run_state(int state);
    void _tell_setting_refused(int status);
    void _show_latest_reading();
    void _update_range_texts(int function);
    void _ask_auto_range(int function);
    void _auto_range_answered();
    void _display_value(double value, int function);
    void _tell_record_write_failed();
    void _tell_pieces_dropped();
    void _emit_dropped_line();
    void _show_run_info();
    void _tell_run_stopped();

    ui_measure_widget_t* m_display = nullptr;
    ui_measure_param_widget_t* m_param = nullptr;
    ui_measure_btn_widget_t* m_buttons = nullptr;
    ui_measure_run_info_widget_t* m_run_info = nullptr;  // REC, count, time, statistics
    plib_measure_data_disp_t m_last;         // texts of the reading shown last
    bool m_write_failure_told = false;       // once per run
    QTimer* m_dropped_line_timer = nullptr;  // runs while a dropped-pieces line may not be shown
    bool m_dropped_line_pending = false;     // pieces were dropped since the last line
    int m_dropped_line_interval_ms = dropped_line_interval_ms;
    bool m_run_pending = false;  // a Run/Stop press is on its way to the instrument
    // The range the instrument chose in auto range is asked on the device item's lane
    // (the query waits behind the acquisition's fetch): one question at a time.
    QFutureWatcher<int>* m_range_watcher = nullptr;
    std::shared_ptr<std::string> m_range_answer;  // written by the job, read once it finished
    int m_range_function = -1;                    // the function asked about
    double m_latest_value = std::numeric_limits<double>::quiet_NaN();  // the reading shown
};
