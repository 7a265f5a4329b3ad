#include "ui/ui_primary_manager_window.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QStackedLayout>

#include "nsp_src/lib/lib_assert.h"

ui_primary_manager_window_t::ui_primary_manager_window_t(QWidget* parent) : QWidget(parent) {
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->setSpacing(0);
    m_home_widget = _create_home_widget();
    m_stack->addWidget(m_home_widget);
    m_stack->setCurrentIndex(home_index);
}

QWidget* ui_primary_manager_window_t::_create_home_widget() {
    auto* home = new QWidget(this);
    home->setObjectName("home_widget");

    // The logo is a picture, not a control: it lets every click through.
    m_home_logo = new QPushButton(QIcon(":/image/Velkaro.png"), "Velkaro", home);
    m_home_logo->setObjectName("home_logo");
    m_home_logo->setIconSize(QSize(200, 100));
    m_home_logo->setFixedHeight(120);
    m_home_logo->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_home_logo->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QHBoxLayout(home);
    layout->addWidget(m_home_logo, 0, Qt::AlignCenter);
    return home;
}

int ui_primary_manager_window_t::append_window(QWidget* window) {
    if (!NSP_ASSERT(window != nullptr)) return -1;
    const int index = m_stack->addWidget(window);
    m_stack->setCurrentIndex(index);
    return index;
}

void ui_primary_manager_window_t::show_window(QWidget* window) {
    const int index = m_stack->indexOf(window);
    if (window == nullptr || index < 0) return;
    m_stack->setCurrentIndex(index);
}

void ui_primary_manager_window_t::remove_window(QWidget* window) {
    if (window == nullptr || window == m_home_widget || m_stack->indexOf(window) < 0) return;
    m_stack->removeWidget(window);
    window->hide();
    window->deleteLater();
}

void ui_primary_manager_window_t::show_home_window() { m_stack->setCurrentIndex(home_index); }
