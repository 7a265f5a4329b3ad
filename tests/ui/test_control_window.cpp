// Control window: the device snapshot, the Select All toggle, and Sync Start/Stop on two
// simulated instruments.
#include <QHeaderView>
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
    // Only the second row: only that instrument starts.
    window->device_table()->selectRow(1);
    window->start_button()->click();
    QCOMPARE(run_state(items[0]), 0);
    QCOMPARE(run_state(items[1]), 1);

    // All rows: the connected ones measure, the disconnected one is refused silently.
    window->device_table()->clearSelection();
    window->select_button()->click();
    window->start_button()->click();
    QCOMPARE(run_state(items[0]), 1);
    QCOMPARE(run_state(items[1]), 1);
    QCOMPARE(run_state(items[2]), 0);

    // Readings arrive on both (the restart really started the instruments).
    for (int i = 0; i < 2; ++i)
        QTRY_VERIFY_WITH_TIMEOUT(items[i]->get_mngr()->get_cfg()->get_total_count() > 0, 5000);

    window->select_button()->click();  // deselect all
    window->device_table()->selectRow(0);
    window->stop_button()->click();
    QCOMPARE(run_state(items[0]), 0);
    QCOMPARE(run_state(items[1]), 1);

    window->select_button()->click();  // select all again
    window->stop_button()->click();
    QCOMPARE(run_state(items[1]), 0);
    window->close();
}

QTEST_MAIN(test_control_window_t)
#include "test_control_window.moc"
