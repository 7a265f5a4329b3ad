#include "ui/ui_primary_window/ui_measure_frame.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "common/plib_format.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_file_places.h"
#include "ui/ui_primary_window/ui_measure_data_list_dialog.h"
#include "ui/ui_primary_window/ui_measure_format.h"
#include "ui/ui_primary_window/ui_measure_param_widget.h"
#include "ui/ui_primary_window/ui_measure_record_config_dialog.h"
#include "ui/ui_primary_window/ui_measure_run_info_widget.h"

// ---- Display --------------------------------------------------------------------------

namespace {

// The digit field (and the unit): drawn in the style sheet's font, shrunk just enough to
// fit when the page is narrower or lower than the font needs (large scale factors on
// small screens), so no digit is ever cut off; it never asks the layout for more room
// than it is given: its minimum is a third of the font's height.
class ui_fit_digits_label_t : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height() / 3); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QFont f = font();
        const QRect room = contentsRect();
        const QFontMetrics metrics(f);
        const int advance = metrics.horizontalAdvance(text());
        const int tall = metrics.height();
        qreal scale = 1.0;
        if (advance > room.width() && advance > 0) scale = static_cast<qreal>(room.width()) / advance;
        if (tall > room.height() && tall > 0) scale = std::min(scale, static_cast<qreal>(room.height()) / tall);
        if (scale < 1.0) {
            if (f.pixelSize() > 0)
                f.setPixelSize(std::max(1, static_cast<int>(f.pixelSize() * scale)));
            else
                f.setPointSizeF(std::max(1.0, f.pointSizeF() * scale));
        }
        painter.setFont(f);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(room, alignment(), text());
    }
};

}  // namespace

ui_measure_widget_t::ui_measure_widget_t(QWidget* parent) : QFrame(parent) {
    setObjectName("measure_data_widget");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    m_function = new QLabel(QString::fromUtf8("— — — —"), this);
    m_function->setObjectName("measure_data_function");
    m_function->setMinimumWidth(100);
    m_function->setFixedHeight(80);
    m_function->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_range = new QLabel(this);
    m_range->setObjectName("measure_data_param");
    m_range_mode = new QLabel(this);
    m_range_mode->setObjectName("measure_data_param");
    auto* params = new QVBoxLayout;
    params->setContentsMargins(0, 0, 0, 0);
    params->addWidget(m_range);
    params->addWidget(m_range_mode);
    auto* row1 = new QHBoxLayout;
    row1->addWidget(m_function, 0, Qt::AlignTop);
    row1->addStretch();
    row1->addLayout(params);

    m_polarity = new QLabel(this);
    m_polarity->setObjectName("measure_data_polarity");
    m_polarity->setFixedWidth(80);
    m_polarity->setAlignment(Qt::AlignCenter);
    m_digits = new ui_fit_digits_label_t(this);
    m_digits->setObjectName("measure_data");
    m_digits->setAlignment(Qt::AlignCenter);
    auto* row2 = new QHBoxLayout;
    row2->setSpacing(5);
    row2->addStretch();
    row2->addWidget(m_polarity);
    row2->addWidget(m_digits);
    row2->addStretch();

    m_unit = new ui_fit_digits_label_t(this);
    m_unit->setText(QString::fromUtf8("— —"));
    m_unit->setObjectName("measure_data_unit");
    m_unit->setAlignment(Qt::AlignRight | Qt::AlignTop);
    auto* row3 = new QHBoxLayout;
    row3->addWidget(m_unit);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addLayout(row1, 1);
    layout->addLayout(row2, 3);
    layout->addLayout(row3, 1);
    show_placeholder();
}

void ui_measure_widget_t::show_placeholder() {
    show_reading(QString(), QString::fromUtf8(ui_measure_placeholder));
}

void ui_measure_widget_t::show_reading(const QString& sign, const QString& digits) {
    m_has_reading = digits != QString::fromUtf8(ui_measure_placeholder);
    if (m_stale) _show_stale_mode();
    m_polarity->setText(sign);
    m_polarity->setVisible(!sign.isEmpty());
    m_digits->setText(digits);
}

void ui_measure_widget_t::_show_stale_mode() {
    // Said in words only over a reading: the placeholder claims nothing.
    m_range_mode->setText(m_has_reading ? QString("Not connected") : m_range_mode_before_stale);
}

void ui_measure_widget_t::set_range_texts(const QString& range, const QString& mode) {
    m_range->setText(range);
    if (m_stale) {
        m_range_mode_before_stale = mode;
        _show_stale_mode();
    } else {
        m_range_mode->setText(mode);
    }
}

void ui_measure_widget_t::set_unit_text(const QString& text) { m_unit->setText(text); }

void ui_measure_widget_t::set_function_text(const QString& text) { m_function->setText(text); }

void ui_measure_widget_t::set_stale(bool stale) {
    if (stale == m_stale) return;
    m_stale = stale;
    setProperty("stale", stale);
    // Grey, and said in words: the reading is the last one before the link went.
    const QString sheet = stale ? QString("color: #7a7a7a;") : QString();
    for (QLabel* label : {m_polarity, m_digits, m_unit, m_function, m_range}) label->setStyleSheet(sheet);
    m_range_mode->setStyleSheet(sheet);
    if (stale) {
        m_range_mode_before_stale = m_range_mode->text();
        _show_stale_mode();
    } else {
        m_range_mode->setText(m_range_mode_before_stale);
    }
    setToolTip(stale ? QString("Not connected: the reading shown is the last one received.") : QString());
}

// ---- Button row -----------------------------------------------------------------------

ui_measure_btn_widget_t::ui_measure_btn_widget_t(QWidget* parent, plib_mngr_t* mngr, ui_device_item_t* item)
    : QFrame(parent), m_pmngr(mngr), m_pdev(item) {
    setObjectName("config_btns_widget");
    setFixedHeight(100);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(30, 0, 30, 0);
    row->setSpacing(20);
    QPushButton* run = _make_button("Run/Stop", ":/image/run.png", "measure_run_stop_btn");
    QPushButton* setting = _make_button("Setting", ":/image/setting.png", "measure_setting_btn");
    QPushButton* data = _make_button("Data", ":/image/data.png", "measure_data_btn");
    QPushButton* save = _make_button("Save", ":/image/save.png", "measure_save_btn");
    QPushButton* del = _make_button("Delete", ":/image/delete.png", "measure_delete_btn");
    for (QPushButton* b : {run, setting, data, save, del}) row->addWidget(b);
    row->addStretch();
    connect(run, &QPushButton::clicked, this, &ui_measure_btn_widget_t::signal_process_measure_run_stop);
    connect(setting, &QPushButton::clicked, this, &ui_measure_btn_widget_t::slot_record_setting_process);
    connect(data, &QPushButton::clicked, this, &ui_measure_btn_widget_t::slot_data_display_process);
    connect(save, &QPushButton::clicked, this, &ui_measure_btn_widget_t::slot_save_data_process);
    connect(del, &QPushButton::clicked, this, &ui_measure_btn_widget_t::slot_clear_data_process);
}

QPushButton* ui_measure_btn_widget_t::_make_button(const QString& text, const char* icon,
                                                   const char* object_name) {
    auto* button = new QPushButton(QIcon(icon), text, this);
    button->setObjectName(object_name);
    // 130 x 50 where there is room; down to 124 wide so that the page fits a 1600 x 900
    // screen at 150 % beside the device column.
    button->setMinimumSize(124, 50);
    button->setMaximumSize(130, 50);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->resize(130, 50);
    button->setIconSize(QSize(50, 50));
    return button;
}

void ui_measure_btn_widget_t::release_instrument() {
    if (m_data_list) m_data_list->close();
    m_pmngr = nullptr;
    m_pdev = nullptr;
}

void ui_measure_btn_widget_t::slot_record_setting_process() {
    if (m_pmngr == nullptr) return;
    QPointer<ui_measure_record_config_dialog_t> dialog = new ui_measure_record_config_dialog_t(this, m_pmngr, m_pdev);
    dialog->exec();
    delete dialog.data();  // null when it deleted itself on close
}

void ui_measure_btn_widget_t::slot_data_display_process() {
    if (m_pmngr == nullptr) return;
    auto* dialog = new ui_measure_data_list_dialog_t(this, m_pmngr);
    m_data_list = dialog;
    dialog->show();
}

void ui_measure_btn_widget_t::slot_save_data_process() {
    if (m_pmngr == nullptr || m_pmngr->get_cfg() == nullptr) return;
    const QString path = QDir::toNativeSeparators(ui_file_places::save_file_name(
        this, ui_file_places::kind_export, "Save Data", QString(), "csv(*.csv)"));
    if (path.isEmpty() || m_pmngr == nullptr) return;
    // A failed export must not look like a saved file.
    if (m_pmngr->get_cfg()->export_data(path.toLocal8Bit().toStdString()) != 0)
        QMessageBox::warning(this, "Warning", "Failed to save the data to " + path + ".", QMessageBox::Ok);
}

void ui_measure_btn_widget_t::slot_clear_data_process() {
    if (m_pmngr != nullptr && m_pmngr->get_cfg() != nullptr) m_pmngr->get_cfg()->clear_data();
    emit signal_process_clear_data();
}

// ---- Frame ----------------------------------------------------------------------------

ui_measure_frame_t::ui_measure_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("measure_frame");
    m_display = new ui_measure_widget_t(this);
    m_param =
        new ui_measure_param_widget_t(this, m_pcfg, m_pdrv, m_pcfg != nullptr ? m_pcfg->get_run_state() : 0);
    m_buttons = new ui_measure_btn_widget_t(this, m_pmngr, m_pdev);
    m_range_watcher = new QFutureWatcher<int>(this);
    connect(m_range_watcher, &QFutureWatcher<int>::finished, this, &ui_measure_frame_t::_auto_range_answered);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(10);
    // The run strip sits under the display, on its black, as part of the front panel.
    m_run_info = new ui_measure_run_info_widget_t(this);
    auto* panel = new QVBoxLayout;
    panel->setContentsMargins(0, 0, 0, 0);
    panel->setSpacing(0);
    panel->addWidget(m_display);
    panel->addWidget(m_run_info);
    top->addLayout(panel);
    top->addWidget(m_param);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(top);
    layout->addWidget(m_buttons);

    if (m_pcfg != nullptr)
        m_display->set_function_text(
            QString::fromStdString(measure_name(static_cast<plib_measure_type_t>(m_pcfg->get_function()))));

    m_dropped_line_timer = new QTimer(this);
    m_dropped_line_timer->setSingleShot(true);
    connect(m_dropped_line_timer, &QTimer::timeout, this, [this] {
        if (!m_dropped_line_pending) return;
        _emit_dropped_line();
        m_dropped_line_timer->start(m_dropped_line_interval_ms);
    });

    connect(m_buttons, &ui_measure_btn_widget_t::signal_process_measure_run_stop, this,
            &ui_measure_frame_t::slot_process_measure_run_stop);
    connect(m_buttons, &ui_measure_btn_widget_t::signal_process_clear_data, this,
            &ui_measure_frame_t::slot_process_clear_data);
    m_param->set_device_item(m_pdev);
    connect(m_param, &ui_measure_param_widget_t::signal_setting_refused, this,
            &ui_measure_frame_t::_tell_setting_refused);
    if (m_pdev != nullptr)
        connect(m_pdev, &ui_device_item_t::signal_connection_changed, this,
                [this](bool connected) { m_display->set_stale(!connected); });
    connect(m_param, &ui_measure_param_widget_t::signal_change_func, this,
            [this] { _update_func_and_unit(false); });
    connect(m_param, &ui_measure_param_widget_t::signal_change_func, this,
            &ui_measure_frame_t::signal_update_diagram_func);
    connect(m_param, &ui_measure_param_widget_t::signal_change_unit, this,
            &ui_measure_frame_t::slot_update_func_and_unit);
    if (m_pdev != nullptr) m_display->set_stale(!m_pdev->is_connected());
}

void ui_measure_frame_t::release_instrument() {
    m_dropped_line_timer->stop();
    m_dropped_line_pending = false;
    m_buttons->release_instrument();
    m_pdev = nullptr;
    m_pmngr = nullptr;
    m_pdrv = nullptr;
    m_pacq = nullptr;
    m_pscan = nullptr;
    m_pcfg = nullptr;
}

void ui_measure_frame_t::slot_recv_measure_notify_update(plib_acq_notify_t acq_notify_type) {
    if (m_pcfg == nullptr) return;
    switch (acq_notify_type) {
        case acq_notify_start:
            m_write_failure_told = false;
            m_param->set_status(1);
            _show_placeholders();
            m_run_info->set_note(QString());
            _show_run_info();
            if (m_pdev != nullptr) m_pdev->slot_update_ui();
            break;
        case acq_notify_data:
            _show_latest_reading();
            _show_run_info();
            break;
        case acq_notify_buffer_full:
            QMessageBox::information(this, "Notice", "Data buffer is full. Stop data collection now.",
                                     QMessageBox::Ok);
            break;
        case acq_notify_stop:
            m_param->set_status(0);
            _show_run_info();
            _tell_run_stopped();
            break;
        case acq_notify_record_write_failed:
            _tell_record_write_failed();
            break;
        case acq_notify_pieces_dropped:
            _tell_pieces_dropped();
            break;
    }
}

void ui_measure_frame_t::_show_run_info() {
    if (m_pcfg == nullptr) return;
    const auto function = static_cast<plib_measure_type_t>(m_pcfg->get_function());
    m_run_info->show_info(
        m_pcfg->get_run_state_info(), m_pcfg->get_run_state() == 1,
        ui_measure_unit_text(function, false, m_pcfg->get_temp_display(), m_pcfg->get_temp_unit()));
}

QString ui_measure_frame_t::stop_text(const plib_record_run_state_info_t& info, double stop_time_s,
                                      uint32_t stop_num) {
    QString text;
    switch (info.stop_cause) {
        case acq_stop_by_time:
            text = "Stopped automatically after " + QString::number(stop_time_s, 'g', 10) + " s (" +
                   QString::number(info.total_count) + " readings).";
            break;
        case acq_stop_by_count:
            text = "Stopped automatically after " + QString::number(stop_num) + " readings.";
            break;
        case acq_stop_buffer_full:
            text = "Stopped: the data buffer was full (" + QString::number(info.total_count) + " readings).";
            break;
        default:
            break;
    }
    if (!info.record_path.empty()) {
        if (!text.isEmpty()) text += " ";
        text += "Record file: " + QDir::toNativeSeparators(QString::fromStdString(info.record_path));
    }
    return text;
}

void ui_measure_frame_t::_tell_run_stopped() {
    if (m_pcfg == nullptr) return;
    const plib_record_run_state_info_t info = m_pcfg->get_run_state_info();
    const QString text = stop_text(info, m_pcfg->get_stop_time(), m_pcfg->get_stop_num());
    m_run_info->set_note(text);
    if (!text.isEmpty() && info.stop_cause != acq_stop_requested)
        emit signal_console_line("Measure: " + text);
}

void ui_measure_frame_t::_tell_pieces_dropped() {
    // A hostile or broken instrument may do this every tick: one line, then at most one
    // per interval, so the console stays readable and nothing is lost from the count.
    m_dropped_line_pending = true;
    if (m_dropped_line_timer->isActive()) return;
    _emit_dropped_line();
    m_dropped_line_timer->start(m_dropped_line_interval_ms);
}

void ui_measure_frame_t::_emit_dropped_line() {
    if (!m_dropped_line_pending || m_pcfg == nullptr) return;
    m_dropped_line_pending = false;
    const uint64_t count = m_pcfg->get_run_state_info().dropped_count;
    emit signal_console_line(
        QString("Measure: the instrument's replies held pieces that are not numbers; they "
                "were dropped, not logged as readings (%1 this run).")
            .arg(count));
}

void ui_measure_frame_t::_tell_record_write_failed() {
    if (m_write_failure_told) return;
    m_write_failure_told = true;  // before the box: its event loop may deliver another one
    const QString dir = QString::fromStdString(m_pcfg->get_record_directory());
    QMessageBox::warning(this, "Warning",
                         "Writing to the record file failed, so logging to the file has stopped.\n"
                         "Check that the record directory exists, is writable and its disk has space: " +
                             QDir::toNativeSeparators(dir) +
                             "\nMeasuring goes on and the readings stay in the data buffer (Save exports "
                             "them).",
                         QMessageBox::Ok);
}

void ui_measure_frame_t::_show_placeholders() {
    m_latest_value = std::numeric_limits<double>::quiet_NaN();
    m_display->show_placeholder();
    m_display->clear_range_texts();
}

void ui_measure_frame_t::_show_latest_reading() {
    if (m_pacq == nullptr || m_pcfg == nullptr) return;
    plib_data_t latest;
    if (m_pacq->m_acq_latest_msg.fetch(latest) != 0) return;
    const double v = latest.value;
    if (std::isnan(v) || std::isinf(v) || is_equal(v, plib_no_reading_value)) {
        m_latest_value = std::numeric_limits<double>::quiet_NaN();
        m_display->show_placeholder();
        return;
    }
    const int function = m_pcfg->get_function();
    m_latest_value = v;
    _update_range_texts(function);
    _display_value(v, function);
}

void ui_measure_frame_t::_update_range_texts(int function) {
    if (function == measure_temp) {
        m_display->clear_range_texts();
        return;
    }
    std::string range;
    QString mode;
    if (m_pcfg->get_auto_range(function) != 0) {
        // The range the instrument chose last time it was asked; the question for the
        // current one runs in the background and updates the texts when answered.
        range = m_pcfg->get_range(function);
        mode = "Auto";
        _ask_auto_range(function);
    } else {
        range = m_pcfg->get_range(function);
        mode = "Manual";
    }
    if (range.empty()) {
        m_display->clear_range_texts();
        return;
    }
    m_display->set_range_texts(QString::fromStdString(range), mode);
}

void ui_measure_frame_t::_ask_auto_range(int function) {
    if (m_pdev == nullptr || m_range_watcher->isRunning()) return;
    auto answer = std::make_shared<std::string>();
    m_range_answer = answer;
    m_range_function = function;
    m_range_watcher->setFuture(m_pdev->run_io([answer, function](cfg_main_t* cfg) {
        *answer = cfg->query_range(function);
        return 0;
    }));
}

void ui_measure_frame_t::_auto_range_answered() {
    if (m_pcfg == nullptr || m_range_answer == nullptr || m_range_answer->empty()) return;
    const int function = m_range_function;
    // Still what the page shows: the same function, still in auto range.
    if (function != m_pcfg->get_function() || m_pcfg->get_auto_range(function) == 0) return;
    if (*m_range_answer == m_pcfg->get_range(function)) return;
    m_pcfg->store_read_range(function, *m_range_answer);
    // A page cleared (or showing no reading) since the question keeps its placeholders.
    if (std::isnan(m_latest_value)) return;
    m_display->set_range_texts(QString::fromStdString(*m_range_answer), "Auto");
    // The digits follow the range: the reading shown is placed again.
    _display_value(m_latest_value, function);
}

void ui_measure_frame_t::_display_value(double value, int function) {
    ui_measure_format_input_t in;
    in.function = static_cast<plib_measure_type_t>(function);
    in.range = m_pcfg->get_range(function);
    in.temp_display = m_pcfg->get_temp_display();
    in.temp_unit = m_pcfg->get_temp_unit();
    const ui_measure_reading_text_t text = ui_format_measure_reading(value, in);
    m_display->show_reading(text.polarity, text.digits);
    m_display->set_unit_text(text.prefix + text.unit);
    m_last = {text.polarity, text.digits, text.prefix, text.unit};
    emit signal_upload_latest_disp_data(m_last);
}

void ui_measure_frame_t::_set_run_state(int state) {
    if (m_pdev == nullptr) {
        m_pcfg->set_run_state(state);
        return;
    }
    // Starting sends the trigger settings and waits for the instrument: on its lane,
    // behind the setting changes made before. One press at a time.
    m_run_pending = true;
    m_pdev->run_setting(
        this,
        [state](cfg_main_t* cfg) {
            cfg->set_run_state(state);
            return 0;
        },
        [this](int) { m_run_pending = false; });
}

void ui_measure_frame_t::slot_process_measure_run_stop() {
    if (m_pcfg == nullptr || m_run_pending) return;
    if (m_pcfg->get_run_state() != 0) {
        _set_run_state(0);
        return;
    }
    if (m_pdev == nullptr || !m_pdev->is_connected()) {
        QMessageBox::information(this, "Warning", "It's not connected to the device yet.", QMessageBox::Ok);
        return;
    }
    if (m_pcfg->get_scan_run_state() != 0) {
        QMessageBox::warning(this, "Warning", "Scanning mode is in use, disable on measurement!",
                             QMessageBox::Ok);
        return;
    }
    _set_run_state(1);
}

void ui_measure_frame_t::slot_process_clear_data() {
    _show_placeholders();
    _show_run_info();
}

void ui_measure_frame_t::_tell_setting_refused(int status) {
    const QString why = ui_device_item_t::visa_status_words(status);
    emit signal_console_line("Measure: the instrument did not take a setting (" + why +
                             "); the previous value is back.");
    QMessageBox::warning(this, "Warning",
                         "The instrument did not take the change, so the previous value is back.\n" + why,
                         QMessageBox::Ok);
}

void ui_measure_frame_t::slot_update_func_and_unit() { _update_func_and_unit(true); }

void ui_measure_frame_t::_update_func_and_unit(bool restart) {
    if (m_pcfg == nullptr) return;
    // A function change restarts in its own job; a unit change restarts here, on the lane
    // behind the change itself.
    if (restart && m_pcfg->get_run_state() != 0) {
        if (m_pdev != nullptr) {
            m_pdev->run_setting(this, [](cfg_main_t* cfg) {
                cfg->restart();
                return 0;
            });
        } else {
            m_pcfg->restart();
        }
    }
    _show_placeholders();
    const auto function = static_cast<plib_measure_type_t>(m_pcfg->get_function());
    m_display->set_function_text(QString::fromStdString(measure_name(function)));
    m_display->set_unit_text(
        ui_measure_unit_text(function, false, m_pcfg->get_temp_display(), m_pcfg->get_temp_unit()));
}
