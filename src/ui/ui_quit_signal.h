// Turns SIGTERM and SIGINT into an ordinary Qt signal on the GUI thread.
//
// Qt may not be called from a signal handler, so the handler only writes one byte into
// a pipe (the self-pipe pattern); a socket notifier on the read end wakes the event
// loop, which emits signal_quit_requested(). Connected to the main window's close(),
// a kill or Ctrl+C takes the same path as the close button, so the program shuts down
// the same way (instruments released, threads joined). The handler is one-shot: a
// second signal gets the default action and ends a process whose GUI thread is stuck.
#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

class ui_quit_signal_t : public QObject {
    Q_OBJECT
public:
    // Only one instance may exist at a time (the handler has one pipe to write to).
    explicit ui_quit_signal_t(QObject* parent = nullptr);
    ~ui_quit_signal_t() override;

    ui_quit_signal_t(const ui_quit_signal_t&) = delete;
    ui_quit_signal_t& operator=(const ui_quit_signal_t&) = delete;

    // False when the pipe or the handlers could not be set up; signals then keep
    // their previous disposition.
    bool is_active() const { return m_notifier != nullptr; }

signals:
    void signal_quit_requested(int signal_number);

private slots:
    void slot_read_pipe();

private:
    static void _on_signal(int signal_number);
    void _restore_handlers();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_old_term {};
    struct sigaction m_old_int {};
    bool m_handlers_installed = false;
};
