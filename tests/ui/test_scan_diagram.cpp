// The Scan Diagram page: rows and curves follow the channels of the scan, the range
// cells' edit rules, loading without signals, the texts of computed ranges, readings and
// range cells, colours from the table to the curves, and a stored window that a bad
// project section cannot replace.
#include <qwt_plot_curve.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>
#include <qwt_plot.h>
#include <qwt_scale_draw.h>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <pugixml.hpp>
#include <random>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "cfg/cfg_scan_diagram.h"
#include "common/plib_measure_type.h"
#include "support/sim_process.h"
#include "ui/chart/ui_scan_channel_store.h"
#include "ui/chart/ui_scan_trend_chart.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui/ui_primary_window/ui_scan_diagram_config_widget.h"
#include "ui/ui_primary_window/ui_scan_diagram_frame.h"
#include "ui/ui_time_edit_widget.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;
using config_t = ui_scan_diagram_config_widget_t;

Q_DECLARE_METATYPE(plib_scan_trend_display_mode_t)
Q_DECLARE_METATYPE(QwtSymbol::Style)

namespace {

constexpr int scan_wait_ms = 15000;

// One instrument in a device column and its window, as the main window builds them.
struct bench_t {
    ui_device_column_t column;
    ui_device_item_t* item = nullptr;
    std::unique_ptr<ui_primary_window_t> window;

    explicit bench_t(const std::string& resource) {
        modal_closer_t closer;
        column.slot_add_device("VXA-2", resource, pugi::xml_node());
        velkaro_ui_test::wait_instruments_idle();  // the connect runs in the background
        item = column.get_device_items().front();
        window = std::make_unique<ui_primary_window_t>(nullptr, item);
        velkaro_ui_test::wait_instruments_idle();  // the scanner-card check
        window->resize(1400, 900);
    }
    ~bench_t() {
        if (cfg() != nullptr) cfg()->set_scan_run_state(0);
        window.reset();
    }
    cfg_main_t* cfg() const { return item && item->get_mngr() ? item->get_mngr()->get_cfg() : nullptr; }
    ui_scan_diagram_frame_t* frame() const {
        return window->findChild<ui_scan_diagram_frame_t*>("scan_diag_frame");
    }
    ui_scan_trend_chart_t* chart() const {
        return window->findChild<ui_scan_trend_chart_t*>("scan_diagram_trend_chart");
    }
    QTableWidget* table() const { return window->findChild<QTableWidget*>("scan_channel_config_widget"); }
};

template <typename W>
W* cell(QTableWidget* table, int row, int column) {
    QWidget* w = table->cellWidget(row, column);
    if (w == nullptr) return nullptr;
    if (auto* direct = qobject_cast<W*>(w)) return direct;
    return w->findChild<W*>();
}

QString label_text(QTableWidget* table, int row, int column) {
    return cell<QLabel>(table, row, column)->text();
}

QVector<ui_scan_diagram_row_t> rows_of(int n, bool valid, bool auto_range) {
    QVector<ui_scan_diagram_row_t> rows(n);
    for (int i = 0; i < n; ++i) {
        rows[i].valid = valid;
        rows[i].auto_range = auto_range;
        rows[i].upper = 10.0;
        rows[i].lower = 0.0;
        rows[i].color = cfg_scan_diagram_default_color(i + 1);
    }
    return rows;
}

// Edits a range cell the way the user does: double-click, type, Return.
void edit_cell(QTableWidget* table, int row, int column, const QString& text) {
    QTableWidgetItem* item = table->item(row, column);
    table->scrollToItem(item);
    const QPoint at = table->visualItemRect(item).center();
    // The view opens its editor on the second press's double-click event.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QLineEdit* editor = nullptr;
    for (QLineEdit* e : table->viewport()->findChildren<QLineEdit*>()) {
        if (e->isVisible()) editor = e;
    }
    QVERIFY2(editor != nullptr, "no editor opened");
    editor->selectAll();
    editor->del();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();  // the commit is queued
    // An editor whose text its validator refuses stays open: Escape leaves it.
    if (editor->isVisible()) QTest::keyClick(editor, Qt::Key_Escape);
    QCoreApplication::processEvents();
}

}  // namespace

class test_scan_diagram_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void new_instrument_page_and_manual_window();
    void scan_start_shows_only_the_valid_channels();
    void range_cell_rules_data();
    void range_cell_rules();
    void loading_emits_no_signal();
    void computed_range_and_cell_texts();
    void chosen_colour_reaches_the_curve();
    void bad_project_window_keeps_the_previous_one();
    void channel_store_follows_engine_tails();
    void choosing_a_row_gives_the_value_axis();
    void curve_pick_and_common_axis_box_reach_the_other_side();
    void colour_without_alpha_is_a_valid_style_data();
    void colour_without_alpha_is_a_valid_style();
};

void test_scan_diagram_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    qRegisterMetaType<plib_scan_trend_display_mode_t>();
    qRegisterMetaType<QwtSymbol::Style>();
    qRegisterMetaType<QRgb>("QRgb");
    qRegisterMetaType<Qt::PenStyle>("Qt::PenStyle");
}

// A new instrument: every row hidden, default colours, solid lines, circles, auto range
// on with locked range cells, no curve attached; "Manual" offers 0 to 60 seconds.
void test_scan_diagram_t::new_instrument_page_and_manual_window() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench(sim.instr_resource());
    QVERIFY(bench.item->is_connected());
    QVERIFY(bench.frame() != nullptr);
    QTableWidget* table = bench.table();
    QCOMPARE(table->rowCount(), 16);
    QCOMPARE(table->columnCount(), 10);
    QCOMPARE(table->horizontalHeaderItem(config_t::col_upper)->text(), QString("Upper Range"));
    const QRgb defaults[16] = {0xA6CEE3, 0x1F78B4, 0xFF658F, 0xB2DF8A, 0x33A02C, 0xFB9A99,
                               0xE31A1C, 0xFDBF6F, 0xFF7F00, 0xCAB2D6, 0x6A3D9A, 0xFFFF99,
                               0x8DD3C7, 0xB15928, 0xBEBADA, 0xC86464};
    for (int row = 0; row < 16; ++row) {
        const int ch = row + 1;
        QVERIFY2(table->isRowHidden(row), qPrintable(QString::number(ch)));
        auto* color = cell<ui_scan_diagram_color_btn_t>(table, row, config_t::col_color);
        QCOMPARE(color->color(), defaults[row]);
        QCOMPARE(color->styleSheet(), "background-color: #" + QString::number(defaults[row], 16));
        QCOMPARE(bench.chart()->curve(ch)->pen().color(), QColor::fromRgb(defaults[row]));
        QCOMPARE(cell<QComboBox>(table, row, config_t::col_line)->currentText(), QString("Solid"));
        QCOMPARE(cell<QComboBox>(table, row, config_t::col_symbol)->currentText(), QString("Circle"));
        QVERIFY(cell<QCheckBox>(table, row, config_t::col_auto_range)->isChecked());
        QVERIFY(cell<QCheckBox>(table, row, config_t::col_visible)->isChecked());
        QCOMPARE(table->item(row, config_t::col_upper)->flags(), Qt::ItemFlags(Qt::NoItemFlags));
        QCOMPARE(table->item(row, config_t::col_upper)->text(), QString("0.00000"));
        QVERIFY(bench.chart()->curve(ch)->plot() == nullptr);
    }
    QCOMPARE(cell<QComboBox>(table, 0, config_t::col_symbol)->count(), 14);
    QCOMPARE(cell<QComboBox>(table, 0, config_t::col_symbol)->findData(int(QwtSymbol::UTriangle)), -1);

    QList<QRadioButton*> radios = bench.frame()->findChildren<QRadioButton*>();
    QCOMPARE(radios.size(), 2);
    QVERIFY(radios[0]->isChecked());
    auto* start = bench.frame()->findChild<ui_time_edit_widget_t*>("scan_diagram_start_edit");
    auto* end = bench.frame()->findChild<ui_time_edit_widget_t*>("scan_diagram_end_edit");
    QVERIFY(start->parentWidget()->isHidden());
    radios[1]->click();
    QVERIFY(!start->parentWidget()->isHidden());
    QCOMPARE(start->get_seconds(), 0.0);
    QCOMPARE(end->get_seconds(), 60.0);
    QCOMPARE(bench.chart()->get_display_mode(), int(scan_trend_display_manual));
}

// Channels 1 and 5 scan: rows 1 and 5 only, curves 1 and 5 only, names and functions
// from the channel settings; the readings reach the Data column and the computed range
// reaches the range cells.
void test_scan_diagram_t::scan_start_shows_only_the_valid_channels() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench(sim.instr_resource());
    QVERIFY(bench.item->is_connected());
    cfg_scan_config_t* scan = bench.cfg()->get_scan_config();
    plib_scanner_channel_map_t params = scan->get_channel_params();
    for (auto& [ch, p] : params) p.scan_state = (ch == 1 || ch == 5) ? 1 : 0;
    params[5].name = "Pump";
    params[1].func = measure_dcv;
    params[5].func = measure_dcv;
    scan->set_channel_params(params);
    QCOMPARE(scan->apply_scan_config(), 0);
    bench.window->show();
    bench.window->slot_change_current_page(tab_index_scan_diagram);

    bench.cfg()->set_scan_run_state(1);
    QTableWidget* table = bench.table();
    QTRY_VERIFY_WITH_TIMEOUT(!table->isRowHidden(0), scan_wait_ms);
    for (int row = 0; row < 16; ++row) {
        const int ch = row + 1;
        const bool valid = ch == 1 || ch == 5;
        QCOMPARE(table->isRowHidden(row), !valid);
        QCOMPARE(bench.chart()->curve(ch)->plot() != nullptr, valid);
        QCOMPARE(bench.chart()->get_curve_valid(ch), valid);
    }
    QCOMPARE(label_text(table, 4, config_t::col_name), QString("5<Pump>"));
    QCOMPARE(label_text(table, 0, config_t::col_name), QString("1"));
    QCOMPARE(label_text(table, 0, config_t::col_measurement), QString("DC Voltage"));

    QTRY_VERIFY_WITH_TIMEOUT(!table->item(0, config_t::col_data)->text().isEmpty(), scan_wait_ms);
    QVERIFY(table->item(0, config_t::col_data)
                ->text()
                .contains(QRegularExpression("^-?[0-9]+\\.[0-9]{5}[pnumkMGT]?$")));
    QTRY_VERIFY_WITH_TIMEOUT(bench.chart()->curve(1)->dataSize() > 0, scan_wait_ms);
    QVERIFY(bench.chart()->curve(2)->dataSize() == 0);
    // The computed range is in the cells as the chart stored it.
    double upper = 0.0;
    double lower = 0.0;
    bench.chart()->get_range(1, upper, lower);
    QCOMPARE(table->item(0, config_t::col_upper)->text(), QString::number(upper));
    QCOMPARE(table->item(0, config_t::col_lower)->text(), QString::number(lower));
    QVERIFY(upper >= lower);
    bench.cfg()->set_scan_run_state(0);
}

// Row 0 starts with upper 10 and lower 0; one edit per case.
void test_scan_diagram_t::range_cell_rules_data() {
    QTest::addColumn<bool>("auto_range");
    QTest::addColumn<bool>("direct");  // the text lands in the cell without the editor's validator
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("upper_after");
    QTest::addColumn<QString>("lower_after");
    QTest::addColumn<bool>("signalled");
    QTest::addColumn<double>("sig_upper");
    QTest::addColumn<double>("sig_lower");
    QTest::newRow("upper accepted") << false << false << int(config_t::col_upper) << "5"
                                    << "5"
                                    << "0.00000" << true << 5.0 << 0.0;
    QTest::newRow("lower accepted") << false << false << int(config_t::col_lower) << "-2.5"
                                    << "10.00000"
                                    << "-2.5" << true << 10.0 << -2.5;
    QTest::newRow("upper below lower restored") << false << false << int(config_t::col_upper) << "-1"
                                                << "10.00000"
                                                << "0.00000" << false << 0.0 << 0.0;
    QTest::newRow("lower above upper restored") << false << false << int(config_t::col_lower) << "11"
                                                << "10.00000"
                                                << "0.00000" << false << 0.0 << 0.0;
    QTest::newRow("empty not committed by the editor") << false << false << int(config_t::col_upper) << ""
                                                       << "10.00000"
                                                       << "0.00000" << false << 0.0 << 0.0;
    QTest::newRow("empty restored") << false << true << int(config_t::col_upper) << ""
                                    << "10.00000"
                                    << "0.00000" << true << 10.0 << 0.0;
    QTest::newRow("lone minus restored") << false << true << int(config_t::col_lower) << "-"
                                         << "10.00000"
                                         << "0.00000" << true << 10.0 << 0.0;
    QTest::newRow("direct lower above upper restored") << false << true << int(config_t::col_lower) << "12"
                                                       << "10.00000"
                                                       << "0.00000" << false << 0.0 << 0.0;
    QTest::newRow("equal accepted") << false << false << int(config_t::col_upper) << "0"
                                    << "0"
                                    << "0.00000" << true << 0.0 << 0.0;
}

void test_scan_diagram_t::range_cell_rules() {
    QFETCH(bool, auto_range);
    QFETCH(bool, direct);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, upper_after);
    QFETCH(QString, lower_after);
    QFETCH(bool, signalled);
    QFETCH(double, sig_upper);
    QFETCH(double, sig_lower);
    config_t widget(nullptr, nullptr, 16);
    widget.resize(1400, 400);
    widget.load(rows_of(16, true, auto_range), scan_trend_display_auto, 0.0, 60.0);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    auto* table = widget.findChild<QTableWidget*>("scan_channel_config_widget");
    QCOMPARE(table->item(0, column)->flags() & Qt::ItemIsEditable, Qt::ItemIsEditable);
    QSignalSpy spy(&widget, &config_t::signal_change_range);
    if (direct) {
        emit table->cellDoubleClicked(0, column);
        table->item(0, column)->setText(typed);
    } else {
        edit_cell(table, 0, column, typed);
    }
    QCOMPARE(table->item(0, config_t::col_upper)->text(), upper_after);
    QCOMPARE(table->item(0, config_t::col_lower)->text(), lower_after);
    QCOMPARE(spy.count(), signalled ? 1 : 0);
    if (signalled) {
        QCOMPARE(spy[0][0].toInt(), 1);
        QCOMPARE(spy[0][1].toDouble(), sig_upper);
        QCOMPARE(spy[0][2].toDouble(), sig_lower);
    }

    // Auto range on locks the cells; off unlocks them again and reports the change.
    QSignalSpy auto_spy(&widget, &config_t::signal_change_auto_range);
    cell<QCheckBox>(table, 0, config_t::col_auto_range)->click();
    QCOMPARE(table->item(0, column)->flags(), Qt::ItemFlags(Qt::NoItemFlags));
    QCOMPARE(auto_spy.count(), 1);
    QCOMPARE(auto_spy[0][1].toBool(), true);
    // A programmatic write is no edit: no range signal, even with a lower above the upper.
    spy.clear();
    widget.slot_update_range(1, 3.0, 5.0);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(table->item(0, config_t::col_upper)->text(), QString("3"));
}

// Loading writes every value and emits none of the area's signals.
void test_scan_diagram_t::loading_emits_no_signal() {
    config_t widget(nullptr, nullptr, 16);
    QList<std::shared_ptr<QSignalSpy>> spies;
    spies << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_disp_mode)
          << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_disp_period)
          << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_visible)
          << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_color)
          << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_line_pattern)
          << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_symbol_pattern)
          << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_auto_range)
          << std::make_shared<QSignalSpy>(&widget, &config_t::signal_change_range);
    QVector<ui_scan_diagram_row_t> rows = rows_of(16, false, true);
    rows[2] = {"3<Pump>",   "DC Current",     true,  false, 0x123456,
               Qt::DotLine, QwtSymbol::Star2, false, 1.5,   -0.25};
    rows[3].valid = true;
    rows[3].line_pattern = 77;  // not offered: no item selected
    widget.load(rows, scan_trend_display_manual, 12.5, 90.0);
    for (const auto& spy : spies) QCOMPARE(spy->count(), 0);

    auto* table = widget.findChild<QTableWidget*>("scan_channel_config_widget");
    QVERIFY(table->isRowHidden(0));
    QVERIFY(!table->isRowHidden(2));
    QCOMPARE(label_text(table, 2, config_t::col_name), QString("3<Pump>"));
    QCOMPARE(label_text(table, 2, config_t::col_measurement), QString("DC Current"));
    QVERIFY(!cell<QCheckBox>(table, 2, config_t::col_visible)->isChecked());
    QCOMPARE(cell<ui_scan_diagram_color_btn_t>(table, 2, config_t::col_color)->color(), QRgb(0x123456));
    QCOMPARE(cell<QComboBox>(table, 2, config_t::col_line)->currentText(), QString("Dot"));
    QCOMPARE(cell<QComboBox>(table, 2, config_t::col_symbol)->currentText(), QString("Hexagram"));
    QCOMPARE(cell<QComboBox>(table, 3, config_t::col_line)->currentIndex(), -1);
    QVERIFY(!cell<QCheckBox>(table, 2, config_t::col_auto_range)->isChecked());
    QCOMPARE(table->item(2, config_t::col_upper)->flags() & Qt::ItemIsEditable, Qt::ItemIsEditable);
    QCOMPARE(table->item(3, config_t::col_upper)->flags(), Qt::ItemFlags(Qt::NoItemFlags));
    QCOMPARE(table->item(2, config_t::col_upper)->text(), QString("1.50000"));
    QCOMPARE(table->item(2, config_t::col_lower)->text(), QString("-0.25000"));
    auto* start = widget.findChild<ui_time_edit_widget_t*>("scan_diagram_start_edit");
    auto* end = widget.findChild<ui_time_edit_widget_t*>("scan_diagram_end_edit");
    QCOMPARE(start->get_seconds(), 12.5);
    QCOMPARE(end->get_seconds(), 90.0);
    QVERIFY(!start->parentWidget()->isHidden());

    // After loading, the user's changes are reported.
    cell<QCheckBox>(table, 2, config_t::col_visible)->click();
    cell<QComboBox>(table, 2, config_t::col_symbol)->setCurrentIndex(0);
    QCOMPARE(spies[2]->count(), 1);
    QCOMPARE(spies[5]->count(), 1);
    QCOMPARE(spies[5]->at(0).at(1).value<QwtSymbol::Style>(), QwtSymbol::Ellipse);
}

// Written texts: a computed range, the range cells' display, the Data column.
void test_scan_diagram_t::computed_range_and_cell_texts() {
    config_t widget(nullptr, nullptr, 16);
    widget.load(rows_of(16, true, true), scan_trend_display_auto, 0.0, 60.0);
    auto* table = widget.findChild<QTableWidget*>("scan_channel_config_widget");
    widget.slot_update_range(2, 0.000123456789, -2.5e-7);
    QCOMPARE(table->item(1, config_t::col_upper)->text(), QString("0.000123457"));
    QCOMPARE(table->item(1, config_t::col_lower)->text(), QString("-2.5e-07"));
    widget.slot_update_range(17, 1.0, 0.0);  // no such row: nothing happens

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        QString text;
        QString shown;
    } display[] = {{"0.2", "200m"},
                   {"-1500", "-1.5k"},
                   {"9.9e37", "OVERLOAD"},
                   {"-9.9e37", "OVERLOAD"},
                   {"nan", ""},
                   {"inf", ""},
                   {"abc", ""},
                   {"0", "0"},
                   {"1234567", "1.23457M"},
                   {"10.00000", "10"}};
    for (const auto& c : display) {
        QCOMPARE(ui_scan_diagram_deleagte_t::display_text_of(c.text), c.shown);
    }
    const struct {
        double value;
        int func;
        QString shown;
    } data[] = {{plib_overload_value, measure_cont, "OPEN"},
                {plib_overload_value, measure_diode, "OPEN"},
                {plib_overload_value, measure_dcv, "OVERLOAD"},
                {-plib_overload_value, measure_dcv, "OVERLOAD"},
                {0.00123456, measure_dcv, "1.23456m"},
                {-12.5, measure_dcv, "-12.50000"},
                {nan, measure_dcv, ""},
                {inf, measure_dcv, ""}};
    for (const auto& c : data) {
        QCOMPARE(config_t::data_text(c.value, c.func), c.shown);
    }
    QCOMPARE(config_t::name_text(3, "Pump"), QString("3<Pump>"));
    QCOMPARE(config_t::name_text(12, ""), QString("12"));
}

// A colour chosen in the dialog goes to the button, the stored settings and the curve.
void test_scan_diagram_t::chosen_colour_reaches_the_curve() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench(sim.instr_resource());
    QVERIFY(bench.item->is_connected());
    auto* button = cell<ui_scan_diagram_color_btn_t>(bench.table(), 2, config_t::col_color);
    bool answered = false;
    QTimer::singleShot(50, [&answered] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        dialog->setCurrentColor(QColor(0x12, 0x34, 0x56));
        dialog->accept();
        answered = true;
    });
    button->click();
    QVERIFY(answered);
    const QRgb chosen = QColor(0x12, 0x34, 0x56).rgba();
    QCOMPARE(button->color(), chosen);
    QCOMPARE(button->styleSheet(), QString("background-color: #ff123456"));
    QCOMPARE(bench.chart()->get_curve_color(3), chosen);
    QCOMPARE(bench.cfg()->scan_diagram()->get_curve_color(3), unsigned(chosen));
    QCOMPARE(bench.chart()->curve(3)->pen().color(), QColor(0x12, 0x34, 0x56));
    QCOMPARE(bench.chart()->curve(3)->symbol()->brush().color(), QColor(0x12, 0x34, 0x56));
    // The other curves keep theirs.
    QCOMPARE(bench.chart()->curve(2)->pen().color(), QColor::fromRgb(0x1F78B4));
}

// A project section whose window starts after it ends keeps the window in use; a page
// built afterwards shows that window.
void test_scan_diagram_t::bad_project_window_keeps_the_previous_one() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench(sim.instr_resource());
    QVERIFY(bench.item->is_connected());
    bench.chart()->set_display_period(10.0, 20.0);
    pugi::xml_document doc;
    QVERIFY(
        doc.load_string("<project><scan_diagram><disp_mode>1</disp_mode><start>100</start><end>50</end>"
                        "</scan_diagram></project>"));
    QCOMPARE(bench.cfg()->load_section(doc.child("project")), 0);
    double start = 0.0;
    double end = 0.0;
    bench.chart()->get_display_period(start, end);
    QCOMPARE(start, 10.0);
    QCOMPARE(end, 20.0);
    QCOMPARE(bench.chart()->get_display_mode(), int(scan_trend_display_manual));

    ui_scan_diagram_frame_t page(nullptr, bench.item);
    auto* start_edit = page.findChild<ui_time_edit_widget_t*>("scan_diagram_start_edit");
    auto* end_edit = page.findChild<ui_time_edit_widget_t*>("scan_diagram_end_edit");
    QCOMPARE(start_edit->get_seconds(), 10.0);
    QCOMPARE(end_edit->get_seconds(), 20.0);
    QVERIFY(!start_edit->parentWidget()->isHidden());
}

// The chart's copy of a channel fed with the engine's new-reading tails (appends, drops
// at the limit, read-outs that come too late and find a gap) holds exactly what the
// engine holds and reduces it like a copy synced from all readings.
void test_scan_diagram_t::channel_store_follows_engine_tails() {
    const uint64_t start = 1733826000000000;
    std::mt19937 rng(11);
    std::deque<plib_data_t> engine;
    uint64_t engine_end = 0;  // index of the engine's next reading
    const std::size_t limit = 5000;
    ui_scan_channel_store_t store;
    int64_t t = static_cast<int64_t>(start);
    int gaps = 0;
    for (int step = 0; step < 400; ++step) {
        const std::size_t n = std::uniform_int_distribution<std::size_t>(0, step % 50 == 0 ? 9000 : 300)(rng);
        for (std::size_t k = 0; k < n; ++k) {
            t += 1000 + static_cast<int64_t>(rng() % 3000);
            engine.push_back({std::normal_distribution<double>(0.0, 1.0)(rng), t});
        }
        engine_end += n;
        while (engine.size() > limit) engine.pop_front();
        if (rng() % 4 == 0) continue;  // this redraw did not happen
        plib_scan_channel_tail_t tail;
        tail.end_index = engine_end;
        tail.oldest_index = engine_end - engine.size();
        tail.first_index = std::max<uint64_t>(store.end_index(), tail.oldest_index);
        gaps += tail.first_index > store.end_index();
        tail.readings.assign(
            engine.begin() + static_cast<std::ptrdiff_t>(tail.first_index - tail.oldest_index), engine.end());
        QVERIFY(store.append_tail(tail, start));
        // A repeated read-out adds nothing.
        QVERIFY(store.append_tail(tail, start));
        QCOMPARE(store.end_index(), engine_end);
        QCOMPARE(store.size(), engine.size());
        for (std::size_t k : {std::size_t(0), engine.size() / 2, engine.size() - 1}) {
            if (engine.empty()) break;
            QCOMPARE(store.timestamp_at(k), engine[k].timestamp);
            QCOMPARE(store.value_at(k), engine[k].value);
        }
    }
    QVERIFY(gaps > 0);
    ui_scan_channel_store_t synced;
    QVERIFY(synced.sync(std::vector<plib_data_t>(engine.begin(), engine.end()), start));
    const chart_column_map_t columns(0.0, synced.last_x(start), 0.0, 600.0);
    const chart_scan_ymap_t ymap(-3.0, 3.0);
    QVector<QPointF> a;
    QVector<QPointF> b;
    store.points(start, columns, ymap, true, a);
    synced.points(start, columns, ymap, true, b);
    QVERIFY(a.size() > 100);
    QCOMPARE(a, b);
    const auto ra = store.normal_range();
    const auto rb = synced.normal_range();
    QCOMPARE(ra.count, rb.count);
    QCOMPARE(ra.min, rb.min);
    QCOMPARE(ra.max, rb.max);
}

// A click on a channel's row puts that channel's values and unit on the value axis.
void test_scan_diagram_t::choosing_a_row_gives_the_value_axis() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench(sim.instr_resource());
    QCOMPARE(bench.chart()->value_axis_channel(), 0);
    bench.table()->setCurrentCell(2, 0);
    QCOMPARE(bench.chart()->value_axis_channel(), 3);
    QVERIFY(bench.chart()->plot()->axisTitle(QwtPlot::yLeft).text().startsWith("CH:3"));
    bench.chart()->set_auto_range(3, false);
    bench.chart()->set_range(3, 2.0, -2.0);
    bench.chart()->redraw_now();
    QCOMPARE(bench.chart()->plot()->axisScaleDraw(QwtPlot::yLeft)->label(30000.0).text(), QString("2"));
}

// A channel picked on the chart becomes the table's current row (without coming back
// as a row choice); the "Common axis per function" box switches the chart's option.
void test_scan_diagram_t::curve_pick_and_common_axis_box_reach_the_other_side() {
    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    bench_t bench(sim.instr_resource());
    QSignalSpy rows(bench.frame()->findChild<config_t*>(), &config_t::signal_select_channel);
    emit bench.chart()->signal_channel_picked(5);
    QCOMPARE(bench.table()->currentRow(), 4);
    QCOMPARE(rows.count(), 0);
    auto* box = bench.frame()->findChild<QCheckBox*>("scan_diagram_common_axis_box");
    QVERIFY(box != nullptr);
    QVERIFY(!box->isChecked());
    QVERIFY(!bench.chart()->get_common_axis());
    box->click();
    QVERIFY(bench.chart()->get_common_axis());
    box->click();
    QVERIFY(!bench.chart()->get_common_axis());
}

void test_scan_diagram_t::colour_without_alpha_is_a_valid_style_data() {
    QTest::addColumn<uint>("stored");
    QTest::addColumn<QString>("style");
    QTest::addColumn<QColor>("drawn");
    QTest::newRow("green, no alpha") << 0x0000FF00u << "background-color: #00ff00" << QColor(0, 255, 0);
    QTest::newRow("blue, no alpha") << 0x000000FFu << "background-color: #0000ff" << QColor(0, 0, 255);
    QTest::newRow("black, no alpha") << 0x00000000u << "background-color: #000000" << QColor(0, 0, 0);
    QTest::newRow("default, no alpha") << 0x00A6CEE3u << "background-color: #a6cee3" << QColor(0xA6, 0xCE, 0xE3);
    QTest::newRow("opaque green") << 0xFF00FF00u << "background-color: #ff00ff00" << QColor(0, 255, 0);
}

// The button is filled with the colour, never the grey of a style Qt could not parse.
void test_scan_diagram_t::colour_without_alpha_is_a_valid_style() {
    QFETCH(uint, stored);
    QFETCH(QString, style);
    QFETCH(QColor, drawn);
    ui_scan_diagram_color_btn_t button;
    button.resize(40, 20);
    button.set_color(stored);
    QCOMPARE(button.styleSheet(), style);
    // The style draws its own bevel over the fill: the middle is nearer the colour than
    // the plain button of a style that did not parse.
    QPushButton plain;
    plain.resize(40, 20);
    plain.setStyleSheet("background-color: #ff00");  // what a padded-less green once gave
    auto middle = [](QWidget& w) {
        const QImage image = w.grab().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    };
    auto distance = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    };
    const QColor got = middle(button);
    QVERIFY2(distance(got, drawn) < distance(middle(plain), drawn) || distance(got, drawn) < 60,
             qPrintable(got.name() + " vs " + drawn.name()));
}

QTEST_MAIN(test_scan_diagram_t)
#include "test_scan_diagram.moc"
