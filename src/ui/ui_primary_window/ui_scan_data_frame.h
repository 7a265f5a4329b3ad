// The Scan Data page: the control column, the channel configuration table and the
// channel result table (one of the two shown at a time), the start and stop of a scan
// and the live per-channel results.
//
// Threads: widgets are touched on the GUI thread only. Instrument I/O started here (the
// scanner-card query and programming of a start, a stop request, the clean-up after a
// stop) runs as a job on the device item's lane (run_io: one job at a time, in order
// with the Measure page's setting changes; later jobs of this page wait in m_jobs); the
// job hands its outcome back through m_job_watcher, and the page
// shows a busy state (busy cursor, start switch and Setting disabled) until the queue
// is empty. A job gets copies of what it needs (the table's rows, the function to
// restore) and borrows the facade: while a job runs the scan configuration belongs to
// it, so this page does not touch it, and scan notifications that arrive meanwhile are
// handled, in order, once the queue is empty. A job still running when the page or the
// instrument goes keeps the facade alive (the manager's release waits behind it on the
// lane); its outcome then reaches nobody.
#pragma once

#include <QFutureWatcher>
#include <cstdint>
#include <deque>
#include <functional>

#include "scan/plib_scan_types.h"
#include "ui/ui_primary_window/ui_primary_base_window.h"
#include "ui/ui_primary_window/ui_scan_channel_config_widget.h"

class QStackedLayout;
class ui_scan_channel_result_widget_t;
class ui_scan_data_param_widget_t;

class ui_scan_data_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    static const char* const measuring_text;
    static const char* const no_card_text;
    static const char* const no_channel_text;

    ui_scan_data_frame_t(QWidget* parent, ui_device_item_t* item);
    ~ui_scan_data_frame_t() override;

    // The instrument is going away: waits for the job in flight, drops the others, and
    // makes no engine or facade call after this.
    void release_instrument();

    // True while instrument I/O started by this page is in flight or queued.
    bool is_busy() const { return m_busy; }

    ui_scan_data_param_widget_t* param_widget() const { return m_param; }
    ui_scan_channel_config_widget_t* config_widget() const { return m_config_table; }
    ui_scan_channel_result_widget_t* result_widget() const { return m_result_table; }

    // "00:01:05.25" for 65.25 s.
    static QString elapsed_text(double seconds);
    // Sweeps begun: readings / readings per sweep, rounded up; empty when the readings
    // per sweep are 0 (nothing to show).
    static QString cycles_text(uint32_t readings, int sweep_readings);

signals:
    // After a job's outcome has been shown and the queue is empty.
    void signal_io_finished();

public slots:
    void slot_recv_measure_notify_update(plib_scan_notify_t scan_notify_type);
    void slot_process_scan_run_stop(bool checked);
    void slot_change_config_and_result_widget(ui_scan_config_result_widget_index_t index);

private:
    struct job_t {
        std::function<int()> work;      // on the worker: instrument I/O only
        std::function<void(int)> done;  // on the GUI thread, with the work's result
    };

    void _start_scan();
    void _refuse_start(const QString& title, const QString& text, bool information);
    void _handle_notify(plib_scan_notify_t type);
    void _show_data();
    void _show_run_state();
    void _tell_record_write_failed();
    void _queue_job(job_t job);
    void _run_next_job();
    void _finish_job(int result);
    void _set_busy(bool busy);

    ui_scan_data_param_widget_t* m_param = nullptr;
    QStackedLayout* m_tables = nullptr;
    ui_scan_channel_config_widget_t* m_config_table = nullptr;
    ui_scan_channel_result_widget_t* m_result_table = nullptr;

    bool m_busy = false;                        // a job runs or waits (GUI thread only)
    std::deque<job_t> m_jobs;                   // waiting jobs (GUI thread only)
    std::function<void(int)> m_current_done;    // completion of the running job
    std::deque<plib_scan_notify_t> m_deferred;  // notifications that came while busy
    bool m_write_failure_told = false;          // once per run (GUI thread only)
    QFutureWatcher<int>* m_job_watcher = nullptr;  // the running job on the lane
    bool m_job_running = false;                    // GUI thread only
};
