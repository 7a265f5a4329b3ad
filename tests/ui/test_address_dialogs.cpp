// Add-device and change-address dialogs: the IPv4 check, pages and enabling, the
// resource list texts and the background search against the simulator.
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>
#include <cstdlib>

#include "cfg/resource_registry.h"
#include "support/sim_process.h"
#include "ui/ui_add_device_dialog.h"
#include "ui/ui_device_change_addr_dialog.h"
#include "ui/ui_ipv4.h"
#include "ui/ui_res_search_thread.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;

namespace {

QAction* find_model_action(ui_add_device_dialog_t& dialog, const QString& model) {
    for (QAction* family : dialog.model_button()->menu()->actions()) {
        if (family->menu() == nullptr) continue;
        for (QAction* action : family->menu()->actions())
            if (action->text() == model) return action;
    }
    return nullptr;
}

QStringList list_texts(QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

// The resources the list offers (what OK takes), whatever label a search has added.
QStringList list_resources(QListWidget* list) {
    QStringList resources;
    for (int i = 0; i < list->count(); ++i) resources << ui_resource_of(list->item(i));
    return resources;
}

}  // namespace

class test_address_dialogs_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void ipv4_check_data();
    void ipv4_check();
    void add_dialog_model_page();
    void add_dialog_buttons_need_a_model();
    void add_dialog_typed_address_data();
    void add_dialog_typed_address();
    void add_dialog_invalid_address_stays_open();
    void add_dialog_search_list_texts();
    void add_dialog_ok_while_waiting_gives_empty_resource();
    void add_dialog_scan_res_finds_the_simulator();
    void change_dialog_toggle_and_ok();
    void change_dialog_invalid_address();
};

void test_address_dialogs_t::initTestCase() { velkaro_test::use_test_portmapper_port(); }

void test_address_dialogs_t::ipv4_check_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "192.168.1.10" << true;
    QTest::newRow("leading zeros") << "192.168.001.010" << true;
    QTest::newRow("edges") << "0.0.0.0" << true;
    QTest::newRow("255") << "255.255.255.255" << true;
    QTest::newRow("199 and 099") << "199.099.01.1" << true;
    QTest::newRow("256") << "256.1.1.1" << false;
    QTest::newRow("three numbers") << "1.2.3" << false;
    QTest::newRow("five numbers") << "1.2.3.4.5" << false;
    QTest::newRow("trailing blank") << "1.2.3.4 " << false;
    QTest::newRow("leading blank") << " 1.2.3.4" << false;
    QTest::newRow("letters instead of dots") << "1a2b3c4" << false;
    QTest::newRow("three digits from 3") << "300.1.1.1" << false;
    QTest::newRow("four digits") << "0001.1.1.1" << false;
    QTest::newRow("trailing newline") << "1.2.3.4\n" << false;
    QTest::newRow("double dot") << "1..2.3" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661.2.3.4") << false;
}

void test_address_dialogs_t::ipv4_check() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(ui_is_ipv4_address(text), valid);
}

void test_address_dialogs_t::add_dialog_model_page() {
    auto* dialog = new ui_add_device_dialog_t;
    QCOMPARE(dialog->windowTitle(), QString("Add Device"));
    // 450 x 150 at the least; larger only where the fonts need it. Not resizable.
    QVERIFY(dialog->width() >= 450 && dialog->height() >= 150);
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(dialog->current_page(), int(ui_add_device_dialog_t::page_model));
    QCOMPARE(dialog->model_button()->text(), QString("Select model"));
    QCOMPARE(dialog->model_button()->popupMode(), QToolButton::InstantPopup);

    // Two family submenus listing the registered models in order.
    const QList<QAction*> families = dialog->model_button()->menu()->actions();
    QCOMPARE(families.size(), 2);
    QCOMPARE(families[0]->text(), QString("VXA Series"));
    QCOMPARE(families[1]->text(), QString("VXB Series"));
    QStringList vxa;
    for (QAction* a : families[0]->menu()->actions()) vxa << a->text();
    QStringList vxb;
    for (QAction* a : families[1]->menu()->actions()) vxb << a->text();
    QCOMPARE(vxa, QStringList({"VXA-1", "VXA-2", "VXA-2E", "VXA-3"}));
    QCOMPARE(vxb, QStringList({"VXB-1", "VXB-2"}));
    dialog->close();
}

void test_address_dialogs_t::add_dialog_buttons_need_a_model() {
    auto* dialog = new ui_add_device_dialog_t;
    QVERIFY(!dialog->new_addr_button()->isEnabled());
    QVERIFY(!dialog->scan_res_button()->isEnabled());
    find_model_action(*dialog, "VXB-2")->trigger();
    QCOMPARE(dialog->model(), QString("VXB-2"));
    QCOMPARE(dialog->model_button()->text(), QString("VXB-2"));
    QVERIFY(dialog->new_addr_button()->isEnabled());
    QVERIFY(dialog->scan_res_button()->isEnabled());

    dialog->new_addr_button()->click();
    QCOMPARE(dialog->current_page(), int(ui_add_device_dialog_t::page_address));
    QCOMPARE(dialog->address_edit()->placeholderText(), QString("Enter TCP/IP address here."));
    dialog->address_back_button()->click();
    QCOMPARE(dialog->current_page(), int(ui_add_device_dialog_t::page_model));
    QCOMPARE(dialog->model(), QString("VXB-2"));  // the model stays chosen
    dialog->close();
}

void test_address_dialogs_t::add_dialog_typed_address_data() {
    QTest::addColumn<bool>("press_return");
    QTest::newRow("OK button") << false;
    QTest::newRow("Return in the field") << true;
}

void test_address_dialogs_t::add_dialog_typed_address() {
    QFETCH(bool, press_return);
    auto* dialog = new ui_add_device_dialog_t;
    QPointer<ui_add_device_dialog_t> alive(dialog);
    QSignalSpy added(dialog, &ui_add_device_dialog_t::signal_add_device);
    dialog->show();
    find_model_action(*dialog, "VXA-2E")->trigger();
    dialog->new_addr_button()->click();
    QTest::keyClicks(dialog->address_edit(), "192.168.001.010");
    if (press_return) {
        QTest::keyClick(dialog->address_edit(), Qt::Key_Return);
    } else {
        dialog->address_ok_button()->click();
    }
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.first().at(0).toString(), QString("VXA-2E"));
    QCOMPARE(added.first().at(1).toString(), QString("TCPIP0::192.168.001.010::inst0::INSTR"));
    QTRY_VERIFY(alive.isNull());  // closed and deleted

    // A typed address joins the registry's saved resources.
    std::vector<std::string> all;
    resource_registry_t::instance().list_all(all);
    QVERIFY(std::find(all.begin(), all.end(), "TCPIP0::192.168.001.010::inst0::INSTR") != all.end());
}

void test_address_dialogs_t::add_dialog_invalid_address_stays_open() {
    auto* dialog = new ui_add_device_dialog_t;
    QSignalSpy added(dialog, &ui_add_device_dialog_t::signal_add_device);
    dialog->show();
    find_model_action(*dialog, "VXA-1")->trigger();
    dialog->new_addr_button()->click();
    dialog->address_edit()->setText("256.1.1.1");
    modal_closer_t closer;
    dialog->address_ok_button()->click();
    QCOMPARE(closer.seen(), QStringList({"Tips|Invalid IP address!"}));
    QCOMPARE(added.count(), 0);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->address_edit()->text(), QString("256.1.1.1"));
    dialog->close();
}

void test_address_dialogs_t::add_dialog_search_list_texts() {
    auto* dialog = new ui_add_device_dialog_t;
    QListWidget* list = dialog->resource_list();
    QCOMPARE(list->size(), QSize(300, 120));
    QCOMPARE(list_texts(list), QStringList({"Please wait for scanning..."}));
    QVERIFY(!(list->item(0)->flags() & Qt::ItemIsSelectable));

    // Results reach every open dialog through the thread's signal.
    emit ui_res_search_thread_t::instance()->signal_send_resource({});
    QCOMPARE(list_texts(list), QStringList({"No connection resources found."}));
    QVERIFY(!(list->item(0)->flags() & Qt::ItemIsSelectable));

    emit ui_res_search_thread_t::instance()->signal_send_resource(
        {"USB0::0x1AB1::0x0C94::DM0001::INSTR", "TCPIP0::10.0.0.1::inst0::INSTR"});
    QCOMPARE(list_texts(list),
             QStringList({"USB0::0x1AB1::0x0C94::DM0001::INSTR", "TCPIP0::10.0.0.1::inst0::INSTR"}));
    QVERIFY(list->item(1)->flags() & Qt::ItemIsSelectable);

    QSignalSpy added(dialog, &ui_add_device_dialog_t::signal_add_device);
    find_model_action(*dialog, "VXA-2")->trigger();
    list->setCurrentRow(1);
    dialog->search_ok_button()->click();
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.first().at(1).toString(), QString("TCPIP0::10.0.0.1::inst0::INSTR"));
}

void test_address_dialogs_t::add_dialog_ok_while_waiting_gives_empty_resource() {
    auto* dialog = new ui_add_device_dialog_t;
    QSignalSpy added(dialog, &ui_add_device_dialog_t::signal_add_device);
    find_model_action(*dialog, "VXA-2")->trigger();
    dialog->resource_list()->setCurrentRow(0);  // the waiting line cannot become current
    dialog->search_ok_button()->click();
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.first().at(1).toString(), QString());
}

void test_address_dialogs_t::add_dialog_scan_res_finds_the_simulator() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    qputenv("VELKARO_VISA_HOSTS", QByteArray::fromStdString(sim.address()));
    auto* dialog = new ui_add_device_dialog_t;
    dialog->show();
    find_model_action(*dialog, "VXA-2")->trigger();
    dialog->scan_res_button()->click();
    QCOMPARE(dialog->current_page(), int(ui_add_device_dialog_t::page_search));
    QTRY_VERIFY_WITH_TIMEOUT(
        list_resources(dialog->resource_list()).contains(QString::fromStdString(sim.instr_resource())),
        10000);
    QVERIFY(ui_res_search_thread_t::instance()->wait(10000));
    dialog->close();
    qunsetenv("VELKARO_VISA_HOSTS");
}

void test_address_dialogs_t::change_dialog_toggle_and_ok() {
    QWidget parent;
    auto* dialog = new ui_device_change_addr_dialog_t(&parent);
    QCOMPARE(dialog->windowTitle(), QString("Change Connection"));
    QVERIFY(dialog->width() >= 400 && dialog->height() >= 220);
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QCOMPARE(dialog->address_edit()->placeholderText(), QString("Enter another TCP/IP address here."));
    QCOMPARE(dialog->current_page(), int(ui_device_change_addr_dialog_t::page_address));
    QCOMPARE(list_texts(dialog->resource_list()), QStringList({"Please wait for scanning..."}));

    // Results of a search: the list page keeps them between toggles.
    emit ui_res_search_thread_t::instance()->signal_send_resource({"TCPIP0::10.1.1.1::inst0::INSTR"});
    dialog->scan_button()->click();
    QCOMPARE(dialog->current_page(), int(ui_device_change_addr_dialog_t::page_list));
    QCOMPARE(dialog->scan_button()->text(), QString("New"));
    QVERIFY(ui_res_search_thread_t::instance()->wait(10000));
    dialog->scan_button()->click();
    QCOMPARE(dialog->current_page(), int(ui_device_change_addr_dialog_t::page_address));
    QCOMPARE(dialog->scan_button()->text(), QString("Scan"));

    dialog->address_edit()->setText("10.0.0.7");
    QSignalSpy changed(dialog, &ui_device_change_addr_dialog_t::signal_change_device_res);
    dialog->ok_button()->click();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first().toString(), QString("TCPIP0::10.0.0.7::inst0::INSTR"));
}

void test_address_dialogs_t::change_dialog_invalid_address() {
    QWidget parent;
    auto* dialog = new ui_device_change_addr_dialog_t(&parent);
    dialog->show();
    QSignalSpy changed(dialog, &ui_device_change_addr_dialog_t::signal_change_device_res);
    dialog->address_edit()->setText("1.2.3");
    modal_closer_t closer;
    dialog->ok_button()->click();
    QCOMPARE(closer.seen(), QStringList({"Tips|Invalid IP address!"}));
    QCOMPARE(changed.count(), 0);
    QVERIFY(dialog->isVisible());
    dialog->close();
}

QTEST_MAIN(test_address_dialogs_t)
#include "test_address_dialogs.moc"
