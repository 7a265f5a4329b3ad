// Publishing from the desktop program, against a real influxd on loopback: the Publish
// page of Preferences (a bad target refused, settings and secrets stored apart, the
// secret file 0600 where no keyring runs), a device item that publishes what it measures
// and shows the state, and the console lines when the database goes away and comes back.
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>
#include <cstdlib>

#include "cfg/cfg_main.h"
#include "pub/pub_line_protocol.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "support/tsdb_server.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_preferences.h"
#include "ui/ui_publish.h"
#include "ui_test_support.h"

using velkaro_test::tsdb_server_t;
using velkaro_ui_test::modal_closer_t;

namespace {

ui_preferences_dialog_t* open_publish_page(QWidget* parent) {
    auto* dialog = new ui_preferences_dialog_t(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->findChild<QTabWidget*>("preferences_pages")->setCurrentIndex(1);
    return dialog;
}

// One of the console lines so far holds `words`.
bool said(const QSignalSpy& console, const char* words) {
    for (const auto& line : console)
        if (line.at(0).toString().contains(words)) return true;
    return false;
}

void press_ok(ui_preferences_dialog_t* dialog) {
    dialog->findChild<QDialogButtonBox*>("preferences_buttons")->button(QDialogButtonBox::Ok)->click();
}

}  // namespace

class test_publish_page_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void a_bad_target_keeps_the_dialog_open();
    void settings_and_secrets_are_stored_apart();
    void a_device_item_publishes_and_shows_its_state();

private:
    velkaro_test::temp_dir_t m_config;
    velkaro_test::temp_dir_t m_state;
    std::unique_ptr<tsdb_server_t> m_db;
};

void test_publish_page_t::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(m_config.path()));
    ::setenv("XDG_STATE_HOME", m_state.path().c_str(), 1);  // the spools
    ::unsetenv("STATE_DIRECTORY");
    velkaro_test::use_test_portmapper_port();
    if (!tsdb_server_t::available(tsdb_server_t::influxdb)) QSKIP("influxd not installed");
    m_db = std::make_unique<tsdb_server_t>(tsdb_server_t::influxdb);
    QVERIFY(m_db->ok());
    QVERIFY(m_db->create_database("lab"));
}

void test_publish_page_t::cleanupTestCase() {
    ui_publish_settings_t{}.save();
    ui_publish_service_t::instance().reconfigure();  // off: its threads end before the server
}

void test_publish_page_t::a_bad_target_keeps_the_dialog_open() {
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_publish_page(nullptr));
    dialog->findChild<QPlainTextEdit*>("preferences_publish_targets")
        ->setPlainText(QString::fromStdString(m_db->base_url() + "/query?db=lab"));
    modal_closer_t closer;
    dialog->show();
    press_ok(dialog.get());
    QCOMPARE(closer.count(), 1);
    QVERIFY2(closer.seen().front().startsWith("Tips|") && closer.seen().front().contains("not a write URL"),
             qPrintable(closer.seen().front()));
    QVERIFY(dialog->isVisible());
    QVERIFY(ui_publish_settings_t::load().targets.isEmpty());
    QVERIFY(!ui_publish_service_t::instance().enabled());
}

void test_publish_page_t::settings_and_secrets_are_stored_apart() {
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_publish_page(nullptr));
    dialog->findChild<QPlainTextEdit*>("preferences_publish_targets")
        ->setPlainText(QString::fromStdString(m_db->write_url("lab")));
    dialog->findChild<QLineEdit*>("preferences_publish_station")->setText("bench 9, east");
    dialog->findChild<QLineEdit*>("preferences_publish_password")->setText("pw-4711");
    modal_closer_t closer;
    dialog->show();
    press_ok(dialog.get());
    QCOMPARE(closer.count(), 0);
    const ui_publish_settings_t stored = ui_publish_settings_t::load();
    QCOMPARE(stored.targets, QStringList{QString::fromStdString(m_db->write_url("lab"))});
    QCOMPARE(stored.station, QString("bench 9, east"));
    QVERIFY(ui_publish_service_t::instance().enabled());
    // The secret is nowhere in the settings file.
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro");
    QFile ini(settings.fileName());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(!ini.readAll().contains("pw-4711"));
    // It is in the keyring, or (no keyring here) in a file only the user reads.
    QCOMPARE(ui_publish_secrets_t::load().password, QString("pw-4711"));
    QFile fallback(ui_publish_secrets_t::fallback_path());
    if (fallback.exists())
        QCOMPARE(fallback.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup |
                                           QFileDevice::WriteOther),
                 QFileDevice::Permissions());
}

void test_publish_page_t::a_device_item_publishes_and_shows_its_state() {
    QVERIFY(ui_publish_service_t::instance().enabled());  // from the test before
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    QSignalSpy console(&ui_publish_service_t::instance(), &ui_publish_service_t::signal_console_line);
    ui_device_column_t column;
    column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    QVERIFY(item->is_connected());
    QTRY_COMPARE_WITH_TIMEOUT(item->publish_label()->text(), QString("Publishing: live"), 5000);

    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    cfg->set_run_state(1);
    QTRY_VERIFY_WITH_TIMEOUT(cfg->get_total_count() >= 5, 10000);
    // The database goes away mid-run: the item says so, the console too.
    m_db->stop();
    QTRY_VERIFY_WITH_TIMEOUT(item->publish_label()->text().startsWith("Publishing: failing"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(said(console, "went away"), 5000);
    QTest::qWait(600);
    QVERIFY(m_db->start());
    QTRY_VERIFY_WITH_TIMEOUT(item->publish_label()->text() == "Publishing: live", 20000);
    cfg->set_run_state(0);
    const uint32_t taken = cfg->get_total_count();
    QVERIFY(said(console, "is back"));
    QTRY_VERIFY_WITH_TIMEOUT(said(console, "caught up"), 10000);
    // Every reading of the run, once, with this station.
    item->release_instrument();  // hands the last batches over
    std::vector<velkaro_test::tsdb_point_t> points;
    QTRY_VERIFY_WITH_TIMEOUT((points = m_db->points(pub_measurement_reading, "lab")).size() >= taken, 20000);
    QCOMPARE(points.size(), size_t(taken));
    QCOMPARE(QString::fromStdString(points.front().tags.at("station")), QString("bench 9, east"));
}

QTEST_MAIN(test_publish_page_t)
#include "test_publish_page.moc"
