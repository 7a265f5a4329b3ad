#include "ui/ui_primary_window/ui_measure_param_widget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

#include "cfg/cfg_main.h"

ui_measure_param_widget_t::ui_measure_param_widget_t(QWidget* parent, cfg_main_t* cfg, drv_if_t* driver,
                                                     int run_state)
    : QFrame(parent), m_pcfg(cfg), m_pdrv(driver) {
    setObjectName("measure_param_widget");
    setFixedWidth(250);
    auto* grid = new QGridLayout(this);
    m_status_label = new QLabel(this);
    m_status_label->setObjectName("measure_acq_status_label");
    m_func_selector = new QComboBox(this);
    grid->addWidget(m_status_label, 0, 1);
    grid->addWidget(m_func_selector, 1, 1);
    set_status(run_state);
    connect(m_func_selector, &QComboBox::currentTextChanged, this,
            &ui_measure_param_widget_t::slot_func_selector_index_changed);
}

void ui_measure_param_widget_t::set_status(int run_state) { m_status_label->setText(run_state == 1 ? "ON" : "OFF"); }

void ui_measure_param_widget_t::slot_func_selector_index_changed(QString) { emit signal_change_func(); }
