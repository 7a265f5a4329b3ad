#include "ui/ui_primary_window/ui_scpi_config_frame.h"

#include <QLabel>
#include <QVBoxLayout>

ui_scpi_config_frame_t::ui_scpi_config_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("scpi_config_frame");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("SCPI", this));
}
