#include "sim_readings.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "sim_text.h"

namespace vx_sim {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double line_frequency_hz = 50.0;
constexpr double rate_min = 0.5;
constexpr double rate_max = 50000.0;
constexpr double rate_fast = 1000000.0;

const char* const scan_units[func_count] = {"VDC", "ADC", "VAC", "AAC", "OHM", "OHM", "Hz",
                                            "s",   "F",   "OHM", "VDC", "C",   ""};

// Deterministic noise in [-1, 1) from a reading index (splitmix64).
double noise(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / static_cast<double>(1ULL << 52) - 1.0;
}

}  // namespace

// The front input of each function; scanner channels scale it.
constexpr double inputs[func_count] = {1.2345, 0.012345, 0.23456, 0.0045, 1234.5, 1234.2, 1000.02,
                                       1e-3,   1.0e-7,   0.35,    0.612,  23.5,   0.0421};
// Beyond this share of its range a reading is an overload (the meters' overrange).
constexpr double overrange = 1.2;
// Drift and noise move a reading by at most this share.
constexpr double wander = 2.5e-4;

double autorange_for(int func, double lowest, double current) {
    if (func < 0 || func > func_cap || func == func_freq || func == func_period || !(lowest > 0) ||
        !std::isfinite(lowest)) {
        return current;
    }
    const double v = inputs[func] * (1.0 + wander);
    double range = lowest;
    for (int i = 0; i < 12 && v > overrange * range; ++i) range *= 10.0;
    return range;
}

double reading_value(int func, double range, uint64_t index, double t_s, int channel,
                     const std::string& temp_unit) {
    double v = inputs[func] * (1.0 + 0.05 * channel);
    if (func == func_period) {
        v = 1.0 / (inputs[func_freq] * (1.0 + 0.05 * channel));
    }
    v *= 1.0 + 2e-4 * std::sin(2.0 * pi * t_s / 300.0) +
         5e-5 * noise(index * 31 + static_cast<uint64_t>(channel));
    if (func == func_cont || func == func_diode) {
        const bool open = (static_cast<int64_t>(std::floor(t_s)) % 2) != 0;
        return open ? overload_value : v;
    }
    if (func == func_temp) {
        if (temp_unit == "F") {
            v = v * 9.0 / 5.0 + 32.0;
        } else if (temp_unit == "K") {
            v += 273.15;
        }
        return v;
    }
    if (range > 0 && func != func_freq && func != func_period && std::fabs(v) > overrange * range) {
        return overload_value;
    }
    return v;
}

double reading_rate(int func, double nplc, double aperture, bool fast) {
    if (fast) {
        return rate_fast;
    }
    double rate = 10.0;
    switch (func) {
        case func_freq:
        case func_period:
            rate = aperture > 0 ? 1.0 / aperture : rate_max;
            break;
        case func_cap:
            rate = 4.0;
            break;
        case func_cont:
        case func_diode:
            rate = 50.0;
            break;
        case func_temp:
            rate = 5.0;
            break;
        default:
            rate = nplc > 0 ? line_frequency_hz / nplc : rate_max;
            break;
    }
    return std::min(rate_max, std::max(rate_min, rate));
}

std::string format_readings(const std::vector<sim_reading_t>& readings, bool with_timestamps) {
    std::string out;
    out.reserve(readings.size() * (with_timestamps ? 34 : 16));
    for (size_t i = 0; i < readings.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        append_number(out, readings[i].value);
        if (with_timestamps) {
            out += ':';
            out += std::to_string(readings[i].timestamp_us);
        }
    }
    return out;
}

std::string format_scan_entry(int channel, int func, double value, const std::string& temp_unit) {
    const std::string unit = func == func_temp ? temp_unit : scan_units[func];
    std::string out = std::to_string(channel) + ":";
    double v = value;
    const char* prefix = "";
    if (v != overload_value && func != func_temp && v != 0.0) {
        static const std::pair<double, const char*> prefixes[] = {
            {1e6, "M"}, {1e3, "k"}, {1.0, ""}, {1e-3, "m"}, {1e-6, "u"}, {1e-9, "n"}, {1e-12, "p"}};
        for (const auto& p : prefixes) {
            if (std::fabs(v) >= p.first || p.first == 1e-12) {
                v /= p.first;
                prefix = p.second;
                break;
            }
        }
    }
    append_number(out, v);
    out += ' ';
    out += prefix;
    out += unit;
    return out;
}

}  // namespace vx_sim
