// A scan chart curve that draws the per-column reduction cheaply. Points flagged dense
// stand for a pixel column of many readings; there the line through all those readings
// is a solid vertical stroke over the column's lowest to highest value (and on to the
// next column's first point), filled as pen-wide one-pixel columns. The symbols of a
// short column (at most two symbols tall) merge into one block; a tall column (a spike)
// gets round marks at its lowest and highest point only, so the column's extent is the
// full data's. Everything else (sparse stretches, the joins to
// them) is drawn by Qwt as usual, antialiased.
//
// Antialiased 2-pixel polylines and symbols through tens of thousands of zigzag points
// are what made full redraws slow; aligned rectangles cover the pixels for a fraction.
#pragma once

#include <qwt_plot_curve.h>

#include <QColor>
#include <QRect>
#include <cstdint>
#include <vector>

#include "ui/chart/ui_scan_channel_store.h"

// Fills disjoint, aligned rectangles (device pixels, the painter untransformed) with one
// colour, leaving the pixels drawRects would leave.
void scan_curve_fill_rects(QPainter* painter, const std::vector<QRect>& rects, const QColor& color);

class ui_scan_curve_t : public QwtPlotCurve {
public:
    explicit ui_scan_curve_t(const QString& title);

    // The points with one dense flag each, where in its pixel column each reduced
    // column's readings lie, and the columns they were reduced to. Flags that do not
    // match the points (or none) draw everything the usual way; without halves, a
    // neighbouring column is drawn from the whole column's extremes.
    void set_points(const QVector<QPointF>& points, std::vector<uint8_t> dense,
                    std::vector<chart_column_halves_t> halves, const chart_column_map_t& columns);

protected:
    void drawSeries(QPainter* painter, const QwtScaleMap& x_map, const QwtScaleMap& y_map,
                    const QRectF& canvas_rect, int from, int to) const override;

private:
    std::vector<uint8_t> m_dense;
    std::vector<chart_column_halves_t> m_halves;
    chart_column_map_t m_columns;
};
