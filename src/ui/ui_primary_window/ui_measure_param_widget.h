// PLACEHOLDER parameter column of the Measure page until its own work lands: the status
// label and the function selector only, no panels.
#pragma once

#include <QFrame>

class QComboBox;
class QLabel;
class cfg_main_t;
class drv_if_t;

class ui_measure_param_widget_t : public QFrame {
    Q_OBJECT
public:
    // `cfg` and `driver` are borrowed and outlive the widget.
    ui_measure_param_widget_t(QWidget* parent, cfg_main_t* cfg, drv_if_t* driver, int run_state);

    // 1 shows "ON", 0 "OFF".
    void set_status(int run_state);

signals:
    void signal_change_func();
    void signal_change_unit();

private slots:
    void slot_func_selector_index_changed(QString func);

private:
    cfg_main_t* m_pcfg = nullptr;
    drv_if_t* m_pdrv = nullptr;
    QLabel* m_status_label = nullptr;
    QComboBox* m_func_selector = nullptr;
};
