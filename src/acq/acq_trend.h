// Trend store: reduces a run's readings to min/max envelopes for the trend chart.
//
// Every display point is a bucket: the largest and the smallest reading of a group of
// consecutive readings, each with its own timestamp, so spikes survive any reduction.
// The recent view comes from a history ring (one bucket per 60 ms of readings, 24 h)
// re-bucketed into a 1000-point display ring; the all view keeps the whole run in
// 1000..2000 buckets, halving them whenever they run out, and shows at most 1000.
//
// Not thread-safe: the acquisition engine's mutex serialises every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "acq/plib_acq_types.h"

struct acq_trend_bucket_t {
    plib_data_t max;
    plib_data_t min;
};

// Row e (1..1000) lists e ascending bucket-pair indexes v: merging the pairs
// (2v, 2v + 1) shrinks 1000 + e buckets to exactly 1000 display points, and the
// bit-reversal order spreads the merged pairs evenly over the run.
class acq_compress_index_table_t {
public:
    static constexpr int rows = 1000;

    // Built once per process (about 2 MB), shared by every instrument.
    static const acq_compress_index_table_t& instance();

    // Row e; an e outside 1..1000 gives row 1.
    const int32_t* row(int e) const;
    static int row_size(int e) { return (e < 1 || e > rows) ? 1 : e; }

    // The bit-reversal order of 0..999 the rows are drawn from (512, 256, 768, ...).
    static std::vector<int32_t> bit_reversal_order();

private:
    acq_compress_index_table_t();

    std::vector<int32_t> m_values;        // rows back to back: row 1, row 2, ...
    std::vector<const int32_t*> m_rows;   // m_rows[e - 1] points at row e
};

// The whole-run store of the all view.
class acq_trend_all_t {
public:
    static constexpr int capacity = 2000;

    acq_trend_all_t();

    void reset();
    // Readings per bucket at multiplier 1 (readings per 60 ms).
    void set_base(int base);
    // Adds one reading and widens the all range.
    void push(const plib_data_t& r);
    // Rebuilds the (at most) 1000-point display from the buckets.
    void rebuild_display();
    void copy_out(plib_trend_data_info_t& info) const;

    int filled() const { return m_filled; }
    int bucket_size() const { return m_bucket_size; }
    int base() const { return m_base; }
    int multiplier() const { return m_multiplier; }
    int display_count() const { return m_display_count; }
    const acq_trend_bucket_t& bucket(int i) const { return m_buckets[static_cast<std::size_t>(i)]; }
    const acq_trend_bucket_t& display(int i) const { return m_display[static_cast<std::size_t>(i)]; }

private:
    void _compress();
    void _build_compressed(int n);

    int m_bucket_size = 1;
    int m_base = 1;
    int m_multiplier = 1;
    double m_ymax;
    double m_ymin;
    std::vector<acq_trend_bucket_t> m_buckets;  // capacity buckets
    int m_index = 0;
    int m_filled = 0;
    int m_fill = 0;  // readings in the current bucket
    int m_last_built_count = 0;
    std::vector<acq_trend_bucket_t> m_display;  // 1000 points
    int m_display_count = 0;
    const acq_compress_index_table_t& m_compress_index_array;
};

class acq_trend_t {
public:
    static constexpr int history_capacity = 1440000;  // 24 h at one bucket per 60 ms

    acq_trend_t();

    // Start and clear: empties every ring and the all store; keeps sizes and rec_time.
    void reset();
    // x: microseconds per reading in the last tick; 0 keeps the current sizes.
    void set_sample_period(double x_us);
    void push_batch(const plib_data_t* data, std::size_t n);
    void push_batch(const std::vector<plib_data_t>& batch) { push_batch(batch.data(), batch.size()); }
    // Width of the recent view in seconds; re-buckets the display ring if its bucket size changes.
    void set_timebase(double seconds);
    // info.mode chooses the view: 0 recent, otherwise all.
    void copy_out(plib_trend_data_info_t& info);

    double rec_time() const { return m_rec_time; }
    int history_bucket_size() const { return m_history_bucket_size; }
    int display_bucket_size() const { return m_display_bucket_size; }
    int history_filled() const { return m_history.filled; }
    int display_filled() const { return m_display.filled; }
    // The history ring costs memory only once the first reading arrives.
    bool history_allocated() const { return m_history_storage != nullptr; }
    const acq_trend_all_t& all() const { return m_all; }

private:
    struct free_deleter_t {
        void operator()(acq_trend_bucket_t* p) const { std::free(p); }
    };

    // A ring of min/max buckets: each bucket takes `size` readings, then the next starts.
    struct ring_t {
        acq_trend_bucket_t* data = nullptr;
        int capacity = 0;
        int fill = 0;
        int index = 0;
        int filled = 0;
        void clear() { fill = index = filled = 0; }
        void add(const plib_data_t& r, int size);
    };

    void _rebuild_display_from_history();

    double m_rec_time = 60.0;
    int m_display_points = acq_trend_display_points;
    float m_minutes = 1.0f;
    int m_history_bucket_size = 1;
    int m_display_bucket_size = 1;
    double m_recent_ymax;
    double m_recent_ymin;
    // calloc'd on the first reading: untouched zero pages stay out of resident memory,
    // so an instrument that never measures does not pay for the 46 MB.
    std::unique_ptr<acq_trend_bucket_t, free_deleter_t> m_history_storage;
    ring_t m_history;
    std::vector<acq_trend_bucket_t> m_display_storage;
    ring_t m_display;
    acq_trend_all_t m_all;
};
