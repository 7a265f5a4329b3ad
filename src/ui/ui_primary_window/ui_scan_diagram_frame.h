// The Scan Diagram page of an instrument with a scanner card: the scan trend chart,
// one curve per channel, over a configuration area with the time window and a table
// of per-channel curve settings and latest values. The settings live in the
// instrument's scan-diagram settings, reached through the chart.
//
// GUI thread only: scan notifications arrive queued from the primary window. A data
// notification costs the GUI thread one (coalesced) chart redraw, which copies only
// the readings the chart has not seen yet, and one read of the latest readings.
#pragma once

#include "scan/plib_scan_types.h"
#include "ui/ui_primary_window/ui_primary_base_window.h"

class ui_scan_trend_chart_t;
class ui_scan_diagram_config_widget_t;

class ui_scan_diagram_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    ui_scan_diagram_frame_t(QWidget* parent, ui_device_item_t* item);

public slots:
    // Data: redraw the chart and the Data column. Start: the channels of this scan
    // become the valid ones (rows shown, curves attached) and the row texts follow the
    // channel settings. Wait and stop change nothing.
    void slot_recv_measure_notify_update(plib_scan_notify_t scan_notify_type);

private:
    void _load();
    void _init_connect();
    void _update_row_texts();
    void _update_data_texts();
    int _channel_count() const;

    ui_scan_trend_chart_t* m_pchart = nullptr;
    ui_scan_diagram_config_widget_t* m_pconfig = nullptr;
};
