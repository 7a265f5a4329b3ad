// PLACEHOLDER page until its own work lands: names the page and nothing more.
#pragma once

#include "ui/ui_primary_window/ui_primary_base_window.h"


class ui_scpi_config_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    ui_scpi_config_frame_t(QWidget* parent, ui_device_item_t* item);

public slots:

};
