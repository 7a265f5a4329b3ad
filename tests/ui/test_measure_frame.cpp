// The Measure page: the digit-field formatting as a table, and against the simulator
// Run/Stop with its refusals, function changes while running, overload, clear and the
// messages the acquisition's notifications raise.
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
#include <QtTest>
#include <cmath>
#include <limits>
#include <memory>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_main_window.h"
#include "ui/ui_primary_manager_window.h"
#include "ui/ui_primary_window/ui_measure_format.h"
#include "ui/ui_primary_window/ui_measure_frame.h"
#include "ui/ui_primary_window/ui_measure_param_widget.h"
#include "ui/ui_primary_window/ui_measure_run_info_widget.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;

namespace {

const QString placeholder = QString::fromUtf8("——.——");
constexpr int reading_wait_ms = 10000;

// One instrument in a device column and its window, as the main window builds them.
struct bench_t {
    ui_device_column_t column;
    ui_device_item_t* item = nullptr;
    std::unique_ptr<ui_primary_window_t> window;

    explicit bench_t(const std::string& model, const std::string& resource) {
        modal_closer_t closer;  // an unreachable resource warns
        column.slot_add_device(model, resource, pugi::xml_node());
        velkaro_ui_test::wait_instruments_idle();
        item = column.get_device_items().front();
        window = std::make_unique<ui_primary_window_t>(nullptr, item);
        velkaro_ui_test::wait_instruments_idle();  // the scanner-card check
        window->resize(1100, 650);
    }
    ~bench_t() {
        if (cfg() != nullptr) cfg()->set_run_state(0);
        window.reset();
    }
    cfg_main_t* cfg() const { return item && item->get_mngr() ? item->get_mngr()->get_cfg() : nullptr; }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }
    QString text(const char* name) const { return label(name)->text(); }
    QList<QLabel*> params() const { return window->findChildren<QLabel*>("measure_data_param"); }
    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(name); }
    ui_measure_frame_t* frame() const { return window->findChild<ui_measure_frame_t*>("measure_frame"); }
    // The texts of the SCPI console's notice lines.
    QStringList notices() const {
        QStringList out;
        for (QLabel* l : window->findChildren<QLabel*>("scpi_log_entry"))
            if (l->property("log_kind").toString() == "notice") out << l->text();
        return out;
    }
    bool shows_reading() const { return text("measure_data").contains(QRegularExpression("^[0-9.]{8}$")); }
    QStringList click(const char* name) {
        modal_closer_t closer;
        button(name)->click();
        QCoreApplication::processEvents();
        return closer.seen();
    }
};

std::string unreachable() { return "TCPIP0::127.77.1.1::inst0::INSTR"; }

}  // namespace

class test_measure_frame_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void digit_field_data();
    void digit_field();
    void layout_and_initial_texts();
    void run_stop_and_refusals();
    void function_change_while_running();
    void overload_on_a_small_manual_range();
    void delete_clears_display_and_buffer();
    void notices_and_write_failure_told_once_per_run();
    void dropped_pieces_are_console_lines_at_a_bounded_rate();
    void dropped_pieces_of_a_hostile_instrument_reach_the_console();
    void front_panel_fits_and_reads_in_the_main_window();
    void save_exports_the_buffer();
    void setting_and_data_dialogs();
    void run_strip_shows_rec_count_statistics_and_the_automatic_stop();
    void stop_text_names_the_rule_and_the_file_data();
    void stop_text_names_the_rule_and_the_file();
};

void test_measure_frame_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    QVERIFY(ui_application_t::install_style_and_font());
}

void test_measure_frame_t::digit_field_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("function");
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("temp_display");
    QTest::addColumn<int>("temp_unit");
    QTest::addColumn<QString>("polarity");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("unit");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto row = [](const char* name, double v, int f, const char* range, const char* pol,
                  const QString& digits, const char* prefix, const QString& unit, int temp_display = 0,
                  int temp_unit = 0) {
        QTest::newRow(name) << v << f << QString::fromUtf8(range) << temp_display << temp_unit << QString(pol)
                            << digits << QString(prefix) << unit;
    };
    row("123.456 mV on 200mV", 0.123456, measure_dcv, "200mV", "+", "123.4560", "m", "VDC");
    row("1.5 mV on 200mV", 0.0015, measure_dcv, "200mV", "+", "001.5000", "m", "VDC");
    row("0.012345 V on 2V", 0.012345, measure_dcv, "2V", "+", "0.012345", "", "VDC");
    row("50 Hz, six decimals cut to 8", 50.0, measure_freq, "", "+", "50.00000", "", "Hz");
    row("1.2345 V on 200mV moves the prefix up", 1.2345, measure_dcv, "200mV", "+", "001.2345", "", "VDC");
    row("0 shows +", 0.0, measure_dcv, "2V", "+", "0.000000", "", "VDC");
    row("-0 shows +", -0.0, measure_dcv, "2V", "+", "0.000000", "", "VDC");
    row("negative", -0.5, measure_dcv, "2V", "-", "0.500000", "", "VDC");
    row("1000V range keeps 3 decimals", 123.4, measure_dcv, "1000V", "+", "0123.400", "", "VDC");
    row("kilo-ohm", 1234.5, measure_res_2w, "2kΩ", "+", "1.234500", "k", "Ω");
    row("auto range follows the value", 0.0123, measure_acv, "", "+", "12.30000", "m", "VAC");
    row("micro range with the Greek sign", 5e-5, measure_dci, "200μA", "+", "050.0000", "u", "ADC");
    row("capacitance, two range digits", 4.7e-9, measure_cap, "20nF", "+", "04.70000", "n", "F");
    row("temperature in celsius", 23.5, measure_temp, "", "+", "23.50000", "", "℃");
    row("temperature in fahrenheit", 74.3, measure_temp, "", "+", "74.30000", "", "℉", 0, 1);
    row("temperature shown as voltage", 23.5, measure_temp, "", "+", "23.50000", "", "VDC", 1, 0);
    row("overload", 9.9e37, measure_dcv, "200mV", "", "OVERLOAD", "", "VDC");
    row("negative overload", -9.9e37, measure_aci, "2A", "", "OVERLOAD", "", "AAC");
    row("open diode", 9.9e37, measure_diode, "", "", "OPEN", "", "");
    row("open continuity", 9.9e37, measure_cont, "", "", "OPEN", "", "");
    row("no reading", 9.91e37, measure_dcv, "2V", "", placeholder, "", "VDC");
    row("NaN", nan, measure_dcv, "2V", "", placeholder, "", "VDC");
    row("infinity", inf, measure_dcv, "2V", "", placeholder, "", "VDC");
}

void test_measure_frame_t::digit_field() {
    QFETCH(double, value);
    QFETCH(int, function);
    QFETCH(QString, range);
    QFETCH(int, temp_display);
    QFETCH(int, temp_unit);
    ui_measure_format_input_t in;
    in.function = static_cast<plib_measure_type_t>(function);
    in.range = range.toStdString();
    in.temp_display = temp_display;
    in.temp_unit = temp_unit;
    const ui_measure_reading_text_t out = ui_format_measure_reading(value, in);
    QTEST(out.polarity, "polarity");
    QTEST(out.digits, "digits");
    QTEST(out.prefix, "prefix");
    QTEST(out.unit, "unit");
}

void test_measure_frame_t::layout_and_initial_texts() {
    bench_t bench("VXA-2", unreachable());
    QCOMPARE(bench.text("measure_data"), placeholder);
    QVERIFY(bench.label("measure_data_polarity")->isHidden());
    QCOMPARE(bench.text("measure_data_function"), QString("DC Voltage"));
    QCOMPARE(bench.text("measure_data_unit"), QString::fromUtf8("— —"));
    QCOMPARE(bench.params().size(), 2);
    for (QLabel* l : bench.params()) QVERIFY(l->text().isEmpty());
    QCOMPARE(bench.text("measure_acq_status_label"), QString("OFF"));
    QCOMPARE(bench.label("measure_data_polarity")->maximumWidth(), 80);
    QCOMPARE(bench.label("measure_data_function")->maximumHeight(), 80);
    QWidget* buttons = bench.window->findChild<QWidget*>("config_btns_widget");
    QVERIFY(buttons != nullptr);
    QCOMPARE(buttons->maximumHeight(), 100);
    QStringList texts;
    for (const char* name : {"measure_run_stop_btn", "measure_setting_btn", "measure_data_btn",
                             "measure_save_btn", "measure_delete_btn"}) {
        QPushButton* b = bench.button(name);
        QVERIFY2(b != nullptr, name);
        QCOMPARE(b->size(), QSize(130, 50));
        QVERIFY(!b->icon().isNull());
        texts << b->text();
    }
    QCOMPARE(texts, QStringList({"Run/Stop", "Setting", "Data", "Save", "Delete"}));
}

void test_measure_frame_t::run_stop_and_refusals() {
    {
        bench_t off("VXA-2", unreachable());
        QCOMPARE(off.click("measure_run_stop_btn"),
                 QStringList({"Warning|It's not connected to the device yet."}));
        QCOMPARE(off.cfg()->get_run_state(), 0);
        QCOMPARE(off.text("measure_acq_status_label"), QString("OFF"));
    }

    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench("VXA-2", sim.instr_resource());
    QVERIFY(bench.item->is_connected());
    QSignalSpy uploads(bench.frame(), &ui_measure_frame_t::signal_upload_latest_disp_data);

    // Refused while scanning.
    bench.cfg()->set_scan_run_state(1);
    QCOMPARE(bench.cfg()->get_scan_run_state(), 1);
    QCOMPARE(bench.click("measure_run_stop_btn"),
             QStringList({"Warning|Scanning mode is in use, disable on measurement!"}));
    QCOMPARE(bench.cfg()->get_run_state(), 0);
    bench.cfg()->set_scan_run_state(0);

    QCOMPARE(bench.click("measure_run_stop_btn"), QStringList());
    QTRY_COMPARE(bench.cfg()->get_run_state(), 1);  // started on the instrument's lane
    QTRY_COMPARE_WITH_TIMEOUT(bench.text("measure_acq_status_label"), QString("ON"), reading_wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT(bench.shows_reading(), reading_wait_ms);
    QCOMPARE(bench.text("measure_data_polarity"), QString("+"));
    QVERIFY(!bench.label("measure_data_polarity")->isHidden());
    QVERIFY(bench.text("measure_data_unit").endsWith("VDC"));
    // Default DC voltage is in auto range: the range the instrument reports, and "Auto".
    QVERIFY(!bench.params()[0]->text().isEmpty());
    QCOMPARE(bench.params()[1]->text(), QString("Auto"));
    QCOMPARE(bench.item->get_mode_text(), std::string("Measure"));

    // What the diagram receives is what the display shows.
    QVERIFY(!uploads.isEmpty());
    const auto last = uploads.last().first().value<plib_measure_data_disp_t>();
    QCOMPARE(last.polarity, bench.text("measure_data_polarity"));
    QCOMPARE(last.value, bench.text("measure_data"));
    QCOMPARE(last.prefix + last.unit, bench.text("measure_data_unit"));

    QCOMPARE(bench.click("measure_run_stop_btn"), QStringList());
    QTRY_COMPARE(bench.cfg()->get_run_state(), 0);
    QTRY_COMPARE(bench.text("measure_acq_status_label"), QString("OFF"));
    QVERIFY(bench.shows_reading());  // the last reading stays
}

void test_measure_frame_t::function_change_while_running() {
    velkaro_test::sim_process_t sim("VXB-1");
    QVERIFY(sim.ok());
    bench_t bench("VXB-1", sim.instr_resource());
    QSignalSpy diagram(bench.frame(), &ui_measure_frame_t::signal_update_diagram_func);
    QSignalSpy notes(bench.window.get(), &ui_primary_window_t::signal_recv_acq_notify);
    bench.click("measure_run_stop_btn");
    QTRY_VERIFY_WITH_TIMEOUT(bench.shows_reading(), reading_wait_ms);
    QVERIFY(bench.text("measure_data_unit").endsWith("VDC"));

    // The function selector: the page shows the new function at once; the instrument
    // gets it (and the restart) on its lane.
    auto* selector = bench.window->findChild<QComboBox*>("measure_function_selector");
    QVERIFY(selector != nullptr);
    selector->setCurrentIndex(measure_acv);
    QCOMPARE(diagram.count(), 1);
    QCOMPARE(bench.text("measure_data"), placeholder);
    QVERIFY(bench.label("measure_data_polarity")->isHidden());
    QCOMPARE(bench.text("measure_data_function"), QString("AC Voltage"));
    QCOMPARE(bench.text("measure_data_unit"), QString("VAC"));
    for (QLabel* l : bench.params()) QVERIFY(l->text().isEmpty());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    QCOMPARE(bench.cfg()->get_function(), int(measure_acv));
    QCOMPARE(bench.cfg()->get_run_state(), 1);  // restarted

    QTRY_VERIFY_WITH_TIMEOUT(bench.shows_reading(), reading_wait_ms);
    QVERIFY(bench.text("measure_data_unit").endsWith("VAC"));
    QCOMPARE(bench.text("measure_acq_status_label"), QString("ON"));
    int starts = 0, stops = 0;
    for (const auto& n : notes) {
        starts += n.first().value<plib_acq_notify_t>() == acq_notify_start;
        stops += n.first().value<plib_acq_notify_t>() == acq_notify_stop;
    }
    QCOMPARE(starts, 2);
    QCOMPARE(stops, 1);
}

void test_measure_frame_t::overload_on_a_small_manual_range() {
    velkaro_test::sim_process_t sim("VXA-2");  // feeds about 1.23 V on DC voltage
    QVERIFY(sim.ok());
    bench_t bench("VXA-2", sim.instr_resource());
    bench.cfg()->set_auto_range(measure_dcv, 0);
    bench.cfg()->set_range(measure_dcv, "200mV");
    bench.click("measure_run_stop_btn");
    QTRY_COMPARE_WITH_TIMEOUT(bench.text("measure_data"), QString("OVERLOAD"), reading_wait_ms);
    QVERIFY(bench.label("measure_data_polarity")->isHidden());
    QCOMPARE(bench.text("measure_data_unit"), QString("VDC"));
    QCOMPARE(bench.params()[0]->text(), QString("200mV"));
    QCOMPARE(bench.params()[1]->text(), QString("Manual"));
}

void test_measure_frame_t::delete_clears_display_and_buffer() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench("VXA-2", sim.instr_resource());
    bench.click("measure_run_stop_btn");
    QTRY_VERIFY_WITH_TIMEOUT(bench.shows_reading() && bench.cfg()->get_total_count() > 0, reading_wait_ms);
    bench.click("measure_run_stop_btn");
    QTRY_COMPARE(bench.text("measure_acq_status_label"), QString("OFF"));
    unsigned int buffered = 0;
    bench.item->get_mngr()->get_acq()->m_acq_original_data_num_msg.fetch(buffered);
    QVERIFY(buffered > 0);

    QCOMPARE(bench.click("measure_delete_btn"), QStringList());  // no confirmation
    QCOMPARE(bench.text("measure_data"), placeholder);
    QVERIFY(bench.label("measure_data_polarity")->isHidden());
    for (QLabel* l : bench.params()) QVERIFY(l->text().isEmpty());
    bench.item->get_mngr()->get_acq()->m_acq_original_data_num_msg.fetch(buffered);
    QCOMPARE(buffered, 0u);
}

void test_measure_frame_t::notices_and_write_failure_told_once_per_run() {
    bench_t bench("VXA-2", unreachable());
    ui_primary_window_t* w = bench.window.get();
    modal_closer_t closer;
    emit w->signal_recv_acq_notify(acq_notify_buffer_full);
    QCOMPARE(closer.seen(), QStringList({"Notice|Data buffer is full. Stop data collection now."}));

    closer.clear();
    emit w->signal_recv_acq_notify(acq_notify_record_write_failed);
    emit w->signal_recv_acq_notify(acq_notify_record_write_failed);
    QCOMPARE(closer.count(), 1);
    QVERIFY(closer.seen().first().startsWith("Warning|Writing to the record file failed"));
    QVERIFY(closer.seen().first().contains("Measuring goes on"));

    // A new run may fail again and is told again.
    emit w->signal_recv_acq_notify(acq_notify_start);
    QCOMPARE(bench.text("measure_acq_status_label"), QString("ON"));
    emit w->signal_recv_acq_notify(acq_notify_record_write_failed);
    QCOMPARE(closer.count(), 2);
    emit w->signal_recv_acq_notify(acq_notify_stop);
    QCOMPARE(bench.text("measure_acq_status_label"), QString("OFF"));
}

// Drops in quick succession give one line; those within the interval are told in one
// more line when it ends, and nothing more comes without a new drop.
void test_measure_frame_t::dropped_pieces_are_console_lines_at_a_bounded_rate() {
    bench_t bench("VXA-2", unreachable());
    ui_primary_window_t* w = bench.window.get();
    bench.frame()->set_dropped_line_interval_ms(100);
    QVERIFY(bench.notices().isEmpty());
    for (int i = 0; i < 5; ++i) emit w->signal_recv_acq_notify(acq_notify_pieces_dropped);
    QCOMPARE(bench.notices().size(), 1);
    QVERIFY(bench.notices().first().contains("not numbers; they were dropped, not logged as readings"));
    QTRY_COMPARE(bench.notices().size(), 2);  // the four later drops, in one line
    QTest::qWait(300);
    QCOMPARE(bench.notices().size(), 2);  // no drop, no line
    emit w->signal_recv_acq_notify(acq_notify_pieces_dropped);
    QTRY_COMPARE(bench.notices().size(), 3);
}

// End to end: an instrument whose "R?" blocks hold pieces that are no number. The
// readings go on, the pieces are counted, and the console says how many.
void test_measure_frame_t::dropped_pieces_of_a_hostile_instrument_reach_the_console() {
    velkaro_test::sim_process_t sim("VXA-2", {"--non-numbers", "3"});
    QVERIFY(sim.ok());
    bench_t bench("VXA-2", sim.instr_resource());
    bench.click("measure_run_stop_btn");
    QTRY_VERIFY_WITH_TIMEOUT(!bench.notices().isEmpty(), reading_wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT(bench.shows_reading() && bench.cfg()->get_total_count() > 0, reading_wait_ms);
    const QRegularExpression count("\\(([0-9]+) this run\\)\\.$");
    const auto match = count.match(bench.notices().first());
    QVERIFY2(match.hasMatch(), qPrintable(bench.notices().first()));
    QVERIFY(match.captured(1).toULongLong() >= 3);
    bench.click("measure_run_stop_btn");
    QTRY_COMPARE(bench.text("measure_acq_status_label"), QString("OFF"));
    QVERIFY(bench.cfg()->get_run_state_info().dropped_count >= match.captured(1).toULongLong());
}

namespace {

// The label shows all of its text: it is at least as large as the text needs.
void verify_not_clipped(QWidget* window, const char* name) {
    for (QLabel* l : window->findChildren<QLabel*>(name)) {
        if (l->isHidden() || l->text().isEmpty()) continue;
        const QSize need = l->fontMetrics().size(0, l->text());
        QVERIFY2(l->contentsRect().width() >= need.width() && l->contentsRect().height() >= need.height(),
                 qPrintable(QString("%1 \"%2\" needs %3x%4, has %5x%6")
                                .arg(name, l->text())
                                .arg(need.width())
                                .arg(need.height())
                                .arg(l->contentsRect().width())
                                .arg(l->contentsRect().height())));
    }
}

// Some pixels of the label are drawn in the display blue: the text is not lost in its background.
int blue_pixels(QWidget* label) {
    const QImage image = label->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += qAbs(c.red() - 0x2D) < 40 && qAbs(c.green() - 0x97) < 40 && qAbs(c.blue() - 0xD4) < 40;
        }
    return n;
}

}  // namespace

// Two simulated instruments in the main window as the user sees them, at the scale the
// test runs with (QT_SCALE_FACTOR): every text of the display fits and is drawn. With
// VELKARO_SCREENSHOT_DIR set the states are also saved as pictures.
void test_measure_frame_t::front_panel_fits_and_reads_in_the_main_window() {
    velkaro_test::sim_process_t vxa("VXA-2");
    velkaro_test::sim_process_t vxb("VXB-1");
    QVERIFY(vxa.ok() && vxb.ok());
    ui_main_window_t main_window("");
    main_window.resize(1500, 800);
    main_window.device_column()->slot_add_device("VXA-2", vxa.instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    main_window.device_column()->slot_add_device("VXB-1", vxb.instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    main_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main_window));
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    auto check_and_save = [&](ui_primary_window_t* w, const QString& tag) {
        QTest::qWait(50);  // the layout follows a new text on the next turn
        for (const char* name : {"measure_data", "measure_data_polarity", "measure_data_unit",
                                 "measure_data_function", "measure_data_param", "measure_acq_status_label",
                                 "measure_stat_min", "measure_stat_max", "measure_stat_mean", "measure_run_count"})
            verify_not_clipped(w, name);
        QVERIFY(blue_pixels(w->findChild<QLabel*>("measure_data")) > 100);
        QVERIFY(blue_pixels(w->findChild<QLabel*>("measure_data_unit")) > 20);
        if (!dir.isEmpty())
            QVERIFY(main_window.grab().save(QString("%1/measure-%2-x%3.png").arg(dir, tag, scale)));
    };

    const std::vector<ui_device_item_t*> items = main_window.device_column()->get_device_items();
    for (ui_device_item_t* item : items) {
        QTest::mouseDClick(item, Qt::LeftButton, {}, QPoint(5, 5));  // as the user brings it up
        ui_primary_window_t* w = main_window.primary_window_of(item);
        QVERIFY(item->is_active() && main_window.window_stack()->stacked_layout()->currentWidget() == w);
        w->findChild<QPushButton*>("measure_run_stop_btn")->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            w->findChild<QLabel*>("measure_data")->text().contains(QRegularExpression("^[0-9.]{8}$")),
            reading_wait_ms);
        QTest::qWait(300);  // the range labels of the next reading
        check_and_save(w, QString::fromStdString(item->get_model_name()));
        if (QTest::currentTestFailed()) return;
    }

    ui_primary_window_t* w = main_window.primary_window_of(items.front());
    QTest::mouseDClick(items.front(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(main_window.window_stack()->stacked_layout()->currentWidget() == w);
    cfg_main_t* cfg = items.front()->get_mngr()->get_cfg();
    cfg->set_auto_range(measure_dcv, 0);
    cfg->set_range(measure_dcv, "200mV");
    QTRY_COMPARE_WITH_TIMEOUT(w->findChild<QLabel*>("measure_data")->text(), QString("OVERLOAD"),
                              reading_wait_ms);
    check_and_save(w, "overload");
    for (ui_device_item_t* item : items) item->get_mngr()->get_cfg()->set_run_state(0);
}

namespace {

// Answers the file dialog with `path` (accepts it) and every message box with Ok.
class file_dialog_answer_t : public QObject {
public:
    explicit file_dialog_answer_t(const QString& path) : m_path(path) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { _poll(); });
        m_timer.start();
    }
    QStringList boxes;
    QString title;
    bool gave_up = false;

private:
    void _poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            // The dialog may need a few turns to take the name; give up rather than hang.
            if (++m_tries > max_tries) {
                gave_up = true;
                dialog->reject();
                return;
            }
            title = dialog->windowTitle();
            const QFileInfo target(m_path);
            if (dialog != m_last) {
                // Once per dialog: its directory, and the name typed as a user would. (Set
                // again at every poll, the dialog restarted its background listing each
                // time and, on a loaded machine, never settled.)
                m_last = dialog;
                dialog->setDirectory(target.absolutePath());
                if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) {
                    name->setText(target.fileName());
                } else {
                    dialog->selectFile(target.fileName());
                }
            }
            // Accept only once the dialog holds the name.
            const QString chosen = dialog->selectedFiles().value(0);
            const bool same_dir = QFileInfo(chosen).dir().canonicalPath() == target.dir().canonicalPath();
            if (chosen == m_path || (same_dir && QFileInfo(chosen).fileName() == target.fileName()))
                static_cast<QDialog*>(dialog)->accept();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->windowTitle() + "|" + box->text();
            box->button(QMessageBox::Ok)->click();
        }
    }
    static constexpr int max_tries = 3000;  // 30 s of polls: a loaded machine lists directories slowly
    QString m_path;
    QTimer m_timer;
    QPointer<QFileDialog> m_last;
    int m_tries = 0;
};

}  // namespace

void test_measure_frame_t::save_exports_the_buffer() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    velkaro_test::temp_dir_t dir;
    bench_t bench("VXA-2", sim.instr_resource());
    bench.click("measure_run_stop_btn");
    QTRY_VERIFY_WITH_TIMEOUT(bench.cfg()->get_total_count() >= 3, reading_wait_ms);
    bench.click("measure_run_stop_btn");
    QTRY_COMPARE(bench.text("measure_acq_status_label"), QString("OFF"));

    const QString good = QString::fromStdString(dir.path()) + "/readings.csv";
    {
        file_dialog_answer_t answer(good);
        bench.button("measure_save_btn")->click();
        QCOMPARE(answer.title, QString("Save Data"));
        QCOMPARE(answer.boxes, QStringList());
        QVERIFY2(!answer.gave_up, "the file dialog never took the name");
    }
    QFile file(good);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().count('\n') >= 3);
}

void test_measure_frame_t::setting_and_data_dialogs() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench("VXA-2", sim.instr_resource());
    {
        // Setting: modal, closed by the user.
        modal_closer_t closer(QMessageBox::Ok, true);
        bench.button("measure_setting_btn")->click();
        QCOMPARE(closer.count(), 1);
        QVERIFY(closer.seen().first().startsWith("dialog|"));
    }
    // Data: shown without blocking; it goes when the instrument is released.
    bench.button("measure_data_btn")->click();
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QPointer<QDialog> data_list = bench.window->findChild<QDialog*>();
    QVERIFY(data_list != nullptr);
    QVERIFY(data_list->isVisible());
    bench.column.slot_del_device(bench.item->get_index());
    bench.item = nullptr;  // deleted later
    QVERIFY(data_list == nullptr || !data_list->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(data_list == nullptr);
    bench.window.reset();
}


// A run that logs and stops after 12 readings: REC while it runs, then the count, the
// statistics of exactly those readings and a note (page and console) naming the rule and
// the file.
void test_measure_frame_t::run_strip_shows_rec_count_statistics_and_the_automatic_stop() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    velkaro_test::temp_dir_t dir;
    bench_t bench("VXA-2", sim.instr_resource());
    cfg_main_t* cfg = bench.cfg();
    cfg->set_record_directory(dir.path());
    cfg->set_record_position(1);
    cfg->set_auto_enable(true);
    cfg->set_auto_stop_mode(acq_auto_stop_by_count);
    cfg->set_stop_num(12);
    ui_measure_run_info_widget_t* strip = bench.frame()->run_info_widget();
    QVERIFY(!strip->rec_visible());

    bench.click("measure_run_stop_btn");
    QTRY_VERIFY_WITH_TIMEOUT(strip->rec_visible() || cfg->get_run_state() == 0, reading_wait_ms);
    const bool rec_seen = strip->rec_visible();
    QTRY_COMPARE_WITH_TIMEOUT(cfg->get_run_state(), 0, reading_wait_ms);
    QTRY_COMPARE(bench.text("measure_acq_status_label"), QString("OFF"));
    Q_UNUSED(rec_seen);  // a 12-reading run may end between two looks
    QVERIFY(!strip->rec_visible());  // not running any more

    const plib_record_run_state_info_t info = cfg->get_run_state_info();
    QCOMPARE(info.stop_cause, acq_stop_by_count);
    QCOMPARE(strip->count_text(), QString("12 readings"));
    QCOMPARE(strip->statistic_text("measure_stat_count"), QString("12"));
    std::vector<plib_data_t> readings;
    bench.item->get_mngr()->get_acq()->m_acq_original_data_list_msg.fetch(readings);
    QCOMPARE(readings.size(), std::size_t(12));
    double lo = readings[0].value, hi = readings[0].value;
    for (const plib_data_t& d : readings) {
        lo = std::min(lo, d.value);
        hi = std::max(hi, d.value);
    }
    QCOMPARE(strip->statistic_text("measure_stat_min"), ui_value_unit_text(lo, "VDC"));
    QCOMPARE(strip->statistic_text("measure_stat_max"), ui_value_unit_text(hi, "VDC"));
    QVERIFY(strip->statistic_text("measure_stat_mean").endsWith("VDC"));

    const QString path = QDir::toNativeSeparators(QString::fromStdString(info.record_path));
    QVERIFY(!info.record_path.empty());
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(path.startsWith(QString::fromStdString(dir.path())));
    QCOMPARE(strip->note_text(), "Stopped automatically after 12 readings. Record file: " + path);
    QTRY_VERIFY(bench.notices().contains("Measure: " + strip->note_text()));

    // REC shows exactly while a run logs; the time reads as a clock past a minute.
    plib_record_run_state_info_t logging = info;
    logging.recording = true;
    logging.elapsed_s = 3725.0;
    strip->show_info(logging, true, "VDC");
    QVERIFY(strip->rec_visible());
    QCOMPARE(strip->elapsed_text(), QString("1:02:05"));
    strip->show_info(logging, false, "VDC");
    QVERIFY(!strip->rec_visible());
    logging.recording = false;
    strip->show_info(logging, true, "VDC");
    QVERIFY(!strip->rec_visible());

    // Delete clears the figures with the buffer.
    bench.click("measure_delete_btn");
    QCOMPARE(strip->statistic_text("measure_stat_count"), QString("0"));
    QCOMPARE(strip->statistic_text("measure_stat_mean"), QString("-"));
}

void test_measure_frame_t::stop_text_names_the_rule_and_the_file_data() {
    QTest::addColumn<int>("cause");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("by time") << int(acq_stop_by_time) << QString()
                             << "Stopped automatically after 2.5 s (40 readings).";
    QTest::newRow("by count, file") << int(acq_stop_by_count) << "/d/a.csv"
                                    << "Stopped automatically after 100 readings. Record file: /d/a.csv";
    QTest::newRow("buffer full") << int(acq_stop_buffer_full) << QString()
                                 << "Stopped: the data buffer was full (40 readings).";
    QTest::newRow("asked, file") << int(acq_stop_requested) << "/d/b.csv" << "Record file: /d/b.csv";
    QTest::newRow("asked, no file") << int(acq_stop_requested) << QString() << QString();
}

void test_measure_frame_t::stop_text_names_the_rule_and_the_file() {
    QFETCH(int, cause);
    QFETCH(QString, file);
    QFETCH(QString, expected);
    plib_record_run_state_info_t info;
    info.stop_cause = static_cast<plib_acq_stop_cause_t>(cause);
    info.total_count = 40;
    info.record_path = file.toStdString();
    QCOMPARE(ui_measure_frame_t::stop_text(info, 2.5, 100), expected);
}

QTEST_MAIN(test_measure_frame_t)
#include "test_measure_frame.moc"
