// The simulated readings: what a function measures at a given moment, how fast the
// settings let the instrument measure, and how readings look on the wire. Pure
// functions of their arguments; the instrument keeps the state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vx_sim {

// Function indexes follow the program's measurement vocabulary (0 DC voltage ... 12 Sensor).
enum sim_func_t : int {
    func_dcv = 0,
    func_dci,
    func_acv,
    func_aci,
    func_res_2w,
    func_res_4w,
    func_freq,
    func_period,
    func_cap,
    func_cont,
    func_diode,
    func_temp,
    func_sensor,
    func_count
};

// What instruments send for a reading beyond the range.
constexpr double overload_value = 9.9e37;

struct sim_reading_t {
    double value;
    int64_t timestamp_us;
};

// A plausible reading of `func`: a fixed input per function (scaled per scanner
// channel, 0 for the front input) with slow drift over `t_s` seconds and noise drawn
// from `index`; overload beyond 1.2 times a fixed `range` (0: automatic); Continuity
// and Diode probes open every other second; Temperature in `temp_unit` ("C", "F", "K").
double reading_value(int func, double range, uint64_t index, double t_s, int channel,
                     const std::string& temp_unit);

// The range an autoranging meter settles on for the front input of `func`: from
// `lowest` (in base units, where the meter starts) up a decade at a time to the first
// that holds the input without overload. Frequency and Period (whose range is the
// signal's voltage, not the input measured) and the functions without ranges, or an
// unknown `lowest`, keep `current`.
double autorange_for(int func, double lowest, double current);

// Readings per second: from the integration time `nplc` on a 50 Hz line, or from the
// gate time `aperture` for Frequency and Period, fixed for the other functions;
// bounded, and very high when the simulator runs `fast`.
double reading_rate(int func, double nplc, double aperture, bool fast);

// Values separated by ",", each as "value:timestamp" when `with_timestamps`.
std::string format_readings(const std::vector<sim_reading_t>& readings, bool with_timestamps);

// "<channel>:<value> <prefix><unit>", the value scaled to an engineering prefix.
std::string format_scan_entry(int channel, int func, double value, const std::string& temp_unit);

}  // namespace vx_sim
