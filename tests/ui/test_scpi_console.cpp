// SCPI console: history rules, backslash-n conversion, Write/Query/Read against the
// simulator, failures shown as failures, a window that keeps running while a read
// waits for its time-out, and a page deleted while its I/O is in flight.
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>
#include <string>
#include <thread>

#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_application.h"
#include "ui/ui_combo_box.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui/ui_primary_window/ui_scpi_config_frame.h"
#include "ui/ui_log_console.h"
#include "common/plib_log.h"
#include "ui_test_support.h"

namespace {

const QString separator = "- - - - - - - - - - - -";
const QStringList fixed_commands = {"*IDN?\\n", "*OPC?\\n", "*RST\\n", "*CLS\\n"};

template <typename T>
T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(name);
    if (found == nullptr) qFatal("no child named %s", name);
    return found;
}

struct entry_t {
    QString kind;
    QString text;
    bool operator==(const entry_t& o) const { return kind == o.kind && text == o.text; }
};

char* toString(const entry_t& e) { return QTest::toString(e.kind + ": " + e.text); }

QList<entry_t> log_entries(ui_scpi_config_frame_t* page) {
    auto* log = child<QListWidget>(page, "scpi_log_list");
    QList<entry_t> out;
    for (int i = 0; i < log->count(); ++i) {
        auto* label = qobject_cast<QLabel*>(log->itemWidget(log->item(i)));
        if (label == nullptr) qFatal("log entry %d has no label", i);
        out.push_back({label->property("log_kind").toString(), label->text()});
    }
    return out;
}

QStringList history(ui_scpi_config_frame_t* page) {
    auto* box = child<ui_combo_box_t>(page, "scpi_history_box");
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

// Types the command and presses the button; waits for the result when I/O was started.
void press(ui_scpi_config_frame_t* page, const char* button, const QString& command = QString()) {
    if (!command.isNull()) child<QTextEdit>(page, "scpi_command_edit")->setPlainText(command);
    QSignalSpy finished(page, &ui_scpi_config_frame_t::signal_io_finished);
    child<QPushButton>(page, button)->click();
    if (page->is_busy()) QVERIFY(finished.wait(15000));
    QVERIFY(!page->is_busy());
}

// With VELKARO_SCREENSHOT_DIR set, saves the page as it sits in an instrument window.
void save_screenshot(ui_scpi_config_frame_t* page, const QString& name) {
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QWidget window;
    window.setObjectName("primary_window");
    auto* frame = new QFrame(&window);
    auto* frame_layout = new QVBoxLayout(frame);
    QWidget* old_parent = page->parentWidget();
    const bool was_visible = page->isVisible();
    frame_layout->addWidget(page);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);
    window.resize(700, 640);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().save(dir + "/" + name + ".png"));
    page->setParent(old_parent);
    if (was_visible) page->show();
}

// A simulated instrument connected through a device column.
struct console_fixture_t {
    explicit console_fixture_t(std::vector<std::string> sim_args = {}) : sim("VXA-2", std::move(sim_args)) {
        if (!sim.ok()) return;
        column.slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
        velkaro_ui_test::wait_instruments_idle();
        item = column.get_device_items().front();
        page = std::make_unique<ui_scpi_config_frame_t>(nullptr, item);
    }
    bool ok() const { return sim.ok() && item != nullptr && item->is_connected(); }

    velkaro_test::sim_process_t sim;
    ui_device_column_t column;
    ui_device_item_t* item = nullptr;
    std::unique_ptr<ui_scpi_config_frame_t> page;
};

// An instrument that never connected (nothing listens there).
struct offline_fixture_t {
    offline_fixture_t() {
        column.slot_add_device("VXA-2", "TCPIP0::127.78.0.1::inst0::INSTR", pugi::xml_node());
        velkaro_ui_test::wait_instruments_idle();
        item = column.get_device_items().front();
        page = std::make_unique<ui_scpi_config_frame_t>(nullptr, item);
    }
    ui_device_column_t column;
    ui_device_item_t* item = nullptr;
    std::unique_ptr<ui_scpi_config_frame_t> page;
};

}  // namespace

class test_scpi_console_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void conversions_data();
    void conversions();
    void status_messages_data();
    void status_messages();
    void completion_notes_data();
    void completion_notes();
    void initial_page();
    void history_separator_and_choice();
    void history_adds_once_and_drops_the_oldest();
    void query_sends_one_line_feed_and_logs_the_reply();
    void two_line_reply_is_one_entry();
    void write_then_read_and_clear();
    void not_connected_is_a_failure();
    void slow_read_keeps_the_window_running_and_fails_visibly();
    void dead_instrument_write_fails_visibly();
    void page_deleted_while_reading();
    void core_lines_from_a_worker_thread_reach_the_console();
    void core_line_flood_is_bounded();
};

void test_scpi_console_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    // The looks of the log entries are part of what is tested.
    QVERIFY(ui_application_t::install_style_and_font());
}

void test_scpi_console_t::conversions_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("query") << "*IDN?\\n" << QByteArray("*IDN?\n");
    QTest::newRow("two commands") << "*CLS\\n*OPC?\\n" << QByteArray("*CLS\n*OPC?\n");
    QTest::newRow("none") << "SYST:ERR?" << QByteArray("SYST:ERR?");
    QTest::newRow("backslash alone") << "A\\B\\n" << QByteArray("A\\B\n");
    QTest::newRow("utf-8") << QString::fromUtf8("CONF:RES 1\u03A9\\n") << QByteArray("CONF:RES 1\xCE\xA9\n");
}

void test_scpi_console_t::conversions() {
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    QCOMPARE(ui_scpi_config_frame_t::to_wire(typed), wire);
    // The way back shows line feeds as backslash-n again.
    QCOMPARE(ui_scpi_config_frame_t::to_log(wire), QString(typed).replace("\\n", "\n").replace("\n", "\\n"));
}

void test_scpi_console_t::status_messages_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("time-out") << int(0xBFFF0015U)
                              << "VI_ERROR_TMO (0xBFFF0015): Timeout expired before operation completed.";
    QTest::newRow("connection lost")
        << int(0xBFFF00A6U) << "VI_ERROR_CONN_LOST (0xBFFF00A6): The connection to the instrument was lost.";
    QTest::newRow("unknown") << int(0xBFFF1234U) << "VISA status 0xBFFF1234";
}

void test_scpi_console_t::status_messages() {
    QFETCH(int, status);
    QFETCH(QString, text);
    QCOMPARE(ui_scpi_config_frame_t::status_message(status), text);
}

void test_scpi_console_t::completion_notes_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("note");
    QTest::newRow("success") << "Query" << 0 << 12 << QString();
    QTest::newRow("ended on the term char") << "Read" << int(0x3FFF0005) << 12 << QString();
    QTest::newRow("failure") << "Read" << int(0xBFFF0015U) << 0 << QString();
    QTest::newRow("buffer filled") << "Query" << int(0x3FFF0006) << 800000
                                   << "The reply filled the whole read buffer (800000 bytes) and was cut there; "
                                      "Read fetches the rest.";
    QTest::newRow("other warning") << "Read" << int(0x3FFF0077) << 5
                                   << "Read completed with a warning: " +
                                          ui_scpi_config_frame_t::status_message(0x3FFF0077);
    QTest::newRow("write warning") << "Write" << int(0x3FFF1234) << 0
                                   << "Write completed with a warning: VISA status 0x3FFF1234";
}

// A positive status is a warning, not a plain success: the log says so after the reply.
void test_scpi_console_t::completion_notes() {
    QFETCH(QString, operation);
    QFETCH(int, status);
    QFETCH(int, bytes);
    QFETCH(QString, note);
    QCOMPARE(ui_scpi_config_frame_t::completion_note(operation, status, bytes), note);
}

void test_scpi_console_t::initial_page() {
    offline_fixture_t f;
    ui_scpi_config_frame_t* page = f.page.get();
    QCOMPARE(page->objectName(), QString("scpi_config_frame"));
    QCOMPARE(child<QLabel>(page, "scpi_caption_label")->text(), QString("Select or Enter Command:"));
    auto* box = child<ui_combo_box_t>(page, "scpi_history_box");
    QCOMPARE(history(page), QStringList({separator}) + fixed_commands);
    QCOMPARE(box->currentText(), QString("*IDN?\\n"));
    QCOMPARE(box->remembered_index(), 1);
    QCOMPARE(box->maxCount(), 16);
    QCOMPARE(child<QTextEdit>(page, "scpi_command_edit")->toPlainText(), QString("*IDN?\\n"));
    QStringList buttons;
    for (const char* name :
         {"scpi_write_button", "scpi_query_button", "scpi_read_button", "scpi_clear_button"})
        buttons << child<QPushButton>(page, name)->text();
    QCOMPARE(buttons, QStringList({"Write", "Query", "Read", "Clear Buffer"}));
}

void test_scpi_console_t::history_separator_and_choice() {
    offline_fixture_t f;
    ui_scpi_config_frame_t* page = f.page.get();
    auto* box = child<ui_combo_box_t>(page, "scpi_history_box");
    auto* editor = child<QTextEdit>(page, "scpi_command_edit");
    editor->setPlainText("typed by hand");

    struct step_t {
        int index;        // entry chosen
        QString current;  // shown afterwards
        int remembered;
        QString editor;
    };
    const step_t steps[] = {
        {3, "*RST\\n", 3, "*RST\\n"},
        {0, "*RST\\n", 3, "*RST\\n"},  // the separator is not a command
        {4, "*CLS\\n", 4, "*CLS\\n"},
    };
    for (const step_t& step : steps) {
        box->setCurrentIndex(step.index);
        emit box->activated(step.index);
        QCOMPARE(box->currentText(), step.current);
        QCOMPARE(box->remembered_index(), step.remembered);
        QCOMPARE(editor->toPlainText(), step.editor);
    }
}

void test_scpi_console_t::history_adds_once_and_drops_the_oldest() {
    // The history follows Write and Query whatever their outcome, so no instrument is needed.
    offline_fixture_t f;
    ui_scpi_config_frame_t* page = f.page.get();
    auto* box = child<ui_combo_box_t>(page, "scpi_history_box");
    press(page, "scpi_write_button", "*RST\\n");  // a fixed command is not added again
    QCOMPARE(history(page), QStringList({separator}) + fixed_commands);

    press(page, "scpi_write_button", "CMD 0\\n");
    press(page, "scpi_query_button", "CMD 0\\n");
    QCOMPARE(history(page), QStringList({"CMD 0\\n", separator}) + fixed_commands);
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(box->remembered_index(), 0);
    press(page, "scpi_write_button", "cmd 0\\n");  // case counts
    QCOMPARE(box->count(), 7);

    for (int i = 1; i <= 11; ++i)
        press(page, i % 2 ? "scpi_write_button" : "scpi_query_button", QString("CMD %1\\n").arg(i));
    // 13 new commands in 16 places beside the separator and the 4 fixed ones: the two
    // oldest are gone.
    QStringList expected;
    for (int i = 11; i >= 1; --i) expected << QString("CMD %1\\n").arg(i);
    QCOMPARE(history(page), expected + QStringList({separator}) + fixed_commands);
    QCOMPARE(box->currentText(), QString("CMD 11\\n"));
}

void test_scpi_console_t::query_sends_one_line_feed_and_logs_the_reply() {
    console_fixture_t f;
    QVERIFY(f.ok());
    const size_t before = f.sim.log_lines().size();
    press(f.page.get(), "scpi_query_button");  // the initial "*IDN?\n"
    const std::vector<std::string> lines = f.sim.log_lines();
    QCOMPARE(lines.size(), before + 1);
    QCOMPARE(QString::fromStdString(lines.back()), QString("*IDN?"));
    const QList<entry_t> log = log_entries(f.page.get());
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0], (entry_t{"command", "*IDN?\\n"}));
    QCOMPARE(log[1].kind, QString("reply"));
    QVERIFY2(log[1].text.contains(",VXA-2,") && log[1].text.endsWith("\\n") && !log[1].text.contains('\n'),
             qPrintable(log[1].text));
}

void test_scpi_console_t::two_line_reply_is_one_entry() {
    console_fixture_t f;
    QVERIFY(f.ok());
    press(f.page.get(), "scpi_query_button", "*OPC?\\n*OPC?\\n");
    QCOMPARE(log_entries(f.page.get()),
             (QList<entry_t>{{"command", "*OPC?\\n*OPC?\\n"}, {"reply", "1\\n1\\n"}}));
}

void test_scpi_console_t::write_then_read_and_clear() {
    console_fixture_t f;
    QVERIFY(f.ok());
    ui_scpi_config_frame_t* page = f.page.get();
    press(page, "scpi_write_button", "*OPC?\\n");
    QCOMPARE(log_entries(page), (QList<entry_t>{{"command", "*OPC?\\n"}}));  // a good write adds nothing more
    press(page, "scpi_read_button");
    QCOMPARE(log_entries(page), (QList<entry_t>{{"command", "*OPC?\\n"}, {"reply", "1\\n"}}));
    const QStringList kept = history(page);
    child<QPushButton>(page, "scpi_clear_button")->click();
    QVERIFY(log_entries(page).isEmpty());
    QCOMPARE(history(page), kept);
}

void test_scpi_console_t::not_connected_is_a_failure() {
    offline_fixture_t f;
    QVERIFY(!f.item->is_connected());
    press(f.page.get(), "scpi_read_button");
    press(f.page.get(), "scpi_query_button");
    QCOMPARE(log_entries(f.page.get()),
             (QList<entry_t>{{"failure", "Read failed: the instrument is not connected."},
                             {"command", "*IDN?\\n"},
                             {"failure", "Query failed: the instrument is not connected."}}));
}

void test_scpi_console_t::slow_read_keeps_the_window_running_and_fails_visibly() {
    // "*CLS" has no reply: the read of the query waits for the link's time-out (2 s).
    console_fixture_t f;
    QVERIFY(f.ok());
    ui_scpi_config_frame_t* page = f.page.get();
    press(page, "scpi_query_button");  // "*IDN?\n", answered
    child<QPushButton>(page, "scpi_clear_button")->click();
    page->show();

    int ticks_while_busy = 0;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (page->is_busy()) ++ticks_while_busy;
    });
    timer.start();

    QSignalSpy finished(page, &ui_scpi_config_frame_t::signal_io_finished);
    child<QTextEdit>(page, "scpi_command_edit")->setPlainText("*CLS\\n");
    child<QPushButton>(page, "scpi_query_button")->click();
    // Busy and shown so, while the event loop goes on.
    QVERIFY(page->is_busy());
    for (const char* name : {"scpi_write_button", "scpi_query_button", "scpi_read_button"})
        QVERIFY(!child<QPushButton>(page, name)->isEnabled());
    QVERIFY(!child<QComboBox>(page, "scpi_history_box")->isEnabled());
    QCOMPARE(page->cursor().shape(), Qt::BusyCursor);
    QVERIFY(child<QLabel>(page, "scpi_busy_label")->isVisible());
    child<QPushButton>(page, "scpi_query_button")->click();  // refused while busy: one query only
    save_screenshot(page, "screenshot-scpi-console-busy");
    QVERIFY(page->is_busy());

    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.count(), 1);
    QVERIFY(ticks_while_busy >= 2);  // the timer kept firing during the read
    QVERIFY(!page->is_busy());
    for (const char* name : {"scpi_write_button", "scpi_query_button", "scpi_read_button"})
        QVERIFY(child<QPushButton>(page, name)->isEnabled());
    QCOMPARE(page->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!child<QLabel>(page, "scpi_busy_label")->isVisible());

    const QList<entry_t> log = log_entries(page);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0], (entry_t{"command", "*CLS\\n"}));
    QCOMPARE(log[1].kind, QString("failure"));
    QCOMPARE(log[1].text,
             QString("Query failed: VI_ERROR_TMO (0xBFFF0015)\nTimeout expired before operation completed."));

    // A failure looks unlike a reply and unlike a command (the style sheet's kinds).
    press(page, "scpi_query_button", "*IDN?\\n");
    auto* list = child<QListWidget>(page, "scpi_log_list");
    auto color_of = [list](int row) {
        return list->itemWidget(list->item(row))->palette().color(QPalette::WindowText);
    };
    QCOMPARE(log_entries(page)[3].kind, QString("reply"));
    const QColor command = color_of(0), failure = color_of(1), reply = color_of(3);
    QVERIFY(failure != reply && failure != command && reply != command);
    QCOMPARE(failure, QColor("#FF8A80"));
    save_screenshot(page, "screenshot-scpi-console");
}

void test_scpi_console_t::dead_instrument_write_fails_visibly() {
    auto sim = std::make_unique<velkaro_test::sim_process_t>("VXA-2");
    QVERIFY(sim->ok());
    ui_device_column_t column;
    column.slot_add_device("VXA-2", sim->instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_device_item_t* item = column.get_device_items().front();
    QVERIFY(item->is_connected());
    ui_scpi_config_frame_t page(nullptr, item);
    sim.reset();  // the instrument dies; the session stays open on our side
    press(&page, "scpi_write_button", "*CLS\\n");
    const QList<entry_t> log = log_entries(&page);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[1].kind, QString("failure"));
    QVERIFY2(log[1].text.startsWith("Write failed: VI_ERROR_"), qPrintable(log[1].text));
}

void test_scpi_console_t::page_deleted_while_reading() {
    console_fixture_t f;
    QVERIFY(f.ok());
    QPointer<ui_scpi_config_frame_t> page = f.page.release();
    child<QPushButton>(page, "scpi_read_button")->click();
    QVERIFY(page->is_busy());  // nothing to read: the read waits for the time-out
    delete page.data();        // waits for the read; its result must reach nothing
    QVERIFY(page.isNull());
    QTest::qWait(100);  // any result posted to the deleted page would be delivered here
    // The instrument is still usable afterwards.
    ui_scpi_config_frame_t again(nullptr, f.item);
    press(&again, "scpi_write_button", "*CLS\\n");
    QCOMPARE(log_entries(&again), (QList<entry_t>{{"command", "*CLS\\n"}}));
}

// The core's console lines (plib_log) from any thread reach the instrument window's
// console through the GUI thread, in order, and stop when the sink is given back.
void test_scpi_console_t::core_lines_from_a_worker_thread_reach_the_console() {
    ui_device_item_t item("VXA-2", "", pugi::xml_node());
    ui_primary_window_t window(nullptr, &item);
    auto* page = window.findChild<ui_scpi_config_frame_t*>("scpi_config_frame");
    QVERIFY(page != nullptr);
    ui_log_console_t& console = ui_log_console_t::instance();
    console.install();
    const int before = log_entries(page).size();
    std::thread worker([] {
        for (int i = 0; i < 3; ++i) plib_log("_check_device_model_match: line " + std::to_string(i));
    });
    worker.join();
    // Handed over, not shown from the worker: the GUI thread shows them on its next turn.
    QCOMPARE(log_entries(page).size(), before);
    QTRY_COMPARE(log_entries(page).size(), before + 3);
    const QList<entry_t> entries = log_entries(page).mid(before);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(entries[i], (entry_t{"notice", QString("_check_device_model_match: line %1").arg(i)}));
    }
    console.uninstall();
    plib_log("after the sink was given back");
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(log_entries(page).size(), before + 3);
}

// A flood from a thread while the GUI thread is busy keeps only the newest lines and
// says how many were left out.
void test_scpi_console_t::core_line_flood_is_bounded() {
    ui_log_console_t& console = ui_log_console_t::instance();
    console.install();
    QSignalSpy lines(&console, &ui_log_console_t::signal_console_line);
    const int extra = 25;
    const int total = static_cast<int>(ui_log_console_t::pending_limit) + extra;
    std::thread worker([total] {
        for (int i = 0; i < total; ++i) plib_log("line " + std::to_string(i));
    });
    worker.join();
    QTRY_COMPARE(lines.count(), static_cast<int>(ui_log_console_t::pending_limit) + 1);
    QCOMPARE(lines.first().first().toString(), QString("(%1 earlier lines not shown)").arg(extra));
    QCOMPARE(lines.at(1).first().toString(), QString("line %1").arg(extra));
    QCOMPARE(lines.last().first().toString(), QString("line %1").arg(total - 1));
    console.uninstall();
}

QTEST_MAIN(test_scpi_console_t)
#include "test_scpi_console.moc"
