#include "ui/chart/ui_scan_curve.h"

#include <qwt_clipper.h>
#include <qwt_painter.h>
#include <qwt_scale_map.h>
#include <qwt_symbol.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

struct column_span_t {
    int64_t col;
    double lo;  // device rows
    double hi;
    int kind = 0;  // which of the pen halves given to fill_columns widens it
    // The rows of what lies in the column's left [0] and right [1] part (three quarters
    // of the pixel each, chart_column_halves_t): all a neighbour on that side is reached
    // by when the pen reaches it from the near half only.
    // An empty side has lo > hi.
    double side_lo[2];
    double side_hi[2];
};

column_span_t make_span(int64_t col, double lo, double hi) {
    return {col, lo, hi, 0, {lo, lo}, {hi, hi}};
}

void widen(double& lo, double& hi, double row) {
    lo = std::min(lo, row);
    hi = std::max(hi, row);
}

// Turns the covered rows of consecutive pixel columns into rectangles of whole rows:
// a row's run starts where a column first covers it and ends where one stops covering
// it, and rows ending together that started together become one rectangle. The raster
// engine fills row by row, so a few wide rectangles cost far less than one narrow
// rectangle per column (one call per covered pixel, in effect).
class row_runs_t {
public:
    row_runs_t(int top, int bottom) : m_top(top), m_start(static_cast<std::size_t>(bottom - top + 1), 0) {}

    // Column x (increasing from call to call) covers the sorted, disjoint half-open
    // row intervals `cur`, all within [top, bottom].
    void column(int x, const std::vector<std::pair<int, int>>& cur, std::vector<QRect>& out) {
        if (x != m_prev_x + 1) {
            _close(m_prev, m_prev_x + 1, out);
            m_prev.clear();
        }
        // Walk the boundaries of both lists; every stretch between two boundaries is in
        // neither list, only the old, only the new, or both. Each step passes one boundary.
        const int none = std::numeric_limits<int>::max();
        std::size_t i = 0;
        std::size_t j = 0;
        int pos =
            std::min(m_prev.empty() ? none : m_prev.front().first, cur.empty() ? none : cur.front().first);
        while (i < m_prev.size() || j < cur.size()) {
            const bool in_a = i < m_prev.size() && m_prev[i].first <= pos;
            const bool in_b = j < cur.size() && cur[j].first <= pos;
            const int next_a = i < m_prev.size() ? (in_a ? m_prev[i].second : m_prev[i].first) : none;
            const int next_b = j < cur.size() ? (in_b ? cur[j].second : cur[j].first) : none;
            const int next = std::min(next_a, next_b);
            if (in_b && !in_a) {
                for (int r = pos; r < next; ++r) m_start[_row(r)] = x;
            } else if (in_a && !in_b) {
                _end_rows(pos, next, x, out);
            }
            pos = next;
            if (i < m_prev.size() && pos >= m_prev[i].second) ++i;
            if (j < cur.size() && pos >= cur[j].second) ++j;
        }
        m_prev = cur;
        m_prev_x = x;
    }
    void finish(std::vector<QRect>& out) {
        _close(m_prev, m_prev_x + 1, out);
        m_prev.clear();
    }

private:
    std::size_t _row(int r) const { return static_cast<std::size_t>(r - m_top); }
    void _end_rows(int lo, int hi, int x, std::vector<QRect>& out) {
        int r = lo;
        while (r < hi) {
            const int start = m_start[_row(r)];
            int k = r + 1;
            while (k < hi && m_start[_row(k)] == start) ++k;
            out.emplace_back(start, r, x - start, k - r);
            r = k;
        }
    }
    void _close(const std::vector<std::pair<int, int>>& open, int x, std::vector<QRect>& out) {
        for (const auto& iv : open) _end_rows(iv.first, iv.second, x, out);
    }

    int m_top;
    std::vector<int> m_start;  // per row: the column its open run started at
    std::vector<std::pair<int, int>> m_prev;
    int m_prev_x = std::numeric_limits<int>::min() + 1;
};

// Fills, for every device pixel column, the union of the spans of the columns within
// `half` pixels of it, each widened by `half` rows: what a pen (or symbol) of width
// 2 * half leaves along the points of those columns. A neighbour that only the near
// half of a column can reach gets that side's rows only. A span of kind k uses halves[k], so
// strokes and marks of one colour fill in one pass. Filled in whole device pixels,
// without antialiasing.
void fill_columns(QPainter* painter, std::vector<column_span_t>& spans, const double (&halves)[2], double dpr,
                  const QColor& color, const QRectF& canvas) {
    if (spans.empty()) return;
    const auto by_column = [](const column_span_t& a, const column_span_t& b) { return a.col < b.col; };
    if (!std::is_sorted(spans.begin(), spans.end(), by_column))
        std::sort(spans.begin(), spans.end(), by_column);
    // Everything is cut to the canvas (in device pixels), so the canvas's clip (a path
    // when the canvas has a styled frame, which sends every fill down the slow path)
    // can go.
    const QRect bounds = dpr == 1.0 ? canvas.toAlignedRect()
                                    : QRectF(canvas.topLeft() * dpr, canvas.size() * dpr).toAlignedRect();
    if (bounds.isEmpty()) return;
    // A round mark (pen end, symbol) reaches less far up and down at the side than at
    // its middle; the point may sit anywhere in its column. Reach by column distance:
    int64_t kind_reach[2];
    std::vector<double> reach_rows[2];
    for (int kind = 0; kind < 2; ++kind) {
        const double half = halves[kind];
        kind_reach[kind] = static_cast<int64_t>(std::ceil(std::max(0.0, half - 0.5)));
        reach_rows[kind].resize(static_cast<std::size_t>(kind_reach[kind]) + 1);
        for (int64_t dx = 0; dx <= kind_reach[kind]; ++dx) {
            const double d = std::max(0.0, static_cast<double>(dx) - 0.5);
            reach_rows[kind][static_cast<std::size_t>(dx)] = std::sqrt(std::max(0.0, half * half - d * d));
        }
    }
    const int64_t reach = std::max(kind_reach[0], kind_reach[1]);
    row_runs_t runs(bounds.top(), bounds.bottom());
    std::vector<QRect> out;
    std::vector<std::pair<double, double>> here;
    std::vector<std::pair<int, int>> rows;
    std::size_t first = 0;
    const int64_t x_begin = std::max<int64_t>(spans.front().col - reach, bounds.left());
    const int64_t x_end = std::min<int64_t>(spans.back().col + reach, bounds.right());
    for (int64_t x = x_begin; x <= x_end; ++x) {
        while (first < spans.size() && spans[first].col < x - reach) ++first;
        here.clear();
        for (std::size_t k = first; k < spans.size() && spans[k].col <= x + reach; ++k) {
            const column_span_t& span = spans[k];
            const int64_t dx = x > span.col ? x - span.col : span.col - x;
            const int kind = span.kind;
            if (dx > kind_reach[kind]) continue;
            const double h = reach_rows[kind][static_cast<std::size_t>(dx)];
            double lo = span.lo;
            double hi = span.hi;
            // The pen reaches the middle of column col + dx from the points at least
            // dx + 0.5 - half pixels into the column, counted from the neighbour's side:
            // from half a pixel on, those lie in the near half, which the side's part
            // covers with a quarter pixel to spare for the stroke's joins.
            if (dx > 0 && static_cast<double>(dx) + 0.5 - halves[kind] >= 0.5 - 1e-9) {
                const int side = x > span.col ? 1 : 0;
                lo = span.side_lo[side];
                hi = span.side_hi[side];
                if (lo > hi) continue;
            }
            here.emplace_back(std::floor(lo - h), std::ceil(hi + h));
        }
        rows.clear();
        if (!here.empty()) {
            std::sort(here.begin(), here.end());
            double lo = here[0].first;
            double hi = here[0].second;
            auto add_rows = [&] {
                // Half-open rows [lo, max(lo + 1, hi)), cut to the canvas.
                const double a = std::max(lo, static_cast<double>(bounds.top()));
                const double b = std::min(std::max(lo + 1.0, hi), static_cast<double>(bounds.bottom()) + 1.0);
                if (a < b) rows.emplace_back(static_cast<int>(a), static_cast<int>(b));
            };
            for (std::size_t k = 1; k < here.size(); ++k) {
                if (here[k].first <= hi) {
                    hi = std::max(hi, here[k].second);
                } else {
                    add_rows();
                    lo = here[k].first;
                    hi = here[k].second;
                }
            }
            add_rows();
        }
        runs.column(static_cast<int>(x), rows, out);
    }
    runs.finish(out);

    const bool clipping = painter->hasClipping();
    painter->setClipping(false);
    painter->setRenderHint(QPainter::Antialiasing, false);
    if (dpr == 1.0) {
        scan_curve_fill_rects(painter, out, color);
    } else {
        for (const QRect& r : out) {
            painter->fillRect(
                QRectF(QPointF(r.left() / dpr, r.top() / dpr), QSizeF(r.width() / dpr, r.height() / dpr)),
                color);
        }
    }
    painter->setClipping(clipping);
}

}  // namespace

// The raster engine pays a clip and a span set-up per rectangle, which at tens of
// thousands of small rectangles was most of a redraw; writing the rows into a scratch
// image and blending its bounding box once costs a memory fill per row instead (the
// blend skips transparent pixels four at a time).
void scan_curve_fill_rects(QPainter* painter, const std::vector<QRect>& rects, const QColor& color) {
    if (rects.empty()) return;
    QRect box;
    for (const QRect& r : rects) box |= r;
    // One scratch image, grown as needed and reused: charts draw on the GUI thread only.
    static thread_local QImage scratch;
    if (scratch.width() < box.width() || scratch.height() < box.height()) {
        scratch = QImage(std::max(scratch.width(), box.width()), std::max(scratch.height(), box.height()),
                         QImage::Format_ARGB32_Premultiplied);
    }
    if (scratch.isNull()) {  // out of memory: the raster engine's way
        painter->setPen(Qt::NoPen);
        painter->setBrush(color);
        painter->drawRects(rects.data(), static_cast<int>(rects.size()));
        return;
    }
    const std::size_t row_bytes = static_cast<std::size_t>(box.width()) * sizeof(QRgb);
    for (int y = 0; y < box.height(); ++y) std::memset(scratch.scanLine(y), 0, row_bytes);
    const QRgb pixel = qPremultiply(color.rgba());
    for (const QRect& r : rects) {
        const int x0 = r.left() - box.left();
        for (int y = r.top(); y <= r.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(scratch.scanLine(y - box.top()));
            std::fill_n(line + x0, r.width(), pixel);
        }
    }
    painter->drawImage(box.topLeft(), scratch, QRect(QPoint(0, 0), box.size()));
}

ui_scan_curve_t::ui_scan_curve_t(const QString& title) : QwtPlotCurve(title) {}

void ui_scan_curve_t::set_points(const QVector<QPointF>& points, std::vector<uint8_t> dense,
                                 std::vector<chart_column_halves_t> halves, const chart_column_map_t& columns) {
    m_dense = std::move(dense);
    m_halves = std::move(halves);
    m_columns = columns;
    setSamples(points);
}

void ui_scan_curve_t::drawSeries(QPainter* painter, const QwtScaleMap& x_map, const QwtScaleMap& y_map,
                                 const QRectF& canvas_rect, int from, int to) const {
    const int n = static_cast<int>(dataSize());
    if (to < 0) to = n - 1;
    if (m_dense.size() != static_cast<std::size_t>(n) || n == 0 || from > 0 || to < n - 1 ||
        std::find(m_dense.begin(), m_dense.end(), 1) == m_dense.end()) {
        QwtPlotCurve::drawSeries(painter, x_map, y_map, canvas_rect, from, to);
        return;
    }
    const double dpr = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    QVector<QPointF> px(n);
    std::vector<int64_t> col(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const QPointF p = sample(i);
        px[i] = QPointF(x_map.transform(p.x()), y_map.transform(p.y()));
        col[static_cast<std::size_t>(i)] = m_columns.column(p.x());
    }
    const QPen line_pen = pen();
    const bool lines = style() == QwtPlotCurve::Lines && line_pen.style() != Qt::NoPen;
    const QwtSymbol* sym = symbol();
    const bool symbols = sym != nullptr && sym->style() != QwtSymbol::NoSymbol;
    const QSizeF sym_size = symbols ? QSizeF(sym->size()) : QSizeF();
    const QColor sym_color =
        symbols ? (sym->brush().style() != Qt::NoBrush ? sym->brush().color() : sym->pen().color())
                : QColor();

    // Values far off the range map far off the canvas; only what reaches it is drawn.
    const QRectF reach = canvas_rect.adjusted(-16, -16, 16, 16);
    const double row_lo = std::floor(reach.top() * dpr);
    const double row_hi = std::ceil(reach.bottom() * dpr);
    auto row = [&](double y) { return std::clamp(y * dpr, row_lo, row_hi); };

    // Rows (device pixels) of each dense column's points, and the column's extent taken
    // on to the next column's first point when that column is dense too (the join).
    std::vector<column_span_t> marks;
    const double mark_merge_rows = 2.0 * std::max(sym_size.width(), sym_size.height()) * dpr;
    std::vector<column_span_t> joined;
    std::size_t half_cursor = 0;  // the next entry of m_halves
    for (int i = 0; i < n;) {
        if (!m_dense[static_cast<std::size_t>(i)]) {
            ++i;
            continue;
        }
        const int64_t c = col[static_cast<std::size_t>(i)];
        int j = i;
        double lo = row(px[i].y());
        double hi = lo;
        while (j < n && m_dense[static_cast<std::size_t>(j)] && col[static_cast<std::size_t>(j)] == c) {
            lo = std::min(lo, row(px[j].y()));
            hi = std::max(hi, row(px[j].y()));
            ++j;
        }
        // Where the column's readings lie in its pixel: the halves of the reduced
        // columns whose points are these (one, or more where runs meet in a column).
        column_span_t span = make_span(c, lo, hi);
        while (half_cursor < m_halves.size() && m_halves[half_cursor].first < i) ++half_cursor;
        bool sided = false;
        for (; half_cursor < m_halves.size() && m_halves[half_cursor].first < j; ++half_cursor) {
            const chart_column_halves_t& h = m_halves[half_cursor];
            if (!sided) {
                span.side_lo[0] = span.side_lo[1] = std::numeric_limits<double>::infinity();
                span.side_hi[0] = span.side_hi[1] = -std::numeric_limits<double>::infinity();
                sided = true;
            }
            if (h.left) {
                widen(span.side_lo[0], span.side_hi[0], row(y_map.transform(h.left_lo)));
                widen(span.side_lo[0], span.side_hi[0], row(y_map.transform(h.left_hi)));
            }
            if (h.right) {
                widen(span.side_lo[1], span.side_hi[1], row(y_map.transform(h.right_lo)));
                widen(span.side_lo[1], span.side_hi[1], row(y_map.transform(h.right_hi)));
            }
        }
        if (hi - lo <= mark_merge_rows) {
            // A short column: its readings' symbols overlap into one block.
            marks.push_back(span);
        } else {
            // A tall one (a spike): its lowest and highest point carry symbols; the
            // stroke covers the rest. Each mark reaches a neighbour from its own side.
            for (const double r : {lo, hi}) {
                column_span_t mark = make_span(c, r, r);
                if (sided) {
                    for (int side = 0; side < 2; ++side) {
                        const bool here = span.side_lo[side] <= r + 1e-6 && r - 1e-6 <= span.side_hi[side];
                        mark.side_lo[side] = here ? r : std::numeric_limits<double>::infinity();
                        mark.side_hi[side] = here ? r : -std::numeric_limits<double>::infinity();
                    }
                }
                marks.push_back(mark);
            }
        }
        if (j < n && m_dense[static_cast<std::size_t>(j)]) {
            // The join to the next column starts at this column's last point, the
            // rightmost: its rows belong to the right side's reach.
            const double last = row(px[j - 1].y());
            const double next = row(px[j].y());
            widen(span.lo, span.hi, next);
            widen(span.side_lo[1], span.side_hi[1], last);
            widen(span.side_lo[1], span.side_hi[1], next);
        }
        joined.push_back(span);
        i = j;
    }

    // Joins that touch a sparse point are drawn by Qwt between the two fills.
    bool any_sparse_join = false;
    for (int i = 0; i + 1 < n && !any_sparse_join; ++i) {
        any_sparse_join = !m_dense[static_cast<std::size_t>(i)] || !m_dense[static_cast<std::size_t>(i + 1)];
    }
    const double line_half = line_pen.widthF() / 2.0 * dpr;
    const double mark_half = std::max(sym_size.width(), sym_size.height()) / 2.0 * dpr;

    painter->save();
    const bool antialiased = painter->testRenderHint(QPainter::Antialiasing);
    if (lines && symbols && !any_sparse_join && line_pen.color() == sym_color && sym_color.alpha() == 255) {
        // Strokes and marks of one opaque colour with nothing drawn between them: their
        // union in one fill leaves the same pixels with far fewer rectangles.
        for (column_span_t& m : marks) m.kind = 1;
        // Both lists come in column order: a merge keeps the union in order.
        const auto middle = joined.insert(joined.end(), marks.begin(), marks.end());
        std::inplace_merge(joined.begin(), middle, joined.end(),
                           [](const column_span_t& a, const column_span_t& b) { return a.col < b.col; });
        fill_columns(painter, joined, {line_half, mark_half}, dpr, sym_color, canvas_rect);
        marks.clear();
        painter->setRenderHint(QPainter::Antialiasing, antialiased);
        QPolygonF sparse;
        for (int i = 0; i < n; ++i) {
            if (!m_dense[static_cast<std::size_t>(i)] && reach.contains(px[i])) sparse << px[i];
        }
        if (!sparse.isEmpty()) sym->drawSymbols(painter, sparse);
        painter->restore();
        return;
    }
    if (lines) {
        fill_columns(painter, joined, {line_half, line_half}, dpr, line_pen.color(), canvas_rect);
        painter->setRenderHint(QPainter::Antialiasing, antialiased);
        // Every join that touches a sparse point, as polylines of consecutive such joins.
        painter->setPen(line_pen);
        painter->setBrush(Qt::NoBrush);
        QPolygonF run;
        auto flush = [&] {
            if (run.size() > 1)
                QwtPainter::drawPolyline(painter, QwtClipper::clipPolygonF(reach, run, false));
            run.clear();
        };
        for (int i = 0; i + 1 < n; ++i) {
            const bool both_dense =
                m_dense[static_cast<std::size_t>(i)] && m_dense[static_cast<std::size_t>(i + 1)];
            if (both_dense) {
                flush();
                continue;
            }
            if (run.isEmpty()) run << px[i];
            run << px[i + 1];
        }
        flush();
    }
    if (symbols) {
        fill_columns(painter, marks, {mark_half, mark_half}, dpr, sym_color, canvas_rect);
        painter->setRenderHint(QPainter::Antialiasing, antialiased);
        QPolygonF sparse;
        for (int i = 0; i < n; ++i) {
            if (!m_dense[static_cast<std::size_t>(i)] && reach.contains(px[i])) sparse << px[i];
        }
        if (!sparse.isEmpty()) sym->drawSymbols(painter, sparse);
    }
    painter->restore();
}
