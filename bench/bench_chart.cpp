// Redraw cost of the trend charts, offscreen: the measure chart with its 2,000 points,
// the scan chart with 16 channels of 655,360 readings with and without the per-column
// reduction, the engine-style copy of those readings a refresh fetches, and the GUI
// thread's CPU time while a simulated instrument measures with the Measure Diagram
// page shown.
//
//   bench_chart [benchmark options]
//   bench_chart --chart-screenshots DIR   renders the evidence pictures instead
#include <benchmark/benchmark.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "common/plib_common.h"
#include "scan/plib_scan_types.h"
#include "scan/scan_main.h"
#include "ui/chart/ui_measure_diagram_frame.h"
#include "ui/chart/ui_scan_trend_chart.h"
#include "ui/chart/ui_trend_chart.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_device_column/ui_device_item.h"
// The bench targets do not link the test-support library; its launcher is compiled in.
#include "support/sim_process.cpp"

namespace {

constexpr int scan_channels = 16;
constexpr int64_t scan_start_us = 1733826000000000;

// A measure chart fed from a fixed trend view.
class bench_trend_chart_t : public ui_trend_chart_t {
public:
    using ui_trend_chart_t::ui_trend_chart_t;
    plib_trend_data_info_t trend;
    plib_record_run_state_info_t run;

protected:
    bool _fetch_trend(plib_trend_data_info_t& info) override {
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

// A scan chart fed from readings held here. The map is lent to the chart by a swap, so
// the redraw is measured without the copy the engine's message makes (measured on its
// own below); `give_back` returns it after each redraw.
class bench_scan_chart_t : public ui_scan_trend_chart_t {
public:
    using ui_scan_trend_chart_t::ui_scan_trend_chart_t;
    plib_scan_data_map_t data;
    plib_scan_run_state_t run;
    bool copy = false;  // hand a copy, as the engine does

    void give_back() {
        if (m_plent != nullptr) m_plent->swap(data);
        m_plent = nullptr;
    }

protected:
    bool _fetch_scan(plib_scan_data_map_t& out, plib_scan_run_state_t& state) override {
        state = run;
        if (copy) {
            out = data;
        } else {
            out.swap(data);
            m_plent = &out;
        }
        return true;
    }

private:
    plib_scan_data_map_t* m_plent = nullptr;
};

// Measure chart content: a slow sine with noise and an overload excursion.
void fill_trend(plib_trend_data_info_t& info, int count, bool overload) {
    std::mt19937_64 rng(1);
    std::normal_distribution<double> noise(0.0, 0.004);
    info.count = count;
    const int64_t t0 = scan_start_us;
    info.ymax = -plib_overload_value;
    info.ymin = plib_overload_value;
    for (int k = 0; k < count; ++k) {
        const double base = 0.12 * std::sin(k / 90.0) + 0.03 * std::sin(k / 13.0);
        double hi = base + std::fabs(noise(rng));
        double lo = base - std::fabs(noise(rng));
        if (overload && k > count * 0.55 && k < count * 0.6) hi = plib_overload_value;
        if (overload && k > count * 0.8 && k < count * 0.81) lo = -plib_overload_value;
        info.max_points[k] = {hi, t0 + k * 200000 + 100000};
        info.min_points[k] = {lo, t0 + k * 200000};
        if (!is_equal(hi, plib_overload_value)) info.ymax = std::max(info.ymax, hi);
        if (!is_equal(lo, -plib_overload_value)) info.ymin = std::min(info.ymin, lo);
    }
}

// Scan chart content: per channel a different waveform, one reading per channel every
// 10 ms, occasional overload.
void fill_scan(plib_scan_data_map_t& data, std::size_t per_channel) {
    std::mt19937_64 rng(2);
    std::normal_distribution<double> noise(0.0, 0.02);
    for (int ch = 1; ch <= scan_channels; ++ch) {
        auto& readings = data[ch];
        readings.resize(per_channel);
        const double period = 2000.0 + 700.0 * ch;
        for (std::size_t i = 0; i < per_channel; ++i) {
            const double t = static_cast<double>(i);
            double v = ch + 0.4 * std::sin(t / period * 6.283) + noise(rng);
            if (ch % 4 == 0) v += (static_cast<int>(t / period) % 2) * 0.3;  // square steps
            if (ch == 7 && i % 150000 > 149000) v = plib_overload_value;
            readings[i] = {v, scan_start_us + static_cast<int64_t>(i) * 10000 + ch * 300};
        }
    }
}

// Redraws must paint now, not at the next event-loop turn.
void paint_immediately(QwtPlot* plot) {
    if (auto* canvas = qobject_cast<QwtPlotCanvas*>(plot->canvas())) {
        canvas->setPaintAttribute(QwtPlotCanvas::ImmediatePaint, true);
    }
}

void settle(QWidget& w) {
    w.show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Arg 2: "All" while the run grows (the last pair moves on by a tick each redraw), so
// the time axis is divided anew every time.
void BM_measure_chart_redraw(benchmark::State& state) {
    const int arg = static_cast<int>(state.range(0));
    const int mode = arg == 0 ? 0 : 1;
    auto chart = std::make_unique<bench_trend_chart_t>(nullptr);
    chart->resize(1400, 700);
    fill_trend(chart->trend, acq_trend_display_points, true);
    chart->set_range_mode(1);
    chart->set_trend_mode(mode);
    paint_immediately(chart->plot());
    settle(*chart);
    plib_data_t& last = chart->trend.max_points[acq_trend_display_points - 1];
    for (auto _ : state) {
        if (arg == 2) last.timestamp += 200000;
        chart->redraw_now();
    }
    state.counters["points"] = chart->points().size();
    state.SetLabel(arg == 0 ? "Recent" : arg == 1 ? "All" : "All, growing run");
}
BENCHMARK(BM_measure_chart_redraw)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The scan chart at 16 x 655,360 readings: the first redraw builds the channel stores,
// later ones find one new reading per channel (a scan tick) and redraw.
void BM_scan_chart_redraw(benchmark::State& state) {
    const bool reduce = state.range(0) != 0;
    auto chart = std::make_unique<bench_scan_chart_t>(nullptr);
    chart->resize(1400, 700);
    for (int ch = 1; ch <= scan_channels; ++ch) chart->set_curve_valid(ch, true);
    chart->set_reduction(reduce);
    chart->run.start_timestamp = scan_start_us;
    fill_scan(chart->data, scan_stored_per_channel_limit - 64);
    paint_immediately(chart->plot());
    settle(*chart);
    QElapsedTimer first;
    first.start();
    chart->redraw_now();
    chart->give_back();
    const double first_ms = static_cast<double>(first.nsecsElapsed()) / 1e6;
    std::size_t drawn = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& [ch, readings] : chart->data) {
            const plib_data_t last = readings.back();
            readings.push_back({last.value, last.timestamp + 10000});
        }
        state.ResumeTiming();
        chart->redraw_now();
        state.PauseTiming();
        chart->give_back();
        drawn = 0;
        for (int ch = 1; ch <= scan_channels; ++ch) drawn += chart->curve(ch)->dataSize();
        state.ResumeTiming();
    }
    state.counters["first_redraw_ms"] = first_ms;
    state.counters["points_to_qwt"] = static_cast<double>(drawn);
    state.SetLabel(reduce ? "reduced" : "every reading");
}
BENCHMARK(BM_scan_chart_redraw)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_scan_chart_redraw)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2);

// What every refresh pays today before the chart sees a reading: the scan engine's
// read-out copies the whole stored map (scan_original_data_msg_t).
void BM_scan_engine_style_copy(benchmark::State& state) {
    plib_scan_data_map_t stored;
    fill_scan(stored, scan_stored_per_channel_limit);
    plib_scan_data_map_t out;
    for (auto _ : state) {
        out.clear();
        for (const auto& [ch, readings] : stored) out[ch].assign(readings.begin(), readings.end());
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_scan_engine_style_copy)->Unit(benchmark::kMillisecond)->Iterations(10);

double cpu_s(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A scanner card that hands out whatever batch the benchmark scripted last.
class bench_scanner_t : public scan_instrument_t {
public:
    plib_scan_data_map_t next;
    int get_scan_channel_count() override { return scan_channels; }
    int read_scan_data(plib_scan_data_map_t& data) override {
        data.clear();
        data.swap(next);
        return 0;
    }
    int set_scan_start(int) override { return 0; }
};

// A scan chart that follows a real scan engine the way the page's chart does: mode 1
// asks for the new readings only, mode 0 copies every stored reading at each redraw
// (the read-out the chart used before).
class bench_engine_chart_t : public ui_scan_trend_chart_t {
public:
    bench_engine_chart_t(scan_main_t* engine, bool new_only)
        : ui_scan_trend_chart_t(nullptr), m_pengine(engine), m_new_only(new_only) {}

protected:
    bool _fetch_new_data(plib_scan_new_data_t& data) override {
        return m_new_only && m_pengine->m_scan_new_data_msg.fetch(data) == 0;
    }
    bool _fetch_scan(plib_scan_data_map_t& data, plib_scan_run_state_t& run) override {
        m_pengine->m_scan_run_state_info_msg.fetch(run);
        return m_pengine->m_scan_original_data_msg.fetch(data) == 0;
    }

private:
    scan_main_t* m_pengine;
    bool m_new_only;
};

// GUI-thread cost of one scan data notification on the Scan Diagram page at the
// per-channel limit (16 x 655,360 readings held): the chart's redraw with its engine
// read-out, and the latest readings for the Data column. Each iteration first lets the
// engine store one more reading per channel (dropping its oldest), as a scan tick does.
void BM_scan_data_notification(benchmark::State& state) {
    const bool new_only = state.range(0) != 0;
    bench_scanner_t scanner;
    scan_main_options_t options;
    options.periodic_task_enabled = false;
    options.clock = [] { return static_cast<uint64_t>(scan_start_us); };
    scan_main_t engine(&scanner, options);
    engine.set_run_state(1);
    engine.m_scan_trig_msg.send();  // meets the start condition
    fill_scan(scanner.next, scan_stored_per_channel_limit);
    plib_data_t last[scan_channels + 1];
    for (const auto& [ch, readings] : scanner.next) last[ch] = readings.back();
    engine.m_scan_trig_msg.send();

    auto chart = std::make_unique<bench_engine_chart_t>(&engine, new_only);
    chart->resize(1400, 700);
    for (int ch = 1; ch <= scan_channels; ++ch) chart->set_curve_valid(ch, true);
    paint_immediately(chart->plot());
    settle(*chart);
    chart->redraw_now();
    plib_scan_latest_map_t latest;
    // The engine thread's copy counts too: the GUI thread waits for it.
    double process_cpu_s = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int ch = 1; ch <= scan_channels; ++ch) {
            last[ch].timestamp += 10000;
            scanner.next[ch].push_back(last[ch]);
        }
        engine.m_scan_trig_msg.send();
        const double cpu0 = cpu_s(CLOCK_PROCESS_CPUTIME_ID);
        state.ResumeTiming();
        chart->redraw_now();
        engine.m_scan_latest_data_msg.fetch(latest);
        state.PauseTiming();
        process_cpu_s += cpu_s(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        state.ResumeTiming();
    }
    state.counters["process_cpu_ms"] = process_cpu_s * 1000.0 / static_cast<double>(state.iterations());
    std::size_t drawn = 0;
    for (int ch = 1; ch <= scan_channels; ++ch) drawn += chart->curve(ch)->dataSize();
    state.counters["points_to_qwt"] = static_cast<double>(drawn);
    state.SetLabel(new_only ? "new readings only" : "every stored reading copied");
    engine.set_run_state(0);
}
BENCHMARK(BM_scan_data_notification)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_scan_data_notification)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

double thread_cpu_s() { return cpu_s(CLOCK_THREAD_CPUTIME_ID); }

// The item connects in the background: runs the event loop until it is done (bounded).
bool wait_connected(const ui_device_item_t& item) {
    QElapsedTimer waited;
    waited.start();
    while (item.is_busy() && waited.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return !item.is_busy() && item.is_connected();
}

// The Measure Diagram page shown while one simulated instrument measures (one
// notification per 200 ms tick): GUI-thread CPU seconds per wall second.
void BM_gui_cpu_while_measuring(benchmark::State& state) {
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXA-2");
    if (!sim.ok()) {
        state.SkipWithError("simulator did not start");
        return;
    }
    auto item = std::make_unique<ui_device_item_t>("VXA-2", sim.instr_resource(), pugi::xml_node());
    if (!wait_connected(*item)) {
        state.SkipWithError("not connected");
        return;
    }
    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    auto frame = std::make_unique<ui_measure_diagram_frame_t>(nullptr, item.get());
    frame->resize(1400, 800);
    settle(*frame);
    ui_measure_diagram_frame_t* page = frame.get();
    int notifications = 0;
    int redraws = 0;
    QObject::connect(frame->findChild<ui_common_trend_chart_t*>("measure_diagram_trend_chart"),
                     &ui_common_trend_chart_t::signal_redrawn, [&redraws] { ++redraws; });
    cfg->get_acq()->set_notify_callback([page](plib_acq_notify_t type) {
        QMetaObject::invokeMethod(
            page, [page, type] { page->slot_recv_measure_notify_update(type); }, Qt::QueuedConnection);
    });
    cfg->set_run_state(1);
    const double seconds = 10.0;
    for (auto _ : state) {
        notifications = redraws = 0;
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = thread_cpu_s();
        QTimer stop;
        QEventLoop loop;
        QObject::connect(&stop, &QTimer::timeout, &loop, &QEventLoop::quit);
        stop.start(static_cast<int>(seconds * 1000));
        loop.exec();
        const double cpu = thread_cpu_s() - cpu0;
        const double wall_s = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        state.counters["gui_cpu_ms_per_s"] = cpu * 1000.0 / wall_s;
        state.counters["redraws_per_s"] = redraws / wall_s;
    }
    (void)notifications;
    cfg->set_run_state(0);
    cfg->get_acq()->set_notify_callback(nullptr);
    QCoreApplication::processEvents();
    frame.reset();
    item.reset();
}
BENCHMARK(BM_gui_cpu_while_measuring)->Iterations(1)->Unit(benchmark::kSecond);

// ---------------------------------------------------------------------------------------
// Evidence pictures

// Shot on the dark page background the widget has inside the program's window.
bool save(QWidget& w, const QString& path) {
    QWidget host;
    QPalette dark = host.palette();
    dark.setColor(QPalette::Window, QColor(0x42, 0x40, 0x40));
    host.setPalette(dark);
    host.setAutoFillBackground(true);
    QWidget* old_parent = w.parentWidget();
    const QSize size = w.size();
    w.setParent(&host);
    w.move(0, 0);
    host.resize(size);
    settle(host);
    const bool ok = host.grab().save(path);
    w.setParent(old_parent);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

int render_fixture_screenshots(const QString& dir) {
    QDir().mkpath(dir);
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    const QString suffix = scale == "1" ? "" : "-x" + scale;
    bool ok = true;
    {
        for (int mode : {0, 1}) {
            bench_trend_chart_t chart(nullptr);
            chart.resize(1100, 560);
            fill_trend(chart.trend, acq_trend_display_points, true);
            chart.run.total_count = 5000;
            chart.run.elapsed_s = 1000.0;
            chart.set_timebase(200);
            chart.set_trend_mode(mode);
            chart.set_range_mode(1);
            chart.set_latest_display("+", "0.123456", "", "V");
            chart.redraw_now();
            ok &= save(chart,
                       dir + QString("/measure-chart-%1%2.png").arg(mode == 0 ? "recent" : "all", suffix));
        }
    }
    {
        bench_scan_chart_t chart(nullptr);
        chart.resize(1400, 700);
        // One lane per channel: a common range over all channels' values.
        for (int ch = 1; ch <= scan_channels; ++ch) {
            chart.set_curve_valid(ch, true);
            chart.set_auto_range(ch, false);
            chart.set_range(ch, 17.0, 0.0);
        }
        chart.run.start_timestamp = scan_start_us;
        fill_scan(chart.data, 60000);
        chart.copy = true;
        chart.redraw_now();
        ok &= save(chart, dir + QString("/scan-chart-16ch%1.png").arg(suffix));
        chart.set_reduction(false);
        chart.redraw_now();
        ok &= save(chart, dir + QString("/scan-chart-16ch-unreduced%1.png").arg(suffix));
    }
    return ok ? 0 : 1;
}

// The page during a live run on the simulator: DC voltage on the 2 V range, then the
// 200 mV range (the 1.2 V input overloads it), then back.
int render_live_screenshots(const QString& dir) {
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXA-2");
    if (!sim.ok()) return 1;
    ui_device_item_t item("VXA-2", sim.instr_resource(), pugi::xml_node());
    if (!wait_connected(item)) return 1;
    cfg_main_t* cfg = item.get_mngr()->get_cfg();
    cfg->set_function(measure_dcv);
    cfg->set_range(measure_dcv, "2V");
    cfg->set_range_mode(1);
    ui_measure_diagram_frame_t frame(nullptr, &item);
    frame.resize(1400, 760);
    settle(frame);
    ui_measure_diagram_frame_t* page = &frame;
    cfg->get_acq()->set_notify_callback([page](plib_acq_notify_t type) {
        QMetaObject::invokeMethod(
            page, [page, type] { page->slot_recv_measure_notify_update(type); }, Qt::QueuedConnection);
    });
    auto run_for = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    cfg->set_run_state(1);
    run_for(6000);
    cfg->set_range(measure_dcv, "200mV");
    run_for(3000);
    cfg->set_range(measure_dcv, "2V");
    run_for(6000);
    frame.slot_download_latest_disp_data({"+", "1.23456", "", "V"});
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    const QString suffix = scale == "1" ? "" : "-x" + scale;
    auto* chart = frame.findChild<ui_trend_chart_t*>("measure_diagram_trend_chart");
    chart->redraw_now();
    bool ok = save(frame, dir + QString("/measure-diagram-live-recent%1.png").arg(suffix));
    for (QAbstractButton* b : frame.findChildren<QAbstractButton*>()) {
        if (b->text() == "All") b->click();
    }
    run_for(1000);
    ok &= save(frame, dir + QString("/measure-diagram-live-all%1.png").arg(suffix));
    cfg->set_run_state(0);
    cfg->get_acq()->set_notify_callback(nullptr);
    QCoreApplication::processEvents();
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--chart-screenshots") == 0) {
            // The program's own look: style sheet and font.
            ui_application_t::install_style_and_font();
            const QString dir = QString::fromLocal8Bit(argv[i + 1]);
            const int fixture = render_fixture_screenshots(dir);
            const int live = render_live_screenshots(dir);
            return fixture != 0 || live != 0 ? 1 : 0;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
