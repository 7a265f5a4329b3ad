#include "ui/ui_device_change_addr_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "ui/ui_add_device_dialog.h"
#include "ui/ui_ipv4.h"
#include "ui/ui_res_search_thread.h"

ui_device_change_addr_dialog_t::ui_device_change_addr_dialog_t(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setWindowTitle("Change Connection");
    setObjectName("change_addr_dialog");

    auto* label = new QLabel("Select an existing address, or enter a new TCP/IP address.", this);
    label->setWordWrap(true);
    label->setMargin(10);

    m_pages = new QStackedWidget(this);
    auto* edit_page = new QWidget(m_pages);
    m_addr_edit = new QLineEdit(edit_page);
    m_addr_edit->setFixedSize(300, 25);
    m_addr_edit->setPlaceholderText("Enter another TCP/IP address here.");
    ui_track_empty_line_edit(m_addr_edit);
    auto* edit_layout = new QVBoxLayout(edit_page);
    edit_layout->addWidget(m_addr_edit, 0, Qt::AlignCenter);
    m_res_list = new QListWidget(m_pages);
    m_res_list->setFixedSize(300, 100);
    m_res_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_res_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui_reset_resource_list(m_res_list);
    m_pages->addWidget(edit_page);
    m_pages->addWidget(m_res_list);
    m_pages->setCurrentIndex(page_address);

    m_scan_btn = new QPushButton("Scan", this);
    ui_fit_button(m_scan_btn, 50, 30);
    m_ok_btn = new QPushButton("OK", this);
    ui_fit_button(m_ok_btn, 50, 30);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_scan_btn);
    buttons->addWidget(m_ok_btn);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0, 1, 2);
    grid->addWidget(m_pages, 1, 0);
    grid->addLayout(buttons, 1, 1);

    connect(m_scan_btn, &QPushButton::clicked, this, &ui_device_change_addr_dialog_t::_toggle_page);
    connect(m_ok_btn, &QPushButton::clicked, this, &ui_device_change_addr_dialog_t::_ok);
    connect(m_addr_edit, &QLineEdit::returnPressed, m_ok_btn, &QPushButton::click);
    connect(ui_res_search_thread_t::instance(), &ui_res_search_thread_t::signal_send_resource, this,
            &ui_device_change_addr_dialog_t::slot_update_res_list);
    connect(ui_res_search_thread_t::instance(), &ui_res_search_thread_t::signal_send_resource_labels, this,
            [this](std::vector<std::string> res_list, std::vector<std::string> labels) {
                ui_label_resource_list(m_res_list, res_list, labels);
            });
    ui_fit_fixed_size(this, QSize(400, 220));
}

int ui_device_change_addr_dialog_t::current_page() const { return m_pages->currentIndex(); }

void ui_device_change_addr_dialog_t::_toggle_page() {
    if (m_scan_btn->text() == "Scan") {
        m_pages->setCurrentIndex(page_list);
        m_scan_btn->setText("New");
        ui_res_search_thread_t::instance()->start_if_idle();
    } else {
        m_pages->setCurrentIndex(page_address);
        m_scan_btn->setText("Scan");
    }
}

void ui_device_change_addr_dialog_t::_ok() {
    if (m_pages->currentIndex() == page_list) {
        QListWidgetItem* item = m_res_list->currentItem();
        // The waiting and "nothing found" lines are not resources.
        m_resource = ui_resource_of(item);
    } else {
        const QString text = m_addr_edit->text();
        if (!ui_is_ipv4_address(text)) {
            QMessageBox::warning(this, "Tips", "Invalid IP address!", QMessageBox::Ok);
            return;
        }
        m_resource = ui_tcpip_resource(text);
    }
    emit signal_change_device_res(m_resource);
    close();
}

void ui_device_change_addr_dialog_t::slot_update_res_list(std::vector<std::string> res_list) {
    ui_fill_resource_list(m_res_list, res_list);
}
