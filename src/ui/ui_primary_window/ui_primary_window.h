// The window of one instrument in the main window's page stack. For now a plain page
// naming the instrument; the measurement pages take its place.
#pragma once

#include <QWidget>

class QLabel;
class ui_device_item_t;

class ui_primary_window_t : public QWidget {
    Q_OBJECT
public:
    ui_primary_window_t(QWidget* parent, ui_device_item_t* dev);

    ui_device_item_t* device_item() const { return m_pdev; }
    QLabel* title_label() const { return m_title; }

private:
    ui_device_item_t* m_pdev = nullptr;
    QLabel* m_title = nullptr;
};
