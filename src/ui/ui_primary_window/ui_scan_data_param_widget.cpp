#include "ui/ui_primary_window/ui_scan_data_param_widget.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/ui_add_device_dialog.h"
#include "ui/ui_primary_window/ui_scan_param_setting_dialog.h"
#include "ui/ui_switch_button.h"

ui_scan_data_param_widget_t::ui_scan_data_param_widget_t(QWidget* parent, cfg_main_t* cfg)
    : QFrame(parent), m_pcfg(cfg) {
    setObjectName("scan_data_param_widget");

    m_setting_btn = new QPushButton("Setting", this);
    m_setting_btn->setObjectName("scan_param_setting_btn");
    ui_fit_button(m_setting_btn, 150, 50);
    m_setting_btn->setIcon(QIcon(":/image/setting.png"));
    m_setting_btn->setIconSize(QSize(50, 50));

    m_switch = new ui_switch_button_t(this);
    m_switch->setObjectName("scan_start_switch");
    m_switch->setFixedSize(100, 30);
    m_table_btn = new QToolButton(this);
    m_table_btn->setObjectName("scan_table_button");
    m_table_btn->setText("Config");
    m_table_btn->setCheckable(true);
    ui_fit_button(m_table_btn, 80, 30);
    auto* switch_row = new QHBoxLayout();
    switch_row->addWidget(m_switch);
    switch_row->addWidget(m_table_btn);

    auto* box = new QGroupBox("Scan Status", this);
    box->setObjectName("scan_data_param_box");
    box->setFixedSize(200, 150);
    auto* grid = new QGridLayout(box);
    m_status = new QLabel("STOP", box);
    m_status->setObjectName("scan_status_label");
    m_cycles = new QLabel("0", box);
    m_cycles->setObjectName("scan_cycles_label");
    m_elapsed = new QLabel("00:00:00", box);
    m_elapsed->setObjectName("scan_elapsed_label");
    grid->addWidget(new QLabel("Status:", box), 0, 0);
    grid->addWidget(m_status, 0, 1);
    grid->addWidget(new QLabel("Cycles:", box), 1, 0);
    grid->addWidget(m_cycles, 1, 1);
    grid->addWidget(new QLabel("Elapsed\nTime:", box), 2, 0);
    grid->addWidget(m_elapsed, 2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(20);
    layout->addWidget(m_setting_btn);
    layout->addLayout(switch_row);
    layout->addStretch();
    layout->addWidget(box);

    connect(m_setting_btn, &QPushButton::clicked, this,
            &ui_scan_data_param_widget_t::slot_show_setting_dialog);
    connect(m_switch, &ui_switch_button_t::signal_change_status, this,
            &ui_scan_data_param_widget_t::signal_start_btn_switch);
    connect(m_table_btn, &QToolButton::clicked, this, [this](bool checked) {
        m_table_btn->setText(checked ? "Result" : "Config");
        emit signal_change_config_and_result_widget(checked ? ui_scan_result_widget_index
                                                            : ui_scan_config_widget_index);
    });
}

void ui_scan_data_param_widget_t::switch_off_silently() {
    const bool blocked = m_switch->blockSignals(true);
    m_switch->setChecked(false);
    m_switch->blockSignals(blocked);
}

void ui_scan_data_param_widget_t::show_table_button(ui_scan_config_result_widget_index_t index) {
    const bool result = index == ui_scan_result_widget_index;
    const bool blocked = m_table_btn->blockSignals(true);
    m_table_btn->setChecked(result);
    m_table_btn->blockSignals(blocked);
    m_table_btn->setText(result ? "Result" : "Config");
}

void ui_scan_data_param_widget_t::set_status(const QString& text) { m_status->setText(text); }

void ui_scan_data_param_widget_t::set_cycles(const QString& text) {
    if (m_cycles->text() != text) m_cycles->setText(text);
}

void ui_scan_data_param_widget_t::set_elapsed(const QString& text) {
    if (m_elapsed->text() != text) m_elapsed->setText(text);
}

void ui_scan_data_param_widget_t::slot_show_setting_dialog() {
    if (m_pcfg == nullptr) return;
    QPointer<ui_scan_param_setting_dialog_t> dialog = new ui_scan_param_setting_dialog_t(this, m_pcfg);
    dialog->exec();
    delete dialog.data();  // null when it deleted itself on close
}
