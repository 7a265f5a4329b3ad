#include "ui/ui_primary_window/ui_tabbed_page.h"

#include <QHBoxLayout>
#include <QToolButton>

ui_tabbed_page_t::ui_tabbed_page_t(QWidget* parent, bool scan_pages) : QFrame(parent) {
    qRegisterMetaType<ui_tab_index_t>("ui_tab_index_t");
    setObjectName("tabbed_page");
    setFixedHeight(50);
    m_layout = new QHBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    QToolButton* measure = _make_button("Measure", "tab_measure_btn");
    m_layout->addWidget(measure);
    m_layout->addWidget(_make_button("Measure Diagram", "tab_measure_diagram_btn"));
    m_layout->addWidget(_make_button("SCPI", "tab_scpi_btn"));
    if (scan_pages) add_scan_buttons();
    measure->setChecked(true);
}

QToolButton* ui_tabbed_page_t::_make_button(const QString& text, const char* object_name) {
    auto* button = new QToolButton(this);
    button->setObjectName(object_name);
    button->setText(text);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    connect(button, &QToolButton::clicked, this, [this, button] { _on_clicked(button); });
    return button;
}

void ui_tabbed_page_t::add_scan_buttons() {
    if (m_scan_data_btn != nullptr) return;
    m_scan_data_btn = _make_button("Scan Data", "tab_scan_data_btn");
    m_scan_diagram_btn = _make_button("Scan Diagram", "tab_scan_diagram_btn");
    m_layout->insertWidget(tab_index_scan_data, m_scan_data_btn);
    m_layout->insertWidget(tab_index_scan_diagram, m_scan_diagram_btn);
}

void ui_tabbed_page_t::_on_clicked(QToolButton* button) {
    // The position now, not at creation: the scan buttons may have arrived since.
    const int index = m_layout->indexOf(button);
    if (index >= 0) emit signal_change_current_page(static_cast<ui_tab_index_t>(index));
}
