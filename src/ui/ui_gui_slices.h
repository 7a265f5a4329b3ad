// Work the GUI thread does in pieces (building an instrument's pages, a recall's next
// instrument): one piece per event-loop turn, taken in the order they were posted from
// one queue shared by every window, so the pieces of two windows never add up in one
// turn and the window keeps painting and answering in between.
//
// Threads: GUI thread only (post, the pieces, idle).
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <utility>

class ui_gui_slices_t : public QObject {
    Q_OBJECT
public:
    static ui_gui_slices_t& instance();

    // Runs `piece` in a later turn, after the pieces posted before; dropped when
    // `context` is gone by then.
    void post(QObject* context, std::function<void()> piece);
    // No piece waits.
    bool idle() const { return m_queue.empty(); }

private:
    ui_gui_slices_t();
    void _run_one();

    std::deque<std::pair<QPointer<QObject>, std::function<void()>>> m_queue;
    QTimer m_timer;
};
