#include "ui/ui_main_window.h"

#include <QHBoxLayout>

#include "ui/ui_primary_manager_window.h"

ui_main_window_t::ui_main_window_t(const std::string& /*path*/, QWidget* parent) : QMainWindow(parent) {
    m_window_stack = new ui_primary_manager_window_t(this);
    _lay_out();
    setMinimumSize(1400, 700);
    setObjectName("main_window");
}

ui_main_window_t::~ui_main_window_t() {
    // The stack goes with its instrument windows; the central widget is Qt's to delete.
    delete m_window_stack;
    m_window_stack = nullptr;
}

void ui_main_window_t::_lay_out() {
    auto* layout = new QHBoxLayout;
    layout->addWidget(m_window_stack, 4);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_central_widget = new QWidget;
    m_central_widget->setLayout(layout);
    setCentralWidget(m_central_widget);
}

void ui_main_window_t::slot_show_home_window() { m_window_stack->show_home_window(); }
