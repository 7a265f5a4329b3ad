// The three instrument operations the scan engine needs.
//
// The engine never sees the driver holder itself: production code hands it a
// scan_drv_adapter_t, tests a scripted fake. Results are driver status codes (0 success).
#pragma once

#include "drv/drv_types.h"

class scan_instrument_t {
public:
    virtual ~scan_instrument_t() = default;

    virtual int get_scan_channel_count() = 0;  // 16 for every model
    // Replaces `data` with every reading the scanner collected since the last call.
    virtual int read_scan_data(plib_scan_data_map_t& data) = 0;
    virtual int set_scan_start(int on) = 0;  // "ROUT:STAR 0|1"
};
