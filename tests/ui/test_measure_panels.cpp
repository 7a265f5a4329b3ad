// The parameter column of the Measure page and its function panels: which rows each
// model gets from its capability records, that a refresh shows the configuration and
// sends nothing, that a user change sends exactly its commands (checked in the
// simulator's command log), the function selector, and Sync of the user-defined
// transducers. Also checks that every panel fits the column, and writes screenshots
// of the panel families when VELKARO_PANEL_SHOTS_DIR names a directory.
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedLayout>
#include <QStyleOptionComboBox>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <memory>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "drv/if/drv_if.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_primary_window/ui_measure_param_widget.h"
#include "ui/ui_primary_window/ui_measure_var_param_base_widget.h"
#include "ui_test_support.h"

using velkaro_test::sim_process_t;
using velkaro_ui_test::modal_closer_t;

namespace {

// A manager for a model, connected to its own simulator when asked; remembers how far
// the simulator's command log has been read.
struct instrument_t {
    std::unique_ptr<sim_process_t> sim;
    std::unique_ptr<plib_mngr_t> mngr;
    size_t log_mark = 0;

    explicit instrument_t(const std::string& model)
        : mngr(std::make_unique<plib_mngr_t>(model, pugi::xml_node())) {}

    cfg_main_t* cfg() const { return mngr->get_cfg(); }

    bool start_sim(const std::string& model, std::vector<std::string> args = {}) {
        sim = std::make_unique<sim_process_t>(model, std::move(args));
        return sim->ok();
    }

    bool connect() {
        cfg_remote_info_t info;
        info.resource = sim->instr_resource();
        cfg()->set_info(info);
        if (cfg()->connect(1) != cfg_remote_t::result_ok) return false;
        mark();
        return true;
    }

    void mark() { log_mark = sim->log_lines().size(); }

    // The commands received since the last call (or connect), and marks the log.
    QStringList new_commands() {
        const std::vector<std::string> lines = sim->log_lines();
        QStringList out;
        for (size_t i = log_mark; i < lines.size(); ++i) out << QString::fromStdString(lines[i]);
        log_mark = lines.size();
        return out;
    }
};

QStringList row_keys(QWidget* panel) {
    QStringList keys;
    QLayout* layout = panel->layout();
    for (int i = 0; i < layout->count(); ++i)
        if (QWidget* w = layout->itemAt(i)->widget()) keys << w->objectName().remove("var_param_row_");
    return keys;
}

template <typename T>
T* child(QObject* parent, const QString& name) {
    T* found = parent->findChild<T*>(name);
    if (found == nullptr) qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

QWidget* row(QWidget* panel, const QString& key) { return child<QWidget>(panel, "var_param_row_" + key); }

// Chooses a combo entry by its text as a user would (the index changes).
void choose(QWidget* panel, const QString& combo, const QString& text) {
    QComboBox* box = child<QComboBox>(panel, "var_param_" + combo + "_combo");
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
}

void click_radio(QWidget* panel, const QString& group, int id) {
    child<QButtonGroup>(panel, "var_param_" + group + "_group")->button(id)->click();
}

// Types into the row's line edit and presses the row's "Set".
void type_and_set(QWidget* panel, const QString& row_key, const QString& text) {
    QWidget* r = row(panel, row_key);
    QLineEdit* edit = r->findChild<QLineEdit*>();
    edit->clear();
    QTest::keyClicks(edit, text);
    r->findChild<QPushButton*>("var_param_widget_set")->click();
}

QMenu* submenu(QMenu* menu, const QString& title) {
    for (QAction* a : menu->actions())
        if (a->menu() != nullptr && a->text() == title) return a->menu();
    return nullptr;
}

QStringList action_texts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) texts << a->text();
    return texts;
}

QMenu* user_menu(QWidget* temp_panel, const QString& type) {
    QMenu* load = child<QToolButton>(temp_panel, "var_param_load_button")->menu();
    return submenu(submenu(load, "User Define"), type);
}

}  // namespace

class test_measure_panels_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void rows_follow_the_capability_records_data();
    void rows_follow_the_capability_records();
    void selector_lists_the_models_functions_data();
    void selector_lists_the_models_functions();
    void refresh_shows_the_configuration_and_sends_nothing();
    void user_changes_send_exactly_their_commands();
    void function_change_sets_the_function_and_clears_the_data();
    void sync_replaces_the_user_entries();
    void panels_fit_the_column();
};

void test_measure_panels_t::initTestCase() { velkaro_test::use_test_portmapper_port(); }

void test_measure_panels_t::rows_follow_the_capability_records_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("func");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("range_count");  // entries of the range combo; 0 without one

    const QStringList beeper = {"beeper", "threshold"};
    QTest::newRow("VXA-2 DCV: filter, no auto zero")
        << "VXA-2" << int(measure_dcv) << QStringList{"range", "aperture", "rel", "filter", "impedance"} << 6;
    QTest::newRow("VXA-3 DCV: auto zero, no filter")
        << "VXA-3" << int(measure_dcv) << QStringList{"range", "aperture", "rel", "auto_zero", "impedance"}
        << 6;
    QTest::newRow("VXB-1 DCV: neither")
        << "VXB-1" << int(measure_dcv) << QStringList{"range", "aperture", "rel", "impedance"} << 6;
    QTest::newRow("VXA-2 DCI: no diverter")
        << "VXA-2" << int(measure_dci) << QStringList{"range", "aperture", "rel", "filter"} << 7;
    QTest::newRow("VXB-2 DCI: auto zero and diverter")
        << "VXB-2" << int(measure_dci) << QStringList{"range", "aperture", "rel", "auto_zero", "option"} << 7;
    QTest::newRow("VXA-2 ACV: speeds, no bandwidth")
        << "VXA-2" << int(measure_acv) << QStringList{"range", "aperture", "rel"} << 6;
    QTest::newRow("VXA-3 ACV: bandwidth, no speeds")
        << "VXA-3" << int(measure_acv) << QStringList{"range", "rel", "bandwidth"} << 6;
    QTest::newRow("VXA-3 ACI: bandwidth, no diverter")
        << "VXA-3" << int(measure_aci) << QStringList{"range", "rel", "bandwidth"} << 7;
    QTest::newRow("VXB-1 ACI: diverter")
        << "VXB-1" << int(measure_aci) << QStringList{"range", "aperture", "rel", "option"} << 5;
    QTest::newRow("VXB-2 ACI: bandwidth and diverter")
        << "VXB-2" << int(measure_aci) << QStringList{"range", "rel", "bandwidth", "option"} << 7;
    QTest::newRow("VXA-3 2W: auto zero")
        << "VXA-3" << int(measure_res_2w) << QStringList{"range", "aperture", "rel", "auto_zero"} << 8;
    QTest::newRow("VXB-1 4W: no auto zero")
        << "VXB-1" << int(measure_res_4w) << QStringList{"range", "aperture", "rel"} << 8;
    QTest::newRow("VXB-1 capacitance") << "VXB-1" << int(measure_cap) << QStringList{"range", "rel"} << 7;
    QTest::newRow("VXA-2 frequency: no gate")
        << "VXA-2" << int(measure_freq) << QStringList{"range", "rel"} << 6;
    QTest::newRow("VXA-3 frequency: gate")
        << "VXA-3" << int(measure_freq) << QStringList{"range", "rel", "gate"} << 6;
    QTest::newRow("VXA-2 period: the frequency choices")
        << "VXA-2" << int(measure_period) << QStringList{"range", "rel"} << 6;
    QTest::newRow("VXB-1 period: own record with gate")
        << "VXB-1" << int(measure_period) << QStringList{"range", "rel", "gate"} << 6;
    QTest::newRow("VXA-1 continuity") << "VXA-1" << int(measure_cont) << beeper << 0;
    QTest::newRow("VXB-2 diode") << "VXB-2" << int(measure_diode) << beeper << 0;
    QTest::newRow("VXA-2 temperature")
        << "VXA-2" << int(measure_temp) << QStringList{"rel", "load", "disp", "units", "ref_temp"} << 0;
    QTest::newRow("VXB-1 sensor: no rows") << "VXB-1" << int(measure_sensor) << QStringList{} << 0;
}

void test_measure_panels_t::rows_follow_the_capability_records() {
    QFETCH(QString, model);
    QFETCH(int, func);
    QFETCH(QStringList, rows);
    QFETCH(int, range_count);

    instrument_t inst(model.toStdString());
    ui_measure_param_widget_t column(nullptr, inst.cfg(), inst.mngr->get_driver(), 0);
    ui_measure_var_param_base_widget_t* panel = column.panel(func);
    QVERIFY(panel != nullptr);
    QCOMPARE(row_keys(panel), rows);
    auto* range = panel->findChild<QComboBox*>("var_param_range_combo");
    QCOMPARE(range != nullptr ? range->count() : 0, range_count);
    if (range != nullptr) QCOMPARE(range->itemText(0), QString("Auto"));
    // Every row has its caption, named for its look (the Rel row's second line has none).
    QCOMPARE(panel->findChildren<QLabel*>("common_param_text").size(), rows.size());
}

void test_measure_panels_t::selector_lists_the_models_functions_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("has_sensor");
    QTest::newRow("VXA-1") << "VXA-1" << false;
    QTest::newRow("VXA-3") << "VXA-3" << false;
    QTest::newRow("VXB-1") << "VXB-1" << true;
    QTest::newRow("VXB-2") << "VXB-2" << true;
}

void test_measure_panels_t::selector_lists_the_models_functions() {
    QFETCH(QString, model);
    QFETCH(bool, has_sensor);
    instrument_t inst(model.toStdString());
    ui_measure_param_widget_t column(nullptr, inst.cfg(), inst.mngr->get_driver(), 1);
    QCOMPARE(column.objectName(), QString("measure_param_widget"));
    QCOMPARE(column.width(), 250);
    QCOMPARE(child<QLabel>(&column, "measure_acq_status_label")->text(), QString("ON"));
    column.set_status(0);
    QCOMPARE(child<QLabel>(&column, "measure_acq_status_label")->text(), QString("OFF"));

    auto* selector = child<QComboBox>(&column, "measure_function_selector");
    QCOMPARE(selector->size(), QSize(150, 30));
    QCOMPARE(selector->count(), has_sensor ? 13 : 12);
    for (int i = 0; i < selector->count(); ++i)
        QCOMPARE(selector->itemText(i), QString::fromStdString(measure_name(plib_measure_type_t(i))));
    QCOMPARE(selector->currentIndex(), inst.cfg()->get_function());
    for (int f = measure_dcv; f <= measure_temp; ++f) QVERIFY(column.panel(f) != nullptr);
    QCOMPARE(column.panel(measure_sensor) != nullptr, has_sensor);
}

void test_measure_panels_t::refresh_shows_the_configuration_and_sends_nothing() {
    instrument_t inst("VXB-2");
    QVERIFY(inst.start_sim("VXB-2"));
    QVERIFY(inst.connect());
    cfg_main_t* cfg = inst.cfg();
    ui_measure_param_widget_t column(nullptr, cfg, inst.mngr->get_driver(), 0);
    QCOMPARE(inst.new_commands(), QStringList());  // building the column sends nothing

    // Change the configuration behind the panels' back.
    cfg->set_range(measure_dcv, "20V");
    cfg->set_nplc(measure_dcv, "0.1");
    cfg->set_impedance("10G");
    cfg->set_rel_value(measure_dcv, "1.5");
    cfg->set_auto_zero(measure_dcv, 1);
    cfg->set_diverter(measure_dci, 1);
    cfg->set_bandwidth(measure_acv, "3");
    cfg->set_range(measure_cap, "2uF");  // the default's spelling; the list writes "2μF"
    cfg->set_aperture(measure_freq, "1");
    cfg->set_beeper(measure_cont, 0);
    cfg->set_threshold(measure_diode, "1.25");
    cfg->set_temp_display(1);
    cfg->set_temp_source(1);
    cfg->set_temp_ext_source_val("21.5");
    cfg->set_temp_sensor({0, 0, "PT1000"});
    QVERIFY(!inst.new_commands().isEmpty());

    QSignalSpy func_spy(&column, &ui_measure_param_widget_t::signal_change_func);
    QSignalSpy unit_spy(&column, &ui_measure_param_widget_t::signal_change_unit);
    for (int f = measure_dcv; f <= measure_sensor; ++f) column.panel(f)->refresh();
    column.refresh();
    QCoreApplication::processEvents();
    QCOMPARE(inst.new_commands(), QStringList());
    QCOMPARE(func_spy.count(), 0);
    QCOMPARE(unit_spy.count(), 0);

    QWidget* dcv = column.panel(measure_dcv);
    QCOMPARE(child<QComboBox>(dcv, "var_param_range_combo")->currentText(), QString("20V"));
    QCOMPARE(child<QComboBox>(dcv, "var_param_aperture_combo")->currentText(), QString("0.1"));
    QVERIFY(!row(dcv, "impedance")->isHidden());
    QCOMPARE(child<QButtonGroup>(dcv, "var_param_impedance_group")->checkedId(), 1);
    QCOMPARE(child<QButtonGroup>(dcv, "var_param_auto_zero_group")->checkedId(), 1);
    QCOMPARE(child<QButtonGroup>(dcv, "var_param_rel_group")->checkedId(), 0);
    QCOMPARE(child<QLineEdit>(dcv, "var_param_rel_edit")->placeholderText(), QString("1.5"));
    QVERIFY(!child<QLineEdit>(dcv, "var_param_rel_edit")->isEnabled());
    QCOMPARE(row(dcv, "rel")->findChild<QLabel*>("var_param_unit")->text(), QString("V"));

    QWidget* dci = column.panel(measure_dci);
    QCOMPARE(child<QButtonGroup>(dci, "var_param_option_group")->checkedId(), 1);
    QVERIFY(!child<QComboBox>(dci, "var_param_range_combo")->isEnabled());
    QCOMPARE(child<QComboBox>(dci, "var_param_range_combo")->currentText(), QString("Auto"));

    QCOMPARE(child<QComboBox>(column.panel(measure_acv), "var_param_bandwidth_combo")->currentText(),
             QString("3"));
    QCOMPARE(child<QComboBox>(column.panel(measure_cap), "var_param_range_combo")->currentText(),
             QString::fromUtf8("2μF"));
    QCOMPARE(child<QComboBox>(column.panel(measure_freq), "var_param_gate_combo")->currentText(),
             QString("1"));
    QCOMPARE(child<QButtonGroup>(column.panel(measure_cont), "var_param_beeper_group")->checkedId(), 0);
    QCOMPARE(child<QButtonGroup>(column.panel(measure_diode), "var_param_beeper_group")->checkedId(), 0);
    QCOMPARE(child<QLineEdit>(column.panel(measure_diode), "var_param_threshold_edit")->placeholderText(),
             QString("1.25"));

    QWidget* temp = column.panel(measure_temp);
    QVERIFY(row(temp, "rel")->isHidden());  // "Meas": no relative offset
    QCOMPARE(child<QButtonGroup>(temp, "var_param_disp_group")->checkedId(), 1);
    QVERIFY(!child<QWidget>(temp, "var_param_ref_temp_box")->isHidden());
    QCOMPARE(child<QLineEdit>(temp, "var_param_ref_temp_edit")->placeholderText(), QString("21.5"));
    QCOMPARE(child<QToolButton>(temp, "var_param_load_button")->text(), QString("PT1000"));
}

void test_measure_panels_t::user_changes_send_exactly_their_commands() {
    instrument_t inst("VXB-2");
    QVERIFY(inst.start_sim("VXB-2"));
    QVERIFY(inst.connect());
    cfg_main_t* cfg = inst.cfg();
    ui_measure_param_widget_t column(nullptr, cfg, inst.mngr->get_driver(), 0);
    for (int f = measure_dcv; f <= measure_sensor; ++f) column.panel(f)->refresh();
    QWidget* dcv = column.panel(measure_dcv);
    QWidget* dci = column.panel(measure_dci);
    QWidget* temp = column.panel(measure_temp);
    QSignalSpy unit_spy(&column, &ui_measure_param_widget_t::signal_change_unit);

    struct case_t {
        const char* name;
        std::function<void()> act;
        QStringList commands;
        std::function<bool()> after;  // what the panel shows afterwards
        int unit_signals;
    };
    const std::vector<case_t> cases = {
        {"range 20V offers Imput Z",
         [&] { choose(dcv, "range", "20V"); },
         {"VOLT:RANGE 20V"},
         [&] { return !row(dcv, "impedance")->isHidden(); },
         0},
        {"range 200V hides Imput Z",
         [&] { choose(dcv, "range", "200V"); },
         {"VOLT:RANGE 200V"},
         [&] { return row(dcv, "impedance")->isHidden(); },
         0},
        {"Auto",
         [&] { choose(dcv, "range", "Auto"); },
         {"VOLT:RANGE:AUTO 1"},
         [&] { return cfg->get_auto_range(measure_dcv) == 1 && !row(dcv, "impedance")->isHidden(); },
         0},
        {"Imput Z 10G",
         [&] { click_radio(dcv, "impedance", 1); },
         {"VOLT:IMP 10G"},
         [&] { return cfg->get_impedance() == "10G"; },
         0},
        {"NPLC",
         [&] { choose(dcv, "aperture", "0.01"); },
         {"VOLT:NPLC 0.01"},
         [&] { return cfg->get_nplc(measure_dcv) == "0.01"; },
         0},
        {"Rel ON reads the null value back",
         [&] { click_radio(dcv, "rel", 1); },
         {"VOLT:NULL 1", "VOLT:NULL:VAL?"},
         [&] {
             auto* edit = child<QLineEdit>(dcv, "var_param_rel_edit");
             return edit->isEnabled() && !edit->placeholderText().isEmpty() &&
                    edit->placeholderText().toStdString() == cfg->get_rel_value(measure_dcv);
         },
         0},
        {"Rel value",
         [&] { type_and_set(dcv, "rel", "-0.25"); },
         {"VOLT:NULL:VAL -0.25"},
         [&] { return child<QLineEdit>(dcv, "var_param_rel_edit")->placeholderText() == "-0.25"; },
         0},
        {"Rel value beyond the limit is not sent",
         [&] { type_and_set(dcv, "rel", "5000"); },
         {},
         [&] { return cfg->get_rel_value(measure_dcv) == "-0.25"; },
         0},
        {"Rel OFF",
         [&] { click_radio(dcv, "rel", 0); },
         {"VOLT:NULL 0"},
         [&] { return !child<QLineEdit>(dcv, "var_param_rel_edit")->isEnabled(); },
         0},
        {"DCI range",
         [&] { choose(dci, "range", "2mA"); },
         {"CURR:RANGE 2mA"},
         [&] { return cfg->get_auto_range(measure_dci) == 0; },
         0},
        {"Diverter greys the range",
         [&] { click_radio(dci, "option", 1); },
         {"CURR:DIVERter ON", "CURR:RANGE:AUTO 1"},
         [&] {
             auto* range = child<QComboBox>(dci, "var_param_range_combo");
             return !range->isEnabled() && range->currentText() == "Auto";
         },
         0},
        {"None enables it",
         [&] { click_radio(dci, "option", 0); },
         {"CURR:DIVERter OFF"},
         [&] { return child<QComboBox>(dci, "var_param_range_combo")->isEnabled(); },
         0},
        {"bandwidth",
         [&] { choose(column.panel(measure_acv), "bandwidth", "200"); },
         {"VOLT:AC:BAND 200"},
         [&] { return cfg->get_bandwidth(measure_acv) == "200"; },
         0},
        {"gate time",
         [&] { choose(column.panel(measure_period), "gate", "0.01"); },
         {"PER:APER 0.01"},
         [&] { return cfg->get_aperture(measure_period) == "0.01"; },
         0},
        {"beeper",
         [&] { click_radio(column.panel(measure_cont), "beeper", 0); },
         {"SYST:BEEP:STAT 0"},
         [&] { return cfg->get_beeper(measure_diode) == 0; },
         0},
        {"threshold",
         [&] { type_and_set(column.panel(measure_diode), "threshold", "1.5"); },
         {"DIOD:THR:VAL 1.5"},
         [&] { return cfg->get_threshold(measure_diode) == "1.5"; },
         0},
        {"Disp Meas hides Rel",
         [&] { click_radio(temp, "disp", 1); },
         {"TYPE:TEMP MEA"},
         [&] { return row(temp, "rel")->isHidden(); },
         1},
        {"Disp Temp shows Rel",
         [&] { click_radio(temp, "disp", 0); },
         {"TYPE:TEMP TEM"},
         [&] { return !row(temp, "rel")->isHidden(); },
         1},
        {"Units K",
         [&] { click_radio(temp, "units", 2); },
         {"UNIT:TEMP K"},
         [&] { return row(temp, "rel")->findChild<QLabel*>("var_param_unit")->text() == "K"; },
         1},
        {"Ref Ext shows its editor",
         [&] { click_radio(temp, "ref_temp", 1); },
         {":TEMPerature:REFence:SOURce EXT"},
         [&] { return !child<QWidget>(temp, "var_param_ref_temp_box")->isHidden(); },
         0},
        {"Ref value",
         [&] { type_and_set(temp, "ref_temp", "23.5"); },
         {":TEMPerature:REFence:VALue 23.5"},
         [&] { return cfg->get_temp_ext_source_val() == "23.5"; },
         0},
        {"Ref Int hides it",
         [&] { click_radio(temp, "ref_temp", 0); },
         {":TEMPerature:REFence:SOURce INT"},
         [&] { return child<QWidget>(temp, "var_param_ref_temp_box")->isHidden(); },
         0},
        {"Load PT100",
         [&] {
             QMenu* load = child<QToolButton>(temp, "var_param_load_button")->menu();
             QMenu* rtd = submenu(submenu(load, "Firm Define"), "RTD");
             rtd->actions().at(action_texts(rtd).indexOf("PT100"))->trigger();
         },
         {"TEMP:MDEF:RTD:TRAN PT100"},
         [&] { return child<QToolButton>(temp, "var_param_load_button")->text() == "PT100"; },
         0},
    };
    for (const case_t& c : cases) {
        unit_spy.clear();
        c.act();
        QCoreApplication::processEvents();
        const QStringList got = inst.new_commands();
        if (got != c.commands)
            QFAIL(qPrintable(QString("%1: sent [%2], expected [%3]")
                                 .arg(c.name, got.join(" | "), c.commands.join(" | "))));
        QVERIFY2(c.after(), c.name);
        QVERIFY2(unit_spy.count() == c.unit_signals, c.name);
    }
}

void test_measure_panels_t::function_change_sets_the_function_and_clears_the_data() {
    instrument_t inst("VXA-2");
    QVERIFY(inst.start_sim("VXA-2", {"--fast"}));
    QVERIFY(inst.connect());
    cfg_main_t* cfg = inst.cfg();
    ui_measure_param_widget_t column(nullptr, cfg, inst.mngr->get_driver(), 0);
    auto* stack = column.findChild<QStackedLayout*>();
    QCOMPARE(stack->currentWidget(), column.panel(measure_dcv));

    // Some readings in the record buffer.
    unsigned int readings = 0;
    cfg->set_run_state(1);
    QTRY_VERIFY_WITH_TIMEOUT(
        (inst.mngr->get_acq()->m_acq_original_data_num_msg.fetch(readings), readings > 0), 10000);
    cfg->set_run_state(0);
    inst.mark();

    QSignalSpy func_spy(&column, &ui_measure_param_widget_t::signal_change_func);
    child<QComboBox>(&column, "measure_function_selector")->setCurrentIndex(measure_acv);
    QCOMPARE(inst.new_commands(), QStringList{"FUNC \"VOLT:AC\""});
    QCOMPARE(cfg->get_function(), int(measure_acv));
    inst.mngr->get_acq()->m_acq_original_data_num_msg.fetch(readings);
    QCOMPARE(readings, 0u);
    QCOMPARE(func_spy.count(), 1);
    QCOMPARE(stack->currentWidget(), column.panel(measure_acv));
}

void test_measure_panels_t::sync_replaces_the_user_entries() {
    instrument_t inst("VXB-1");
    QVERIFY(inst.start_sim("VXB-1", {"--udef-rtd", "R_NEW1,R_NEW2", "--udef-ther", "T_NEW"}));
    // Entries of an earlier Sync, as a project brings them back.
    plib_measure_cfg_t snapshot = inst.cfg()->measure()->snapshot();
    snapshot.cfg_map[measure_temp].udef_sensor = {{1, 0, "R_OLD"}, {1, 1, "T_OLD"}};
    inst.cfg()->measure()->apply_snapshot(snapshot);

    ui_measure_param_widget_t column(nullptr, inst.cfg(), inst.mngr->get_driver(), 0);
    QWidget* temp = column.panel(measure_temp);
    QCOMPARE(action_texts(user_menu(temp, "RTD")), QStringList{"R_OLD"});
    QCOMPARE(action_texts(user_menu(temp, "THER")), QStringList{"T_OLD"});
    QAction* sync = temp->findChild<QAction*>("var_param_sync_action");
    QVERIFY(sync != nullptr);

    {  // not connected: refused, the entries stay
        modal_closer_t closer;
        sync->trigger();
        QCOMPARE(closer.seen(), QStringList{"Warning|It's not connected to the device yet."});
    }
    QCOMPARE(action_texts(user_menu(temp, "RTD")), QStringList{"R_OLD"});

    QVERIFY(inst.connect());
    for (int round = 0; round < 2; ++round) {  // a second Sync does not pile up entries
        sync->trigger();
        QCOMPARE(inst.new_commands(), (QStringList{"TEMP:UDEF:RTD:TRAN:LIST?", "TEMP:UDEF:THER:TRAN:LIST?"}));
        QCOMPARE(action_texts(user_menu(temp, "RTD")), (QStringList{"R_NEW1", "R_NEW2"}));
        QCOMPARE(action_texts(user_menu(temp, "THER")), QStringList{"T_NEW"});
    }
    user_menu(temp, "RTD")->actions().at(1)->trigger();
    QCOMPARE(inst.new_commands(), QStringList{"TEMP:UDEF:RTD:TRAN R_NEW2"});
    QCOMPARE(inst.cfg()->get_temp_sensor(), (plib_temp_sensor_t{1, 0, "R_NEW2"}));
    QCOMPARE(child<QToolButton>(temp, "var_param_load_button")->text(), QString("R_NEW2"));
}

void test_measure_panels_t::panels_fit_the_column() {
    QVERIFY(ui_application_t::install_style_and_font());
    const QString shots = qEnvironmentVariable("VELKARO_PANEL_SHOTS_DIR");
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    for (const char* model : {"VXA-1", "VXA-2", "VXA-3", "VXB-1", "VXB-2"}) {
        instrument_t inst(model);
        // Not connected: stored only. Shows the external reference editor in the shots.
        inst.cfg()->set_temp_source(1);
        QMainWindow window;
        auto* column = new ui_measure_param_widget_t(nullptr, inst.cfg(), inst.mngr->get_driver(), 0);
        window.setCentralWidget(column);
        window.resize(250, 560);
        window.show();
        auto* stack = column->findChild<QStackedLayout*>();
        auto* selector = child<QComboBox>(column, "measure_function_selector");
        const QMargins margins = column->layout()->contentsMargins();
        const int room = column->width() - margins.left() - margins.right();
        for (int f = measure_dcv; f <= measure_sensor; ++f) {
            ui_measure_var_param_base_widget_t* panel = column->panel(f);
            if (panel == nullptr) continue;
            panel->refresh();
            stack->setCurrentWidget(panel);
            {  // the selector names the panel shown; nothing is sent for it
                const QSignalBlocker blocker(selector);
                selector->setCurrentIndex(f);
            }
            QCoreApplication::processEvents();
            const QString what = QString("%1 function %2").arg(model).arg(f);
            QStyleOptionComboBox option;
            option.initFrom(selector);
            const int text_room =
                selector->style()
                    ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, selector)
                    .width();
            QVERIFY2(selector->fontMetrics().horizontalAdvance(selector->currentText()) <= text_room,
                     qPrintable(what));
            QVERIFY2(panel->minimumSizeHint().width() <= room, qPrintable(what));
            QCOMPARE(panel->width(), room);
            if (!shots.isEmpty()) {
                static const char* const family[] = {"dcv", "dci", "acv",  "aci",   "2wr",  "4wr", "freq",
                                                     "per", "cap", "cont", "diode", "temp", "sens"};
                const QString name = QString("%1/panels-%2-%3-x%4.png").arg(shots, model, family[f], scale);
                QVERIFY(window.grab().save(name));
                if (f == measure_temp) {  // the sensor menu, where Sync lives
                    QMenu* load = child<QToolButton>(panel, "var_param_load_button")->menu();
                    QMenu* user = submenu(load, "User Define");
                    load->popup(QPoint(0, 0));
                    user->popup(QPoint(0, 0));
                    QCoreApplication::processEvents();
                    QVERIFY(load->grab().save(QString(name).replace("-temp-", "-temp-menu-")));
                    QVERIFY(user->grab().save(QString(name).replace("-temp-", "-temp-user-menu-")));
                    user->hide();
                    load->hide();
                }
            }
        }
    }
}

QTEST_MAIN(test_measure_panels_t)
#include "test_measure_panels.moc"
