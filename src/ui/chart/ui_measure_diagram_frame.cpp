#include "ui/chart/ui_measure_diagram_frame.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegExpValidator>
#include <QVBoxLayout>

#include "ui/chart/ui_trend_chart.h"
#include "ui/ui_tool_validator.h"

namespace {

constexpr int unit_minutes = 1;
constexpr int unit_hours = 2;

QLabel* make_label(const QString& text, const char* object_name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(object_name);
    return label;
}

QPushButton* make_apply_button(QWidget* parent) {
    auto* button = new QPushButton("Apply", parent);
    button->setObjectName("measure_diagram_apply_btn");
    button->setFixedSize(55, 30);
    return button;
}

// The number an edit holds; text the validator still calls incomplete (a lone "-")
// reads as 0.
double edit_number(const QLineEdit* edit) {
    const QString text = edit->text();
    bool ok = false;
    double value = edit->locale().toDouble(text, &ok);
    if (!ok) value = text.toDouble(&ok);
    return ok ? value : 0.0;
}

}  // namespace

ui_measure_diagram_frame_t::ui_measure_diagram_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("measure_diag_frame");

    m_pchart = new ui_trend_chart_t(m_pcfg, this);
    m_pchart->setObjectName("measure_diagram_trend_chart");
    m_pchart->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto* side = new QFrame(this);
    side->setObjectName("measure_diag_side_panel");
    side->setFixedWidth(250);
    auto* side_layout = new QVBoxLayout(side);
    side_layout->addWidget(_create_x_scale_group(side));
    side_layout->addWidget(_create_y_scale_group(side));
    side_layout->addStretch(1);

    _show_stored_modes();
    _init_connect();

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_pchart);
    layout->addWidget(side);
}

QWidget* ui_measure_diagram_frame_t::_create_x_scale_group(QWidget* parent) {
    auto* group = new QGroupBox("X Scale", parent);
    group->setObjectName("measure_diag_groupbox");
    auto* grid = new QGridLayout(group);
    grid->addWidget(make_label("Trend Mode:", "common_param_text", group), 0, 0, 1, 2);
    m_precent_btn = new QRadioButton("Recent", group);
    m_pall_btn = new QRadioButton("All", group);
    grid->addWidget(m_precent_btn, 1, 0);
    grid->addWidget(m_pall_btn, 1, 1);
    m_ptrend_group = new QButtonGroup(group);
    m_ptrend_group->setExclusive(true);
    m_ptrend_group->addButton(m_precent_btn);
    m_ptrend_group->addButton(m_pall_btn);

    m_pwindow_row = new QWidget(group);
    m_pwindow_row->setObjectName("measure_diagram_window_row");
    auto* row = new QGridLayout(m_pwindow_row);
    row->setContentsMargins(0, 0, 0, 0);
    m_pwindow_edit = new QLineEdit(m_pwindow_row);
    m_pwindow_edit->setObjectName("measure_diagram_window_edit");
    m_pwindow_edit->setFixedSize(80, 30);
    m_pwindow_edit->setValidator(new QRegExpValidator(QRegExp("[0-9]+"), m_pwindow_edit));
    m_pwindow_unit = new QComboBox(m_pwindow_row);
    m_pwindow_unit->setObjectName("measure_diagram_window_unit");
    m_pwindow_unit->setFixedSize(50, 30);
    m_pwindow_unit->addItem("m", unit_minutes);
    m_pwindow_unit->addItem("h", unit_hours);
    m_pwindow_unit->setCurrentIndex(0);
    m_pwindow_apply_btn = make_apply_button(m_pwindow_row);
    row->addWidget(m_pwindow_edit, 0, 0);
    row->addWidget(m_pwindow_unit, 0, 1);
    row->addWidget(m_pwindow_apply_btn, 0, 2);
    grid->addWidget(m_pwindow_row, 2, 0, 1, 2);
    return group;
}

QWidget* ui_measure_diagram_frame_t::_create_y_scale_group(QWidget* parent) {
    auto* group = new QGroupBox("Y Scale", parent);
    group->setObjectName("measure_diag_groupbox");
    auto* grid = new QGridLayout(group);
    grid->addWidget(make_label("Range Mode:", "common_param_text", group), 0, 0, 1, 3);
    m_pdefault_btn = new QRadioButton("Default", group);
    m_pauto_btn = new QRadioButton("Auto", group);
    m_pmanual_btn = new QRadioButton("Manual", group);
    // Three choices do not fit one row of the 250-pixel panel in every font: "Manual"
    // was cut. Two rows, each word whole.
    grid->addWidget(m_pdefault_btn, 1, 0);
    grid->addWidget(m_pauto_btn, 1, 1);
    grid->addWidget(m_pmanual_btn, 2, 0);
    m_prange_group = new QButtonGroup(group);
    m_prange_group->setExclusive(true);
    m_prange_group->addButton(m_pdefault_btn);
    m_prange_group->addButton(m_pauto_btn);
    m_prange_group->addButton(m_pmanual_btn);

    m_pmanual_panel = new QWidget(group);
    m_pmanual_panel->setObjectName("measure_diagram_manual_panel");
    auto* panel = new QGridLayout(m_pmanual_panel);
    panel->setContentsMargins(0, 0, 0, 0);
    auto make_edit = [this](const char* name) {
        auto* edit = new QLineEdit(m_pmanual_panel);
        edit->setObjectName(name);
        edit->setFixedSize(160, 30);
        edit->setValidator(new ui_tool_double_validator_t(-1e9, 1e9, 10, edit));
        return edit;
    };
    m_pmax_edit = make_edit("measure_diagram_max_edit");
    m_pmin_edit = make_edit("measure_diagram_min_edit");
    panel->addWidget(make_label("Max:", "range_edit_text", m_pmanual_panel), 0, 0);
    panel->addWidget(m_pmax_edit, 0, 1);
    panel->addWidget(make_label("Min:", "range_edit_text", m_pmanual_panel), 1, 0);
    panel->addWidget(m_pmin_edit, 1, 1);
    m_prange_apply_btn = make_apply_button(m_pmanual_panel);
    panel->addWidget(m_prange_apply_btn, 2, 1, Qt::AlignRight);
    grid->addWidget(m_pmanual_panel, 3, 0, 1, 3);
    return group;
}

void ui_measure_diagram_frame_t::_show_stored_modes() {
    {
        const QSignalBlocker blocker(m_ptrend_group);
        const bool all = m_pchart->get_trend_mode() == 1;
        (all ? m_pall_btn : m_precent_btn)->setChecked(true);
        m_pwindow_row->setVisible(!all);
    }
    {
        const QSignalBlocker blocker(m_prange_group);
        const int mode = m_pchart->get_range_mode();
        if (mode == 2) {
            m_pmanual_btn->setChecked(true);
            double lower = 0.0;
            double upper = 0.0;
            m_pchart->get_range(lower, upper);
            _set_placeholders(lower, upper);
        } else {
            (mode == 1 ? m_pauto_btn : m_pdefault_btn)->setChecked(true);
        }
        m_pmanual_panel->setVisible(mode == 2);
    }
}

void ui_measure_diagram_frame_t::_init_connect() {
    connect(m_ptrend_group, QOverload<QAbstractButton*, bool>::of(&QButtonGroup::buttonToggled), this,
            &ui_measure_diagram_frame_t::_on_trend_button);
    connect(m_prange_group, QOverload<QAbstractButton*, bool>::of(&QButtonGroup::buttonToggled), this,
            &ui_measure_diagram_frame_t::_on_range_button);
    connect(m_pwindow_apply_btn, &QPushButton::clicked, this, &ui_measure_diagram_frame_t::_on_window_apply);
    connect(m_prange_apply_btn, &QPushButton::clicked, this, &ui_measure_diagram_frame_t::_on_range_apply);
}

void ui_measure_diagram_frame_t::_on_trend_button(QAbstractButton* button, bool checked) {
    if (!checked) return;
    if (button == m_precent_btn) {
        m_pchart->set_trend_mode(0);
        m_pwindow_row->show();
    } else if (button == m_pall_btn) {
        m_pchart->set_trend_mode(1);
        m_pwindow_row->hide();
    }
    m_pchart->refresh();
}

void ui_measure_diagram_frame_t::_on_window_apply() {
    if (m_pwindow_edit->text().isEmpty()) return;
    const double factor = m_pwindow_unit->currentData().toInt() == unit_hours ? 3600.0 : 60.0;
    // The settings clamp the width to 60 s .. 24 h.
    m_pchart->set_timebase(factor * edit_number(m_pwindow_edit));
    m_pchart->refresh();
}

void ui_measure_diagram_frame_t::_on_range_button(QAbstractButton* button, bool checked) {
    if (!checked) return;
    if (button == m_pdefault_btn) {
        m_pchart->set_range_mode(0);
        m_pmanual_panel->hide();
    } else if (button == m_pauto_btn) {
        m_pchart->set_range_mode(1);
        m_pmanual_panel->hide();
    } else if (button == m_pmanual_btn) {
        m_pchart->set_range_mode(2);
        double lower = 0.0;
        double upper = 0.0;
        m_pchart->get_range(lower, upper);
        _set_placeholders(lower, upper);
        m_pmanual_panel->show();
    }
    m_pchart->refresh();
}

void ui_measure_diagram_frame_t::_on_range_apply() {
    double lower = 0.0;
    double upper = 0.0;
    m_pchart->get_range(lower, upper);
    if (!m_pmin_edit->text().isEmpty()) lower = edit_number(m_pmin_edit);
    if (!m_pmax_edit->text().isEmpty()) upper = edit_number(m_pmax_edit);
    if (!(lower < upper)) {
        QMessageBox::warning(this, "Wrong", "Unreasonable setting values!", QMessageBox::Ok);
        return;
    }
    m_pchart->set_range(lower, upper);
    _set_placeholders(lower, upper);
    m_pchart->refresh();
}

void ui_measure_diagram_frame_t::_set_placeholders(double lower, double upper) {
    m_pmin_edit->setPlaceholderText(QString::number(lower, 'g', 5));
    m_pmax_edit->setPlaceholderText(QString::number(upper, 'g', 5));
}

void ui_measure_diagram_frame_t::slot_recv_measure_notify_update(plib_acq_notify_t acq_notify_type) {
    if (acq_notify_type == acq_notify_data) m_pchart->refresh();
}

void ui_measure_diagram_frame_t::slot_download_latest_disp_data(plib_measure_data_disp_t data) {
    m_polarity = data.polarity;
    m_value = data.value;
    m_prefix = data.prefix;
    m_unit = data.unit;
    m_pchart->set_latest_display(m_polarity, m_value, m_prefix, m_unit);
}

void ui_measure_diagram_frame_t::slot_func_change_process() {
    m_polarity.clear();
    m_value.clear();
    m_prefix.clear();
    m_unit.clear();
    m_pchart->set_latest_display(m_polarity, m_value, m_prefix, m_unit);
    if (m_pdefault_btn->isChecked()) {
        m_pchart->set_range_mode(0);
    } else {
        m_pdefault_btn->setChecked(true);  // runs the "Default" reaction
    }
    m_pchart->refresh();
}
