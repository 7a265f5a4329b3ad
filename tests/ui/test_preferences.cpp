// The Preferences dialog and the search it steers: values stored in the user's
// settings (a temporary directory here), a bad range refused, the environment winning,
// and a loopback range with two simulators and a silent host found exactly, with the
// meters' models beside their resources.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>
#include <csignal>
#include <cstdlib>

#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/ui_add_device_dialog.h"
#include "ui/ui_application.h"
#include "ui/ui_menu_bar.h"
#include "ui/ui_preferences.h"
#include "ui/ui_res_search_thread.h"
#include "ui_test_support.h"
#include "visa/visa_discovery.h"
#include "visa/visa_portmap.h"

using velkaro_ui_test::modal_closer_t;

namespace {

ui_preferences_dialog_t* open_dialog(QWidget* parent) {
    auto* dialog = new ui_preferences_dialog_t(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);  // the test reads it after OK
    return dialog;
}

void press_ok(ui_preferences_dialog_t* dialog) {
    dialog->findChild<QDialogButtonBox*>("preferences_buttons")->button(QDialogButtonBox::Ok)->click();
}

// Runs one search on the process-wide search thread and returns what it delivered.
bool run_search(std::vector<std::string>& resources, std::vector<std::string>& labels) {
    ui_res_search_thread_t* thread = ui_res_search_thread_t::instance();
    QSignalSpy spy(thread, &ui_res_search_thread_t::signal_send_resource_labels);
    thread->start_if_idle();
    if (!spy.wait(30000)) return false;
    resources = spy.first().at(0).value<std::vector<std::string>>();
    labels = spy.first().at(1).value<std::vector<std::string>>();
    return true;
}

}  // namespace

class test_preferences_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void defaults_probe_nothing();
    void bad_range_is_refused();
    void values_are_stored_and_applied();
    void environment_is_named_in_the_dialog();
    void loopback_range_finds_exactly_the_two_meters();
    void screenshot();
    void examples_are_drawn_as_placeholders_not_entries();

private:
    velkaro_test::temp_dir_t m_config;
};

void test_preferences_t::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(m_config.path()));
    velkaro_test::use_test_portmapper_port();
    ::unsetenv("VELKARO_VISA_HOSTS");
}

void test_preferences_t::cleanup() {
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro").clear();
    visa::set_discovery_settings(visa::discovery_settings_t());
}

void test_preferences_t::defaults_probe_nothing() {
    QWidget parent;
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
    QCOMPARE(dialog->windowTitle(), QString("Preferences"));
    QCOMPARE(dialog->findChild<QPlainTextEdit*>("preferences_hosts")->toPlainText(), QString());
    QCOMPARE(dialog->findChild<QPlainTextEdit*>("preferences_ranges")->toPlainText(), QString());
    QVERIFY(!dialog->findChild<QCheckBox*>("preferences_broadcast")->isChecked());
    QCOMPARE(dialog->findChild<QSpinBox*>("preferences_portmapper_port")->value(), 111);
    ui_preferences_t::load().apply();
    QVERIFY(visa::discovery_probe_hosts().empty());

    // The entry sits in the Instrument menu.
    ui_menu_bar_t bar(nullptr);
    QCOMPARE(bar.preferences_action()->text(), QString("Preferences"));
    modal_closer_t closer(QMessageBox::Ok, true);
    bar.preferences_action()->trigger();
    QCOMPARE(closer.seen(), QStringList({"dialog|Preferences"}));
}

void test_preferences_t::bad_range_is_refused() {
    QWidget parent;
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
    dialog->findChild<QPlainTextEdit*>("preferences_ranges")->setPlainText("127.0.0.0/27\n10.0.0.0/16");
    dialog->show();
    modal_closer_t closer;
    press_ok(dialog.get());
    QCOMPARE(closer.count(), 1);
    QVERIFY2(
        closer.seen().first().startsWith("Tips|Invalid address range \"10.0.0.0/16\": a range covers at most "
                                         "1024 addresses"),
        qPrintable(closer.seen().first()));
    QVERIFY(dialog->isVisible());
    QVERIFY(ui_preferences_t::load().ranges.isEmpty());
    QVERIFY(visa::discovery_probe_hosts().empty());
}

void test_preferences_t::values_are_stored_and_applied() {
    QWidget parent;
    {
        std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
        dialog->findChild<QPlainTextEdit*>("preferences_hosts")->setPlainText("127.0.0.33, meter.lab\n");
        dialog->findChild<QPlainTextEdit*>("preferences_ranges")->setPlainText(" 127.0.0.0/30 \n");
        dialog->findChild<QCheckBox*>("preferences_broadcast")->setChecked(true);
        dialog->findChild<QSpinBox*>("preferences_portmapper_port")->setValue(2222);
        dialog->show();
        press_ok(dialog.get());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }
    const ui_preferences_t stored = ui_preferences_t::load();
    QCOMPARE(stored.hosts, QStringList({"127.0.0.33", "meter.lab"}));
    QCOMPARE(stored.ranges, QStringList({"127.0.0.0/30"}));
    QVERIFY(stored.broadcast);
    QCOMPARE(stored.portmapper_port, 2222);
    // In the user's configuration directory (here the temporary one).
    QVERIFY(QFile::exists(QString::fromStdString(m_config.path()) + "/Velkaro/velkaro.ini"));

    const visa::discovery_settings_t applied = visa::discovery_settings();
    QCOMPARE(applied.portmapper_port, uint16_t(2222));
    QVERIFY(applied.broadcast);
    QCOMPARE(visa::discovery_probe_hosts(),
             std::vector<std::string>({"127.0.0.33", "meter.lab", "127.0.0.1", "127.0.0.2"}));
    // The test's own portmapper port is set in the environment, which wins.
    QCOMPARE(visa::portmap_port_from_env(), uint16_t(velkaro_test::test_portmapper_port));

    // Opened again, the dialog shows what was stored.
    std::unique_ptr<ui_preferences_dialog_t> again(open_dialog(&parent));
    QCOMPARE(again->findChild<QPlainTextEdit*>("preferences_hosts")->toPlainText(),
             QString("127.0.0.33\nmeter.lab"));
    QCOMPARE(again->findChild<QSpinBox*>("preferences_portmapper_port")->value(), 2222);
    QVERIFY(again->findChild<QCheckBox*>("preferences_broadcast")->isChecked());
}

void test_preferences_t::environment_is_named_in_the_dialog() {
    QWidget parent;
    {
        std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
        auto* note = dialog->findChild<QLabel*>("preferences_env_note");
        QVERIFY(note->text().contains("VELKARO_VXI11_PORTMAPPER_PORT"));
        QVERIFY(!note->text().contains("VELKARO_VISA_HOSTS"));
    }
    qputenv("VELKARO_VISA_HOSTS", "127.0.0.44");
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
    QVERIFY(dialog->findChild<QLabel*>("preferences_env_note")->text().contains("VELKARO_VISA_HOSTS"));
    dialog->findChild<QPlainTextEdit*>("preferences_ranges")->setPlainText("127.0.0.0/27");
    press_ok(dialog.get());
    QCOMPARE(visa::discovery_probe_hosts(), std::vector<std::string>({"127.0.0.44"}));
    qunsetenv("VELKARO_VISA_HOSTS");
    QCOMPARE(visa::discovery_probe_hosts().size(), size_t(30));
}

void test_preferences_t::loopback_range_finds_exactly_the_two_meters() {
    velkaro_test::sim_process_t vxa("VXA-2", {"--address", "127.0.0.5"});
    velkaro_test::sim_process_t vxb("VXB-1", {"--address", "127.0.0.9"});
    // A host that takes the connection and never answers: costs one probe time-out.
    velkaro_test::sim_process_t silent("VXA-3", {"--address", "127.0.0.17"});
    QVERIFY(vxa.ok() && vxb.ok() && silent.ok());
    QCOMPARE(vxa.address(), std::string("127.0.0.5"));
    QCOMPARE(vxb.address(), std::string("127.0.0.9"));
    QCOMPARE(silent.address(), std::string("127.0.0.17"));
    ::kill(silent.pid(), SIGSTOP);

    QWidget parent;
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
    dialog->findChild<QPlainTextEdit*>("preferences_ranges")->setPlainText("127.0.0.0/27");
    press_ok(dialog.get());

    std::vector<std::string> resources;
    std::vector<std::string> labels;
    const bool searched = run_search(resources, labels);
    ::kill(silent.pid(), SIGCONT);
    QVERIFY(searched);
    QCOMPARE(resources, std::vector<std::string>({vxa.instr_resource(), vxb.instr_resource()}));
    QCOMPARE(labels, std::vector<std::string>({"VXA-2  NL2611A0042", "VXB-1  NL2611A0042"}));

    // The list names each meter; OK still takes the bare resource string.
    QListWidget list;
    ui_fill_resource_list(&list, resources);
    ui_label_resource_list(&list, resources, labels);
    QCOMPARE(list.count(), 2);
    QVERIFY(list.item(0)->text().contains("VXA-2  NL2611A0042"));
    QVERIFY(list.item(1)->text().contains("VXB-1"));
    QCOMPARE(ui_resource_of(list.item(1)), QString::fromStdString(vxb.instr_resource()));
}

// With VELKARO_SCREENSHOT_DIR set: the dialog with a host and a range typed in.
void test_preferences_t::screenshot() {
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("VELKARO_SCREENSHOT_DIR not set");
    QVERIFY(ui_application_t::install_style_and_font());  // as the program looks
    QWidget parent;
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
    dialog->findChild<QPlainTextEdit*>("preferences_hosts")->setPlainText("127.0.0.2\n127.0.0.3");
    dialog->findChild<QPlainTextEdit*>("preferences_ranges")->setPlainText("127.0.0.0/27");
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QTest::qWait(300);
    const QString suffix = qEnvironmentVariable("VELKARO_SCREENSHOT_SUFFIX");
    QVERIFY(dialog->grab().save(dir + "/preferences" + suffix + ".png"));
    if (QGuiApplication::platformName() == "xcb")
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/preferences_screen" + suffix +
                                                                     ".png"));
}

// The example hosts are grey placeholder text; an entry of the same text is drawn bright.
void test_preferences_t::examples_are_drawn_as_placeholders_not_entries() {
    QVERIFY(ui_application_t::install_style_and_font());
    QWidget parent;
    std::unique_ptr<ui_preferences_dialog_t> dialog(open_dialog(&parent));
    auto* hosts = dialog->findChild<QPlainTextEdit*>("preferences_hosts");
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    auto count = [hosts](auto test) {
        hosts->viewport()->repaint();
        const QImage image = hosts->viewport()->grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += test(image.pixelColor(x, y));
        return n;
    };
    auto bright = [](const QColor& c) { return c.red() > 0xE0 && c.green() > 0xE0 && c.blue() > 0xE0; };
    auto grey = [](const QColor& c) {
        return qAbs(c.red() - 0x9A) < 12 && qAbs(c.green() - 0x9A) < 12 && qAbs(c.blue() - 0x9A) < 12;
    };
    QVERIFY(hosts->toPlainText().isEmpty());
    QCOMPARE(count(bright), 0);
    QVERIFY(count(grey) > 20);
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(dialog->grab().save(dir + "/preferences-placeholders" +
                                    qEnvironmentVariable("VELKARO_SCREENSHOT_SUFFIX") + ".png"));
    hosts->setPlainText("192.168.1.20");
    QVERIFY(count(bright) > 20);
}

QTEST_MAIN(test_preferences_t)
#include "test_preferences.moc"
