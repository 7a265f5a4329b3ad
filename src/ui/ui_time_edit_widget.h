// A duration editor: hours : minutes : seconds (seconds optionally with milliseconds).
#pragma once

#include <QWidget>

class QDoubleSpinBox;
class QSpinBox;

class ui_time_edit_widget_t : public QWidget {
    Q_OBJECT
public:
    ui_time_edit_widget_t(QWidget* parent, bool fraction);

    void set_maximum(int hours, int minutes, double seconds);
    void set_value(int hours, int minutes, double seconds);
    void set_seconds(double seconds);
    double get_seconds() const;

    QSpinBox* hours_box() const { return m_hours; }
    QSpinBox* minutes_box() const { return m_minutes; }
    QDoubleSpinBox* seconds_box() const { return m_seconds; }

private:
    QSpinBox* m_hours = nullptr;
    QSpinBox* m_minutes = nullptr;
    QDoubleSpinBox* m_seconds = nullptr;
};
