// The shell stays usable while instruments are slow: connecting, deleting and
// "Delete All" run in the background, a GUI timer keeps firing meanwhile, and the
// outcome (boxes, state, item refresh) is what it is without the delay.
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>
#include <csignal>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_device_column/ui_device_jobs.h"
#include "ui/ui_main_window.h"
#include "ui/ui_primary_window/ui_measure_frame.h"
#include "ui/ui_primary_window/ui_measure_format.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;
using velkaro_ui_test::wait_instruments_idle;

namespace {

const char* const slow_reply = "1500";
const char* const image_connecting = "image: url(:/image/connecting.png)";

void flush_deletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// A 50 ms timer on the GUI thread: it only fires while the event loop runs.
class gui_ticks_t {
public:
    gui_ticks_t() {
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_ticks; });
        m_timer.start();
    }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    int m_ticks = 0;
};

// Runs the event loop until every released instrument is gone (bounded).
bool wait_releases_done(int timeout_ms = 30000) {
    const QDeadlineTimer deadline(timeout_ms);
    while (!ui_device_jobs_t::instance().wait_idle(0)) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(5);
    }
    return true;
}

struct connect_outcome_t {
    bool connected = false;
    QStringList boxes;
    QString serial;
    int ticks_while_connecting = 0;
    bool showed_connecting = false;
    bool busy_cursor = false;
};

// Adds the instrument by hand, as the Add dialog does, and watches the connect.
connect_outcome_t add_by_hand(const std::string& model, const std::string& res) {
    connect_outcome_t outcome;
    modal_closer_t closer;
    ui_device_column_t column;
    gui_ticks_t ticks;
    int ticks_at_finish = -1;
    column.slot_add_device_by_hand(model, res, pugi::xml_node());
    ui_device_item_t* item = column.get_device_items().front();
    QObject::connect(item, &ui_device_item_t::signal_connect_finished,
                     [&](int) { ticks_at_finish = ticks.ticks(); });
    outcome.showed_connecting =
        item->is_busy() && item->connection_button()->styleSheet() == image_connecting;
    outcome.busy_cursor = item->testAttribute(Qt::WA_SetCursor) && item->cursor().shape() == Qt::BusyCursor;
    if (!wait_instruments_idle()) return outcome;
    QCoreApplication::processEvents();
    outcome.ticks_while_connecting = ticks_at_finish;
    outcome.connected = item->is_connected();
    outcome.boxes = closer.seen();
    outcome.serial = item->detail_table()->item(2, 1)->text();
    return outcome;
}

// A connected instrument, measuring, on a simulator that answers every query late (or
// with other simulator options).
struct slow_bench_t {
    explicit slow_bench_t(std::vector<std::string> sim_args = {"--reply-delay", slow_reply})
        : sim("VXA-2", std::move(sim_args)) {}
    bool add_to(ui_device_column_t& column) {
        if (!sim.ok()) return false;
        column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
        if (!wait_instruments_idle()) return false;
        ui_device_item_t* item = column.get_device_items().back();
        if (!item->is_connected()) return false;
        // Measuring keeps a query in flight most of the time.
        item->get_mngr()->get_cfg()->set_run_state(1);
        return item->get_mngr()->get_cfg()->get_run_state() != 0;
    }
    // The instrument stops answering at all (as a hung meter does): letting it go then
    // waits for the link's time-outs.
    void hang() { ::kill(sim.pid(), SIGSTOP); }
    void resume() { ::kill(sim.pid(), SIGCONT); }
    velkaro_test::sim_process_t sim;
};

}  // namespace

class test_shell_responsive_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void slow_connect_leaves_the_window_running_data();
    void slow_connect_leaves_the_window_running();
    void delete_of_a_connected_instrument_runs_in_the_background();
    void delete_all_runs_in_the_background();
    void item_deleted_while_connecting();
    void window_closed_while_connecting();
    void scan_card_check_runs_in_the_background();
    void auto_range_is_asked_in_the_background();
    void a_late_range_answer_leaves_a_cleared_page_cleared();
    void disconnect_of_a_running_instrument_stops_it_in_the_background_data();
    void disconnect_of_a_running_instrument_stops_it_in_the_background();
};

void test_shell_responsive_t::initTestCase() { velkaro_test::use_test_portmapper_port(); }

void test_shell_responsive_t::cleanup() {
    flush_deletions();
    QVERIFY(wait_releases_done());
}

void test_shell_responsive_t::slow_connect_leaves_the_window_running_data() {
    QTest::addColumn<QString>("sim_model");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("the chosen model") << "VXA-2"
                                      << "VXA-2" << true << QStringList();
    QTest::newRow("another model") << "VXB-1"
                                   << "VXA-2" << false
                                   << QStringList({"Warning|The device doesn't match the model!"});
}

void test_shell_responsive_t::slow_connect_leaves_the_window_running() {
    QFETCH(QString, sim_model);
    QFETCH(QString, chosen);
    QFETCH(bool, connected);
    QFETCH(QStringList, boxes);

    // Without the delay first: the outcome to compare with.
    velkaro_test::sim_process_t quick(sim_model.toStdString());
    QVERIFY(quick.ok());
    const connect_outcome_t reference = add_by_hand(chosen.toStdString(), quick.instr_resource());
    QCOMPARE(reference.connected, connected);
    QCOMPARE(reference.boxes, boxes);
    QVERIFY(wait_releases_done());

    velkaro_test::sim_process_t slow(sim_model.toStdString(), {"--reply-delay", slow_reply});
    QVERIFY(slow.ok());
    const connect_outcome_t outcome = add_by_hand(chosen.toStdString(), slow.instr_resource());
    QVERIFY(outcome.showed_connecting);
    QVERIFY(outcome.busy_cursor);
    // The GUI thread kept serving its timer while the link waited for the replies.
    qInfo("GUI timer ticks while connecting: %d", outcome.ticks_while_connecting);
    QVERIFY2(outcome.ticks_while_connecting >= 3,
             qPrintable(QString::number(outcome.ticks_while_connecting)));
    QCOMPARE(outcome.connected, reference.connected);
    QCOMPARE(outcome.boxes, reference.boxes);
    QCOMPARE(outcome.serial, reference.serial);
}

void test_shell_responsive_t::delete_of_a_connected_instrument_runs_in_the_background() {
    slow_bench_t bench;
    ui_device_column_t column;
    QVERIFY(bench.add_to(column));
    ui_device_item_t* item = column.get_device_items().front();
    const std::string res = item->get_resource();
    QVERIFY(ui_connect_mngr_t::instance().is_bound(res));

    gui_ticks_t ticks;
    QSignalSpy deleted(&column, &ui_device_column_t::signal_delete_primary_window);
    bench.hang();
    column.slot_del_device(item->get_index());
    // The column and the registry are done at once; the instrument stops behind.
    QCOMPARE(deleted.count(), 1);
    QVERIFY(column.get_device_items().empty());
    QVERIFY(!ui_connect_mngr_t::instance().is_bound(res));
    QVERIFY(!ui_device_jobs_t::instance().wait_idle(0));
    const bool released = wait_releases_done();
    bench.resume();
    QVERIFY(released);
    qInfo("GUI timer ticks while deleting: %d", ticks.ticks());
    QVERIFY2(ticks.ticks() >= 3, qPrintable(QString::number(ticks.ticks())));
    // The instrument was let go properly: its link is closed, so it can be added again.
    column.slot_add_device("VXA-2", res, pugi::xml_node());
    QVERIFY(wait_instruments_idle());
    QVERIFY(column.get_device_items().front()->is_connected());
}

void test_shell_responsive_t::delete_all_runs_in_the_background() {
    slow_bench_t first;
    slow_bench_t second;
    ui_device_column_t column;
    QVERIFY(first.add_to(column));
    QVERIFY(second.add_to(column));

    gui_ticks_t ticks;
    QSignalSpy deleted(&column, &ui_device_column_t::signal_delete_primary_window);
    first.hang();
    second.hang();
    {
        modal_closer_t closer(QMessageBox::Yes);
        column._ask_clear_device();
        QCOMPARE(closer.seen(), QStringList({"Tips|Are you sure to delete ALL device?"}));
    }
    QCOMPARE(deleted.count(), 2);
    QVERIFY(column.get_device_items().empty());
    QVERIFY(ui_connect_mngr_t::instance().bound().empty());
    QVERIFY(ui_connect_mngr_t::instance().unbound().empty());
    QVERIFY(!ui_device_jobs_t::instance().wait_idle(0));
    const bool released = wait_releases_done();
    first.resume();
    second.resume();
    QVERIFY(released);
    qInfo("GUI timer ticks during Delete All: %d", ticks.ticks());
    QVERIFY2(ticks.ticks() >= 3, qPrintable(QString::number(ticks.ticks())));
}

void test_shell_responsive_t::item_deleted_while_connecting() {
    velkaro_test::sim_process_t slow("VXB-1", {"--reply-delay", slow_reply});
    QVERIFY(slow.ok());
    modal_closer_t closer;
    ui_device_column_t column;
    column.slot_add_device_by_hand("VXA-2", slow.instr_resource(), pugi::xml_node());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(item->is_busy());
    column.slot_del_device(item->get_index());
    flush_deletions();
    QVERIFY(wait_releases_done());
    QTest::qWait(50);
    // The answer of the connect reached nobody: no box for a deleted instrument.
    QCOMPARE(closer.count(), 0);
    QVERIFY(ui_connect_mngr_t::instance().unbound().empty());
    QVERIFY(!ui_connect_mngr_t::instance().is_bound(slow.instr_resource()));
}

void test_shell_responsive_t::window_closed_while_connecting() {
    velkaro_test::sim_process_t slow("VXA-2", {"--reply-delay", slow_reply});
    QVERIFY(slow.ok());
    modal_closer_t closer;
    {
        ui_main_window_t window("");
        window.device_column()->slot_add_device("VXA-2", slow.instr_resource(), pugi::xml_node());
        QVERIFY(window.device_column()->get_device_items().front()->is_busy());
    }
    // The window waited for the instrument it released; nothing is left running.
    QVERIFY(ui_device_jobs_t::instance().wait_idle(0));
    QVERIFY(ui_connect_mngr_t::instance().bound().empty());
    QCOMPARE(closer.count(), 0);
}

void test_shell_responsive_t::scan_card_check_runs_in_the_background() {
    velkaro_test::sim_process_t slow("VXA-2", {"--reply-delay", slow_reply});
    QVERIFY(slow.ok());
    modal_closer_t closer;
    ui_device_column_t column;
    column.slot_add_device("VXA-2", slow.instr_resource(), pugi::xml_node());
    QVERIFY(wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(item->is_connected());

    gui_ticks_t ticks;
    int ticks_at_answer = -1;
    ui_primary_window_t window(nullptr, item);
    QSignalSpy checked(&window, &ui_primary_window_t::signal_scan_card_checked);
    QObject::connect(&window, &ui_primary_window_t::signal_scan_card_checked,
                     [&](bool) { ticks_at_answer = ticks.ticks(); });
    // Built at once; the card's pages follow the instrument's answer.
    QVERIFY(window.is_checking_scan_card());
    QVERIFY(!window.has_scan_card());
    QVERIFY(wait_instruments_idle());
    QCOMPARE(checked.count(), 1);
    QCOMPARE(checked.first().first().toBool(), true);
    QVERIFY(window.has_scan_card());
    QVERIFY(window.findChild<QWidget*>("scan_data_frame") != nullptr);
    qInfo("GUI timer ticks during the scanner-card check: %d", ticks_at_answer);
    QVERIFY2(ticks_at_answer >= 3, qPrintable(QString::number(ticks_at_answer)));
    QCOMPARE(closer.count(), 0);
}

// Every reading shown in auto range asks the instrument which range it chose. That
// question waits behind the acquisition's fetch; asked on the GUI thread, an instrument
// that stops answering froze the window until the link's time-out.
void test_shell_responsive_t::auto_range_is_asked_in_the_background() {
    slow_bench_t bench(std::vector<std::string>{});  // its simulator answers at once until hung
    modal_closer_t closer;
    ui_device_column_t column;
    QVERIFY(bench.add_to(column));  // measuring, DC voltage in auto range
    ui_device_item_t* item = column.get_device_items().front();
    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    QVERIFY(cfg->get_auto_range(measure_dcv) != 0);
    ui_primary_window_t window(nullptr, item);
    QVERIFY(wait_instruments_idle());
    auto* frame = window.findChild<ui_measure_frame_t*>("measure_frame");
    auto* data = window.findChild<QLabel*>("measure_data");
    QTRY_VERIFY_WITH_TIMEOUT(data->text().contains(QRegularExpression("^[0-9.]{8}$")), 10000);
    QVERIFY(wait_releases_done());  // the range question of that reading answered

    bench.hang();
    gui_ticks_t ticks;
    frame->slot_recv_measure_notify_update(acq_notify_data);
    // Back at once, with the question waiting for the instrument on the item's lane.
    QVERIFY(!ui_device_jobs_t::instance().wait_idle(0));
    // The GUI goes on ticking while the instrument hangs (the outcome, not how fast).
    QTRY_VERIFY_WITH_TIMEOUT(ticks.ticks() >= 3, 30000);
    QVERIFY(!ui_device_jobs_t::instance().wait_idle(0));  // still hanging meanwhile
    bench.resume();
    QVERIFY(wait_releases_done());
    QCoreApplication::processEvents();
    const QList<QLabel*> params = window.findChildren<QLabel*>("measure_data_param");
    QCOMPARE(params.size(), 2);
    QCOMPARE(params[1]->text(), QString("Auto"));
    QVERIFY(!params[0]->text().isEmpty());
    QCOMPARE(params[0]->text().toStdString(), cfg->get_range(measure_dcv));
    QVERIFY(item->is_connected());
    cfg->set_run_state(0);
}

// The range question may be answered after the page was cleared (a new run, the
// buffer cleared): the answer is stored, but the stale reading does not come back.
void test_shell_responsive_t::a_late_range_answer_leaves_a_cleared_page_cleared() {
    slow_bench_t bench(std::vector<std::string>{});
    modal_closer_t closer;
    ui_device_column_t column;
    QVERIFY(bench.add_to(column));
    ui_device_item_t* item = column.get_device_items().front();
    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    ui_primary_window_t window(nullptr, item);
    QVERIFY(wait_instruments_idle());
    auto* frame = window.findChild<ui_measure_frame_t*>("measure_frame");
    auto* data = window.findChild<QLabel*>("measure_data");
    QTRY_VERIFY_WITH_TIMEOUT(data->text().contains(QRegularExpression("^[0-9.]{8}$")), 10000);
    // Stopped, so that no further reading reaches the page; its latest one stays.
    cfg->set_run_state(0);
    QVERIFY(wait_releases_done());
    QCoreApplication::processEvents();
    const std::string answered = cfg->get_range(measure_dcv);
    QVERIFY(!answered.empty());
    cfg->store_read_range(measure_dcv, answered == "20V" ? "200V" : "20V");  // so the answer differs

    bench.hang();
    frame->slot_recv_measure_notify_update(acq_notify_data);
    QVERIFY(!ui_device_jobs_t::instance().wait_idle(0));  // the question waits
    frame->slot_process_clear_data();
    bench.resume();
    QVERIFY(wait_releases_done());
    QCoreApplication::processEvents();
    QCOMPARE(cfg->get_range(measure_dcv), answered);  // stored all the same
    QCOMPARE(data->text(), QString::fromUtf8(ui_measure_placeholder));
    const QList<QLabel*> params = window.findChildren<QLabel*>("measure_data_param");
    QCOMPARE(params.size(), 2);
    QVERIFY2(params[0]->text().isEmpty(), qPrintable(params[0]->text()));
    QVERIFY(item->is_connected());
}

void test_shell_responsive_t::disconnect_of_a_running_instrument_stops_it_in_the_background_data() {
    QTest::addColumn<bool>("scanning");
    QTest::newRow("measuring") << false;
    QTest::newRow("scanning") << true;
}

void test_shell_responsive_t::disconnect_of_a_running_instrument_stops_it_in_the_background() {
    QFETCH(bool, scanning);
    velkaro_test::sim_process_t slow("VXA-2", {"--reply-delay", slow_reply});
    QVERIFY(slow.ok());
    modal_closer_t closer(QMessageBox::Yes);
    ui_device_column_t column;
    column.slot_add_device("VXA-2", slow.instr_resource(), pugi::xml_node());
    QVERIFY(wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(item->is_connected());
    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    if (scanning) {
        cfg_scan_config_t* scan = cfg->get_scan_config();
        plib_scanner_channel_map_t params = scan->get_channel_params();
        for (auto& [ch, p] : params) p.scan_state = ch == 1 ? 1 : 0;
        scan->set_channel_params(params);
        scan->set_limit_channels(1, 1);
        scan->apply_scan_config();
        cfg->set_scan_run_state(1);
        QVERIFY(cfg->get_scan_run_state() != 0);
    } else {
        cfg->set_run_state(1);
        QVERIFY(cfg->get_run_state() != 0);
    }

    QSignalSpy finished(item, &ui_device_item_t::signal_connect_finished);
    item->slot_connection_clicked();  // the box asks; the closer answers Yes
    QCOMPARE(closer.seen(),
             QStringList({"Warning|The measurement is still in progress, are you sure to disconnect?"}));
    // The stop and the disconnect are one background job: the click has only queued it.
    QVERIFY(item->is_busy());
    QCOMPARE(finished.count(), 0);
    QVERIFY(wait_instruments_idle());
    QCOMPARE(finished.count(), 1);
    QVERIFY(!item->is_connected());
    QCOMPARE(cfg->get_run_state(), 0);
    QCOMPARE(cfg->get_scan_run_state(), 0);
    QCOMPARE(item->connection_button()->styleSheet(), QString("image: url(:/image/disconnect.png)"));
    QCOMPARE(closer.count(), 1);
}

QTEST_MAIN(test_shell_responsive_t)
#include "test_shell_responsive.moc"
