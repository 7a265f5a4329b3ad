// Trend chart of the Measure Diagram page: one curve from the acquisition engine's
// trend store (at most 1000 min/max pairs), overload lines, and a header with the
// latest reading and the record time. Its settings (trend mode, recent-view width,
// range mode and range) live in the instrument's measure-diagram settings.
//
// GUI thread only. The trend view and the run state are fetched from the acquisition
// engine's messages at each redraw, which block until the engine has copied them out.
#pragma once

#include <QPointF>
#include <QString>
#include <QVector>
#include <memory>

#include "acq/plib_acq_types.h"
#include "ui/chart/ui_common_trend_chart.h"

class QLabel;
class QwtPlotCurve;
class QwtPlotMarker;
class cfg_measure_diagram_t;
class ui_x_scale_draw_t;
class ui_y_scale_draw_t;

class ui_trend_chart_t : public ui_common_trend_chart_t {
    Q_OBJECT
public:
    // Loads every stored setting; a null `cfg` keeps the settings in the chart (an
    // instrument-less chart, as the benchmarks use).
    explicit ui_trend_chart_t(cfg_main_t* cfg, QWidget* parent = nullptr);
    ~ui_trend_chart_t() override;

    // 0 "Recent" (axis -timebase..0 s before the latest reading), 1 "All" (axis 0..the
    // whole run in seconds since its first reading); both label time ("1m05s").
    void set_trend_mode(int mode);
    int get_trend_mode() const;
    // Width of the recent view; the settings clamp it to 60..86400 s.
    void set_timebase(double seconds);
    double get_timebase() const;
    void set_range(double lower, double upper);
    void get_range(double& lower, double& upper) const;
    // 0 "Default" (applies the default range at once), 1 "Auto", 2 "Manual".
    void set_range_mode(int mode);
    int get_range_mode() const;
    // Texts of the header's reading, shown at the next redraw.
    void set_latest_display(const QString& sign, const QString& value, const QString& prefix,
                            const QString& unit);
    // The default range of the current function; false (range unchanged) when the
    // function's range text gives none.
    bool apply_default_range();

    const QVector<QPointF>& points() const { return m_points; }

protected:
    void _init_plot() override;
    void _redraw() override;
    // Where the data comes from: the acquisition engine (replaced by the benchmarks).
    virtual bool _fetch_trend(plib_trend_data_info_t& info);
    virtual bool _fetch_run_state(plib_record_run_state_info_t& info);
    QString _cursor_text(const QPointF& plot_pos) const override;
    QString _csv_text() const override;

private:
    void _init_header();
    void _update_x_axis();
    // "All": the time axis [0, span_s] with round clock steps; kept when unchanged.
    void _set_all_axis(double span_s);
    double _all_span() const;  // seconds from the first to the last point drawn
    void _update_header();
    void _update_axis_titles();
    // The unit of the values drawn: the reading's, or the function's before any reading.
    QString _value_unit() const;
    // The value a point's y stands for; the overload value on the overload lines.
    double _value_of_y(double y) const;

    cfg_measure_diagram_t* m_psettings = nullptr;
    std::unique_ptr<cfg_measure_diagram_t> m_pown_settings;  // when there is no facade

    QwtPlotCurve* m_pcurve = nullptr;
    QwtPlotMarker* m_pupper_line = nullptr;
    QwtPlotMarker* m_plower_line = nullptr;
    ui_x_scale_draw_t* m_px_draw = nullptr;  // owned by the plot's axis
    ui_y_scale_draw_t* m_py_draw = nullptr;  // owned by the plot's axis

    QWidget* m_pheader = nullptr;
    QLabel* m_psign_label = nullptr;
    QLabel* m_pdata_label = nullptr;
    QLabel* m_punit_label = nullptr;
    QLabel* m_phours_label = nullptr;
    QLabel* m_pminutes_label = nullptr;
    QLabel* m_pseconds_label = nullptr;

    std::unique_ptr<plib_trend_data_info_t> m_pinfo;  // 32 KiB, reused by every redraw
    QVector<QPointF> m_points;
    static constexpr int all_axis_steps = 5;
    double m_all_axis_s = -1.0;  // the end of the "All" axis last set
    int64_t m_earliest_us = 0;
    int64_t m_latest_us = 0;
    quint64 m_readings = 0;
    double m_elapsed_s = 0.0;
    QString m_sign, m_value, m_prefix, m_unit;
};
