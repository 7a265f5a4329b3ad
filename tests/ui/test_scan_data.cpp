// Scan Data page and scan parameter settings: the refusals of a start with the exact
// commands sent, the channel limits, a scan to completion by sweep count with
// per-channel files, the elapsed time and cycle texts, the channel table rules, the
// settings dialog's load and OK rules, and a busy page that keeps the window running
// while a slow instrument is programmed.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolButton>
#include <QTableWidget>
#include <QtTest>
#include <memory>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui/ui_primary_window/ui_scan_channel_config_widget.h"
#include "ui/ui_primary_window/ui_scan_channel_result_widget.h"
#include "ui/ui_primary_window/ui_scan_data_frame.h"
#include "ui/ui_primary_window/ui_scan_data_param_widget.h"
#include "ui/ui_primary_window/ui_scan_param_setting_dialog.h"
#include "ui/ui_switch_button.h"
#include "ui/ui_time_edit_widget.h"
#include "ui_test_support.h"

namespace {

constexpr int io_timeout_ms = 30000;

template <typename T>
T* child(QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(name);
    if (found == nullptr) qFatal("no child named %s", name);
    return found;
}

// A simulated instrument connected through a device column, with its Scan Data page.
struct scan_fixture_t {
    explicit scan_fixture_t(std::vector<std::string> sim_args = {}) : sim("VXA-2", std::move(sim_args)) {
        if (!sim.ok()) return;
        column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
        if (!velkaro_ui_test::wait_instruments_idle()) return;  // the connect runs in the background
        item = column.get_device_items().front();
        if (!item->is_connected()) return;
        cfg = item->get_mngr()->get_cfg();
        config = cfg->get_scan_config();
        config->set_scan_delay(0.0);  // readings come at once
        // The instrument window delivers the scan engine's notifications to its page.
        window = std::make_unique<ui_primary_window_t>(nullptr, item);
        if (!velkaro_ui_test::wait_instruments_idle()) return;  // the scanner-card check
        page = window->findChild<ui_scan_data_frame_t*>();
        QWidget* shown = window.get();
        if (page != nullptr) {
            // As the user opens the page: the tab strip's "Scan Data" button.
            for (QToolButton* tab : window->findChildren<QToolButton*>()) {
                if (tab->text() == "Scan Data") tab->click();
            }
        } else {
            // No card: no scan pages in the window; the page alone shows the refusal.
            own_page = std::make_unique<ui_scan_data_frame_t>(nullptr, item);
            page = own_page.get();
            shown = page;
        }
        shown->resize(1400, 760);
        shown->show();
        QApplication::setActiveWindow(shown);
        active = QTest::qWaitForWindowActive(shown);
    }
    bool ok() const { return page != nullptr && active; }

    ui_scan_channel_config_widget_t* table() const { return page->config_widget(); }
    ui_switch_button_t* start_switch() const { return page->param_widget()->start_switch(); }
    QString status() const { return child<QLabel>(page, "scan_status_label")->text(); }

    // Commands received since the last mark.
    void mark() { m_mark = sim.log_lines().size(); }
    QStringList commands_since_mark() const {
        QStringList out;
        const std::vector<std::string> lines = sim.log_lines();
        for (std::size_t i = m_mark; i < lines.size(); ++i) out << QString::fromStdString(lines[i]);
        return out;
    }

    // Presses the switch as the user does and waits until the page is idle again.
    bool press_switch() {
        QSignalSpy finished(page, &ui_scan_data_frame_t::signal_io_finished);
        QTest::mouseClick(start_switch(), Qt::LeftButton);
        return !page->is_busy() || finished.wait(io_timeout_ms);
    }
    void check_channels(std::initializer_list<int> channels) {
        for (int ch : channels) table()->scan_box(ch - 1)->setChecked(true);
    }

    velkaro_test::sim_process_t sim;
    ui_device_column_t column;
    ui_device_item_t* item = nullptr;
    cfg_main_t* cfg = nullptr;
    cfg_scan_config_t* config = nullptr;
    std::unique_ptr<ui_primary_window_t> window;
    std::unique_ptr<ui_scan_data_frame_t> own_page;
    ui_scan_data_frame_t* page = nullptr;
    std::size_t m_mark = 0;
    bool active = false;
};

// A new Scan Data page on an instrument that is already connected (building one sends
// nothing to the instrument), shown and active, for the tests of the tables.
struct fresh_page_t {
    explicit fresh_page_t(ui_device_item_t* item)
        : page(std::make_unique<ui_scan_data_frame_t>(nullptr, item)) {
        page->resize(1400, 760);
        page->show();
        QApplication::setActiveWindow(page.get());
        active = QTest::qWaitForWindowActive(page.get());
    }
    std::unique_ptr<ui_scan_data_frame_t> page;
    bool active = false;
};

QStringList only_scan_commands(const QStringList& commands) {
    QStringList out;
    for (const QString& c : commands) {
        if (c.contains("ROUT")) out << c;
    }
    return out;
}

// Double-clicks a cell as the user does, types the text and presses Enter. False when
// no editor opened (the cell is not editable).
bool edit_cell(QTableWidget* table, int row, int column, const QString& text) {
    QTableWidgetItem* cell = table->item(row, column);
    if (cell == nullptr) return false;
    table->scrollToItem(cell);
    const QPoint at = table->visualItemRect(cell).center();
    // A real double click: press and release, then the double-click press and its release.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (editor == nullptr) editor = table->viewport()->findChild<QLineEdit*>();
    if (editor == nullptr) return false;
    editor->selectAll();
    editor->del();
    if (!text.isEmpty()) QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    return true;
}

// While alive, answers directory dialogs with `directory`.
class directory_answer_t : public QObject {
public:
    explicit directory_answer_t(QString directory) : m_directory(std::move(directory)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            if (dialog != m_last) {
                // Opened in the directory itself with nothing selected, a directory dialog
                // answers that directory. (Selecting it by name would open its parent,
                // list that in the background and race with the answer.)
                m_last = dialog;
                ++m_answered;
                m_tries = 0;
                dialog->setDirectory(m_directory);
            }
            // Accept only once the dialog holds the directory; give up rather than hang.
            if (++m_tries > max_tries) {
                dialog->reject();
                return;
            }
            const QString chosen = dialog->selectedFiles().value(0);
            if (!chosen.isEmpty() &&
                QFileInfo(chosen).canonicalFilePath() == QFileInfo(m_directory).canonicalFilePath())
                static_cast<QDialog*>(dialog)->accept();
        });
        m_timer.start();
    }
    int answered() const { return m_answered; }

private:
    static constexpr int max_tries = 3000;  // 30 s of polls: a loaded machine lists directories slowly
    QTimer m_timer;
    QString m_directory;
    QPointer<QFileDialog> m_last;
    int m_answered = 0;
    int m_tries = 0;
};

}  // namespace

class test_scan_data_t : public QObject {
    Q_OBJECT

    // One connected instrument for the tests that only need a scan configuration to
    // read and write (each of them resets what it checks).
    std::unique_ptr<scan_fixture_t> m_shared;
    scan_fixture_t& shared() {
        if (!m_shared) m_shared = std::make_unique<scan_fixture_t>();
        return *m_shared;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void layout_and_columns();
    void start_refusals_data();
    void start_refusals();
    void scanned_channels_give_the_limits();
    void scan_to_sweep_count_with_per_channel_files();
    void elapsed_and_cycles_data();
    void elapsed_and_cycles();
    void result_texts_data();
    void result_texts();
    void table_rules_data();
    void table_rules();
    void context_menu_selects_all();
    void log_write_failure_is_told_once_per_run();
    void settings_dialog_loads();
    void settings_dialog_ok_rules_data();
    void settings_dialog_ok_rules();
    void slow_instrument_shows_busy_page();
    void lost_link_while_scanning_stops_on_the_lane();
    void page_deleted_or_released_while_starting_data();
    void page_deleted_or_released_while_starting();
    void live_scan_screenshots();
    void units_in_value_and_limit_tooltips();
};

void test_scan_data_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    QVERIFY(ui_application_t::install_style_and_font());
}

void test_scan_data_t::cleanupTestCase() { m_shared.reset(); }

void test_scan_data_t::layout_and_columns() {
    scan_fixture_t f;
    QVERIFY(f.ok());
    QCOMPARE(f.page->objectName(), QString("scan_data_frame"));
    QCOMPARE(f.table()->objectName(), QString("scan_config_widget"));
    QCOMPARE(f.page->result_widget()->objectName(), QString("scan_config_widget"));
    QCOMPARE(ui_scan_config_columns(),
             QStringList({"Channel", "Name", "Scan", "Function", "Range", "Speed", "Scan Counts", "Scaling",
                          "Gain(K)", "Offset(B)", "Alarm Limit", "Low", "High"}));
    QCOMPARE(ui_scan_result_columns(),
             QStringList({"Channel", "Name", "Data", "Min", "Max", "Average", "Total nums", "Alarm"}));
    QCOMPARE(f.table()->rowCount(), 16);
    QCOMPARE(f.page->result_widget()->rowCount(), 16);
    QCOMPARE(f.status(), QString("STOP"));
    QCOMPARE(child<QLabel>(f.page, "scan_elapsed_label")->text(), QString("00:00:00"));
    QCOMPARE(child<QLabel>(f.page, "scan_cycles_label")->text(), QString("0"));
    // Config/Result button switches the tables.
    auto* button = f.page->param_widget()->table_button();
    QCOMPARE(button->text(), QString("Config"));
    button->click();
    QCOMPARE(button->text(), QString("Result"));
    QVERIFY(f.page->result_widget()->isVisible());
    QVERIFY(!f.table()->isVisible());
    button->click();
    QCOMPARE(button->text(), QString("Config"));
    QVERIFY(f.table()->isVisible());
    // Initial row contents.
    const int gain = ui_scan_channel_config_widget_t::column_of("Gain(K)");
    // The stored channel settings fill the rows.
    QCOMPARE(f.table()->item(0, gain)->text().toDouble(), f.config->get_channel_params().at(1).gain);
    QCOMPARE(f.table()->item(0, gain)->flags(), Qt::ItemFlags());
    QCOMPARE(f.table()->combo(0, "Speed")->currentText(), QString("Slow"));
    QCOMPARE(f.table()->combo(0, "Alarm Limit")->currentText(), QString("None"));
    QVERIFY(f.table()->combo(0, "Function")->count() > 0);
}

void test_scan_data_t::start_refusals_data() {
    QTest::addColumn<QString>("case_name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("measuring") << "measuring"
                               << "Warning|Measurement is running, disable on scanning!"
                               << QStringList({"ROUT:SCAN 0"});
    QTest::newRow("no card") << "no card"
                             << "Warning|Failed to query that the device has a scan card installed!"
                             << QStringList({"ROUT:STAT?", "ROUT:SCAN 0"});
    QTest::newRow("no channel") << "no channel"
                                << "Tips|Please activate at least one channel."
                                << QStringList({"ROUT:STAT?", "ROUT:SCAN 0"});
}

void test_scan_data_t::start_refusals() {
    QFETCH(QString, case_name);
    QFETCH(QString, message);
    QFETCH(QStringList, commands);
    std::vector<std::string> args;
    if (case_name == "no card") args.push_back("--no-scan-card");
    scan_fixture_t f(args);
    QVERIFY(f.ok());
    if (case_name != "no channel") f.check_channels({1, 2});
    if (case_name == "measuring") {
        f.cfg->set_run_state(1);
        QCOMPARE(f.cfg->get_run_state(), 1);
    }
    velkaro_ui_test::modal_closer_t closer;
    f.mark();
    QVERIFY(f.press_switch());
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 5000);
    QCOMPARE(closer.seen(), QStringList({message}));
    // While measuring, the acquisition fetches its readings: only the scanner's commands count.
    const QStringList sent =
        case_name == "measuring" ? only_scan_commands(f.commands_since_mark()) : f.commands_since_mark();
    QCOMPARE(sent, commands);
    QVERIFY(!f.start_switch()->isChecked());
    QVERIFY(f.start_switch()->isEnabled());
    QCOMPARE(f.cfg->get_scan_run_state(), 0);
    QCOMPARE(f.status(), QString("STOP"));
    if (case_name == "measuring") f.cfg->set_run_state(0);
}

void test_scan_data_t::scanned_channels_give_the_limits() {
    scan_fixture_t f;
    QVERIFY(f.ok());
    f.check_channels({3, 7});
    QCOMPARE(f.cfg->set_function(measure_res_2w), 0);  // the Measure page's choice
    velkaro_ui_test::modal_closer_t closer;
    f.mark();
    QVERIFY(f.press_switch());
    QCOMPARE(closer.count(), 0);
    QCOMPARE(f.config->get_limit_low_channel(), 3);
    QCOMPARE(f.config->get_limit_high_channel(), 7);
    const QStringList sent = f.commands_since_mark();
    QVERIFY2(sent.join("\n").contains(":ROUT:LIMIT:LOW 3"), qPrintable(sent.join(" | ")));
    QVERIFY2(sent.join("\n").contains(":ROUT:LIMIT:HIGH 7"), qPrintable(sent.join(" | ")));
    QCOMPARE(sent.first(), QString("ROUT:STAT?"));
    QCOMPARE(sent.at(1), QString("ROUT:SCAN 1"));
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("SCANING"), 10000);
    QVERIFY(f.start_switch()->isChecked());
    // The user stops: the page cleans up when the engine reports the stop.
    f.mark();
    QVERIFY(f.press_switch());
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("STOP"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!f.page->is_busy(), io_timeout_ms);
    const QStringList after = f.commands_since_mark();
    QVERIFY2(after.contains("ROUT:STAR 0"), qPrintable(after.join(" | ")));
    QVERIFY2(after.contains("ROUT:SCAN 0"), qPrintable(after.join(" | ")));
    QVERIFY(after.indexOf("ROUT:SCAN 0") > after.indexOf("ROUT:STAR 0"));
    // The Measure page's function is set again after the scanner is off.
    QCOMPARE(after.last(), QString::fromStdString("FUNC \"" + measure_scpi(measure_res_2w) + "\""));
    QVERIFY(!f.start_switch()->isChecked());
}

void test_scan_data_t::scan_to_sweep_count_with_per_channel_files() {
    scan_fixture_t f;
    QVERIFY(f.ok());
    velkaro_test::temp_dir_t dir;
    velkaro_test::temp_dir_t export_dir;
    QVERIFY(!dir.path().empty() && !export_dir.path().empty());
    f.config->set_record_enable(1);
    f.config->set_file_mode(1);
    f.config->set_record_directory(dir.path());
    f.config->set_stop_mode(3);
    f.config->set_stop_scan_count(3);
    f.config->set_auto_count(0);
    f.check_channels({1, 2});
    auto* results = f.page->result_widget();
    const int data = ui_scan_channel_result_widget_t::column_of("Data");
    const int total = ui_scan_channel_result_widget_t::column_of("Total nums");
    QTableWidgetItem* data_cell = results->item(0, data);
    QTableWidgetItem* total_cell = results->item(1, total);

    velkaro_ui_test::modal_closer_t closer;
    QSignalSpy notes(f.window.get(), &ui_primary_window_t::signal_recv_scan_notify);
    QVERIFY(f.press_switch());
    // The run ends by itself: started, then stopped by the sweep count.
    auto seen = [&notes](plib_scan_notify_t type) {
        for (const QList<QVariant>& args : notes) {
            if (args.at(0).value<plib_scan_notify_t>() == type) return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(scan_notify_start), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(seen(scan_notify_stop), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!f.page->is_busy(), io_timeout_ms);
    QCOMPARE(f.status(), QString("STOP"));
    QCOMPARE(closer.count(), 0);
    QVERIFY(!f.start_switch()->isChecked());
    QCOMPARE(f.cfg->get_scan_run_state(), 0);
    // The result cells are the ones created with the table, rewritten in place.
    QCOMPARE(results->item(0, data), data_cell);
    QCOMPARE(results->item(1, total), total_cell);
    QVERIFY(!data_cell->text().isEmpty());
    QVERIFY(total_cell->text().toInt() >= 3);
    QVERIFY(results->item(2, total)->text().isEmpty());  // channel 3 took no part
    QVERIFY(f.page->param_widget()->table_button()->isChecked());
    QVERIFY(results->isVisible());
    const int cycles = child<QLabel>(f.page, "scan_cycles_label")->text().toInt();
    QVERIFY2(cycles >= 3, qPrintable(QString::number(cycles)));
    // One log file per scanned channel.
    std::vector<std::string> files = dir.files();
    QCOMPARE(int(files.size()), 2);
    for (const std::string& name : files) {
        QVERIFY2(QString::fromStdString(name).contains(QString("Channel_%1").arg(&name == &files[0] ? 1 : 2)),
                 name.c_str());
        QVERIFY(QFileInfo(QString::fromStdString(dir.path() + "/" + name)).size() > 0);
    }

    // The export of the settings dialog writes at once, whatever happens to the dialog.
    QPointer<ui_scan_param_setting_dialog_t> dialog = new ui_scan_param_setting_dialog_t(nullptr, f.cfg);
    {
        directory_answer_t answer(QString::fromStdString(export_dir.path()));
        child<QPushButton>(dialog.data(), "scan_export_button")->click();
        QCOMPARE(answer.answered(), 1);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!export_dir.files().empty(), 5000);
    child<QPushButton>(dialog.data(), "scan_setting_cancel_button")->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 2000);
}

void test_scan_data_t::elapsed_and_cycles_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("elapsed");
    QTest::addColumn<uint>("readings");
    QTest::addColumn<int>("sweep");
    QTest::addColumn<QString>("cycles");
    QTest::newRow("65.25 s, 5 of 2") << 65.25 << "00:01:05.25" << 5u << 2 << "3";
    QTest::newRow("start") << 0.0 << "00:00:00.00" << 0u << 2 << "0";
    QTest::newRow("hours, whole sweeps") << 3725.5 << "01:02:05.50" << 4u << 2 << "2";
    QTest::newRow("rounding up to a minute") << 59.999 << "00:01:00.00" << 1u << 16 << "1";
    QTest::newRow("no sweep size") << -3.0 << "00:00:00.00" << 5u << 0 << "";
    QTest::newRow("many readings") << 5.0 << "00:00:05.00" << 4294967295u << 1 << "4294967295";
}

void test_scan_data_t::elapsed_and_cycles() {
    QFETCH(double, seconds);
    QFETCH(QString, elapsed);
    QFETCH(uint, readings);
    QFETCH(int, sweep);
    QFETCH(QString, cycles);
    QCOMPARE(ui_scan_data_frame_t::elapsed_text(seconds), elapsed);
    QCOMPARE(ui_scan_data_frame_t::cycles_text(readings, sweep), cycles);
}

void test_scan_data_t::result_texts_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("func");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("statistic");
    const QString dash = QString::fromUtf8("\xE2\x80\x94");
    QTest::newRow("milli") << 0.00123456 << int(measure_dcv) << "1.23456m"
                           << "1.23456m";
    QTest::newRow("kilo negative") << -1234.5 << int(measure_res_2w) << "-1.23450k"
                                   << "-1.23450k";
    QTest::newRow("overload") << 9.9e37 << int(measure_dcv) << "OVERLOAD" << dash;
    QTest::newRow("negative overload") << -9.9e37 << int(measure_dcv) << "OVERLOAD" << dash;
    QTest::newRow("open continuity") << 9.9e37 << int(measure_cont) << "OPEN" << dash;
    QTest::newRow("open diode") << 9.9e37 << int(measure_diode) << "OPEN" << dash;
    QTest::newRow("nan") << std::nan("") << int(measure_dcv) << ""
                         << "";
    QTest::newRow("infinity") << HUGE_VAL << int(measure_dcv) << ""
                              << "";
}

void test_scan_data_t::result_texts() {
    QFETCH(double, value);
    QFETCH(int, func);
    QFETCH(QString, data);
    QFETCH(QString, statistic);
    QCOMPARE(ui_scan_channel_result_widget_t::data_text(value, func), data);
    QCOMPARE(ui_scan_channel_result_widget_t::statistic_text(value), statistic);
    // The alarm cell and the rest of the row, through the table.
    ui_scan_channel_result_widget_t table(nullptr, 16);
    plib_scan_statistic_data_t stat;
    stat.min = 0.0;
    stat.max = 6.0;
    stat.average = value;
    stat.count = 3;
    plib_scanner_channel_param_t param;
    param.func = func;
    param.alarm_limit = 2;
    param.limit_high = 5.0;
    table.show_results({{2, {value, 0}}, {99, {1.0, 0}}}, {{2, stat}, {99, stat}}, {{2, param}});
    QCOMPARE(table.item(1, ui_scan_channel_result_widget_t::column_of("Data"))->text(), data);
    QCOMPARE(table.item(1, ui_scan_channel_result_widget_t::column_of("Average"))->text(), statistic);
    QCOMPARE(table.item(1, ui_scan_channel_result_widget_t::column_of("Total nums"))->text(), QString("3"));
    QCOMPARE(table.item(1, ui_scan_channel_result_widget_t::column_of("Alarm"))->text(),
             QString("Over Limit"));
    QCOMPARE(table.item(1, ui_scan_channel_result_widget_t::column_of("Alarm"))->foreground().color(),
             QColor(Qt::red));
    table.clear_results();
    QVERIFY(table.item(1, ui_scan_channel_result_widget_t::column_of("Data"))->text().isEmpty());
}

// One table for the editing rules. kind "func": select `value` as the function of `row`
// and expect the Scan box of `partner` enabled or not. kind "edit": with the row's
// Alarm Limit at `alarm`, Low 2 and High 5 and Scaling `scaling`, type `value` into
// `column`; expect `expected` in the cell ("<no editor>" when the cell is not editable).
void test_scan_data_t::table_rules_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("alarm");
    QTest::addColumn<bool>("scaling");
    QTest::addColumn<int>("partner");
    QTest::addColumn<QString>("expected");
    QTest::newRow("4-wire ch2 takes ch8") << "func" << 1 << "Function"
                                          << "4 Wire Resistance" << 0 << false << 7 << "disabled";
    QTest::newRow("DC voltage gives ch8 back") << "func" << 1 << "Function"
                                               << "DC Voltage" << 0 << false << 7 << "enabled";
    QTest::newRow("4-wire ch6 takes ch12") << "func" << 5 << "Function"
                                           << "4 Wire Resistance" << 0 << false << 11 << "disabled";
    QTest::newRow("4-wire ch12: no partner") << "func" << 11 << "Function"
                                             << "4 Wire Resistance" << 0 << false << 11 << "enabled";
    QTest::newRow("Low above High") << "edit" << 0 << "Low"
                                    << "6" << 3 << false << 0 << "2";
    QTest::newRow("Low below High") << "edit" << 0 << "Low"
                                    << "4" << 3 << false << 0 << "4";
    QTest::newRow("High below Low") << "edit" << 0 << "High"
                                    << "1" << 3 << false << 0 << "5";
    QTest::newRow("High above Low") << "edit" << 0 << "High"
                                    << "9" << 3 << false << 0 << "9";
    QTest::newRow("Low alone is not checked") << "edit" << 0 << "Low"
                                              << "6" << 1 << false << 0 << "6";
    QTest::newRow("Low kept when Low/High is chosen later") << "edit, then Low/High" << 0 << "Low"
                                                            << "6" << 1 << false << 0 << "6";
    QTest::newRow("High not editable with Low") << "edit" << 0 << "High"
                                                << "9" << 1 << false << 0 << "<no editor>";
    QTest::newRow("Low not editable with None") << "edit" << 0 << "Low"
                                                << "1" << 0 << false << 0 << "<no editor>";
    QTest::newRow("empty Low restored") << "edit" << 0 << "Low"
                                        << "" << 3 << false << 0 << "2";
    QTest::newRow("empty Scan Counts restored") << "edit" << 4 << "Scan Counts"
                                                << "" << 0 << false << 0 << "1";
    QTest::newRow("Scan Counts edited") << "edit" << 4 << "Scan Counts"
                                        << "12" << 0 << false << 0 << "12";
    QTest::newRow("Gain locked without Scaling") << "edit" << 2 << "Gain(K)"
                                                 << "3" << 0 << false << 0 << "<no editor>";
    QTest::newRow("Gain with Scaling") << "edit" << 2 << "Gain(K)"
                                       << "3" << 0 << true << 0 << "3";
    QTest::newRow("empty Offset restored") << "edit" << 2 << "Offset(B)"
                                           << "" << 0 << true << 0 << "0";
    QTest::newRow("empty name accepted") << "edit" << 3 << "Name"
                                         << "" << 0 << false << 0 << "";
    QTest::newRow("name reaches the result table") << "edit" << 3 << "Name"
                                                   << "probe" << 0 << false << 0 << "probe";
}

void test_scan_data_t::table_rules() {
    QFETCH(QString, kind);
    QFETCH(int, row);
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(int, alarm);
    QFETCH(bool, scaling);
    QFETCH(int, partner);
    QFETCH(QString, expected);
    scan_fixture_t& f = shared();
    QVERIFY(f.ok());
    fresh_page_t p(f.item);
    QVERIFY(p.active);
    auto* table = p.page->config_widget();
    if (kind == "func") {
        QComboBox* function = table->combo(row, "Function");
        QComboBox* first_function = table->combo(row, "Function");
        const int four_wire = first_function->findData(int(measure_res_4w));
        if (four_wire < 0) {
            // Channels without a four-wire entry: the rule itself must ignore a partner
            // beyond the table.
            table->slot_func_change_func_event(row, measure_res_4w);
            QCOMPARE(table->scan_box(partner)->isEnabled(), expected == "enabled");
            return;
        }
        function->setCurrentIndex(four_wire);  // a change from the first entry in every case
        const int index = function->findText(value);
        QVERIFY(index >= 0);
        function->setCurrentIndex(index);
        QCOMPARE(table->scan_box(partner)->isEnabled(), expected == "enabled");
        // The range list follows the function.
        QVERIFY(table->combo(row, "Range")->count() > 0);
        return;
    }
    table->combo(row, "Alarm Limit")->setCurrentIndex(alarm);
    table->scaling_box(row)->setChecked(scaling);
    const int low = ui_scan_channel_config_widget_t::column_of("Low");
    const int high = ui_scan_channel_config_widget_t::column_of("High");
    table->item(row, low)->setText("2");
    table->item(row, high)->setText("5");
    const int col = ui_scan_channel_config_widget_t::column_of(column);
    QVERIFY(col >= 0);
    const QString before = table->item(row, col)->text();
    const bool edited = edit_cell(table, row, col, value);
    if (expected == "<no editor>") {
        QVERIFY(!edited);
        QCOMPARE(table->item(row, col)->text(), before);
        return;
    }
    QVERIFY(edited);
    QCOMPARE(table->item(row, col)->text(), expected);
    if (kind == "edit, then Low/High") {
        // Choosing the pair afterwards is no edit of the cell: nothing is put back.
        table->combo(row, "Alarm Limit")->setCurrentIndex(3);
        QCOMPARE(table->item(row, col)->text(), expected);
    }
    if (column == "Name") {
        QCOMPARE(
            p.page->result_widget()->item(row, ui_scan_channel_result_widget_t::column_of("Name"))->text(),
            expected);
    }
    // What the page hands to the scan configuration.
    const plib_scanner_channel_map_t params = table->read_channel_params();
    QCOMPARE(int(params.size()), 16);
    if (column == "Low") QCOMPARE(params.at(row + 1).limit_low, expected.toDouble());
    if (column == "Scan Counts") QCOMPARE(params.at(row + 1).scan_counts, expected.toInt());
    if (column == "Gain(K)") QCOMPARE(params.at(row + 1).gain, expected.toDouble());
}

void test_scan_data_t::context_menu_selects_all() {
    scan_fixture_t& f = shared();
    QVERIFY(f.ok());
    fresh_page_t p(f.item);
    auto* table = p.page->config_widget();
    QMenu* menu = table->context_menu();
    QCOMPARE(menu->actions().size(), 2);
    QCOMPARE(menu->actions().at(0)->text(), QString("Select All Channel"));
    QCOMPARE(menu->actions().at(1)->text(), QString("Deselect All Channel"));
    int first = 0;
    int last = 0;
    QVERIFY(!table->scanned_channel_span(first, last));
    menu->actions().at(0)->trigger();
    QVERIFY(table->scanned_channel_span(first, last));
    QCOMPARE(first, 1);
    QCOMPARE(last, 16);
    menu->actions().at(1)->trigger();
    QVERIFY(!table->scanned_channel_span(first, last));
}

void test_scan_data_t::log_write_failure_is_told_once_per_run() {
    scan_fixture_t& f = shared();
    QVERIFY(f.ok());
    fresh_page_t p(f.item);
    velkaro_ui_test::modal_closer_t closer;
    // The engine reports each failed write; the user hears of it once per run, at once.
    p.page->slot_recv_measure_notify_update(scan_notify_record_write_failed);
    p.page->slot_recv_measure_notify_update(scan_notify_record_write_failed);
    QTRY_COMPARE(closer.count(), 1);
    QVERIFY2(closer.seen().first().startsWith("Warning|Writing to the scan log failed"),
             qPrintable(closer.seen().first()));
    p.page->slot_recv_measure_notify_update(scan_notify_start);
    p.page->slot_recv_measure_notify_update(scan_notify_record_write_failed);
    QTRY_COMPARE(closer.count(), 2);
}

void test_scan_data_t::settings_dialog_loads() {
    scan_fixture_t& f = shared();
    QVERIFY(f.ok());
    const QDateTime start = QDateTime::currentDateTime().addDays(2);
    const QDateTime stop = QDateTime::currentDateTime().addDays(3);
    cfg_scan_config_t* c = f.config;
    c->set_start_mode(1);
    c->set_start_timestamp(uint64_t(start.toMSecsSinceEpoch()) * 1000u);
    c->set_stop_mode(1);
    c->set_stop_timestamp(uint64_t(stop.toMSecsSinceEpoch()) * 1000u);
    c->set_stop_duration(90.7);
    c->set_stop_scan_count(7);
    c->set_scan_mode(1);
    c->set_scan_delay(2.5);
    c->set_record_enable(1);
    c->set_record_directory("/tmp/scan_logs");
    c->set_file_mode(1);
    {
        ui_scan_param_setting_dialog_t dialog(nullptr, f.cfg);
        QCOMPARE(dialog.objectName(), QString("scan_param_setting_dialog"));
        QCOMPARE(dialog.windowTitle(), QString("Scan Parameter Settings"));
        // 600 x 500 at least, larger only where the fonts need it; never resizable by the user.
        QVERIFY(dialog.width() >= 600 && dialog.height() >= 500);
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(dialog.minimumSizeHint().height() <= dialog.height());
        QCOMPARE(child<QPushButton>(&dialog, "scan_setting_cancel_button")->text(), QString("Cancle"));
        QCOMPARE(child<QButtonGroup>(&dialog, "scan_start_mode_group")->checkedId(), 1);
        QCOMPARE(child<QButtonGroup>(&dialog, "scan_stop_mode_group")->checkedId(), 1);
        QCOMPARE(child<QButtonGroup>(&dialog, "scan_mode_group")->checkedId(), 1);
        QCOMPARE(child<QButtonGroup>(&dialog, "scan_file_mode_group")->checkedId(), 1);
        auto* start_edit = child<QDateTimeEdit>(&dialog, "scan_start_time_edit");
        auto* stop_edit = child<QDateTimeEdit>(&dialog, "scan_stop_time_edit");
        QCOMPARE(start_edit->displayFormat(), QString("yyyy/M/d hh:mm:ss"));
        QCOMPARE(start_edit->dateTime().toSecsSinceEpoch(), start.toSecsSinceEpoch());
        QCOMPARE(stop_edit->dateTime().toSecsSinceEpoch(), stop.toSecsSinceEpoch());
        QVERIFY(start_edit->isEnabled());
        QVERIFY(stop_edit->isEnabled());
        QVERIFY(!child<ui_time_edit_widget_t>(&dialog, "scan_stop_duration_edit")->isEnabled());
        QCOMPARE(child<ui_time_edit_widget_t>(&dialog, "scan_stop_duration_edit")->get_seconds(), 90.0);
        QCOMPARE(child<QSpinBox>(&dialog, "scan_stop_scans_box")->value(), 7);
        QVERIFY(!child<QSpinBox>(&dialog, "scan_stop_scans_box")->isEnabled());
        QCOMPARE(child<QDoubleSpinBox>(&dialog, "scan_delay_box")->value(), 2.5);
        QVERIFY(child<QCheckBox>(&dialog, "scan_save_data_box")->isChecked());
        QVERIFY(child<QWidget>(&dialog, "scan_record_panel")->isEnabled());
        QCOMPARE(child<QLineEdit>(&dialog, "scan_record_path_edit")->text(), QString("/tmp/scan_logs"));
    }
    // Any stop mode but "Stop At:" shows the current time; logging off disables the panel.
    c->set_stop_mode(2);
    c->set_start_mode(0);
    c->set_record_enable(0);
    ui_scan_param_setting_dialog_t dialog(nullptr, f.cfg);
    const qint64 now = QDateTime::currentDateTime().toSecsSinceEpoch();
    QVERIFY(qAbs(child<QDateTimeEdit>(&dialog, "scan_stop_time_edit")->dateTime().toSecsSinceEpoch() - now) <=
            5);
    QVERIFY(qAbs(child<QDateTimeEdit>(&dialog, "scan_start_time_edit")->dateTime().toSecsSinceEpoch() -
                 now) <= 5);
    QVERIFY(!child<QDateTimeEdit>(&dialog, "scan_start_time_edit")->isEnabled());
    QVERIFY(child<ui_time_edit_widget_t>(&dialog, "scan_stop_duration_edit")->isEnabled());
    QVERIFY(!child<QWidget>(&dialog, "scan_record_panel")->isEnabled());
}

// `setup` chooses the values typed: each case clicks OK once.
void test_scan_data_t::settings_dialog_ok_rules_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");  // "" when OK closes the dialog
    QTest::newRow("start time in the past") << "start past"
                                            << "Warning|Invalid start time!";
    QTest::newRow("start time ahead") << "start future"
                                      << "";
    QTest::newRow("stop after 5 scans") << "stop scans"
                                        << "";
    QTest::newRow("stop after 1 min 30 s") << "stop time"
                                           << "";
    QTest::newRow("stop at a past time") << "stop past"
                                         << "Warning|Invalid stop time!";
    QTest::newRow("empty directory keeps the stored one") << "empty dir"
                                                          << "";
}

void test_scan_data_t::settings_dialog_ok_rules() {
    QFETCH(QString, setup);
    QFETCH(QString, message);
    scan_fixture_t& f = shared();
    QVERIFY(f.ok());
    cfg_scan_config_t* c = f.config;
    const uint64_t old_start = c->get_start_timestamp();
    c->set_start_mode(0);
    c->set_stop_mode(0);
    c->set_record_directory("/tmp/kept");
    c->set_record_enable(0);
    QPointer<ui_scan_param_setting_dialog_t> dialog = new ui_scan_param_setting_dialog_t(nullptr, f.cfg);
    dialog->show();
    auto click = [&](const char* name) { child<QAbstractButton>(dialog.data(), name)->click(); };
    // Data Logging edits, which must only be stored when the whole OK succeeds.
    child<QCheckBox>(dialog.data(), "scan_save_data_box")->setChecked(true);
    child<QLineEdit>(dialog.data(), "scan_record_path_edit")->setText("/tmp/new_dir");
    const QDateTime past = QDateTime::currentDateTime().addSecs(-60);
    const QDateTime ahead = QDateTime::currentDateTime().addSecs(3600);
    if (setup == "start past") {
        click("scan_start_after_time");
        child<QDateTimeEdit>(dialog.data(), "scan_start_time_edit")->setDateTime(past);
    } else if (setup == "start future") {
        click("scan_start_after_time");
        child<QDateTimeEdit>(dialog.data(), "scan_start_time_edit")->setDateTime(ahead);
    } else if (setup == "stop scans") {
        click("scan_stop_after_scans");
        child<QSpinBox>(dialog.data(), "scan_stop_scans_box")->setValue(5);
    } else if (setup == "stop time") {
        click("scan_stop_after_time");
        child<ui_time_edit_widget_t>(dialog.data(), "scan_stop_duration_edit")->set_value(0, 1, 30);
    } else if (setup == "stop past") {
        click("scan_stop_at");
        child<QDateTimeEdit>(dialog.data(), "scan_stop_time_edit")->setDateTime(past);
    } else if (setup == "empty dir") {
        child<QLineEdit>(dialog.data(), "scan_record_path_edit")->clear();
    }
    velkaro_ui_test::modal_closer_t closer;
    click("scan_setting_ok_button");
    QCoreApplication::processEvents();
    if (!message.isEmpty()) {
        QCOMPARE(closer.seen(), QStringList({message}));
        QVERIFY(!dialog.isNull());
        QVERIFY(dialog->isVisible());
        // The Configuration tab is stored already; the Data Logging tab is not.
        QCOMPARE(c->get_record_enable(), 0);
        QCOMPARE(c->get_record_directory(), std::string("/tmp/kept"));
        if (setup == "start past") {
            QCOMPARE(c->get_start_mode(), 1);
            QCOMPARE(c->get_start_timestamp(), old_start);
        } else {
            QCOMPARE(c->get_stop_mode(), 1);
            QCOMPARE(c->get_auto_count(), 1);
        }
        delete dialog.data();
        return;
    }
    QCOMPARE(closer.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 2000);
    QCOMPARE(c->get_record_enable(), 1);
    if (setup == "empty dir") {
        QCOMPARE(c->get_record_directory(), std::string("/tmp/kept"));
    } else {
        QCOMPARE(c->get_record_directory(), std::string("/tmp/new_dir"));
    }
    if (setup == "start future") {
        QCOMPARE(c->get_start_mode(), 1);
        QCOMPARE(c->get_start_timestamp(), uint64_t(ahead.toMSecsSinceEpoch()) * 1000u);
    } else if (setup == "stop scans") {
        QCOMPARE(c->get_stop_mode(), 3);
        QCOMPARE(c->get_stop_scan_count(), 5);
        QCOMPARE(c->get_scan_count(), 5);
        QCOMPARE(c->get_auto_count(), 0);
    } else if (setup == "stop time") {
        QCOMPARE(c->get_stop_mode(), 2);
        QCOMPARE(c->get_stop_duration(), 90.0);
        QCOMPARE(c->get_auto_count(), 1);
    }
}

// A slow instrument: the start runs on a worker while the window keeps handling events,
// and the page shows that it is busy until the start is done.
void test_scan_data_t::slow_instrument_shows_busy_page() {
    scan_fixture_t f({"--reply-delay", "100"});
    QVERIFY(f.ok());
    f.check_channels({1});
    int ticks_while_busy = 0;
    QTimer ticker;
    ticker.setInterval(50);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (f.page->is_busy()) ++ticks_while_busy;
    });
    ticker.start();
    QSignalSpy finished(f.page, &ui_scan_data_frame_t::signal_io_finished);
    QTest::mouseClick(f.start_switch(), Qt::LeftButton);
    QVERIFY(f.page->is_busy());
    QVERIFY(!f.start_switch()->isEnabled());
    QVERIFY(!f.page->param_widget()->setting_button()->isEnabled());
    QCOMPARE(f.page->cursor().shape(), Qt::BusyCursor);
    QVERIFY(finished.wait(io_timeout_ms));
    QVERIFY(!f.page->is_busy());
    QVERIFY2(ticks_while_busy >= 3, qPrintable(QString::number(ticks_while_busy)));
    QVERIFY(f.start_switch()->isEnabled());
    QVERIFY(f.page->param_widget()->setting_button()->isEnabled());
    QCOMPARE(f.page->cursor().shape(), Qt::ArrowCursor);
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("SCANING"), 10000);
    // Stop and clean up before the fixture goes.
    QVERIFY(f.press_switch());
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("STOP"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!f.page->is_busy(), io_timeout_ms);
}

// A lost link while a slow instrument scans: the scan's stop waits for the fetch in
// flight before it sends "ROUT:STAR 0", so it goes with the disconnect on the item's
// lane, ahead of the link closing; the window does not wait for it.
void test_scan_data_t::lost_link_while_scanning_stops_on_the_lane() {
    scan_fixture_t f({"--reply-delay", "300"});
    QVERIFY(f.ok());
    f.check_channels({1, 2});
    QVERIFY(f.press_switch());
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("SCANING"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(f.cfg->get_scan_run_state_info().readings_count > 0, 10000);
    velkaro_ui_test::modal_closer_t closer;
    f.mark();

    emit f.window->signal_recv_remote_notify(remote_notify_link_lost);
    // Back at once (the notification is queued): the stop and the disconnect travel on
    // the lane, which waits on the slow instrument's 300 ms replies.
    QTRY_VERIFY_WITH_TIMEOUT(f.item->is_busy(), 2000);

    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    QTRY_VERIFY_WITH_TIMEOUT(closer.count() == 1, 10000);
    QVERIFY2(closer.seen().first().startsWith("Warning|Lost the connection to VXA-2 at "),
             qPrintable(closer.seen().first()));
    QVERIFY(!f.item->is_connected());
    QCOMPARE(f.cfg->get_scan_run_state(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("STOP"), 10000);
    const QStringList sent = f.commands_since_mark();
    QVERIFY2(sent.contains("ROUT:STAR 0"), qPrintable(sent.join(" | ")));
}

void test_scan_data_t::page_deleted_or_released_while_starting_data() {
    QTest::addColumn<bool>("release");
    QTest::newRow("page deleted") << false;
    QTest::newRow("instrument released") << true;
}

// The start job is still talking to a slow instrument when the page goes (or the
// instrument is given back): the job finishes on the instrument's lane without the page
// waiting for it, and nothing reaches a dead object.
void test_scan_data_t::page_deleted_or_released_while_starting() {
    QFETCH(bool, release);
    scan_fixture_t f({"--reply-delay", "50"});
    QVERIFY(f.ok());
    auto page = std::make_unique<ui_scan_data_frame_t>(nullptr, f.item);
    page->config_widget()->scan_box(0)->setChecked(true);
    page->slot_process_scan_run_stop(true);
    QVERIFY(page->is_busy());
    if (release) {
        f.window.reset();  // the instrument window goes first, as in the program
        f.item->release_instrument();
        QVERIFY(!page->is_busy());
        QCOMPARE(page->cfg(), nullptr);
        // A late click does nothing.
        page->slot_process_scan_run_stop(true);
        QVERIFY(!page->is_busy());
    }
    page.reset();
    QCoreApplication::processEvents();
    if (release) return;
    // The whole start still went to the instrument: the run was requested.
    QTRY_COMPARE_WITH_TIMEOUT(f.cfg->get_scan_run_state(), 1, 10000);
    f.cfg->set_scan_run_state(0);
}

// With VELKARO_SCREENSHOT_DIR set: both tables and the settings dialog during a live
// 16-channel scan with some channels over their limits (run once per scale factor).
void test_scan_data_t::live_scan_screenshots() {
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("VELKARO_SCREENSHOT_DIR not set");
    const QString suffix = qEnvironmentVariable("VELKARO_SCREENSHOT_SUFFIX");
    scan_fixture_t f;
    QVERIFY(f.ok());
    auto* table = f.table();
    table->slot_select_all_channels();
    for (int row = 0; row < 16; ++row) {
        table->item(row, ui_scan_channel_config_widget_t::column_of("Name"))
            ->setText(QString("Probe %1").arg(row + 1));
        if (row % 3 == 0) {
            table->combo(row, "Alarm Limit")->setCurrentIndex(2);  // High 0: any positive reading alarms
        }
    }
    table->publish_names();
    f.window->resize(1500, 800);
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QVERIFY(table->grab().size().isValid());
    QVERIFY(f.window->grab().save(dir + "/scan_data_config" + suffix + ".png"));
    QVERIFY(f.press_switch());
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("SCANING"), 10000);
    auto* results = f.page->result_widget();
    const int total = ui_scan_channel_result_widget_t::column_of("Total nums");
    QTRY_VERIFY_WITH_TIMEOUT(results->item(15, total)->text().toInt() >= 2, 20000);
    QVERIFY(f.window->grab().save(dir + "/scan_data_results" + suffix + ".png"));
    // The Scan Diagram page of the same live scan, after a few more sweeps.
    for (QToolButton* tab : f.window->findChildren<QToolButton*>()) {
        if (tab->text() == "Scan Diagram") tab->click();
    }
    QTest::qWait(3000);
    QVERIFY(f.window->grab().save(dir + "/scan_diagram_live" + suffix + ".png"));
    // Channel 2 chosen (its row), its function's channels on one common axis.
    auto* diagram_table = f.window->findChild<QTableWidget*>("scan_channel_config_widget");
    auto* common = f.window->findChild<QCheckBox*>("scan_diagram_common_axis_box");
    QVERIFY(diagram_table != nullptr && common != nullptr);
    diagram_table->setCurrentCell(1, 0);
    common->click();
    QTest::qWait(1500);
    QVERIFY(f.window->grab().save(dir + "/scan_diagram_common_axis" + suffix + ".png"));
    common->click();
    for (QToolButton* tab : f.window->findChildren<QToolButton*>()) {
        if (tab->text() == "Scan Data") tab->click();
    }
    QPointer<ui_scan_param_setting_dialog_t> dialog = new ui_scan_param_setting_dialog_t(f.page, f.cfg);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
    QTest::qWait(300);
    QVERIFY(dialog->grab().save(dir + "/scan_settings_dialog" + suffix + ".png"));
    // On a real X server with a window manager: the whole screen, so the dialog shows its frame.
    if (QGuiApplication::platformName() == "xcb")
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/scan_settings_screen" + suffix +
                                                                     ".png"));
    delete dialog.data();
    QVERIFY(f.press_switch());
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QString("STOP"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!f.page->is_busy(), io_timeout_ms);
}

// The cells show bare numbers (their texts stay as they are); the tooltips give the unit
// of the channel's function.
void test_scan_data_t::units_in_value_and_limit_tooltips() {
    scan_fixture_t f;
    QVERIFY(f.ok());
    ui_scan_channel_config_widget_t* table = f.table();
    const int low = ui_scan_channel_config_widget_t::column_of("Low");
    const int high = ui_scan_channel_config_widget_t::column_of("High");
    QComboBox* function = table->combo(0, "Function");
    function->setCurrentIndex(function->findText("DC Voltage"));
    QCOMPARE(table->item(0, low)->toolTip(), QString("Low alarm limit (VDC)"));
    QCOMPARE(table->item(0, high)->toolTip(), QString("High alarm limit (VDC)"));
    function->setCurrentIndex(function->findText("2 Wire Resistance"));
    QCOMPARE(table->item(0, high)->toolTip(), QString::fromUtf8("High alarm limit (Ω)"));

    ui_scan_channel_result_widget_t* results = f.page->result_widget();
    plib_scan_latest_map_t latest;
    latest[1] = {0.0123456, 0};
    plib_scan_statistic_map_t stats;
    stats[1].min = 0.01;
    stats[1].max = 1500.0;
    stats[1].average = 9.9e37;
    stats[1].count = 3;
    plib_scanner_channel_map_t params;
    params[1].func = measure_dcv;
    results->show_results(latest, stats, params);
    auto tip = [results](const char* column) {
        return results->item(0, ui_scan_channel_result_widget_t::column_of(column))->toolTip();
    };
    QCOMPARE(tip("Data"), QString("12.3456 mVDC"));
    QCOMPARE(tip("Min"), QString("10 mVDC"));
    QCOMPARE(tip("Max"), QString("1.5 kVDC"));
    QCOMPARE(tip("Average"), QString("OVERLOAD"));
    results->clear_results();
    QCOMPARE(tip("Data"), QString());
}

QTEST_MAIN(test_scan_data_t)
#include "test_scan_data.moc"
