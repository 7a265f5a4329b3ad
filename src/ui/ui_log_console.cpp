#include "ui/ui_log_console.h"

#include <QMetaObject>

#include "common/plib_log.h"

ui_log_console_t& ui_log_console_t::instance() {
    static ui_log_console_t console;
    return console;
}

ui_log_console_t::ui_log_console_t() = default;

ui_log_console_t::~ui_log_console_t() { uninstall(); }

void ui_log_console_t::install() {
    if (m_installed) return;
    m_installed = true;
    plib_set_log_sink([this](const std::string& line) {
        plib_log_to_stdout(line);
        post(line);
    });
}

void ui_log_console_t::uninstall() {
    if (!m_installed) return;
    m_installed = false;
    plib_set_log_sink(plib_log_to_stdout);
}

void ui_log_console_t::post(const std::string& line) {
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        first = m_pending.empty();
        if (m_pending.size() >= pending_limit) {
            m_pending.pop_front();
            ++m_dropped;
        }
        m_pending.push_back(line);
    }
    // One flush per batch: the lines that arrive before it runs go with it.
    if (first) QMetaObject::invokeMethod(this, [this] { _flush(); }, Qt::QueuedConnection);
}

void ui_log_console_t::_flush() {
    std::deque<std::string> lines;
    std::size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        lines.swap(m_pending);
        dropped = m_dropped;
        m_dropped = 0;
    }
    if (dropped > 0) emit signal_console_line(QString("(%1 earlier lines not shown)").arg(dropped));
    for (const std::string& line : lines) emit signal_console_line(QString::fromStdString(line));
}
