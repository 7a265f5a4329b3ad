// The parameter column of the Measure page: the acquisition status, the function
// selector, and below them the stack of parameter panels, one per function the model
// has, built from the driver's capability records. Changing the function shows that
// function's panel at once, and on the instrument's lane sets it through the facade,
// clears the recorded readings and restarts a running measurement; a function the
// instrument did not take is undone (the old one shown again, signal_setting_refused).
// While changes of this instrument are on their way the column is disabled with a busy
// cursor: no other change is taken until the instrument answered. GUI thread only.
#pragma once

#include <QFrame>
#include <map>

class QComboBox;
class QLabel;
class QStackedLayout;
class cfg_main_t;
class drv_if_t;
class ui_device_item_t;
class ui_measure_var_param_base_widget_t;

class ui_measure_param_widget_t : public QFrame {
    Q_OBJECT
public:
    // `cfg` and `driver` are borrowed and outlive the widget.
    ui_measure_param_widget_t(QWidget* parent, cfg_main_t* cfg, drv_if_t* driver, int run_state);

    // 1 shows "ON", 0 "OFF".
    void set_status(int run_state);

    // Shows the configuration's current function and refreshes its panel (after a
    // project was loaded, for instance); sends nothing to the instrument.
    void refresh();

    // The panel of a function; null when the model has none.
    ui_measure_var_param_base_widget_t* panel(int func) const;

    // The instrument whose lane runs the changes (and whose busy state this column
    // shows); without one every change is sent at once.
    void set_device_item(ui_device_item_t* item);

signals:
    void signal_change_func();
    void signal_change_unit();
    // A change the instrument did not take (VISA status); the old value is shown again.
    void signal_setting_refused(int status);

private slots:
    void slot_func_selector_index_changed(QString func);

private:
    void _init_panels();
    void _add_panel(ui_measure_var_param_base_widget_t* panel);
    void _show_panel(int func);

    void _set_busy(bool busy);

    cfg_main_t* m_pcfg = nullptr;
    drv_if_t* m_pdrv = nullptr;
    ui_device_item_t* m_pdev = nullptr;
    QLabel* m_status_label = nullptr;
    QComboBox* m_func_selector = nullptr;
    QStackedLayout* m_stack = nullptr;
    std::map<int, ui_measure_var_param_base_widget_t*> m_panels;
};
