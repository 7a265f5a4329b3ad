#include "ui/ui_message_label.h"

#include <QHBoxLayout>
#include <QLabel>

ui_message_label_t::ui_message_label_t(QWidget* parent) : QWidget(parent) {
    setObjectName("message_label_box");
    m_caption = new QLabel(this);
    m_caption->setObjectName("message_label_text");
    m_colon = new QLabel(":", this);
    m_colon->setObjectName("message_label_text");
    m_value = new QLabel(this);
    m_value->setObjectName("message_label_value");
    m_unit = new QLabel(this);
    m_unit->setObjectName("message_label_value");

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);
    layout->addWidget(m_caption, 2);
    layout->addWidget(m_colon, 1);
    layout->addStretch(1);
    layout->addWidget(m_value, 2);
    layout->addStretch(1);
    layout->addWidget(m_unit, 1);
    layout->addStretch(2);
}

void ui_message_label_t::set_text(const QString& caption, const QString& value, const QString& unit) {
    m_caption->setText(caption);
    set_value_unit(value, unit);
}

void ui_message_label_t::set_value_unit(const QString& value, const QString& unit) {
    m_value->setText(value);
    m_unit->setText(unit);
}

void ui_message_label_t::set_value(const QString& value) { m_value->setText(value); }
void ui_message_label_t::set_unit(const QString& unit) { m_unit->setText(unit); }
QString ui_message_label_t::caption() const { return m_caption->text(); }
QString ui_message_label_t::value() const { return m_value->text(); }
QString ui_message_label_t::unit() const { return m_unit->text(); }
