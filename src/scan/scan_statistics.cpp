#include "scan/scan_statistics.h"

#include <algorithm>
#include <cmath>

#include "common/plib_format.h"

namespace {
bool overload(double v) { return is_overload(std::fabs(v)); }
}  // namespace

void scan_apply_scaling(plib_scan_data_map_t& batch, const plib_scanner_channel_map_t& params,
                        int channel_count) {
    for (auto& [channel, values] : batch) {
        if (channel < 1 || channel > channel_count) continue;
        const auto it = params.find(channel);
        if (it == params.end() || it->second.scaling == 0) continue;
        const double gain = it->second.gain;
        const double offset = it->second.offset;
        for (auto& d : values) d.value = d.value * gain + offset;
    }
}

plib_scan_statistic_data_t scan_batch_statistics(const std::vector<plib_data_t>& values) {
    plib_scan_statistic_data_t s;
    if (values.empty()) return s;
    s.min = values.front().value;
    s.max = values.front().value;
    double sum = 0.0;
    std::size_t overloads = 0;
    for (const auto& d : values) {
        s.min = std::min(s.min, d.value);
        s.max = std::max(s.max, d.value);
        if (overload(d.value))
            ++overloads;
        else
            sum += d.value;
    }
    s.count = static_cast<int>(values.size());
    s.average = overloads == values.size() ? plib_overload_value : sum / static_cast<double>(values.size());
    return s;
}

void scan_merge_statistics(plib_scan_statistic_data_t& running, const plib_scan_statistic_data_t& batch) {
    running.min = std::min(running.min, batch.min);
    running.max = std::max(running.max, batch.max);
    if (!overload(batch.average)) {
        if (overload(running.average)) {
            running.average = batch.average;
        } else {
            const double total = static_cast<double>(running.count) + static_cast<double>(batch.count);
            running.average = (batch.average * batch.count + running.average * running.count) / total;
        }
    }
    running.count += batch.count;
}

bool scan_channel_in_alarm(const plib_scan_statistic_data_t& stat,
                           const plib_scanner_channel_param_t* param) {
    if (!param) return false;
    const bool low = stat.min < param->limit_low;
    const bool high = stat.max > param->limit_high;
    switch (param->alarm_limit) {
        case 1:
            return low;
        case 2:
            return high;
        case 3:
            return low || high;
        default:
            return false;
    }
}
