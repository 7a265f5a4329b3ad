// Base of the two trend charts: the per-instrument facade, the QwtPlot with its black
// canvas and grid, the redraw scheduling both charts share, and the view tools, all
// Qwt's own: rubber-band zoom (left drag; QwtPlotZoomer), wheel zoom (QwtPlotMagnifier),
// pan (Ctrl + left drag; QwtPlotPanner), a cursor that reads the nearest point
// (QwtPlotPicker), and export of the chart as PNG or SVG (QwtPlotRenderer) and of the
// points shown as CSV. The right button's menu goes back to the automatic view and
// exports. While the user's view is on, the charts keep their axes as the user left them.
//
// Redraws: `refresh` only asks for one. However many requests arrive in one turn of
// the event loop, the chart redraws once, on the next turn; a chart that is not visible
// does not redraw at all and redraws when it is shown again. Everything runs on the GUI
// thread.
#pragma once

#include <QFrame>

#include <QPointF>
#include <QString>
#include <QList>

class QwtPlot;
class QwtPlotMagnifier;
class QwtPlotPanner;
class QwtPlotPicker;
class QwtPlotZoomer;
class QwtScaleDiv;
class cfg_main_t;
class ui_plot_grid_t;

class ui_common_trend_chart_t : public QFrame {
    Q_OBJECT
public:
    // `cfg` (borrowed) holds the chart's settings; it outlives the chart.
    ui_common_trend_chart_t(cfg_main_t* cfg, QWidget* parent = nullptr);

    // Schedules a redraw on the next event-loop turn; repeated calls before it runs add
    // nothing.
    void refresh();
    // Redraws now (also while hidden): what a scheduled redraw runs.
    void redraw_now();

    QwtPlot* plot() const { return m_pplot; }
    cfg_main_t* cfg() const { return m_pcfg; }

    // View tools.
    // True after a zoom, pan or wheel zoom, until reset_view.
    bool is_user_view() const;
    // Back to the automatic view (the axes the chart chooses itself).
    void reset_view();
    // The chart as a picture: ".svg" gives SVG, anything else PNG. false when not written.
    bool export_image(const QString& path);
    // The points shown, one line each, with a header naming the columns and units.
    bool export_csv(const QString& path) const;
    // What the cursor shows at a point of the plot (axis coordinates): the time and the
    // value with unit of the nearest point drawn; empty when nothing is drawn.
    QString cursor_text(const QPointF& plot_pos) const { return _cursor_text(plot_pos); }
    QwtPlotZoomer* zoomer() const { return m_pzoomer; }
    QwtPlotPicker* picker() const { return m_ppicker; }

signals:
    // After every redraw (for the page and the measurements of redraw cost).
    void signal_redrawn();

protected:
    // Creates the plot and the grid; the derived charts add their axes and items.
    virtual void _init_plot();
    // Fetches the data and draws it.
    virtual void _redraw() = 0;
    // The cursor text of the nearest drawn point (see cursor_text).
    virtual QString _cursor_text(const QPointF& plot_pos) const = 0;
    // The CSV text of the points drawn, header line first.
    virtual QString _csv_text() const = 0;
    // A left click (press and release without a drag) at a point of the plot (axis
    // coordinates), reported by the picker; nothing by default.
    virtual void _clicked(const QPointF& plot_pos);
    // Called by the charts right after they set their automatic axes: remembered for
    // reset_view and as the zoom base. Nothing while the user's view is on.
    void _mark_auto_view();
    // The chart changes its automatic view itself (a new mode): the user's view ends.
    void _leave_user_view();
    // Title of an axis in the charts' white.
    void _set_axis_title(int axis, const QString& text);
    void showEvent(QShowEvent* event) override;

    cfg_main_t* m_pcfg = nullptr;
    QwtPlot* m_pplot = nullptr;
    ui_plot_grid_t* m_pgrid = nullptr;

private:
    void _run_scheduled();
    void _init_tools();
    void _show_menu(const QPoint& pos);

    bool m_redraw_scheduled = false;
    QwtPlotZoomer* m_pzoomer = nullptr;
    QwtPlotPanner* m_ppanner = nullptr;
    QwtPlotMagnifier* m_pmagnifier = nullptr;
    QwtPlotPicker* m_ppicker = nullptr;
    bool m_moved = false;  // panned or wheel-zoomed since the automatic view
    // The automatic axes, as the chart set them last.
    double m_auto_x[2] = {0, 1};
    double m_auto_y[2] = {0, 1};
    QList<double> m_auto_x_ticks;
    QList<double> m_auto_y_ticks;
};
