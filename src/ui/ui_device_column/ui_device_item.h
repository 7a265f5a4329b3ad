// The user's handle on one instrument in the device column: owns (through the
// registry) the instrument manager, binds it to a VISA resource, connects and
// disconnects, and shows the connection state, the activity and the identity.
//
// Threads: connect, disconnect (with the identification, and the stop of a run the user
// confirmed before disconnecting), other instrument queries of the pages (run_io) and
// the release of the manager run on the item's lane of ui_device_jobs_t, never on the
// GUI thread; the
// result comes back through a QFutureWatcher owned by the item, so an item deleted
// first hears nothing. The manager lives until its release job, which is queued behind
// any connect still running. Everything else here belongs to the GUI thread.
#pragma once

#include <QFutureWatcher>
#include <QWidget>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "ui/ui_device_column/ui_device_jobs.h"

class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class cfg_main_t;
class plib_mngr_t;

class ui_device_item_t : public QWidget {
    Q_OBJECT
public:
    ui_device_item_t(std::string model, std::string res, pugi::xml_node model_node,
                     QWidget* parent = nullptr);
    ~ui_device_item_t() override;

    bool is_connected() const;
    // A connect or disconnect is running: the item shows the connecting icon.
    bool is_busy() const { return m_busy; }
    // Starts disconnecting the instrument (a lost link); with `stop_runs`, measuring and
    // scanning stop first, in the same job (a scan's stop sends its stop command after
    // any fetch in flight). False when a connect or disconnect already runs or there is
    // no instrument.
    bool disconnect_device(bool stop_runs = false);
    // Gives the manager back to the registry now (disconnects, joins the engine
    // threads); the widget itself may then be deleted later. Done by the destructor
    // when not done before.
    void release_instrument();
    bool is_active() const { return m_active; }
    bool is_expanded() const { return m_expanded; }

    plib_mngr_t* get_mngr() const { return m_pmngr; }
    // Runs `job` with the instrument's facade on the item's lane, behind any connect or
    // disconnect still running; the manager outlives it. Without an instrument the
    // future is finished at once and holds no result. Watch it with a QFutureWatcher
    // owned by the caller.
    QFuture<int> run_io(std::function<int(cfg_main_t*)> job);
    // A setting change the user made: `job` runs the facade's setter on the lane (it
    // writes the instrument, then stores), behind every change queued before it, so the
    // instrument gets them in the order they were made. When the instrument was
    // connected and did not take it (time-out, lost reply, refused value), the stored
    // measurement settings are put back as they were before the job (with
    // `previous_function` as the current function when it is not negative: a caller that
    // stored the new function at once). Back on the GUI thread `done` gets the status
    // when the change was undone, 0 otherwise; it is dropped when `receiver` is gone.
    // Without an instrument the job runs at once on the GUI thread.
    void run_setting(QObject* receiver, std::function<int(cfg_main_t*)> job,
                     std::function<void(int status)> done = nullptr, int previous_function = -1);
    // Setting changes queued or running.
    int settings_in_flight() const { return m_settings_in_flight; }
    const std::string& get_resource() const { return m_resource; }
    unsigned get_index() const { return m_index; }
    void set_index(unsigned index) { m_index = index; }
    const std::string& get_model_name() const { return m_model; }
    const std::string& get_mode_text() const { return m_mode; }
    // The warning of the last connect or disconnect attempt, empty when it had none.
    const QString& last_connect_warning() const { return m_last_warning; }
    // What went wrong in words: the address, the VISA status, the model that answered;
    // empty when the last attempt had no warning.
    const QString& last_connect_warning_details() const { return m_last_warning_details; }
    // The VISA status in words: "VI_ERROR_TMO (0xBFFF0015): Timeout expired before
    // operation completed." or the code alone for one VISA does not name.
    static QString visa_status_words(int status);
    // Who answered at the address on the last connect, as "model (serial)" from its
    // own identification; empty when nothing readable answered.
    QString last_found_identity() const;

    // A word on the link shown instead of the activity ("Reconnecting"), with its
    // details as the tooltip; an empty text shows the activity again.
    void set_link_note(const QString& text, const QString& details);
    const QString& link_note() const { return m_link_note; }

    QWidget* header_widget() const { return m_header; }
    QLabel* active_sign() const { return m_active_sign; }
    QPushButton* connection_button() const { return m_connection_btn; }
    QLabel* name_label() const { return m_name_label; }
    QLabel* mode_label() const { return m_mode_label; }
    // "Publishing: live" and the like; hidden while publishing is off.
    QLabel* publish_label() const { return m_publish_label; }
    QPushButton* expand_button() const { return m_expand_btn; }
    QTableWidget* detail_table() const { return m_detail_table; }
    QMenu* context_menu() const { return m_context_menu; }

signals:
    void signal_inactivate_all_device_item();
    void signal_show_primary_window(unsigned index);
    void signal_delete_myself(unsigned index);
    void signal_delete_all();
    void signal_show_warning_message(QString text);
    // Emitted before the manager is given back: whoever holds its engines lets go now.
    void signal_releasing_instrument();
    // After every connect or disconnect attempt, with the state it left.
    void signal_connection_changed(bool connected);
    // A connect or disconnect started (true) or ended (false).
    void signal_busy_changed(bool busy);
    // The first setting change was queued (true) or the last one ended (false).
    void signal_settings_busy_changed(bool busy);
    // After a connect or disconnect attempt has been handled, with its result
    // (cfg_remote_t::result_*), also for the quiet first connect.
    void signal_connect_finished(int status);

public slots:
    void slot_inactivate_myself();
    void slot_update_ui();
    // The change-address dialog's result: disconnect, rebind, reconnect.
    void slot_change_device_res(QString ip_res);
    // Context menu entries.
    void slot_delete_this();
    void slot_delete_all();
    // Expand button.
    void slot_toggle_expanded();
    // Connection button.
    void slot_connection_clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Runs connect (on) or disconnect off the GUI thread; back on it, `then` learns
    // whether the attempt succeeded (false after a failure). A quiet attempt shows no
    // warning (the first connect of a new item). `stop_first` (a disconnect only)
    // stops measuring (bit 1) and/or scanning (bit 2) in the same job, before the link
    // closes.
    void _start_connect(bool on, bool quiet, std::function<void(bool)> then, int stop_first = 0);
    void _finish_connect();
    bool _handle_connect_status(int status, bool quiet);
    bool _bind_resource(const std::string& res);
    void _activate();
    void _apply_look();
    void _set_connection_icon(const char* image);
    void _update_connection_icon();
    void _fill_detail_table();
    void _create_header();
    void _create_detail_table();
    void _create_context_menu();
    void _open_change_address_dialog(int row, int column);
    void _update_publish_label();

    plib_mngr_t* m_pmngr = nullptr;
    std::string m_resource;
    unsigned m_index = 0;
    std::string m_model;
    QString m_link_note;
    std::string m_mode;
    bool m_active = false;
    bool m_expanded = false;
    QString m_last_warning;
    QString m_last_warning_details;
    int m_settings_in_flight = 0;

    std::shared_ptr<ui_device_jobs_t::lane_t> m_lane;
    QFutureWatcher<int>* m_connect_watcher = nullptr;
    bool m_busy = false;
    bool m_pending_quiet = false;
    std::function<void(bool)> m_then;

    QWidget* m_header = nullptr;
    QLabel* m_active_sign = nullptr;
    QPushButton* m_connection_btn = nullptr;
    QLabel* m_name_label = nullptr;
    QLabel* m_splitter = nullptr;
    QLabel* m_mode_label = nullptr;
    QPushButton* m_expand_btn = nullptr;
    QTableWidget* m_detail_table = nullptr;
    QLabel* m_publish_label = nullptr;
    QMenu* m_context_menu = nullptr;
};
