#include "ui/chart/ui_measure_diagram_frame.h"

#include <QLabel>
#include <QVBoxLayout>

ui_measure_diagram_frame_t::ui_measure_diagram_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("measure_diagram_frame");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Measure Diagram", this));
}

void ui_measure_diagram_frame_t::slot_recv_measure_notify_update(plib_acq_notify_t) {}
void ui_measure_diagram_frame_t::slot_download_latest_disp_data(plib_measure_data_disp_t) {}
void ui_measure_diagram_frame_t::slot_func_change_process() {}
