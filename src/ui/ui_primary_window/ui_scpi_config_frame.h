// SCPI console: free commands written, read and queried over the instrument's open
// VISA session, with a log and a short history of recent commands.
//
// Threads: widgets are touched on the GUI thread only. Each Write, Read or Query runs
// on one worker std::thread (m_io_thread, at most one at a time; the buttons stay
// disabled until its result is shown), which calls the link engine and hands the
// status and reply back with a queued call to this page. The link engine serialises
// all I/O of the instrument, so a console read that waits for its time-out delays the
// instrument's other I/O but not the event loop. The destructor joins the worker (at
// most one link time-out): the engine must never be left with a waiting caller, and no
// result may reach a deleted page. No state is shared with the worker besides the
// copies it is started with.
#pragma once

#include <QByteArray>
#include <QString>
#include <thread>

#include "ui/ui_primary_window/ui_primary_base_window.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTextEdit;
class ui_combo_box_t;

class ui_scpi_config_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    static constexpr int history_limit = 16;
    static const char* const separator_text;

    // Dynamic property "log_kind" of each log entry (the style sheet colours by it).
    static const char* const log_kind_command;
    static const char* const log_kind_reply;
    static const char* const log_kind_failure;
    static const char* const log_kind_notice;  // a line of another page about the instrument

    ui_scpi_config_frame_t(QWidget* parent, ui_device_item_t* item);
    ~ui_scpi_config_frame_t() override;

    bool is_busy() const { return m_busy; }

    // Typed text to the bytes sent: every backslash-n pair becomes a line feed.
    static QByteArray to_wire(const QString& typed);
    // Reply to its log text: every line feed becomes a backslash-n pair.
    static QString to_log(const QByteArray& reply);
    // "VI_ERROR_TMO (0xBFFF0015)"; "VISA status 0x..." for a status without a name.
    static QString status_name(int status);
    // "Timeout expired before operation completed."; "" for a status without a name.
    static QString status_text(int status);
    // Both: "VI_ERROR_TMO (0xBFFF0015): Timeout expired before operation completed."
    static QString status_message(int status);
    // What the log adds after a call that completed with a positive VISA status (a
    // warning): a reply that filled the whole read buffer was cut ("Read fetches the
    // rest"); other warnings are named. Empty for VI_SUCCESS, VI_SUCCESS_TERM_CHAR (a
    // complete reply) and failures.
    static QString completion_note(const QString& operation, int status, int reply_bytes);

public slots:
    // Appends a notice of another page (the Measure page's) to the log.
    void slot_append_notice(const QString& text);

signals:
    // After the result of a Write, Read or Query has been logged.
    void signal_io_finished();

private slots:
    void slot_history_activated(int index);
    void slot_write();
    void slot_query();
    void slot_read();
    void slot_clear_buffer();

private:
    enum class io_kind_t { write, read, query };

    static const char* _io_name(io_kind_t kind);
    void _add_history(const QString& command);
    void _append_log(const QString& text, const char* kind);
    // False (with a failure line) when there is no open session to talk over.
    bool _start_io(io_kind_t kind, const QByteArray& command);
    void _finish_io(io_kind_t kind, int status, const QByteArray& reply);
    void _set_busy(bool busy);

    QLabel* m_caption = nullptr;
    ui_combo_box_t* m_history = nullptr;
    QTextEdit* m_editor = nullptr;
    QPushButton* m_write_button = nullptr;
    QPushButton* m_query_button = nullptr;
    QPushButton* m_read_button = nullptr;
    QPushButton* m_clear_button = nullptr;
    QLabel* m_busy_label = nullptr;
    QListWidget* m_log = nullptr;

    bool m_busy = false;      // an I/O is in flight (GUI thread only)
    std::thread m_io_thread;  // the worker of the last I/O; joined before the next one
};
