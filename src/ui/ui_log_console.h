// The core's console lines (common/plib_log.h) in the desktop program: every line still
// goes to the terminal (standard output, the core's default) and is also handed to the
// GUI thread, where signal_console_line reaches the instruments' SCPI consoles.
//
// Threads: plib_log calls the sink on any thread (link, timer, engine, search threads),
// under plib_log's own mutex. The sink appends the line to m_pending under m_mutex and,
// when the queue was empty, posts one queued flush to this object; the flush runs on the
// GUI thread, takes the whole queue under m_mutex and emits the lines outside it. The
// object itself lives on the GUI thread. At most `pending_limit` lines wait for a flush:
// a flood drops its oldest lines and the flush says how many, so a stalled GUI cannot
// make the queue grow without bound.
#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <mutex>
#include <string>

class ui_log_console_t : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t pending_limit = 2000;

    // Created on first use, which must be on the GUI thread (its queued calls run there).
    static ui_log_console_t& instance();
    ~ui_log_console_t() override;

    // Makes this object plib_log's sink (terminal and console); uninstall gives the
    // terminal alone back.
    void install();
    void uninstall();
    bool installed() const { return m_installed; }

    // The sink: any thread.
    void post(const std::string& line);

signals:
    // One line for the consoles (GUI thread).
    void signal_console_line(const QString& text);

private:
    ui_log_console_t();
    void _flush();

    bool m_installed = false;  // GUI thread only
    std::mutex m_mutex;        // guards the two below
    std::deque<std::string> m_pending;
    std::size_t m_dropped = 0;
};
