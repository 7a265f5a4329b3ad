#include "ui/ui_add_device_dialog.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "cfg/resource_registry.h"
#include "common/plib_model_registry.h"
#include "ui/ui_ipv4.h"
#include "ui/ui_res_search_thread.h"

namespace {

QListWidgetItem* unselectable_item(const QString& text) {
    auto* item = new QListWidgetItem(text);
    item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
    return item;
}

}  // namespace

void ui_fit_button(QAbstractButton* button, int w, int h) {
    button->setMinimumSize(w, h);
    button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    button->ensurePolished();
    button->setFixedHeight(qMax(h, button->sizeHint().height()));
}

void ui_track_empty_line_edit(QLineEdit* edit) {
    const auto update = [edit] {
        const bool empty = edit->text().isEmpty();
        if (edit->property("empty").isValid() && edit->property("empty").toBool() == empty) return;
        edit->setProperty("empty", empty);
        edit->style()->unpolish(edit);
        edit->style()->polish(edit);
        edit->update();
    };
    QObject::connect(edit, &QLineEdit::textChanged, edit, update);
    update();
}

void ui_fit_fixed_size(QDialog* dialog, const QSize& minimum) {
    dialog->ensurePolished();
    QLayout* layout = dialog->layout();
    if (layout != nullptr) layout->activate();
    QSize size = minimum.expandedTo(dialog->minimumSizeHint()).expandedTo(dialog->sizeHint());
    if (layout != nullptr && layout->hasHeightForWidth())
        size.setHeight(qMax(size.height(), layout->totalHeightForWidth(size.width())));
    dialog->setFixedSize(size);
}

void ui_reset_resource_list(QListWidget* list) {
    list->clear();
    list->addItem(unselectable_item("Please wait for scanning..."));
}

void ui_fill_resource_list(QListWidget* list, const std::vector<std::string>& res_list) {
    list->clear();
    if (res_list.empty()) {
        list->addItem(unselectable_item("No connection resources found."));
        return;
    }
    for (const std::string& res : res_list) {
        auto* item = new QListWidgetItem(QString::fromStdString(res), list);
        item->setData(Qt::UserRole, QString::fromStdString(res));
    }
}

void ui_label_resource_list(QListWidget* list, const std::vector<std::string>& res_list,
                            const std::vector<std::string>& labels) {
    for (size_t i = 0; i < res_list.size() && i < labels.size(); ++i) {
        if (labels[i].empty()) continue;
        const QString res = QString::fromStdString(res_list[i]);
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem* item = list->item(row);
            if (item->data(Qt::UserRole).toString() != res) continue;
            const QString label = QString::fromStdString(labels[i]);
            item->setText(res + "\n    " + label);
            item->setToolTip(res + "  " + label);
        }
    }
}

QString ui_resource_of(const QListWidgetItem* item) {
    if (item == nullptr || !(item->flags() & Qt::ItemIsSelectable)) return QString();
    return item->data(Qt::UserRole).toString();
}

ui_add_device_dialog_t::ui_add_device_dialog_t(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setWindowTitle("Add Device");
    setObjectName("add_device_dialog");
    m_stack = new QStackedLayout(this);
    m_stack->addWidget(_create_model_page());
    m_stack->addWidget(_create_address_page());
    m_stack->addWidget(_create_search_page());
    m_stack->setCurrentIndex(page_model);

    connect(ui_res_search_thread_t::instance(), &ui_res_search_thread_t::signal_send_resource, this,
            &ui_add_device_dialog_t::slot_update_res_list);
    connect(ui_res_search_thread_t::instance(), &ui_res_search_thread_t::signal_send_resource_labels, this,
            [this](std::vector<std::string> res_list, std::vector<std::string> labels) {
                ui_label_resource_list(m_res_list, res_list, labels);
            });
    ui_fit_fixed_size(this, QSize(450, 150));
}

int ui_add_device_dialog_t::current_page() const { return m_stack->currentIndex(); }

QWidget* ui_add_device_dialog_t::_create_model_page() {
    auto* page = new QWidget(this);
    auto* label = new QLabel("Select the model of your device,\nthen select the connection method.", page);
    label->setFixedHeight(50);

    m_model_btn = new QToolButton(page);
    m_model_btn->setObjectName("add_device_model_btn");
    m_model_btn->setText("Select model");
    ui_fit_button(m_model_btn, 150, 40);
    m_model_btn->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(m_model_btn);
    menu->setMinimumWidth(200);
    const struct {
        const char* title;
        int kind;
    } families[] = {{"VXA Series", model_registry_t::list_vxa}, {"VXB Series", model_registry_t::list_vxb}};
    for (const auto& family : families) {
        QMenu* sub = menu->addMenu(family.title);
        std::vector<std::string> models;
        model_registry_t::instance().model_list(family.kind, models);
        for (const std::string& name : models) {
            QAction* action = sub->addAction(QString::fromStdString(name));
            connect(action, &QAction::triggered, this, [this, action] { _select_model(action->text()); });
        }
    }
    m_model_btn->setMenu(menu);

    m_new_addr_btn = new QPushButton("New addr", page);
    ui_fit_button(m_new_addr_btn, 70, 30);
    m_new_addr_btn->setEnabled(false);
    m_scan_res_btn = new QPushButton("Scan res", page);
    ui_fit_button(m_scan_res_btn, 70, 30);
    m_scan_res_btn->setEnabled(false);

    auto* grid = new QGridLayout(page);
    grid->addWidget(label, 0, 0, Qt::AlignCenter);
    grid->addWidget(m_new_addr_btn, 0, 1, Qt::AlignRight);
    grid->addWidget(m_model_btn, 1, 0, Qt::AlignCenter);
    grid->addWidget(m_scan_res_btn, 1, 1, Qt::AlignRight);
    grid->setColumnStretch(0, 2);

    connect(m_new_addr_btn, &QPushButton::clicked, this, [this] { m_stack->setCurrentIndex(page_address); });
    connect(m_scan_res_btn, &QPushButton::clicked, this, [this] {
        m_stack->setCurrentIndex(page_search);
        ui_res_search_thread_t::instance()->start_if_idle();
    });
    return page;
}

QWidget* ui_add_device_dialog_t::_create_address_page() {
    auto* page = new QWidget(this);
    auto* label = new QLabel("Enter the TCP/IP address of your resource.", page);
    label->setFixedHeight(50);
    m_addr_edit = new QLineEdit(page);
    m_addr_edit->setFixedSize(250, 25);
    m_addr_edit->setPlaceholderText("Enter TCP/IP address here.");
    ui_track_empty_line_edit(m_addr_edit);
    m_addr_ok_btn = new QPushButton("OK", page);
    ui_fit_button(m_addr_ok_btn, 70, 30);
    m_addr_back_btn = new QPushButton("Back", page);
    ui_fit_button(m_addr_back_btn, 70, 30);

    auto* grid = new QGridLayout(page);
    grid->addWidget(label, 0, 0, Qt::AlignCenter);
    grid->addWidget(m_addr_ok_btn, 0, 1, Qt::AlignRight);
    grid->addWidget(m_addr_edit, 1, 0, Qt::AlignCenter);
    grid->addWidget(m_addr_back_btn, 1, 1, Qt::AlignRight);
    grid->setColumnStretch(0, 2);

    connect(m_addr_edit, &QLineEdit::returnPressed, m_addr_ok_btn, &QPushButton::click);
    connect(m_addr_ok_btn, &QPushButton::clicked, this, &ui_add_device_dialog_t::_address_ok);
    connect(m_addr_back_btn, &QPushButton::clicked, this, [this] { m_stack->setCurrentIndex(page_model); });
    return page;
}

QWidget* ui_add_device_dialog_t::_create_search_page() {
    auto* page = new QWidget(this);
    m_res_list = new QListWidget(page);
    m_res_list->setFixedSize(300, 120);
    m_res_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_res_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui_reset_resource_list(m_res_list);
    m_search_ok_btn = new QPushButton("OK", page);
    ui_fit_button(m_search_ok_btn, 70, 30);
    m_search_back_btn = new QPushButton("Back", page);
    ui_fit_button(m_search_back_btn, 70, 30);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_search_ok_btn);
    buttons->addWidget(m_search_back_btn);
    auto* row = new QHBoxLayout(page);
    row->addWidget(m_res_list, 0, Qt::AlignCenter);
    row->addLayout(buttons);

    connect(m_search_ok_btn, &QPushButton::clicked, this, &ui_add_device_dialog_t::_search_ok);
    connect(m_search_back_btn, &QPushButton::clicked, this, [this] { m_stack->setCurrentIndex(page_model); });
    return page;
}

void ui_add_device_dialog_t::_select_model(const QString& model) {
    m_model = model;
    m_model_btn->setText(model);
    m_new_addr_btn->setEnabled(true);
    m_scan_res_btn->setEnabled(true);
}

void ui_add_device_dialog_t::_address_ok() {
    const QString text = m_addr_edit->text();
    if (!ui_is_ipv4_address(text)) {
        QMessageBox::warning(this, "Tips", "Invalid IP address!", QMessageBox::Ok);
        return;
    }
    m_resource = ui_tcpip_resource(text);
    resource_registry_t::instance().add(m_resource.toStdString());
    emit signal_add_device(m_model, m_resource);
    close();
}

void ui_add_device_dialog_t::_search_ok() {
    QListWidgetItem* item = m_res_list->currentItem();
    // The waiting and "nothing found" lines are not resources.
    m_resource = ui_resource_of(item);
    emit signal_add_device(m_model, m_resource);
    close();
}

void ui_add_device_dialog_t::slot_update_res_list(std::vector<std::string> res_list) {
    ui_fill_resource_list(m_res_list, res_list);
}
