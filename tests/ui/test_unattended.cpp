// A lab that runs instruments over slow links and unattended: setting changes of a slow
// instrument go to it on its lane in the order they were made (the window does not
// wait), a change the instrument did not take is undone and told, connect failures say
// what happened, a disconnected page shows its reading as stale, quitting and recalling
// ask before they stop running instruments, and the last project reopens at start only
// when the user asks for it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedLayout>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <string>

#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_main_window.h"
#include "ui/ui_menu_bar.h"
#include "ui/ui_preferences.h"
#include "ui/ui_primary_window/ui_measure_frame.h"
#include "ui/ui_primary_window/ui_measure_record_config_dialog.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;
using velkaro_ui_test::wait_instruments_idle;

namespace {

QStringList commands_since(const velkaro_test::sim_process_t& sim, size_t mark) {
    const std::vector<std::string> lines = sim.log_lines();
    QStringList out;
    for (size_t i = mark; i < lines.size(); ++i) out << QString::fromStdString(lines[i]);
    return out;
}

int index_of(const QStringList& lines, const QString& start) {
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(start)) return i;
    return -1;
}

// A main window with one instrument added as a recalled project adds it (no box).
struct shell_t {
    std::unique_ptr<ui_main_window_t> window = std::make_unique<ui_main_window_t>("");
    ui_device_item_t* item = nullptr;

    explicit shell_t(const std::string& model, const std::string& resource) {
        window->show();
        window->device_column()->slot_add_device(model, resource, pugi::xml_node());
        wait_instruments_idle();
        item = window->device_column()->get_device_items().front();
    }
    ~shell_t() {
        if (cfg() != nullptr) cfg()->set_run_state(0);
        window->slot_close_without_asking();
        window.reset();
    }
    cfg_main_t* cfg() const { return item->get_mngr() ? item->get_mngr()->get_cfg() : nullptr; }
    ui_primary_window_t* page() const { return window->primary_window_of(item); }
    QComboBox* function() const { return page()->findChild<QComboBox*>("measure_function_selector"); }
    QComboBox* combo_of(int function, const char* name) const {
        QWidget* panel = page()->findChild<QWidget*>(QString("var_param_panel_%1").arg(function));
        return panel != nullptr ? panel->findChild<QComboBox*>(name) : nullptr;
    }
};

// Records every message box as "title|text|informative text" and presses `answer`.
class box_reader_t {
public:
    explicit box_reader_t(QMessageBox::StandardButton answer = QMessageBox::Ok) : m_answer(answer) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            seen << box->windowTitle() + "|" + box->text() + "|" + box->informativeText();
            QAbstractButton* button = box->button(m_answer);
            if (button == nullptr) button = box->defaultButton();
            if (button != nullptr) button->click();
        });
        m_timer.start();
    }
    QStringList seen;

private:
    QTimer m_timer;
    QMessageBox::StandardButton m_answer;
};

}  // namespace

class test_unattended_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void slow_instrument_changes_return_at_once_in_order();
    void adding_a_slow_instrument_keeps_the_loop_turning();
    void acquisition_mode_reaches_a_slow_instrument_in_order();
    void change_not_taken_puts_the_old_value_back();
    void connect_failures_say_what_happened_data();
    void connect_failures_say_what_happened();
    void disconnected_page_shows_its_reading_as_stale();
    void quit_and_recall_ask_only_while_running();
    void last_project_reopens_only_when_asked();
    void help_tells_what_a_start_opens();

private:
    velkaro_test::temp_dir_t m_config;
};

void test_unattended_t::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(m_config.path()));
    velkaro_test::use_test_portmapper_port();
    QVERIFY(ui_application_t::install_style_and_font());
}

void test_unattended_t::cleanup() {
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro").clear();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void test_unattended_t::slow_instrument_changes_return_at_once_in_order() {
    velkaro_test::sim_process_t sim("VXA-2", {"--reply-delay", "700"});
    QVERIFY(sim.ok());
    modal_closer_t closer;
    shell_t shell("VXA-2", sim.instr_resource());
    QVERIFY(shell.item->is_connected());
    const size_t mark = sim.log_lines().size();

    // Two changes one after the other, faster than the instrument answers.
    shell.function()->setCurrentIndex(measure_dci);
    // Back at once: the page shows the new function, the instrument has not answered.
    QCOMPARE(shell.item->settings_in_flight(), 1);
    QCOMPARE(shell.cfg()->get_function(), int(measure_dci));
    QVERIFY(!shell.function()->isEnabled());  // no other change while this one travels
    QComboBox* range = shell.combo_of(measure_dci, "var_param_range_combo");
    QVERIFY(range != nullptr);
    QVERIFY(range->count() > 2);
    range->setCurrentIndex(2);
    QCOMPARE(shell.item->settings_in_flight(), 2);
    const QString chosen = range->currentText();

    QVERIFY(wait_instruments_idle());
    QVERIFY(shell.function()->isEnabled());
    const QStringList sent = commands_since(sim, mark);
    const int function_at = index_of(sent, "FUNC \"CURR");
    const int range_at = index_of(sent, "CURR:RANGE " + chosen);
    QVERIFY2(function_at >= 0 && range_at > function_at, qPrintable(sent.join(" / ")));
    QCOMPARE(QString::fromStdString(shell.cfg()->get_range(measure_dci)), chosen);
    QCOMPARE(shell.cfg()->get_auto_range(measure_dci), 0);
    QCOMPARE(closer.count(), 0);
}

// Adding an instrument returns before it answers, and the instrument window's scan
// pages (tens of milliseconds each to build and to place) come in pieces, each in its own
// turn of the event loop: a timer that ticks every turn sees the pages half built.
void test_unattended_t::adding_a_slow_instrument_keeps_the_loop_turning() {
    velkaro_test::sim_process_t slow("VXA-2", {"--reply-delay", "300"});
    QVERIFY(slow.ok());
    modal_closer_t closer;
    ui_main_window_t window("");
    window.show();
    // 0 no scan page, 1 Scan Data built, 2 both built, 3 Scan Data placed, 4 both placed.
    auto stage = [&window]() -> int {
        const auto items = window.device_column()->get_device_items();
        ui_primary_window_t* page = items.empty() ? nullptr : window.primary_window_of(items.front());
        if (page == nullptr) return 0;
        auto* pages = page->findChild<QStackedLayout*>();
        QWidget* data = page->findChild<QWidget*>("scan_data_frame");
        QWidget* diagram = page->findChild<QWidget*>("scan_diag_frame");
        if (data == nullptr) return 0;
        if (diagram == nullptr) return 1;
        if (pages->indexOf(data) < 0) return 2;
        return pages->indexOf(diagram) < 0 ? 3 : 4;
    };
    QList<int> seen;
    QTimer ticker;  // every turn of the event loop
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.last() != stage()) seen << stage();
    });
    ticker.start(0);

    emit window.menu_bar()->signal_add_device("VXA-2", slow.instr_resource(), pugi::xml_node());
    // Back at once: the item and its window exist, the instrument has not answered yet.
    const auto items = window.device_column()->get_device_items();
    QCOMPARE(items.size(), size_t(1));
    QVERIFY(items.front()->is_busy());
    QVERIFY(window.primary_window_of(items.front()) != nullptr);
    QCOMPARE(stage(), 0);

    QVERIFY(wait_instruments_idle());
    QVERIFY(items.front()->is_connected());
    QVERIFY(window.primary_window_of(items.front())->has_scan_card());
    QCOMPARE(stage(), 4);
    ticker.stop();
    // The last piece may have run after the ticker's last turn.
    if (seen.isEmpty() || seen.last() != stage()) seen << stage();
    // In order, never backwards, and the loop turned while the pages were half built.
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QCOMPARE(seen.first(), 0);
    QCOMPARE(seen.last(), 4);
    QString stages;
    for (int s : seen) stages += QString::number(s);
    QVERIFY2(seen.size() >= 3, qPrintable("stages seen: " + stages));
    QCOMPARE(closer.count(), 0);
    window.slot_close_without_asking();
}

// The record dialog's acquisition mode goes to the instrument as trigger settings, after
// the fetch in flight: OK returns at once, and the instrument gets the mode after the
// change made before it.
void test_unattended_t::acquisition_mode_reaches_a_slow_instrument_in_order() {
    velkaro_test::sim_process_t sim("VXA-2", {"--reply-delay", "500"});
    QVERIFY(sim.ok());
    modal_closer_t closer;
    shell_t shell("VXA-2", sim.instr_resource());
    QVERIFY(shell.item->is_connected());
    QCOMPARE(shell.cfg()->get_acq_mode(), 0);
    // Measuring: every tick's fetch waits for the instrument's reply.
    shell.cfg()->set_run_state(1);
    QTRY_VERIFY_WITH_TIMEOUT(shell.cfg()->get_total_count() > 0, 10000);
    const size_t mark = sim.log_lines().size();

    shell.function()->setCurrentIndex(measure_dci);
    QCOMPARE(shell.item->settings_in_flight(), 1);
    QPointer<ui_measure_record_config_dialog_t> dialog =
        new ui_measure_record_config_dialog_t(nullptr, shell.item->get_mngr(), shell.item);
    dialog->findChild<QRadioButton*>("record_single_radio")->setChecked(true);
    dialog->findChild<QPushButton*>("record_ok_button")->click();
    // Back before the instrument answered: the mode waits on the lane behind the function.
    QCOMPARE(shell.item->settings_in_flight(), 2);
    QVERIFY(!shell.function()->isEnabled());
    delete dialog.data();

    QVERIFY(wait_instruments_idle());
    QCOMPARE(shell.cfg()->get_acq_mode(), 1);
    const QStringList sent = commands_since(sim, mark);
    const int function_at = index_of(sent, "FUNC \"CURR");
    const int mode_at = index_of(sent, "TRIG:COUNT 1");
    QVERIFY2(function_at >= 0 && mode_at > function_at, qPrintable(sent.join(" / ")));
    QVERIFY(shell.function()->isEnabled());
    QCOMPARE(closer.count(), 0);
}

void test_unattended_t::change_not_taken_puts_the_old_value_back() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    shell_t shell("VXA-2", sim.instr_resource());
    QVERIFY(shell.item->is_connected());
    QComboBox* range = shell.combo_of(measure_dcv, "var_param_range_combo");
    QVERIFY(range != nullptr);
    const int before = range->currentIndex();
    const std::string stored_range = shell.cfg()->get_range(measure_dcv);
    const int stored_auto = shell.cfg()->get_auto_range(measure_dcv);
    const int other = before == 2 ? 3 : 2;

    // The instrument is gone: the change cannot reach it.
    ::kill(sim.pid(), SIGKILL);
    QTest::qWait(200);
    box_reader_t boxes;
    range->setCurrentIndex(other);
    QCOMPARE(range->currentIndex(), other);  // shown at once
    QVERIFY(wait_instruments_idle());
    QTRY_VERIFY_WITH_TIMEOUT(!boxes.seen.isEmpty(), 10000);
    QVERIFY2(boxes.seen.first().startsWith(
                 "Warning|The instrument did not take the change, so the previous value is back.\nVI_ERROR"),
             qPrintable(boxes.seen.join(" / ")));
    QCOMPARE(range->currentIndex(), before);
    QCOMPARE(shell.cfg()->get_range(measure_dcv), stored_range);
    QCOMPARE(shell.cfg()->get_auto_range(measure_dcv), stored_auto);
}

namespace {

// Standard output of this process goes to a file while one exists: the console lines
// the GUI prints are read back from it.
class stdout_capture_t {
public:
    stdout_capture_t() {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        m_path = m_dir.path() + "/stdout.txt";
        const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::close(fd);
        }
    }
    ~stdout_capture_t() { _restore(); }
    QStringList lines() {
        std::fflush(stdout);
        QFile f(QString::fromStdString(m_path));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    void _restore() {
        if (m_saved < 0) return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    velkaro_test::temp_dir_t m_dir;
    std::string m_path;
    int m_saved = -1;
};

}  // namespace

void test_unattended_t::connect_failures_say_what_happened_data() {
    QTest::addColumn<QString>("sim_model");  // empty: nothing at the address
    QTest::addColumn<QStringList>("sim_args");
    QTest::addColumn<QString>("headline");
    QTest::addColumn<QString>("said");  // a part of the informative text
    QTest::newRow("nothing answers") << QString() << QStringList()
                                     << "Fail to connect the device, check the connection please."
                                     << "Nothing answered at TCPIP0::127.77.9.9::inst0::INSTR: VI_ERROR";
    QTest::newRow("garbled identification")
        << "VXA-2" << QStringList({"--garbage"})
        << "Fail to connect the device: it gave no readable identification."
        << "\"*IDN?\"";
    QTest::newRow("another model") << "VXB-1" << QStringList() << "The device doesn't match the model!"
                                   << "answers as VXB-1 (NL2611A0042), not as VXA-2.";
}

void test_unattended_t::connect_failures_say_what_happened() {
    QFETCH(QString, sim_model);
    QFETCH(QStringList, sim_args);
    QFETCH(QString, headline);
    QFETCH(QString, said);
    std::unique_ptr<velkaro_test::sim_process_t> sim;
    std::string resource = "TCPIP0::127.77.9.9::inst0::INSTR";
    if (!sim_model.isEmpty()) {
        std::vector<std::string> args;
        for (const QString& a : sim_args) args.push_back(a.toStdString());
        sim = std::make_unique<velkaro_test::sim_process_t>(sim_model.toStdString(), args);
        QVERIFY(sim->ok());
        resource = sim->instr_resource();
    }
    ui_main_window_t window("");
    box_reader_t boxes;
    stdout_capture_t console;
    // As the Add dialog hands it over: the answer of the background connect is told.
    emit window.menu_bar()->signal_add_device("VXA-2", resource, pugi::xml_node());
    QVERIFY(wait_instruments_idle());
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 5000);
    // The console gets one line with the address, the headline and what answered there.
    const QString res = QString::fromStdString(resource);
    QStringList said_lines;
    for (const QString& line : console.lines())
        if (line.startsWith(res + ": ")) said_lines << line;
    QCOMPARE(said_lines.size(), 1);
    QVERIFY2(said_lines.first().startsWith(res + ": " + headline + " "), qPrintable(said_lines.first()));
    QVERIFY2(said_lines.first().contains(said), qPrintable(said_lines.first()));
    const QStringList parts = boxes.seen.first().split('|');
    QCOMPARE(parts.value(0), QString("Warning"));
    QCOMPARE(parts.value(1), headline);
    QVERIFY2(parts.value(2).contains(said), qPrintable(parts.value(2)));
    QVERIFY2(parts.value(2).contains(QString::fromStdString(resource)), qPrintable(parts.value(2)));
    QVERIFY(!window.device_column()->get_device_items().front()->is_connected());

    // The plug button says the same.
    boxes.seen.clear();
    window.device_column()->get_device_items().front()->slot_connection_clicked();
    QVERIFY(wait_instruments_idle());
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 5000);
    QCOMPARE(boxes.seen.first().section('|', 1, 1), headline);
    window.slot_close_without_asking();
}

void test_unattended_t::disconnected_page_shows_its_reading_as_stale() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    shell_t shell("VXA-2", sim.instr_resource());
    auto* display = shell.page()->findChild<ui_measure_widget_t*>("measure_data_widget");
    QVERIFY(display != nullptr);
    QVERIFY(!display->is_stale());
    auto* digits = display->findChild<QLabel*>("measure_data");
    QList<QLabel*> params = display->findChildren<QLabel*>("measure_data_param");
    QCOMPARE(params.size(), 2);
    shell.cfg()->set_run_state(1);
    QTRY_VERIFY_WITH_TIMEOUT(digits->text().contains(QRegularExpression("^[0-9.]{8}$")), 10000);
    shell.cfg()->set_run_state(0);
    QTest::qWait(300);
    const QString reading = digits->text();
    const QString mode = params[1]->text();
    QVERIFY(!mode.isEmpty());

    shell.item->slot_connection_clicked();  // disconnect (nothing runs: no question)
    QVERIFY(wait_instruments_idle());
    QVERIFY(!shell.item->is_connected());
    QVERIFY(display->is_stale());
    QCOMPARE(display->property("stale").toBool(), true);
    QCOMPARE(digits->text(), reading);  // the last reading stays, greyed and said so
    QVERIFY(digits->styleSheet().contains("color"));
    QCOMPARE(params[1]->text(), QString("Not connected"));

    shell.item->slot_connection_clicked();  // connected again: live look back
    QVERIFY(wait_instruments_idle());
    QVERIFY(shell.item->is_connected());
    QVERIFY(!display->is_stale());
    QCOMPARE(digits->styleSheet(), QString());
    QCOMPARE(params[1]->text(), mode);
}

void test_unattended_t::quit_and_recall_ask_only_while_running() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    const QString project = QString::fromStdString(m_config.path()) + "/two.dmm";
    shell_t shell("VXA-2", sim.instr_resource());
    ui_main_window_t& window = *shell.window;
    window.slot_save_xml_file(project.toStdString());

    {  // Nothing runs: closing asks nothing.
        modal_closer_t closer(QMessageBox::No);
        QVERIFY(window.close());
        QCOMPARE(closer.count(), 0);
        window.show();
    }

    shell.cfg()->set_run_state(1);
    QTRY_COMPARE_WITH_TIMEOUT(shell.cfg()->get_run_state(), 1, 5000);
    QCOMPARE(
        window.running_instruments(),
        QStringList({QString("VXA-2 at %1: measuring").arg(QString::fromStdString(sim.instr_resource()))}));

    {  // Running: the question, and No (the default) keeps everything.
        box_reader_t boxes(QMessageBox::No);
        QVERIFY(!window.close());
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(
            boxes.seen.first().startsWith("Tips|Quitting stops what these instruments are doing:|VXA-2 at "),
            qPrintable(boxes.seen.first()));
        QVERIFY(window.isVisible());
        QCOMPARE(shell.cfg()->get_run_state(), 1);

        boxes.seen.clear();
        window.slot_recall_xml_file(project.toStdString());
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen.first().startsWith(
            "Tips|Recalling a project stops what these instruments are doing:"));
        QCOMPARE(window.device_column()->get_device_items(), std::vector<ui_device_item_t*>({shell.item}));
        QCOMPARE(shell.cfg()->get_run_state(), 1);
    }
    {  // Yes: the recall replaces the instruments, the running one included.
        box_reader_t boxes(QMessageBox::Yes);
        window.slot_recall_xml_file(project.toStdString());
        QCOMPARE(boxes.seen.size(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto items = window.device_column()->get_device_items();
        QCOMPARE(items.size(), size_t(1));
        QVERIFY(items.front() != shell.item);
        shell.item = items.front();
        QVERIFY(wait_instruments_idle());
        QVERIFY(window.running_instruments().isEmpty());
    }
}

void test_unattended_t::last_project_reopens_only_when_asked() {
    const std::string resource = "TCPIP0::127.77.9.10::inst0::INSTR";
    {  // The program ends with one instrument: it goes to the default project.
        ui_main_window_t window("");
        window.device_column()->slot_add_device("VXB-1", resource, pugi::xml_node());
        QVERIFY(wait_instruments_idle());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!ui_preferences_t::load().reopen_last_project);  // off by default
    {
        ui_main_window_t window("");
        window.open_start_project(std::string());
        QVERIFY(window.device_column()->get_device_items().empty());
        // This run ends with the instrument again (every end writes the default project).
        window.device_column()->slot_add_device("VXB-1", resource, pugi::xml_node());
        QVERIFY(wait_instruments_idle());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The Preferences box offers it, unchecked.
    {
        ui_preferences_dialog_t dialog;
        auto* box = dialog.findChild<QCheckBox*>("preferences_reopen_last_project");
        QVERIFY(box != nullptr);
        QCOMPARE(box->text(), QString("Reopen the last project at start"));
        QVERIFY(!box->isChecked());
        box->setChecked(true);
        QVERIFY(dialog.values().reopen_last_project);
        dialog.values().save();
    }
    {
        ui_main_window_t window("");
        window.open_start_project(std::string());
        QVERIFY(wait_instruments_idle());
        const auto items = window.device_column()->get_device_items();
        QCOMPARE(items.size(), size_t(1));
        QCOMPARE(items.front()->get_model_name(), std::string("VXB-1"));
        QCOMPARE(items.front()->get_resource(), resource);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void test_unattended_t::help_tells_what_a_start_opens() {
    QProcess velkaro;
    velkaro.start(QCoreApplication::applicationDirPath() + "/velkaro", {"--help"});
    QVERIFY(velkaro.waitForFinished(30000));
    const QString text = QString::fromUtf8(velkaro.readAllStandardOutput());
    QVERIFY2(text.contains("Without FILE.dmm the program starts with no instrument."), qPrintable(text));
    QVERIFY(text.contains("Reopen the last project at"));
    QVERIFY(!text.contains("opens its default project"));
}

QTEST_MAIN(test_unattended_t)
#include "test_unattended.moc"
