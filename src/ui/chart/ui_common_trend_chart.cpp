#include "ui/chart/ui_common_trend_chart.h"

#include <qwt_plot.h>

#include <QTimer>
// Qwt 6.1's layout header defaults a QFlags argument to 0, which Qt 5.15 deprecates.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <qwt_plot_layout.h>
#pragma GCC diagnostic pop
#include <qwt_scale_widget.h>

#include <qwt_plot_magnifier.h>
#include <qwt_plot_panner.h>
#include <qwt_picker_machine.h>
#include <qwt_plot_picker.h>
#include <qwt_plot_renderer.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_text.h>

#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <functional>

#include "ui/chart/ui_plot_grid.h"
#include "ui/ui_file_places.h"

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
    _init_tools();
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

// ---------------------------------------------------------------------------------------
// View tools

namespace {

// The zoomer tells the chart when the user zoomed; the picker asks the chart for the
// text of the nearest point.
class chart_picker_t : public QwtPlotPicker {
public:
    chart_picker_t(ui_common_trend_chart_t* chart, QWidget* canvas)
        : QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::NoRubberBand, QwtPicker::AlwaysOn,
                        canvas),
          m_chart(chart) {
        setTrackerPen(QPen(Qt::white));
        setTrackerFont(QFont(canvas->font().family(), 10));
    }

protected:
    QwtText trackerTextF(const QPointF& pos) const override {
        QwtText text(m_chart->cursor_text(pos));
        text.setBackgroundBrush(QBrush(QColor(40, 40, 40, 220)));
        return text;
    }

private:
    ui_common_trend_chart_t* m_chart;
};

class chart_magnifier_t : public QwtPlotMagnifier {
public:
    chart_magnifier_t(QWidget* canvas, std::function<void()> moved)
        : QwtPlotMagnifier(canvas), m_moved(std::move(moved)) {}

protected:
    void rescale(double factor) override {
        QwtPlotMagnifier::rescale(factor);
        m_moved();
    }

private:
    std::function<void()> m_moved;
};

}  // namespace

void ui_common_trend_chart_t::_init_tools() {
    QWidget* canvas = m_pplot->canvas();
    m_pzoomer = new QwtPlotZoomer(canvas, true);
    m_pzoomer->setObjectName("chart_zoomer");
    m_pzoomer->setTrackerMode(QwtPicker::AlwaysOff);  // the picker reads the points
    m_pzoomer->setRubberBandPen(QPen(Qt::white, 1, Qt::DashLine));
    // Left drag zooms; the right button is the menu's, the middle one unused.
    m_pzoomer->setMousePattern(QwtEventPattern::MouseSelect2, Qt::NoButton);
    m_pzoomer->setMousePattern(QwtEventPattern::MouseSelect3, Qt::NoButton);
    m_pzoomer->setMousePattern(QwtEventPattern::MouseSelect6, Qt::NoButton);

    m_ppanner = new QwtPlotPanner(canvas);
    m_ppanner->setObjectName("chart_panner");
    m_ppanner->setMouseButton(Qt::LeftButton, Qt::ControlModifier);
    connect(m_ppanner, &QwtPanner::panned, this, [this](int, int) { m_moved = true; });

    m_pmagnifier = new chart_magnifier_t(canvas, [this] { m_moved = true; });
    m_pmagnifier->setObjectName("chart_magnifier");
    m_pmagnifier->setMouseButton(Qt::NoButton);  // the wheel only

    m_ppicker = new chart_picker_t(this, canvas);
    m_ppicker->setObjectName("chart_picker");
    // A click selects a point: the charts pick what lies there (the zoomer ignores a
    // drag too small to be a rectangle).
    m_ppicker->setStateMachine(new QwtPickerClickPointMachine());
    m_ppicker->setMousePattern(QwtEventPattern::MouseSelect1, Qt::LeftButton);
    connect(m_ppicker, static_cast<void (QwtPlotPicker::*)(const QPointF&)>(&QwtPlotPicker::selected), this,
            [this](const QPointF& pos) { _clicked(pos); });

    canvas->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(canvas, &QWidget::customContextMenuRequested, this, &ui_common_trend_chart_t::_show_menu);
    canvas->setToolTip("Drag: zoom · Ctrl+drag: pan · Wheel: zoom · Right button: automatic view, export");
}

void ui_common_trend_chart_t::_clicked(const QPointF&) {}

bool ui_common_trend_chart_t::is_user_view() const {
    return m_moved || (m_pzoomer != nullptr && m_pzoomer->zoomRectIndex() > 0);
}

void ui_common_trend_chart_t::_mark_auto_view() {
    if (is_user_view()) return;
    const QwtScaleDiv& x = m_pplot->axisScaleDiv(QwtPlot::xBottom);
    const QwtScaleDiv& y = m_pplot->axisScaleDiv(QwtPlot::yLeft);
    m_auto_x[0] = x.lowerBound();
    m_auto_x[1] = x.upperBound();
    m_auto_y[0] = y.lowerBound();
    m_auto_y[1] = y.upperBound();
    m_auto_x_ticks = x.ticks(QwtScaleDiv::MajorTick);
    m_auto_y_ticks = y.ticks(QwtScaleDiv::MajorTick);
    m_pzoomer->setZoomBase(QRectF(QPointF(m_auto_x[0], m_auto_y[0]), QPointF(m_auto_x[1], m_auto_y[1])));
}

void ui_common_trend_chart_t::_leave_user_view() {
    m_moved = false;
    if (m_pzoomer->zoomRectIndex() > 0) m_pzoomer->zoom(0);
}

void ui_common_trend_chart_t::_set_axis_title(int axis, const QString& text) {
    if (m_pplot->axisTitle(axis).text() == text) return;
    QwtText title(text);
    title.setColor(Qt::white);
    QFont font = title.font();
    font.setPointSize(9);
    font.setBold(false);
    title.setFont(font);
    m_pplot->setAxisTitle(axis, title);
}

void ui_common_trend_chart_t::reset_view() {
    m_moved = false;
    if (m_pzoomer->zoomRectIndex() > 0) m_pzoomer->zoom(0);
    m_pplot->setAxisScaleDiv(QwtPlot::xBottom, QwtScaleDiv(m_auto_x[0], m_auto_x[1], QList<double>(),
                                                           QList<double>(), m_auto_x_ticks));
    m_pplot->setAxisScaleDiv(QwtPlot::yLeft, QwtScaleDiv(m_auto_y[0], m_auto_y[1], QList<double>(),
                                                         QList<double>(), m_auto_y_ticks));
    redraw_now();
}

bool ui_common_trend_chart_t::export_image(const QString& path) {
    if (path.isEmpty()) return false;
    const bool svg = QFileInfo(path).suffix().compare("svg", Qt::CaseInsensitive) == 0;
    QwtPlotRenderer renderer;
    // The chart as it looks, black canvas included.
    renderer.setDiscardFlag(QwtPlotRenderer::DiscardBackground, false);
    constexpr double dpi = 96.0;
    const QSizeF mm = QSizeF(m_pplot->size()) * 25.4 / dpi;
    renderer.renderDocument(m_pplot, path, svg ? "svg" : "png", mm, static_cast<int>(dpi));
    return QFileInfo(path).isFile() && QFileInfo(path).size() > 0;
}

bool ui_common_trend_chart_t::export_csv(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
    file.write(_csv_text().toUtf8());
    return file.commit();
}

void ui_common_trend_chart_t::_show_menu(const QPoint& pos) {
    QMenu menu(this);
    QAction* automatic = menu.addAction("Automatic view");
    automatic->setEnabled(is_user_view());
    QAction* image = menu.addAction("Export chart (PNG or SVG)...");
    QAction* csv = menu.addAction("Export points (CSV)...");
    QAction* chosen = menu.exec(m_pplot->canvas()->mapToGlobal(pos));
    if (chosen == automatic) {
        reset_view();
    } else if (chosen == image) {
        const QString path = ui_file_places::save_file_name(
            this, ui_file_places::kind_export, "Export Chart", "chart.png",
            "PNG image (*.png);;SVG image (*.svg)");
        if (!path.isEmpty() && !export_image(path))
            QMessageBox::warning(this, "Warning", "Failed to export the chart to " + path + ".");
    } else if (chosen == csv) {
        const QString path = ui_file_places::save_file_name(this, ui_file_places::kind_export,
                                                                   "Export Points", "points.csv", "csv(*.csv)");
        if (!path.isEmpty() && !export_csv(path))
            QMessageBox::warning(this, "Warning", "Failed to export the points to " + path + ".");
    }
}
