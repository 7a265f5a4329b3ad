// Trend chart of the Scan Diagram page: one curve per scanner channel over the time
// since the scan start, each channel with its own colour, patterns and Y range, an
// automatic X window ([0, newest reading]) or a manual one ([start, end] of the stored
// period). A point's x is its time since the scan start in both modes, so the manual
// axis and the curves always agree. Settings live in the scan-diagram settings.
//
// Long runs stay fluid: each channel keeps its readings in a ui_scan_channel_store_t
// that follows the engine incrementally, and a redraw hands Qwt at most four points per
// device pixel column and channel (first, lowest, highest, last), which draws the same
// line as all readings would.
//
// GUI thread only. At each redraw the chart asks the scan engine for the readings it has
// not seen yet (scan_new_data_msg_t, which blocks until the engine has copied them out),
// so a redraw during a long run copies one tick's readings, not the whole memory.
#pragma once

#include <qwt_symbol.h>

#include <QRgb>
#include <map>
#include <memory>

#include "drv/drv_types.h"
#include "scan/plib_scan_types.h"
#include "ui/chart/ui_common_trend_chart.h"
#include "ui/chart/ui_scan_channel_store.h"

class QwtLegend;
class QwtPlotCurve;
class ui_scan_curve_t;
class cfg_scan_diagram_t;
class ui_scan_x_scan_draw_t;
class ui_scan_y_scale_draw_t;

class ui_scan_trend_chart_t : public ui_common_trend_chart_t {
    Q_OBJECT
public:
    // Applies every stored setting; a null `cfg` keeps the settings (16 channels) in
    // the chart (an instrument-less chart, as the benchmarks use).
    explicit ui_scan_trend_chart_t(cfg_main_t* cfg, QWidget* parent = nullptr);
    ~ui_scan_trend_chart_t() override;

    void set_display_mode(int mode);  // plib_scan_trend_display_mode_t
    int get_display_mode() const;
    // Ignored unless start < end; otherwise also sets the X axis to [start, end].
    void set_display_period(double start, double end);
    void get_display_period(double& start, double& end) const;

    void set_curve_valid(int ch, bool valid);
    bool get_curve_valid(int ch) const;
    void set_curve_visible(int ch, bool visible);
    bool get_curve_visible(int ch) const;
    void set_curve_color(int ch, QRgb color);
    QRgb get_curve_color(int ch) const;
    void set_curve_line_pattern(int ch, Qt::PenStyle pattern);
    Qt::PenStyle get_curve_line_pattern(int ch) const;
    void set_curve_symbol(int ch, QwtSymbol::Style symbol);
    QwtSymbol::Style get_curve_symbol(int ch) const;
    void set_auto_range(int ch, bool on);
    bool get_auto_range(int ch) const;
    void set_range(int ch, double upper, double lower);
    void get_range(int ch, double& upper, double& lower) const;

    // Off draws every reading, as a plain chart would (for measuring the difference).
    void set_reduction(bool on) { m_reduce = on; }
    bool get_reduction() const { return m_reduce; }

    int channel_count() const { return static_cast<int>(m_curves.size()); }

    // The value axis reads channel ch's range (its unit in the title); 0: none (the axis
    // carries no labels, as every curve has its own range).
    void set_value_axis_channel(int ch);
    int value_axis_channel() const { return m_value_axis_ch; }
    QwtPlotCurve* curve(int ch) const;

    // Common axis per function: while on and a channel is on the value axis, every
    // valid channel measuring the same function is drawn against one scale, the union
    // of those channels' ranges; the other channels keep their own. The stored
    // per-channel ranges are not touched. Redraws.
    void set_common_axis(bool on);
    bool get_common_axis() const { return m_common_axis; }
    // The range channel ch is drawn against now: its own, or its function's common one.
    void drawn_range(int ch, double& upper, double& lower) const;

    // The channel whose drawn curve passes nearest to a canvas point, within
    // `max_distance` pixels (Qwt's closestPoint over the points drawn); 0 when none.
    int channel_at(const QPoint& canvas_pos, double max_distance = 10.0) const;

signals:
    void signal_auto_update_range(int ch, double upper, double lower);
    // The user clicked at channel ch's curve; the value axis now reads it.
    void signal_channel_picked(int ch);

protected:
    void _init_plot() override;
    void _redraw() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Where the data comes from: the scan engine's new readings (false without an
    // engine; replaced by benchmarks that drive an engine of their own).
    virtual bool _fetch_new_data(plib_scan_new_data_t& data);
    // Without new readings: a whole set of readings each redraw (test fixtures).
    virtual bool _fetch_scan(plib_scan_data_map_t& data, plib_scan_run_state_t& run);
    QString _cursor_text(const QPointF& plot_pos) const override;
    QString _csv_text() const override;
    void _clicked(const QPointF& plot_pos) override;
    // The function (plib_measure_type_t) channel ch measures; -1 when unknown (no
    // instrument, or the channel has no parameters).
    virtual int _channel_function(int ch) const;

private:
    void _set_x_axis(double start, double end);
    void _apply_pen(int ch);
    void _apply_symbol(int ch);
    void _update_stores(const plib_scan_data_map_t& data, uint64_t start_us);
    void _update_stores(const plib_scan_new_data_t& data, uint64_t start_us);
    void _update_auto_range(int ch);
    void _new_run(uint64_t start_us);
    // The unit of channel ch's readings ("VDC"); empty without an instrument.
    QString _channel_unit(int ch) const;

    cfg_scan_diagram_t* m_psettings = nullptr;
    std::unique_ptr<cfg_scan_diagram_t> m_pown_settings;  // when there is no facade

    ui_scan_x_scan_draw_t* m_px_draw = nullptr;  // owned by the plot's axis
    QwtLegend* m_plegend = nullptr;              // owned by the plot
    std::map<int, ui_scan_curve_t*> m_curves;    // owned by the plot while attached, else here
    std::map<int, QwtSymbol*> m_symbols;         // owned by their curves
    std::map<int, ui_scan_channel_store_t> m_stores;
    plib_scan_data_map_t m_fetched;  // reused between redraws
    plib_scan_new_data_t m_new;      // reused between redraws (the engine refills it in place)
    uint64_t m_memory_id = 0;        // the engine memory the stores follow
    QVector<QPointF> m_points;       // scratch of a redraw
    std::vector<uint8_t> m_dense;    // scratch of a redraw
    std::vector<chart_column_halves_t> m_halves;  // scratch of a redraw
    uint64_t m_start_us = 0;
    double m_elapsed_s = 0.0;
    bool m_reduce = true;
    int m_value_axis_ch = 0;
    bool m_common_axis = false;
    // The channels sharing the value axis's scale now (empty: none) and that scale.
    std::vector<int> m_common_channels;
    double m_common_upper = 0.0;
    double m_common_lower = 0.0;
    void _update_common_range();
    ui_scan_y_scale_draw_t* m_py_draw = nullptr;  // owned by the plot's axis
    void _update_value_axis();
};
