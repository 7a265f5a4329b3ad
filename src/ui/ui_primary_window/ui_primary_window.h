// The window of one instrument in the main window's page stack: the strip of page
// buttons above the pages Measure, Measure Diagram, Scan Data and Scan Diagram (with a
// scanner card) and SCPI; and the place where the instrument's engines report to the
// pages.
//
// Threads: everything here runs on the GUI thread. The engines' notifications reach it
// through a ui_mngr_notify_bridge_t (queued, bursts of data merged), re-emitted as
// signal_recv_*_notify and dispatched to the pages. The bridge is detached when the
// device item announces that it releases its instrument (or when this window goes
// first), so no notification and no page call reaches a released manager.
//
// Scanner card: checked when the window is built and again whenever the instrument
// connects while the scan pages are missing (a user who fixes an address expects them).
// Up to three queries 500 ms apart; each runs on the device item's lane (run_io) and
// its answer comes back to the GUI thread, so the window never freezes, also with a
// slow instrument. The scan pages and their buttons are added when a query says a card
// is fitted, one step per event-loop turn (the check lasts until they are in place). Once added they stay, also if the instrument is later swapped for one without
// a card (the scan pages then report the instrument's refusals).
#pragma once

#include <QFrame>
#include <QFutureWatcher>

#include "ui/ui_mngr_notify_bridge.h"  // the notification kinds as meta-types
#include "ui/ui_primary_window/ui_tabbed_page.h"

class QStackedLayout;
class QTimer;
class ui_device_item_t;
class cfg_main_t;
class ui_measure_diagram_frame_t;
class ui_measure_frame_t;
class ui_scan_data_frame_t;
class ui_scan_diagram_frame_t;
class ui_scpi_config_frame_t;

class ui_primary_window_t : public QFrame {
    Q_OBJECT
public:
    static constexpr int scan_card_tries = 3;
    static constexpr int scan_card_retry_ms = 500;

    // `item` is borrowed; the window forgets it when the item releases its instrument.
    ui_primary_window_t(QWidget* parent, ui_device_item_t* item);
    ~ui_primary_window_t() override;

    ui_device_item_t* device_item() const { return m_pdev; }
    bool has_scan_card() const { return m_scan_card; }
    // True while a scanner-card query runs or is due (between tries).
    bool is_checking_scan_card() const;

signals:
    void signal_recv_remote_notify(plib_remote_notify_t type);
    void signal_recv_acq_notify(plib_acq_notify_t type);
    void signal_recv_scan_notify(plib_scan_notify_t type);
    // The scanner-card check has ended (answered, or out of tries), with its finding.
    void signal_scan_card_checked(bool fitted);

public slots:
    void slot_change_current_page(ui_tab_index_t index);
    void slot_process_remote_notify(int type);
    // The manager's reconnection events: the console, the device item and, when the
    // instrument does not come back, what a lost link does.
    void slot_process_mngr_notify(int kind, QString text);

private slots:
    void _on_instrument_releasing();
    void _on_connection_changed(bool connected);

private:
    void _init_notify();
    // A lost link that will not be mended: disconnect, stop, and tell (with `why`).
    void _give_up_lost_link(cfg_main_t* cfg, const QString& why);
    void _check_scan_card();
    void _try_scan_card();
    void _scan_card_answered();
    void _init_pages();
    void _add_scan_pages();
    void _schedule_scan_build_step();
    void _scan_build_step();
    void _abandon_scan_pages();
    void _init_connect();

    ui_device_item_t* m_pdev = nullptr;  // null once the instrument is released
    bool m_scan_card = false;
    int m_scan_tries_left = 0;
    QTimer* m_scan_retry = nullptr;
    QFutureWatcher<int>* m_scan_watcher = nullptr;
    bool m_scan_query_running = false;
    enum { scan_card_unknown = -1, scan_card_absent = 0, scan_card_fitted = 1 };
    // The scan pages are built one step per event-loop turn once a card is found.
    enum scan_build_step_t {
        scan_build_idle,
        scan_build_data_page,
        scan_build_diagram_page,
        scan_build_insert_data_page,
        scan_build_insert_diagram_page
    };
    scan_build_step_t m_scan_build_step = scan_build_idle;
    ui_mngr_notify_bridge_t* m_bridge = nullptr;

    QFrame* m_page_frame = nullptr;
    QStackedLayout* m_pages = nullptr;
    ui_measure_frame_t* m_measure_frame = nullptr;
    ui_measure_diagram_frame_t* m_measure_diagram_frame = nullptr;
    ui_scan_data_frame_t* m_scan_data_frame = nullptr;
    ui_scan_diagram_frame_t* m_scan_diagram_frame = nullptr;
    ui_scpi_config_frame_t* m_scpi_frame = nullptr;
    ui_tabbed_page_t* m_tabs = nullptr;
};
