#include "ui/ui_primary_window/ui_measure_param_widget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "cfg/cfg_main.h"
#include "drv/if/drv_if.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_primary_window/ui_measure_var_param_temp_widget.h"
#include "ui/ui_primary_window/ui_measure_var_param_widgets.h"

ui_measure_param_widget_t::ui_measure_param_widget_t(QWidget* parent, cfg_main_t* cfg, drv_if_t* driver,
                                                     int run_state)
    : QFrame(parent), m_pcfg(cfg), m_pdrv(driver) {
    setObjectName("measure_param_widget");
    setFixedWidth(250);
    auto* column = new QVBoxLayout(this);

    auto* grid = new QGridLayout;
    column->addLayout(grid);
    auto* status_caption = new QLabel("Status:", this);
    status_caption->setObjectName("common_param_text");
    m_status_label = new QLabel("OFF", this);
    m_status_label->setObjectName("measure_acq_status_label");
    auto* func_caption = new QLabel("Function:", this);
    func_caption->setObjectName("common_param_text");
    m_func_selector = new QComboBox(this);
    m_func_selector->setObjectName("measure_function_selector");
    m_func_selector->setFixedSize(150, 30);
    grid->addWidget(status_caption, 0, 0);
    grid->addWidget(m_status_label, 0, 1);
    grid->addWidget(func_caption, 1, 0);
    grid->addWidget(m_func_selector, 1, 1);

    // The combo index is the function number: every name goes to the index of its value.
    for (const auto& [type, name] : measure_name_table())
        if (type <= measure_sensor) m_func_selector->insertItem(type, QString::fromStdString(name));
    drv_sensor_caps_t sensor_caps;
    m_pdrv->get_sensor_caps(sensor_caps);
    if (!sensor_caps.has_sensor) m_func_selector->removeItem(measure_sensor);

    auto* stack_widget = new QWidget(this);
    stack_widget->setObjectName("measure_param_stack");
    m_stack = new QStackedLayout(stack_widget);
    column->addWidget(stack_widget);
    column->addStretch();
    _init_panels();

    set_status(run_state);
    refresh();
    // Connected last, so the initial selection sends nothing.
    connect(m_func_selector, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { slot_func_selector_index_changed(m_func_selector->itemText(index)); });
}

void ui_measure_param_widget_t::_init_panels() {
    cfg_main_t* cfg = m_pcfg;
    {
        drv_dcv_caps_t caps;
        m_pdrv->get_dcv_caps(caps);
        _add_panel(new ui_measure_var_param_dcv_widget_t(this, cfg, caps));
    }
    {
        drv_dci_caps_t caps;
        m_pdrv->get_dci_caps(caps);
        _add_panel(new ui_measure_var_param_dci_widget_t(this, cfg, caps));
    }
    {
        drv_ac_caps_t caps;
        m_pdrv->get_acv_caps(caps);
        _add_panel(new ui_measure_var_param_acv_widget_t(this, cfg, caps));
    }
    {
        drv_ac_caps_t caps;
        m_pdrv->get_aci_caps(caps);
        _add_panel(new ui_measure_var_param_aci_widget_t(this, cfg, caps));
    }
    {
        drv_res_caps_t caps;
        m_pdrv->get_res2w_caps(caps);
        _add_panel(new ui_measure_var_param_2wr_widget_t(this, cfg, caps));
    }
    {
        drv_res_caps_t caps;
        m_pdrv->get_res4w_caps(caps);
        _add_panel(new ui_measure_var_param_4wr_widget_t(this, cfg, caps));
    }
    {
        drv_cap_caps_t caps;
        m_pdrv->get_cap_caps(caps);
        _add_panel(new ui_measure_var_param_cap_widget_t(this, cfg, caps));
    }
    {
        drv_freq_caps_t freq;
        m_pdrv->get_freq_caps(freq);
        _add_panel(new ui_measure_var_param_freq_widget_t(this, cfg, freq));
        drv_freq_caps_t period;
        m_pdrv->get_period_caps(period);
        // A Period that shares the Frequency settings offers the Frequency choices:
        // its own record is empty and the configuration reads and writes Frequency's.
        _add_panel(new ui_measure_var_param_per_widget_t(this, cfg, period.freq_shared ? freq : period));
    }
    {
        drv_cont_caps_t caps;
        m_pdrv->get_cont_caps(caps);
        _add_panel(new ui_measure_var_param_cont_widget_t(this, cfg, caps));
    }
    {
        drv_diode_caps_t caps;
        m_pdrv->get_diode_caps(caps);
        _add_panel(new ui_measure_var_param_diode_widget_t(this, cfg, caps));
    }
    {
        drv_temp_caps_t caps;
        m_pdrv->get_temp_caps(caps);
        auto* temp = new ui_measure_var_param_temp_widget_t(this, cfg, caps);
        connect(temp, &ui_measure_var_param_temp_widget_t::signal_change_unit, this,
                &ui_measure_param_widget_t::signal_change_unit);
        _add_panel(temp);
    }
    drv_sensor_caps_t sensor;
    m_pdrv->get_sensor_caps(sensor);
    if (sensor.has_sensor) _add_panel(new ui_measure_var_param_sens_widget_t(this, cfg, sensor));
}

void ui_measure_param_widget_t::_add_panel(ui_measure_var_param_base_widget_t* panel) {
    m_panels[panel->function()] = panel;
    m_stack->addWidget(panel);
    connect(panel, &ui_measure_var_param_base_widget_t::signal_setting_refused, this,
            &ui_measure_param_widget_t::signal_setting_refused);
}

void ui_measure_param_widget_t::set_device_item(ui_device_item_t* item) {
    m_pdev = item;
    for (const auto& entry : m_panels) entry.second->set_device_item(item);
    if (item == nullptr) return;
    connect(item, &ui_device_item_t::signal_settings_busy_changed, this, &ui_measure_param_widget_t::_set_busy);
    _set_busy(item->settings_in_flight() > 0);
}

void ui_measure_param_widget_t::_set_busy(bool busy) {
    // Only this instrument's column: the rest of the window and other instruments go on.
    m_func_selector->setEnabled(!busy);
    m_stack->parentWidget()->setEnabled(!busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

ui_measure_var_param_base_widget_t* ui_measure_param_widget_t::panel(int func) const {
    const auto it = m_panels.find(func);
    return it == m_panels.end() ? nullptr : it->second;
}

void ui_measure_param_widget_t::set_status(int run_state) {
    m_status_label->setText(run_state == 1 ? "ON" : "OFF");
}

void ui_measure_param_widget_t::_show_panel(int func) {
    ui_measure_var_param_base_widget_t* shown = panel(func);
    if (shown == nullptr) return;
    shown->refresh();
    m_stack->setCurrentWidget(shown);
}

void ui_measure_param_widget_t::refresh() {
    const int func = m_pcfg->get_function();
    {
        const QSignalBlocker blocker(m_func_selector);
        m_func_selector->setCurrentIndex(func < m_func_selector->count() ? func : -1);
    }
    _show_panel(func);
}

void ui_measure_param_widget_t::slot_func_selector_index_changed(QString func) {
    const plib_measure_type_t type = measure_type_from_name(func.toStdString());
    if (type == measure_none) return;
    // Readings of different functions never share one record; a running measurement
    // starts again on the new function.
    auto job = [type](cfg_main_t* cfg) {
        const int status = cfg->set_function(type);
        cfg->clear_data();
        if (cfg->get_run_state() != 0) cfg->restart();
        return status;
    };
    if (m_pdev == nullptr) {
        job(m_pcfg);
        _show_panel(type);
        emit signal_change_func();
        return;
    }
    // The page shows the new function at once: stored now, sent on the lane.
    const int previous = m_pcfg->get_function();
    m_pcfg->store_function(type);
    _show_panel(type);
    emit signal_change_func();
    m_pdev->run_setting(this, job, [this](int status) {
        if (status == 0) return;
        refresh();
        emit signal_change_func();
        emit signal_setting_refused(status);
    }, previous);
}
