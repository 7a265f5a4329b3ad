// Data list dialog (paging over the record buffer, also after the keep-latest mode has
// dropped old readings) and record configuration dialog (values in, values out through
// the facade, enabling rules, "Tips" boxes), against the simulator where an instrument
// is needed and against a small scripted engine where the buffer must overflow.
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_primary_window/ui_measure_data_list_dialog.h"
#include "ui/ui_primary_window/ui_measure_data_list_page_widget.h"
#include "ui/ui_primary_window/ui_measure_record_config_dialog.h"
#include "ui/ui_time_edit_widget.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;

namespace {

// Answers each fetch with the next scripted batch, then with nothing.
class scripted_instrument_t : public acq_instrument_t {
public:
    void script(std::vector<plib_data_t> batch) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_batches.push_back(std::move(batch));
    }
    int init() override { return 0; }
    int set_trig_count_inf() override { return 0; }
    int set_trig_count(int) override { return 0; }
    int set_sample_count(int) override { return 0; }
    int read_measure_data(std::vector<plib_data_t>& data) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        data.clear();
        if (!m_batches.empty()) {
            data = std::move(m_batches.front());
            m_batches.pop_front();
        }
        return 0;
    }

private:
    std::mutex m_mutex;  // guards m_batches: scripted by the test, read on the engine thread
    std::deque<std::vector<plib_data_t>> m_batches;
};

constexpr int64_t base_us = 1700000000000000;

// Readings first .. first + n - 1 with values equal to their number, 10 ms apart.
std::vector<plib_data_t> numbered(int first, int n) {
    std::vector<plib_data_t> batch;
    for (int i = 0; i < n; ++i) {
        const int k = first + i;
        batch.push_back({static_cast<double>(k), base_us + static_cast<int64_t>(k) * 10000});
    }
    return batch;
}

template <typename T>
T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(name);
    if (found == nullptr) qFatal("no child named %s", name);
    return found;
}

QTableWidget* table_of(QWidget* dialog) { return child<QTableWidget>(dialog, "data_list_widget"); }

QStringList visible_labels(QTableWidget* table) {
    QStringList labels;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->isRowHidden(row)) labels << table->verticalHeaderItem(row)->text();
    }
    return labels;
}

QStringList visible_values(QTableWidget* table) {
    QStringList values;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->isRowHidden(row)) values << table->item(row, 0)->text();
    }
    return values;
}

QStringList numbers(int first, int last) {
    QStringList out;
    for (int k = first; k <= last; ++k) out << QString::number(k);
    return out;
}

// Values as the list shows readings valued first .. last (auto-scaled, six decimals).
QStringList shown_values(int first, int last) {
    QStringList out;
    for (int k = first; k <= last; ++k) out << ui_measure_data_list_dialog_t::format_value(k);
    return out;
}

QString count_text(int data_num, int pages) {
    return QString(
               "<font style='color:yellow'>Data num: </font>%1 | <font style='color:yellow'>Page num: "
               "</font>%2")
        .arg(data_num)
        .arg(pages);
}

// With VELKARO_SCREENSHOT_DIR set, saves the dialog as shown.
void save_screenshot(QWidget* dialog, const QString& name) {
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QVERIFY(dialog->grab().save(dir + "/" + name + ".png"));
}

void flush_deletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// A connected simulated instrument in a device column.
struct sim_instrument_t {
    explicit sim_instrument_t(const std::string& model = "VXA-2") : sim(model) {
        if (!sim.ok()) return;
        column.slot_add_device(model, sim.instr_resource(), pugi::xml_node());
        velkaro_ui_test::wait_instruments_idle();
        item = column.get_device_items().front();
    }
    plib_mngr_t* mngr() const { return item->get_mngr(); }
    cfg_main_t* cfg() const { return mngr()->get_cfg(); }

    velkaro_test::sim_process_t sim;
    ui_device_column_t column;
    ui_device_item_t* item = nullptr;
};

}  // namespace

class test_measure_dialogs_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void value_and_time_texts_data();
    void value_and_time_texts();
    void record_time_text_data();
    void record_time_text();
    void data_list_empty_buffer();
    void data_list_pages_of_120_readings();
    void data_list_full_pages_after_keep_latest_drops();
    void record_dialog_layout();
    void record_dialog_shows_the_stored_values();
    void record_dialog_ok_stores_through_the_facade();
    void record_dialog_ok_unchanged_and_cancel();
    void record_dialog_unchecked_log_keeps_directory();
    void record_dialog_tips_data();
    void record_dialog_tips();
};

void test_measure_dialogs_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    QVERIFY(ui_application_t::install_style_and_font());
}

void test_measure_dialogs_t::cleanup() { flush_deletions(); }

void test_measure_dialogs_t::value_and_time_texts_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("milli") << 0.0123 << "12.300000m";
    QTest::newRow("overload") << 9.9e37 << "OVERLOAD";
    QTest::newRow("negative overload") << -9.9e37 << "OVERLOAD";
    QTest::newRow("mega") << 1234567.0 << "1.234567M";
    QTest::newRow("negative micro") << -0.0000025 << "-2.500000u";
    QTest::newRow("zero") << 0.0 << "0.000000";
    QTest::newRow("not a number") << std::nan("") << "";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "";
}

void test_measure_dialogs_t::value_and_time_texts() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(ui_measure_data_list_dialog_t::format_value(value), text);
}

void test_measure_dialogs_t::record_time_text_data() {
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<QString>("text");
    QTest::newRow("65.3 s") << 65.3 << "00:01:05.30";
    QTest::newRow("zero") << 0.0 << "00:00:00.00";
    QTest::newRow("hours") << 3725.5 << "01:02:05.50";
    QTest::newRow("rounds up into the next minute") << 59.999 << "00:01:00.00";
    QTest::newRow("negative") << -3.0 << "00:00:00.00";
}

void test_measure_dialogs_t::record_time_text() {
    QFETCH(double, elapsed);
    QFETCH(QString, text);
    QCOMPARE(ui_measure_data_list_page_widget_t::format_record_time(elapsed), text);
}

void test_measure_dialogs_t::data_list_empty_buffer() {
    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok() && dmm.item->is_connected());
    QPointer<ui_measure_data_list_dialog_t> dialog = new ui_measure_data_list_dialog_t(nullptr, dmm.mngr());
    QCOMPARE(dialog->windowTitle(), QString("Data List"));
    QCOMPARE(dialog->size(), QSize(500, 600));
    QVERIFY(!dialog->isModal());
    QTableWidget* table = table_of(dialog);
    QCOMPARE(table->rowCount(), 50);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QString("Value"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QString("Time(s)"));
    QCOMPARE(child<QLabel>(dialog, "data_list_count_label")->text(), count_text(0, 1));
    QVERIFY(child<QLabel>(dialog, "data_list_run_label")->text().endsWith("Record Time: </font>00:00:00.00"));
    QVERIFY(visible_labels(table).isEmpty());
    // Navigation on an empty buffer shows nothing and stays on page 1.
    child<QPushButton>(dialog, "data_list_last_button")->click();
    child<QPushButton>(dialog, "data_list_next_button")->click();
    QCOMPARE(child<QLineEdit>(dialog, "data_list_page_edit")->text(), QString("1"));
    QVERIFY(visible_labels(table).isEmpty());
    dialog->close();
    flush_deletions();
    QVERIFY(dialog.isNull());  // deleted on close
}

void test_measure_dialogs_t::data_list_pages_of_120_readings() {
    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok() && dmm.item->is_connected());
    cfg_main_t* cfg = dmm.cfg();
    // Exactly 120 readings: automatic stop after that many.
    cfg->set_auto_stop_mode(1);
    cfg->set_stop_num(120);
    cfg->set_auto_enable(true);
    cfg->set_run_state(1);
    QTRY_COMPARE_WITH_TIMEOUT(cfg->get_run_state(), 0, 30000);
    QCOMPARE(cfg->get_total_count(), 120u);
    std::vector<plib_data_t> readings;
    dmm.mngr()->get_acq()->m_acq_original_data_list_msg.fetch(readings);
    QCOMPARE(readings.size(), size_t(120));
    const plib_record_run_state_info_t info = cfg->get_run_state_info();

    auto* dialog = new ui_measure_data_list_dialog_t(nullptr, dmm.mngr());
    QTableWidget* table = table_of(dialog);
    auto* edit = child<QLineEdit>(dialog, "data_list_page_edit");
    QCOMPARE(child<QLabel>(dialog, "data_list_count_label")->text(), count_text(120, 3));
    QVERIFY(child<QLabel>(dialog, "data_list_run_label")
                ->text()
                .startsWith("<font style='color:yellow'>Total Record Num: </font>120 | "
                            "<font style='color:yellow'>Record Time: </font>"));

    // Page 1 at opening, its cells from the readings themselves.
    QCOMPARE(visible_labels(table), numbers(1, 50));
    for (int row : {0, 49}) {
        const plib_data_t& r = readings[static_cast<size_t>(row)];
        QCOMPARE(table->item(row, 0)->text(), ui_measure_data_list_dialog_t::format_value(r.value));
        QCOMPARE(table->item(row, 1)->text(),
                 QString::number(static_cast<double>(r.timestamp - info.start_timestamp) / 1e6, 'g', 6));
    }
    QCOMPARE(table->item(0, 1)->text(), QString("0"));  // the first reading starts the clock
    save_screenshot(dialog, "screenshot-data-list");

    struct step_t {
        const char* button;
        QString page;
        QStringList labels;
    };
    const step_t steps[] = {
        {"data_list_prev_button", "1", numbers(1, 50)},    // "<" on page 1: nothing
        {"data_list_next_button", "2", numbers(51, 100)},  //
        {"data_list_last_button", "3", numbers(101, 120)},
        {"data_list_next_button", "3", numbers(101, 120)},  // ">" on the last page: nothing
        {"data_list_prev_button", "2", numbers(51, 100)},
        {"data_list_first_button", "1", numbers(1, 50)},
    };
    for (const step_t& step : steps) {
        child<QPushButton>(dialog, step.button)->click();
        QCOMPARE(edit->text(), step.page);
        QCOMPARE(visible_labels(table), step.labels);
    }
    // Page 1 again: row 20 holds reading 20.
    QCOMPARE(table->item(19, 0)->text(), ui_measure_data_list_dialog_t::format_value(readings[19].value));

    // Typing a page: out of range is repaired by the validator.
    edit->setText("2");
    QMetaObject::invokeMethod(edit, "editingFinished");
    QCOMPARE(visible_labels(table), numbers(51, 100));
    edit->setText("9");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), QString("3"));
    QCOMPARE(visible_labels(table), numbers(101, 120));

    // A buffer cleared since opening gives an empty page, not a stale one.
    cfg->clear_data();
    child<QPushButton>(dialog, "data_list_first_button")->click();
    QVERIFY(visible_labels(table).isEmpty());
    delete dialog;
}

void test_measure_dialogs_t::data_list_full_pages_after_keep_latest_drops() {
    scripted_instrument_t instrument;
    acq_main_options_t options;
    options.buffer_capacity = 120;
    options.periodic_task_enabled = false;
    acq_main_t engine(&instrument, options);
    plib_record_parameter_set_msg_t keep_latest;
    keep_latest.kind = record_kind_buffer_mode;
    keep_latest.buffer_mode = acq_buffer_mode_keep_latest;
    engine.m_acq_record_parameter_data_msg.send(keep_latest);
    engine.set_run_state(1);
    // 150 readings into a buffer of 120: readings 1 to 30 are dropped.
    for (int first : {1, 51, 101}) {
        instrument.script(numbered(first, 50));
        engine.m_acq_trig_msg.send();
    }
    engine.set_run_state(0);

    ui_measure_data_list_dialog_t dialog(nullptr, &engine);
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    QTableWidget* table = table_of(&dialog);
    QCOMPARE(child<QLabel>(&dialog, "data_list_count_label")->text(), count_text(120, 3));
    QVERIFY(child<QLabel>(&dialog, "data_list_run_label")->text().contains("Total Record Num: </font>150 |"));

    QCOMPARE(visible_values(table), shown_values(31, 80));
    // Times count from the run's first reading (number 1), also after it was dropped.
    QCOMPARE(table->item(0, 1)->text(), QString("0.3"));

    child<QPushButton>(&dialog, "data_list_next_button")->click();
    QCOMPARE(visible_labels(table), numbers(51, 100));
    QCOMPARE(visible_values(table), shown_values(81, 130));
    // The last page is bounded by the 120 readings held, not by the 150 taken.
    child<QPushButton>(&dialog, "data_list_last_button")->click();
    QCOMPARE(visible_labels(table), numbers(101, 120));
    QCOMPARE(visible_values(table), shown_values(131, 150));
}

void test_measure_dialogs_t::record_dialog_layout() {
    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok());
    ui_measure_record_config_dialog_t dialog(nullptr, dmm.mngr());
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(dialog.windowTitle(), QString("Measurement Configuration"));
    QCOMPARE(dialog.size(), QSize(500, 550));
    QStringList titles;
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        QCOMPARE(group->objectName(), QString("record_config_groupbox"));
        titles << group->title();
    }
    QCOMPARE(titles,
             QStringList({"Acquisition Mode", "Record Buffer Mode", "Recording Auto Stop", "Data Log:"}));
    auto* time_edit = child<ui_time_edit_widget_t>(&dialog, "record_stop_time_edit");
    QCOMPARE(time_edit->hours_box()->maximum(), 1000);
    QCOMPARE(time_edit->minutes_box()->maximum(), 59);
    auto* num = child<QSpinBox>(&dialog, "record_stop_num_box");
    QCOMPARE(num->minimum(), 0);
    QCOMPARE(num->maximum(), 2147483647);
    QCOMPARE(child<QLineEdit>(&dialog, "record_path_edit")->size(), QSize(320, 25));
    QCOMPARE(child<QLabel>(&dialog, "record_path_text")->text(), QString("Directory:"));
    QCOMPARE(child<QPushButton>(&dialog, "record_path_button")->text(), QString("..."));

    // The time edit and the spin box follow their radio buttons.
    child<QRadioButton>(&dialog, "record_after_num_radio")->setChecked(true);
    QVERIFY(num->isEnabled() && !time_edit->isEnabled());
    child<QRadioButton>(&dialog, "record_after_time_radio")->setChecked(true);
    QVERIFY(!num->isEnabled() && time_edit->isEnabled());
    // The directory controls follow the data-log switch.
    auto* log = child<QCheckBox>(&dialog, "record_enable_check");
    for (bool on : {true, false}) {
        log->setChecked(on);
        QCOMPARE(child<QLineEdit>(&dialog, "record_path_edit")->isEnabled(), on);
        QCOMPARE(child<QPushButton>(&dialog, "record_path_button")->isEnabled(), on);
    }
}

void test_measure_dialogs_t::record_dialog_shows_the_stored_values() {
    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok());
    cfg_main_t* cfg = dmm.cfg();
    cfg->set_acq_mode(1);
    cfg->set_buffer_mode(0);
    cfg->set_auto_enable(true);
    cfg->set_auto_stop_mode(1);
    cfg->set_stop_time(65.5);
    cfg->set_stop_num(1234);
    cfg->set_record_position(0);
    cfg->set_record_directory("/data/logs");

    ui_measure_record_config_dialog_t dialog(nullptr, dmm.mngr());
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(child<QRadioButton>(&dialog, "record_single_radio")->isChecked());
    QVERIFY(child<QRadioButton>(&dialog, "record_stop_when_full_radio")->isChecked());
    QVERIFY(child<QCheckBox>(&dialog, "record_auto_stop_check")->isChecked());
    QVERIFY(child<QRadioButton>(&dialog, "record_after_num_radio")->isChecked());
    auto* time_edit = child<ui_time_edit_widget_t>(&dialog, "record_stop_time_edit");
    QCOMPARE(time_edit->hours_box()->value(), 0);
    QCOMPARE(time_edit->minutes_box()->value(), 1);
    QCOMPARE(time_edit->seconds_box()->value(), 5.5);
    QVERIFY(!time_edit->isEnabled());
    auto* num = child<QSpinBox>(&dialog, "record_stop_num_box");
    QCOMPARE(num->value(), 1234);
    QVERIFY(num->isEnabled());
    QVERIFY(!child<QCheckBox>(&dialog, "record_enable_check")->isChecked());
    auto* path = child<QLineEdit>(&dialog, "record_path_edit");
    QCOMPARE(path->text(), QString("/data/logs"));
    QVERIFY(!path->isEnabled());
    QVERIFY(!child<QPushButton>(&dialog, "record_path_button")->isEnabled());
    save_screenshot(&dialog, "screenshot-record-dialog");
}

void test_measure_dialogs_t::record_dialog_ok_stores_through_the_facade() {
    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok());
    velkaro_test::temp_dir_t dir;
    cfg_main_t* cfg = dmm.cfg();
    QCOMPARE(cfg->get_acq_mode(), 0);
    const size_t sent_before = dmm.sim.log_lines().size();

    auto* dialog = new ui_measure_record_config_dialog_t(nullptr, dmm.mngr());
    QPointer<QDialog> guard(dialog);
    child<QRadioButton>(dialog, "record_single_radio")->setChecked(true);
    child<QRadioButton>(dialog, "record_stop_when_full_radio")->setChecked(true);
    child<QCheckBox>(dialog, "record_auto_stop_check")->setChecked(true);
    child<QRadioButton>(dialog, "record_after_time_radio")->setChecked(true);
    child<ui_time_edit_widget_t>(dialog, "record_stop_time_edit")->set_value(2, 3, 4.5);
    child<QSpinBox>(dialog, "record_stop_num_box")->setValue(77);
    child<QCheckBox>(dialog, "record_enable_check")->setChecked(true);
    child<QLineEdit>(dialog, "record_path_edit")->setText(QString::fromStdString(dir.path()));
    {
        modal_closer_t closer;
        child<QPushButton>(dialog, "record_ok_button")->click();
        QCOMPARE(closer.seen(), QStringList());
    }
    flush_deletions();
    QVERIFY(guard.isNull());  // accepted and deleted

    QCOMPARE(cfg->get_acq_mode(), 1);
    QCOMPARE(cfg->get_buffer_mode(), 0);
    QCOMPARE(cfg->get_auto_stop_mode(), 0);
    QCOMPARE(cfg->get_stop_time(), 2 * 3600 + 3 * 60 + 4.5);
    QCOMPARE(cfg->get_stop_num(), 77u);  // stored although the time rule is chosen
    QVERIFY(cfg->get_auto_enable());
    QCOMPARE(cfg->get_record_position(), 1);
    QCOMPARE(cfg->get_record_directory(), dir.path());
    // The single mode reached the instrument at once: one trigger and one sample per INIT.
    const std::vector<std::string> lines = dmm.sim.log_lines();
    const std::vector<std::string> sent(lines.begin() + static_cast<long>(sent_before), lines.end());
    QVERIFY(std::find(sent.begin(), sent.end(), "TRIG:COUNT 1") != sent.end());
    QVERIFY(std::find(sent.begin(), sent.end(), "SAMP:COUNT 1") != sent.end());
}

void test_measure_dialogs_t::record_dialog_ok_unchanged_and_cancel() {
    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok());
    cfg_main_t* cfg = dmm.cfg();
    cfg->set_buffer_mode(0);
    cfg->set_auto_stop_mode(1);
    cfg->set_stop_time(65.5);
    cfg->set_stop_num(4000000000u);  // beyond the spin box: shown as its maximum
    cfg->set_record_directory("/nowhere");

    struct snapshot_t {
        int acq_mode, buffer_mode, auto_stop_mode, record_position;
        double stop_time;
        bool auto_enable;
        std::string directory;
        bool operator==(const snapshot_t& o) const {
            return acq_mode == o.acq_mode && buffer_mode == o.buffer_mode &&
                   auto_stop_mode == o.auto_stop_mode && record_position == o.record_position &&
                   stop_time == o.stop_time && auto_enable == o.auto_enable && directory == o.directory;
        }
    };
    auto snapshot = [cfg] {
        return snapshot_t{cfg->get_acq_mode(),        cfg->get_buffer_mode(), cfg->get_auto_stop_mode(),
                          cfg->get_record_position(), cfg->get_stop_time(),   cfg->get_auto_enable(),
                          cfg->get_record_directory()};
    };
    const snapshot_t before = snapshot();

    // Cancel after edits stores nothing.
    auto* dialog = new ui_measure_record_config_dialog_t(nullptr, dmm.mngr());
    child<QRadioButton>(dialog, "record_single_radio")->setChecked(true);
    child<QRadioButton>(dialog, "record_keep_latest_radio")->setChecked(true);
    child<QSpinBox>(dialog, "record_stop_num_box")->setValue(5);
    child<QPushButton>(dialog, "record_cancel_button")->click();
    flush_deletions();
    QVERIFY(snapshot() == before);
    QCOMPARE(cfg->get_stop_num(), 4000000000u);

    // OK without changes writes the same values back.
    dialog = new ui_measure_record_config_dialog_t(nullptr, dmm.mngr());
    child<QPushButton>(dialog, "record_ok_button")->click();
    flush_deletions();
    QVERIFY(snapshot() == before);
    QCOMPARE(cfg->get_stop_num(), 2147483647u);
}

void test_measure_dialogs_t::record_dialog_unchecked_log_keeps_directory() {
    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok());
    velkaro_test::temp_dir_t dir;
    cfg_main_t* cfg = dmm.cfg();
    cfg->set_record_position(1);
    cfg->set_record_directory(dir.path());
    auto* dialog = new ui_measure_record_config_dialog_t(nullptr, dmm.mngr());
    QVERIFY(child<QLineEdit>(dialog, "record_path_edit")->isEnabled());
    child<QCheckBox>(dialog, "record_enable_check")->setChecked(false);
    child<QLineEdit>(dialog, "record_path_edit")->setText("/elsewhere");
    child<QPushButton>(dialog, "record_ok_button")->click();
    flush_deletions();
    QCOMPARE(cfg->get_record_position(), 0);
    QCOMPARE(cfg->get_record_directory(), dir.path());
}

void test_measure_dialogs_t::record_dialog_tips_data() {
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("log_stored");    // the data-log switch as stored
    QTest::addColumn<QString>("directory");  // typed; "<temp>" is an existing directory
    QTest::addColumn<QStringList>("toggle_boxes");
    QTest::addColumn<QStringList>("ok_boxes");
    QTest::addColumn<bool>("stored");

    const QString tips = QString("Tips|");
    const QString in_progress = tips + ui_measure_record_config_dialog_t::logging_in_progress_text;
    const QString no_dir = tips + ui_measure_record_config_dialog_t::no_directory_text;
    const QString missing =
        tips + QString(ui_measure_record_config_dialog_t::missing_directory_text).arg("/no/such/directory");
    QTest::newRow("switched on while running")
        << true << false << "<temp>" << QStringList{in_progress} << QStringList() << true;
    QTest::newRow("switched off while running")
        << true << true << "<temp>" << QStringList() << QStringList() << true;
    QTest::newRow("switched on while stopped")
        << false << false << "<temp>" << QStringList() << QStringList() << true;
    QTest::newRow("on without a directory")
        << false << false << "" << QStringList() << QStringList{no_dir} << false;
    QTest::newRow("on with a missing directory")
        << false << false << "/no/such/directory" << QStringList() << QStringList{missing} << false;
    QTest::newRow("off without a directory") << false << true << "" << QStringList() << QStringList() << true;
}

void test_measure_dialogs_t::record_dialog_tips() {
    QFETCH(bool, running);
    QFETCH(bool, log_stored);
    QFETCH(QString, directory);
    QFETCH(QStringList, toggle_boxes);
    QFETCH(QStringList, ok_boxes);
    QFETCH(bool, stored);

    sim_instrument_t dmm;
    QVERIFY(dmm.sim.ok() && dmm.item->is_connected());
    velkaro_test::temp_dir_t dir;
    cfg_main_t* cfg = dmm.cfg();
    cfg->set_record_position(log_stored ? 1 : 0);
    if (running) {
        cfg->set_run_state(1);
        QCOMPARE(cfg->get_run_state(), 1);
    }
    auto* dialog = new ui_measure_record_config_dialog_t(nullptr, dmm.mngr());
    QPointer<QDialog> guard(dialog);
    if (directory == "<temp>") directory = QString::fromStdString(dir.path());
    child<QLineEdit>(dialog, "record_path_edit")->setText(directory);
    child<QRadioButton>(dialog, "record_single_radio")->setChecked(true);  // a change to see stored or not

    modal_closer_t closer;
    child<QCheckBox>(dialog, "record_enable_check")->setChecked(!log_stored);
    QCOMPARE(closer.seen(), toggle_boxes);
    closer.clear();
    child<QPushButton>(dialog, "record_ok_button")->click();
    QCOMPARE(closer.seen(), ok_boxes);
    QCOMPARE(cfg->get_acq_mode(), stored ? 1 : 0);
    QCOMPARE(cfg->get_record_position(), stored ? (log_stored ? 0 : 1) : (log_stored ? 1 : 0));
    if (stored) {
        flush_deletions();
        QVERIFY(guard.isNull());
    } else {
        QVERIFY(!guard.isNull());  // still open for a correction
        QCOMPARE(guard->result(), int(QDialog::Rejected));
        delete dialog;
    }
    cfg->set_run_state(0);
}

QTEST_MAIN(test_measure_dialogs_t)
#include "test_measure_dialogs.moc"
