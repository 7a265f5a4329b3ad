#include "ui/ui_gui_slices.h"

#include <QCoreApplication>
#include <QPointer>

ui_gui_slices_t& ui_gui_slices_t::instance() {
    // Owned by the application, so it goes with it and never outlives the GUI thread's
    // event loop (a static's timer would be destroyed after the application).
    static QPointer<ui_gui_slices_t> slices;
    if (slices.isNull()) {
        slices = new ui_gui_slices_t();
        slices->setParent(QCoreApplication::instance());
    }
    return *slices;
}

ui_gui_slices_t::ui_gui_slices_t() {
    // A zero timer started from its own timeout fires in the next pass of the event
    // loop, after the events and timers that are due now (paints, the user's input).
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &ui_gui_slices_t::_run_one);
}

void ui_gui_slices_t::post(QObject* context, std::function<void()> piece) {
    m_queue.emplace_back(QPointer<QObject>(context), std::move(piece));
    if (!m_timer.isActive()) m_timer.start();
}

void ui_gui_slices_t::_run_one() {
    // Pieces of windows deleted meanwhile go without costing a turn.
    while (!m_queue.empty() && m_queue.front().first == nullptr) m_queue.pop_front();
    if (m_queue.empty()) return;
    std::function<void()> piece = std::move(m_queue.front().second);
    m_queue.pop_front();
    // Before the piece: it may post the next one itself.
    if (!m_queue.empty()) m_timer.start();
    piece();
}
