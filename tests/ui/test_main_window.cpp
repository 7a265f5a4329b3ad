// Main window: project recall (two instruments, malformed files), save, the default
// project at exit, the menu bar, the about box and the help documents.
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QStackedLayout>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>
#include <clocale>
#include <cstdio>
#include <pugixml.hpp>

#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "ui/ui_about_window.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_file_places.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_help.h"
#include "ui/ui_help_window.h"
#include "ui/ui_main_window.h"
#include "ui/ui_menu_bar.h"
#include "ui/ui_primary_manager_window.h"
#include "ui/ui_primary_window/ui_primary_window.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;

Q_DECLARE_METATYPE(std::string)

namespace {

std::string unreachable(int n) { return "TCPIP0::127.78.0." + std::to_string(n) + "::inst0::INSTR"; }

void flush_deletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

bool write_file(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

}  // namespace

// Receives the URLs the program hands to the desktop (QDesktopServices handler).
class url_sink_t : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class test_main_window_t : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void save_and_recall_two_instruments();
    void save_recall_and_record_under_a_decimal_comma_locale();
    void recall_failures_change_nothing_data();
    void recall_failures_change_nothing();
    void recall_without_projects_clears();
    void recall_skips_unknown_models();
    void default_project_written_at_exit();
    void default_project_path_falls_back_to_user_data();
    void menu_bar_entries();
    void save_and_recall_dialogs_cancelled_emit_empty_path();
    void dialog_paths_use_native_separators();
    void about_box_and_help_documents();
    void remembered_folders_per_kind();
    void recent_projects_menu_and_dialog_start();

private:
    QTemporaryDir m_dir;
};

void test_main_window_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    qRegisterMetaType<std::string>("std::string");
    QVERIFY(m_dir.isValid());
    // Remembered folders and recent projects go to a settings directory of the test's own.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path() + "/settings");
}

void test_main_window_t::cleanup() { flush_deletions(); }

void test_main_window_t::save_and_recall_two_instruments() {
    velkaro_test::sim_process_t sim_a("VXA-2");
    velkaro_test::sim_process_t sim_b("VXB-1");
    QVERIFY(sim_a.ok() && sim_b.ok());
    const std::string path = m_dir.filePath("two.dmm").toStdString();

    ui_main_window_t window("");
    ui_device_column_t* column = window.device_column();
    column->slot_add_device("VXA-2", sim_a.instr_resource(), pugi::xml_node());
    column->slot_add_device("VXB-1", sim_b.instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());  // connecting runs in the background
    auto items = column->get_device_items();
    QVERIFY(items[0]->is_connected() && items[1]->is_connected());
    items[0]->get_mngr()->get_cfg()->set_rec_time(77);
    items[1]->get_mngr()->get_cfg()->set_rec_time(88);
    window.slot_save_xml_file(path);

    // Change the settings, then recall: the file's values come back.
    items[0]->get_mngr()->get_cfg()->set_rec_time(5);
    window.slot_recall_xml_file(path);
    flush_deletions();
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    items = column->get_device_items();
    QCOMPARE(items.size(), size_t(2));
    // The file lists bound instruments in resource order: the random addresses decide.
    if (items[0]->get_model_name() != "VXA-2") std::swap(items[0], items[1]);
    QCOMPARE(items[0]->get_model_name(), std::string("VXA-2"));
    QCOMPARE(items[0]->get_resource(), sim_a.instr_resource());
    QCOMPARE(items[1]->get_model_name(), std::string("VXB-1"));
    QCOMPARE(items[1]->get_resource(), sim_b.instr_resource());
    QVERIFY(items[0]->get_index() >= 3u && items[1]->get_index() >= 3u);  // indexes go on counting
    QVERIFY(items[0]->is_connected() && items[1]->is_connected());
    QCOMPARE(items[0]->get_mngr()->get_cfg()->get_rec_time(), 77.0);
    QCOMPARE(items[1]->get_mngr()->get_cfg()->get_rec_time(), 88.0);

    QStackedLayout* stack = window.window_stack()->stacked_layout();
    QCOMPARE(stack->count(), 3);  // home page and two instrument windows
    QVERIFY(window.primary_window_of(items[0]) != nullptr);
    QVERIFY(window.primary_window_of(items[1]) != nullptr);
    QCOMPARE(stack->currentWidget(), window.primary_window_of(column->get_device_items().back()));
    QCOMPARE(ui_connect_mngr_t::instance().bound().size(), size_t(2));
}

// The GUI runs under the environment's locale: with a decimal comma (de_DE), the project
// it saves, the values it recalls and the record file it logs are the same bytes as
// anywhere else.
void test_main_window_t::save_recall_and_record_under_a_decimal_comma_locale() {
    const std::string old_c_locale = std::setlocale(LC_ALL, nullptr);
    const QLocale old_locale;
    // scripts/bootstrap makes this locale.
    QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr, "no de_DE.UTF-8 locale");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    struct restore_t {
        std::string c;
        QLocale q;
        ~restore_t() {
            std::setlocale(LC_ALL, c.c_str());
            QLocale::setDefault(q);
        }
    } restore{old_c_locale, old_locale};
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    QCOMPARE(QString(probe), QString("0,5"));  // the desk's locale is in force

    velkaro_test::sim_process_t sim("VXA-2");
    QVERIFY(sim.ok());
    const std::string path = m_dir.filePath("comma.dmm").toStdString();
    const QString logs = m_dir.filePath("comma-logs");
    QDir().mkpath(logs);
    ui_main_window_t window("");
    window.device_column()->slot_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    ui_device_item_t* item = window.device_column()->get_device_items()[0];
    QVERIFY(item->is_connected());
    cfg_main_t* cfg = item->get_mngr()->get_cfg();
    cfg->set_stop_time(0.1);
    cfg->set_record_directory(logs.toStdString());
    cfg->set_record_position(1);
    window.slot_save_xml_file(path);
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("<stop_time>0.10000000000000001</stop_time>"), text.constData());
    QVERIFY2(!text.contains(",1"), "a decimal comma in the project");

    // A short logged run: the reading lines' values use a point.
    cfg->set_auto_stop_mode(acq_auto_stop_by_count);
    cfg->set_stop_num(3);
    cfg->set_auto_enable(true);
    cfg->set_run_state(1);
    QTRY_VERIFY_WITH_TIMEOUT(cfg->get_run_state() == 0, 30000);
    const QStringList files = QDir(logs).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile record(QDir(logs).filePath(files[0]));
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = record.readAll().split('\n');
    QVERIFY(lines.size() >= 11);
    QCOMPARE(lines[9], QByteArray("DC Voltage,Time(s)"));
    const QByteArray first_value = lines[10].left(lines[10].indexOf(','));
    QVERIFY2(!first_value.isEmpty() && !first_value.contains(' '), lines[10].constData());
    QCOMPARE(lines[10].count(','), 1);  // one separator: the value has no decimal comma
    bool ok = false;
    QLocale::c().toDouble(QString::fromLatin1(first_value), &ok);
    QVERIFY2(ok, first_value.constData());

    cfg->set_stop_time(7);
    window.slot_recall_xml_file(path);
    flush_deletions();
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    cfg = window.device_column()->get_device_items()[0]->get_mngr()->get_cfg();
    QCOMPARE(cfg->get_stop_time(), 0.1);
}

void test_main_window_t::recall_failures_change_nothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("why");
    QTest::newRow("missing file") << QByteArray() << false << "there is no such file";
    QTest::newRow("not XML") << QByteArray("this is not xml <<<") << true << "it is not XML";
    QTest::newRow("truncated") << QByteArray("<?xml version=\"1.0\"?><root><project><product_type>VXA-2")
                               << true << "it is not XML";
    QTest::newRow("no root") << QByteArray(
                                    "<other><project><product_type>VXA-2</product_type></project></other>")
                             << true << "it has no root element";
    QTest::newRow("empty") << QByteArray("") << true << "it is not XML";
    QTest::newRow("one instrument twice")
        << QByteArray("<?xml version=\"1.0\"?><root>"
                      "<project><product_type>VXA-2</product_type><resource>TCPIP0::127.0.0.9::inst0::INSTR"
                      "</resource></project>"
                      "<project><product_type>VXA-2</product_type><resource>TCPIP0::127.0.0.9::inst0::INSTR"
                      "</resource></project></root>")
        << true << "twice";
}

void test_main_window_t::recall_failures_change_nothing() {
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, why);
    const QString path = m_dir.filePath("bad.dmm");
    QFile::remove(path);
    if (exists) QVERIFY(write_file(path, content));

    ui_main_window_t window("");
    window.device_column()->slot_add_device("VXA-2", unreachable(1), pugi::xml_node());
    window.device_column()->slot_add_device("VXA-1", unreachable(2), pugi::xml_node());
    const auto before = window.device_column()->get_device_items();
    velkaro_ui_test::modal_closer_t closer;
    window.slot_recall_xml_file(path.toStdString());
    flush_deletions();
    // The user is told why, in a Warning naming the file.
    QCOMPARE(closer.count(), 1);
    QVERIFY2(closer.seen()[0].startsWith("Warning|"), qPrintable(closer.seen()[0]));
    QVERIFY2(closer.seen()[0].contains(QDir::toNativeSeparators(path)), qPrintable(closer.seen()[0]));
    QVERIFY2(closer.seen()[0].contains(why), qPrintable(closer.seen()[0]));
    QCOMPARE(window.device_column()->get_device_items(), before);
    QCOMPARE(window.window_stack()->stacked_layout()->count(), 3);
}

void test_main_window_t::recall_without_projects_clears() {
    const QString path = m_dir.filePath("empty_root.dmm");
    QVERIFY(write_file(path, "<?xml version=\"1.0\"?><root><version>V1.0.3</version></root>"));
    ui_main_window_t window("");
    window.device_column()->slot_add_device("VXA-2", unreachable(3), pugi::xml_node());
    window.slot_recall_xml_file(path.toStdString());
    flush_deletions();
    QVERIFY(window.device_column()->get_device_items().empty());
    QCOMPARE(window.window_stack()->stacked_layout()->count(), 1);
    QCOMPARE(window.window_stack()->stacked_layout()->currentIndex(), 0);
}

void test_main_window_t::recall_skips_unknown_models() {
    const QString path = m_dir.filePath("mixed.dmm");
    const QByteArray text =
        "<?xml version=\"1.0\"?><root>"
        "<project><resource>" +
        QByteArray::fromStdString(unreachable(4)) +
        "</resource></project>"
        "<project><product_type>VXB-3</product_type><resource>" +
        QByteArray::fromStdString(unreachable(5)) +
        "</resource></project>"
        "<project><product_type>XYZ</product_type></project>"
        "<project><product_type>VXB-2</product_type><resource>" +
        QByteArray::fromStdString(unreachable(6)) +
        "</resource></project>"
        "<project><product_type>VXA-1</product_type></project>"
        "</root>";
    QVERIFY(write_file(path, text));
    ui_main_window_t window("");
    modal_closer_t closer;
    window.slot_recall_xml_file(path.toStdString());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    const auto items = window.device_column()->get_device_items();
    QCOMPARE(items.size(), size_t(2));
    QCOMPARE(items[0]->get_model_name(), std::string("VXB-2"));
    QCOMPARE(items[0]->get_resource(), unreachable(6));
    QCOMPARE(items[1]->get_model_name(), std::string("VXA-1"));
    QCOMPARE(items[1]->get_resource(), std::string());  // no resource: an item without address
    QCOMPARE(closer.count(), 0);
}

void test_main_window_t::default_project_written_at_exit() {
    const QString app_dir = QCoreApplication::applicationDirPath();
    const QString expected = QDir(app_dir).filePath("default_save.dmm");
    QCOMPARE(QString::fromStdString(ui_main_window_t::default_project_path(app_dir)), expected);
    QFile::remove(expected);
    {
        ui_main_window_t window("");
        window.device_column()->slot_add_device("VXA-3", unreachable(7), pugi::xml_node());
        window.device_column()->slot_add_device("VXB-1", unreachable(8), pugi::xml_node());
    }
    QVERIFY(ui_connect_mngr_t::instance().bound().empty());
    pugi::xml_document doc;
    QVERIFY(doc.load_file(expected.toLocal8Bit().constData()));
    std::vector<std::pair<std::string, std::string>> projects;
    for (pugi::xml_node p = doc.child("root").child("project"); p; p = p.next_sibling("project"))
        projects.emplace_back(p.child("product_type").text().get(), p.child("resource").text().get());
    const std::vector<std::pair<std::string, std::string>> want = {{"VXA-3", unreachable(7)},
                                                                   {"VXB-1", unreachable(8)}};
    QCOMPARE(projects, want);

    // With no instrument: a project without instruments.
    { ui_main_window_t window(""); }
    QVERIFY(doc.load_file(expected.toLocal8Bit().constData()));
    QVERIFY(doc.child("root"));
    QVERIFY(!doc.child("root").child("project"));
}

void test_main_window_t::default_project_path_falls_back_to_user_data() {
    QTemporaryDir data_home;
    QVERIFY(data_home.isValid());
    qputenv("XDG_DATA_HOME", data_home.path().toLocal8Bit());
    const QString fallback = data_home.path() + "/Velkaro/default_save.dmm";
    QCOMPARE(QString::fromStdString(ui_main_window_t::default_project_path("/nonexistent/velkaro/bin")),
             fallback);

    // A directory whose default project cannot be replaced counts as not writable.
    QTemporaryDir app_dir;
    const QString locked = app_dir.filePath("default_save.dmm");
    QVERIFY(write_file(locked, "x"));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner));
    if (QFileInfo(locked).isWritable()) {
        qunsetenv("XDG_DATA_HOME");
        QSKIP("running with privileges that ignore file permissions");
    }
    QCOMPARE(QString::fromStdString(ui_main_window_t::default_project_path(app_dir.path())), fallback);
    QCOMPARE(QString::fromStdString(ui_main_window_t::default_project_path(data_home.path())),
             data_home.path() + "/default_save.dmm");
    qunsetenv("XDG_DATA_HOME");
}

void test_main_window_t::menu_bar_entries() {
    ui_main_window_t window("");
    ui_menu_bar_t* bar = window.menu_bar();
    QCOMPARE(bar->objectName(), QString("menu_bar"));
    QCOMPARE(window.menuBar(), bar);
    QStringList top;
    QStringList mnemonics;
    for (QAction* a : bar->actions()) {
        top << QString(a->text()).remove('&');
        mnemonics << QKeySequence::mnemonic(a->text()).toString();
    }
    QCOMPARE(top, QStringList({"Instrument", "Project", "Control", "About", "Help"}));
    // Every menu is reachable with Alt and its own letter.
    QCOMPARE(mnemonics, QStringList({"Alt+I", "Alt+P", "Alt+C", "Alt+A", "Alt+H"}));
    QCOMPARE(bar->quit_action()->shortcut().toString(), QString("Ctrl+Q"));
    QVERIFY(bar->actions()[0]->menu()->actions().contains(bar->quit_action()));
    QCOMPARE(bar->actions()[0]->menu()->minimumWidth(), 220);
    QCOMPARE(bar->actions()[1]->menu()->minimumWidth(), 200);
    QCOMPARE(bar->add_action()->shortcut(), QKeySequence("Ctrl+A"));
    QCOMPARE(bar->add_action()->statusTip(), QString("Add an instrument"));
    QCOMPARE(bar->delete_all_action()->shortcut(), QKeySequence("Ctrl+D"));
    QCOMPARE(bar->delete_all_action()->statusTip(), QString("Delete all instrument"));
    QCOMPARE(bar->save_action()->shortcut(), QKeySequence("Ctrl+S"));
    QCOMPARE(bar->recall_action()->shortcut(), QKeySequence("Ctrl+R"));
    QStringList document;
    for (QAction* a : bar->chinese_action()->associatedWidgets()[0]->actions()) document << a->text();
    QCOMPARE(document, QStringList({"Chinese", "English"}));

    // Ctrl+D from the main window reaches the column's confirmation.
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.device_column()->slot_add_device("VXA-2", unreachable(9), pugi::xml_node());
    {
        modal_closer_t closer(QMessageBox::Yes);
        QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(closer.seen(), QStringList({"Tips|Are you sure to delete ALL device?"}));
    }
    flush_deletions();
    QVERIFY(window.device_column()->get_device_items().empty());

    // Ctrl+A opens the add-device dialog.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    {
        modal_closer_t closer(QMessageBox::Ok, true);
        QTest::keyClick(&window, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(closer.seen(), QStringList({"dialog|Add Device"}));
    }
}

void test_main_window_t::save_and_recall_dialogs_cancelled_emit_empty_path() {
    ui_main_window_t window("");
    window.show();
    QSignalSpy saved(window.menu_bar(), &ui_menu_bar_t::signal_save_xml);
    QSignalSpy recalled(window.menu_bar(), &ui_menu_bar_t::signal_recall_xml);
    QStringList filters;
    QTimer::singleShot(100, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            filters = d->nameFilters();
            d->reject();
        }
    });
    window.menu_bar()->save_action()->trigger();
    QCOMPARE(filters, QStringList({"dmm(*.dmm)"}));
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.first().first().value<std::string>(), std::string());
    modal_closer_t closer(QMessageBox::Ok, true);
    window.menu_bar()->recall_action()->trigger();
    QCOMPARE(recalled.count(), 1);
    QCOMPARE(recalled.first().first().value<std::string>(), std::string());
}

void test_main_window_t::dialog_paths_use_native_separators() {
    QCOMPARE(ui_menu_bar_t::dialog_path_to_string(""), std::string());
    QCOMPARE(ui_menu_bar_t::dialog_path_to_string("/tmp/a b/é.dmm"), std::string("/tmp/a b/\xC3\xA9.dmm"));
}

void test_main_window_t::about_box_and_help_documents() {
    url_sink_t sink;
    QDesktopServices::setUrlHandler("file", &sink, "open");
    ui_main_window_t window("");

    QString info;
    QString title;
    QSize size;
    QStringList ack_sources;
    QTimer::singleShot(50, [&] {
        auto* about = qobject_cast<ui_about_window_t*>(QApplication::activeModalWidget());
        if (about == nullptr) return;
        title = about->windowTitle();
        size = about->size();
        info = about->info()->text();
        QCOMPARE(about->logo()->text(), QString("Velkaro"));
        QCOMPARE(about->logo()->iconSize(), QSize(64, 64));
        for (int press = 0; press < 2; ++press) {  // each press shows it again
            about->acknowledgment_button()->click();
            auto* help = about->findChild<ui_help_window_t*>("help_window");
            if (help != nullptr && help->isVisible()) ack_sources << help->browser()->source().toLocalFile();
            if (help != nullptr) help->close();
        }
        about->close();
    });
    window.menu_bar()->about_action()->trigger();
    QCOMPARE(title, QString("About"));
    QCOMPARE(size, QSize(400, 250));
    QVERIFY(info.startsWith("Version: V1.0.3\nBuild: 2024/10/28\n"));

    QStringList help_sources;
    for (QAction* action : {window.menu_bar()->chinese_action(), window.menu_bar()->english_action(),
                            window.menu_bar()->website_action()}) {
        action->trigger();
        auto* help = window.findChild<ui_help_window_t*>("help_window");
        QVERIFY(help != nullptr && help->isVisible());
        help_sources << help->browser()->source().toLocalFile();
    }
    QDesktopServices::unsetUrlHandler("file");

    // Shown in the program's own window; nothing goes to the desktop.
    const QString help_dir = QCoreApplication::applicationDirPath() + "/help/";
    QCOMPARE(ack_sources, QStringList({help_dir + "open-source_software_acknowledgment.html",
                                       help_dir + "open-source_software_acknowledgment.html"}));
    QCOMPARE(help_sources, QStringList({help_dir + "Velkaro_help_CN.html", help_dir + "Velkaro_help_EN.html",
                                        help_dir + "Velkaro_help_EN.html"}));
    QCOMPARE(sink.urls, QList<QUrl>());
}

namespace {
QString make_file(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("<root/>");
    return QFileInfo(path).absoluteFilePath();
}
}  // namespace

// Each kind of file remembers its own folder; a folder that is gone falls back to "./".
void test_main_window_t::remembered_folders_per_kind() {
    QTemporaryDir dir;
    using namespace ui_file_places;
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro").remove("places");
    for (kind_t k : {kind_record, kind_export, kind_project}) QCOMPARE(ui_file_places::dir(k), QString("./"));

    remember(kind_export, dir.path() + "/exports/run.csv");  // a file: its folder
    QDir().mkpath(dir.path() + "/exports");
    QDir().mkpath(dir.path() + "/logs");
    remember(kind_record, dir.path() + "/logs");              // a folder: itself
    QCOMPARE(ui_file_places::dir(kind_export), dir.path() + "/exports");
    QCOMPARE(ui_file_places::dir(kind_record), dir.path() + "/logs");
    QCOMPARE(ui_file_places::dir(kind_project), QString("./"));
    QCOMPARE(start(kind_export, "a.csv"), dir.path() + "/exports/a.csv");
    remember(kind_export, QString());  // a cancelled dialog changes nothing
    QCOMPARE(ui_file_places::dir(kind_export), dir.path() + "/exports");

    QVERIFY(QDir(dir.path() + "/logs").removeRecursively());
    QCOMPARE(ui_file_places::dir(kind_record), QString("./"));
}

// Saved and recalled projects go to the top of Project > Recent (once each, newest first,
// existing files only, at most recent_limit); an entry recalls its file; the project
// dialogs start in the folder of the last project.
void test_main_window_t::recent_projects_menu_and_dialog_start() {
    QTemporaryDir dir;
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro").remove("places");
    QStringList files;
    for (int i = 0; i < ui_file_places::recent_limit + 2; ++i)
        files << make_file(QString("%1/p%2/bench%3.dmm").arg(dir.path()).arg(i % 3).arg(i));
    for (const QString& f : files) ui_file_places::add_recent_project(f);
    ui_file_places::add_recent_project(files[5]);  // again: moves to the top
    QStringList expected = {files[5], files[9], files[8], files[7], files[6], files[4], files[3], files[2]};
    QCOMPARE(ui_file_places::recent_projects(), expected);
    QFile::remove(files[9]);
    expected.removeAll(files[9]);
    QCOMPARE(ui_file_places::recent_projects(), expected);

    ui_main_window_t window("");
    QMenu* recent = window.menu_bar()->recent_menu();
    QVERIFY(recent != nullptr);
    emit window.menu_bar()->actions()[1]->menu()->aboutToShow();
    QStringList labels;
    for (QAction* a : recent->actions()) labels << a->text();
    QCOMPARE(labels.size(), expected.size());
    QCOMPARE(labels.first(), QString("&1 bench5.dmm"));
    QCOMPARE(recent->actions().first()->toolTip(), QDir::toNativeSeparators(files[5]));

    QSignalSpy recalled(window.menu_bar(), &ui_menu_bar_t::signal_recall_xml);
    {
        modal_closer_t closer(QMessageBox::Ok, true);  // the recall may complain about the file
        recent->actions()[1]->trigger();
    }
    QCOMPARE(recalled.count(), 1);
    QCOMPARE(QString::fromStdString(recalled.first().first().value<std::string>()),
             QDir::toNativeSeparators(files[8]));
    QCOMPARE(ui_file_places::recent_projects().first(), files[8]);

    // The save dialog opens in the last project's folder.
    window.show();
    QString opened_in;
    QTimer::singleShot(100, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            opened_in = d->directory().absolutePath();
            d->reject();
        }
    });
    window.menu_bar()->save_action()->trigger();
    QCOMPARE(opened_in, QFileInfo(files[8]).absolutePath());
}

QTEST_MAIN(test_main_window_t)
#include "test_main_window.moc"
