#include "ui/ui_about_window.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/plib_version.h"
#include "ui/ui_add_device_dialog.h"
#include "ui/ui_help.h"
#include "ui/ui_help_window.h"

ui_about_window_t::ui_about_window_t(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setWindowTitle("About");

    m_logo = new QPushButton(QIcon(":/image/Velkaro.png"), "Velkaro", this);
    m_logo->setObjectName("about_logo");
    m_logo->setIconSize(QSize(64, 64));
    m_logo->setFixedHeight(80);
    m_logo->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_logo->setFocusPolicy(Qt::NoFocus);

    m_info = new QLabel(QString("Version: %1\nBuild: 2024/10/28\nRemote control of VXA and VXB multimeters.")
                            .arg(plib_software_version),
                        this);
    m_info->setObjectName("about_info");
    m_info->setAlignment(Qt::AlignCenter);
    // The notice line is longer than the box is wide in larger fonts: wrap, never cut.
    m_info->setWordWrap(true);

    m_ack = new QPushButton("Open-source acknowledgment", this);
    m_ack->setObjectName("about_ack");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_logo);
    layout->addWidget(m_info);
    layout->addWidget(m_ack);

    ui_fit_fixed_size(this, QSize(400, 250));

    // A child window of the (modal) about box, so it can be read and scrolled at once.
    connect(m_ack, &QPushButton::clicked, this,
            [this] { ui_help_window_t::open(this, ui_help_document_ack); });
}
