#include "ui/chart/ui_scale_draw.h"

#include <qwt_text.h>

#include <QPainter>
#include <QPalette>

#include "ui/chart/ui_chart_math.h"

namespace {

// Ticks and backbone take the window text colour, labels the text colour.
QPalette white_palette(const QPalette& palette) {
    QPalette white(palette);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        white.setColor(group, QPalette::WindowText, Qt::white);
        white.setColor(group, QPalette::Text, Qt::white);
    }
    return white;
}

}  // namespace

ui_x_scale_draw_t::ui_x_scale_draw_t() { setTickLength(QwtScaleDiv::MajorTick, 15); }

void ui_x_scale_draw_t::set_labels(labels_t labels) {
    if (labels == m_labels) return;
    m_labels = labels;
    // The readings label is the only one and sits on the left end of the axis: centred
    // on its tick, half of it would be cut off by the Y axis.
    setLabelAlignment(labels == labels_t::readings ? Qt::AlignRight | Qt::AlignBottom
                                                   : Qt::AlignHCenter | Qt::AlignBottom);
    invalidateCache();
}

void ui_x_scale_draw_t::set_readings(quint64 readings) {
    if (readings == m_readings) return;
    m_readings = readings;
    if (m_labels == labels_t::readings) invalidateCache();
}

QwtText ui_x_scale_draw_t::label(double value) const {
    if (m_labels == labels_t::readings) return QwtText(chart_readings_label(value, m_readings));
    return QwtText(chart_time_label(value));
}

void ui_x_scale_draw_t::draw(QPainter* painter, const QPalette& palette) const {
    QwtScaleDraw::draw(painter, white_palette(palette));
}

void ui_x_scale_draw_t::drawLabel(QPainter* painter, double value) const {
    const QwtInterval bounds = scaleDiv().interval().normalized();
    const bool first = qAbs(value - bounds.minValue()) <= 1e-9 * qMax(1.0, qAbs(bounds.width()));
    if (m_labels != labels_t::time || !first || alignment() != QwtScaleDraw::BottomScale) {
        QwtScaleDraw::drawLabel(painter, value);
        return;
    }
    const QwtText text = tickLabel(painter->font(), value);
    if (text.isEmpty()) return;
    const QPointF at = labelPosition(value);
    const QSizeF size = text.textSize(painter->font());
    text.draw(painter, QRectF(at.x(), at.y(), size.width(), size.height()));
}

ui_y_scale_draw_t::ui_y_scale_draw_t() { setTickLength(QwtScaleDiv::MajorTick, 12); }

void ui_y_scale_draw_t::set_range(double lower, double upper) {
    if (lower == m_lower && upper == m_upper) return;
    m_lower = lower;
    m_upper = upper;
    invalidateCache();
}

QwtText ui_y_scale_draw_t::label(double value) const {
    return QwtText(chart_y_label(value, m_lower, m_upper));
}

void ui_y_scale_draw_t::draw(QPainter* painter, const QPalette& palette) const {
    QwtScaleDraw::draw(painter, white_palette(palette));
}

ui_scan_x_scan_draw_t::ui_scan_x_scan_draw_t() { set_labels(labels_t::time); }

bool ui_scan_y_scale_draw_t::set_channel_range(bool on, double lower, double upper) {
    if (on == m_on && (!on || (lower == m_lower && upper == m_upper))) return false;
    m_on = on;
    set_range(lower, upper);
    invalidateCache();
    return true;
}

QwtText ui_scan_y_scale_draw_t::label(double value) const {
    if (!m_on) return QwtText();
    return QwtText(chart_y_label(value, m_lower, m_upper));
}
