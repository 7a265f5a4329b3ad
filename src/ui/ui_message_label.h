// A two-part text line: "caption : value unit".
#pragma once

#include <QWidget>

class QLabel;

class ui_message_label_t : public QWidget {
    Q_OBJECT
public:
    explicit ui_message_label_t(QWidget* parent = nullptr);

    void set_text(const QString& caption, const QString& value, const QString& unit);
    void set_value_unit(const QString& value, const QString& unit);
    void set_value(const QString& value);
    void set_unit(const QString& unit);

    QString caption() const;
    QString value() const;
    QString unit() const;

private:
    QLabel* m_caption = nullptr;
    QLabel* m_colon = nullptr;
    QLabel* m_value = nullptr;
    QLabel* m_unit = nullptr;
};
