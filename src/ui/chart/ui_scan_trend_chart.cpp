#include "ui/chart/ui_scan_trend_chart.h"

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>
#include <qwt_scale_map.h>
// Qwt 6.1's layout header defaults a QFlags argument to 0, which Qt 5.15 deprecates.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <qwt_plot_layout.h>
#pragma GCC diagnostic pop
#include <qwt_scale_widget.h>

#include <QEvent>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <iostream>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_diagram.h"
#include "scan/scan_main.h"
#include "ui/chart/ui_chart_math.h"
#include "ui/chart/ui_scale_draw.h"
#include "ui/chart/ui_scan_curve.h"
#include "ui/ui_primary_window/ui_measure_format.h"

namespace {

// A stored pattern outside Qt's pen styles is drawn solid; the stored value stays.
Qt::PenStyle drawable_pen_style(int pattern) {
    return pattern >= Qt::NoPen && pattern <= Qt::DashDotDotLine ? static_cast<Qt::PenStyle>(pattern)
                                                                 : Qt::SolidLine;
}

// A stored symbol outside Qwt's styles is drawn as none; the stored value stays.
QwtSymbol::Style drawable_symbol(int symbol) {
    return symbol >= QwtSymbol::NoSymbol && symbol <= QwtSymbol::Hexagon
               ? static_cast<QwtSymbol::Style>(symbol)
               : QwtSymbol::NoSymbol;
}

}  // namespace

ui_scan_trend_chart_t::ui_scan_trend_chart_t(cfg_main_t* cfg, QWidget* parent)
    : ui_common_trend_chart_t(cfg, parent) {
    if (m_pcfg != nullptr) {
        m_psettings = m_pcfg->scan_diagram();
    } else {
        m_pown_settings = std::make_unique<cfg_scan_diagram_t>(nullptr);
        m_psettings = m_pown_settings.get();
    }
    _init_plot();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pplot);

    // The stored settings: display mode and period, then each channel's curve.
    set_display_mode(get_display_mode());
    double start = 0.0;
    double end = 0.0;
    get_display_period(start, end);
    _set_x_axis(start, end);
    for (const auto& entry : m_curves) {
        const int ch = entry.first;
        set_curve_valid(ch, get_curve_valid(ch));
        double upper = 0.0;
        double lower = 0.0;
        get_range(ch, upper, lower);
        set_range(ch, upper, lower);
        set_auto_range(ch, get_auto_range(ch));
        set_curve_visible(ch, get_curve_visible(ch));
        _apply_pen(ch);
        _apply_symbol(ch);
    }
    m_pplot->replot();
}

ui_scan_trend_chart_t::~ui_scan_trend_chart_t() {
    // The plot deletes the curves attached to it; the detached ones are ours.
    for (auto& entry : m_curves) {
        if (entry.second->plot() == nullptr) delete entry.second;
    }
}

void ui_scan_trend_chart_t::_init_plot() {
    ui_common_trend_chart_t::_init_plot();
    m_px_draw = new ui_scan_x_scan_draw_t();
    m_pplot->setAxisScaleDraw(QwtPlot::xBottom, m_px_draw);
    m_py_draw = new ui_scan_y_scale_draw_t();
    m_pplot->setAxisScaleDraw(QwtPlot::yLeft, m_py_draw);
    // Every channel has its own range, so the left axis carries no labels; the time axis
    // then needs its own room for the half of its first label that stands left of the canvas.
    m_pplot->plotLayout()->setAlignCanvasToScale(QwtPlot::xBottom, false);
    QList<double> y_ticks;
    for (double y = -chart_unit_half_span; y <= chart_unit_half_span + 1e-9; y += 10000.0) y_ticks << y;
    m_pplot->setAxisScaleDiv(QwtPlot::yLeft, QwtScaleDiv(-chart_unit_half_span, chart_unit_half_span,
                                                         QList<double>(), QList<double>(), y_ticks));

    m_plegend = new QwtLegend();
    m_plegend->setObjectName("scan_trend_legend");
    m_plegend->setDefaultItemMode(QwtLegendData::ReadOnly);
    m_pplot->insertLegend(m_plegend, QwtPlot::TopLegend);

    for (const auto& entry : m_psettings->curves()) {
        const int ch = entry.first;
        auto* curve = new ui_scan_curve_t(QString("CH:%1").arg(ch));
        curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
        curve->setLegendAttribute(QwtPlotCurve::LegendShowLine, true);
        curve->setLegendAttribute(QwtPlotCurve::LegendShowSymbol, true);
        m_curves[ch] = curve;
        m_stores[ch];
    }
    // The reduction is cut to the canvas's pixel columns: a new width needs new points.
    m_pplot->canvas()->installEventFilter(this);
}

bool ui_scan_trend_chart_t::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pplot->canvas() && event->type() == QEvent::Resize) refresh();
    return ui_common_trend_chart_t::eventFilter(watched, event);
}

QwtPlotCurve* ui_scan_trend_chart_t::curve(int ch) const {
    const auto it = m_curves.find(ch);
    return it == m_curves.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------------------
// Settings

void ui_scan_trend_chart_t::set_display_mode(int mode) { m_psettings->set_display_mode(mode); }
int ui_scan_trend_chart_t::get_display_mode() const { return m_psettings->get_display_mode(); }

void ui_scan_trend_chart_t::set_display_period(double start, double end) {
    if (!(start < end)) return;
    m_psettings->set_display_period(start, end);
    _set_x_axis(start, end);
    // The points were cut to the old window's columns.
    refresh();
}

void ui_scan_trend_chart_t::get_display_period(double& start, double& end) const {
    m_psettings->get_display_period(start, end);
}

void ui_scan_trend_chart_t::_set_x_axis(double start, double end) {
    QList<double> ticks;
    for (int k = 0; k <= 5; ++k) ticks << start + k * (end - start) / 5.0;
    m_pplot->setAxisScaleDiv(QwtPlot::xBottom, QwtScaleDiv(start, end, ticks, ticks, ticks));
}

void ui_scan_trend_chart_t::set_curve_valid(int ch, bool valid) {
    QwtPlotCurve* c = curve(ch);
    if (c == nullptr) return;
    m_psettings->set_curve_valid(ch, valid);
    if (valid && c->plot() == nullptr) {
        c->attach(m_pplot);
        refresh();  // a detached curve was not given points
    } else if (!valid && c->plot() != nullptr) {
        c->detach();
    }
    m_pplot->updateLegend();
    m_pplot->replot();
}

bool ui_scan_trend_chart_t::get_curve_valid(int ch) const { return m_psettings->get_curve_valid(ch); }

void ui_scan_trend_chart_t::set_curve_visible(int ch, bool visible) {
    QwtPlotCurve* c = curve(ch);
    if (c == nullptr) return;
    m_psettings->set_curve_visible(ch, visible);
    c->setVisible(visible);
    m_pplot->replot();
}

bool ui_scan_trend_chart_t::get_curve_visible(int ch) const { return m_psettings->get_curve_visible(ch); }

void ui_scan_trend_chart_t::set_curve_color(int ch, QRgb color) {
    if (curve(ch) == nullptr) return;
    m_psettings->set_curve_color(ch, color);
    _apply_pen(ch);
    _apply_symbol(ch);
    m_pplot->replot();
}

QRgb ui_scan_trend_chart_t::get_curve_color(int ch) const { return m_psettings->get_curve_color(ch); }

void ui_scan_trend_chart_t::set_curve_line_pattern(int ch, Qt::PenStyle pattern) {
    if (curve(ch) == nullptr) return;
    m_psettings->set_curve_line_pattern(ch, static_cast<int>(pattern));
    _apply_pen(ch);
    m_pplot->replot();
}

Qt::PenStyle ui_scan_trend_chart_t::get_curve_line_pattern(int ch) const {
    return static_cast<Qt::PenStyle>(m_psettings->get_curve_line_pattern(ch));
}

void ui_scan_trend_chart_t::set_curve_symbol(int ch, QwtSymbol::Style symbol) {
    if (curve(ch) == nullptr) return;
    m_psettings->set_curve_symbol(ch, static_cast<int>(symbol));
    _apply_symbol(ch);
    m_pplot->replot();
}

QwtSymbol::Style ui_scan_trend_chart_t::get_curve_symbol(int ch) const {
    return static_cast<QwtSymbol::Style>(m_psettings->get_curve_symbol(ch));
}

void ui_scan_trend_chart_t::set_auto_range(int ch, bool on) { m_psettings->set_auto_range(ch, on ? 1 : 0); }
bool ui_scan_trend_chart_t::get_auto_range(int ch) const { return m_psettings->get_auto_range(ch) != 0; }

void ui_scan_trend_chart_t::set_range(int ch, double upper, double lower) {
    m_psettings->set_range(ch, upper, lower);
}

void ui_scan_trend_chart_t::get_range(int ch, double& upper, double& lower) const {
    m_psettings->get_range(ch, upper, lower);
}

void ui_scan_trend_chart_t::_apply_pen(int ch) {
    QwtPlotCurve* c = curve(ch);
    if (c == nullptr) return;
    c->setPen(QPen(QColor::fromRgb(get_curve_color(ch)), 2, drawable_pen_style(get_curve_line_pattern(ch))));
}

void ui_scan_trend_chart_t::_apply_symbol(int ch) {
    QwtPlotCurve* c = curve(ch);
    if (c == nullptr) return;
    const QColor color = QColor::fromRgb(get_curve_color(ch));
    auto* symbol =
        new QwtSymbol(drawable_symbol(get_curve_symbol(ch)), QBrush(color), QPen(color, 1), QSize(6, 6));
    c->setSymbol(symbol);  // the curve deletes the previous one
    m_symbols[ch] = symbol;
}

// ---------------------------------------------------------------------------------------
// Redraw

bool ui_scan_trend_chart_t::_fetch_new_data(plib_scan_new_data_t& data) {
    if (m_pcfg == nullptr || m_pcfg->get_scan() == nullptr) return false;
    return m_pcfg->get_scan()->m_scan_new_data_msg.fetch(data) == 0;
}

bool ui_scan_trend_chart_t::_fetch_scan(plib_scan_data_map_t&, plib_scan_run_state_t&) { return false; }

void ui_scan_trend_chart_t::_new_run(uint64_t start_us) {
    // Another run: every x changes and the old readings are not this run's.
    for (auto& entry : m_stores) entry.second.clear();
    m_start_us = start_us;
}

void ui_scan_trend_chart_t::_update_auto_range(int ch) {
    if (!get_auto_range(ch)) return;
    const ui_scan_channel_store_t::normal_range_t range = m_stores[ch].normal_range();
    if (range.count == 0) return;
    double upper = range.max;
    double lower = range.min;
    if (range.count == 1) {
        upper = range.max + std::fabs(range.max);
        lower = range.max - std::fabs(range.max);
    }
    set_range(ch, upper, lower);
    emit signal_auto_update_range(ch, upper, lower);
}

void ui_scan_trend_chart_t::_update_stores(const plib_scan_data_map_t& data, uint64_t start_us) {
    for (auto& [ch, store] : m_stores) {
        const auto it = data.find(ch);
        if (it == data.end() || it->second.empty()) {
            store.clear();
            continue;
        }
        if (!store.sync(it->second, start_us)) std::cout << "Timestamp is wrong!" << std::endl;
        _update_auto_range(ch);
    }
}

void ui_scan_trend_chart_t::_update_stores(const plib_scan_new_data_t& data, uint64_t start_us) {
    for (auto& [ch, store] : m_stores) {
        const auto it = data.channels.find(ch);
        if (it == data.channels.end()) {
            store.clear();
            continue;
        }
        if (!store.append_tail(it->second, start_us)) std::cout << "Timestamp is wrong!" << std::endl;
        if (store.empty()) continue;
        _update_auto_range(ch);
    }
}

void ui_scan_trend_chart_t::_redraw() {
    m_new.memory_id = m_memory_id;
    for (const auto& [ch, store] : m_stores) m_new.from[ch] = store.end_index();
    if (_fetch_new_data(m_new)) {
        m_elapsed_s = m_new.run.elapsed_s;
        if (m_new.current_memory_id != m_memory_id || m_new.run.start_timestamp != m_start_us) {
            _new_run(m_new.run.start_timestamp);
            m_memory_id = m_new.current_memory_id;
            if (m_new.memory_id == m_memory_id) {
                // Same memory, new start time: the readings held are to be read again.
                m_new.from.clear();
                if (!_fetch_new_data(m_new) || m_new.current_memory_id != m_memory_id) return;
            }
        }
        _update_stores(m_new, m_start_us);
    } else {
        plib_scan_run_state_t run;
        if (!_fetch_scan(m_fetched, run)) return;
        m_elapsed_s = run.elapsed_s;
        if (run.start_timestamp != m_start_us) _new_run(run.start_timestamp);
        if (!m_fetched.empty()) _update_stores(m_fetched, m_start_us);
    }

    double start = 0.0;
    double end = 0.0;
    // The user's zoom or pan keeps its axes; the automatic view follows the run.
    if (is_user_view()) {
    } else if (get_display_mode() == scan_trend_display_auto) {
        for (const auto& entry : m_stores) end = std::max(end, entry.second.last_x(m_start_us));
        // A run whose readings all carry the start time still needs an axis of some width.
        if (!(end > 0.0)) end = 1.0;
        _set_x_axis(start, end);
    } else {
        get_display_period(start, end);
        _set_x_axis(start, end);
    }
    _mark_auto_view();
    _update_common_range();                           // an automatic range may have moved
    if (m_value_axis_ch != 0) _update_value_axis();
    // The scale maps of the new axis, in device pixels.
    m_pplot->updateAxes();
    const QwtScaleMap x_map = m_pplot->canvasMap(QwtPlot::xBottom);
    const double dpr = m_pplot->canvas()->devicePixelRatioF();
    const chart_column_map_t columns(x_map.s1(), x_map.s2(), x_map.p1() * dpr, x_map.p2() * dpr);

    for (auto& [ch, c] : m_curves) {
        if (c->plot() == nullptr) continue;
        double upper = 0.0;
        double lower = 0.0;
        drawn_range(ch, upper, lower);
        m_stores[ch].points(m_start_us, columns, chart_scan_ymap_t(lower, upper), m_reduce, m_points,
                            &m_dense, &m_halves);
        c->set_points(m_points, m_dense, m_halves, columns);
    }
    m_pplot->replot();
}

QString ui_scan_trend_chart_t::_channel_unit(int ch) const {
    if (m_pcfg == nullptr) return QString();
    const int func = _channel_function(ch);
    if (func < 0) return QString();
    return ui_measure_unit_text(static_cast<plib_measure_type_t>(func), false, m_pcfg->get_temp_display(),
                                m_pcfg->get_temp_unit());
}

int ui_scan_trend_chart_t::_channel_function(int ch) const {
    if (m_pcfg == nullptr) return -1;
    const cfg_scan_section_t section = m_pcfg->get_scan_section();
    const auto it = section.channel_param.find(ch);
    if (it == section.channel_param.end()) return -1;
    return it->second.func;
}

QString ui_scan_trend_chart_t::_cursor_text(const QPointF& plot_pos) const {
    const QwtScaleMap xm = m_pplot->canvasMap(QwtPlot::xBottom);
    const QwtScaleMap ym = m_pplot->canvasMap(QwtPlot::yLeft);
    const QPointF at(xm.transform(plot_pos.x()), ym.transform(plot_pos.y()));
    int best_ch = -1;
    QPointF best;
    double best_d = std::numeric_limits<double>::infinity();
    for (const auto& [ch, c] : m_curves) {
        if (c->plot() == nullptr || !c->isVisible()) continue;
        const QwtSeriesData<QPointF>* data = c->data();
        for (size_t i = 0; i < data->size(); ++i) {
            const QPointF q = data->sample(i);
            const double dx = xm.transform(q.x()) - at.x();
            const double dy = ym.transform(q.y()) - at.y();
            if (dx * dx + dy * dy < best_d) {
                best_d = dx * dx + dy * dy;
                best_ch = ch;
                best = q;
            }
        }
    }
    if (best_ch < 0) return QString();
    double upper = 0.0;
    double lower = 0.0;
    drawn_range(best_ch, upper, lower);
    return QString("CH:%1  %2  %3")
        .arg(best_ch)
        .arg(chart_time_label(best.x()), ui_value_unit_text(chart_value_of_y(best.y(), lower, upper),
                                                             _channel_unit(best_ch)));
}

QString ui_scan_trend_chart_t::_csv_text() const {
    QString text = "Channel,Time since the scan start (s),Value,Unit\n";
    for (const auto& [ch, c] : m_curves) {
        if (c->plot() == nullptr || !c->isVisible()) continue;
        double upper = 0.0;
        double lower = 0.0;
        drawn_range(ch, upper, lower);
        const QString unit = _channel_unit(ch);
        const QwtSeriesData<QPointF>* data = c->data();
        for (size_t i = 0; i < data->size(); ++i) {
            const QPointF q = data->sample(i);
            text += QString("%1,%2,%3,%4\n")
                        .arg(ch)
                        .arg(QString::number(q.x(), 'g', 10), QString::number(chart_value_of_y(q.y(), lower, upper), 'g', 10),
                             unit);
        }
    }
    return text;
}

void ui_scan_trend_chart_t::set_value_axis_channel(int ch) {
    m_value_axis_ch = m_curves.count(ch) != 0 ? ch : 0;
    _update_common_range();
    _update_value_axis();
    m_pplot->replot();
    // Another channel may bring another group onto the common scale.
    if (m_common_axis) refresh();
}

void ui_scan_trend_chart_t::set_common_axis(bool on) {
    if (on == m_common_axis) return;
    m_common_axis = on;
    _update_common_range();
    _update_value_axis();
    m_pplot->replot();
    refresh();
}

void ui_scan_trend_chart_t::_update_common_range() {
    m_common_channels.clear();
    const int selected = m_value_axis_ch;
    if (!m_common_axis || selected == 0) return;
    const int func = _channel_function(selected);
    if (func < 0) return;
    bool first = true;
    for (const auto& [ch, c] : m_curves) {
        // The selected channel always belongs; others only while they take part.
        if (ch != selected && (c->plot() == nullptr || _channel_function(ch) != func)) continue;
        double upper = 0.0;
        double lower = 0.0;
        get_range(ch, upper, lower);
        // A range given upside down still covers its two ends.
        if (upper < lower) std::swap(upper, lower);
        if (first) {
            m_common_upper = upper;
            m_common_lower = lower;
            first = false;
        } else {
            m_common_upper = std::max(m_common_upper, upper);
            m_common_lower = std::min(m_common_lower, lower);
        }
        m_common_channels.push_back(ch);
    }
    // One channel alone keeps its own range, as it is stored (upside down included).
    if (m_common_channels.size() < 2) m_common_channels.clear();
}

void ui_scan_trend_chart_t::drawn_range(int ch, double& upper, double& lower) const {
    if (std::find(m_common_channels.begin(), m_common_channels.end(), ch) != m_common_channels.end()) {
        upper = m_common_upper;
        lower = m_common_lower;
        return;
    }
    get_range(ch, upper, lower);
}

int ui_scan_trend_chart_t::channel_at(const QPoint& canvas_pos, double max_distance) const {
    int best_ch = 0;
    double best_d = max_distance;
    for (const auto& [ch, c] : m_curves) {
        if (c->plot() == nullptr || !c->isVisible() || c->dataSize() == 0) continue;
        double d = std::numeric_limits<double>::infinity();
        if (c->closestPoint(canvas_pos, &d) < 0) continue;
        if (d <= best_d) {
            best_d = d;
            best_ch = ch;
        }
    }
    return best_ch;
}

void ui_scan_trend_chart_t::_clicked(const QPointF& plot_pos) {
    const QPoint at(qRound(m_pplot->transform(QwtPlot::xBottom, plot_pos.x())),
                    qRound(m_pplot->transform(QwtPlot::yLeft, plot_pos.y())));
    const int ch = channel_at(at);
    if (ch == 0) return;
    set_value_axis_channel(ch);
    emit signal_channel_picked(ch);
}

void ui_scan_trend_chart_t::_update_value_axis() {
    const int ch = m_value_axis_ch;
    bool changed = false;
    if (ch == 0) {
        changed = m_py_draw->set_channel_range(false, 0.0, 0.0);
        _set_axis_title(QwtPlot::yLeft, QString());
    } else {
        double upper = 0.0;
        double lower = 0.0;
        drawn_range(ch, upper, lower);
        changed = m_py_draw->set_channel_range(true, lower, upper);
        const QString unit = _channel_unit(ch);
        QStringList names;
        for (int shared : m_common_channels) names << QString("CH:%1").arg(shared);
        if (names.isEmpty()) names << QString("CH:%1").arg(ch);
        // The title runs along the axis: a long list is cut to its first channels.
        if (names.size() > 4) {
            const int more = names.size() - 3;
            names = names.mid(0, 3);
            names << QString("+%1 more").arg(more);
        }
        const QString title = names.join(", ") + (unit.isEmpty() ? QString() : " (" + unit + ")");
        if (m_pplot->axisTitle(QwtPlot::yLeft).text() != title) changed = true;
        _set_axis_title(QwtPlot::yLeft, title);
    }
    if (!changed) return;
    // New labels may be wider or narrower: lay the axis out again.
    m_pplot->axisWidget(QwtPlot::yLeft)->update();
    m_pplot->updateLayout();
}
