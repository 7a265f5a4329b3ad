#include "ui/ui_file_places.h"
#include "ui/ui_primary_window/ui_measure_record_config_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>

#include "cfg/cfg_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_time_edit_widget.h"

const char* const ui_measure_record_config_dialog_t::tips_title = "Tips";
const char* const ui_measure_record_config_dialog_t::logging_in_progress_text =
    "Data logging is in progress, configuration will take effect in the next recording.";
const char* const ui_measure_record_config_dialog_t::no_directory_text =
    "Please select a directory for the data log.";
const char* const ui_measure_record_config_dialog_t::missing_directory_text =
    "The data log directory does not exist or cannot be written:\n%1";

namespace {

QGroupBox* make_group(const QString& title, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    group->setObjectName("record_config_groupbox");
    return group;
}

}  // namespace

ui_measure_record_config_dialog_t::ui_measure_record_config_dialog_t(QWidget* parent, plib_mngr_t* mngr,
                                                                     ui_device_item_t* item)
    : QDialog(parent), m_pmngr(mngr), m_pcfg(mngr != nullptr ? mngr->get_cfg() : nullptr), m_pdev(item) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName("record_config_dialog");
    setWindowTitle("Measurement Configuration");
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setFixedSize(500, 550);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(_build_acq_mode_group());
    layout->addWidget(_build_buffer_mode_group());
    layout->addWidget(_build_auto_stop_group());
    layout->addWidget(_build_data_log_group());
    layout->addStretch();
    layout->addWidget(_build_button_row());
    _load();
}

QGroupBox* ui_measure_record_config_dialog_t::_build_acq_mode_group() {
    QGroupBox* group = make_group("Acquisition Mode", this);
    m_continuous = new QRadioButton("Continuous Acquisition", group);
    m_continuous->setObjectName("record_continuous_radio");
    m_single = new QRadioButton("Single Acquisition", group);
    m_single->setObjectName("record_single_radio");
    auto* grid = new QGridLayout(group);
    grid->addWidget(m_continuous, 0, 0);
    grid->addWidget(m_single, 1, 0);
    return group;
}

QGroupBox* ui_measure_record_config_dialog_t::_build_buffer_mode_group() {
    QGroupBox* group = make_group("Record Buffer Mode", this);
    m_keep_latest = new QRadioButton("Always save the latest data.", group);
    m_keep_latest->setObjectName("record_keep_latest_radio");
    m_stop_when_full = new QRadioButton("Automatic stop when buffer is full.", group);
    m_stop_when_full->setObjectName("record_stop_when_full_radio");
    auto* box = new QVBoxLayout(group);
    box->setSpacing(10);
    box->addWidget(m_keep_latest);
    box->addWidget(m_stop_when_full);
    return group;
}

QGroupBox* ui_measure_record_config_dialog_t::_build_auto_stop_group() {
    QGroupBox* group = make_group("Recording Auto Stop", this);
    m_auto_stop = new QCheckBox("Start auto-stop:", group);
    m_auto_stop->setObjectName("record_auto_stop_check");
    m_after_time = new QRadioButton("After Time:", group);
    m_after_time->setObjectName("record_after_time_radio");
    m_time_edit = new ui_time_edit_widget_t(group, true);
    m_time_edit->setObjectName("record_stop_time_edit");
    m_time_edit->set_maximum(1000, 59, 59);
    m_after_num = new QRadioButton("After Num of Points:", group);
    m_after_num->setObjectName("record_after_num_radio");
    m_num_box = new QSpinBox(group);
    m_num_box->setObjectName("record_stop_num_box");
    m_num_box->setRange(0, INT_MAX);
    m_num_box->setEnabled(false);

    auto* grid = new QGridLayout(group);
    grid->addWidget(m_auto_stop, 0, 0);
    grid->addWidget(m_after_time, 1, 0);
    grid->addWidget(m_time_edit, 1, 1, 1, 2);
    grid->addWidget(m_after_num, 2, 0);
    grid->addWidget(m_num_box, 2, 1, 1, 2);

    connect(m_after_time, &QRadioButton::toggled, m_time_edit, &QWidget::setEnabled);
    connect(m_after_num, &QRadioButton::toggled, m_num_box, &QWidget::setEnabled);
    return group;
}

QGroupBox* ui_measure_record_config_dialog_t::_build_data_log_group() {
    QGroupBox* group = make_group("Data Log:", this);
    m_record_enable = new QCheckBox("Export Data to CSV File", group);
    m_record_enable->setObjectName("record_enable_check");
    auto* directory_label = new QLabel("Directory:", group);
    directory_label->setObjectName("record_path_text");
    m_directory_edit = new QLineEdit(group);
    m_directory_edit->setObjectName("record_path_edit");
    m_directory_edit->setFixedSize(320, 25);
    m_directory_button = new QPushButton("...", group);
    m_directory_button->setObjectName("record_path_button");
    m_directory_button->setFixedHeight(25);
    m_directory_button->setAutoDefault(false);

    auto* grid = new QGridLayout(group);
    grid->addWidget(m_record_enable, 0, 0, 1, 3);
    grid->addWidget(directory_label, 1, 0);
    grid->addWidget(m_directory_edit, 1, 1);
    grid->addWidget(m_directory_button, 1, 2);

    connect(m_record_enable, &QCheckBox::toggled, this,
            &ui_measure_record_config_dialog_t::slot_record_enable_toggled);
    connect(m_directory_button, &QPushButton::clicked, this,
            &ui_measure_record_config_dialog_t::slot_choose_directory);
    return group;
}

QWidget* ui_measure_record_config_dialog_t::_build_button_row() {
    auto* row = new QWidget(this);
    m_ok_button = new QPushButton("OK", row);
    m_ok_button->setObjectName("record_ok_button");
    m_ok_button->setFixedSize(60, 30);
    m_cancel_button = new QPushButton("Cancel", row);
    m_cancel_button->setObjectName("record_cancel_button");
    m_cancel_button->setFixedSize(60, 30);
    m_cancel_button->setAutoDefault(false);
    auto* box = new QHBoxLayout(row);
    box->setSpacing(10);
    box->setContentsMargins(5, 5, 5, 5);
    box->addStretch();
    box->addWidget(m_ok_button);
    box->addWidget(m_cancel_button);
    connect(m_ok_button, &QPushButton::clicked, this, &ui_measure_record_config_dialog_t::slot_ok);
    connect(m_cancel_button, &QPushButton::clicked, this, &QDialog::reject);
    return row;
}

void ui_measure_record_config_dialog_t::_load() {
    if (m_pcfg == nullptr) return;
    m_loading = true;
    (m_pcfg->get_acq_mode() == 0 ? m_continuous : m_single)->setChecked(true);
    (m_pcfg->get_buffer_mode() == 1 ? m_keep_latest : m_stop_when_full)->setChecked(true);
    m_auto_stop->setChecked(m_pcfg->get_auto_enable());
    (m_pcfg->get_auto_stop_mode() != 0 ? m_after_num : m_after_time)->setChecked(true);
    // Only the radio that moved has toggled: set both editors from their radios.
    m_time_edit->setEnabled(m_after_time->isChecked());
    m_num_box->setEnabled(m_after_num->isChecked());
    m_time_edit->set_seconds(m_pcfg->get_stop_time());
    const uint32_t stop_num = m_pcfg->get_stop_num();
    m_num_box->setValue(stop_num > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(stop_num));
    const bool record = m_pcfg->get_record_position() == 1;
    m_record_enable->setChecked(record);
    m_directory_edit->setText(QString::fromLocal8Bit(m_pcfg->get_record_directory().c_str()));
    slot_record_enable_toggled(record);  // the edit and "..." follow the switch even when it did not move
    m_loading = false;
}

bool ui_measure_record_config_dialog_t::_is_running() const {
    return m_pcfg != nullptr && m_pcfg->get_run_state() != 0;
}

void ui_measure_record_config_dialog_t::slot_record_enable_toggled(bool on) {
    m_directory_edit->setEnabled(on);
    m_directory_button->setEnabled(on);
    if (on && !m_loading && _is_running()) {
        QMessageBox::information(this, tips_title, logging_in_progress_text);
    }
}

void ui_measure_record_config_dialog_t::slot_choose_directory() {
    const QString dir =
        ui_file_places::existing_directory(this, ui_file_places::kind_record, "Select Directory");
    if (!dir.isEmpty()) m_directory_edit->setText(QDir::toNativeSeparators(dir));
}

bool ui_measure_record_config_dialog_t::_check_data_log() {
    if (!m_record_enable->isChecked()) return true;
    const QString dir = m_directory_edit->text();
    if (dir.isEmpty()) {
        QMessageBox::information(this, tips_title, no_directory_text);
        return false;
    }
    const QFileInfo info(dir);
    if (!info.isDir() || !info.isWritable()) {
        QMessageBox::information(this, tips_title, QString(missing_directory_text).arg(dir));
        return false;
    }
    return true;
}

void ui_measure_record_config_dialog_t::slot_ok() {
    if (m_pcfg == nullptr) {
        reject();
        return;
    }
    // Checked before any setter, so a refused OK changes nothing.
    if (!_check_data_log()) return;

    if (m_continuous->isChecked()) {
        _set_acq_mode(0);
    } else if (m_single->isChecked()) {
        _set_acq_mode(1);
    }

    if (m_keep_latest->isChecked()) {
        m_pcfg->set_buffer_mode(1);
    } else if (m_stop_when_full->isChecked()) {
        m_pcfg->set_buffer_mode(0);
    }

    if (m_after_time->isChecked()) {
        m_pcfg->set_auto_stop_mode(0);
    } else if (m_after_num->isChecked()) {
        m_pcfg->set_auto_stop_mode(1);
    }
    m_pcfg->set_stop_time(m_time_edit->get_seconds());
    m_pcfg->set_stop_num(m_num_box->cleanText().toUInt());
    m_pcfg->set_auto_enable(m_auto_stop->isChecked());

    if (m_record_enable->isChecked()) {
        m_pcfg->set_record_position(1);
        const QString dir = m_directory_edit->text();
        if (!dir.isEmpty()) m_pcfg->set_record_directory(dir.toLocal8Bit().toStdString());
    } else {
        m_pcfg->set_record_position(0);
    }
    accept();
}

void ui_measure_record_config_dialog_t::_set_acq_mode(int mode) {
    if (m_pdev == nullptr || m_pdev->get_mngr() != m_pmngr) {
        m_pcfg->set_acq_mode(mode);
        return;
    }
    // The item hears the outcome: the dialog is gone before the instrument answers.
    m_pdev->run_setting(m_pdev, [mode](cfg_main_t* cfg) {
        cfg->set_acq_mode(mode);
        return 0;
    });
}
