#include "ui/chart/ui_plot_grid.h"

#include <QPen>

ui_plot_grid_t::ui_plot_grid_t() {
    enableX(false);
    enableY(true);
    setMajorPen(QPen(QColor(100, 100, 100), 0, Qt::DashLine));
}

void ui_plot_grid_t::draw(QPainter* painter, const QwtScaleMap& x_map, const QwtScaleMap& y_map,
                          const QRectF& canvas_rect) const {
    QwtPlotGrid::draw(painter, x_map, y_map, canvas_rect.adjusted(0, 5, 0, -2));
}
