// Horizontal grid lines of the trend charts, kept clear of the canvas's top 5 and
// bottom 2 pixels so they do not run into the overload labels and the X axis.
#pragma once

#include <qwt_plot_grid.h>

class ui_plot_grid_t : public QwtPlotGrid {
public:
    ui_plot_grid_t();
    void draw(QPainter* painter, const QwtScaleMap& x_map, const QwtScaleMap& y_map,
              const QRectF& canvas_rect) const override;
};
