#include "ui/ui_primary_window/ui_primary_window.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/ui_device_column/ui_device_item.h"

ui_primary_window_t::ui_primary_window_t(QWidget* parent, ui_device_item_t* dev)
    : QWidget(parent), m_pdev(dev) {
    setObjectName("primary_window");
    setAttribute(Qt::WA_StyledBackground);
    auto* frame = new QFrame(this);
    m_title = new QLabel(frame);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setStyleSheet("color: white; font-size: 24px;");
    if (dev != nullptr) {
        const QString res = QString::fromStdString(dev->get_resource());
        m_title->setText(QString::fromStdString(dev->get_model_name()) + "\n" +
                         (res.isEmpty() ? QString("No connection") : res));
    }
    auto* frame_layout = new QVBoxLayout(frame);
    frame_layout->addWidget(m_title, 0, Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);
}
