// The Temperature panel: the common Rel row, then the sensor menu (Load), the display
// choice (Disp), the unit (Units) and the reference junction (Ref Temp). The sensor
// menu lists the record's firmware-defined sensors and the instrument's user-defined
// ones, which "Sync" reads again and which replace the earlier user entries.
// GUI thread only.
#pragma once

#include <vector>

#include "drv/drv_types.h"
#include "ui/ui_primary_window/ui_measure_var_param_base_widget.h"

class QAction;
class QMenu;
class QToolButton;

class ui_measure_var_param_temp_widget_t : public ui_measure_var_param_base_widget_t {
    Q_OBJECT
public:
    ui_measure_var_param_temp_widget_t(QWidget* parent, cfg_main_t* cfg, const drv_temp_caps_t& caps);

    void refresh() override;

signals:
    // The temperature display or unit changed: the reading's unit text changes.
    void signal_change_unit();

private slots:
    // Reads the instrument's user-defined transducers and lists them instead of the
    // earlier user entries. Refused (with a message) while not connected, so a failed
    // read cannot wipe the list.
    void slot_sync_udef_tran();

protected:
    QString _rel_unit_text() const override;

private:
    void _init_load_row(const drv_temp_caps_t& caps);
    void _init_disp_row();
    void _init_units_row();
    void _init_ref_temp_row(const drv_temp_caps_t& caps);
    QAction* _add_sensor_action(const drv_temp_sensor_t& sensor);
    void _set_user_sensors(const std::vector<drv_temp_sensor_t>& sensors);
    void _sync_display_dependents();

    QToolButton* m_load = nullptr;
    QMenu* m_sensor_menu[2][2] = {{nullptr, nullptr}, {nullptr, nullptr}};  // [define][type]
    std::vector<QAction*> m_user_actions;
    QButtonGroup* m_disp_group = nullptr;
    QButtonGroup* m_units_group = nullptr;
    QButtonGroup* m_ref_group = nullptr;
    QWidget* m_ref_box = nullptr;
    QLineEdit* m_ref_edit = nullptr;
};
