#include "ui/ui_file_places.h"
#include "ui/ui_primary_window/ui_scan_param_setting_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "ui/ui_add_device_dialog.h"
#include "ui/ui_time_edit_widget.h"

const char* const ui_scan_param_setting_dialog_t::warning_title = "Warning";
const char* const ui_scan_param_setting_dialog_t::invalid_start_text = "Invalid start time!";
const char* const ui_scan_param_setting_dialog_t::invalid_stop_text = "Invalid stop time!";

namespace {

const char* const time_format = "yyyy/M/d hh:mm:ss";
constexpr int duration_max_hours = 1000;

QDateTimeEdit* make_time_edit(QWidget* parent, const char* name) {
    auto* edit = new QDateTimeEdit(parent);
    edit->setObjectName(name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(time_format);
    edit->setFixedWidth(200);
    edit->setEnabled(false);
    return edit;
}

QRadioButton* add_radio(QButtonGroup* group, QWidget* parent, const QString& text, int id, const char* name) {
    auto* radio = new QRadioButton(text, parent);
    radio->setObjectName(name);
    group->addButton(radio, id);
    return radio;
}

void check_id(QButtonGroup* group, int id) {
    if (QAbstractButton* button = group->button(id)) button->setChecked(true);
}

// Microseconds since the epoch from an editor's local date and time.
uint64_t to_timestamp_us(const QDateTime& t) { return static_cast<uint64_t>(t.toMSecsSinceEpoch()) * 1000u; }

QDateTime from_timestamp_us(uint64_t t_us) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(t_us / 1000u));
}

QString ask_directory(QWidget* parent) {
    const QString dir =
        ui_file_places::existing_directory(parent, ui_file_places::kind_record, "Select Directory");
    return QDir::toNativeSeparators(dir);
}

}  // namespace

// ---- Configuration tab ----------------------------------------------------------------

ui_scan_param_setting_config_tab_t::ui_scan_param_setting_config_tab_t(QWidget* parent,
                                                                       cfg_scan_config_t* config)
    : QWidget(parent), m_config(config) {
    auto* start_box = new QGroupBox("Start Mode", this);
    start_box->setObjectName("scan_data_param_box");
    auto* start_grid = new QGridLayout(start_box);
    m_start_group = new QButtonGroup(this);
    m_start_group->setObjectName("scan_start_mode_group");
    start_grid->addWidget(add_radio(m_start_group, start_box, "Start Immediately.", start_immediately,
                                    "scan_start_immediately"),
                          0, 0);
    QRadioButton* after =
        add_radio(m_start_group, start_box, "Start After Time:", start_after_time, "scan_start_after_time");
    start_grid->addWidget(after, 1, 0);
    m_start_time = make_time_edit(start_box, "scan_start_time_edit");
    start_grid->addWidget(m_start_time, 1, 1);
    connect(after, &QRadioButton::toggled, m_start_time, &QWidget::setEnabled);

    auto* stop_box = new QGroupBox("Stop Mode", this);
    stop_box->setObjectName("scan_data_param_box");
    auto* stop_grid = new QGridLayout(stop_box);
    m_stop_group = new QButtonGroup(this);
    m_stop_group->setObjectName("scan_stop_mode_group");
    stop_grid->addWidget(
        add_radio(m_stop_group, stop_box, "Stop Manually.", stop_manually, "scan_stop_manually"), 0, 0);
    QRadioButton* at = add_radio(m_stop_group, stop_box, "Stop At:", stop_at, "scan_stop_at");
    QRadioButton* after_time =
        add_radio(m_stop_group, stop_box, "Stop after Time:", stop_after_time, "scan_stop_after_time");
    QRadioButton* after_scans =
        add_radio(m_stop_group, stop_box, "Stop after Scans:", stop_after_scans, "scan_stop_after_scans");
    m_stop_time = make_time_edit(stop_box, "scan_stop_time_edit");
    m_stop_duration = new ui_time_edit_widget_t(stop_box, false);
    m_stop_duration->setObjectName("scan_stop_duration_edit");
    m_stop_duration->set_maximum(duration_max_hours, 59, 59);
    m_stop_duration->setFixedWidth(200);
    m_stop_duration->setEnabled(false);
    m_stop_scans = new QSpinBox(stop_box);
    m_stop_scans->setObjectName("scan_stop_scans_box");
    m_stop_scans->setRange(1, m_config != nullptr ? m_config->get_max_count() : 999);
    m_stop_scans->setFixedWidth(200);
    m_stop_scans->setEnabled(false);
    stop_grid->addWidget(at, 1, 0);
    stop_grid->addWidget(m_stop_time, 1, 1);
    stop_grid->addWidget(after_time, 2, 0);
    stop_grid->addWidget(m_stop_duration, 2, 1);
    stop_grid->addWidget(after_scans, 3, 0);
    stop_grid->addWidget(m_stop_scans, 3, 1);
    connect(at, &QRadioButton::toggled, m_stop_time, &QWidget::setEnabled);
    connect(after_time, &QRadioButton::toggled, m_stop_duration, &QWidget::setEnabled);
    connect(after_scans, &QRadioButton::toggled, m_stop_scans, &QWidget::setEnabled);

    auto* mode_box = new QGroupBox("Scan mode", this);
    mode_box->setObjectName("scan_data_param_box");
    auto* mode_grid = new QGridLayout(mode_box);
    m_scan_mode_group = new QButtonGroup(this);
    m_scan_mode_group->setObjectName("scan_mode_group");
    mode_grid->addWidget(new QLabel("Scan Mode:", mode_box), 0, 0);
    mode_grid->addWidget(add_radio(m_scan_mode_group, mode_box, "Scan", 0, "scan_mode_scan"), 0, 1);
    mode_grid->addWidget(add_radio(m_scan_mode_group, mode_box, "Step", 1, "scan_mode_step"), 0, 2);
    mode_grid->addWidget(new QLabel("Scan Delay:", mode_box), 1, 0);
    m_scan_delay = new QDoubleSpinBox(mode_box);
    m_scan_delay->setObjectName("scan_delay_box");
    m_scan_delay->setRange(0.0, m_config != nullptr ? m_config->get_max_delay() : 999.0);
    mode_grid->addWidget(m_scan_delay, 1, 1, 1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->setContentsMargins(20, 5, 20, 5);
    layout->addWidget(start_box);
    layout->addWidget(stop_box);
    layout->addWidget(mode_box);
    layout->addStretch();
}

void ui_scan_param_setting_config_tab_t::load() {
    if (m_config == nullptr) return;
    const QDateTime now = QDateTime::currentDateTime();
    check_id(m_start_group, m_config->get_start_mode());
    m_start_time->setDateTime(
        m_config->get_start_mode() != 0 ? from_timestamp_us(m_config->get_start_timestamp()) : now);
    check_id(m_stop_group, m_config->get_stop_mode());
    m_stop_time->setDateTime(
        m_config->get_stop_mode() == stop_at ? from_timestamp_us(m_config->get_stop_timestamp()) : now);
    const double duration = m_config->get_stop_duration();
    m_stop_duration->set_seconds(std::isfinite(duration) && duration > 0 ? std::trunc(duration) : 0.0);
    m_stop_scans->setValue(m_config->get_stop_scan_count());
    check_id(m_scan_mode_group, m_config->get_scan_mode());
    m_scan_delay->setValue(m_config->get_scan_delay());
}

bool ui_scan_param_setting_config_tab_t::_apply_start() {
    const int mode = m_start_group->checkedId();
    m_config->set_start_mode(mode);
    if (mode != start_after_time) return true;
    if (m_start_time->dateTime() > QDateTime::currentDateTime()) {
        m_config->set_start_timestamp(to_timestamp_us(m_start_time->dateTime()));
        return true;
    }
    QMessageBox::information(this, ui_scan_param_setting_dialog_t::warning_title,
                             ui_scan_param_setting_dialog_t::invalid_start_text);
    return false;
}

// The instrument sweeps without end unless the run stops after a number of sweeps: then
// it performs exactly that many.
bool ui_scan_param_setting_config_tab_t::_apply_stop() {
    const int mode = m_stop_group->checkedId();
    m_config->set_stop_mode(mode);
    bool ok = true;
    int auto_count = 1;
    switch (mode) {
        case stop_after_time:
            m_config->set_stop_duration(m_stop_duration->get_seconds());
            break;
        case stop_after_scans:
            m_config->set_stop_scan_count(m_stop_scans->value());
            auto_count = 0;
            break;
        case stop_at:
            if (m_stop_time->dateTime() > QDateTime::currentDateTime()) {
                m_config->set_stop_timestamp(to_timestamp_us(m_stop_time->dateTime()));
            } else {
                QMessageBox::information(this, ui_scan_param_setting_dialog_t::warning_title,
                                         ui_scan_param_setting_dialog_t::invalid_stop_text);
                ok = false;
            }
            break;
        default:
            break;
    }
    m_config->set_auto_count(auto_count);
    return ok;
}

void ui_scan_param_setting_config_tab_t::_apply_scan_mode() {
    m_config->set_scan_mode(m_scan_mode_group->checkedId());
    m_config->set_scan_delay(m_scan_delay->value());
}

bool ui_scan_param_setting_config_tab_t::apply() {
    if (m_config == nullptr) return false;
    const bool start_ok = _apply_start();
    const bool stop_ok = _apply_stop();
    _apply_scan_mode();
    return start_ok && stop_ok;
}

// ---- Data Logging tab -----------------------------------------------------------------

ui_scan_param_setting_datalog_tab_t::ui_scan_param_setting_datalog_tab_t(QWidget* parent,
                                                                         cfg_scan_config_t* config)
    : QWidget(parent), m_config(config) {
    m_save_data = new QCheckBox("Save Data to File", this);
    m_save_data->setObjectName("scan_save_data_box");

    m_panel = new QWidget(this);
    m_panel->setObjectName("scan_record_panel");
    m_panel->setEnabled(false);
    auto* path_label = new QLabel("Directory:", m_panel);
    path_label->setObjectName("record_path_text");
    m_directory = new QLineEdit(m_panel);
    m_directory->setObjectName("scan_record_path_edit");
    m_directory->setFixedSize(320, 25);
    auto* browse = new QPushButton("...", m_panel);
    browse->setObjectName("record_path_button");
    ui_fit_button(browse, 35, 25);
    auto* path_row = new QHBoxLayout();
    path_row->addWidget(path_label);
    path_row->addStretch();
    path_row->addWidget(m_directory);
    path_row->addWidget(browse);
    m_file_mode_group = new QButtonGroup(this);
    m_file_mode_group->setObjectName("scan_file_mode_group");
    auto* mode_row = new QHBoxLayout();
    mode_row->setSpacing(20);
    mode_row->addStretch();
    mode_row->addWidget(add_radio(m_file_mode_group, m_panel, "Single File", 0, "scan_single_file"));
    mode_row->addWidget(
        add_radio(m_file_mode_group, m_panel, "File for per channel", 1, "scan_file_per_channel"));
    mode_row->addStretch();
    auto* panel_layout = new QVBoxLayout(m_panel);
    panel_layout->setContentsMargins(0, 0, 0, 0);
    panel_layout->setSpacing(5);
    panel_layout->addLayout(path_row);
    panel_layout->addLayout(mode_row);

    auto* export_row = new QHBoxLayout();
    export_row->addWidget(new QLabel("Export Data to Multi-Files:", this));
    export_row->addSpacing(30);
    auto* export_btn = new QPushButton("Select Directory", this);
    export_btn->setObjectName("scan_export_button");
    ui_fit_button(export_btn, 150, 40);
    export_row->addWidget(export_btn);
    export_row->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_save_data);
    layout->addWidget(m_panel);
    layout->addLayout(export_row);
    layout->addStretch();

    connect(m_save_data, &QCheckBox::toggled, m_panel, &QWidget::setEnabled);
    connect(browse, &QPushButton::clicked, this, &ui_scan_param_setting_datalog_tab_t::slot_open_file_dialog);
    connect(export_btn, &QPushButton::clicked, this,
            &ui_scan_param_setting_datalog_tab_t::slot_open_export_data_dialog);
}

void ui_scan_param_setting_datalog_tab_t::load() {
    if (m_config == nullptr) return;
    m_save_data->setChecked(m_config->get_record_enable() != 0);
    m_panel->setEnabled(m_save_data->isChecked());
    const std::string& dir = m_config->get_record_directory();
    if (!dir.empty()) m_directory->setText(QString::fromLocal8Bit(dir.data(), static_cast<int>(dir.size())));
    check_id(m_file_mode_group, m_config->get_file_mode());
}

bool ui_scan_param_setting_datalog_tab_t::apply() {
    if (m_config == nullptr) return false;
    m_config->set_record_enable(m_save_data->isChecked() ? 1 : 0);
    if (!m_directory->text().isEmpty())
        m_config->set_record_directory(m_directory->text().toLocal8Bit().toStdString());
    m_config->set_file_mode(m_file_mode_group->checkedId());
    return true;
}

void ui_scan_param_setting_datalog_tab_t::slot_open_file_dialog() {
    const QString dir = ask_directory(this);
    if (!dir.isEmpty()) m_directory->setText(dir);
}

void ui_scan_param_setting_datalog_tab_t::slot_open_export_data_dialog() {
    const QString dir = ask_directory(this);
    if (m_config != nullptr) m_config->export_data(dir.toLocal8Bit().toStdString());
}

// ---- Dialog ---------------------------------------------------------------------------

ui_scan_param_setting_dialog_t::ui_scan_param_setting_dialog_t(QWidget* parent, cfg_main_t* cfg)
    : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName("scan_param_setting_dialog");
    setWindowTitle("Scan Parameter Settings");
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);

    cfg_scan_config_t* config = cfg != nullptr ? cfg->get_scan_config() : nullptr;
    m_tabs = new QTabWidget(this);
    m_config_tab = new ui_scan_param_setting_config_tab_t(m_tabs, config);
    m_datalog_tab = new ui_scan_param_setting_datalog_tab_t(m_tabs, config);
    m_tabs->addTab(m_config_tab, "Configuration");
    m_tabs->addTab(m_datalog_tab, "Data Logging");

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("scan_setting_ok_button");
    ui_fit_button(ok, 70, 40);
    auto* cancel = new QPushButton("Cancle", this);
    cancel->setObjectName("scan_setting_cancel_button");
    ui_fit_button(cancel, 70, 40);
    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(10, 10, 10, 10);
    buttons->setSpacing(30);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &ui_scan_param_setting_dialog_t::slot_ok);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_config_tab->load();
    m_datalog_tab->load();
    ui_fit_fixed_size(this, QSize(600, 500));  // at least 600 x 500, larger where the fonts need it
}

void ui_scan_param_setting_dialog_t::slot_ok() {
    if (!m_config_tab->apply()) return;
    if (!m_datalog_tab->apply()) return;
    accept();
}
