// The notification bridge: engine callbacks on other threads become signals on the GUI
// thread, in order per engine, data bursts merged, nothing after detach.
#include <QThread>
#include <QtTest>
#include <mutex>
#include <thread>
#include <vector>

#include "acq/acq_main.h"
#include "scan/scan_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_mngr_notify_bridge.h"
#include "ui_test_support.h"

namespace {

// Stands in for the three engines: keeps the callbacks it is given, like an engine
// would, and records every clear.
struct fake_engines_t {
    std::mutex mutex;
    ui_notify_sources_t::remote_cb_t remote;
    ui_notify_sources_t::acq_cb_t acq;
    ui_notify_sources_t::scan_cb_t scan;
    int clears = 0;

    ui_notify_sources_t sources() {
        ui_notify_sources_t s;
        s.set_remote = [this](ui_notify_sources_t::remote_cb_t cb) { _set(remote, std::move(cb)); };
        s.set_acq = [this](ui_notify_sources_t::acq_cb_t cb) { _set(acq, std::move(cb)); };
        s.set_scan = [this](ui_notify_sources_t::scan_cb_t cb) { _set(scan, std::move(cb)); };
        return s;
    }
    template <typename F>
    void _set(F& slot, F cb) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!cb) ++clears;
        slot = std::move(cb);
    }
};

// Every emitted notification as "engine:kind", and whether all came on the GUI thread.
struct recorder_t {
    QStringList seen;
    bool all_on_gui_thread = true;

    void attach(ui_mngr_notify_bridge_t& bridge) {
        auto note = [this](const char* engine, int kind) {
            seen << QString("%1:%2").arg(engine).arg(kind);
            if (QThread::currentThread() != qApp->thread()) all_on_gui_thread = false;
        };
        QObject::connect(&bridge, &ui_mngr_notify_bridge_t::signal_remote_notify,
                         [note](plib_remote_notify_t t) { note("remote", t); });
        QObject::connect(&bridge, &ui_mngr_notify_bridge_t::signal_acq_notify,
                         [note](plib_acq_notify_t t) { note("acq", t); });
        QObject::connect(&bridge, &ui_mngr_notify_bridge_t::signal_scan_notify,
                         [note](plib_scan_notify_t t) { note("scan", t); });
    }
    QStringList of(const QString& engine) const {
        return seen.filter(QRegularExpression("^" + engine + ":"));
    }
};

}  // namespace

class test_notify_bridge_t : public QObject {
    Q_OBJECT

private slots:
    void three_engine_threads_in_order_with_bursts_merged();
    void one_data_notification_per_event_loop_turn();
    void nothing_after_detach_even_from_a_late_callback();
    void kinds_are_registered_for_queued_connections();
    void real_engines_report_then_fall_silent_when_released();
};

void test_notify_bridge_t::three_engine_threads_in_order_with_bursts_merged() {
    fake_engines_t engines;
    ui_mngr_notify_bridge_t bridge(engines.sources());
    recorder_t rec;
    rec.attach(bridge);

    // Each engine thread produces its whole sequence before the GUI thread runs a turn.
    std::thread acq([&] {
        engines.acq(acq_notify_start);
        for (int i = 0; i < 500; ++i) engines.acq(acq_notify_data);
        engines.acq(acq_notify_record_write_failed);
        for (int i = 0; i < 500; ++i) engines.acq(acq_notify_data);
        engines.acq(acq_notify_stop);
    });
    std::thread scan([&] {
        engines.scan(scan_notify_start);
        engines.scan(scan_notify_wait);
        engines.scan(scan_notify_wait);
        for (int i = 0; i < 300; ++i) engines.scan(scan_notify_data);
        engines.scan(scan_notify_stop);
    });
    std::thread remote([&] {
        engines.remote(remote_notify_link_lost);
        engines.remote(remote_notify_link_lost);
    });
    acq.join();
    scan.join();
    remote.join();
    QVERIFY(rec.seen.isEmpty());  // nothing is delivered on the engine threads

    QCoreApplication::processEvents();
    QVERIFY(rec.all_on_gui_thread);
    QCOMPARE(rec.of("acq"), QStringList({"acq:0", "acq:1", "acq:4", "acq:1", "acq:3"}));
    QCOMPARE(rec.of("scan"), QStringList({"scan:0", "scan:2", "scan:2", "scan:1", "scan:3"}));
    QCOMPARE(rec.of("remote"), QStringList({"remote:0", "remote:0"}));
    QCOMPARE(rec.seen.size(), 12);
}

void test_notify_bridge_t::one_data_notification_per_event_loop_turn() {
    fake_engines_t engines;
    ui_mngr_notify_bridge_t bridge(engines.sources());
    recorder_t rec;
    rec.attach(bridge);
    for (int turn = 1; turn <= 3; ++turn) {
        std::thread producer([&] {
            for (int i = 0; i < 200; ++i) {
                engines.acq(acq_notify_data);
                engines.scan(scan_notify_data);
            }
        });
        producer.join();
        QCoreApplication::processEvents();
        QCOMPARE(rec.of("acq").size(), turn);
        QCOMPARE(rec.of("scan").size(), turn);
    }
    // A kind other than data keeps data on both sides of it.
    engines.acq(acq_notify_data);
    engines.acq(acq_notify_buffer_full);
    engines.acq(acq_notify_data);
    engines.acq(acq_notify_data);
    QCoreApplication::processEvents();
    QCOMPARE(rec.of("acq").mid(3), QStringList({"acq:1", "acq:2", "acq:1"}));
}

void test_notify_bridge_t::nothing_after_detach_even_from_a_late_callback() {
    fake_engines_t engines;
    auto bridge = std::make_unique<ui_mngr_notify_bridge_t>(engines.sources());
    recorder_t rec;
    rec.attach(*bridge);
    // An engine that copied the callback before the clear may still call the copy.
    const ui_notify_sources_t::acq_cb_t late_copy = engines.acq;

    engines.acq(acq_notify_start);
    engines.scan(scan_notify_start);
    QVERIFY(bridge->is_attached());
    bridge->detach();  // the queued ones are dropped too
    QVERIFY(!bridge->is_attached());
    QCOMPARE(engines.clears, 3);
    QVERIFY(!engines.acq && !engines.scan && !engines.remote);
    QCoreApplication::processEvents();
    QVERIFY(rec.seen.isEmpty());

    bridge.reset();
    std::thread late([&] { late_copy(acq_notify_data); });
    late.join();
    QCoreApplication::processEvents();
    QVERIFY(rec.seen.isEmpty());
    QCOMPARE(engines.clears, 3);  // the destructor does not clear twice
}

void test_notify_bridge_t::kinds_are_registered_for_queued_connections() {
    ui_mngr_notify_bridge_t::register_meta_types();
    for (const char* name : {"plib_remote_notify_t", "plib_acq_notify_t", "plib_scan_notify_t"})
        QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
}

void test_notify_bridge_t::real_engines_report_then_fall_silent_when_released() {
    auto mngr = std::make_unique<plib_mngr_t>("VXA-2", pugi::xml_node());
    auto bridge = std::make_unique<ui_mngr_notify_bridge_t>(mngr.get());
    recorder_t rec;
    rec.attach(*bridge);

    mngr->get_acq()->set_run_state(1);  // notifies on this thread, delivered queued
    QVERIFY(rec.seen.isEmpty());
    mngr->get_scan()->m_scan_trig_msg.send();  // notifies on the scan thread
    mngr->get_acq()->set_run_state(0);
    QTRY_VERIFY(rec.of("acq").size() == 2 && rec.of("scan").size() == 1);
    QCOMPARE(rec.of("acq"), QStringList({"acq:0", "acq:3"}));
    QCOMPARE(rec.of("scan"), QStringList({"scan:1"}));
    QVERIFY(rec.all_on_gui_thread);

    // Queued but not yet delivered when the manager goes: dropped.
    mngr->get_acq()->set_run_state(1);
    mngr->get_scan()->m_scan_trig_msg.send();
    bridge->detach();
    mngr->get_acq()->set_run_state(0);
    mngr->get_scan()->m_scan_trig_msg.send();
    mngr.reset();
    QTest::qWait(50);
    QCOMPARE(rec.of("acq").size() + rec.of("scan").size(), 3);
}

QTEST_MAIN(test_notify_bridge_t)
#include "test_notify_bridge.moc"
