// An animated on/off switch: a pill with a sliding knob and an on/off text.
#pragma once

#include <QColor>
#include <QWidget>

class QTimer;

class ui_switch_button_t : public QWidget {
    Q_OBJECT
public:
    explicit ui_switch_button_t(QWidget* parent = nullptr);

    bool isChecked() const { return m_checked; }
    int space() const { return m_space; }
    int radius() const { return m_radius; }
    bool show_text() const { return m_show_text; }
    bool animation() const { return m_animation; }
    QColor bg_color_on() const { return m_bg_color_on; }
    QColor bg_color_off() const { return m_bg_color_off; }
    QColor slider_color_on() const { return m_slider_color_on; }
    QColor slider_color_off() const { return m_slider_color_off; }
    QColor text_color() const { return m_text_color; }
    QString text_on() const { return m_text_on; }
    QString text_off() const { return m_text_off; }
    int slider_position() const { return m_start_x; }
    int end_position() const { return m_end_x; }

signals:
    void signal_change_status(bool checked);

public slots:
    void setSpace(int space);
    void setRadius(int radius);
    void setChecked(bool checked);
    void setShowText(bool show);
    void setAnimation(bool ok);
    void setBgColorOn(const QColor& color);
    void setBgColorOff(const QColor& color);
    void setSliderColorOn(const QColor& color);
    void setSliderColorOff(const QColor& color);
    void setTextColor(const QColor& color);
    void setTextOn(const QString& text);
    void setTextOff(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void slot_update_value();

private:
    void _draw_background(QPainter& painter);
    void _draw_slider(QPainter& painter);
    void _move_to_end();

    int m_space = 2;
    int m_radius = 5;
    bool m_checked = false;
    bool m_show_text = true;
    bool m_animation = true;
    QColor m_bg_color_on{73, 155, 250};
    QColor m_bg_color_off{255, 50, 50};
    QColor m_slider_color_on{Qt::white};
    QColor m_slider_color_off{Qt::white};
    QColor m_text_color{Qt::white};
    QString m_text_on{"Start"};
    QString m_text_off{"Stop"};

    QTimer* m_timer = nullptr;
    int m_step = 0;
    int m_start_x = 0;
    int m_end_x = 0;
};
