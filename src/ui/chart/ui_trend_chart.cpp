#include "ui/chart/ui_trend_chart.h"

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>

#include <qwt_scale_div.h>
#include <qwt_scale_widget.h>
#include <qwt_text.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "cfg/cfg_measure_diagram.h"
#include "ui/chart/ui_chart_math.h"
#include "common/plib_format.h"
#include "ui/chart/ui_scale_draw.h"
#include "ui/ui_primary_window/ui_measure_format.h"

namespace {

constexpr int trend_mode_recent = 0;
constexpr int trend_mode_all = 1;
constexpr int range_mode_default = 0;
constexpr int range_mode_auto = 1;

QwtPlotMarker* make_overload_line(double y, Qt::Alignment label_alignment) {
    auto* line = new QwtPlotMarker();
    line->setLineStyle(QwtPlotMarker::HLine);
    line->setYValue(y);
    line->setLinePen(QPen(Qt::red, 1));
    QwtText label("OVERLOAD");
    QFont font = label.font();
    font.setPointSize(8);
    label.setFont(font);
    label.setColor(Qt::red);
    line->setLabel(label);
    line->setLabelAlignment(label_alignment);
    line->setVisible(false);
    return line;
}

}  // namespace

ui_trend_chart_t::ui_trend_chart_t(cfg_main_t* cfg, QWidget* parent)
    : ui_common_trend_chart_t(cfg, parent), m_pinfo(std::make_unique<plib_trend_data_info_t>()) {
    if (m_pcfg != nullptr) {
        m_psettings = m_pcfg->measure_diagram();
    } else {
        m_pown_settings = std::make_unique<cfg_measure_diagram_t>(nullptr);
        m_psettings = m_pown_settings.get();
    }
    _init_plot();
    _init_header();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(5);
    layout->addWidget(m_pheader);
    layout->addWidget(m_pplot);

    // The stored settings: trend mode, timebase (both build the X axis), range, and the
    // range mode, which for "Default" computes the range of the current function.
    set_trend_mode(m_psettings->get_trend_mode());
    double lower = 0.0;
    double upper = 0.0;
    get_range(lower, upper);
    m_py_draw->set_range(lower, upper);
    set_range_mode(m_psettings->get_range_mode());
}

ui_trend_chart_t::~ui_trend_chart_t() = default;

void ui_trend_chart_t::_init_plot() {
    ui_common_trend_chart_t::_init_plot();
    m_px_draw = new ui_x_scale_draw_t();
    m_py_draw = new ui_y_scale_draw_t();
    m_pplot->setAxisScaleDraw(QwtPlot::xBottom, m_px_draw);
    m_pplot->setAxisScaleDraw(QwtPlot::yLeft, m_py_draw);

    // Chart units: the edges of the range at +-30000, the overload lines at +-33000.
    QList<double> y_ticks;
    for (double y = -chart_overload_y; y <= chart_overload_y + 1e-9; y += 6000.0) y_ticks << y;
    m_pplot->setAxisScaleDiv(QwtPlot::yLeft, QwtScaleDiv(-chart_overload_y, chart_overload_y, QList<double>(),
                                                         QList<double>(), y_ticks));

    m_pcurve = new QwtPlotCurve("TrendCurve");
    m_pcurve->setPen(QPen(QColor(255, 241, 0), 0, Qt::SolidLine));
    m_pcurve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    m_pcurve->attach(m_pplot);

    m_pupper_line = make_overload_line(chart_overload_y, Qt::AlignRight | Qt::AlignBottom);
    m_plower_line = make_overload_line(-chart_overload_y, Qt::AlignRight | Qt::AlignTop);
    m_pupper_line->attach(m_pplot);
    m_plower_line->attach(m_pplot);
}

void ui_trend_chart_t::_init_header() {
    m_pheader = new QWidget(this);
    m_pheader->setObjectName("trend_chart_header");
    m_pheader->setFixedHeight(60);
    auto* grid = new QGridLayout(m_pheader);
    grid->setContentsMargins(0, 0, 0, 0);

    auto* reading = new QHBoxLayout();
    reading->setSpacing(0);
    m_psign_label = new QLabel(m_pheader);
    m_psign_label->setObjectName("trend_chart_data_sign_label");
    m_pdata_label = new QLabel(m_pheader);
    m_pdata_label->setObjectName("trend_chart_data_label");
    m_punit_label = new QLabel(m_pheader);
    m_punit_label->setObjectName("trend_chart_unit_label");
    reading->addStretch(1);
    reading->addWidget(m_psign_label);
    reading->addWidget(m_pdata_label);
    reading->addWidget(m_punit_label);
    reading->addStretch(1);

    auto* time = new QHBoxLayout();
    time->setSpacing(0);
    time->addStretch(1);
    auto add_time_label = [this, time](const QString& text) {
        auto* label = new QLabel(text, m_pheader);
        label->setObjectName("trend_chart_time_label");
        time->addWidget(label);
        return label;
    };
    add_time_label("Record time: ");
    m_phours_label = add_time_label("00");
    add_time_label("h");
    m_pminutes_label = add_time_label("00");
    add_time_label("m");
    m_pseconds_label = add_time_label("00.00");
    add_time_label("s");

    grid->addLayout(reading, 0, 0);
    grid->addLayout(time, 0, 1);
    for (int column = 0; column < 3; ++column) grid->setColumnStretch(column, 1);
}

void ui_trend_chart_t::set_trend_mode(int mode) {
    m_psettings->set_trend_mode(mode);
    // Both modes label time: "All" from the first reading of the run, "Recent" before the
    // latest one.
    m_px_draw->set_labels(ui_x_scale_draw_t::labels_t::time);
    _update_x_axis();
}

int ui_trend_chart_t::get_trend_mode() const { return m_psettings->get_trend_mode(); }

void ui_trend_chart_t::set_timebase(double seconds) {
    m_psettings->set_rec_time(seconds);
    _update_x_axis();
}

double ui_trend_chart_t::get_timebase() const { return m_psettings->get_rec_time(); }

void ui_trend_chart_t::_update_x_axis() {
    _leave_user_view();
    QList<double> ticks;
    double first = 0.0;
    if (get_trend_mode() == trend_mode_all) {
        m_all_axis_s = -1.0;  // set anew
        _set_all_axis(_all_span());
    } else {
        const double timebase = get_timebase();
        first = -timebase;
        for (int k = 0; k < 4; ++k) ticks << -timebase + k * timebase / 4.0;
        ticks << 0.0;
        m_pplot->setAxisScaleDiv(QwtPlot::xBottom,
                                 QwtScaleDiv(first, 0.0, QList<double>(), QList<double>(), ticks));
    }
    _update_axis_titles();
    _mark_auto_view();
    m_pplot->replot();
}

double ui_trend_chart_t::_all_span() const {
    double span = 0.0;
    for (const QPointF& p : m_points) span = std::max(span, p.x());
    return span;
}

void ui_trend_chart_t::_set_all_axis(double span_s) {
    // A run whose readings all carry one time still needs an axis of some width.
    const double end = span_s > 0.0 && std::isfinite(span_s) ? span_s : 1.0;
    if (end == m_all_axis_s) return;
    m_all_axis_s = end;
    const QList<double> ticks = chart_time_ticks(0.0, end, all_axis_steps);
    m_pplot->setAxisScaleDiv(QwtPlot::xBottom, QwtScaleDiv(0.0, end, QList<double>(), QList<double>(), ticks));
}

QString ui_trend_chart_t::_value_unit() const {
    if (!m_unit.isEmpty()) return m_unit;
    if (m_pcfg == nullptr) return QString();
    return ui_measure_unit_text(static_cast<plib_measure_type_t>(m_pcfg->get_function()), false,
                                m_pcfg->get_temp_display(), m_pcfg->get_temp_unit());
}

void ui_trend_chart_t::_update_axis_titles() {
    const QString unit = _value_unit();
    _set_axis_title(QwtPlot::yLeft, unit.isEmpty() ? QString("Value") : "Value (" + unit + ")");
    _set_axis_title(QwtPlot::xBottom, get_trend_mode() == trend_mode_all
                                          ? QString("Time since the first reading (%1 readings)").arg(m_readings)
                                          : QString("Time before the latest reading"));
}

double ui_trend_chart_t::_value_of_y(double y) const {
    if (std::fabs(y) >= chart_overload_y - 1e-6) return y > 0 ? plib_overload_value : -plib_overload_value;
    double lower = 0.0;
    double upper = 0.0;
    get_range(lower, upper);
    return chart_value_of_y(y, lower, upper);
}

QString ui_trend_chart_t::_cursor_text(const QPointF& plot_pos) const {
    if (m_points.isEmpty()) return QString();
    const QwtScaleMap xm = m_pplot->canvasMap(QwtPlot::xBottom);
    const QwtScaleMap ym = m_pplot->canvasMap(QwtPlot::yLeft);
    const QPointF at(xm.transform(plot_pos.x()), ym.transform(plot_pos.y()));
    int best = -1;
    double best_d = std::numeric_limits<double>::infinity();
    for (int i = 0; i < m_points.size(); ++i) {
        const QPointF p(xm.transform(m_points[i].x()), ym.transform(m_points[i].y()));
        const double d = (p.x() - at.x()) * (p.x() - at.x()) + (p.y() - at.y()) * (p.y() - at.y());
        if (d < best_d) {
            best_d = d;
            best = i;
        }
    }
    const QPointF& p = m_points[best];
    return chart_time_label(p.x()) + "  " + ui_value_unit_text(_value_of_y(p.y()), _value_unit());
}

QString ui_trend_chart_t::_csv_text() const {
    const QString unit = _value_unit();
    const bool all = get_trend_mode() == trend_mode_all;
    QString text = (all ? QString("Time since the first reading (s)") : QString("Time before the latest reading (s)")) +
                   ",Value" +
                   (unit.isEmpty() ? QString() : " (" + unit + ")") + "\n";
    for (const QPointF& p : m_points) {
        const double v = _value_of_y(p.y());
        const QString value = is_overload(std::fabs(v)) ? (v < 0 ? QString("-OVERLOAD") : QString("OVERLOAD"))
                                                        : QString::number(v, 'g', 10);
        text += QString::number(p.x(), 'g', 10) + "," + value + "\n";
    }
    return text;
}

void ui_trend_chart_t::set_range(double lower, double upper) {
    m_psettings->set_range_limits(lower, upper);
    double stored_lower = 0.0;
    double stored_upper = 0.0;
    get_range(stored_lower, stored_upper);
    m_py_draw->set_range(stored_lower, stored_upper);
    // New labels may be wider or narrower: lay the axis out again.
    m_pplot->axisWidget(QwtPlot::yLeft)->update();
    m_pplot->updateLayout();
}

void ui_trend_chart_t::get_range(double& lower, double& upper) const {
    m_psettings->get_range_limits(lower, upper);
}

void ui_trend_chart_t::set_range_mode(int mode) {
    m_psettings->set_range_mode(mode);
    if (mode == range_mode_default) apply_default_range();
}

int ui_trend_chart_t::get_range_mode() const { return m_psettings->get_range_mode(); }

void ui_trend_chart_t::set_latest_display(const QString& sign, const QString& value, const QString& prefix,
                                          const QString& unit) {
    m_sign = sign;
    m_value = value;
    m_prefix = prefix;
    m_unit = unit;
}

bool ui_trend_chart_t::apply_default_range() {
    if (m_pcfg == nullptr) return false;
    const int f = m_pcfg->get_function();
    double lower = 0.0;
    double upper = 0.0;
    const bool ok = (f == measure_cont || f == measure_diode)
                        ? chart_default_range(f, std::string(), m_pcfg->get_threshold(f), lower, upper)
                        : chart_default_range(f, m_pcfg->get_range(f), std::string(), lower, upper);
    if (ok) set_range(lower, upper);
    return ok;
}

bool ui_trend_chart_t::_fetch_trend(plib_trend_data_info_t& info) {
    if (m_pcfg == nullptr || m_pcfg->get_acq() == nullptr) return false;
    return m_pcfg->get_acq()->m_acq_trend_data_msg.fetch(info) == 0;
}

bool ui_trend_chart_t::_fetch_run_state(plib_record_run_state_info_t& info) {
    if (m_pcfg == nullptr) return false;
    info = m_pcfg->get_run_state_info();
    return true;
}

void ui_trend_chart_t::_redraw() {
    plib_trend_data_info_t& info = *m_pinfo;
    info = plib_trend_data_info_t();
    const int trend_mode = get_trend_mode();
    info.mode = trend_mode;
    if (_fetch_trend(info) && info.count > 0) {
        info.count = std::clamp(info.count, 0, acq_trend_display_points);
        const int range_mode = get_range_mode();
        double lower = 0.0;
        double upper = 0.0;
        if (range_mode == range_mode_auto || (range_mode == range_mode_default && !apply_default_range())) {
            // A function without a usable default range follows its readings instead.
            if (chart_auto_range(info.ymin, info.ymax, lower, upper)) set_range(lower, upper);
        }
        get_range(lower, upper);
        chart_measure_points_t built = chart_measure_points(info, trend_mode, lower, upper);
        m_points = std::move(built.points);
        m_pupper_line->setVisible(built.upper_overload);
        m_plower_line->setVisible(built.lower_overload);
        const int n = info.count;
        m_earliest_us = std::min(info.max_points[0].timestamp, info.min_points[0].timestamp);
        m_latest_us = std::max(info.max_points[n - 1].timestamp, info.min_points[n - 1].timestamp);
    }
    plib_record_run_state_info_t run;
    if (_fetch_run_state(run)) {
        m_readings = run.total_count;
        m_elapsed_s = run.elapsed_s;
    }
    // "All" spans the whole run: the axis grows with it, unless the user zoomed or panned.
    if (trend_mode == trend_mode_all && !is_user_view()) {
        _set_all_axis(_all_span());
        _mark_auto_view();
    }
    _update_header();
    _update_axis_titles();
    m_pcurve->setSamples(m_points);
    m_pplot->replot();
    update();
}

void ui_trend_chart_t::_update_header() {
    const chart_elapsed_texts_t elapsed = chart_elapsed_texts(m_elapsed_s);
    m_phours_label->setText(elapsed.hours);
    m_pminutes_label->setText(elapsed.minutes);
    m_pseconds_label->setText(elapsed.seconds);
    m_psign_label->setText(m_sign);
    m_pdata_label->setText(m_value);
    m_punit_label->setText(m_prefix + m_unit);
}
