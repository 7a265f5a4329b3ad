#include "ui/ui_time_edit_widget.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSpinBox>

#include "common/plib_format.h"

ui_time_edit_widget_t::ui_time_edit_widget_t(QWidget* parent, bool fraction) : QWidget(parent) {
    m_hours = new QSpinBox(this);
    m_minutes = new QSpinBox(this);
    m_seconds = new QDoubleSpinBox(this);
    m_seconds->setDecimals(fraction ? 3 : 0);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_hours);
    layout->addWidget(new QLabel(":", this));
    layout->addWidget(m_minutes);
    layout->addWidget(new QLabel(":", this));
    layout->addWidget(m_seconds);
}

void ui_time_edit_widget_t::set_maximum(int hours, int minutes, double seconds) {
    m_hours->setMaximum(hours);
    m_minutes->setMaximum(minutes);
    m_seconds->setMaximum(seconds);
}

void ui_time_edit_widget_t::set_value(int hours, int minutes, double seconds) {
    m_hours->setValue(hours);
    m_minutes->setValue(minutes);
    m_seconds->setValue(seconds);
}

void ui_time_edit_widget_t::set_seconds(double seconds) {
    const plib_hms_t hms = split_seconds(seconds);
    set_value(hms.hours, hms.minutes, hms.seconds + hms.fraction);
}

double ui_time_edit_widget_t::get_seconds() const {
    // Read from the texts, so a value typed and not yet committed counts too.
    const QLocale locale = m_seconds->locale();
    const double hours = locale.toInt(m_hours->cleanText());
    const double minutes = locale.toInt(m_minutes->cleanText());
    const double seconds = locale.toDouble(m_seconds->cleanText());
    return hours * 3600 + minutes * 60 + seconds;
}
