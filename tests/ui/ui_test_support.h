// Helpers shared by the UI tests: closing the program's message boxes from the test
// and the leak filter for Qt's offscreen platform plugin. Include in one file per test
// executable (it defines the sanitizer hooks).
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <memory>

#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_main_window.h"
#include "ui/ui_primary_window/ui_primary_window.h"

#if defined(__SANITIZE_ADDRESS__)
// Qt 5.15's offscreen platform plugin never frees its screen and cursor objects. Full
// allocation stacks let LeakSanitizer see the plugin in them, so only its leaks are
// ignored and a leak of ours is still reported.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libqoffscreen.so\n"; }
#endif

namespace velkaro_ui_test {

// While alive, answers every modal message box that opens: records "title|text" and
// presses the given standard button (or the box's default when it has not that one).
// Other modal dialogs are left alone unless reject_dialogs is set.
class modal_closer_t : public QObject {
public:
    explicit modal_closer_t(QMessageBox::StandardButton answer = QMessageBox::Ok, bool reject_dialogs = false)
        : m_answer(answer), m_reject_dialogs(reject_dialogs) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { _poll(); });
        m_timer.start();
    }

    void set_answer(QMessageBox::StandardButton answer) { m_answer = answer; }
    const QStringList& seen() const { return m_seen; }
    int count() const { return m_seen.size(); }
    void clear() { m_seen.clear(); }

private:
    void _poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_seen << box->windowTitle() + "|" + box->text();
            QAbstractButton* button = box->button(m_answer);
            if (button == nullptr) button = box->defaultButton();
            if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().first();
            if (button != nullptr) button->click();
            return;
        }
        if (m_reject_dialogs) {
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                m_seen << "dialog|" + dialog->windowTitle();
                dialog->reject();
            }
        }
    }

    QTimer m_timer;
    QMessageBox::StandardButton m_answer;
    bool m_reject_dialogs;
    QStringList m_seen;
};

// Connects and disconnects of the device items, their setting changes, the instrument
// windows' scanner-card checks and a recall's instruments, run in the background: runs the event loop until none runs or is due (false
// after timeout_ms).
inline bool wait_instruments_idle(int timeout_ms = 30000) {
    const QDeadlineTimer deadline(timeout_ms);
    for (;;) {
        bool busy = false;
        for (QWidget* widget : QApplication::allWidgets()) {
            auto* item = qobject_cast<ui_device_item_t*>(widget);
            if (item != nullptr && (item->is_busy() || item->settings_in_flight() > 0)) busy = true;
            auto* window = qobject_cast<ui_primary_window_t*>(widget);
            if (window != nullptr && window->is_checking_scan_card()) busy = true;
            auto* main_window = qobject_cast<ui_main_window_t*>(widget);
            if (main_window != nullptr && main_window->is_recalling()) busy = true;
        }
        if (!busy) return true;
        if (deadline.hasExpired()) return false;
        QTest::qWait(5);
    }
}

}  // namespace velkaro_ui_test
