// Axis label painters of the trend charts. All paint ticks, backbone and labels white,
// whatever palette the style gives the axis widget.
#pragma once

#include <qwt_scale_draw.h>

// X axis of the measure chart: time labels such as -1m05s ("Recent") or 16m40s ("All");
// the readings labels (the count under x = 0) remain for callers that want them.
class ui_x_scale_draw_t : public QwtScaleDraw {
public:
    enum class labels_t { readings, time };

    ui_x_scale_draw_t();
    void set_labels(labels_t labels);
    labels_t get_labels() const { return m_labels; }
    // The count shown by the readings label; relabels when it changes.
    void set_readings(quint64 readings);

    QwtText label(double value) const override;
    void draw(QPainter* painter, const QPalette& palette) const override;

protected:
    // The time label at the axis's left end starts at its tick instead of being centred
    // on it: centred, its left half fell outside the axis and was cut ("00s" of "-1m00s").
    void drawLabel(QPainter* painter, double value) const override;

private:
    labels_t m_labels = labels_t::time;
    quint64 m_readings = 0;
};

// Y axis of the measure chart: the value each chart-unit tick stands for in the current
// range, and "OVERLOAD" on the overload lines.
class ui_y_scale_draw_t : public QwtScaleDraw {
public:
    ui_y_scale_draw_t();
    // Relabels when the range changes.
    void set_range(double lower, double upper);

    QwtText label(double value) const override;
    void draw(QPainter* painter, const QPalette& palette) const override;

protected:
    double m_lower = 0.0;
    double m_upper = 0.0;
};

// X axis of the scan chart: always time since the scan start.
class ui_scan_x_scan_draw_t : public ui_x_scale_draw_t {
public:
    ui_scan_x_scan_draw_t();
};

// Y axis of the scan chart: every channel has its own range, so no tick has one value
// until a channel is chosen; then the ticks read that channel's values.
class ui_scan_y_scale_draw_t : public ui_y_scale_draw_t {
public:
    // on: the ticks stand for values of [lower, upper]; off: no labels. true when changed.
    bool set_channel_range(bool on, double lower, double upper);
    QwtText label(double value) const override;

private:
    bool m_on = false;
};
