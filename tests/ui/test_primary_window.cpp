// The instrument window: page set and tab strip with and without a scanner card, the
// scan pages arriving when an instrument connects later, the lost-link reaction, and
// no notification reaching a deleted window or a released instrument.
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_reconnect.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_mngr_notify_bridge.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;

namespace {

constexpr int reading_wait_ms = 10000;

std::string unreachable(int n) { return "TCPIP0::127.77.2." + std::to_string(n) + "::inst0::INSTR"; }

// Button texts in the strip's order (the layout's, which is the page order).
QStringList tab_texts(ui_primary_window_t* w) {
    QStringList texts;
    QLayout* layout = w->findChild<ui_tabbed_page_t*>("tabbed_page")->layout();
    for (int i = 0; i < layout->count(); ++i)
        texts << static_cast<QToolButton*>(layout->itemAt(i)->widget())->text();
    return texts;
}

QStringList page_names(ui_primary_window_t* w) {
    QStringList names;
    auto* stack = w->findChild<QStackedLayout*>();
    for (int i = 0; i < stack->count(); ++i) names << stack->widget(i)->objectName();
    return names;
}

QString current_page(ui_primary_window_t* w) {
    return w->findChild<QStackedLayout*>()->currentWidget()->objectName();
}

void flush_deletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// One instrument of a simulator started with `sim_args`, connected, in its window, and
// measuring (its Measure page says "ON"): the common start of the lost-link cases.
struct measuring_window_t {
    velkaro_test::sim_process_t sim;
    modal_closer_t closer;
    ui_device_column_t column;
    ui_device_item_t* item = nullptr;
    std::unique_ptr<ui_primary_window_t> window;
    QLabel* status = nullptr;

    explicit measuring_window_t(std::vector<std::string> sim_args) : sim("VXA-2", std::move(sim_args)) {}
    // A failed step fails the test: check QTest::currentTestFailed() after the call.
    void start() {
        QVERIFY(sim.ok());
        column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
        QVERIFY(velkaro_ui_test::wait_instruments_idle());
        item = column.get_device_items().front();
        QVERIFY(item->is_connected());
        window = std::make_unique<ui_primary_window_t>(nullptr, item);
        status = window->findChild<QLabel*>("measure_acq_status_label");
        closer.clear();
        window->findChild<QPushButton*>("measure_run_stop_btn")->click();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("ON"), reading_wait_ms);
    }
};

const QStringList pages_with_scan = {"measure_frame", "measure_diag_frame", "scan_data_frame",
                                     "scan_diag_frame", "scpi_config_frame"};
const QStringList pages_without_scan = {"measure_frame", "measure_diag_frame", "scpi_config_frame"};
const QStringList tabs_with_scan = {"Measure", "Measure Diagram", "Scan Data", "Scan Diagram", "SCPI"};
const QStringList tabs_without_scan = {"Measure", "Measure Diagram", "SCPI"};

}  // namespace

class test_primary_window_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { flush_deletions(); }
    void pages_and_tabs_data();
    void pages_and_tabs();
    void scan_pages_arrive_when_connected_later();
    void link_lost_while_measuring();
    void link_lost_with_reconnection_goes_on_measuring();
    void link_lost_without_resource_changes_nothing();
    void nothing_reaches_a_deleted_window();
    void released_instrument_detaches_before_the_window_goes();
};

void test_primary_window_t::initTestCase() { velkaro_test::use_test_portmapper_port(); }

void test_primary_window_t::pages_and_tabs_data() {
    QTest::addColumn<QString>("sim_args");  // "none": no simulator, the item stays disconnected
    QTest::addColumn<QStringList>("tabs");
    QTest::addColumn<QStringList>("pages");
    QTest::addColumn<int>("scpi_index");
    QTest::newRow("scanner card") << "" << tabs_with_scan << pages_with_scan << int(tab_index_scpi_with_scan);
    QTest::newRow("no scanner card") << "--no-scan-card" << tabs_without_scan << pages_without_scan
                                     << int(tab_index_scpi_without_scan);
    QTest::newRow("disconnected") << "none" << tabs_without_scan << pages_without_scan
                                  << int(tab_index_scpi_without_scan);
}

void test_primary_window_t::pages_and_tabs() {
    QFETCH(QString, sim_args);
    QFETCH(QStringList, tabs);
    QFETCH(QStringList, pages);
    QFETCH(int, scpi_index);
    std::unique_ptr<velkaro_test::sim_process_t> sim;
    std::string resource = unreachable(1);
    if (sim_args != "none") {
        std::vector<std::string> args;
        if (!sim_args.isEmpty()) args.push_back(sim_args.toStdString());
        sim = std::make_unique<velkaro_test::sim_process_t>("VXA-2", args);
        QVERIFY(sim->ok());
        resource = sim->instr_resource();
    }
    modal_closer_t closer;
    ui_device_column_t column;
    column.slot_add_device("VXA-2", resource, pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_primary_window_t window(nullptr, column.get_device_items().front());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());  // the scanner-card check
    QCOMPARE(window.objectName(), QString("primary_window"));
    QCOMPARE(tab_texts(&window), tabs);
    QCOMPARE(page_names(&window), pages);
    QCOMPARE(current_page(&window), QString("measure_frame"));
    QVERIFY(!window.is_checking_scan_card());

    auto* strip = window.findChild<ui_tabbed_page_t*>("tabbed_page");
    QCOMPARE(strip->maximumHeight(), 50);
    QSignalSpy clicked(strip, &ui_tabbed_page_t::signal_change_current_page);
    auto* scpi = window.findChild<QToolButton*>("tab_scpi_btn");
    QVERIFY(window.findChild<QToolButton*>("tab_measure_btn")->isChecked());
    scpi->click();
    QCOMPARE(clicked.last().first().value<ui_tab_index_t>(), ui_tab_index_t(scpi_index));
    QCOMPARE(current_page(&window), QString("scpi_config_frame"));
    QVERIFY(scpi->isChecked());
    QVERIFY(!window.findChild<QToolButton*>("tab_measure_btn")->isChecked());
    // The checked button again: the same index, the same page.
    scpi->click();
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(clicked.last().first().value<ui_tab_index_t>(), ui_tab_index_t(scpi_index));
    QCOMPARE(current_page(&window), QString("scpi_config_frame"));
    window.findChild<QToolButton*>("tab_measure_diagram_btn")->click();
    QCOMPARE(current_page(&window), QString("measure_diag_frame"));
}

void test_primary_window_t::scan_pages_arrive_when_connected_later() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    modal_closer_t closer;
    ui_device_column_t column;
    column.slot_add_device("VXA-2", unreachable(2), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(!item->is_connected());
    ui_primary_window_t window(nullptr, item);
    QCOMPARE(tab_texts(&window), tabs_without_scan);
    window.findChild<QToolButton*>("tab_scpi_btn")->click();
    QCOMPARE(current_page(&window), QString("scpi_config_frame"));

    // The user fixes the address: the instrument connects and its card is found.
    closer.clear();
    item->slot_change_device_res(QString::fromStdString(sim.instr_resource()));
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    QVERIFY(item->is_connected());
    QCOMPARE(closer.seen(), QStringList({"Tips|New resource connnected."}));
    QTRY_VERIFY(window.has_scan_card());
    QCOMPARE(tab_texts(&window), tabs_with_scan);
    QCOMPARE(page_names(&window), pages_with_scan);
    // The page shown and its button stay; SCPI is now number 4.
    QCOMPARE(current_page(&window), QString("scpi_config_frame"));
    QVERIFY(window.findChild<QToolButton*>("tab_scpi_btn")->isChecked());
    QSignalSpy clicked(window.findChild<ui_tabbed_page_t*>("tabbed_page"),
                       &ui_tabbed_page_t::signal_change_current_page);
    window.findChild<QToolButton*>("tab_scan_diagram_btn")->click();
    QCOMPARE(clicked.last().first().value<ui_tab_index_t>(), tab_index_scan_diagram);
    QCOMPARE(current_page(&window), QString("scan_diag_frame"));
    window.findChild<QToolButton*>("tab_scpi_btn")->click();
    QCOMPARE(clicked.last().first().value<ui_tab_index_t>(), tab_index_scpi_with_scan);

    // Reconnecting does not add them twice.
    item->slot_connection_clicked();
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    item->slot_connection_clicked();
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    QVERIFY(item->is_connected());
    QCOMPARE(page_names(&window), pages_with_scan);
}

void test_primary_window_t::link_lost_while_measuring() {
    // The connection takes about 60 commands; a few ticks later the simulator drops every link.
    measuring_window_t bench({"--drop-after", "120"});
    bench.start();
    if (QTest::currentTestFailed()) return;
    ui_device_item_t* item = bench.item;
    QLabel* status = bench.status;
    const velkaro_test::sim_process_t& sim = bench.sim;
    modal_closer_t& closer = bench.closer;

    // Six failed transfers in a row, each waiting for its time-out.
    QTRY_VERIFY_WITH_TIMEOUT(!item->is_connected(), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("OFF"), reading_wait_ms);
    QCOMPARE(item->get_mngr()->get_acq()->get_run_state(), 0);
    QCOMPARE(item->get_mngr()->get_cfg()->get_scan_run_state(), 0);
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    QCOMPARE(item->connection_button()->styleSheet(), QString("image: url(:/image/disconnect.png)"));
    QTest::qWait(300);  // time for a second report of the same loss
    const QString told = QString("Warning|Lost the connection to VXA-2 at %1.")
                             .arg(QString::fromStdString(sim.instr_resource()));
    QCOMPARE(closer.count(), 1);
    QVERIFY2(closer.seen().first().startsWith(told), qPrintable(closer.seen().first()));
}

void test_primary_window_t::link_lost_with_reconnection_goes_on_measuring() {
    // The network goes away a few ticks after the connection, for 2 s; the instrument keeps measuring.
    plib_reconnect_policy_t on;
    on.enabled = true;
    plib_reconnect_t::set_default_policy(on);
    struct restore_t {
        ~restore_t() { plib_reconnect_t::set_default_policy(plib_reconnect_policy_t()); }
    } restore;
    measuring_window_t bench({"--outage-after", "80", "--outage-for", "2"});
    bench.start();
    if (QTest::currentTestFailed()) return;
    ui_device_item_t* item = bench.item;
    QLabel* status = bench.status;
    const velkaro_test::sim_process_t& sim = bench.sim;
    modal_closer_t& closer = bench.closer;
    ui_primary_window_t& window = *bench.window;

    // The item says it is reconnecting, then the note goes; the run never stopped.
    QTRY_COMPARE_WITH_TIMEOUT(item->link_note(), QString("Reconnecting"), 60000);
    QCOMPARE(item->mode_label()->text(), QString("Reconnecting"));
    QCOMPARE(item->get_mngr()->get_acq()->get_run_state(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(item->link_note(), QString(), 60000);
    QVERIFY(item->is_connected());
    QCOMPARE(item->get_mngr()->get_acq()->get_run_state(), 1);
    QCOMPARE(status->text(), QString("ON"));
    // Readings arrive again after the outage.
    const uint32_t back = item->get_mngr()->get_cfg()->get_total_count();
    QTRY_VERIFY_WITH_TIMEOUT(item->get_mngr()->get_cfg()->get_total_count() > back, reading_wait_ms);
    QCOMPARE(closer.count(), 0);  // no box: nothing was lost
    QStringList console;
    for (const QLabel* entry : window.findChildren<QLabel*>("scpi_log_entry")) console << entry->text();
    const QString where = QString("the VXA-2 at %1").arg(QString::fromStdString(sim.instr_resource()));
    QVERIFY2(console.filter(where + " was lost; trying again").size() == 1, qPrintable(console.join('\n')));
    QVERIFY2(console.filter(where + " is back after").size() == 1, qPrintable(console.join('\n')));
    window.findChild<QPushButton*>("measure_run_stop_btn")->click();
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("OFF"), reading_wait_ms);
}

void test_primary_window_t::link_lost_without_resource_changes_nothing() {
    modal_closer_t closer;
    ui_device_column_t column;
    column.slot_add_device("VXA-2", unreachable(3), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    column.slot_add_device("VXA-2", unreachable(3), pugi::xml_node());  // refused: no resource
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().back();
    QCOMPARE(item->get_resource(), std::string());
    ui_primary_window_t window(nullptr, item);
    QSignalSpy changed(item, &ui_device_item_t::signal_connection_changed);
    closer.clear();
    emit window.signal_recv_remote_notify(remote_notify_link_lost);
    QCoreApplication::processEvents();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(closer.count(), 0);
}

void test_primary_window_t::nothing_reaches_a_deleted_window() {
    velkaro_test::sim_process_t sim("VXB-1");
    QVERIFY(sim.ok());
    ui_device_column_t column;
    column.slot_add_device("VXB-1", sim.instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().front();
    auto window = std::make_unique<ui_primary_window_t>(nullptr, item);
    auto* digits = window->findChild<QLabel*>("measure_data");
    window->findChild<QPushButton*>("measure_run_stop_btn")->click();
    QTRY_VERIFY_WITH_TIMEOUT(digits->text().contains(QRegularExpression("^[0-9.]{8}$")), reading_wait_ms);

    // Deleted while the engine ticks and notifications are on their way.
    window.reset();
    const unsigned before = item->get_mngr()->get_cfg()->get_total_count();
    QTRY_VERIFY_WITH_TIMEOUT(item->get_mngr()->get_cfg()->get_total_count() > before, reading_wait_ms);
    item->get_mngr()->get_cfg()->set_run_state(0);  // a stop notification too
    QTest::qWait(100);
    // Still alive and usable: a new window receives again.
    ui_primary_window_t again(nullptr, item);
    again.findChild<QPushButton*>("measure_run_stop_btn")->click();
    QTRY_COMPARE_WITH_TIMEOUT(again.findChild<QLabel*>("measure_acq_status_label")->text(), QString("ON"),
                              reading_wait_ms);
    item->get_mngr()->get_cfg()->set_run_state(0);
}

void test_primary_window_t::released_instrument_detaches_before_the_window_goes() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().front();
    // The main window's order: the item releases its instrument now, the window goes later.
    auto* window = new ui_primary_window_t(nullptr, item);
    window->findChild<QPushButton*>("measure_run_stop_btn")->click();
    QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel*>("measure_acq_status_label")->text(), QString("ON"),
                              reading_wait_ms);
    auto* bridge = window->findChild<ui_mngr_notify_bridge_t*>();
    QVERIFY(bridge != nullptr && bridge->is_attached());
    column.slot_del_device(item->get_index());
    QVERIFY(!bridge->is_attached());
    QCOMPARE(window->device_item(), nullptr);
    QTest::qWait(300);  // ticks would have come by now
    window->deleteLater();
    flush_deletions();
}

QTEST_MAIN(test_primary_window_t)
#include "test_primary_window.moc"
