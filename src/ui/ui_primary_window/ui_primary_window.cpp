#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui/ui_log_console.h"
#include "ui/ui_publish.h"

#include <QFutureWatcher>
#include <QMessageBox>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "ui/chart/ui_measure_diagram_frame.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_events.h"
#include "ui/mngr/plib_reconnect.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_gui_slices.h"
#include "ui/ui_mngr_notify_bridge.h"
#include "ui/ui_primary_window/ui_measure_frame.h"
#include "ui/ui_primary_window/ui_scan_data_frame.h"
#include "ui/ui_primary_window/ui_scan_diagram_frame.h"
#include "ui/ui_primary_window/ui_scpi_config_frame.h"

namespace {

cfg_main_t* facade_of(ui_device_item_t* item) {
    plib_mngr_t* mngr = item != nullptr ? item->get_mngr() : nullptr;
    return mngr != nullptr ? mngr->get_cfg() : nullptr;
}

}  // namespace

ui_primary_window_t::ui_primary_window_t(QWidget* parent, ui_device_item_t* item)
    : QFrame(parent), m_pdev(item) {
    setObjectName("primary_window");
    m_scan_retry = new QTimer(this);
    m_scan_retry->setSingleShot(true);
    m_scan_retry->setInterval(scan_card_retry_ms);
    connect(m_scan_retry, &QTimer::timeout, this, &ui_primary_window_t::_try_scan_card);
    m_scan_watcher = new QFutureWatcher<int>(this);
    connect(m_scan_watcher, &QFutureWatcher<int>::finished, this, &ui_primary_window_t::_scan_card_answered);

    _init_pages();
    m_tabs = new ui_tabbed_page_t(this, false);  // the scan buttons come with a card
    _init_notify();
    _init_connect();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addWidget(m_tabs);
    layout->addWidget(m_page_frame);

    if (m_pdev != nullptr) {
        connect(m_pdev, &ui_device_item_t::signal_releasing_instrument, this,
                &ui_primary_window_t::_on_instrument_releasing);
        connect(m_pdev, &ui_device_item_t::signal_connection_changed, this,
                &ui_primary_window_t::_on_connection_changed);
        // The pages write the configuration the connect is sending: wait for it.
        connect(m_pdev, &ui_device_item_t::signal_busy_changed, this,
                [this](bool busy) { m_page_frame->setEnabled(!busy); });
        if (m_pdev->is_busy()) m_page_frame->setEnabled(false);
    }
    _check_scan_card();
}

ui_primary_window_t::~ui_primary_window_t() {
    // Before the pages go: no notification may reach them half destroyed.
    m_bridge->detach();
}

bool ui_primary_window_t::is_checking_scan_card() const {
    return m_scan_retry->isActive() || m_scan_query_running || m_scan_build_step != scan_build_idle;
}

void ui_primary_window_t::_check_scan_card() {
    if (m_scan_card || m_pdev == nullptr || !m_pdev->is_connected() || is_checking_scan_card()) return;
    m_scan_tries_left = scan_card_tries;
    _try_scan_card();
}

// The query waits for the instrument: it runs on the item's lane, and the answer comes
// back through m_scan_watcher.
void ui_primary_window_t::_try_scan_card() {
    cfg_main_t* cfg = facade_of(m_pdev);
    if (m_scan_card || m_scan_query_running || cfg == nullptr || cfg->get_scan_config() == nullptr ||
        !m_pdev->is_connected())
        return;
    --m_scan_tries_left;
    m_scan_query_running = true;
    m_scan_watcher->setFuture(m_pdev->run_io([](cfg_main_t* job_cfg) -> int {
        int state = 0;
        if (job_cfg->get_scan_config()->query_scan_card(state) != 0) return scan_card_unknown;
        return state == 1 ? scan_card_fitted : scan_card_absent;
    }));
}

void ui_primary_window_t::_scan_card_answered() {
    m_scan_query_running = false;
    const int answer =
        m_scan_watcher->future().resultCount() > 0 ? m_scan_watcher->result() : scan_card_unknown;
    if (m_pdev == nullptr || m_scan_card) return;
    if (answer == scan_card_fitted) {
        // The pages follow in the next turns; the check ends when they are in place.
        _add_scan_pages();
        return;
    }
    if (answer == scan_card_unknown && m_scan_tries_left > 0 && m_pdev->is_connected()) {
        m_scan_retry->start();
    }
    if (!is_checking_scan_card()) emit signal_scan_card_checked(m_scan_card);
}

void ui_primary_window_t::_init_pages() {
    m_page_frame = new QFrame(this);
    m_pages = new QStackedLayout(m_page_frame);
    m_pages->setContentsMargins(0, 0, 0, 0);
    m_pages->setSpacing(0);
    m_measure_frame = new ui_measure_frame_t(this, m_pdev);
    m_pages->addWidget(m_measure_frame);
    m_measure_diagram_frame = new ui_measure_diagram_frame_t(this, m_pdev);
    m_pages->addWidget(m_measure_diagram_frame);
    m_scpi_frame = new ui_scpi_config_frame_t(this, m_pdev);
    m_pages->addWidget(m_scpi_frame);
    m_pages->setCurrentIndex(tab_index_measure);
}

// A card found: the scan pages and their buttons go before SCPI. Each page takes tens
// of milliseconds to build and as much again to go into the stack (its style is worked
// out then), so each step has its own event-loop turn, shared with the other windows:
// the window keeps painting, also while a recall builds the next instrument's window.
void ui_primary_window_t::_add_scan_pages() {
    if (m_scan_card || m_scan_build_step != scan_build_idle) return;
    m_scan_build_step = scan_build_data_page;
    _schedule_scan_build_step();
}

void ui_primary_window_t::_schedule_scan_build_step() {
    ui_gui_slices_t::instance().post(this, [this] { _scan_build_step(); });
}

void ui_primary_window_t::_scan_build_step() {
    if (m_scan_build_step == scan_build_idle) return;
    if (m_pdev == nullptr) {  // released meanwhile: no pages for an instrument that went
        _abandon_scan_pages();
        return;
    }
    switch (m_scan_build_step) {
        case scan_build_data_page:
            m_scan_data_frame = new ui_scan_data_frame_t(m_page_frame, m_pdev);
            m_scan_data_frame->hide();
            m_scan_build_step = scan_build_diagram_page;
            break;
        case scan_build_diagram_page:
            m_scan_diagram_frame = new ui_scan_diagram_frame_t(m_page_frame, m_pdev);
            m_scan_diagram_frame->hide();
            m_scan_build_step = scan_build_insert_data_page;
            break;
        case scan_build_insert_data_page:
            m_pages->insertWidget(tab_index_scan_data, m_scan_data_frame);
            m_scan_build_step = scan_build_insert_diagram_page;
            break;
        case scan_build_insert_diagram_page:
            m_pages->insertWidget(tab_index_scan_diagram, m_scan_diagram_frame);
            m_tabs->add_scan_buttons();
            connect(this, &ui_primary_window_t::signal_recv_scan_notify, m_scan_data_frame,
                    &ui_scan_data_frame_t::slot_recv_measure_notify_update);
            connect(this, &ui_primary_window_t::signal_recv_scan_notify, m_scan_diagram_frame,
                    &ui_scan_diagram_frame_t::slot_recv_measure_notify_update);
            m_scan_card = true;
            m_scan_build_step = scan_build_idle;
            if (!is_checking_scan_card()) emit signal_scan_card_checked(true);
            return;
        default:
            return;
    }
    _schedule_scan_build_step();
}

void ui_primary_window_t::_abandon_scan_pages() {
    m_scan_build_step = scan_build_idle;
    // Built but not in the stack yet: nobody else knows them.
    if (m_scan_data_frame != nullptr && m_pages->indexOf(m_scan_data_frame) < 0) {
        delete m_scan_data_frame;
        m_scan_data_frame = nullptr;
    }
    if (m_scan_diagram_frame != nullptr && m_pages->indexOf(m_scan_diagram_frame) < 0) {
        delete m_scan_diagram_frame;
        m_scan_diagram_frame = nullptr;
    }
}

void ui_primary_window_t::_init_notify() {
    ui_mngr_notify_bridge_t::register_meta_types();
    m_bridge = new ui_mngr_notify_bridge_t(m_pdev != nullptr ? m_pdev->get_mngr() : nullptr, this);
    connect(m_bridge, &ui_mngr_notify_bridge_t::signal_remote_notify, this,
            &ui_primary_window_t::signal_recv_remote_notify);
    connect(m_bridge, &ui_mngr_notify_bridge_t::signal_acq_notify, this,
            &ui_primary_window_t::signal_recv_acq_notify);
    connect(m_bridge, &ui_mngr_notify_bridge_t::signal_scan_notify, this,
            &ui_primary_window_t::signal_recv_scan_notify);
    connect(m_bridge, &ui_mngr_notify_bridge_t::signal_mngr_notify, this,
            &ui_primary_window_t::slot_process_mngr_notify);
}

void ui_primary_window_t::_init_connect() {
    connect(m_tabs, &ui_tabbed_page_t::signal_change_current_page, this,
            &ui_primary_window_t::slot_change_current_page);
    connect(this, &ui_primary_window_t::signal_recv_remote_notify, this,
            &ui_primary_window_t::slot_process_remote_notify, Qt::QueuedConnection);
    // The Measure page first, so it has shown a reading before the diagram asks for it.
    connect(this, &ui_primary_window_t::signal_recv_acq_notify, m_measure_frame,
            &ui_measure_frame_t::slot_recv_measure_notify_update);
    connect(this, &ui_primary_window_t::signal_recv_acq_notify, m_measure_diagram_frame,
            &ui_measure_diagram_frame_t::slot_recv_measure_notify_update);
    connect(m_measure_frame, &ui_measure_frame_t::signal_console_line, m_scpi_frame,
            &ui_scpi_config_frame_t::slot_append_notice);
    // Publishing: a database that went away or came back, and what it caught up with.
    connect(&ui_publish_service_t::instance(), &ui_publish_service_t::signal_console_line, m_scpi_frame,
            &ui_scpi_config_frame_t::slot_append_notice);
    // The core's own lines (identification steps, record paths, VISA statuses).
    connect(&ui_log_console_t::instance(), &ui_log_console_t::signal_console_line, m_scpi_frame,
            &ui_scpi_config_frame_t::slot_append_notice);
    connect(m_measure_frame, &ui_measure_frame_t::signal_upload_latest_disp_data, m_measure_diagram_frame,
            &ui_measure_diagram_frame_t::slot_download_latest_disp_data);
    connect(m_measure_frame, &ui_measure_frame_t::signal_update_diagram_func, m_measure_diagram_frame,
            &ui_measure_diagram_frame_t::slot_func_change_process);
}

void ui_primary_window_t::slot_change_current_page(ui_tab_index_t index) {
    if (index >= 0 && index < m_pages->count()) m_pages->setCurrentIndex(index);
}

void ui_primary_window_t::slot_process_remote_notify(int type) {
    if (type != remote_notify_link_lost || m_pdev == nullptr) return;
    if (m_pdev->get_resource().empty()) return;
    cfg_main_t* cfg = facade_of(m_pdev);
    if (cfg == nullptr) return;
    // With reconnection on, the supervisor has the instrument now (its events follow).
    if (plib_mngr_t* mngr = m_pdev->get_mngr(); mngr != nullptr && mngr->reconnect().policy().enabled &&
                                                 mngr->reconnect().state() != plib_reconnect_t::state_refused &&
                                                 mngr->reconnect().state() != plib_reconnect_t::state_gave_up)
        return;
    _give_up_lost_link(cfg, QString());
}

void ui_primary_window_t::slot_process_mngr_notify(int kind, QString text) {
    if (m_pdev == nullptr) return;
    m_scpi_frame->slot_append_notice(text);
    switch (kind) {
        case mngr_notify_reconnecting:
            m_pdev->set_link_note("Reconnecting", text);
            break;
        case mngr_notify_reconnected:
            m_pdev->set_link_note(QString(), QString());
            break;
        case mngr_notify_reconnect_refused:
        case mngr_notify_reconnect_gave_up:
            m_pdev->set_link_note(QString(), QString());
            if (cfg_main_t* cfg = facade_of(m_pdev)) _give_up_lost_link(cfg, text);
            break;
        default:
            break;
    }
}

void ui_primary_window_t::_give_up_lost_link(cfg_main_t* cfg, const QString& why) {
    const bool was_connected = m_pdev->is_connected();
    // Measuring stops at once (no instrument I/O). A scan's stop sends its stop command
    // after the fetch in flight, which may wait for the link's time-out: on the lane,
    // before the link closes, or behind the connect or disconnect already running.
    cfg->set_run_state(0);
    if (!m_pdev->disconnect_device(true)) {
        m_pdev->run_io([](cfg_main_t* job_cfg) {
            job_cfg->set_scan_run_state(0);
            return 0;
        });
    }
    m_pdev->slot_update_ui();
    // Once per loss: a second report of the same loss finds the instrument disconnected.
    if (!was_connected) return;
    QMessageBox::warning(this, "Warning",
                         QString("Lost the connection to %1 at %2.\nThe instrument is disconnected; "
                                 "measuring and scanning have stopped. Check the cable or network, "
                                 "then connect again.")
                                 .arg(QString::fromStdString(m_pdev->get_model_name()),
                                      QString::fromStdString(m_pdev->get_resource())) +
                             (why.isEmpty() ? QString() : "\n\n" + why),
                         QMessageBox::Ok);
}

void ui_primary_window_t::_on_instrument_releasing() {
    m_scan_retry->stop();
    _abandon_scan_pages();
    // A query in flight ends on the lane before the manager goes; its answer is ignored.
    m_bridge->detach();
    m_measure_frame->release_instrument();
    m_pdev = nullptr;
}

void ui_primary_window_t::_on_connection_changed(bool connected) {
    if (connected) _check_scan_card();
}
