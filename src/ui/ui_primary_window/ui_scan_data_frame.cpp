#include "ui/ui_primary_window/ui_scan_data_frame.h"

#include <QCursor>
#include <QDir>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedLayout>
#include <cmath>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "scan/scan_main.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_primary_window/ui_scan_channel_result_widget.h"
#include "ui/ui_primary_window/ui_scan_data_param_widget.h"
#include "ui/ui_switch_button.h"

const char* const ui_scan_data_frame_t::measuring_text = "Measurement is running, disable on scanning!";
const char* const ui_scan_data_frame_t::no_card_text =
    "Failed to query that the device has a scan card installed!";
const char* const ui_scan_data_frame_t::no_channel_text = "Please activate at least one channel.";

namespace {

// Outcomes of the start job.
constexpr int start_refused_no_card = 1;
constexpr int start_refused_no_channel = 2;
constexpr int start_requested = 0;

// Notifications kept while a job runs; older data notifications give way (the next one
// shows the same, newer, state).
constexpr std::size_t deferred_limit = 64;

}  // namespace

ui_scan_data_frame_t::ui_scan_data_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("scan_data_frame");
    cfg_scan_config_t* config = m_pcfg != nullptr ? m_pcfg->get_scan_config() : nullptr;
    const int channels = m_pscan != nullptr ? m_pscan->channel_count() : 16;

    m_param = new ui_scan_data_param_widget_t(this, m_pcfg);
    m_config_table = new ui_scan_channel_config_widget_t(this, config, channels);
    m_result_table = new ui_scan_channel_result_widget_t(this, channels);
    m_tables = new QStackedLayout();
    m_tables->setContentsMargins(0, 0, 0, 0);
    m_tables->addWidget(m_config_table);
    m_tables->addWidget(m_result_table);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    layout->addWidget(m_param);
    layout->addLayout(m_tables, 1);

    connect(m_param, &ui_scan_data_param_widget_t::signal_start_btn_switch, this,
            &ui_scan_data_frame_t::slot_process_scan_run_stop);
    connect(m_param, &ui_scan_data_param_widget_t::signal_change_config_and_result_widget, this,
            &ui_scan_data_frame_t::slot_change_config_and_result_widget);
    connect(m_config_table, &ui_scan_channel_config_widget_t::signal_name_change, m_result_table,
            &ui_scan_channel_result_widget_t::slot_name_change);
    m_config_table->publish_names();

    if (m_pdev != nullptr) {
        // Direct: the manager is given back right after this signal.
        connect(m_pdev, &ui_device_item_t::signal_releasing_instrument, this,
                &ui_scan_data_frame_t::release_instrument, Qt::DirectConnection);
    }
}

ui_scan_data_frame_t::~ui_scan_data_frame_t() {
    // No caller may be left waiting on an engine, and no outcome may reach a deleted page.
    if (m_io_thread.joinable()) m_io_thread.join();
}

void ui_scan_data_frame_t::release_instrument() {
    if (m_io_thread.joinable()) m_io_thread.join();
    m_jobs.clear();
    m_current_done = nullptr;
    m_deferred.clear();
    m_param->release_instrument();
    m_pdev = nullptr;
    m_pmngr = nullptr;
    m_pdrv = nullptr;
    m_pacq = nullptr;
    m_pscan = nullptr;
    m_pcfg = nullptr;
    _set_busy(false);
}

QString ui_scan_data_frame_t::elapsed_text(double seconds) {
    // Whole hundredths first, so 59.999 s reads 00:01:00.00 and never 00:00:60.00.
    const double clamped = std::isfinite(seconds) && seconds > 0 ? std::min(seconds, 3.6e11) : 0.0;
    const long long hundredths = std::llround(clamped * 100.0);
    const long long hours = hundredths / 360000;
    const long long minutes = (hundredths / 6000) % 60;
    const double rest = static_cast<double>(hundredths % 6000) / 100.0;
    return QString("%1:%2:%3")
        .arg(hours, 2, 10, QChar('0'))
        .arg(minutes, 2, 10, QChar('0'))
        .arg(rest, 5, 'f', 2, QChar('0'));
}

QString ui_scan_data_frame_t::cycles_text(uint32_t readings, int sweep_readings) {
    if (sweep_readings <= 0) return QString();
    const uint64_t sweep = static_cast<uint64_t>(sweep_readings);
    return QString::number((static_cast<uint64_t>(readings) + sweep - 1) / sweep);
}

void ui_scan_data_frame_t::slot_change_config_and_result_widget(ui_scan_config_result_widget_index_t index) {
    m_tables->setCurrentIndex(index == ui_scan_result_widget_index ? 1 : 0);
}

// ---- Start and stop -------------------------------------------------------------------

void ui_scan_data_frame_t::slot_process_scan_run_stop(bool checked) {
    if (m_pcfg == nullptr || m_busy) return;
    if (!checked) {
        cfg_main_t* cfg = m_pcfg;
        _queue_job({[cfg] {
                        cfg->set_scan_run_state(0);
                        return 0;
                    },
                    nullptr});
        return;
    }
    _start_scan();
}

void ui_scan_data_frame_t::_refuse_start(const QString& title, const QString& text, bool information) {
    m_param->switch_off_silently();
    if (information) {
        QMessageBox::information(this, title, text);
    } else {
        QMessageBox::warning(this, title, text);
    }
}

void ui_scan_data_frame_t::_start_scan() {
    cfg_main_t* cfg = m_pcfg;
    cfg_scan_config_t* config = cfg->get_scan_config();
    if (config == nullptr) return;
    if (cfg->get_run_state() != 0) {
        _queue_job({[config] { return config->set_scan_enable(0); },
                    [this](int) { _refuse_start("Warning", measuring_text, false); }});
        return;
    }
    // The rows are read here; the job gets copies.
    const plib_scanner_channel_map_t params = m_config_table->read_channel_params();
    int first = 0;
    int last = 0;
    const bool any = m_config_table->scanned_channel_span(first, last);
    _queue_job({[cfg, config, params, any, first, last] {
                    int state = 0;
                    if (config->query_scan_card(state) != 0 || state == 0) {
                        config->set_scan_enable(0);
                        return start_refused_no_card;
                    }
                    config->set_channel_params(params);
                    if (!any) {
                        config->set_scan_enable(0);
                        return start_refused_no_channel;
                    }
                    config->set_limit_channels(first, last);
                    config->apply_scan_config();
                    cfg->set_scan_run_state(1);
                    return start_requested;
                },
                [this](int outcome) {
                    if (outcome == start_refused_no_card) _refuse_start("Warning", no_card_text, false);
                    if (outcome == start_refused_no_channel) _refuse_start("Tips", no_channel_text, true);
                }});
}

// ---- Jobs -----------------------------------------------------------------------------

void ui_scan_data_frame_t::_queue_job(job_t job) {
    m_jobs.push_back(std::move(job));
    _set_busy(true);
    if (!m_io_thread.joinable()) _run_next_job();
}

void ui_scan_data_frame_t::_run_next_job() {
    if (m_jobs.empty()) return;
    job_t job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_current_done = std::move(job.done);
    m_io_thread = std::thread([this, work = std::move(job.work)] {
        const int result = work();
        // Queued to the GUI thread; dropped if this page is being destroyed (it joins us first).
        QMetaObject::invokeMethod(
            this, [this, result] { _finish_job(result); }, Qt::QueuedConnection);
    });
}

void ui_scan_data_frame_t::_finish_job(int result) {
    if (m_io_thread.joinable()) m_io_thread.join();  // it posted this call as its last act
    std::function<void(int)> done = std::move(m_current_done);
    m_current_done = nullptr;
    if (!m_jobs.empty()) {
        _run_next_job();
    } else {
        _set_busy(false);
    }
    if (done) done(result);
    // Notifications that waited for the job, in their order; one may queue a job again.
    for (std::size_t n = m_deferred.size(); n > 0 && !m_busy && !m_deferred.empty(); --n) {
        const plib_scan_notify_t type = m_deferred.front();
        m_deferred.pop_front();
        _handle_notify(type);
    }
    if (!m_busy) emit signal_io_finished();
}

void ui_scan_data_frame_t::_set_busy(bool busy) {
    m_busy = busy;
    m_param->start_switch()->setEnabled(!busy);
    m_param->setting_button()->setEnabled(!busy);
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

// ---- Notifications --------------------------------------------------------------------

void ui_scan_data_frame_t::slot_recv_measure_notify_update(plib_scan_notify_t scan_notify_type) {
    if (m_pcfg == nullptr) return;
    if (m_busy) {
        if (m_deferred.size() >= deferred_limit) {
            for (auto it = m_deferred.begin(); it != m_deferred.end(); ++it) {
                if (*it == scan_notify_data || *it == scan_notify_wait) {
                    m_deferred.erase(it);
                    break;
                }
            }
        }
        if (m_deferred.size() < deferred_limit) m_deferred.push_back(scan_notify_type);
        return;
    }
    _handle_notify(scan_notify_type);
}

void ui_scan_data_frame_t::_handle_notify(plib_scan_notify_t type) {
    if (m_pcfg == nullptr) return;
    switch (type) {
        case scan_notify_start:
            if (m_pdev != nullptr) m_pdev->slot_update_ui();
            m_param->set_status("SCANING");
            m_param->show_table_button(ui_scan_result_widget_index);
            slot_change_config_and_result_widget(ui_scan_result_widget_index);
            m_result_table->clear_results();
            m_write_failure_told = false;
            break;
        case scan_notify_record_write_failed:
            _tell_record_write_failed();
            break;
        case scan_notify_data:
            _show_data();
            _show_run_state();
            break;
        case scan_notify_wait:
            m_param->set_status("WAITING");
            _show_run_state();
            break;
        case scan_notify_stop: {
            m_param->switch_off_silently();
            m_param->set_status("STOP");
            cfg_main_t* cfg = m_pcfg;
            const int function = cfg->get_function();  // read here, on the GUI thread
            _queue_job({[cfg, function] {
                            if (cfg_scan_config_t* config = cfg->get_scan_config())
                                config->set_scan_enable(0);
                            // Sent, not stored: the Measure page's function belongs to
                            // the GUI thread (the configuration objects have no lock).
                            return cfg->send_function(function);
                        },
                        nullptr});
            break;
        }
    }
}

void ui_scan_data_frame_t::_tell_record_write_failed() {
    if (m_write_failure_told) return;
    m_write_failure_told = true;  // before the box: its event loop may deliver another one
    const cfg_scan_config_t* config = m_pcfg != nullptr ? m_pcfg->get_scan_config() : nullptr;
    const QString dir =
        config != nullptr ? QString::fromStdString(config->get_record_directory()) : QString();
    QMessageBox::warning(this, "Warning",
                         "Writing to the scan log failed, so logging to the file has stopped.\n"
                         "Check that the log directory exists, is writable and its disk has space: " +
                             QDir::toNativeSeparators(dir) +
                             "\nScanning goes on and the readings stay in memory (the settings' Data "
                             "Logging tab exports them).",
                         QMessageBox::Ok);
}

void ui_scan_data_frame_t::_show_data() {
    if (m_pscan == nullptr || m_pcfg == nullptr || m_pcfg->get_scan_config() == nullptr) return;
    plib_scan_latest_map_t latest;
    plib_scan_statistic_map_t stats;
    if (m_pscan->m_scan_latest_data_msg.fetch(latest) != 0) latest.clear();
    if (m_pscan->m_scan_statistic_data_msg.fetch(stats) != 0) stats.clear();
    m_result_table->show_results(latest, stats, m_pcfg->get_scan_config()->get_channel_params());
}

void ui_scan_data_frame_t::_show_run_state() {
    if (m_pscan == nullptr || m_pcfg == nullptr || m_pcfg->get_scan_config() == nullptr) return;
    plib_scan_run_state_t state;
    if (m_pscan->m_scan_run_state_info_msg.fetch(state) != 0) return;
    m_param->set_elapsed(elapsed_text(state.elapsed_s));
    const QString cycles = cycles_text(state.readings_count, m_pcfg->get_scan_config()->get_sweep_readings());
    if (!cycles.isEmpty()) m_param->set_cycles(cycles);
}
