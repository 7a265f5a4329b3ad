#include "acq/acq_trend.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "common/plib_format.h"

namespace {

constexpr double range_low = -plib_overload_value;   // "no value yet" of a maximum
constexpr double range_high = plib_overload_value;   // "no value yet" of a minimum
constexpr int index_bits = 10;                        // 1024 >= 1000 display points

int reverse_bits(int v) {
    int r = 0;
    for (int i = 0; i < index_bits; ++i) {
        if (v & (1 << i)) r |= 1 << (index_bits - 1 - i);
    }
    return r;
}

int clamp_to_int(double v) {
    if (!(v >= 0.0)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(v);
}

// The bucket takes r's value as a new extreme where it is one.
inline void merge_reading(acq_trend_bucket_t& b, const plib_data_t& r) {
    if (r.value > b.max.value) b.max = r;
    if (r.value < b.min.value) b.min = r;
}

inline void merge_bucket(acq_trend_bucket_t& into, const acq_trend_bucket_t& b) {
    if (b.max.value > into.max.value) into.max = b.max;
    if (b.min.value < into.min.value) into.min = b.min;
}

inline acq_trend_bucket_t merged(const acq_trend_bucket_t& a, const acq_trend_bucket_t& b) {
    acq_trend_bucket_t r = a;
    merge_bucket(r, b);
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Compression index table

std::vector<int32_t> acq_compress_index_table_t::bit_reversal_order() {
    std::vector<int32_t> order;
    order.reserve(rows);
    int a = 0;
    const int span = 1 << index_bits;
    // Each step advances the bit-reversed counter; one full cycle visits every value once.
    for (int step = 0; step < span && static_cast<int>(order.size()) < rows; ++step) {
        a = reverse_bits((reverse_bits(a) + 1) % span);
        if (a < rows) order.push_back(a);
    }
    return order;
}

acq_compress_index_table_t::acq_compress_index_table_t() {
    const std::vector<int32_t> order = bit_reversal_order();
    m_values.reserve(static_cast<std::size_t>(rows) * (rows + 1) / 2);
    std::vector<std::size_t> offsets;
    offsets.reserve(rows);
    for (int e = 1; e <= rows; ++e) {
        offsets.push_back(m_values.size());
        const std::size_t row_start = m_values.size();
        for (int32_t v : order) {
            if (static_cast<int>(m_values.size() - row_start) == e) break;
            if (2 * v <= e + 998) m_values.push_back(v);
        }
        std::sort(m_values.begin() + static_cast<std::ptrdiff_t>(row_start), m_values.end());
    }
    m_rows.reserve(rows);
    for (std::size_t off : offsets) m_rows.push_back(m_values.data() + off);
}

const acq_compress_index_table_t& acq_compress_index_table_t::instance() {
    static const acq_compress_index_table_t table;
    return table;
}

const int32_t* acq_compress_index_table_t::row(int e) const {
    if (e < 1 || e > rows) e = 1;
    return m_rows[static_cast<std::size_t>(e - 1)];
}

// ---------------------------------------------------------------------------------------
// All store

acq_trend_all_t::acq_trend_all_t()
    : m_ymax(range_low),
      m_ymin(range_high),
      m_buckets(capacity),
      m_display(acq_trend_display_points),
      m_compress_index_array(acq_compress_index_table_t::instance()) {}

void acq_trend_all_t::reset() {
    m_bucket_size = m_base;
    m_multiplier = 1;
    m_fill = m_index = m_filled = m_display_count = 0;
    // A new run must not inherit the previous run's display when it reaches the same count.
    m_last_built_count = 0;
    m_ymax = range_low;
    m_ymin = range_high;
}

void acq_trend_all_t::set_base(int base) {
    m_base = std::max(1, base);
    const long long size = static_cast<long long>(m_base) * m_multiplier;
    m_bucket_size = size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

void acq_trend_all_t::_compress() {
    for (int i = 0; i < capacity / 2; ++i) {
        m_buckets[static_cast<std::size_t>(i)] =
            merged(m_buckets[static_cast<std::size_t>(2 * i)], m_buckets[static_cast<std::size_t>(2 * i + 1)]);
    }
    m_filled = capacity / 2;
    m_index /= 2;
    m_bucket_size = m_bucket_size > INT_MAX / 2 ? INT_MAX : m_bucket_size * 2;
    m_multiplier = m_multiplier > INT_MAX / 2 ? INT_MAX : m_multiplier * 2;
    m_fill = 0;
}

void acq_trend_all_t::push(const plib_data_t& r) {
    if (m_filled == 0) {
        m_buckets[static_cast<std::size_t>(m_index)] = {r, r};
        m_filled = 1;
        m_fill = 1;
    } else if (m_fill < m_bucket_size) {
        merge_reading(m_buckets[static_cast<std::size_t>(m_index)], r);
        ++m_fill;
    } else {
        // The reading that finds the store full starts the first bucket after the
        // compression, so the envelope never misses a reading.
        if (m_filled >= capacity) _compress();
        m_index = (m_index + 1) % capacity;
        m_buckets[static_cast<std::size_t>(m_index)] = {r, r};
        ++m_filled;
        m_fill = 1;
    }
    if (r.value > m_ymax && !is_equal(r.value, plib_overload_value)) m_ymax = r.value;
    if (r.value < m_ymin && !is_equal(r.value, -plib_overload_value)) m_ymin = r.value;
}

void acq_trend_all_t::_build_compressed(int n) {
    const int e = n - acq_trend_display_points;
    const int32_t* row = m_compress_index_array.row(e);
    const int row_size = acq_compress_index_table_t::row_size(e);
    int s = 0, j = 0, k = 0;
    while (s < n) {
        if (j >= acq_trend_display_points) {
            std::printf("deal_second_compress_data j is failed\n");
            break;
        }
        auto& slot = m_display[static_cast<std::size_t>(j)];
        if (k < row_size && s == 2 * row[k] && s + 1 < n) {
            slot = merged(m_buckets[static_cast<std::size_t>(s)], m_buckets[static_cast<std::size_t>(s + 1)]);
            s += 2;
            ++k;
        } else {
            slot = m_buckets[static_cast<std::size_t>(s)];
            ++s;
        }
        ++j;
    }
    m_display_count = acq_trend_display_points;
}

void acq_trend_all_t::rebuild_display() {
    const int n = m_filled;
    if (n <= acq_trend_display_points) {
        std::copy(m_buckets.begin(), m_buckets.begin() + n, m_display.begin());
        m_display_count = n;
    } else if (n != m_last_built_count) {
        m_last_built_count = n;
        _build_compressed(n);
    } else {
        // Same bucket count: only the newest bucket can have changed; refresh the last
        // point so the view is not stale while that bucket fills.
        const int e = n - acq_trend_display_points;
        const int32_t* row = m_compress_index_array.row(e);
        const int last_v = row[acq_compress_index_table_t::row_size(e) - 1];
        auto& slot = m_display[acq_trend_display_points - 1];
        if (2 * last_v + 1 == n - 1) {
            slot = merged(m_buckets[static_cast<std::size_t>(n - 2)], m_buckets[static_cast<std::size_t>(n - 1)]);
        } else {
            slot = m_buckets[static_cast<std::size_t>(n - 1)];
        }
    }
}

void acq_trend_all_t::copy_out(plib_trend_data_info_t& info) const {
    info.count = m_display_count;
    for (int i = 0; i < m_display_count; ++i) {
        info.max_points[static_cast<std::size_t>(i)] = m_display[static_cast<std::size_t>(i)].max;
        info.min_points[static_cast<std::size_t>(i)] = m_display[static_cast<std::size_t>(i)].min;
    }
    info.ymax = m_ymax;
    info.ymin = m_ymin;
}

// ---------------------------------------------------------------------------------------
// Recent view and the store as a whole

void acq_trend_t::ring_t::add(const plib_data_t& r, int size) {
    if (filled == 0) {
        data[index] = {r, r};
        filled = 1;
        fill = 1;
    } else if (fill < size) {
        merge_reading(data[index], r);
        ++fill;
    } else {
        index = (index + 1) % capacity;
        data[index] = {r, r};
        if (filled < capacity) ++filled;
        fill = 1;
    }
}

acq_trend_t::acq_trend_t()
    : m_recent_ymax(range_low), m_recent_ymin(range_high), m_display_storage(acq_trend_display_points) {
    m_history.capacity = history_capacity;
    m_display.data = m_display_storage.data();
    m_display.capacity = acq_trend_display_points;
}

void acq_trend_t::reset() {
    m_history.clear();
    m_display.clear();
    m_recent_ymax = range_low;
    m_recent_ymin = range_high;
    m_all.reset();
}

void acq_trend_t::set_sample_period(double x_us) {
    if (x_us == 0.0 || !std::isfinite(x_us)) return;  // 0 keeps the sizes
    int size = clamp_to_int(60000.0 / x_us);
    if (size == 0) size = 1;
    m_history_bucket_size = size;
    m_display_bucket_size = std::max(1, clamp_to_int(static_cast<double>(size) * m_minutes));
    m_all.set_base(size);
}

void acq_trend_t::push_batch(const plib_data_t* data, std::size_t n) {
    if (n == 0) {
        m_all.rebuild_display();
        return;
    }
    if (!m_history_storage) {
        m_history_storage.reset(static_cast<acq_trend_bucket_t*>(
            std::calloc(static_cast<std::size_t>(history_capacity), sizeof(acq_trend_bucket_t))));
        m_history.data = m_history_storage.get();
    }
    const bool have_history = m_history.data != nullptr;  // a failed allocation only loses history
    for (std::size_t i = 0; i < n; ++i) {
        const plib_data_t& r = data[i];
        if (have_history) m_history.add(r, m_history_bucket_size);
        m_display.add(r, m_display_bucket_size);
        m_all.push(r);
    }
    m_all.rebuild_display();
}

void acq_trend_t::set_timebase(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) return;  // the chart sends 60 .. 86400
    m_rec_time = seconds;
    m_minutes = std::max(1.0f, static_cast<float>(seconds / 60.0));
    const int size = std::max(1, clamp_to_int(static_cast<double>(m_history_bucket_size) * m_minutes));
    if (size == m_display_bucket_size) return;
    m_display_bucket_size = size;
    m_display.clear();
    _rebuild_display_from_history();
}

void acq_trend_t::_rebuild_display_from_history() {
    if (m_history.data == nullptr || m_history.filled == 0) return;
    const int per = std::max(1, m_display_bucket_size / m_history_bucket_size);
    const long long wanted = static_cast<long long>(acq_trend_display_points) * per;
    const int m = static_cast<int>(std::min<long long>(wanted, m_history.filled));
    const int cap = m_history.capacity;
    const int start = ((m_history.index - m + 1) % cap + cap) % cap;
    int k = 0;
    for (int i = 0; i < m; ++i) {
        const acq_trend_bucket_t& hb = m_history.data[(start + i) % cap];
        if (i % per == 0) {
            m_display.data[k++] = hb;
        } else {
            merge_bucket(m_display.data[k - 1], hb);
        }
    }
    m_display.filled = k;
    m_display.index = k - 1;
    // Readings in the newest display bucket: full history buckets plus the current one.
    const long long fill = static_cast<long long>((m - 1) % per) * m_history_bucket_size + m_history.fill;
    m_display.fill = static_cast<int>(std::min<long long>(fill, m_display_bucket_size));
}

void acq_trend_t::copy_out(plib_trend_data_info_t& info) {
    if (info.mode != 0) {
        m_all.copy_out(info);
        return;
    }
    const int n = m_display.filled;
    info.count = n;
    if (n == 0) {
        m_recent_ymax = range_low;
        m_recent_ymin = range_high;
        info.ymax = m_recent_ymax;
        info.ymin = m_recent_ymin;
        return;
    }
    int out = 0;
    auto put = [&](int slot) {
        info.max_points[static_cast<std::size_t>(out)] = m_display.data[slot].max;
        info.min_points[static_cast<std::size_t>(out)] = m_display.data[slot].min;
        ++out;
    };
    if (n == m_display.capacity) {
        for (int s = m_display.index + 1; s < n; ++s) put(s);
        for (int s = 0; s <= m_display.index; ++s) put(s);
    } else {
        for (int s = 0; s < n; ++s) put(s);
    }
    const plib_data_t& last_max = info.max_points[static_cast<std::size_t>(n - 1)];
    const plib_data_t& last_min = info.min_points[static_cast<std::size_t>(n - 1)];
    const int64_t newest = std::max(last_max.timestamp, last_min.timestamp);
    const double start_us = static_cast<double>(newest) - m_rec_time * 1000000.0;
    const int64_t window_start = start_us > 0.0 ? static_cast<int64_t>(start_us) : 0;
    double ymax = range_low, ymin = range_high;
    for (int k = 0; k < n; ++k) {
        const plib_data_t& hi = info.max_points[static_cast<std::size_t>(k)];
        const plib_data_t& lo = info.min_points[static_cast<std::size_t>(k)];
        if (hi.timestamp >= window_start && hi.value > ymax && !is_equal(hi.value, plib_overload_value)) ymax = hi.value;
        if (lo.timestamp >= window_start && lo.value < ymin && !is_equal(lo.value, -plib_overload_value)) ymin = lo.value;
    }
    m_recent_ymax = ymax;
    m_recent_ymin = ymin;
    info.ymax = ymax;
    info.ymin = ymin;
}
