#include "ui/ui_switch_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

ui_switch_button_t::ui_switch_button_t(QWidget* parent) : QWidget(parent) {
    m_timer = new QTimer(this);
    m_timer->setInterval(30);
    connect(m_timer, &QTimer::timeout, this, &ui_switch_button_t::slot_update_value);
}

void ui_switch_button_t::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    _draw_background(painter);
    _draw_slider(painter);
}

void ui_switch_button_t::_draw_background(QPainter& painter) {
    painter.save();
    painter.setPen(Qt::NoPen);
    QColor bg = m_checked ? m_bg_color_on : m_bg_color_off;
    if (!isEnabled()) bg.setAlpha(140);
    painter.setBrush(bg);

    const int side = qMin(width(), height());
    QPainterPath path;
    path.addEllipse(QRect(0, 0, side, side));
    path.addEllipse(QRect(width() - side, 0, side, side));
    path.addRect(QRect(side / 2, 0, width() - side, height()));
    path.setFillRule(Qt::WindingFill);
    painter.drawPath(path);

    if (m_show_text) {
        painter.setPen(m_text_color);
        const int slider_width = side - 2 * m_space;
        if (m_checked) {
            painter.drawText(QRect(0, 0, m_end_x + m_space, height()), Qt::AlignCenter, m_text_on);
        } else {
            const int left = m_start_x + m_space + slider_width;
            painter.drawText(QRect(left, 0, width() - left, height()), Qt::AlignCenter, m_text_off);
        }
    }
    painter.restore();
}

void ui_switch_button_t::_draw_slider(QPainter& painter) {
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_checked ? m_slider_color_on : m_slider_color_off);
    const int diameter = qMin(width(), height()) - 2 * m_space;
    painter.drawEllipse(QRect(m_space + m_start_x, m_space, diameter, diameter));
    painter.restore();
}

void ui_switch_button_t::mousePressEvent(QMouseEvent*) {
    m_checked = !m_checked;
    emit signal_change_status(m_checked);
    m_step = width() / 10;
    m_end_x = m_checked ? width() - height() : 0;
    if (m_animation) {
        m_timer->start();
    } else {
        _move_to_end();
    }
}

void ui_switch_button_t::resizeEvent(QResizeEvent* event) {
    // Keep the knob at its end when the widget is laid out after a setChecked.
    m_end_x = m_checked ? width() - height() : 0;
    if (!m_timer->isActive()) m_start_x = m_end_x;
    QWidget::resizeEvent(event);
}

void ui_switch_button_t::slot_update_value() {
    // A zero step (a widget narrower than 10 px) would never reach the end.
    if (m_checked && m_start_x < m_end_x && m_step > 0) {
        m_start_x = qMin(m_start_x + m_step, m_end_x);
    } else if (!m_checked && m_start_x > m_end_x && m_step > 0) {
        m_start_x = qMax(m_start_x - m_step, m_end_x);
    } else {
        m_start_x = m_end_x;
        m_timer->stop();
    }
    update();
}

void ui_switch_button_t::_move_to_end() {
    m_timer->stop();
    m_start_x = m_end_x;
    update();
}

void ui_switch_button_t::setSpace(int space) {
    m_space = space;
    update();
}
void ui_switch_button_t::setRadius(int radius) {
    m_radius = radius;
    update();
}

void ui_switch_button_t::setChecked(bool checked) {
    if (m_checked == checked) return;
    m_checked = checked;
    m_end_x = m_checked ? width() - height() : 0;
    _move_to_end();
}

void ui_switch_button_t::setShowText(bool show) {
    m_show_text = show;
    update();
}
void ui_switch_button_t::setAnimation(bool ok) { m_animation = ok; }
void ui_switch_button_t::setBgColorOn(const QColor& color) {
    m_bg_color_on = color;
    update();
}
void ui_switch_button_t::setBgColorOff(const QColor& color) {
    m_bg_color_off = color;
    update();
}
void ui_switch_button_t::setSliderColorOn(const QColor& color) {
    m_slider_color_on = color;
    update();
}
void ui_switch_button_t::setSliderColorOff(const QColor& color) {
    m_slider_color_off = color;
    update();
}
void ui_switch_button_t::setTextColor(const QColor& color) {
    m_text_color = color;
    update();
}
void ui_switch_button_t::setTextOn(const QString& text) {
    m_text_on = text;
    update();
}
void ui_switch_button_t::setTextOff(const QString& text) {
    m_text_off = text;
    update();
}
