#include "ui/ui_primary_window/ui_scan_diagram_frame.h"

#include <QLabel>
#include <QVBoxLayout>

ui_scan_diagram_frame_t::ui_scan_diagram_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("scan_diagram_frame");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Scan Diagram", this));
}

void ui_scan_diagram_frame_t::slot_recv_measure_notify_update(plib_scan_notify_t) {}
