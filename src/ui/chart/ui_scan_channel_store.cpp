#include "ui/chart/ui_scan_channel_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "common/plib_format.h"

namespace {

bool is_overload_either_sign(double v) {
    return is_equal(v, plib_overload_value) || is_equal(v, -plib_overload_value);
}

// Bitwise equality, so a NaN reading matches itself when the copy is lined up.
bool same_reading(int64_t ts_a, double v_a, const plib_data_t& b) {
    return ts_a == b.timestamp && std::memcmp(&v_a, &b.value, sizeof(double)) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Mappings

chart_scan_ymap_t::chart_scan_ymap_t(double lower, double upper) {
    const double span = upper - lower;
    if (span != 0.0 && std::isfinite(span)) {
        k = 60000.0 / span;
        c = (upper + lower) / 2.0;
    }
}

double chart_scan_ymap_t::y(double v) const {
    if (k == 0.0) return 0.0;
    const double r = k * (v - c);
    return std::isfinite(r) ? r : 0.0;
}

chart_column_map_t::chart_column_map_t(double s1_, double s2_, double p1_, double p2_) : s1(s1_), p1(p1_) {
    const double span = s2_ - s1_;
    scale = span != 0.0 && std::isfinite(span) ? (p2_ - p1_) / span : 0.0;
    // Four guard columns on each side: a 6-pixel symbol centred just outside the axis
    // still reaches into the canvas.
    constexpr int64_t guard = 4;
    const double a = std::min(p1_, p2_);
    const double b = std::max(p1_, p2_);
    lo = static_cast<int64_t>(std::floor(std::clamp(a, -1e9, 1e9))) - guard;
    hi = static_cast<int64_t>(std::ceil(std::clamp(b, -1e9, 1e9))) + guard;
}

int64_t chart_column_map_t::column(double x) const {
    const double p = p1 + (x - s1) * scale;
    // Clamping before the conversion keeps it defined for any x and the column
    // non-decreasing in x, which the search over a run relies on.
    if (!(p >= static_cast<double>(lo))) return lo - 1;
    if (!(p < static_cast<double>(hi + 1))) return hi + 1;
    return static_cast<int64_t>(std::floor(p));
}

// ---------------------------------------------------------------------------------------
// Following the engine

void ui_scan_channel_store_t::clear() {
    m_base = m_first = m_end = 0;
    m_ts.clear();
    m_v.clear();
    for (auto& level : m_levels) level.clear();
    m_runs.clear();
    // Absolute indexes start over, so the cached columns would name other readings.
    m_columns.clear();
}

bool ui_scan_channel_store_t::sync(const std::vector<plib_data_t>& readings, uint64_t start_us) {
    if (readings.empty()) {
        clear();
        return true;
    }
    std::size_t from = 0;  // first reading of `readings` not held yet
    if (!empty()) {
        // How many of the held readings the engine has dropped since the last call.
        int64_t dropped = -1;
        if (same_reading(m_ts[_phys(m_first)], m_v[_phys(m_first)], readings.front())) {
            dropped = 0;
        } else if (m_runs.size() == 1) {
            // Timestamps do not decrease: find the engine's oldest reading by its stamp.
            const auto begin = m_ts.begin() + static_cast<std::ptrdiff_t>(_phys(m_first));
            const auto end = m_ts.begin() + static_cast<std::ptrdiff_t>(_phys(m_end));
            auto it = std::lower_bound(begin, end, readings.front().timestamp);
            for (int tries = 0; it != end && *it == readings.front().timestamp && tries < 64; ++it, ++tries) {
                const int64_t abs = m_base + (it - m_ts.begin());
                if (same_reading(*it, m_v[_phys(abs)], readings.front())) {
                    dropped = abs - m_first;
                    break;
                }
            }
        }
        const int64_t kept = dropped < 0 ? 0 : static_cast<int64_t>(size()) - dropped;
        // The newest held reading and one in the middle must be where the engine has
        // them; otherwise (a new run, a cleared memory) start over.
        bool lined_up = dropped >= 0 && kept <= static_cast<int64_t>(readings.size());
        if (lined_up && kept > 0) {
            const int64_t last = m_end - 1;
            const int64_t mid = m_first + dropped + kept / 2;
            lined_up =
                same_reading(m_ts[_phys(last)], m_v[_phys(last)],
                             readings[static_cast<std::size_t>(kept - 1)]) &&
                same_reading(m_ts[_phys(mid)], m_v[_phys(mid)], readings[static_cast<std::size_t>(kept / 2)]);
        }
        if (lined_up) {
            _drop_front(dropped);
            from = static_cast<std::size_t>(kept);
        } else {
            clear();
        }
    }
    _reserve_more(readings.size() - from);
    for (std::size_t k = from; k < readings.size(); ++k) {
        const plib_data_t& r = readings[k];
        if (r.timestamp < 0 || static_cast<uint64_t>(r.timestamp) < start_us) return false;
        _append(r.timestamp, r.value);
    }
    return true;
}

void ui_scan_channel_store_t::_reserve_more(std::size_t count) {
    // Growth stays geometric: reserving exactly what one tick adds would move the whole
    // copy at every tick of a long run.
    const std::size_t need = m_ts.size() + count;
    if (need <= m_ts.capacity()) return;
    const std::size_t cap = std::max(need, m_ts.capacity() * 2);
    m_ts.reserve(cap);
    m_v.reserve(cap);
}

void ui_scan_channel_store_t::_reset_at(int64_t abs) {
    clear();
    // Physical element 0 stays a top-block boundary; the padding before abs is never read.
    m_base = abs & ~(top_block - 1);
    m_first = m_end = abs;
    m_ts.assign(static_cast<std::size_t>(abs - m_base), 0);
    m_v.assign(static_cast<std::size_t>(abs - m_base), 0.0);
}

bool ui_scan_channel_store_t::append_tail(const plib_scan_channel_tail_t& tail, uint64_t start_us) {
    // Indexes beyond int64 do not occur (the engine counts readings); refuse them anyway.
    constexpr uint64_t index_limit = uint64_t(1) << 62;
    if (tail.first_index >= index_limit || tail.oldest_index >= index_limit) {
        clear();
        return true;
    }
    const int64_t first = static_cast<int64_t>(tail.first_index);
    const int64_t oldest = std::min(static_cast<int64_t>(tail.oldest_index), first);
    if (first > m_end || first < m_first) {
        _reset_at(first);
    } else if (oldest > m_first) {
        _drop_front(oldest - m_first);
    }
    // Readings already held (a repeated read-out) are not added twice.
    const std::size_t skip = static_cast<std::size_t>(m_end - first);
    if (skip >= tail.readings.size()) return true;
    _reserve_more(tail.readings.size() - skip);
    for (std::size_t k = skip; k < tail.readings.size(); ++k) {
        const plib_data_t& r = tail.readings[k];
        if (r.timestamp < 0 || static_cast<uint64_t>(r.timestamp) < start_us) return false;
        _append(r.timestamp, r.value);
    }
    return true;
}

void ui_scan_channel_store_t::_append(int64_t ts, double v) {
    const int64_t abs = m_end;
    if (m_runs.empty() || (m_end > m_first && ts < m_ts.back())) m_runs.push_back(abs);
    m_ts.push_back(ts);
    m_v.push_back(v);
    ++m_end;
    for (int level = 0; level < level_count; ++level) {
        const int shift = level_shift * (level + 1);
        const std::size_t block = static_cast<std::size_t>((abs >> shift) - (m_base >> shift));
        auto& blocks = m_levels[level];
        if (block >= blocks.size()) blocks.resize(block + 1);
        _merge_reading<true>(blocks[block], abs);
    }
}

void ui_scan_channel_store_t::_drop_front(int64_t count) {
    if (count <= 0) return;
    m_first += count;
    while (m_runs.size() > 1 && m_runs[1] <= m_first) m_runs.pop_front();
    // Give the memory of dropped readings back in whole top blocks, once they are at
    // least half of what is held, so trimming stays amortised constant per reading.
    const int64_t trim = (m_first & ~(top_block - 1)) - m_base;
    if (trim >= top_block && trim >= m_end - m_first) {
        m_ts.erase(m_ts.begin(), m_ts.begin() + static_cast<std::ptrdiff_t>(trim));
        m_v.erase(m_v.begin(), m_v.begin() + static_cast<std::ptrdiff_t>(trim));
        for (int level = 0; level < level_count; ++level) {
            const int shift = level_shift * (level + 1);
            auto& blocks = m_levels[level];
            blocks.erase(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(trim >> shift));
        }
        m_base += trim;
    }
}

// ---------------------------------------------------------------------------------------
// Envelopes

template <bool normal>
void ui_scan_channel_store_t::_merge_reading(envelope_t& e, int64_t abs) const {
    const double v = m_v[_phys(abs)];
    if (!std::isfinite(v)) {
        if (e.inan < 0) e.inan = abs;
        return;
    }
    if (e.imin < 0 || v < e.vmin) e.imin = abs, e.vmin = v;
    if (e.imax < 0 || v > e.vmax) e.imax = abs, e.vmax = v;
    if (!normal || is_overload_either_sign(v)) return;
    if (e.inorm_min < 0 || v < e.nmin) e.inorm_min = abs, e.nmin = v;
    if (e.inorm_max < 0 || v > e.nmax) e.inorm_max = abs, e.nmax = v;
    ++e.norm_count;
}

template <bool normal>
void ui_scan_channel_store_t::_merge(envelope_t& e, const envelope_t& b) const {
    if (b.inan >= 0 && (e.inan < 0 || b.inan < e.inan)) e.inan = b.inan;
    if (b.imin >= 0 && (e.imin < 0 || b.vmin < e.vmin)) e.imin = b.imin, e.vmin = b.vmin;
    if (b.imax >= 0 && (e.imax < 0 || b.vmax > e.vmax)) e.imax = b.imax, e.vmax = b.vmax;
    if (!normal) return;
    if (b.inorm_min >= 0 && (e.inorm_min < 0 || b.nmin < e.nmin)) e.inorm_min = b.inorm_min, e.nmin = b.nmin;
    if (b.inorm_max >= 0 && (e.inorm_max < 0 || b.nmax > e.nmax)) e.inorm_max = b.inorm_max, e.nmax = b.nmax;
    e.norm_count += b.norm_count;
}

template <bool normal>
ui_scan_channel_store_t::envelope_t ui_scan_channel_store_t::_query(int64_t i0, int64_t i1) const {
    envelope_t e;
    int64_t i = i0;
    while (i < i1) {
        // The largest whole block that starts at i and ends inside [i, i1). A block
        // starting at or after m_first holds no dropped reading.
        int level = 0;
        while (level < level_count) {
            const int64_t size = int64_t(1) << (level_shift * (level + 1));
            if ((i & (size - 1)) != 0 || i + size > i1) break;
            ++level;
        }
        if (level == 0) {
            _merge_reading<normal>(e, i);
            ++i;
        } else {
            const int shift = level_shift * level;
            _merge<normal>(e,
                           m_levels[level - 1][static_cast<std::size_t>((i >> shift) - (m_base >> shift))]);
            i += int64_t(1) << shift;
        }
    }
    return e;
}

ui_scan_channel_store_t::column_envelopes_t ui_scan_channel_store_t::_column_envelope(
    int64_t i0, int64_t i1, int64_t col, uint64_t start_us, const chart_column_map_t& columns) const {
    while (m_column_cursor < m_columns.size() && m_columns[m_column_cursor].i0 < i0) ++m_column_cursor;
    column_envelopes_t e;
    if (m_column_cursor < m_columns.size() && m_columns[m_column_cursor].i0 == i0 &&
        m_columns[m_column_cursor].i1 == i1) {
        e = m_columns[m_column_cursor].e;
    } else {
        // The first reading at or past a position in the pixel (positions do not
        // decrease within a run); the merged columns beyond the axis have no parts.
        auto first_at = [&](double offset) {
            int64_t good = i0 - 1;  // last index known before the position
            int64_t bad = i1;       // first index known at or past it
            const double at = static_cast<double>(col) + offset;
            while (bad - good > 1) {
                const int64_t mid = good + (bad - good) / 2;
                if (columns.position(_x(mid, start_us)) < at) {
                    good = mid;
                } else {
                    bad = mid;
                }
            }
            return bad;
        };
        const bool inside = col >= columns.lo && col <= columns.hi;
        e.left_end = inside ? first_at(chart_column_side_part) : i1;
        e.right_begin = inside ? first_at(1.0 - chart_column_side_part) : i0;
        e.whole = _query<false>(i0, i1);
        e.left = _query<false>(i0, e.left_end);
        e.right = _query<false>(e.right_begin, i1);
    }
    m_next_columns.push_back({i0, i1, e});
    return e;
}

ui_scan_channel_store_t::normal_range_t ui_scan_channel_store_t::normal_range() const {
    normal_range_t r;
    const envelope_t e = _query<true>(m_first, m_end);
    if (e.norm_count == 0) return r;
    r.count = static_cast<std::size_t>(e.norm_count);
    r.min = e.nmin;
    r.max = e.nmax;
    return r;
}

// ---------------------------------------------------------------------------------------
// Points

double ui_scan_channel_store_t::_x(int64_t abs, uint64_t start_us) const {
    // Held readings are never stamped before the start (sync refuses them).
    return static_cast<double>(static_cast<uint64_t>(m_ts[_phys(abs)]) - start_us) / 1e6;
}

double ui_scan_channel_store_t::last_x(uint64_t start_us) const {
    return empty() ? 0.0 : _x(m_end - 1, start_us);
}

void ui_scan_channel_store_t::_emit_column(int64_t i0, int64_t i1, int64_t col, uint64_t start_us,
                                           const chart_column_map_t& columns, const chart_scan_ymap_t& ymap,
                                           QVector<QPointF>& out, std::vector<uint8_t>* dense,
                                           std::vector<chart_column_halves_t>* halves) const {
    const bool many = i1 - i0 > 4;
    auto put = [&](int64_t abs) {
        out.append(QPointF(_x(abs, start_us), ymap.y(m_v[_phys(abs)])));
        if (dense != nullptr) dense->push_back(many ? 1 : 0);
    };
    if (!many) {
        for (int64_t i = i0; i < i1; ++i) put(i);
        return;
    }
    // The lowest and the highest y of a set of readings: y is monotonic in the finite
    // values (rising or falling with the sign of k), and every NaN or infinite value
    // sits at 0. A value so far out that its y overflows is drawn at 0 too, so then the
    // extremes of the values are not those of the y: every reading is looked at.
    struct extent_t {
        int64_t lo = -1;
        int64_t hi = -1;
        double ylo = 0.0;
        double yhi = 0.0;
        void consider(int64_t abs, double y) {
            if (lo < 0 || y < ylo) lo = abs, ylo = y;
            if (hi < 0 || y > yhi) hi = abs, yhi = y;
        }
    };
    auto extent_of = [&](const envelope_t& e, int64_t a, int64_t b) {
        extent_t x;
        bool overflow = false;
        for (const auto& [abs, v] : {std::make_pair(e.imin, e.vmin), std::make_pair(e.imax, e.vmax)}) {
            if (abs < 0) continue;
            const double r = ymap.k * (v - ymap.c);
            if (ymap.k != 0.0 && !std::isfinite(r)) overflow = true;
            x.consider(abs, ymap.y(v));
        }
        if (e.inan >= 0) x.consider(e.inan, 0.0);
        if (overflow) {
            x = extent_t();
            for (int64_t i = a; i < b; ++i) x.consider(i, ymap.y(m_v[_phys(i)]));
        }
        return x;
    };
    const column_envelopes_t e = _column_envelope(i0, i1, col, start_us, columns);
    const extent_t whole = extent_of(e.whole, i0, i1);
    if (halves != nullptr) {
        chart_column_halves_t h;
        h.first = out.size();
        const extent_t left = extent_of(e.left, i0, e.left_end);
        const extent_t right = extent_of(e.right, e.right_begin, i1);
        h.left = left.lo >= 0;
        h.right = right.lo >= 0;
        h.left_lo = left.ylo;
        h.left_hi = left.yhi;
        h.right_lo = right.ylo;
        h.right_hi = right.yhi;
        halves->push_back(h);
    }
    int64_t picks[4] = {i0, whole.lo, whole.hi, i1 - 1};
    std::sort(std::begin(picks), std::end(picks));
    for (int k = 0; k < 4; ++k) {
        if (k > 0 && picks[k] == picks[k - 1]) continue;
        put(picks[k]);
    }
}

void ui_scan_channel_store_t::_emit_run(int64_t r0, int64_t r1, uint64_t start_us,
                                        const chart_column_map_t& columns, const chart_scan_ymap_t& ymap,
                                        QVector<QPointF>& out, std::vector<uint8_t>* dense,
                                        std::vector<chart_column_halves_t>* halves) const {
    int64_t i = r0;
    int64_t last_count = 0;  // readings of the previous column
    while (i < r1) {
        const int64_t col = columns.column(_x(i, start_us));
        // End of the column: gallop, then bisect (columns do not decrease within a run).
        int64_t good = i;  // last index known to be in the column
        int64_t step = 1;
        int64_t bad = r1;  // first index known to be past it (or the run's end)
        // Evenly spaced readings fill every column alike: try the previous column's
        // count first, which mostly settles the end in two probes.
        if (last_count > 1) {
            const int64_t guess = i + last_count - 1;
            if (guess < r1) {
                if (columns.column(_x(guess, start_us)) == col) {
                    good = guess;
                    if (guess + 1 >= r1 || columns.column(_x(guess + 1, start_us)) != col) bad = guess + 1;
                } else {
                    bad = guess;
                }
            }
        }
        while (bad == r1 && good + step < r1) {
            if (columns.column(_x(good + step, start_us)) != col) {
                bad = good + step;
                break;
            }
            good += step;
            step *= 2;
        }
        while (bad - good > 1) {
            const int64_t mid = good + (bad - good) / 2;
            if (columns.column(_x(mid, start_us)) == col) {
                good = mid;
            } else {
                bad = mid;
            }
        }
        _emit_column(i, bad, col, start_us, columns, ymap, out, dense, halves);
        last_count = bad - i;
        i = bad;
    }
}

void ui_scan_channel_store_t::points(uint64_t start_us, const chart_column_map_t& columns,
                                     const chart_scan_ymap_t& ymap, bool reduce, QVector<QPointF>& out,
                                     std::vector<uint8_t>* dense,
                                     std::vector<chart_column_halves_t>* halves) const {
    out.clear();
    if (dense != nullptr) dense->clear();
    if (halves != nullptr) halves->clear();
    if (empty()) return;
    if (!reduce) {
        out.reserve(static_cast<int>(std::min<int64_t>(size(), INT32_MAX)));
        for (int64_t i = m_first; i < m_end; ++i) out.append(QPointF(_x(i, start_us), ymap.y(m_v[_phys(i)])));
        if (dense != nullptr) dense->assign(static_cast<std::size_t>(out.size()), 0);
        return;
    }
    // Each run of non-decreasing timestamps is reduced on its own and the runs are
    // joined in reading order, so the line between them is the one of the full data.
    m_next_columns.clear();
    m_column_cursor = 0;
    for (std::size_t k = 0; k < m_runs.size(); ++k) {
        const int64_t r0 = std::max(m_runs[k], m_first);
        const int64_t r1 = k + 1 < m_runs.size() ? m_runs[k + 1] : m_end;
        if (r0 < r1) _emit_run(r0, r1, start_us, columns, ymap, out, dense, halves);
    }
    m_columns.swap(m_next_columns);
}
