#include "acq/acq_statistics.h"

#include <cmath>
#include <limits>

#include "common/plib_format.h"

namespace {
// Overload (±9.9e37) and no reading (9.91e37) alike; no real reading comes near.
bool is_no_number(double value) {
    return !std::isfinite(value) || is_overload(std::fabs(value)) || std::fabs(value) >= plib_overload_value;
}
}  // namespace

void acq_statistics_t::add(double value) {
    if (is_no_number(value)) {
        ++m_overloads;
        return;
    }
    ++m_count;
    if (m_count == 1) {
        m_min = m_max = m_mean = value;
        m_m2 = 0.0;
        return;
    }
    if (value < m_min) m_min = value;
    if (value > m_max) m_max = value;
    const double delta = value - m_mean;
    m_mean += delta / static_cast<double>(m_count);
    m_m2 += delta * (value - m_mean);
}

plib_acq_statistics_t acq_statistics_t::get() const {
    plib_acq_statistics_t s;
    s.count = m_count;
    s.overloads = m_overloads;
    if (m_count == 0) return s;  // the NaN defaults: nothing to show
    s.min = m_min;
    s.max = m_max;
    s.mean = m_mean;
    // Sample standard deviation (n - 1), as bench meters show it; one reading has none.
    s.stddev = m_count > 1 ? std::sqrt(m_m2 / static_cast<double>(m_count - 1)) : 0.0;
    return s;
}
