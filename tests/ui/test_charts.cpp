// Trend charts and the Measure Diagram page: chart units, axis labels, default and
// automatic ranges, the measure chart's points from a trend view, redraw coalescing,
// the page's X and Y scale panels, and the scan chart's per-column reduction checked
// against a brute-force reduction of random data.
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_map.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QXmlStreamReader>
#include <QSvgRenderer>
#include <QWheelEvent>
#include <QtTest>
#include <qwt_plot_picker.h>
#include <qwt_plot_zoomer.h>
#include "support/temp_dir.h"
#include "ui/ui_application.h"
#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "cfg/cfg_main.h"
#include "common/plib_common.h"
#include "ui/chart/ui_chart_math.h"
#include "ui/chart/ui_measure_diagram_frame.h"
#include "ui/chart/ui_scan_channel_store.h"
#include "ui/chart/ui_scan_curve.h"
#include "ui/chart/ui_scan_trend_chart.h"
#include "ui/chart/ui_trend_chart.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;

namespace {

constexpr double ovl = plib_overload_value;
const double nan_v = std::numeric_limits<double>::quiet_NaN();
const double inf_v = std::numeric_limits<double>::infinity();

// A measure chart fed from a fixed trend view and run state instead of an engine.
class fixture_trend_chart_t : public ui_trend_chart_t {
public:
    using ui_trend_chart_t::ui_trend_chart_t;
    plib_trend_data_info_t trend;
    plib_record_run_state_info_t run;
    int fetches = 0;

protected:
    bool _fetch_trend(plib_trend_data_info_t& info) override {
        ++fetches;
        const int mode = info.mode;
        info = trend;
        info.mode = mode;
        return true;
    }
    bool _fetch_run_state(plib_record_run_state_info_t& info) override {
        info = run;
        return true;
    }
};

// A scan chart fed from a fixed reading map and run state, and the channels' functions.
class fixture_scan_chart_t : public ui_scan_trend_chart_t {
public:
    using ui_scan_trend_chart_t::ui_scan_trend_chart_t;
    plib_scan_data_map_t data;
    plib_scan_run_state_t run;
    std::map<int, int> functions;

protected:
    int _channel_function(int ch) const override {
        const auto it = functions.find(ch);
        return it == functions.end() ? -1 : it->second;
    }
    bool _fetch_scan(plib_scan_data_map_t& out, plib_scan_run_state_t& state) override {
        out = data;
        state = run;
        return true;
    }
};

void set_pair(plib_trend_data_info_t& info, int k, int64_t t_max, double v_max, int64_t t_min, double v_min) {
    info.max_points[k] = {v_max, t_max};
    info.min_points[k] = {v_min, t_min};
}

QVector<QPointF> samples_of(const QwtPlotCurve* curve) {
    QVector<QPointF> out;
    for (size_t i = 0; i < curve->dataSize(); ++i) out << curve->sample(static_cast<int>(i));
    return out;
}

// What a pixel column of a drawn line is made of: its first and last point and its
// lowest and highest y.
struct column_summary_t {
    QPointF first, last;
    double ymin = 0.0, ymax = 0.0;
    bool operator==(const column_summary_t& o) const {
        return first == o.first && last == o.last && ymin == o.ymin && ymax == o.ymax;
    }
};

std::map<int64_t, column_summary_t> summarise(const QVector<QPointF>& points,
                                              const chart_column_map_t& columns) {
    std::map<int64_t, column_summary_t> out;
    for (const QPointF& p : points) {
        const int64_t col = columns.column(p.x());
        auto it = out.find(col);
        if (it == out.end()) {
            out[col] = {p, p, p.y(), p.y()};
            continue;
        }
        it->second.last = p;
        it->second.ymin = std::min(it->second.ymin, p.y());
        it->second.ymax = std::max(it->second.ymax, p.y());
    }
    return out;
}

bool bitwise_same(const QPointF& a, const QPointF& b) {
    const double ax = a.x(), ay = a.y(), bx = b.x(), by = b.y();
    return std::memcmp(&ax, &bx, sizeof ax) == 0 && std::memcmp(&ay, &by, sizeof ay) == 0;
}

// `part` is `whole` with points left out, order kept.
bool is_subsequence(const QVector<QPointF>& part, const QVector<QPointF>& whole) {
    int j = 0;
    for (const QPointF& p : part) {
        while (j < whole.size() && !bitwise_same(whole[j], p)) ++j;
        if (j == whole.size()) return false;
        ++j;
    }
    return true;
}

// The brute-force reduction's input: every reading as a point.
QVector<QPointF> all_points(const std::vector<plib_data_t>& readings, uint64_t start_us,
                            const chart_scan_ymap_t& ymap) {
    QVector<QPointF> out;
    for (const plib_data_t& r : readings) {
        out << QPointF(static_cast<double>(static_cast<uint64_t>(r.timestamp) - start_us) / 1e6,
                       ymap.y(r.value));
    }
    return out;
}

// A page on an instrument that is not connected (no resource): its settings are real.
struct page_fixture_t {
    page_fixture_t() {
        item = std::make_unique<ui_device_item_t>("VXA-2", "", pugi::xml_node());
        cfg = item->get_mngr()->get_cfg();
    }
    void build() { frame = std::make_unique<ui_measure_diagram_frame_t>(nullptr, item.get()); }
    template <typename T>
    T* find(const char* name) const {
        T* w = frame->findChild<T*>(name);
        if (w == nullptr) qFatal("no widget %s", name);
        return w;
    }
    QRadioButton* radio(const QString& text) const {
        for (QRadioButton* b : frame->findChildren<QRadioButton*>()) {
            if (b->text() == text) return b;
        }
        qFatal("no radio button");
        return nullptr;
    }
    QPushButton* apply_in(const char* parent_name) const {
        return find<QWidget>(parent_name)->findChild<QPushButton*>("measure_diagram_apply_btn");
    }
    ui_trend_chart_t* chart() const { return find<ui_trend_chart_t>("measure_diagram_trend_chart"); }

    std::unique_ptr<ui_device_item_t> item;
    cfg_main_t* cfg = nullptr;
    std::unique_ptr<ui_measure_diagram_frame_t> frame;
};

}  // namespace

class test_charts_t : public QObject {
    Q_OBJECT

private slots:
    void chart_units_data();
    void chart_units();
    void y_labels_data();
    void y_labels();
    void x_labels_data();
    void x_labels();
    void elapsed_texts();
    void default_range_data();
    void default_range();
    void default_range_of_the_current_function_data();
    void default_range_of_the_current_function();
    void auto_range_data();
    void auto_range();
    void auto_range_with_only_overload_keeps_the_range();
    void recent_and_all_points();
    void chart_draws_fixture_with_overload_lines_and_header();
    void time_ticks_of_odd_spans();
    void all_mode_time_axis_of_a_known_run_data();
    void all_mode_time_axis_of_a_known_run();
    void redraws_are_coalesced_and_skipped_while_hidden();
    void page_window_apply_data();
    void page_window_apply();
    void page_manual_range_apply_data();
    void page_manual_range_apply();
    void page_modes_and_placeholders();
    void page_function_change_returns_to_default();
    void page_notifications();
    void scan_reduction_matches_brute_force();
    void scan_curve_fill_matches_draw_rects_data();
    void scan_curve_fill_matches_draw_rects();
    void scan_store_follows_sliding_engine_memory();
    void scan_store_reduction_after_readings_replaced_data();
    void scan_store_reduction_after_readings_replaced();
    void scan_chart_axis_and_points_share_time();
    void scan_chart_auto_range_and_wrong_timestamps();
    void scan_chart_reduced_curves_keep_column_extremes();
    void scan_chart_reduced_picture_matches_full_picture_data();
    void scan_chart_reduced_picture_matches_full_picture();
    void chart_zoom_pan_and_back_to_the_automatic_view();
    void chart_cursor_reads_the_nearest_point_with_unit();
    void chart_exports_png_svg_and_csv();
    void scan_chart_cursor_export_and_zoom_kept_by_redraws();
    void scan_chart_click_at_a_curve_picks_its_channel();
    void scan_chart_common_axis_per_function();
};

// ---------------------------------------------------------------------------------------
// Pure computations

void test_charts_t::chart_units_data() {
    QTest::addColumn<double>("v");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<double>("measure_y");
    QTest::addColumn<double>("scan_y");
    QTest::newRow("middle") << 1.0 << 0.0 << 2.0 << 0.0 << 0.0;
    QTest::newRow("upper edge") << 2.0 << 0.0 << 2.0 << 30000.0 << 30000.0;
    QTest::newRow("lower edge") << 0.0 << 0.0 << 2.0 << -30000.0 << -30000.0;
    QTest::newRow("above: clamped, scan unclamped") << 5.0 << 0.0 << 2.0 << 30000.0 << 120000.0;
    QTest::newRow("below: clamped, scan unclamped") << -1.0 << 0.0 << 2.0 << -30000.0 << -60000.0;
    QTest::newRow("quarter") << -0.1 << -0.2 << 0.2 << -15000.0 << -15000.0;
    QTest::newRow("overload on its line") << ovl << 0.0 << 2.0 << 33000.0 << 60000.0 / 2.0 * (ovl - 1.0);
    QTest::newRow("negative overload") << -ovl << 0.0 << 2.0 << -33000.0 << 60000.0 / 2.0 * (-ovl - 1.0);
    QTest::newRow("overload within tolerance")
        << ovl * (1 + 1e-7) << 0.0 << 2.0 << 33000.0 << 60000.0 / 2.0 * (ovl * (1 + 1e-7) - 1.0);
    QTest::newRow("no-reading value is not overload")
        << plib_no_reading_value << 0.0 << 2.0 << 30000.0 << 60000.0 / 2.0 * (plib_no_reading_value - 1.0);
    QTest::newRow("NaN") << nan_v << 0.0 << 2.0 << 0.0 << 0.0;
    QTest::newRow("infinite: edge, scan 0") << inf_v << 0.0 << 2.0 << 30000.0 << 0.0;
    QTest::newRow("-infinite: edge, scan 0") << -inf_v << 0.0 << 2.0 << -30000.0 << 0.0;
    QTest::newRow("zero span at the value") << 1.0 << 1.0 << 1.0 << 0.0 << 0.0;
    QTest::newRow("zero span above") << 3.0 << 1.0 << 1.0 << 30000.0 << 0.0;
    QTest::newRow("y overflows") << 1e300 << 0.0 << 1e-300 << 30000.0 << 0.0;
}

void test_charts_t::chart_units() {
    QFETCH(double, v);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(double, measure_y);
    QFETCH(double, scan_y);
    QCOMPARE(chart_measure_y(v, lower, upper), measure_y);
    QCOMPARE(chart_scan_y(v, lower, upper), scan_y);
    // The reduction's mapping is the same formula.
    QCOMPARE(chart_scan_ymap_t(lower, upper).y(v), scan_y);
}

void test_charts_t::y_labels_data() {
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<QString>("label");
    QTest::newRow("upper overload line") << 33000.0 << 0.0 << 2.0 << "OVERLOAD";
    QTest::newRow("lower overload line") << -33000.0 << 0.0 << 2.0 << "-OVERLOAD";
    QTest::newRow("upper edge") << 30000.0 << 0.0 << 2.0 << "2";
    QTest::newRow("middle") << 0.0 << 0.0 << 2.0 << "1";
    QTest::newRow("millivolts") << 27000.0 << -0.2 << 0.2 << "180m";
    QTest::newRow("negative millivolts") << -27000.0 << -0.2 << 0.2 << "-180m";
    QTest::newRow("kilo") << 3000.0 << 0.0 << 2000.0 << "1.1k";
    QTest::newRow("micro") << 30000.0 << 0.0 << 1e-4 << "100u";
    QTest::newRow("six digits") << 9000.0 << 0.0 << 3.0 << "1.95";
    QTest::newRow("zero") << 0.0 << -0.2 << 0.2 << "0";
}

void test_charts_t::y_labels() {
    QFETCH(double, y);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(QString, label);
    QCOMPARE(chart_y_label(y, lower, upper), label);
}

void test_charts_t::x_labels_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<QString>("label");
    QTest::newRow("seconds") << 5.25 << "5.25s";
    QTest::newRow("seconds, two decimals") << 42.5 << "42.50s";
    QTest::newRow("zero") << 0.0 << "0.00s";
    QTest::newRow("negative zero") << -0.0 << "0.00s";
    QTest::newRow("minutes") << 309.0 << "5m09s";
    QTest::newRow("whole minute") << 60.0 << "1m00s";
    QTest::newRow("hours") << 3909.0 << "1h05m09s";
    QTest::newRow("hours 2") << 3725.0 << "1h02m05s";
    QTest::newRow("a day") << 86400.0 << "24h00m00s";
    QTest::newRow("negative seconds") << -30.0 << "-30.00s";
    QTest::newRow("negative quarter") << -15.0 << "-15.00s";
    QTest::newRow("negative minutes") << -65.0 << "-1m05s";
    QTest::newRow("negative hours") << -3725.0 << "-1h02m05s";
    QTest::newRow("negative day") << -86400.0 << "-24h00m00s";
    QTest::newRow("not a number") << nan_v << "";
}

void test_charts_t::x_labels() {
    QFETCH(double, x);
    QFETCH(QString, label);
    QCOMPARE(chart_time_label(x), label);
    QCOMPARE(chart_readings_label(0.0, 12345), QString("Readings: #12345"));
    QCOMPARE(chart_readings_label(5e-10, 3), QString("Readings: #3"));
    QCOMPARE(chart_readings_label(250.0, 12345), QString());
}

void test_charts_t::elapsed_texts() {
    const struct {
        double s;
        const char *h, *m, *sec;
    } cases[] = {{0.0, "00", "00", "00.00"},       {5.25, "00", "00", "05.25"},
                 {3725.5, "01", "02", "05.50"},    {59.999, "00", "01", "00.00"},
                 {-3.0, "00", "00", "00.00"},      {nan_v, "00", "00", "00.00"},
                 {360000.0, "100", "00", "00.00"}, {119.994, "00", "01", "59.99"}};
    for (const auto& c : cases) {
        const chart_elapsed_texts_t t = chart_elapsed_texts(c.s);
        QCOMPARE(t.hours + "|" + t.minutes + "|" + t.seconds, QString("%1|%2|%3").arg(c.h, c.m, c.sec));
    }
}

void test_charts_t::default_range_data() {
    QTest::addColumn<int>("f");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("threshold");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::newRow("DC voltage 200 mV") << int(measure_dcv) << "200mV"
                                       << "" << true << -0.2 << 0.2;
    QTest::newRow("AC voltage 200 mV") << int(measure_acv) << "200mV"
                                       << "" << true << 0.0 << 0.2;
    QTest::newRow("DC current, Greek micro") << int(measure_dci) << "200μA"
                                             << "" << true << -2e-4 << 2e-4;
    QTest::newRow("AC current") << int(measure_aci) << "20mA"
                                << "" << true << 0.0 << 0.02;
    QTest::newRow("2-wire resistance") << int(measure_res_2w) << "2kΩ"
                                       << "" << true << 0.0 << 2000.0;
    QTest::newRow("4-wire resistance") << int(measure_res_4w) << "10MΩ"
                                       << "" << true << 0.0 << 1e7;
    QTest::newRow("frequency") << int(measure_freq) << "20V"
                               << "" << true << 0.0 << 20.0;
    QTest::newRow("period") << int(measure_period) << "750V"
                            << "" << true << 0.0 << 750.0;
    QTest::newRow("capacitance") << int(measure_cap) << "2uF"
                                 << "" << true << -2e-6 << 2e-6;
    QTest::newRow("temperature") << int(measure_temp) << "100"
                                 << "" << true << -100.0 << 100.0;
    QTest::newRow("continuity threshold") << int(measure_cont) << ""
                                          << "50" << true << 0.0 << 50.0;
    QTest::newRow("continuity threshold, integer part") << int(measure_cont) << ""
                                                        << "12.7" << true << 0.0 << 12.0;
    QTest::newRow("diode threshold") << int(measure_diode) << "2V"
                                     << "2" << true << 0.0 << 2.0;
    QTest::newRow("no range text") << int(measure_sensor) << ""
                                   << "" << false << 7.0 << 9.0;
    QTest::newRow("unreadable range") << int(measure_dcv) << "AUTO"
                                      << "" << false << 7.0 << 9.0;
    QTest::newRow("no threshold") << int(measure_cont) << ""
                                  << "" << false << 7.0 << 9.0;
}

void test_charts_t::default_range() {
    QFETCH(int, f);
    QFETCH(QString, range);
    QFETCH(QString, threshold);
    QFETCH(bool, ok);
    QFETCH(double, lower);
    QFETCH(double, upper);
    double l = 7.0;
    double u = 9.0;
    QCOMPARE(chart_default_range(f, range.toStdString(), threshold.toStdString(), l, u), ok);
    QCOMPARE(l, lower);
    QCOMPARE(u, upper);
}

void test_charts_t::default_range_of_the_current_function_data() {
    QTest::addColumn<int>("f");
    QTest::addColumn<QString>("text");  // the range, or the threshold of Continuity and Diode
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::newRow("DC voltage") << int(measure_dcv) << "200mV" << -0.2 << 0.2;
    QTest::newRow("AC voltage") << int(measure_acv) << "200mV" << 0.0 << 0.2;
    QTest::newRow("DC current") << int(measure_dci) << "200μA" << -2e-4 << 2e-4;
    QTest::newRow("continuity") << int(measure_cont) << "10" << 0.0 << 10.0;
    QTest::newRow("diode") << int(measure_diode) << "2" << 0.0 << 2.0;
}

void test_charts_t::default_range_of_the_current_function() {
    QFETCH(int, f);
    QFETCH(QString, text);
    QFETCH(double, lower);
    QFETCH(double, upper);
    plib_mngr_t mngr("VXA-2", pugi::xml_node());
    cfg_main_t* cfg = mngr.get_cfg();
    cfg->set_function(f);
    if (f == measure_cont || f == measure_diode) {
        cfg->set_threshold(f, text.toStdString());
    } else {
        cfg->set_range(f, text.toStdString());
    }
    cfg->set_range_mode(1);
    cfg->set_range_limits(-5.0, 5.0);
    fixture_trend_chart_t chart(cfg);
    double l = 0.0, u = 0.0;
    chart.get_range(l, u);
    QCOMPARE(l, -5.0);  // "Auto" stored: construction keeps the range
    chart.set_range_mode(0);
    chart.get_range(l, u);
    QCOMPARE(l, lower);
    QCOMPARE(u, upper);
    QCOMPARE(cfg->get_range_mode(), 0);
    // The Y labels follow the stored range.
    QCOMPARE(chart.plot()->axisScaleDraw(QwtPlot::yLeft)->label(30000.0).text(),
             chart_y_label(30000.0, lower, upper));
}

void test_charts_t::auto_range_data() {
    QTest::addColumn<double>("ymin");
    QTest::addColumn<double>("ymax");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::newRow("readings") << -0.5 << 1.5 << true << -0.5 << 1.5;
    QTest::newRow("only overload") << ovl << -ovl << false << 7.0 << 9.0;
    QTest::newRow("no max") << 0.0 << -ovl << false << 7.0 << 9.0;
    QTest::newRow("constant") << 2.0 << 2.0 << true << 0.0 << 4.0;
    QTest::newRow("constant negative") << -2.0 << -2.0 << true << -4.0 << 0.0;
    QTest::newRow("constant zero") << 0.0 << 0.0 << true << -1.0 << 1.0;
    QTest::newRow("NaN") << nan_v << 1.0 << false << 7.0 << 9.0;
}

void test_charts_t::auto_range() {
    QFETCH(double, ymin);
    QFETCH(double, ymax);
    QFETCH(bool, ok);
    QFETCH(double, lower);
    QFETCH(double, upper);
    double l = 7.0, u = 9.0;
    QCOMPARE(chart_auto_range(ymin, ymax, l, u), ok);
    QCOMPARE(l, lower);
    QCOMPARE(u, upper);
}

void test_charts_t::auto_range_with_only_overload_keeps_the_range() {
    fixture_trend_chart_t chart(nullptr);
    chart.set_range(-1.0, 1.0);
    chart.set_range_mode(1);
    chart.trend.count = 2;
    set_pair(chart.trend, 0, 1000, ovl, 1000, ovl);
    set_pair(chart.trend, 1, 2000, ovl, 2000, ovl);
    chart.trend.ymax = -ovl;  // what the store reports when every reading is overload
    chart.trend.ymin = ovl;
    chart.redraw_now();
    double l = 0.0, u = 0.0;
    chart.get_range(l, u);
    QCOMPARE(l, -1.0);
    QCOMPARE(u, 1.0);
    for (const QPointF& p : chart.points()) QCOMPARE(p.y(), 33000.0);

    // Readings that are not overload set the range.
    set_pair(chart.trend, 1, 2000, 0.75, 1500, 0.25);
    chart.trend.ymax = 0.75;
    chart.trend.ymin = 0.25;
    chart.redraw_now();
    chart.get_range(l, u);
    QCOMPARE(l, 0.25);
    QCOMPARE(u, 0.75);
}

void test_charts_t::recent_and_all_points() {
    plib_trend_data_info_t info;
    info.count = 3;
    const int64_t t0 = 1733826000000000;  // a real epoch: doubles of it would lose microseconds
    set_pair(info, 0, t0 + 1, 1.0, t0, 0.5);
    set_pair(info, 1, t0 + 2500001, ovl, t0 + 2000000, 1.0);
    set_pair(info, 2, t0 + 4000000, 2.0, t0 + 4000000, 2.0);
    // Range [0, 2]: 0.5 -> -15000, 1 -> 0, 2 -> 30000.
    // "All": seconds since the earliest stamp, the earlier of each pair first.
    const chart_measure_points_t all = chart_measure_points(info, 1, 0.0, 2.0);
    const QVector<QPointF> all_expected = {
        {0.0, -15000}, {0.000001, 0}, {2.0, 0}, {2.500001, 33000}, {4.0, 30000}};  // pair 2: one reading
    QCOMPARE(all.points.size(), all_expected.size());
    for (int i = 0; i < all_expected.size(); ++i) {
        QVERIFY2(std::fabs(all.points[i].x() - all_expected[i].x()) < 1e-9, qPrintable(QString::number(i)));
        QCOMPARE(all.points[i].y(), all_expected[i].y());
    }
    QVERIFY(all.upper_overload);
    QVERIFY(!all.lower_overload);

    const chart_measure_points_t recent = chart_measure_points(info, 0, 0.0, 2.0);
    const QVector<QPointF> recent_expected = {{-3.999999, 0}, {-4.0, -15000}, {-1.499999, 33000},
                                              {-2.0, 0},      {0.0, 30000},   {0.0, 30000}};
    QCOMPARE(recent.points.size(), recent_expected.size());
    for (int i = 0; i < recent_expected.size(); ++i) {
        QVERIFY2(std::fabs(recent.points[i].x() - recent_expected[i].x()) < 1e-9,
                 qPrintable(QString::number(i)));
        QCOMPARE(recent.points[i].y(), recent_expected[i].y());
    }

    // Newest timestamp on the min side; negative overload; counts beyond the arrays.
    set_pair(info, 2, t0 + 3000000, -ovl, t0 + 5000000, -ovl);
    const chart_measure_points_t shifted = chart_measure_points(info, 0, 0.0, 2.0);
    QVERIFY(std::fabs(shifted.points[0].x() - -4.999999) < 1e-9);
    QCOMPARE(shifted.points.last(), QPointF(0.0, -33000.0));
    QVERIFY(shifted.lower_overload);
    info.count = 0;
    QVERIFY(chart_measure_points(info, 0, 0.0, 2.0).points.isEmpty());
    info.count = -5;
    QVERIFY(chart_measure_points(info, 1, 0.0, 2.0).points.isEmpty());
}

void test_charts_t::chart_draws_fixture_with_overload_lines_and_header() {
    fixture_trend_chart_t chart(nullptr);
    chart.resize(900, 500);
    chart.set_range(0.0, 2.0);
    chart.set_range_mode(2);
    chart.set_trend_mode(1);
    chart.trend.count = 2;
    set_pair(chart.trend, 0, 1000, 1.0, 1000, 1.0);
    set_pair(chart.trend, 1, 200001000, ovl, 150001000, -ovl);
    chart.run.total_count = 12345;
    chart.run.elapsed_s = 3725.5;
    chart.set_latest_display("-", "1.23456", "m", "V");
    chart.redraw_now();
    QCOMPARE(chart.points().size(), 3);
    const QwtScaleDraw* x_draw = chart.plot()->axisScaleDraw(QwtPlot::xBottom);
    // "All": the whole run (200 s) on a time axis; the readings count in its title.
    QList<double> ticks = chart.plot()->axisScaleDiv(QwtPlot::xBottom).ticks(QwtScaleDiv::MajorTick);
    QCOMPARE(ticks, QList<double>({0, 60, 120, 180}));
    QCOMPARE(chart.plot()->axisScaleDiv(QwtPlot::xBottom).upperBound(), 200.0);
    QCOMPARE(x_draw->label(ticks.first()).text(), QString("0.00s"));
    QCOMPARE(x_draw->label(ticks.last()).text(), QString("3m00s"));
    QCOMPARE(chart.plot()->axisTitle(QwtPlot::xBottom).text(),
             QString("Time since the first reading (12345 readings)"));
    QCOMPARE(chart.plot()->axisScaleDraw(QwtPlot::yLeft)->label(33000).text(), QString("OVERLOAD"));
    QCOMPARE(chart.plot()->axisScaleDiv(QwtPlot::yLeft).ticks(QwtScaleDiv::MajorTick).first(), -33000.0);

    QStringList times;
    for (QLabel* l : chart.findChildren<QLabel*>("trend_chart_time_label")) times << l->text();
    QCOMPARE(times, QStringList({"Record time: ", "01", "h", "02", "m", "05.50", "s"}));
    QCOMPARE(chart.findChild<QLabel*>("trend_chart_data_sign_label")->text(), QString("-"));
    QCOMPARE(chart.findChild<QLabel*>("trend_chart_data_label")->text(), QString("1.23456"));
    QCOMPARE(chart.findChild<QLabel*>("trend_chart_unit_label")->text(), QString("mV"));

    // Recent: time ticks over the window; a view without points keeps the old ones.
    chart.set_timebase(120);
    chart.set_trend_mode(0);
    ticks = chart.plot()->axisScaleDiv(QwtPlot::xBottom).ticks(QwtScaleDiv::MajorTick);
    QCOMPARE(ticks, QList<double>({-120, -90, -60, -30, 0}));
    QCOMPARE(x_draw->label(-90.0).text(), QString("-1m30s"));
    chart.trend.count = 0;
    chart.redraw_now();
    QCOMPARE(chart.points().size(), 3);
}

// Spans a run's clock can give: none, reversed, not finite, a fraction of a second, or
// beyond a century (an instrument clock that jumped): bounded tick lists inside the span.
void test_charts_t::time_ticks_of_odd_spans() {
    QVERIFY(chart_time_ticks(5.0, 5.0, 5).isEmpty());
    QVERIFY(chart_time_ticks(5.0, 1.0, 5).isEmpty());
    QVERIFY(chart_time_ticks(0.0, inf_v, 5).isEmpty());
    QVERIFY(chart_time_ticks(nan_v, 1.0, 5).isEmpty());
    for (const auto& [x1, x2] : std::vector<std::pair<double, double>>{
             {0.0, 0.004}, {0.0, 0.5}, {0.0, 86400.0 * 3}, {0.0, 1.8e13}, {-1.8e13, 1.8e13}}) {
        const QList<double> ticks = chart_time_ticks(x1, x2, 5);
        QVERIFY2(ticks.size() >= 2 && ticks.size() <= 12, qPrintable(QString("%1: %2").arg(x2).arg(ticks.size())));
        for (double t : ticks) QVERIFY(t >= x1 - 1e-6 * std::fabs(x2 - x1) && t <= x2 + 1e-6 * std::fabs(x2 - x1));
        QVERIFY(!chart_time_label(ticks.last()).isEmpty());
    }
    // Minutes of a run fall on whole minutes.
    QCOMPARE(chart_time_ticks(0.0, 300.0, 5), QList<double>({0, 60, 120, 180, 240, 300}));
}

void test_charts_t::all_mode_time_axis_of_a_known_run_data() {
    QTest::addColumn<double>("span");  // seconds from the first to the last reading
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<double>("step");  // seconds between ticks
    QTest::newRow("42.5 s") << 42.5 << "0.00s" << "40.00s" << 10.0;
    QTest::newRow("16m40s") << 1000.0 << "0.00s" << "15m00s" << 300.0;
    QTest::newRow("1h02m05s") << 3725.0 << "0.00s" << "1h00m00s" << 900.0;
    QTest::newRow("5h30m") << 19800.0 << "0.00s" << "4h00m00s" << 7200.0;
}

// "All" shows the whole run: the axis runs from the first reading (0) to the last, with
// ticks on round clock steps and time labels.
void test_charts_t::all_mode_time_axis_of_a_known_run() {
    QFETCH(double, span);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(double, step);
    QWidget page;
    page.resize(1100, 500);
    auto* chart = new fixture_trend_chart_t(nullptr, &page);
    chart->resize(1100, 500);
    chart->set_trend_mode(1);
    const int n = 1000;
    const int64_t t0 = 1733826000000000;
    chart->trend.count = n;
    for (int k = 0; k < n; ++k) {
        const int64_t t = t0 + static_cast<int64_t>(std::llround(span * 1e6 * k / (n - 1)));
        set_pair(chart->trend, k, t, 1.0 + k % 7, t, 1.0 + k % 7);
    }
    chart->run.total_count = 4321;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    chart->redraw_now();
    const QwtScaleDiv& div = chart->plot()->axisScaleDiv(QwtPlot::xBottom);
    QCOMPARE(div.lowerBound(), 0.0);
    QVERIFY(std::fabs(div.upperBound() - span) < 1e-6);
    const QList<double> ticks = div.ticks(QwtScaleDiv::MajorTick);
    QVERIFY2(ticks.size() >= 3 && ticks.size() <= 7, qPrintable(QString::number(ticks.size())));
    for (int i = 1; i < ticks.size(); ++i) QVERIFY(std::fabs(ticks[i] - ticks[i - 1] - step) < 1e-6);
    const QwtScaleDraw* x_draw = chart->plot()->axisScaleDraw(QwtPlot::xBottom);
    QCOMPARE(x_draw->label(ticks.first()).text(), first);
    QCOMPARE(x_draw->label(ticks.last()).text(), last);
    QCOMPARE(chart->points().first().x(), 0.0);
    QVERIFY(std::fabs(chart->points().last().x() - span) < 1e-6);
    // The cursor reads the time of the nearest point.
    QVERIFY(chart->cursor_text(QPointF(span, chart->points().last().y())).startsWith(chart_time_label(span)));

}

void test_charts_t::redraws_are_coalesced_and_skipped_while_hidden() {
    QWidget page;
    auto* chart = new fixture_trend_chart_t(nullptr, &page);
    QSignalSpy redrawn(chart, &ui_common_trend_chart_t::signal_redrawn);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTRY_COMPARE(redrawn.count(), 1);  // showing draws once
    redrawn.clear();
    for (int i = 0; i < 5; ++i) chart->refresh();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(redrawn.count(), 1);

    // Hidden: requests do nothing until the chart is shown again, which draws once.
    page.hide();
    redrawn.clear();
    const int fetches = chart->fetches;
    for (int i = 0; i < 3; ++i) {
        chart->refresh();
        QCoreApplication::processEvents();
    }
    QCOMPARE(redrawn.count(), 0);
    QCOMPARE(chart->fetches, fetches);
    page.show();
    QTRY_COMPARE(redrawn.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(redrawn.count(), 1);
}

// ---------------------------------------------------------------------------------------
// The Measure Diagram page

void test_charts_t::page_window_apply_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("unit_index");
    QTest::addColumn<double>("seconds");
    QTest::newRow("5 m") << "5" << 0 << 300.0;
    QTest::newRow("2 h") << "2" << 1 << 7200.0;
    QTest::newRow("0 m") << "0" << 0 << 60.0;
    QTest::newRow("0 h") << "0" << 1 << 60.0;
    QTest::newRow("30 h") << "30" << 1 << 86400.0;
    QTest::newRow("empty") << "" << 1 << 120.0;
    QTest::newRow("huge") << "999999999999999999999" << 0 << 86400.0;
}

void test_charts_t::page_window_apply() {
    QFETCH(QString, text);
    QFETCH(int, unit_index);
    QFETCH(double, seconds);
    page_fixture_t page;
    page.cfg->set_rec_time(120);
    page.build();
    auto* edit = page.find<QLineEdit>("measure_diagram_window_edit");
    QCOMPARE(edit->text(), QString());
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->text(), text);  // digits only pass the validator
    page.find<QComboBox>("measure_diagram_window_unit")->setCurrentIndex(unit_index);
    page.apply_in("measure_diagram_window_row")->click();
    QCOMPARE(page.cfg->get_rec_time(), seconds);
    const QList<double> ticks =
        page.chart()->plot()->axisScaleDiv(QwtPlot::xBottom).ticks(QwtScaleDiv::MajorTick);
    QCOMPARE(ticks.first(), -seconds);
}

void test_charts_t::page_manual_range_apply_data() {
    QTest::addColumn<QString>("min");
    QTest::addColumn<QString>("max");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::newRow("max only") << ""
                              << "0.5" << false << -1.0 << 0.5;
    QTest::newRow("max below stored min") << ""
                                          << "-2" << true << -1.0 << 1.0;
    QTest::newRow("equal") << "3"
                           << "3" << true << -1.0 << 1.0;
    QTest::newRow("both") << "-0.25"
                          << "4" << false << -0.25 << 4.0;
    QTest::newRow("lone minus as min") << "-"
                                       << "0.5" << false << 0.0 << 0.5;
    QTest::newRow("lone minus as max") << "-0.5"
                                       << "-" << false << -0.5 << 0.0;
    QTest::newRow("lone minus, min above") << "0.5"
                                           << "-" << true << -1.0 << 1.0;
    QTest::newRow("nothing entered") << ""
                                     << "" << false << -1.0 << 1.0;
}

void test_charts_t::page_manual_range_apply() {
    QFETCH(QString, min);
    QFETCH(QString, max);
    QFETCH(bool, refused);
    QFETCH(double, lower);
    QFETCH(double, upper);
    page_fixture_t page;
    page.cfg->set_range_limits(-1.0, 1.0);
    page.cfg->set_range_mode(2);
    page.build();
    QVERIFY(page.radio("Manual")->isChecked());
    QVERIFY(!page.find<QWidget>("measure_diagram_manual_panel")->isHidden());
    auto* min_edit = page.find<QLineEdit>("measure_diagram_min_edit");
    auto* max_edit = page.find<QLineEdit>("measure_diagram_max_edit");
    QCOMPARE(min_edit->placeholderText(), QString("-1"));
    QCOMPARE(max_edit->placeholderText(), QString("1"));
    QTest::keyClicks(min_edit, min);
    QTest::keyClicks(max_edit, max);
    QCOMPARE(min_edit->text(), min);
    QCOMPARE(max_edit->text(), max);
    modal_closer_t closer;
    page.apply_in("measure_diagram_manual_panel")->click();
    QCOMPARE(closer.seen(), refused ? QStringList({"Wrong|Unreasonable setting values!"}) : QStringList());
    double l = 0.0, u = 0.0;
    page.cfg->get_range_limits(l, u);
    QCOMPARE(l, lower);
    QCOMPARE(u, upper);
    QCOMPARE(min_edit->text(), min);  // the edits keep what was typed
    QCOMPARE(max_edit->text(), max);
    QCOMPARE(min_edit->placeholderText(), QString::number(lower, 'g', 5));
    QCOMPARE(max_edit->placeholderText(), QString::number(upper, 'g', 5));
}

void test_charts_t::page_modes_and_placeholders() {
    page_fixture_t page;
    page.cfg->set_function(measure_dcv);
    page.cfg->set_range(measure_dcv, "200mV");
    page.cfg->set_trend_mode(1);
    page.build();
    QCOMPARE(page.frame->objectName(), QString("measure_diag_frame"));
    QCOMPARE(page.frame->findChildren<QWidget*>("measure_diag_groupbox").size(), 2);
    QVERIFY(page.radio("All")->isChecked());
    QVERIFY(page.find<QWidget>("measure_diagram_window_row")->isHidden());
    QVERIFY(page.radio("Default")->isChecked());  // a new instrument's range mode
    QVERIFY(page.find<QWidget>("measure_diagram_manual_panel")->isHidden());

    page.radio("Recent")->click();
    QCOMPARE(page.cfg->get_trend_mode(), 0);
    QVERIFY(!page.find<QWidget>("measure_diagram_window_row")->isHidden());
    page.radio("All")->click();
    QCOMPARE(page.cfg->get_trend_mode(), 1);
    QVERIFY(page.find<QWidget>("measure_diagram_window_row")->isHidden());

    page.radio("Manual")->click();
    QCOMPARE(page.cfg->get_range_mode(), 2);
    QVERIFY(!page.find<QWidget>("measure_diagram_manual_panel")->isHidden());
    QCOMPARE(page.find<QLineEdit>("measure_diagram_min_edit")->placeholderText(), QString("-0.2"));
    QCOMPARE(page.find<QLineEdit>("measure_diagram_max_edit")->placeholderText(), QString("0.2"));
    page.radio("Auto")->click();
    QCOMPARE(page.cfg->get_range_mode(), 1);
    QVERIFY(page.find<QWidget>("measure_diagram_manual_panel")->isHidden());
    page.cfg->set_range_limits(3.0, 4.0);
    page.radio("Default")->click();
    double l = 0.0, u = 0.0;
    page.cfg->get_range_limits(l, u);
    QCOMPARE(l, -0.2);
    QCOMPARE(u, 0.2);
}

void test_charts_t::page_function_change_returns_to_default() {
    page_fixture_t page;
    page.cfg->set_range_limits(-7.0, 7.0);
    page.cfg->set_range_mode(2);
    page.build();
    page.frame->slot_download_latest_disp_data({"+", "1.00000", "m", "V"});
    page.cfg->set_function(measure_acv);
    page.cfg->set_range(measure_acv, "200mV");
    page.frame->slot_func_change_process();
    QVERIFY(page.radio("Default")->isChecked());
    QCOMPARE(page.cfg->get_range_mode(), 0);
    QVERIFY(page.find<QWidget>("measure_diagram_manual_panel")->isHidden());
    double l = 0.0, u = 0.0;
    page.cfg->get_range_limits(l, u);
    QCOMPARE(l, 0.0);
    QCOMPARE(u, 0.2);
    // The old reading is gone from the header at the next redraw.
    page.chart()->redraw_now();
    QCOMPARE(page.chart()->findChild<QLabel*>("trend_chart_data_label")->text(), QString());

    // Already "Default": the range follows the new function all the same.
    page.cfg->set_function(measure_cont);
    page.cfg->set_threshold(measure_cont, "10");
    page.frame->slot_func_change_process();
    page.cfg->get_range_limits(l, u);
    QCOMPARE(l, 0.0);
    QCOMPARE(u, 10.0);
}

void test_charts_t::page_notifications() {
    page_fixture_t page;
    page.build();
    page.frame->resize(1000, 600);
    QSignalSpy redrawn(page.chart(), &ui_common_trend_chart_t::signal_redrawn);
    page.frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.frame.get()));
    QTRY_VERIFY(redrawn.count() >= 1);  // shown: drawn
    QCoreApplication::processEvents();
    redrawn.clear();
    page.frame->slot_download_latest_disp_data({"-", "0.12345", "k", "Ω"});
    for (plib_acq_notify_t kind :
         {acq_notify_start, acq_notify_buffer_full, acq_notify_stop, acq_notify_record_write_failed}) {
        page.frame->slot_recv_measure_notify_update(kind);
    }
    QCoreApplication::processEvents();
    QCOMPARE(redrawn.count(), 0);
    QCOMPARE(page.chart()->findChild<QLabel*>("trend_chart_data_label")->text(), QString());
    for (int i = 0; i < 4; ++i) page.frame->slot_recv_measure_notify_update(acq_notify_data);
    QCoreApplication::processEvents();
    QCOMPARE(redrawn.count(), 1);
    QCOMPARE(page.chart()->findChild<QLabel*>("trend_chart_data_sign_label")->text(), QString("-"));
    QCOMPARE(page.chart()->findChild<QLabel*>("trend_chart_data_label")->text(), QString("0.12345"));
    QCOMPARE(page.chart()->findChild<QLabel*>("trend_chart_unit_label")->text(), QString("kΩ"));
}

// ---------------------------------------------------------------------------------------
// Scan chart

namespace {

double random_value(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double r = u(rng);
    if (r < 0.02) return nan_v;
    if (r < 0.03) return inf_v;
    if (r < 0.04) return -inf_v;
    if (r < 0.07) return ovl;
    if (r < 0.08) return -ovl;
    if (r < 0.085) return 1e300;  // its y overflows on narrow ranges
    if (r < 0.09) return 5.0;     // repeated values: ties between extremes
    return std::normal_distribution<double>(0.0, 3.0)(rng);
}

// Compares the store's reduced points with the brute force over every reading.
void check_reduction(const ui_scan_channel_store_t& store, const std::vector<plib_data_t>& engine,
                     uint64_t start_us, const chart_column_map_t& columns, const chart_scan_ymap_t& ymap,
                     const QString& what) {
    const QVector<QPointF> full = all_points(engine, start_us, ymap);
    QVector<QPointF> reduced;
    store.points(start_us, columns, ymap, true, reduced);
    QVERIFY2(summarise(reduced, columns) == summarise(full, columns), qPrintable(what));
    QVERIFY2(is_subsequence(reduced, full), qPrintable(what));
    QVector<QPointF> unreduced;
    store.points(start_us, columns, ymap, false, unreduced);
    QVERIFY2(unreduced.size() == full.size() && is_subsequence(unreduced, full), qPrintable(what));
}

}  // namespace

void test_charts_t::scan_reduction_matches_brute_force() {
    std::mt19937_64 rng(20261210);
    const uint64_t start = 1733826000000000ull;
    for (int trial = 0; trial < 24; ++trial) {
        ui_scan_channel_store_t store;
        std::vector<plib_data_t> engine;
        int64_t t = static_cast<int64_t>(start) + static_cast<int64_t>(rng() % 1000);
        const bool steps_back = trial % 3 == 2;  // a clock that sometimes steps back
        for (int chunk = 0; chunk < 6; ++chunk) {
            const int n = static_cast<int>(rng() % (trial < 4 ? 40 : 6000));
            for (int i = 0; i < n; ++i) {
                t += static_cast<int64_t>(rng() % 3000);  // equal stamps happen too
                if (steps_back && rng() % 100 == 0) t = std::max<int64_t>(start, t - 50000);
                engine.push_back({random_value(rng), t});
            }
            QVERIFY(store.sync(engine, start));
            QCOMPARE(store.size(), engine.size());
            const double last =
                engine.empty() ? 1.0 : (static_cast<double>(t) - static_cast<double>(start)) / 1e6;
            const int widths[] = {1, 7, 640, 1501};
            const double ranges[][2] = {{-3, 3}, {0, 1}, {5, -5}, {2, 2}, {0, 1e-300}, {-1e10, 1e10}};
            for (int w : widths) {
                const double dpr = (w % 2) ? 1.5 : 1.0;
                const double s2 = last > 0 ? last : 1.0;
                const double window[][2] = {
                    {0, s2}, {s2 * 0.3, s2 * 0.6}, {s2 * 2, s2 * 3}, {-s2, s2 * 0.01}};
                for (const auto& win : window) {
                    const chart_column_map_t columns(win[0], win[1], 0.0, w * dpr);
                    for (const auto& r : ranges) {
                        check_reduction(store, engine, start, columns, chart_scan_ymap_t(r[0], r[1]),
                                        QString("trial %1 chunk %2 width %3 window %4..%5 range %6..%7")
                                            .arg(trial)
                                            .arg(chunk)
                                            .arg(w)
                                            .arg(win[0])
                                            .arg(win[1])
                                            .arg(r[0])
                                            .arg(r[1]));
                        if (QTest::currentTestFailed()) return;
                    }
                }
            }
            // The automatic range: extremes of the values that are not overload.
            ui_scan_channel_store_t::normal_range_t expected;
            for (const plib_data_t& r : engine) {
                if (!std::isfinite(r.value) || is_equal(std::fabs(r.value), ovl)) continue;
                expected.min = expected.count == 0 ? r.value : std::min(expected.min, r.value);
                expected.max = expected.count == 0 ? r.value : std::max(expected.max, r.value);
                ++expected.count;
            }
            const ui_scan_channel_store_t::normal_range_t got = store.normal_range();
            QCOMPARE(got.count, expected.count);
            if (expected.count > 0) {
                QCOMPARE(got.min, expected.min);
                QCOMPARE(got.max, expected.max);
            }
        }
    }
}

void test_charts_t::scan_store_follows_sliding_engine_memory() {
    // The engine keeps at most a fixed number of readings per channel and drops its
    // oldest; the store must follow by appending and dropping, never drifting.
    std::mt19937_64 rng(7);
    const uint64_t start = 1000000;
    const std::size_t limit = 150000;  // beyond two top blocks, so trimming happens
    ui_scan_channel_store_t store;
    std::vector<plib_data_t> engine;
    int64_t t = static_cast<int64_t>(start);
    for (int tick = 0; tick < 40; ++tick) {
        const std::size_t n = rng() % 20000;
        for (std::size_t i = 0; i < n; ++i) engine.push_back({random_value(rng), t += 1 + rng() % 50});
        if (engine.size() > limit) engine.erase(engine.begin(), engine.begin() + (engine.size() - limit));
        QVERIFY(store.sync(engine, start));
        QCOMPARE(store.size(), engine.size());
        for (std::size_t k : {std::size_t(0), engine.size() / 3, engine.size() - 1}) {
            if (engine.empty()) break;
            QCOMPARE(store.timestamp_at(k), engine[k].timestamp);
        }
        const double s1 = static_cast<double>(engine.front().timestamp - static_cast<int64_t>(start)) / 1e6;
        const double s2 = static_cast<double>(t - static_cast<int64_t>(start)) / 1e6;
        check_reduction(store, engine, start, chart_column_map_t(s1, s2, 0, 800), chart_scan_ymap_t(-4, 4),
                        QString("tick %1").arg(tick));
        if (QTest::currentTestFailed()) return;
    }
    // A new run (different readings) is taken whole.
    std::vector<plib_data_t> other = {{1.0, 5000000}, {2.0, 6000000}};
    QVERIFY(store.sync(other, start));
    QCOMPARE(store.size(), std::size_t(2));
    QCOMPARE(store.value_at(1), 2.0);
    QVERIFY(store.sync({}, start));
    QVERIFY(store.empty());
}

void test_charts_t::scan_store_reduction_after_readings_replaced_data() {
    QTest::addColumn<bool>("by_tail");
    QTest::newRow("whole readings") << false;
    QTest::newRow("new-reading tails") << true;
}

void test_charts_t::scan_store_reduction_after_readings_replaced() {
    // A new run can hold readings at the very indexes and stamps of the old one with
    // other values; what a redraw kept of the old run's columns must not be drawn.
    QFETCH(bool, by_tail);
    std::mt19937_64 rng(11);
    const uint64_t start = 1000000;
    std::vector<plib_data_t> first_run;
    std::vector<plib_data_t> second_run;
    for (int i = 0; i < 20000; ++i) {
        const int64_t t = static_cast<int64_t>(start) + 1000 * i;
        first_run.push_back({random_value(rng), t});
        second_run.push_back({random_value(rng) + 10.0, t});
    }
    ui_scan_channel_store_t store;
    const chart_column_map_t columns(0.0, 20.0, 0.0, 300.0);
    const chart_scan_ymap_t ymap(-20.0, 20.0);
    for (const auto* run : {&first_run, &second_run, &first_run}) {
        if (by_tail) {
            plib_scan_channel_tail_t tail;
            tail.readings = *run;
            tail.end_index = run->size();
            // Another engine memory numbers its readings from 0 again: the chart clears.
            store.clear();
            QVERIFY(store.append_tail(tail, start));
        } else {
            QVERIFY(store.sync(*run, start));
        }
        QCOMPARE(store.size(), run->size());
        check_reduction(store, *run, start, columns, ymap, by_tail ? "tail" : "sync");
        if (QTest::currentTestFailed()) return;
        // A second reduction of the same readings reuses the columns and must agree.
        check_reduction(store, *run, start, columns, ymap, by_tail ? "tail again" : "sync again");
        if (QTest::currentTestFailed()) return;
    }
}

void test_charts_t::scan_chart_axis_and_points_share_time() {
    fixture_scan_chart_t chart(nullptr);
    chart.resize(800, 400);
    const uint64_t start = 1733826000000000ull;
    chart.run.start_timestamp = start;
    chart.data[3] = {{1.0, static_cast<int64_t>(start + 5000000)},
                     {2.0, static_cast<int64_t>(start + 15000000)}};
    chart.set_curve_valid(3, true);
    chart.set_auto_range(3, false);
    chart.set_range(3, 2.0, 0.0);
    QCOMPARE(chart.curve(3)->plot(), chart.plot());
    QCOMPARE(chart.curve(4)->plot(), static_cast<QwtPlot*>(nullptr));  // not valid: detached
    QCOMPARE(chart.curve(3)->title().text(), QString("CH:3"));

    // Manual window [10, 20]: the points keep their time since the start.
    chart.set_display_mode(scan_trend_display_manual);
    chart.set_display_period(10.0, 20.0);
    chart.redraw_now();
    QCOMPARE(samples_of(chart.curve(3)), QVector<QPointF>({{5.0, 0.0}, {15.0, 30000.0}}));
    QwtScaleDiv x = chart.plot()->axisScaleDiv(QwtPlot::xBottom);
    QCOMPARE(x.lowerBound(), 10.0);
    QCOMPARE(x.upperBound(), 20.0);
    QCOMPARE(x.ticks(QwtScaleDiv::MajorTick), QList<double>({10, 12, 14, 16, 18, 20}));
    QCOMPARE(chart.plot()->axisScaleDraw(QwtPlot::xBottom)->label(12.0).text(), QString("12.00s"));
    chart.set_display_period(30.0, 20.0);  // ignored
    double s = 0, e = 0;
    chart.get_display_period(s, e);
    QCOMPARE(s, 10.0);
    QCOMPARE(e, 20.0);

    // Automatic: [0, newest reading].
    chart.set_display_mode(scan_trend_display_auto);
    chart.redraw_now();
    x = chart.plot()->axisScaleDiv(QwtPlot::xBottom);
    QCOMPARE(x.lowerBound(), 0.0);
    QCOMPARE(x.upperBound(), 15.0);
    QCOMPARE(samples_of(chart.curve(3)).first(), QPointF(5.0, 0.0));
    QCOMPARE(chart.plot()->axisScaleDraw(QwtPlot::yLeft)->label(10000).text(), QString());

    // Settings reach the curve and the store.
    chart.set_curve_color(3, qRgb(10, 20, 30));
    chart.set_curve_line_pattern(3, Qt::DashLine);
    chart.set_curve_symbol(3, QwtSymbol::Diamond);
    QCOMPARE(chart.curve(3)->pen().color(), QColor(10, 20, 30));
    QCOMPARE(chart.curve(3)->pen().style(), Qt::DashLine);
    QCOMPARE(chart.curve(3)->pen().width(), 2);
    QCOMPARE(chart.curve(3)->symbol()->style(), QwtSymbol::Diamond);
    QCOMPARE(chart.curve(3)->symbol()->brush().color(), QColor(10, 20, 30));
    QCOMPARE(chart.get_curve_color(3), qRgb(10, 20, 30));
    chart.set_curve_visible(3, false);
    QVERIFY(!chart.curve(3)->isVisible());
    chart.set_curve_valid(3, false);
    QCOMPARE(chart.curve(3)->plot(), static_cast<QwtPlot*>(nullptr));

    // An empty read-out keeps the points.
    chart.set_curve_valid(3, true);
    chart.redraw_now();
    chart.data.clear();
    chart.redraw_now();
    QCOMPARE(samples_of(chart.curve(3)).size(), 2);
}

void test_charts_t::scan_chart_auto_range_and_wrong_timestamps() {
    fixture_scan_chart_t chart(nullptr);
    chart.resize(800, 400);
    const int64_t start = 1733826000000000;
    chart.run.start_timestamp = static_cast<uint64_t>(start);
    for (int ch : {1, 2, 5}) chart.set_curve_valid(ch, true);
    chart.set_range(2, 9.0, 8.0);
    chart.data[1] = {{2.0, start + 1000000}};                           // a single reading
    chart.data[2] = {{ovl, start + 1000000}, {-ovl, start + 2000000}};  // overload only
    chart.data[5] = {
        {1.0, start + 1000000}, {3.0, start - 1}, {4.0, start + 3000000}, {ovl, start + 4000000}};
    QSignalSpy ranges(&chart, &ui_scan_trend_chart_t::signal_auto_update_range);
    std::ostringstream out;
    std::streambuf* old = std::cout.rdbuf(out.rdbuf());
    chart.redraw_now();
    std::cout.rdbuf(old);
    QCOMPARE(QString::fromStdString(out.str()), QString("Timestamp is wrong!\n"));

    std::map<int, std::pair<double, double>> emitted;
    for (const QList<QVariant>& args : ranges)
        emitted[args[0].toInt()] = {args[1].toDouble(), args[2].toDouble()};
    QCOMPARE(emitted.size(), std::size_t(2));
    QCOMPARE(emitted[1], std::make_pair(4.0, 0.0));  // [v - |v|, v + |v|]
    // The readings from the wrong stamp on are left out: one reading is left.
    QCOMPARE(emitted[5], std::make_pair(2.0, 0.0));
    double u = 0, l = 0;
    chart.get_range(2, u, l);
    QCOMPARE(u, 9.0);  // overload only: the range stays
    QCOMPARE(l, 8.0);
    chart.get_range(1, u, l);
    QCOMPARE(u, 4.0);
    QCOMPARE(samples_of(chart.curve(1)), QVector<QPointF>({{1.0, 0.0}}));
    QCOMPARE(samples_of(chart.curve(5)), QVector<QPointF>({{1.0, 0.0}}));
    QCOMPARE(samples_of(chart.curve(2)).size(), 2);

    // A channel missing from a non-empty read-out loses its points; a new run restarts.
    chart.data.erase(5);
    chart.redraw_now();
    QCOMPARE(samples_of(chart.curve(5)).size(), 0);
    chart.run.start_timestamp += 500000;
    chart.redraw_now();
    QCOMPARE(samples_of(chart.curve(1)), QVector<QPointF>({{0.5, 0.0}}));
}

void test_charts_t::scan_chart_reduced_curves_keep_column_extremes() {
    QWidget page;
    page.resize(1000, 500);
    auto* chart = new fixture_scan_chart_t(nullptr, &page);
    chart->resize(1000, 500);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    std::mt19937_64 rng(99);
    const int64_t start = 1733826000000000;
    chart->run.start_timestamp = static_cast<uint64_t>(start);
    for (int ch = 1; ch <= 16; ++ch) {
        chart->set_curve_valid(ch, true);
        auto& readings = chart->data[ch];
        int64_t t = start;
        for (int i = 0; i < 30000; ++i) readings.push_back({random_value(rng) + ch, t += 1000 + rng() % 100});
    }
    chart->redraw_now();
    const QwtScaleMap x_map = chart->plot()->canvasMap(QwtPlot::xBottom);
    QVERIFY(x_map.p2() - x_map.p1() > 100);  // laid out: real columns
    const double dpr = chart->plot()->canvas()->devicePixelRatioF();
    const chart_column_map_t columns(x_map.s1(), x_map.s2(), x_map.p1() * dpr, x_map.p2() * dpr);
    std::map<int, QVector<QPointF>> reduced;
    for (int ch = 1; ch <= 16; ++ch) {
        reduced[ch] = samples_of(chart->curve(ch));
        QVERIFY(reduced[ch].size() <= 4 * (columns.hi - columns.lo + 3));
    }
    chart->set_reduction(false);
    chart->redraw_now();
    for (int ch = 1; ch <= 16; ++ch) {
        const QVector<QPointF> full = samples_of(chart->curve(ch));
        QCOMPARE(full.size(), 30000);
        QVERIFY(summarise(reduced[ch], columns) == summarise(full, columns));
    }
}

namespace {

// Top and bottom row of the curve's colour in every pixel column of the canvas.
std::map<int, std::pair<int, int>> red_extents(const QImage& image) {
    std::map<int, std::pair<int, int>> out;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) < 160 || qGreen(p) > 90 || qBlue(p) > 90) continue;
            auto it = out.find(x);
            if (it == out.end()) {
                out[x] = {y, y};
            } else {
                it->second.second = y;
            }
        }
    }
    return out;
}

}  // namespace

void test_charts_t::scan_chart_reduced_picture_matches_full_picture_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // The taller the canvas, the further apart the extremes of neighbouring columns: a
    // neighbour drawn from a whole column's extremes (not from the readings within the
    // pen's reach) went beyond the tolerance from about 410 pixels on.
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {700, 300}, {700, 400}, {700, 410}, {700, 415}, {700, 420}, {700, 425}, {700, 430}, {700, 460},
             {700, 500}, {1100, 500}}) {
        QTest::addRow("%dx%d", w, h) << w << h;
    }
}

void test_charts_t::scan_chart_reduced_picture_matches_full_picture() {
    // Dense readings (many per pixel column) with jumps and overload: the reduced
    // drawing must colour the same rows in every pixel column as drawing every reading,
    // give or take the antialiased fringe.
    QFETCH(int, width);
    QFETCH(int, height);
    QWidget page;
    page.resize(width, height);
    auto* chart = new fixture_scan_chart_t(nullptr, &page);
    chart->resize(width, height);
    // The cursor's readout would be grabbed with the canvas and hide curve pixels.
    chart->picker()->setTrackerMode(QwtPicker::AlwaysOff);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const int64_t start = 1733826000000000;
    chart->run.start_timestamp = static_cast<uint64_t>(start);
    chart->set_curve_valid(2, true);
    chart->set_curve_color(2, qRgb(255, 0, 0));
    std::mt19937_64 rng(5);
    auto& readings = chart->data[2];
    for (int i = 0; i < 40000; ++i) {
        double v = std::sin(i / 2500.0) + std::normal_distribution<double>(0.0, 0.05)(rng);
        if ((i / 7000) % 2 == 1) v += 0.8;  // steps
        if (i % 9000 == 4500) v = ovl;
        readings.push_back({v, start + i * 1000});
    }
    for (QwtSymbol::Style style : {QwtSymbol::Ellipse, QwtSymbol::NoSymbol}) {
        chart->set_curve_symbol(2, style);
        chart->set_reduction(true);
        chart->redraw_now();
        const QImage reduced = chart->plot()->canvas()->grab().toImage();
        chart->set_reduction(false);
        chart->redraw_now();
        const QImage full = chart->plot()->canvas()->grab().toImage();
        const auto a = red_extents(reduced);
        const auto b = red_extents(full);
        QVERIFY(b.size() > 400);
        // Antialiasing may put an edge one pixel column over: each column's top and bottom
        // must lie within those of the other picture's column or its two neighbours.
        auto within = [](const std::map<int, std::pair<int, int>>& ref, int x,
                         const std::pair<int, int>& rows) {
            int top_lo = INT_MAX, top_hi = INT_MIN, bottom_lo = INT_MAX, bottom_hi = INT_MIN;
            for (int n = x - 1; n <= x + 1; ++n) {
                const auto it = ref.find(n);
                if (it == ref.end()) continue;
                top_lo = std::min(top_lo, it->second.first);
                top_hi = std::max(top_hi, it->second.first);
                bottom_lo = std::min(bottom_lo, it->second.second);
                bottom_hi = std::max(bottom_hi, it->second.second);
            }
            if (top_lo == INT_MAX) return 1000;
            const int top =
                rows.first < top_lo ? top_lo - rows.first : (rows.first > top_hi ? rows.first - top_hi : 0);
            const int bottom = rows.second < bottom_lo
                                   ? bottom_lo - rows.second
                                   : (rows.second > bottom_hi ? rows.second - bottom_hi : 0);
            return std::max(top, bottom);
        };
        int worst = 0;
        int off = 0;  // columns whose rows differ by more than antialiasing does
        for (const auto& [x, rows] : b) {
            const int d = within(a, x, rows);
            off += d > 2;
            worst = std::max(worst, d);
        }
        for (const auto& [x, rows] : a) {
            const int d = within(b, x, rows);
            off += d > 2;
            worst = std::max(worst, d);
        }
        // At steps and steep slopes the antialiased joins of the full picture land a pixel
        // column or two over: a few columns may differ by up to a symbol and a pen.
        QVERIFY2(worst <= 8, qPrintable(QString("rows differ by %1 pixels").arg(worst)));
        QVERIFY2(off * 5 <= static_cast<int>(b.size()), qPrintable(QString("%1 columns differ").arg(off)));
    }
}

void test_charts_t::scan_curve_fill_matches_draw_rects_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("alpha");
    for (const auto& [name, format] : {std::pair<const char*, QImage::Format>{"rgb32", QImage::Format_RGB32},
                                       {"argb32pm", QImage::Format_ARGB32_Premultiplied}}) {
        for (int alpha : {255, 200, 37}) {
            QTest::addRow("%s, alpha %d", name, alpha) << int(format) << alpha;
        }
    }
}

// The scan curve's fill writes rows into an image and blends it once: over a noisy
// background, with rectangles of every size touching and apart, every pixel must come
// out as the raster engine's own drawRects leaves it.
void test_charts_t::scan_curve_fill_matches_draw_rects() {
    QFETCH(int, format);
    QFETCH(int, alpha);
    std::mt19937 rng(static_cast<unsigned>(format * 1000 + alpha));
    for (int trial = 0; trial < 20; ++trial) {
        QImage background(320, 240, static_cast<QImage::Format>(format));
        for (int y = 0; y < background.height(); ++y) {
            for (int x = 0; x < background.width(); ++x) background.setPixel(x, y, rng() | 0xff000000u);
        }
        // Disjoint: each rectangle in its own band of rows, some one pixel in size,
        // some reaching the image's edges.
        std::vector<QRect> rects;
        for (int y = 0; y < background.height(); y += 4) {
            const int w = 1 + static_cast<int>(rng() % 80);
            const int x = static_cast<int>(rng() % static_cast<unsigned>(background.width() - w + 1));
            rects.emplace_back(x, y, w, 1 + static_cast<int>(rng() % 4));
        }
        const QColor color(static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                           static_cast<int>(rng() % 256), alpha);
        QImage expected = background.copy();
        {
            QPainter p(&expected);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawRects(rects.data(), static_cast<int>(rects.size()));
        }
        QImage drawn = background.copy();
        {
            QPainter p(&drawn);
            scan_curve_fill_rects(&p, rects, color);
        }
        QCOMPARE(drawn, expected);
    }
}

// ---------------------------------------------------------------------------------------
// View tools

namespace {

// A measure chart in "Recent" over [-60, 0] s with three readings on the 0..2 V range.
void fill_recent(fixture_trend_chart_t& chart) {
    chart.resize(900, 500);
    chart.set_range(0.0, 2.0);
    chart.set_range_mode(2);
    chart.set_timebase(60);
    chart.set_trend_mode(0);
    chart.trend.count = 3;
    set_pair(chart.trend, 0, 10000000, 0.5, 10000000, 0.5);   // -20 s
    set_pair(chart.trend, 1, 20000000, 1.5, 20000000, 1.5);   // -10 s
    set_pair(chart.trend, 2, 30000000, 1.0, 30000000, 1.0);   // 0 s
    chart.set_latest_display("+", "1.000000", "", "VDC");
    chart.redraw_now();
}

// A left-button drag as the mouse sends it: press, moves with the button held, release.
void drag(QWidget* w, QPoint from, QPoint to, Qt::KeyboardModifiers mods) {
    auto send = [w, mods](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, held, mods);
        QApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int k = 1; k <= 4; ++k) send(QEvent::MouseMove, from + (to - from) * k / 4, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    QCoreApplication::processEvents();
}

QwtInterval x_interval(const ui_common_trend_chart_t& chart) {
    return chart.plot()->axisScaleDiv(QwtPlot::xBottom).interval();
}

}  // namespace

void test_charts_t::chart_zoom_pan_and_back_to_the_automatic_view() {
    fixture_trend_chart_t chart(nullptr);
    fill_recent(chart);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    QVERIFY(!chart.is_user_view());
    QCOMPARE(x_interval(chart).minValue(), -60.0);
    QCOMPARE(chart.plot()->axisTitle(QwtPlot::yLeft).text(), QString("Value (VDC)"));

    // A rubber band over the canvas's middle half zooms in on it.
    QWidget* canvas = chart.plot()->canvas();
    const QPoint a(canvas->width() / 4, canvas->height() / 4), b(3 * canvas->width() / 4, 3 * canvas->height() / 4);
    drag(canvas, a, b, Qt::NoModifier);
    QVERIFY(chart.is_user_view());
    QwtInterval x = x_interval(chart);
    QVERIFY2(x.minValue() > -50 && x.maxValue() < -10, qPrintable(QString("%1..%2").arg(x.minValue()).arg(x.maxValue())));
    // Redraws keep the user's view.
    chart.redraw_now();
    QCOMPARE(x_interval(chart), x);

    // Ctrl + drag pans: the view moves left by the dragged distance.
    const QPoint from(canvas->width() / 2, canvas->height() / 2), to = from + QPoint(canvas->width() / 4, 0);
    drag(canvas, from, to, Qt::ControlModifier);
    const QwtInterval panned = x_interval(chart);
    QVERIFY2(panned.minValue() < x.minValue() - 1, qPrintable(QString::number(panned.minValue())));
    QVERIFY(qAbs(panned.width() - x.width()) < 1e-6 * x.width());

    // The wheel (away from the user) zooms out.
    QWheelEvent wheel(QPointF(from), QPointF(canvas->mapToGlobal(from)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &wheel);
    QVERIFY(x_interval(chart).width() > panned.width());

    chart.reset_view();
    QVERIFY(!chart.is_user_view());
    QCOMPARE(x_interval(chart).minValue(), -60.0);
    QCOMPARE(x_interval(chart).maxValue(), 0.0);
    QCOMPARE(chart.plot()->axisScaleDiv(QwtPlot::xBottom).ticks(QwtScaleDiv::MajorTick),
             QList<double>({-60, -45, -30, -15, 0}));
    QCOMPARE(chart.plot()->axisScaleDiv(QwtPlot::yLeft).interval().maxValue(), chart_overload_y);
}

void test_charts_t::chart_cursor_reads_the_nearest_point_with_unit() {
    fixture_trend_chart_t chart(nullptr);
    fill_recent(chart);
    // Near the reading of 1.5 V, 10 s before the latest; the others are far.
    QCOMPARE(chart.cursor_text(QPointF(-11.0, chart_measure_y(1.45, 0.0, 2.0))), QString("-10.00s  1.5 VDC"));
    QCOMPARE(chart.cursor_text(QPointF(-19.0, chart_measure_y(0.4, 0.0, 2.0))), QString("-20.00s  500 mVDC"));
    // An overload reads as such.
    chart.trend.count = 1;
    set_pair(chart.trend, 0, 30000000, ovl, 30000000, ovl);
    chart.redraw_now();
    QCOMPARE(chart.cursor_text(QPointF(0.0, 30000.0)), QString("0.00s  OVERLOAD"));
    // The picker shows the same text.
    QVERIFY(chart.picker() != nullptr);
    QCOMPARE(chart.picker()->trackerMode(), QwtPicker::AlwaysOn);

    // With VELKARO_SCREENSHOT_DIR set: the chart with its axis titles and the cursor's readout.
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QVERIFY(ui_application_t::install_style_and_font());  // as the program looks
    fill_recent(chart);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    QWidget* canvas = chart.plot()->canvas();
    const QPoint at(chart.plot()->transform(QwtPlot::xBottom, -10.0),
                    chart.plot()->transform(QwtPlot::yLeft, chart_measure_y(1.45, 0.0, 2.0)));
    QMouseEvent enter(QEvent::MouseMove, QPointF(at), QPointF(canvas->mapToGlobal(at)), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(canvas, &enter);
    QTest::qWait(100);
    QVERIFY(chart.grab().save(dir + "/chart-cursor-x" + qEnvironmentVariable("QT_SCALE_FACTOR", "1") + ".png"));
}

void test_charts_t::chart_exports_png_svg_and_csv() {
    velkaro_test::temp_dir_t dir;
    fixture_trend_chart_t chart(nullptr);
    fill_recent(chart);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    const QString png = QString::fromStdString(dir.path()) + "/chart.png";
    const QString svg = QString::fromStdString(dir.path()) + "/chart.svg";
    const QString csv = QString::fromStdString(dir.path()) + "/points.csv";
    QVERIFY(chart.export_image(png));
    QImage image(png);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() > 400 && image.height() > 200);
    QVERIFY(chart.export_image(svg));
    QFile svg_file(svg);
    QVERIFY(svg_file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&svg_file);
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.name().toString(), QString("svg"));
    while (!xml.atEnd()) xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(QSvgRenderer(svg).isValid());

    QVERIFY(chart.export_csv(csv));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    // Each time has its max and min point (equal here).
    QCOMPARE(lines, QStringList({"Time before the latest reading (s),Value (VDC)", "-20,0.5", "-20,0.5", "-10,1.5",
                                 "-10,1.5", "0,1", "0,1"}));
    QVERIFY(!chart.export_csv(QString::fromStdString(dir.path()) + "/no/such/dir/x.csv"));
}

void test_charts_t::scan_chart_cursor_export_and_zoom_kept_by_redraws() {
    fixture_scan_chart_t chart(nullptr);
    chart.resize(900, 500);
    chart.set_curve_valid(1, true);
    chart.set_auto_range(1, false);
    chart.set_range(1, 10.0, 0.0);
    chart.run.start_timestamp = 1000000;
    chart.data[1] = {{2.0, 1000000}, {8.0, 3000000}, {4.0, 5000000}};
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.redraw_now();
    QCOMPARE(chart.cursor_text(QPointF(2.1, chart_scan_y(7.5, 0.0, 10.0))), QString("CH:1  2.00s  8"));
    const QStringList lines = [&] {
        velkaro_test::temp_dir_t dir;
        const QString csv = QString::fromStdString(dir.path()) + "/scan.csv";
        if (!chart.export_csv(csv)) return QStringList();
        QFile f(csv);
        f.open(QIODevice::ReadOnly | QIODevice::Text);
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }();
    QCOMPARE(lines, QStringList({"Channel,Time since the scan start (s),Value,Unit", "1,0,2,", "1,2,8,", "1,4,4,"}));

    // A zoom survives the redraws that follow the run; the automatic view follows it again.
    chart.zoomer()->zoom(QRectF(QPointF(1.0, -10000.0), QPointF(3.0, 10000.0)));
    QVERIFY(chart.is_user_view());
    chart.data[1].push_back({6.0, 9000000});
    chart.redraw_now();
    QCOMPARE(x_interval(chart).minValue(), 1.0);
    QCOMPARE(x_interval(chart).maxValue(), 3.0);
    chart.reset_view();
    QCOMPARE(x_interval(chart).maxValue(), 8.0);

    // The value axis carries no labels until a channel is chosen; then it reads that
    // channel's range, and goes back to none.
    const QwtScaleDraw* y_draw = chart.plot()->axisScaleDraw(QwtPlot::yLeft);
    QCOMPARE(y_draw->label(30000.0).text(), QString());
    chart.set_value_axis_channel(1);
    QCOMPARE(chart.value_axis_channel(), 1);
    QCOMPARE(y_draw->label(30000.0).text(), QString("10"));
    QCOMPARE(y_draw->label(-30000.0).text(), QString("0"));
    QCOMPARE(y_draw->label(0.0).text(), QString("5"));
    QCOMPARE(chart.plot()->axisTitle(QwtPlot::yLeft).text(), QString("CH:1"));
    chart.set_value_axis_channel(99);  // no such channel: none
    QCOMPARE(chart.value_axis_channel(), 0);
    QCOMPARE(y_draw->label(30000.0).text(), QString());
}

// A left click at a curve's point makes that channel the value axis's (and tells the
// page); a click far from every curve, or a drag, picks nothing.
void test_charts_t::scan_chart_click_at_a_curve_picks_its_channel() {
    fixture_scan_chart_t chart(nullptr);
    chart.resize(900, 500);
    chart.run.start_timestamp = 1000000;
    // Three flat lines at different heights over 0..4 s, each against [0, 10].
    for (int ch : {1, 2, 3}) {
        chart.set_curve_valid(ch, true);
        chart.set_auto_range(ch, false);
        chart.set_range(ch, 10.0, 0.0);
        for (int k = 0; k <= 4; ++k) chart.data[ch].push_back({2.0 * ch, 1000000 + k * 1000000});
    }
    chart.picker()->setTrackerMode(QwtPicker::AlwaysOff);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.redraw_now();
    QSignalSpy picked(&chart, &ui_scan_trend_chart_t::signal_channel_picked);
    QWidget* canvas = chart.plot()->canvas();
    auto at = [&](double x, double v) {
        return QPoint(qRound(chart.plot()->transform(QwtPlot::xBottom, x)),
                      qRound(chart.plot()->transform(QwtPlot::yLeft, chart_scan_y(v, 0.0, 10.0))));
    };
    // Channel 2's point at 2 s (value 4), a few pixels off.
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, at(2.0, 4.0) + QPoint(2, 3));
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked.first().first().toInt(), 2);
    QCOMPARE(chart.value_axis_channel(), 2);
    QVERIFY(chart.plot()->axisTitle(QwtPlot::yLeft).text().startsWith("CH:2"));
    QVERIFY(!chart.is_user_view());  // a click is no zoom
    // Channel 3 (value 6) at 4 s.
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, at(4.0, 6.0));
    QCOMPARE(chart.value_axis_channel(), 3);
    // Far from every line (value 9.5): nothing picked, the axis stays.
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, at(2.0, 9.5));
    QCOMPARE(picked.count(), 2);
    QCOMPARE(chart.value_axis_channel(), 3);
    // A hidden curve cannot be picked.
    chart.set_curve_visible(1, false);
    QCOMPARE(chart.channel_at(at(1.0, 2.0)), 0);
    chart.set_curve_visible(1, true);
    QCOMPARE(chart.channel_at(at(1.0, 2.0)), 1);
}

// With the common axis on, the channels of the selected channel's function share one
// scale (the union of their ranges) and the axis reads it; other functions keep theirs.
void test_charts_t::scan_chart_common_axis_per_function() {
    fixture_scan_chart_t chart(nullptr);
    chart.resize(900, 500);
    chart.run.start_timestamp = 1000000;
    chart.functions = {{1, measure_dcv}, {2, measure_dcv}, {3, measure_acv}, {4, measure_dcv}};
    const std::map<int, std::pair<double, double>> ranges = {
        {1, {1.0, 0.0}}, {2, {10.0, -5.0}}, {3, {100.0, 0.0}}, {4, {50.0, 20.0}}};
    for (const auto& [ch, r] : ranges) {
        chart.set_curve_valid(ch, ch != 4);  // channel 4 does not take part
        chart.set_auto_range(ch, false);
        chart.set_range(ch, r.first, r.second);
        chart.data[ch] = {{1.0, 1000000}, {1.0, 2000000}};
    }
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    auto drawn = [&chart](int ch) {
        double upper = 0.0, lower = 0.0;
        chart.drawn_range(ch, upper, lower);
        return std::make_pair(upper, lower);
    };
    auto first_y = [&chart](int ch) { return chart.curve(ch)->sample(0).y(); };
    const QwtScaleDraw* y_draw = chart.plot()->axisScaleDraw(QwtPlot::yLeft);

    chart.set_value_axis_channel(1);
    chart.set_common_axis(true);
    chart.redraw_now();
    // DC voltage channels 1 and 2 share [-5, 10]; AC channel 3 keeps [0, 100].
    QCOMPARE(drawn(1), std::make_pair(10.0, -5.0));
    QCOMPARE(drawn(2), std::make_pair(10.0, -5.0));
    QCOMPARE(drawn(3), std::make_pair(100.0, 0.0));
    QCOMPARE(drawn(4), std::make_pair(50.0, 20.0));  // not valid: not on the common scale
    QCOMPARE(first_y(1), chart_scan_y(1.0, -5.0, 10.0));
    QCOMPARE(first_y(2), first_y(1));  // the same value at the same height
    QCOMPARE(first_y(3), chart_scan_y(1.0, 0.0, 100.0));
    QCOMPARE(y_draw->label(30000.0).text(), QString("10"));
    QCOMPARE(y_draw->label(-30000.0).text(), QString("-5"));
    QCOMPARE(chart.plot()->axisTitle(QwtPlot::yLeft).text(), QString("CH:1, CH:2"));
    // The stored ranges stay each channel's own.
    double upper = 0.0, lower = 0.0;
    chart.get_range(1, upper, lower);
    QCOMPARE(std::make_pair(upper, lower), std::make_pair(1.0, 0.0));

    // Selecting the AC channel: alone in its function, it keeps its range; the DC ones
    // go back to theirs.
    chart.set_value_axis_channel(3);
    chart.redraw_now();
    QCOMPARE(drawn(1), std::make_pair(1.0, 0.0));
    QCOMPARE(drawn(3), std::make_pair(100.0, 0.0));
    QCOMPARE(first_y(1), chart_scan_y(1.0, 0.0, 1.0));
    QCOMPARE(chart.plot()->axisTitle(QwtPlot::yLeft).text(), QString("CH:3"));

    // Off: every channel on its own range again.
    chart.set_value_axis_channel(2);
    chart.set_common_axis(false);
    chart.redraw_now();
    QCOMPARE(drawn(1), std::make_pair(1.0, 0.0));
    QCOMPARE(drawn(2), std::make_pair(10.0, -5.0));
    QCOMPARE(first_y(1), chart_scan_y(1.0, 0.0, 1.0));
    QCOMPARE(y_draw->label(-30000.0).text(), QString("-5"));
    QCOMPARE(chart.plot()->axisTitle(QwtPlot::yLeft).text(), QString("CH:2"));
}

QTEST_MAIN(test_charts_t)
#include "test_charts.moc"
