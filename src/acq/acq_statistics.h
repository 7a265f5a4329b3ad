// Running statistics of one acquisition run: count, minimum, maximum, mean and standard
// deviation of every reading accepted since the start or the last clear, kept as the
// readings arrive, so they stay exact for the whole run when the record buffer has
// dropped its oldest readings (keep-latest mode) and cost no pass over 100 MiB.
//
// Mean and variance use Welford's update (one pass, no loss of precision from summing
// squares of large offsets such as 10 V ± 1 uV). Overloads (±9.9e37, the instrument's
// "no reading") and non-finite values are counted apart and enter no other figure.
//
// Not thread-safe: the acquisition engine owns one and uses it under its engine mutex.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acq/plib_acq_types.h"

class acq_statistics_t {
public:
    void reset() { *this = acq_statistics_t(); }
    void add(double value);
    void add(const plib_data_t* data, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) add(data[i].value);
    }
    // The figures so far; mean, min, max and stddev are NaN while no reading counted.
    plib_acq_statistics_t get() const;

private:
    uint64_t m_count = 0;
    uint64_t m_overloads = 0;
    double m_min = 0.0;
    double m_max = 0.0;
    double m_mean = 0.0;
    double m_m2 = 0.0;  // sum of squared deviations from the running mean
};
