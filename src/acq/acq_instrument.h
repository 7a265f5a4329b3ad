// The five instrument operations the acquisition engine needs.
//
// The engine never sees the driver holder itself: production code hands it an
// acq_drv_adapter_t, tests a scripted fake. Results are driver status codes (0 success);
// the engine does not examine them.
#pragma once

#include <cstdint>
#include <vector>

#include "common/plib_measure_type.h"

class acq_instrument_t {
public:
    virtual ~acq_instrument_t() = default;

    virtual int init() = 0;                // "INIT"
    virtual int set_trig_count_inf() = 0;  // trigger count infinite
    virtual int set_trig_count(int count) = 0;
    virtual int set_sample_count(int count) = 0;
    // Replaces `data` with every reading buffered in the instrument (possibly none).
    virtual int read_measure_data(std::vector<plib_data_t>& data) = 0;
    // Pieces of the replies fetched since the last call that were no number and were
    // dropped; resets the count. Called by the fetching thread only.
    virtual uint64_t take_dropped_readings() { return 0; }
};
