// The readings of one scan channel as the scan chart keeps them: a copy that follows
// the scan engine's stored readings (appends at the back, drops at the front when the
// engine's per-channel limit is reached), with min/max envelopes over blocks of 16,
// 256, 4096 and 65536 readings that are extended as readings arrive.
//
// The envelopes let a redraw reduce any number of readings to at most four points per
// pixel column (the first, the lowest, the highest and the last) in time proportional
// to the plot width, not to the readings: the extremes per column, and so the drawn
// line, stay those of the full data. PulseView's min/max envelopes are the model.
//
// Used on the GUI thread only, by the scan chart that owns it.
#pragma once

#include <QPointF>
#include <QVector>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "common/plib_measure_type.h"
#include "scan/plib_scan_types.h"

// Value -> chart units of one channel, y = k (v - c); a zero-width range maps
// everything to 0, and so does a value whose y is NaN or infinite.
struct chart_scan_ymap_t {
    chart_scan_ymap_t() = default;
    chart_scan_ymap_t(double lower, double upper);
    double y(double v) const;
    double k = 0.0;
    double c = 0.0;
};

// Device pixel columns of the X axis: x seconds land at pixel p1 + (x - s1) * (p2 - p1) /
// (s2 - s1), column floor(p). Columns beyond a few pixels outside the axis are merged
// into one column on each side, so a window far inside a long run costs no more.
struct chart_column_map_t {
    chart_column_map_t() = default;
    chart_column_map_t(double s1, double s2, double p1, double p2);
    int64_t column(double x) const;
    // The pixel position of x (column(x) is its floor inside the kept columns).
    double position(double x) const { return p1 + (x - s1) * scale; }
    double s1 = 0.0;
    double scale = 1.0;  // pixels per second
    double p1 = 0.0;
    int64_t lo = 0;  // first column kept apart; everything left of it is column lo - 1
    int64_t hi = 0;  // last column kept apart; everything right of it is column hi + 1
};

// Where in its pixel column the readings of a reduced (dense) column lie: the lowest and
// highest y of those in the left three quarters of the pixel and of those in its right
// three quarters. A pen reaches a neighbouring column only from the readings near that
// side; drawing the neighbour from the whole column's extremes painted rows no reading
// reaches there (by up to a pen's width times the slope). The parts overlap by half a
// pixel because an antialiased stroke's joins and caps reach further than its half
// width. `first` is the index (in the points) of the column's first point.
inline constexpr double chart_column_side_part = 0.75;
struct chart_column_halves_t {
    int first = 0;
    bool left = false;   // readings in [column, column + 0.75)
    bool right = false;  // readings in [column + 0.25, column + 1)
    double left_lo = 0.0, left_hi = 0.0;
    double right_lo = 0.0, right_hi = 0.0;
};

class ui_scan_channel_store_t {
public:
    // Follows the engine's readings of this channel. Readings already held are matched
    // (the engine only appends and drops its oldest) and only the new ones are added;
    // anything else rebuilds the copy. A reading stamped before start_us stops the
    // adding for this call (it and the later ones are left out); returns false then.
    bool sync(const std::vector<plib_data_t>& readings, uint64_t start_us);
    // Follows the engine's read-out of new readings instead (scan_new_data_msg_t): the
    // store numbers its readings as the engine does, drops those older than the
    // engine's oldest and appends the new ones; a gap (readings the engine dropped
    // before they were read) starts the copy over at the tail. Same false as sync.
    bool append_tail(const plib_scan_channel_tail_t& tail, uint64_t start_us);
    // The engine index the next reading will have (after append_tail).
    uint64_t end_index() const { return static_cast<uint64_t>(m_end); }
    void clear();

    std::size_t size() const { return static_cast<std::size_t>(m_end - m_first); }
    bool empty() const { return m_end == m_first; }
    // Seconds since start_us of the newest reading held (0 when empty).
    double last_x(uint64_t start_us) const;

    // Lowest and highest value that is neither overload (either sign) nor NaN nor
    // infinite, and how many such values there are.
    struct normal_range_t {
        std::size_t count = 0;
        double min = 0.0;
        double max = 0.0;
    };
    normal_range_t normal_range() const;

    // Points to draw, in reading order, x in seconds since start_us. With reduce set,
    // each pixel column of a run of non-decreasing timestamps is cut down to its first,
    // lowest, highest and last point; without, every reading is a point. `dense`, when
    // given, gets one flag per point: set for the points standing for a column of more
    // than four readings.
    // `halves`, when given, gets one entry per reduced column (see chart_column_halves_t).
    void points(uint64_t start_us, const chart_column_map_t& columns, const chart_scan_ymap_t& ymap,
                bool reduce, QVector<QPointF>& out, std::vector<uint8_t>* dense = nullptr,
                std::vector<chart_column_halves_t>* halves = nullptr) const;

    // Test access: the readings held, oldest first.
    int64_t timestamp_at(std::size_t k) const { return m_ts[_phys(m_first + static_cast<int64_t>(k))]; }
    double value_at(std::size_t k) const { return m_v[_phys(m_first + static_cast<int64_t>(k))]; }

private:
    static constexpr int level_count = 4;  // blocks of 16, 256, 4096, 65536 readings
    static constexpr int level_shift = 4;  // log2(16)
    static constexpr int64_t top_block = int64_t(1) << (level_shift * level_count);

    // Extremes of a set of readings with their absolute reading indexes (-1: none). The
    // values travel with the indexes so merging blocks never reads the readings again.
    struct envelope_t {
        double vmin = 0.0;  // lowest finite value (overload included)
        double vmax = 0.0;  // highest finite value
        double nmin = 0.0;  // lowest value that is not overload
        double nmax = 0.0;
        int64_t imin = -1;
        int64_t imax = -1;
        int64_t inorm_min = -1;
        int64_t inorm_max = -1;
        int64_t inan = -1;  // first NaN or infinite value
        int64_t norm_count = 0;
    };

    std::size_t _phys(int64_t abs) const { return static_cast<std::size_t>(abs - m_base); }
    void _append(int64_t ts, double v);
    void _drop_front(int64_t count);
    void _reset_at(int64_t abs);  // empty, the next reading numbered abs
    void _reserve_more(std::size_t count);
    // Without `normal`, only the finite extremes and the first NaN are kept (what a
    // pixel column needs), which spares the overload test of every reading.
    template <bool normal>
    void _merge_reading(envelope_t& e, int64_t abs) const;
    template <bool normal>
    void _merge(envelope_t& e, const envelope_t& block) const;
    template <bool normal>
    envelope_t _query(int64_t i0, int64_t i1) const;
    // The extremes of column `col` = readings [i0, i1): the whole column and its left
    // and right parts, from the previous reduction when it had the same column;
    // columns must come in increasing i0 within one reduction.
    struct column_envelopes_t {
        envelope_t whole;
        envelope_t left;
        envelope_t right;
        int64_t left_end = 0;     // the first reading past the left part
        int64_t right_begin = 0;  // the first reading of the right part
    };
    column_envelopes_t _column_envelope(int64_t i0, int64_t i1, int64_t col, uint64_t start_us,
                                        const chart_column_map_t& columns) const;
    double _x(int64_t abs, uint64_t start_us) const;
    void _emit_column(int64_t i0, int64_t i1, int64_t col, uint64_t start_us, const chart_column_map_t& columns,
                      const chart_scan_ymap_t& ymap, QVector<QPointF>& out, std::vector<uint8_t>* dense,
                      std::vector<chart_column_halves_t>* halves) const;
    void _emit_run(int64_t r0, int64_t r1, uint64_t start_us, const chart_column_map_t& columns,
                   const chart_scan_ymap_t& ymap, QVector<QPointF>& out, std::vector<uint8_t>* dense,
                   std::vector<chart_column_halves_t>* halves) const;

    // Absolute reading indexes: the copy holds [m_first, m_end); physical element 0 is
    // reading m_base, a multiple of the top block size so block numbering survives the
    // trimming of dropped readings.
    int64_t m_base = 0;
    int64_t m_first = 0;
    int64_t m_end = 0;
    std::vector<int64_t> m_ts;
    std::vector<double> m_v;
    std::vector<envelope_t> m_levels[level_count];
    // Start indexes of the runs of non-decreasing timestamps (the first may precede
    // m_first after drops); a clock step back starts a new run.
    std::deque<int64_t> m_runs;

    // The columns of the last reduction with their extremes. Readings at an absolute
    // index never change until clear(), so a redraw whose column keeps its readings
    // (the axis moved too little to shift it) reuses them; clear() forgets them.
    struct cached_column_t {
        int64_t i0;
        int64_t i1;
        column_envelopes_t e;
    };
    mutable std::vector<cached_column_t> m_columns;
    mutable std::vector<cached_column_t> m_next_columns;  // being built; swapped in at the end
    mutable std::size_t m_column_cursor = 0;
};
