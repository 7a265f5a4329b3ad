// Device column and device items in the main window: life cycle, looks, binding
// refusals, connect and disconnect through the button against the simulator, change
// of address.
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <QtTest>
#include <csignal>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "ui/ui_device_change_addr_dialog.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_device_column/ui_device_jobs.h"
#include "ui/ui_main_window.h"
#include "ui/ui_primary_manager_window.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;
using velkaro_ui_test::wait_instruments_idle;

namespace {

// Loopback addresses where nothing listens: connecting fails at once.
std::string unreachable(int n) { return "TCPIP0::127.77.0." + std::to_string(n) + "::inst0::INSTR"; }

QString detail(ui_device_item_t* item, int row) { return item->detail_table()->item(row, 1)->text(); }

void flush_deletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Clicks the connection button, answering the boxes it shows with `answer`.
QStringList click_connection(ui_device_item_t* item, QMessageBox::StandardButton answer = QMessageBox::Ok) {
    modal_closer_t closer(answer);
    item->connection_button()->click();
    wait_instruments_idle();
    QCoreApplication::processEvents();
    return closer.seen();
}

const char* const active_collapsed = ".QWidget{border:2px solid #2D97D4;}";
const char* const inactive = ".QWidget{border:none;}";

// Records the button's sheet every time it is painted.
class paint_recorder_t : public QObject {
public:
    QStringList sheets;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) sheets << static_cast<QWidget*>(watched)->styleSheet();
        return false;
    }
};

}  // namespace

class test_device_column_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void life_cycle_indexes_and_pages();
    void looks_follow_active_and_expanded();
    void same_resource_twice_data();
    void same_resource_twice();
    void connected_by_column_data();
    void connected_by_column();
    void delete_all_asks_first();
    void connect_and_disconnect_through_the_button();
    void disconnect_while_measuring_asks();
    void wrong_model_and_unreachable_warnings();
    void a_silent_instrument_does_not_hold_its_removal();
    void change_of_address();
    void change_of_address_dialog_from_the_table();
};

void test_device_column_t::initTestCase() { velkaro_test::use_test_portmapper_port(); }

void test_device_column_t::cleanup() { flush_deletions(); }

void test_device_column_t::life_cycle_indexes_and_pages() {
    ui_main_window_t window("");
    ui_device_column_t* column = window.device_column();
    QStackedLayout* stack = window.window_stack()->stacked_layout();
    QCOMPARE(column->objectName(), QString());
    QCOMPARE(column->column_frame()->objectName(), QString("device_column"));
    QCOMPARE(column->maximumWidth(), 340);
    QCOMPARE(column->minimumWidth(), 300);

    for (int i = 1; i <= 3; ++i) column->slot_add_device("VXA-2", unreachable(i), pugi::xml_node());
    std::vector<ui_device_item_t*> items = column->get_device_items();
    QCOMPARE(items.size(), size_t(3));
    for (unsigned i = 0; i < 3; ++i) {
        QCOMPARE(items[i]->get_index(), i + 1);
        QCOMPARE(items[i]->is_active(), i == 2);  // only the newest is active
        QVERIFY(!items[i]->is_connected());
        QCOMPARE(window.primary_window_of(items[i])->objectName(), QString("primary_window"));
    }
    QCOMPARE(stack->count(), 4);
    QCOMPARE(stack->currentWidget(), window.primary_window_of(items[2]));
    QCOMPARE(window.primary_window_of(items[2])->device_item()->get_resource(), unreachable(3));

    // Double click activates item 1 and brings its window to the front.
    window.show();
    QTest::mouseDClick(items[0], Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(items[0]->is_active());
    QVERIFY(!items[2]->is_active());
    QCOMPARE(stack->currentWidget(), window.primary_window_of(items[0]));

    // Deleting an inactive item leaves the current page.
    {
        modal_closer_t closer(QMessageBox::Yes);
        items[1]->slot_delete_this();
        QCOMPARE(closer.seen(), QStringList({"Tips|Are you sure to delete this device?"}));
    }
    QCOMPARE(column->get_device_items().size(), size_t(2));
    QCOMPARE(stack->currentWidget(), window.primary_window_of(items[0]));
    QCOMPARE(stack->count(), 3);
    QVERIFY(!ui_connect_mngr_t::instance().is_bound(unreachable(2)));  // released at once
    flush_deletions();

    // "No" keeps it.
    {
        modal_closer_t closer(QMessageBox::No);
        items[2]->slot_delete_this();
        QCOMPARE(closer.count(), 1);
    }
    QCOMPARE(column->get_device_items().size(), size_t(2));

    // Indexes are never reused.
    column->slot_add_device("VXB-1", unreachable(4), pugi::xml_node());
    items = column->get_device_items();
    QCOMPARE(items.back()->get_index(), 4u);
    QCOMPARE(column->next_index(), 5);

    // Deleting the active item shows the home page.
    QVERIFY(items.back()->is_active());
    column->slot_del_device(4);
    QCOMPARE(stack->currentIndex(), 0);
    column->slot_del_device(99);  // unknown: nothing
    QCOMPARE(column->get_device_items().size(), size_t(2));

    // Clearing empties everything without asking and keeps counting.
    column->slot_clear_device();
    flush_deletions();
    QVERIFY(column->get_device_items().empty());
    QCOMPARE(stack->count(), 1);
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(ui_connect_mngr_t::instance().bound().empty());
    QVERIFY(ui_connect_mngr_t::instance().unbound().empty());
    column->slot_add_device("VXA-1", unreachable(5), pugi::xml_node());
    QCOMPARE(column->get_device_items().front()->get_index(), 5u);
}

void test_device_column_t::looks_follow_active_and_expanded() {
    ui_device_column_t column;
    column.slot_add_device("VXA-2", unreachable(10), pugi::xml_node());
    column.slot_add_device("VXA-2", unreachable(11), pugi::xml_node());
    ui_device_item_t* first = column.get_device_items()[0];
    ui_device_item_t* second = column.get_device_items()[1];
    QVERIFY(wait_instruments_idle());

    QCOMPARE(second->header_widget()->objectName(), QString("device_item_widget"));
    QCOMPARE(second->header_widget()->height() == 50 || second->header_widget()->maximumHeight() == 50, true);
    QCOMPARE(second->header_widget()->styleSheet(), QString(active_collapsed));
    QCOMPARE(second->active_sign()->styleSheet(), QString("image: url(:/image/device_actived.png);"));
    QCOMPARE(first->header_widget()->styleSheet(), QString(inactive));
    QCOMPARE(first->active_sign()->styleSheet(), QString("image: url(:/image/device_inactived.png);"));
    QCOMPARE(second->connection_button()->styleSheet(), QString("image: url(:/image/disconnect.png)"));
    // Drawn so: a blue frame around the active header only.
    column.resize(320, 400);
    column.show();
    QVERIFY(QTest::qWaitForWindowExposed(&column));
    const QColor blue("#2D97D4");
    QCOMPARE(second->header_widget()->grab().toImage().pixelColor(1, 25), blue);
    QVERIFY(first->header_widget()->grab().toImage().pixelColor(1, 25) != blue);
    QCOMPARE(second->name_label()->text(), QString("VXA-2"));
    QCOMPARE(second->mode_label()->text(), QString("Measure"));
    QVERIFY(second->detail_table()->isHidden());
    QCOMPARE(second->detail_table()->maximumHeight(), 150);

    second->expand_button()->click();
    QVERIFY(second->is_expanded());
    QVERIFY(!second->detail_table()->isHidden());
    QVERIFY(second->header_widget()->styleSheet().startsWith(
        ".QWidget{border: 2px solid #2D97D4;border-bottom: none;"));
    QCOMPARE(
        second->detail_table()->styleSheet(),
        QString(".QTableWidget{border: 2px solid;border-color: #2D97D4;border-top-color: transparent;}"));

    first->expand_button()->click();
    QCOMPARE(first->detail_table()->styleSheet(), QString(".QTableWidget{border: 2px solid transparent;}"));
    QCOMPARE(first->header_widget()->styleSheet(), QString(inactive));

    // Another item turns active: the expanded one loses the blue frame.
    column.slot_add_device("VXA-2", unreachable(12), pugi::xml_node());
    QCOMPARE(second->header_widget()->styleSheet(), QString(inactive));
    QCOMPARE(second->detail_table()->styleSheet(), QString(".QTableWidget{border: 2px solid transparent;}"));

    // Context menu entries.
    QStringList entries;
    for (QAction* a : second->context_menu()->actions()) entries << a->text();
    QCOMPARE(entries, QStringList({"Delete this", "Delete all device"}));
    QCOMPARE(detail(second, 1), QString::fromStdString(unreachable(11)));
    QCOMPARE(second->detail_table()->item(1, 1)->toolTip(), QString::fromStdString(unreachable(11)));
    QStringList captions;
    for (int r = 0; r < 4; ++r) captions << second->detail_table()->item(r, 0)->text();
    QCOMPARE(captions, QStringList({"Connected by", "Address", "Serial Num", "Software Ver"}));
}

void test_device_column_t::same_resource_twice_data() {
    QTest::addColumn<QString>("model");
    QTest::newRow("same model") << "VXA-2";
    QTest::newRow("other model") << "VXB-2";
}

void test_device_column_t::same_resource_twice() {
    QFETCH(QString, model);
    ui_device_column_t column;
    column.slot_add_device("VXA-2", unreachable(20), pugi::xml_node());
    modal_closer_t closer;
    column.slot_add_device(model.toStdString(), unreachable(20), pugi::xml_node());
    QCOMPARE(closer.seen(),
             QStringList({"Warning|This resource has been bound, use another address please."}));
    const auto items = column.get_device_items();
    QCOMPARE(items.size(), size_t(2));
    QCOMPARE(items[1]->get_resource(), std::string());
    QCOMPARE(detail(items[1], 0), QString());
    QCOMPARE(detail(items[1], 1), QString());
    QCOMPARE(ui_connect_mngr_t::instance().find_mngr(unreachable(20)), items[0]->get_mngr());
    QCOMPARE(ui_connect_mngr_t::instance().unbound().size(), size_t(1));
}

void test_device_column_t::connected_by_column_data() {
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QString>("connected_by");
    QTest::newRow("usb") << "USB0::0x1AB1::0x0C94::X1::INSTR"
                         << "USB";
    QTest::newRow("tcpip") << QString::fromStdString(unreachable(30)) << "TCP/IP";
    QTest::newRow("serial") << "ASRL1::INSTR"
                            << "";
    QTest::newRow("lower case usb") << "usb0::1::2::3::INSTR"
                                    << "";
}

void test_device_column_t::connected_by_column() {
    QFETCH(QString, resource);
    QFETCH(QString, connected_by);
    ui_device_column_t column;
    column.slot_add_device("VXA-3", resource.toStdString(), pugi::xml_node());
    ui_device_item_t* item = column.get_device_items().front();
    QCOMPARE(detail(item, 0), connected_by);
    QCOMPARE(detail(item, 1), resource);
}

void test_device_column_t::delete_all_asks_first() {
    ui_device_column_t column;
    column.slot_add_device("VXA-2", unreachable(40), pugi::xml_node());
    column.slot_add_device("VXA-2", unreachable(41), pugi::xml_node());
    QSignalSpy deleted(&column, &ui_device_column_t::signal_delete_primary_window);
    {
        modal_closer_t closer(QMessageBox::No);
        column.get_device_items()[0]->context_menu()->actions()[1]->trigger();
        QCOMPARE(closer.seen(), QStringList({"Tips|Are you sure to delete ALL device?"}));
    }
    QCOMPARE(column.get_device_items().size(), size_t(2));
    {
        modal_closer_t closer(QMessageBox::Yes);
        column.get_device_items()[0]->context_menu()->actions()[1]->trigger();
    }
    flush_deletions();
    QVERIFY(column.get_device_items().empty());
    QCOMPARE(deleted.count(), 2);
}

void test_device_column_t::connect_and_disconnect_through_the_button() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(wait_instruments_idle());
    QVERIFY(item->is_connected());
    QCOMPARE(item->connection_button()->styleSheet(), QString("image: url(:/image/connected.png)"));
    QVERIFY(!detail(item, 2).isEmpty());  // serial number from the identification
    QVERIFY(!detail(item, 3).isEmpty());
    QCOMPARE(detail(item, 0), QString("TCP/IP"));
    // Collapsed, the header's tooltip tells this VXA-2 from another: address and serial.
    QCOMPARE(item->header_widget()->toolTip(), "VXA-2\nAddress: " + QString::fromStdString(sim.instr_resource()) +
                                                   "\nSerial number: " + detail(item, 2));

    // The connecting icon is painted before the blocking disconnect.
    column.show();
    QVERIFY(QTest::qWaitForWindowExposed(&column));
    paint_recorder_t recorder;
    item->connection_button()->installEventFilter(&recorder);
    QCOMPARE(click_connection(item), QStringList());
    item->connection_button()->removeEventFilter(&recorder);
    QVERIFY(!recorder.sheets.isEmpty());
    QCOMPARE(recorder.sheets.first(), QString("image: url(:/image/connecting.png)"));
    QVERIFY(!item->is_connected());
    QCOMPARE(item->connection_button()->styleSheet(), QString("image: url(:/image/disconnect.png)"));

    QCOMPARE(click_connection(item), QStringList());
    QVERIFY(item->is_connected());
    QCOMPARE(item->connection_button()->styleSheet(), QString("image: url(:/image/connected.png)"));
}

void test_device_column_t::disconnect_while_measuring_asks() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(wait_instruments_idle());
    QVERIFY(item->is_connected());
    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    cfg->set_run_state(1);
    QCOMPARE(item->get_mngr()->get_acq()->get_run_state(), 1);

    const QString question = "Warning|The measurement is still in progress, are you sure to disconnect?";
    QCOMPARE(click_connection(item, QMessageBox::No), QStringList({question}));
    QVERIFY(item->is_connected());
    QCOMPARE(item->get_mngr()->get_acq()->get_run_state(), 1);
    QCOMPARE(item->connection_button()->styleSheet(), QString("image: url(:/image/connected.png)"));

    QCOMPARE(click_connection(item, QMessageBox::Yes), QStringList({question}));
    QVERIFY(!item->is_connected());
    QCOMPARE(item->get_mngr()->get_acq()->get_run_state(), 0);
}

void test_device_column_t::wrong_model_and_unreachable_warnings() {
    velkaro_test::sim_process_t sim("VXB-1");
    QVERIFY(sim.ok());
    ui_device_column_t column;
    {
        // While adding, the warnings reach no one.
        modal_closer_t closer;
        column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
        column.slot_add_device("VXA-2", unreachable(50), pugi::xml_node());
        QVERIFY(wait_instruments_idle());
        QCOMPARE(closer.count(), 0);
    }
    ui_device_item_t* wrong = column.get_device_items()[0];
    ui_device_item_t* away = column.get_device_items()[1];
    QVERIFY(!wrong->is_connected());
    QCOMPARE(click_connection(wrong), QStringList({"Warning|The device doesn't match the model!"}));
    QVERIFY(!wrong->is_connected());
    QCOMPARE(wrong->connection_button()->styleSheet(), QString("image: url(:/image/disconnect.png)"));
    QCOMPARE(click_connection(away),
             QStringList({"Warning|Fail to connect the device, check the connection please."}));
    QVERIFY(!away->is_connected());
}

// An instrument that goes silent right after identifying itself (the simulator stopped:
// its link stays open, nothing answers) while its settings are sent: removing it lets
// go of its link, the connect ends, and the removal completes; the column goes on.
void test_device_column_t::a_silent_instrument_does_not_hold_its_removal() {
    velkaro_test::sim_process_t sim("VXA-2", {"--freeze-after", "3"});
    QVERIFY(sim.ok());
    {
        modal_closer_t closer;
        ui_device_column_t column;
        column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
        // The connect is in the settings transfer once the simulator has frozen.
        // (The simulator logs the command that freezes it, then "# frozen".)
        QTRY_VERIFY_WITH_TIMEOUT(!sim.log_lines().empty() && sim.log_lines().back() == "# frozen", 30000);
        QVERIFY(sim.log_lines().size() >= 4);
        column.slot_clear_device();
        QVERIFY(column.get_device_items().empty());
    }
    // Every job of the lanes (the connect, then the release) ends: ctest's time-out
    // guards a hang.
    QVERIFY(ui_device_jobs_t::instance().wait_idle(120000));
    ::kill(sim.pid(), SIGCONT);
    QCOMPARE(ui_connect_mngr_t::instance().bound().size(), size_t(0));
}

void test_device_column_t::change_of_address() {
    velkaro_test::sim_process_t sim_a("VXA-2");
    velkaro_test::sim_process_t sim_b("VXA-2");
    QVERIFY(sim_a.ok() && sim_b.ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", sim_a.instr_resource(), pugi::xml_node());
    column.slot_add_device("VXA-2", unreachable(60), pugi::xml_node());
    ui_device_item_t* item = column.get_device_items()[0];
    QVERIFY(wait_instruments_idle());
    QVERIFY(item->is_connected());
    plib_mngr_t* mngr = item->get_mngr();

    // To another free address: disconnect, rebind the same manager, reconnect.
    {
        modal_closer_t closer;
        item->slot_change_device_res(QString::fromStdString(sim_b.instr_resource()));
        QVERIFY(wait_instruments_idle());
        QCOMPARE(closer.seen(), QStringList({"Tips|New resource connnected."}));
    }
    QCOMPARE(item->get_resource(), sim_b.instr_resource());
    QVERIFY(item->is_connected());
    QCOMPARE(ui_connect_mngr_t::instance().find_mngr(sim_b.instr_resource()), mngr);
    QVERIFY(!ui_connect_mngr_t::instance().is_bound(sim_a.instr_resource()));
    QCOMPARE(detail(item, 1), QString::fromStdString(sim_b.instr_resource()));

    // To the address it already has: reconnected.
    {
        modal_closer_t closer;
        item->slot_change_device_res(QString::fromStdString(sim_b.instr_resource()));
        QVERIFY(wait_instruments_idle());
        QCOMPARE(closer.seen(), QStringList({"Tips|New resource connnected."}));
    }
    QVERIFY(item->is_connected());

    // To an address another item holds: refused, disconnected, old resource kept.
    {
        modal_closer_t closer;
        item->slot_change_device_res(QString::fromStdString(unreachable(60)));
        QVERIFY(wait_instruments_idle());
        QCOMPARE(closer.seen(), QStringList({"Warning|This address has been bound."}));
    }
    QCOMPARE(item->get_resource(), sim_b.instr_resource());
    QVERIFY(!item->is_connected());
    QCOMPARE(item->connection_button()->styleSheet(), QString("image: url(:/image/disconnect.png)"));
    QCOMPARE(ui_connect_mngr_t::instance().find_mngr(sim_b.instr_resource()), mngr);

    // An empty resource (nothing picked in the list): refused the same way.
    {
        modal_closer_t closer;
        item->slot_change_device_res(QString());
        QVERIFY(wait_instruments_idle());
        QCOMPARE(closer.seen(), QStringList({"Warning|This address has been bound."}));
    }
    QCOMPARE(item->get_resource(), sim_b.instr_resource());
}

void test_device_column_t::change_of_address_dialog_from_the_table() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", unreachable(70), pugi::xml_node());
    ui_device_item_t* item = column.get_device_items()[0];
    QVERIFY(wait_instruments_idle());
    QVERIFY(!item->is_connected());

    // Only the Address value cell opens the dialog.
    bool other_cell_opened = false;
    QTimer::singleShot(0, [&] { other_cell_opened = QApplication::activeModalWidget() != nullptr; });
    emit item->detail_table()->cellDoubleClicked(1, 0);
    QCoreApplication::processEvents();
    QVERIFY(!other_cell_opened);

    QString title;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<ui_device_change_addr_dialog_t*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        title = dialog->windowTitle();
        dialog->address_edit()->setText(QString::fromStdString(sim.address()));
        dialog->ok_button()->click();
    });
    modal_closer_t closer;
    emit item->detail_table()->cellDoubleClicked(1, 1);
    QVERIFY(wait_instruments_idle());
    QCOMPARE(title, QString("Change Connection"));
    QCOMPARE(closer.seen(), QStringList({"Tips|New resource connnected."}));
    QCOMPARE(item->get_resource(), sim.instr_resource());
    QVERIFY(item->is_connected());
}

QTEST_MAIN(test_device_column_t)
#include "test_device_column.moc"
