#include "ui/ui_primary_window/ui_measure_var_param_temp_widget.h"

#include <memory>

#include <QAction>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "cfg/cfg_main.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

ui_var_param_rows_t temp_rows(const drv_temp_caps_t& caps) {
    ui_var_param_rows_t rows;
    rows.rel = true;
    rows.rel_min = caps.rel_min;
    rows.rel_max = caps.rel_max;
    return rows;
}

int index_of(int define_or_type) { return define_or_type == 1 ? 1 : 0; }

}  // namespace

ui_measure_var_param_temp_widget_t::ui_measure_var_param_temp_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                       const drv_temp_caps_t& caps)
    : ui_measure_var_param_base_widget_t(parent, cfg, measure_temp, temp_rows(caps)) {
    _init_load_row(caps);
    _init_disp_row();
    _init_units_row();
    _init_ref_temp_row(caps);
}

QString ui_measure_var_param_temp_widget_t::_rel_unit_text() const {
    if (m_pcfg->get_temp_display() != 0) return short_unit_text(measure_unit_text(measure_dcv));
    return short_unit_text(temp_unit_text(m_pcfg->get_temp_unit()));
}

void ui_measure_var_param_temp_widget_t::_init_load_row(const drv_temp_caps_t& caps) {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("load", line);
    _add_caption(row, line, "Load:");
    line->addStretch();
    m_load = new QToolButton(row);
    m_load->setObjectName("var_param_load_button");
    m_load->setFixedWidth(100);
    m_load->setPopupMode(QToolButton::InstantPopup);
    line->addWidget(m_load);

    auto* menu = new QMenu(m_load);
    menu->setObjectName("var_param_load_menu");
    const char* const define_titles[] = {"Firm Define", "User Define"};
    const char* const type_titles[] = {"RTD", "THER"};
    for (int define = 0; define < 2; ++define) {
        QMenu* sub = menu->addMenu(define_titles[define]);
        for (int type = 0; type < 2; ++type) m_sensor_menu[define][type] = sub->addMenu(type_titles[type]);
        if (define == 1) {
            sub->addSeparator();
            QAction* sync = sub->addAction("Sync");
            sync->setObjectName("var_param_sync_action");
            connect(sync, &QAction::triggered, this,
                    &ui_measure_var_param_temp_widget_t::slot_sync_udef_tran);
        }
    }
    m_load->setMenu(menu);

    for (const drv_temp_sensor_t& sensor : caps.sensors) _add_sensor_action(sensor);
    // The user entries read at an earlier Sync (kept in the project) are offered again.
    const plib_measure_cfg_map_t map = m_pcfg->measure()->cfg_map_copy();
    const auto temp = map.find(measure_temp);
    if (temp != map.end()) _set_user_sensors(temp->second.udef_sensor);
}

QAction* ui_measure_var_param_temp_widget_t::_add_sensor_action(const drv_temp_sensor_t& sensor) {
    QMenu* sub = m_sensor_menu[index_of(sensor.define)][index_of(sensor.type)];
    QAction* action = sub->addAction(qs(sensor.name));
    connect(action, &QAction::triggered, this, [this, sensor] {
        m_load->setText(qs(sensor.name));
        _apply([sensor](cfg_main_t* cfg) { return cfg->set_temp_sensor(sensor); });
    });
    return action;
}

void ui_measure_var_param_temp_widget_t::_set_user_sensors(const std::vector<drv_temp_sensor_t>& sensors) {
    for (QAction* action : m_user_actions) delete action;
    m_user_actions.clear();
    for (drv_temp_sensor_t sensor : sensors) {
        sensor.define = 1;  // listed under "User Define" and sent as "UDEF"
        m_user_actions.push_back(_add_sensor_action(sensor));
    }
}

void ui_measure_var_param_temp_widget_t::slot_sync_udef_tran() {
    if (!m_pcfg->get_info().connected) {
        QMessageBox::information(this, "Warning", "It's not connected to the device yet.", QMessageBox::Ok);
        return;
    }
    auto sensors = std::make_shared<std::vector<plib_udef_sensor_t>>();
    _apply([sensors](cfg_main_t* cfg) { return cfg->sync_udef_sensors(*sensors); },
           [this] {
               // What is stored now: the new list, or the old one when the read failed.
               const plib_measure_cfg_map_t map = m_pcfg->measure()->cfg_map_copy();
               const auto temp = map.find(measure_temp);
               if (temp != map.end()) _set_user_sensors(temp->second.udef_sensor);
           });
}

void ui_measure_var_param_temp_widget_t::_init_disp_row() {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("disp", line);
    _add_caption(row, line, "Disp:");
    line->addStretch();
    m_disp_group = _add_radios(row, line, "disp", {{"Temp", 0}, {"Meas", 1}});
    connect(m_disp_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked) return;
        _apply([id](cfg_main_t* cfg) { return cfg->set_temp_display(id); }, [this] {
            _sync_display_dependents();
            emit signal_change_unit();
        });
    });
}

void ui_measure_var_param_temp_widget_t::_init_units_row() {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("units", line);
    _add_caption(row, line, "Units:");
    line->addStretch();
    m_units_group = _add_radios(row, line, "units", {{"℃", 0}, {"℉", 1}, {"K", 2}});
    connect(m_units_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked) return;
        _apply([id](cfg_main_t* cfg) { return cfg->set_temp_unit(id); }, [this] {
            _sync_display_dependents();
            emit signal_change_unit();
        });
    });
}

void ui_measure_var_param_temp_widget_t::_init_ref_temp_row(const drv_temp_caps_t& caps) {
    auto* row = new QWidget(this);
    row->setObjectName("var_param_row_ref_temp");
    auto* rows = new QVBoxLayout(row);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(5);
    _append_row(row);

    auto* first = new QHBoxLayout;
    first->setSpacing(10);
    rows->addLayout(first);
    _add_caption(row, first, "Ref Temp:");
    first->addStretch();
    m_ref_group = _add_radios(row, first, "ref_temp", {{"Int", 0}, {"Ext", 1}});

    m_ref_box = new QWidget(row);
    m_ref_box->setObjectName("var_param_ref_temp_box");
    auto* second = new QHBoxLayout(m_ref_box);
    second->setContentsMargins(0, 0, 0, 0);
    second->addStretch();
    // Numbers only: the text is sent to the instrument as typed.
    m_ref_edit = _add_number_edit(m_ref_box, second, "var_param_ref_temp_edit", caps.rel_min, caps.rel_max);
    m_ref_edit->setFixedSize(80, 30);
    auto* set = new QPushButton("Set", m_ref_box);
    set->setObjectName("var_param_widget_set");
    set->setFixedSize(60, 30);
    second->addWidget(set);
    rows->addWidget(m_ref_box);
    m_ref_box->setVisible(false);

    connect(m_ref_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked) return;
        m_ref_box->setVisible(id == 1);
        _apply([id](cfg_main_t* cfg) { return cfg->set_temp_source(id); });
    });
    connect(set, &QPushButton::clicked, this, [this] {
        auto shown = [this] {
            m_ref_edit->setPlaceholderText(qs(m_pcfg->get_temp_ext_source_val()));
            m_ref_edit->clear();
        };
        if (!m_ref_edit->hasAcceptableInput()) {
            shown();
            return;
        }
        const std::string value = m_ref_edit->text().toStdString();
        _apply([value](cfg_main_t* cfg) { return cfg->set_temp_ext_source_val(value); }, shown);
    });
}

void ui_measure_var_param_temp_widget_t::_sync_display_dependents() {
    // The relative offset applies to temperatures only; a measured voltage has none here.
    if (m_rel_row != nullptr) m_rel_row->setVisible(m_pcfg->get_temp_display() == 0);
    if (m_rel_unit != nullptr) m_rel_unit->setText(_rel_unit_text());
}

void ui_measure_var_param_temp_widget_t::refresh() {
    ui_measure_var_param_base_widget_t::refresh();
    m_load->setText(qs(m_pcfg->get_temp_sensor().name));
    _check_radio(m_disp_group, m_pcfg->get_temp_display());
    _check_radio(m_units_group, m_pcfg->get_temp_unit());
    const int source = m_pcfg->get_temp_source();
    _check_radio(m_ref_group, source);
    m_ref_box->setVisible(source == 1);
    m_ref_edit->setPlaceholderText(qs(m_pcfg->get_temp_ext_source_val()));
    m_ref_edit->clear();
    _sync_display_dependents();
}
