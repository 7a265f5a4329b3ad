#include "ui/chart/ui_common_trend_chart.h"

#include <qwt_plot.h>

#include <QTimer>
// Qwt 6.1's layout header defaults a QFlags argument to 0, which Qt 5.15 deprecates.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <qwt_plot_layout.h>
#pragma GCC diagnostic pop
#include <qwt_scale_widget.h>

#include "ui/chart/ui_plot_grid.h"

ui_common_trend_chart_t::ui_common_trend_chart_t(cfg_main_t* cfg, QWidget* parent)
    : QFrame(parent), m_pcfg(cfg) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ui_common_trend_chart_t::_init_plot() {
    m_pplot = new QwtPlot(this);
    m_pplot->setObjectName("trend_chart_plot");
    m_pplot->setAutoReplot(false);
    m_pplot->setCanvasBackground(Qt::black);
    m_pplot->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_pplot->plotLayout()->setAlignCanvasToScales(true);
    for (int axis : {QwtPlot::yLeft, QwtPlot::xBottom}) {
        m_pplot->enableAxis(axis, true);
        m_pplot->axisWidget(axis)->setMargin(0);
    }
    m_pplot->axisWidget(QwtPlot::xBottom)->setMinBorderDist(100, 50);
    m_pplot->axisWidget(QwtPlot::yLeft)->setMinBorderDist(0, 50);

    m_pgrid = new ui_plot_grid_t();
    m_pgrid->attach(m_pplot);
}

void ui_common_trend_chart_t::refresh() {
    if (m_redraw_scheduled) return;
    m_redraw_scheduled = true;
    QTimer::singleShot(0, this, &ui_common_trend_chart_t::_run_scheduled);
}

void ui_common_trend_chart_t::_run_scheduled() {
    m_redraw_scheduled = false;
    // A hidden chart skips the work; showing it schedules the redraw it missed.
    if (!isVisible()) return;
    redraw_now();
}

void ui_common_trend_chart_t::redraw_now() {
    _redraw();
    emit signal_redrawn();
}

void ui_common_trend_chart_t::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    refresh();
}
