// Per-channel scaling and running statistics of scanner readings.
#pragma once

#include <vector>

#include "drv/drv_types.h"
#include "scan/plib_scan_types.h"

// value * gain + offset for every reading of the channels 1..channel_count whose
// parameters have scaling on; overload values are scaled like any other.
void scan_apply_scaling(plib_scan_data_map_t& batch, const plib_scanner_channel_map_t& params,
                        int channel_count);

// Statistics of one non-empty batch: min and max over every value (overload included);
// the average sums the non-overload values and divides by the number of all values, or
// is the overload value when every value is overload.
plib_scan_statistic_data_t scan_batch_statistics(const std::vector<plib_data_t>& values);

// Merges a batch into a channel's running statistics. An overload batch average leaves the
// running average unchanged; an overload running average is replaced by the batch average.
void scan_merge_statistics(plib_scan_statistic_data_t& running, const plib_scan_statistic_data_t& batch);

// Alarm of a channel: 0 none, 1 low, 2 high, 3 low or high; strict comparisons.
bool scan_channel_in_alarm(const plib_scan_statistic_data_t& stat, const plib_scanner_channel_param_t* param);
