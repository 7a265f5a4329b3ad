// The Scan Diagram page of an instrument with a scanner card. For now it only names the
// page: the channel tables and the scan chart are not wired into it yet.
#pragma once

#include "ui/ui_primary_window/ui_primary_base_window.h"
#include "scan/plib_scan_types.h"

class ui_scan_diagram_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    ui_scan_diagram_frame_t(QWidget* parent, ui_device_item_t* item);

public slots:
    void slot_recv_measure_notify_update(plib_scan_notify_t scan_notify_type);
};
