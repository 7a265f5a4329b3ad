// Control window: the device snapshot, the Select All toggle, Sync Start/Stop on two
// simulated instruments, and a start that waits for a slow instrument off the GUI thread.
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_control_window.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui_test_support.h"

namespace {

int run_state(ui_device_item_t* item) { return item->get_mngr()->get_acq()->get_run_state(); }

// Runs the event loop until every start or stop of the window is back.
bool settled(ui_control_window_t* window) {
    const QDeadlineTimer deadline(30000);
    while (window->in_flight() > 0 && !deadline.hasExpired()) QTest::qWait(5);
    return window->in_flight() == 0 && velkaro_ui_test::wait_instruments_idle();
}

QStringList column_texts(QTableWidget* table, int column) {
    QStringList texts;
    for (int r = 0; r < table->rowCount(); ++r) texts << table->item(r, column)->text();
    return texts;
}

}  // namespace

class test_control_window_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { velkaro_test::use_test_portmapper_port(); }
    void empty_column();
    void table_and_toggle();
    void sync_start_and_stop_two_instruments();
    void sync_start_on_a_slow_instrument_returns_at_once();
};

void test_control_window_t::empty_column() {
    ui_device_column_t column;
    auto* window = new ui_control_window_t(&column);
    QCOMPARE(window->objectName(), QString("control_window"));
    QCOMPARE(window->windowTitle(), QString("Instrument Control"));
    QCOMPARE(window->size(), QSize(600, 450));
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(window->device_table()->rowCount(), 0);
    window->select_button()->click();
    window->start_button()->click();
    window->stop_button()->click();
    QCOMPARE(window->select_button()->text(), QString("Deselect All"));
    window->close();
}

void test_control_window_t::table_and_toggle() {
    ui_device_column_t column;
    column.slot_add_device("VXA-2", "TCPIP0::127.79.0.1::inst0::INSTR", pugi::xml_node());
    {
        velkaro_ui_test::modal_closer_t closer;  // the second item has no resource
        column.slot_add_device("VXB-1", "TCPIP0::127.79.0.1::inst0::INSTR", pugi::xml_node());
    }
    auto* window = new ui_control_window_t(&column);
    QTableWidget* table = window->device_table();
    QCOMPARE(table->objectName(), QString("control_device_list"));
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QString("Device"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QString("Connection"));
    QCOMPARE(table->columnWidth(0), 150);
    QVERIFY(table->horizontalHeader()->stretchLastSection());
    QCOMPARE(table->selectionMode(), QAbstractItemView::MultiSelection);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(table->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(!table->isCornerButtonEnabled());
    QCOMPARE(column_texts(table, 0), QStringList({"VXA-2", "VXB-1"}));
    QCOMPARE(column_texts(table, 1), QStringList({"TCPIP0::127.79.0.1::inst0::INSTR", "No connection"}));
    QCOMPARE(table->item(1, 1)->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(window->select_button()->text(), QString("Select All"));
    QCOMPARE(window->start_button()->text(), QString("Sync Start"));
    QCOMPARE(window->stop_button()->text(), QString("Sync Stop"));
    QCOMPARE(window->select_button()->size(), QSize(120, 40));

    window->select_button()->click();
    QCOMPARE(table->selectionModel()->selectedRows().size(), 2);
    QCOMPARE(window->select_button()->text(), QString("Deselect All"));

    // Selecting by hand does not change the toggle: the next press still deselects.
    table->clearSelection();
    table->selectRow(0);
    QCOMPARE(window->select_button()->text(), QString("Deselect All"));
    window->select_button()->click();
    QCOMPARE(table->selectionModel()->selectedRows().size(), 0);
    QCOMPARE(window->select_button()->text(), QString("Select All"));
    window->close();
}

void test_control_window_t::sync_start_and_stop_two_instruments() {
    velkaro_test::sim_process_t sim_a("VXA-2");
    velkaro_test::sim_process_t sim_b("VXB-1");
    QVERIFY(sim_a.ok() && sim_b.ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", sim_a.instr_resource(), pugi::xml_node());
    column.slot_add_device("VXB-1", sim_b.instr_resource(), pugi::xml_node());
    column.slot_add_device("VXA-1", "TCPIP0::127.79.0.9::inst0::INSTR", pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    const auto items = column.get_device_items();
    QVERIFY(items[0]->is_connected() && items[1]->is_connected() && !items[2]->is_connected());

    auto* window = new ui_control_window_t(&column);
    QCOMPARE(window->status_label()->text(), QString());
    // Only the second row: only that instrument starts.
    window->device_table()->selectRow(1);
    window->start_button()->click();
    QVERIFY(settled(window));
    QCOMPARE(run_state(items[0]), 0);
    QCOMPARE(run_state(items[1]), 1);
    QCOMPARE(window->status_label()->text(), QString("Measuring: 1 of 1 instruments."));

    // All rows: the connected ones measure, the disconnected one is refused and named.
    window->device_table()->clearSelection();
    window->select_button()->click();
    window->start_button()->click();
    QVERIFY(settled(window));
    QCOMPARE(run_state(items[0]), 1);
    QCOMPARE(run_state(items[1]), 1);
    QCOMPARE(run_state(items[2]), 0);
    QCOMPARE(window->status_label()->text(),
             QString("Measuring: 2 of 3 instruments.\nNot started: VXA-1 at TCPIP0::127.79.0.9::inst0::INSTR "
                     "(not connected)."));

    // Readings arrive on both (the restart really started the instruments).
    for (int i = 0; i < 2; ++i)
        QTRY_VERIFY_WITH_TIMEOUT(items[i]->get_mngr()->get_cfg()->get_total_count() > 0, 5000);

    window->select_button()->click();  // deselect all
    window->device_table()->selectRow(0);
    window->stop_button()->click();
    QVERIFY(settled(window));
    QCOMPARE(run_state(items[0]), 0);
    QCOMPARE(run_state(items[1]), 1);
    QCOMPARE(window->status_label()->text(), QString("Stopped 1 of 1 instruments."));

    window->select_button()->click();  // select all again
    window->stop_button()->click();
    QVERIFY(settled(window));
    QCOMPARE(run_state(items[1]), 0);
    window->close();
}

// A restart waits for the fetch in flight and then sends the trigger settings and "INIT":
// with an instrument that answers slowly the window returns at once, refuses a second
// press while the start travels, and the start reaches the instrument after the setting
// change made before it.
void test_control_window_t::sync_start_on_a_slow_instrument_returns_at_once() {
    velkaro_test::sim_process_t slow("VXA-2", {"--reply-delay", "700"});
    QVERIFY(slow.ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", slow.instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(item->is_connected());
    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    // Measuring: every tick's fetch waits for the instrument's reply.
    cfg->set_run_state(1);
    QTRY_VERIFY_WITH_TIMEOUT(cfg->get_total_count() > 0, 10000);
    const size_t mark = slow.log_lines().size();

    // A Measure page change still on its way, then Sync Start.
    item->run_setting(item, [](cfg_main_t* c) { return c->set_function(measure_dci); });
    auto* window = new ui_control_window_t(&column);
    window->select_button()->click();
    window->start_button()->click();
    // Back before the instrument answered: the start waits on the lane.
    QCOMPARE(window->in_flight(), 1);
    QCOMPARE(item->settings_in_flight(), 2);
    QVERIFY(!window->start_button()->isEnabled());
    QVERIFY(!window->stop_button()->isEnabled());
    QCOMPARE(window->status_label()->text(), QString("Starting: waiting for 1 of 1 instruments..."));
    window->stop_button()->click();  // refused while the start travels
    QCOMPARE(window->in_flight(), 1);

    // The event loop keeps turning while the instrument answers.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    QVERIFY(settled(window));
    QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
    QCOMPARE(run_state(item), 1);
    QVERIFY(window->start_button()->isEnabled());
    QCOMPARE(window->status_label()->text(), QString("Measuring: 1 of 1 instruments."));
    std::vector<std::string> sent = slow.log_lines();
    sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(mark));
    const auto at = [&](const std::string& start) {
        for (size_t i = 0; i < sent.size(); ++i)
            if (sent[i].rfind(start, 0) == 0) return static_cast<int>(i);
        return -1;
    };
    QVERIFY(at("FUNC \"CURR") >= 0);
    QVERIFY(at("INIT") > at("FUNC \"CURR"));
    cfg->set_run_state(0);
    window->close();
}

QTEST_MAIN(test_control_window_t)
#include "test_control_window.moc"
