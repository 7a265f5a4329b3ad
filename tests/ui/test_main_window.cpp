// Main window: project recall (two instruments, malformed files), save, the default
// project at exit, the menu bar, the about box and the help documents.
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedLayout>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>
#include <pugixml.hpp>

#include "cfg/cfg_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "ui/ui_about_window.h"
#include "ui/ui_device_column/ui_device_column.h"
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

private:
    QTemporaryDir m_dir;
};

void test_main_window_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    qRegisterMetaType<std::string>("std::string");
    QVERIFY(m_dir.isValid());
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

void test_main_window_t::recall_failures_change_nothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("not XML") << QByteArray("this is not xml <<<") << true;
    QTest::newRow("truncated") << QByteArray("<?xml version=\"1.0\"?><root><project><product_type>VXA-2")
                               << true;
    QTest::newRow("no root") << QByteArray(
                                    "<other><project><product_type>VXA-2</product_type></project></other>")
                             << true;
    QTest::newRow("empty") << QByteArray("") << true;
}

void test_main_window_t::recall_failures_change_nothing() {
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    const QString path = m_dir.filePath("bad.dmm");
    QFile::remove(path);
    if (exists) QVERIFY(write_file(path, content));

    ui_main_window_t window("");
    window.device_column()->slot_add_device("VXA-2", unreachable(1), pugi::xml_node());
    window.device_column()->slot_add_device("VXA-1", unreachable(2), pugi::xml_node());
    const auto before = window.device_column()->get_device_items();
    window.slot_recall_xml_file(path.toStdString());
    flush_deletions();
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
    for (QAction* a : bar->actions()) top << a->text();
    QCOMPARE(top, QStringList({"Instrument", "Project", "Control", "About", "Help"}));
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

QTEST_MAIN(test_main_window_t)
#include "test_main_window.moc"
