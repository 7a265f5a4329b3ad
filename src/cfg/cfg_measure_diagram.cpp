#include "cfg/cfg_measure_diagram.h"

#include <cmath>

#include "acq/acq_main.h"
#include "common/plib_format.h"

cfg_measure_diagram_t::cfg_measure_diagram_t(acq_main_t* engine) : m_pacq(engine) { reset(); }

void cfg_measure_diagram_t::set_rec_time(double seconds) {
    // NaN from a hostile project file would defeat the clamp below.
    if (std::isnan(seconds) || seconds < min_rec_time) seconds = min_rec_time;
    if (seconds > max_rec_time) seconds = max_rec_time;
    m_rec_time = seconds;
    if (m_pacq != nullptr) {
        const double value = seconds;
        m_pacq->m_acq_trend_timebase_set_msg.send(value);
    }
}

void cfg_measure_diagram_t::set_range_limits(double min, double max) {
    if (min == m_range_min && max == m_range_max) return;
    if (is_equal(std::fabs(min), plib_overload_value) || is_equal(std::fabs(max), plib_overload_value))
        return;
    m_range_min = min;
    m_range_max = max;
}

void cfg_measure_diagram_t::reset() {
    set_rec_time(min_rec_time);
    m_range_mode = 0;
    m_trend_mode = 0;
}
