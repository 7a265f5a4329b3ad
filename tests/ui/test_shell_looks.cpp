// The shell as a new user meets it: texts that fit their widgets with the real style
// sheet and font, the window title, the minimum size on small screens, the save path's
// suffix and outcome, the wrong-model warning of a hand-added instrument, and the project
// named on the command line.
#include <QAbstractButton>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStackedLayout>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

#include "support/sim_process.h"
#include "ui/ui_about_window.h"
#include "ui/ui_add_device_dialog.h"
#include "ui/ui_application.h"
#include "ui/ui_control_window.h"
#include "ui/ui_device_change_addr_dialog.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_main_window.h"
#include "ui/ui_menu_bar.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;
using velkaro_ui_test::wait_instruments_idle;

Q_DECLARE_METATYPE(std::string)

namespace {

void flush_deletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Every visible button of the widget shows its whole text: the text's advance fits the
// contents and the button is at least as wide as its style wants for that text.
QStringList clipped_buttons(QWidget* top) {
    QStringList clipped;
    for (QAbstractButton* button : top->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(top) || button->text().isEmpty()) continue;
        const int advance = button->fontMetrics().horizontalAdvance(button->text());
        const int icon = button->icon().isNull() ? 0 : button->iconSize().width();
        if (advance + icon > button->contentsRect().width() || button->width() < button->sizeHint().width() ||
            button->height() < button->minimumSizeHint().height())
            clipped
                << QString("%1 (%2 of %3 px)").arg(button->text()).arg(button->width()).arg(advance + icon);
    }
    return clipped;
}

// Every visible label is tall and wide enough for its text (wrapped labels by height).
QStringList clipped_labels(QWidget* top) {
    QStringList clipped;
    for (QLabel* label : top->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(top) || label->text().isEmpty()) continue;
        const int width = label->contentsRect().width();
        bool fits = true;
        if (label->wordWrap()) {
            fits = label->height() >= label->heightForWidth(label->width());
        } else {
            for (const QString& line : label->text().split('\n'))
                fits = fits && label->fontMetrics().horizontalAdvance(line) <= width;
        }
        if (!fits) clipped << label->text();
    }
    return clipped;
}

void settle(QWidget* widget) {
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
    QCoreApplication::processEvents();
}

// With VELKARO_SHELL_SHOTS set to a directory, the looks tests also leave their dialogs
// there as PNG files (for the screenshots under docs/).
void save_shot(QWidget* widget, const QString& name) {
    const QString dir = qEnvironmentVariable("VELKARO_SHELL_SHOTS");
    if (dir.isEmpty()) return;
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    QVERIFY(widget->grab().save(QString("%1/%2-x%3.png").arg(dir, name, scale)));
}

bool write_file(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray project_of(const QList<QPair<QString, std::string>>& instruments) {
    QByteArray text = "<?xml version=\"1.0\"?><root>";
    for (const auto& [model, res] : instruments)
        text += "<project><product_type>" + model.toUtf8() + "</product_type><resource>" +
                QByteArray::fromStdString(res) + "</resource></project>";
    return text + "</root>";
}

}  // namespace

class test_shell_looks_t : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void add_dialog_texts_fit_on_every_page();
    void change_connection_texts_fit();
    void about_box_shows_every_line();
    void control_window_texts_fit();
    void placeholder_is_dimmed_until_typed();
    void selected_address_cell_is_not_highlighted();
    void row_number_column_is_dark_below_the_rows();
    void model_button_is_light_on_dark();
    void minimum_size_is_clamped_to_the_screen_data();
    void minimum_size_is_clamped_to_the_screen();
    void window_title_names_the_project();
    void window_with_an_instrument_fits_1600x900_at_150_percent();
    void project_suffix_rule_data();
    void project_suffix_rule();
    void save_dialog_adds_the_suffix();
    void failed_save_warns_with_the_path();
    void hand_added_wrong_model_warns_recalled_stays_quiet();
    void start_project_is_recalled();

private:
    QTemporaryDir m_dir;
};

void test_shell_looks_t::initTestCase() {
    velkaro_test::use_test_portmapper_port();
    qRegisterMetaType<std::string>("std::string");
    QVERIFY(m_dir.isValid());
    QVERIFY(ui_application_t::install_style_and_font());
}

void test_shell_looks_t::cleanup() { flush_deletions(); }

void test_shell_looks_t::add_dialog_texts_fit_on_every_page() {
    auto* dialog = new ui_add_device_dialog_t;
    settle(dialog);
    QVERIFY(dialog->width() >= 450 && dialog->height() >= 150);
    auto* stack = dialog->findChild<QStackedLayout*>();
    QVERIFY(stack != nullptr);
    for (int page = 0; page < stack->count(); ++page) {
        stack->setCurrentIndex(page);
        QCoreApplication::processEvents();
        QCOMPARE(clipped_buttons(dialog), QStringList());
        QCOMPARE(clipped_labels(dialog), QStringList());
        save_shot(dialog, QString("shell-add-device-page%1").arg(page));
    }
    // The chosen model's text fits the model button too.
    stack->setCurrentIndex(ui_add_device_dialog_t::page_model);
    dialog->model_button()->setText("VXA-2");
    QCoreApplication::processEvents();
    QCOMPARE(clipped_buttons(dialog), QStringList());
    dialog->close();
}

void test_shell_looks_t::change_connection_texts_fit() {
    auto* dialog = new ui_device_change_addr_dialog_t(nullptr);
    settle(dialog);
    QVERIFY(dialog->width() >= 400 && dialog->height() >= 220);
    QCOMPARE(clipped_buttons(dialog), QStringList());
    QCOMPARE(clipped_labels(dialog), QStringList());
    save_shot(dialog, "shell-change-connection");
    dialog->scan_button()->click();  // "Scan" becomes "New"
    QCOMPARE(dialog->scan_button()->text(), QString("New"));
    QCoreApplication::processEvents();
    QCOMPARE(clipped_buttons(dialog), QStringList());
    dialog->close();
}

void test_shell_looks_t::about_box_shows_every_line() {
    auto* about = new ui_about_window_t;
    settle(about);
    QVERIFY(about->width() >= 400 && about->height() >= 250);
    auto* info = about->findChild<QLabel*>("about_info");
    QVERIFY(info != nullptr);
    QVERIFY(info->text().count('\n') == 2);
    QCOMPARE(clipped_labels(about), QStringList());
    QCOMPARE(clipped_buttons(about), QStringList());
    save_shot(about, "shell-about");
    about->close();
}

void test_shell_looks_t::control_window_texts_fit() {
    ui_device_column_t column;
    auto* window = new ui_control_window_t(&column, nullptr);
    settle(window);
    QCOMPARE(clipped_buttons(window), QStringList());
    save_shot(window, "shell-control-window");
    window->select_button()->click();  // "Deselect All" is the longer text
    QCoreApplication::processEvents();
    QCOMPARE(clipped_buttons(window), QStringList());
    window->close();
}

void test_shell_looks_t::placeholder_is_dimmed_until_typed() {
    auto* dialog = new ui_add_device_dialog_t;
    settle(dialog);
    QLineEdit* edit = dialog->address_edit();
    const QColor empty_colour = edit->palette().color(QPalette::Text);
    QVERIFY(edit->property("empty").toBool());
    edit->setText("127.0.0.1");
    QVERIFY(!edit->property("empty").toBool());
    const QColor typed_colour = edit->palette().color(QPalette::Text);
    QCOMPARE(typed_colour, QColor(Qt::white));
    QVERIFY(empty_colour != typed_colour);
    edit->clear();
    QCOMPARE(edit->palette().color(QPalette::Text), empty_colour);
    dialog->close();
}

void test_shell_looks_t::selected_address_cell_is_not_highlighted() {
    ui_device_column_t column;
    column.resize(320, 400);
    modal_closer_t closer;
    column.slot_add_device("VXA-2", "TCPIP0::127.78.0.9::inst0::INSTR", pugi::xml_node());
    ui_device_item_t* item = column.get_device_items().front();
    item->expand_button()->click();
    settle(&column);
    QTableWidget* table = item->detail_table();
    table->setCurrentCell(1, 1);  // what the double click on "Address" leaves behind
    QVERIFY(table->item(1, 1)->isSelected());
    QCoreApplication::processEvents();
    const QRect cell = table->visualItemRect(table->item(1, 1));
    const QImage image = table->viewport()->grab().toImage();
    const QColor accent("#2D97D4");
    // The cell's right part holds no text: its colour is the background.
    const QColor inside = image.pixelColor(cell.right() - 3, cell.center().y());
    QVERIFY2(inside != accent, qPrintable(inside.name()));
    QCOMPARE(inside, image.pixelColor(table->visualItemRect(table->item(2, 1)).right() - 3,
                                      table->visualItemRect(table->item(2, 1)).center().y()));
}

void test_shell_looks_t::row_number_column_is_dark_below_the_rows() {
    ui_device_column_t column;
    modal_closer_t closer;
    column.slot_add_device("VXA-2", "TCPIP0::127.78.0.10::inst0::INSTR", pugi::xml_node());
    auto* window = new ui_control_window_t(&column, nullptr);
    settle(window);
    auto* table = window->findChild<QTableWidget*>("control_device_list");
    QVERIFY(table != nullptr && table->rowCount() == 1);
    QHeaderView* rows = table->verticalHeader();
    QVERIFY(rows->width() > 0 && rows->height() > rows->sectionSize(0) + 10);
    const QImage image = rows->viewport()->grab().toImage();
    const QColor below = image.pixelColor(rows->width() / 2, image.height() - 5);
    QVERIFY2(below.lightness() < 128, qPrintable(below.name()));
    window->close();
}

void test_shell_looks_t::model_button_is_light_on_dark() {
    auto* dialog = new ui_add_device_dialog_t;
    settle(dialog);
    for (const QString& text : {QString("Select model"), QString("VXB-1")}) {
        QToolButton* button = dialog->model_button();
        button->setText(text);
        QCoreApplication::processEvents();
        const QImage image = button->grab().toImage();
        // Beside the text, inside the border: the button's face.
        const QColor face = image.pixelColor(4, image.height() / 2);
        QVERIFY2(face.lightness() < 128, qPrintable(text + " " + face.name()));
        QVERIFY(button->palette().color(QPalette::ButtonText).lightness() > 200);
    }
    dialog->close();
}

void test_shell_looks_t::minimum_size_is_clamped_to_the_screen_data() {
    QTest::addColumn<QSize>("available");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("large screen") << QSize(1920, 1040) << QSize(1400, 700);
    QTest::newRow("1600x900 at 150 %") << QSize(1066, 570) << QSize(1066, 570);
    QTest::newRow("narrow only") << QSize(1280, 1000) << QSize(1280, 700);
    QTest::newRow("unknown screen") << QSize() << QSize(1400, 700);
}

void test_shell_looks_t::minimum_size_is_clamped_to_the_screen() {
    QFETCH(QSize, available);
    QFETCH(QSize, expected);
    QCOMPARE(ui_main_window_t::clamped_minimum_size(QSize(1400, 700), available), expected);
}

void test_shell_looks_t::window_title_names_the_project() {
    ui_main_window_t window("");
    QCOMPARE(window.windowTitle(), QString("Velkaro"));
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    QVERIFY(window.minimumWidth() <= available.width() && window.minimumHeight() <= available.height());

    const QString saved = m_dir.filePath("bench one.dmm");
    window.slot_save_xml_file(saved.toStdString());
    QVERIFY(QFile::exists(saved));
    QCOMPARE(window.windowTitle(), QString("Velkaro - bench one.dmm"));

    const QString recalled = m_dir.filePath("other.dmm");
    QVERIFY(write_file(recalled, project_of({})));
    window.slot_recall_xml_file(recalled.toStdString());
    QCOMPARE(window.windowTitle(), QString("Velkaro - other.dmm"));

    // A file that cannot be read is no project: the title stays, and the user hears why.
    modal_closer_t closer;
    window.slot_recall_xml_file(m_dir.filePath("missing.dmm").toStdString());
    QCOMPARE(window.windowTitle(), QString("Velkaro - other.dmm"));
    QCOMPARE(closer.count(), 1);
    QVERIFY2(closer.seen().first().startsWith("Warning|Cannot recall the project"), qPrintable(closer.seen().first()));
}

// A 1600 x 900 screen at 150 % offers 1066 x 570 logical pixels below its panel; the
// laid-out window with an instrument on every page must fit (sizes are logical, so the
// test runs at any scale).
void test_shell_looks_t::window_with_an_instrument_fits_1600x900_at_150_percent() {
    QVERIFY(ui_application_t::install_style_and_font());
    ui_main_window_t window("");
    window.device_column()->slot_add_device("VXA-2", "TCPIP0::127.77.3.1::inst0::INSTR", pugi::xml_node());
    QVERIFY(velkaro_ui_test::wait_instruments_idle());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    // What the layout needs; the window's own minimum is clamped to the screen elsewhere.
    const QSize need = window.minimumSizeHint();
    QVERIFY2(need.width() <= 1066 && need.height() <= 570,
             qPrintable(QString("needs %1 x %2").arg(need.width()).arg(need.height())));
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    window.resize(1066, 570);
    QTest::qWait(200);
    QVERIFY(window.grab().save(dir + "/main-window-1066x570-x" + qEnvironmentVariable("QT_SCALE_FACTOR", "1") +
                               ".png"));
}

void test_shell_looks_t::project_suffix_rule_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no suffix") << "/tmp/bench"
                               << "/tmp/bench.dmm";
    QTest::newRow("suffix present") << "/tmp/bench.dmm"
                                    << "/tmp/bench.dmm";
    QTest::newRow("other suffix kept") << "/tmp/bench.xml"
                                       << "/tmp/bench.xml";
    QTest::newRow("dotted directory") << "/tmp/v1.2/bench"
                                      << "/tmp/v1.2/bench.dmm";
    QTest::newRow("trailing dot") << "/tmp/bench."
                                  << "/tmp/bench.dmm";
    QTest::newRow("cancelled") << ""
                               << "";
}

void test_shell_looks_t::project_suffix_rule() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QCOMPARE(ui_menu_bar_t::with_project_suffix(typed), expected);
}

void test_shell_looks_t::save_dialog_adds_the_suffix() {
    ui_main_window_t window("");
    window.show();
    QSignalSpy saved(window.menu_bar(), &ui_menu_bar_t::signal_save_xml);
    QString suffix;
    const QString typed = m_dir.filePath("typed_without_suffix");
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            poll.stop();
            suffix = d->defaultSuffix();
            // Typed into the name field as a user would; selectFile would change the
            // directory asynchronously and race with the answer.
            auto* name = d->findChild<QLineEdit*>("fileNameEdit");
            if (name == nullptr) return;
            name->setText(typed);
            static_cast<QDialog*>(d)->done(QDialog::Accepted);
        }
    });
    poll.start();
    window.menu_bar()->save_action()->trigger();
    QCOMPARE(suffix, QString("dmm"));
    QCOMPARE(saved.count(), 1);
    QCOMPARE(QString::fromStdString(saved.first().first().value<std::string>()), typed + ".dmm");
    QVERIFY(QFile::exists(typed + ".dmm"));
    QVERIFY(!QFile::exists(typed));
}

void test_shell_looks_t::failed_save_warns_with_the_path() {
    ui_main_window_t window("");
    const QString path = m_dir.filePath("no/such/dir/x.dmm");
    modal_closer_t closer;
    window.slot_save_xml_file(path.toStdString());
    QCOMPARE(closer.seen(), QStringList({"Warning|Cannot save the project to " + path}));
    QCOMPARE(window.windowTitle(), QString("Velkaro"));
    // A cancelled dialog (empty path) is not a failure.
    closer.clear();
    window.slot_save_xml_file(std::string());
    QCOMPARE(closer.count(), 0);
}

void test_shell_looks_t::hand_added_wrong_model_warns_recalled_stays_quiet() {
    velkaro_test::sim_process_t sim("VXB-1");
    QVERIFY(sim.ok());
    ui_main_window_t window("");
    // As the Add dialog hands it over; the box also says which model and where.
    QStringList seen;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen << box->windowTitle() + "|" + box->text() + "|" + box->detailedText();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start();
    emit window.menu_bar()->signal_add_device("VXA-2", sim.instr_resource(), pugi::xml_node());
    QVERIFY(wait_instruments_idle());
    answer.stop();
    QCOMPARE(seen.size(), 1);
    QVERIFY(seen[0].startsWith("Warning|The device doesn't match the model!|Chosen model: VXA-2\nResource: " +
                               QString::fromStdString(sim.instr_resource())));
    // What really answered there, from its own identification.
    QVERIFY2(seen[0].endsWith("The instrument there answers as VXB-1 (NL2611A0042)."), qPrintable(seen[0]));
    modal_closer_t closer;
    auto items = window.device_column()->get_device_items();
    QCOMPARE(items.size(), size_t(1));
    QVERIFY(!items[0]->is_connected());

    // The right model by hand: no box.
    velkaro_test::sim_process_t sim_a("VXA-2");
    QVERIFY(sim_a.ok());
    closer.clear();
    emit window.menu_bar()->signal_add_device("VXA-2", sim_a.instr_resource(), pugi::xml_node());
    QVERIFY(wait_instruments_idle());
    QCOMPARE(closer.count(), 0);
    QVERIFY(window.device_column()->get_device_items().back()->is_connected());

    // The same mismatch from a recalled project stays quiet.
    const QString path = m_dir.filePath("mismatch.dmm");
    QVERIFY(write_file(path, project_of({{"VXA-2", sim.instr_resource()}})));
    closer.clear();
    window.slot_recall_xml_file(path.toStdString());
    flush_deletions();
    QVERIFY(wait_instruments_idle());
    QCOMPARE(closer.count(), 0);
    items = window.device_column()->get_device_items();
    QCOMPARE(items.size(), size_t(1));
    QVERIFY(!items[0]->is_connected());
}

void test_shell_looks_t::start_project_is_recalled() {
    velkaro_test::sim_process_t sim_a("VXA-2");
    velkaro_test::sim_process_t sim_b("VXB-1");
    QVERIFY(sim_a.ok() && sim_b.ok());
    const QString path = m_dir.filePath("start.dmm");
    QVERIFY(
        write_file(path, project_of({{"VXA-2", sim_a.instr_resource()}, {"VXB-1", sim_b.instr_resource()}})));

    {
        ui_main_window_t window(path.toStdString());
        // The constructor opens nothing; the start-up entry does.
        QCOMPARE(window.device_column()->get_device_items().size(), size_t(0));
        window.open_start_project(path.toStdString());
        QVERIFY(wait_instruments_idle());
        const auto items = window.device_column()->get_device_items();
        QCOMPARE(items.size(), size_t(2));
        QCOMPARE(items[0]->get_model_name(), std::string("VXA-2"));
        QCOMPARE(items[1]->get_model_name(), std::string("VXB-1"));
        QVERIFY(wait_instruments_idle());
        QVERIFY(items[0]->is_connected() && items[1]->is_connected());
        QCOMPARE(window.windowTitle(), QString("Velkaro - start.dmm"));
    }
    flush_deletions();
    {
        ui_main_window_t window("");
        window.open_start_project(std::string());
        QCOMPARE(window.device_column()->get_device_items().size(), size_t(0));
        QCOMPARE(window.windowTitle(), QString("Velkaro"));
    }
}

QTEST_MAIN(test_shell_looks_t)
#include "test_shell_looks.moc"
