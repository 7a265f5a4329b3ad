// The GUI thread's share of one core while instruments measure with their Measure pages
// shown, and the resident memory the real windows add per connected instrument. Runs the
// program's own widgets (device column, instrument windows) on whatever platform
// QT_QPA_PLATFORM names (offscreen in the bench), against simulators started by the caller.
//
// usage: perf_gui_share measure SECONDS MODEL RESOURCE...   (GUI CPU while every window measures)
//        perf_gui_share memory MODEL RESOURCE...            (resident memory, connected and idle)
// Prints one JSON object on standard output.
// Exit codes: 0 done, 2 bad arguments, 3 an instrument did not connect or start.
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_memory.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_primary_window/ui_primary_window.h"

namespace {

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double process_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs the event loop for ms milliseconds (a single-shot timer ends it).
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds or limit_ms passed; returns done().
template <class F>
bool spin_until(F done, int limit_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit_ms) spin(20);
    return done();
}

int usage() {
    std::fprintf(stderr,
                 "usage: perf_gui_share measure SECONDS MODEL RESOURCE...\n"
                 "       perf_gui_share memory MODEL RESOURCE...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string mode = argv[1];
    int first = 0;
    int seconds = 0;
    if (mode == "measure" && argc >= 5) {
        seconds = std::atoi(argv[2]);
        first = 3;
    } else if (mode == "memory" && argc >= 4) {
        first = 2;
    } else {
        return usage();
    }
    if (mode == "measure" && (seconds <= 0 || seconds > 600)) return usage();
    const std::string model = argv[first];

    QApplication app(argc, argv);
    const long before = resident_kib();
    ui_device_column_t column;
    for (int i = first + 1; i < argc; ++i) column.slot_add_device(model, argv[i], pugi::xml_node());
    const std::vector<ui_device_item_t*> items = column.get_device_items();
    // Connecting runs in the background: wait (bounded) until every item has its outcome.
    spin_until(
        [&] {
            for (ui_device_item_t* item : items)
                if (item->is_busy()) return false;
            return true;
        },
        60000);
    for (ui_device_item_t* item : items) {
        if (!item->is_connected()) {
            std::fprintf(stderr, "perf_gui_share: an instrument did not connect\n");
            return 3;
        }
    }
    spin(500);  // engine threads settle into their polls
    const long connected = resident_kib();

    std::vector<std::unique_ptr<ui_primary_window_t>> windows;
    for (ui_device_item_t* item : items) {
        windows.push_back(std::make_unique<ui_primary_window_t>(nullptr, item));
        windows.back()->show();
    }
    // Each window asks its instrument for a scanner card in the background; the pages
    // it adds belong to the figure.
    for (int waited = 0; waited < 30000; waited += 10) {
        bool checking = false;
        for (const auto& window : windows) checking = checking || window->is_checking_scan_card();
        if (!checking) break;
        spin(10);
    }
    spin(500);
    const long with_windows = resident_kib();
    const double n = static_cast<double>(items.size());

    if (mode == "memory") {
        std::printf(
            "{\"instruments\": %zu, \"before_kib\": %ld, \"connected_kib\": %ld, \"with_windows_kib\": %ld, "
            "\"per_instrument_connected_mib\": %.3f, \"per_instrument_with_window_mib\": %.3f}\n",
            items.size(), before, connected, with_windows, (connected - before) / n / 1024.0,
            (with_windows - before) / n / 1024.0);
        std::fflush(stdout);
        return 0;
    }

    for (auto& window : windows) window->findChild<QPushButton*>("measure_run_stop_btn")->click();
    const bool started = spin_until(
        [&] {
            for (auto& window : windows)
                if (window->findChild<QLabel*>("measure_acq_status_label")->text() != "ON") return false;
            return true;
        },
        20000);
    if (!started) {
        std::fprintf(stderr, "perf_gui_share: a measurement did not start\n");
        return 3;
    }
    spin(1000);  // past the first ticks

    // The event loop runs on this thread, so its CPU clock is the GUI thread's.
    QElapsedTimer wall;
    wall.start();
    const double gui0 = thread_cpu_seconds();
    const double proc0 = process_cpu_seconds();
    spin(seconds * 1000);
    const double gui = thread_cpu_seconds() - gui0;
    const double proc = process_cpu_seconds() - proc0;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;

    for (auto& window : windows) window->findChild<QPushButton*>("measure_run_stop_btn")->click();
    spin_until(
        [&] {
            for (auto& window : windows)
                if (window->findChild<QLabel*>("measure_acq_status_label")->text() != "OFF") return false;
            return true;
        },
        20000);
    std::printf(
        "{\"instruments\": %zu, \"seconds\": %.3f, \"gui_cpu_s\": %.4f, \"process_cpu_s\": %.4f, "
        "\"gui_share\": %.5f, \"process_share\": %.5f}\n",
        items.size(), elapsed, gui, proc, gui / elapsed, proc / elapsed);
    std::fflush(stdout);
    return 0;
}
