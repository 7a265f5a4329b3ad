// Base of the two trend charts: the per-instrument facade, the QwtPlot with its black
// canvas and grid, and the redraw scheduling both charts share.
//
// Redraws: `refresh` only asks for one. However many requests arrive in one turn of
// the event loop, the chart redraws once, on the next turn; a chart that is not visible
// does not redraw at all and redraws when it is shown again. Everything runs on the GUI
// thread.
#pragma once

#include <QFrame>

class QwtPlot;
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

signals:
    // After every redraw (for the page and the measurements of redraw cost).
    void signal_redrawn();

protected:
    // Creates the plot and the grid; the derived charts add their axes and items.
    virtual void _init_plot();
    // Fetches the data and draws it.
    virtual void _redraw() = 0;
    void showEvent(QShowEvent* event) override;

    cfg_main_t* m_pcfg = nullptr;
    QwtPlot* m_pplot = nullptr;
    ui_plot_grid_t* m_pgrid = nullptr;

private:
    void _run_scheduled();

    bool m_redraw_scheduled = false;
};
