// The about box: logo, version and build, and the open-source acknowledgment.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class ui_about_window_t : public QDialog {
    Q_OBJECT
public:
    explicit ui_about_window_t(QWidget* parent = nullptr);

    QPushButton* logo() const { return m_logo; }
    QLabel* info() const { return m_info; }
    QPushButton* acknowledgment_button() const { return m_ack; }

private:
    QPushButton* m_logo = nullptr;
    QLabel* m_info = nullptr;
    QPushButton* m_ack = nullptr;
};
