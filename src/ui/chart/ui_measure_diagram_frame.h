// PLACEHOLDER page until its own work lands: names the page and nothing more.
#pragma once

#include "ui/ui_primary_window/ui_primary_base_window.h"
#include "acq/plib_acq_types.h"
#include "ui/ui_primary_window/plib_measure_data_disp.h"

class ui_measure_diagram_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    ui_measure_diagram_frame_t(QWidget* parent, ui_device_item_t* item);

public slots:
    void slot_recv_measure_notify_update(plib_acq_notify_t acq_notify_type);
    void slot_download_latest_disp_data(plib_measure_data_disp_t data);
    void slot_func_change_process();
};
