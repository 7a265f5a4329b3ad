// The program's own help window: each help entry shows its document, local links
// navigate with Back and Forward, images load, outside addresses go to the desktop and
// a missing document is said.
#include <QDesktopServices>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QScreen>
#include <QFile>
#include <QTextBrowser>
#include <QToolButton>
#include <QtTest>

#include "support/temp_dir.h"
#include "ui/ui_application.h"
#include "ui/ui_help.h"
#include "ui/ui_help_window.h"
#include "ui_test_support.h"

using velkaro_ui_test::modal_closer_t;

namespace {

class url_sink_t : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

QString help_path(const char* document) { return ui_help_url(document).toLocalFile(); }

}  // namespace

class test_help_window_t : public QObject {
    Q_OBJECT

private slots:
    void each_document_opens_in_the_window_data();
    void each_document_opens_in_the_window();
    void local_link_navigates_and_back_returns();
    void outside_address_goes_to_the_desktop();
    void images_of_a_document_load();
    void missing_document_is_said();
    void screenshot();
    void covers_every_page_fits_the_screen_and_closes_with_esc_data();
    void covers_every_page_fits_the_screen_and_closes_with_esc();
    void chinese_help_has_every_english_section();
};

void test_help_window_t::each_document_opens_in_the_window_data() {
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("title");
    QTest::newRow("English") << ui_help_document_en << "Velkaro Help";
    QTest::newRow("Chinese") << ui_help_document_cn << QString::fromUtf8("Velkaro 帮助");
    QTest::newRow("acknowledgment") << ui_help_document_ack << "Open-source software acknowledgment";
}

void test_help_window_t::each_document_opens_in_the_window() {
    QFETCH(QString, document);
    QFETCH(QString, title);
    QWidget owner;
    const QByteArray name = document.toUtf8();
    ui_help_window_t* window = ui_help_window_t::open(&owner, name.constData());
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QCOMPARE(window->browser()->source().toLocalFile(), help_path(name.constData()));
    QCOMPARE(window->windowTitle(), title);
    QVERIFY(window->browser()->toPlainText().contains("Velkaro") ||
            window->browser()->toPlainText().contains("Qt"));
    // Opening again reuses the owner's window.
    QCOMPARE(ui_help_window_t::open(&owner, ui_help_document_en), window);
    QCOMPARE(owner.findChildren<ui_help_window_t*>().size(), 1);
}

void test_help_window_t::local_link_navigates_and_back_returns() {
    QWidget owner;
    ui_help_window_t* window = ui_help_window_t::open(&owner, ui_help_document_en);
    QVERIFY(window != nullptr);
    auto* back = window->findChild<QToolButton*>("help_back_btn");
    auto* forward = window->findChild<QToolButton*>("help_forward_btn");
    QVERIFY(!back->isEnabled());

    // The English page links the Chinese one by a relative address.
    emit window->browser()->anchorClicked(QUrl("Velkaro_help_CN.html"));
    QCOMPARE(window->browser()->source().toLocalFile(), help_path(ui_help_document_cn));
    QCOMPARE(window->windowTitle(), QString::fromUtf8("Velkaro 帮助"));
    QVERIFY(back->isEnabled());

    back->click();
    QCOMPARE(window->browser()->source().toLocalFile(), help_path(ui_help_document_en));
    QCOMPARE(window->windowTitle(), QString("Velkaro Help"));
    QVERIFY(forward->isEnabled());
    forward->click();
    QCOMPARE(window->browser()->source().toLocalFile(), help_path(ui_help_document_cn));
}

void test_help_window_t::outside_address_goes_to_the_desktop() {
    url_sink_t sink;
    QDesktopServices::setUrlHandler("https", &sink, "open");
    QDesktopServices::setUrlHandler("mailto", &sink, "open");
    QWidget owner;
    ui_help_window_t* window = ui_help_window_t::open(&owner, ui_help_document_en);
    QVERIFY(window != nullptr);
    emit window->browser()->anchorClicked(QUrl("https://example.org/velkaro"));
    emit window->browser()->anchorClicked(QUrl("mailto:lab@example.org"));
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");
    QCOMPARE(sink.urls, QList<QUrl>({QUrl("https://example.org/velkaro"), QUrl("mailto:lab@example.org")}));
    QCOMPARE(window->browser()->source().toLocalFile(), help_path(ui_help_document_en));
}

void test_help_window_t::images_of_a_document_load() {
    velkaro_test::temp_dir_t dir;
    const QString base = QString::fromStdString(dir.path());
    QImage picture(12, 7, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(base + "/meter.png"));
    QFile page(base + "/page.html");
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><head><title>Picture</title></head><body><img src=\"meter.png\"></body></html>");
    page.close();

    ui_help_window_t window;
    QVERIFY(window.show_url(QUrl::fromLocalFile(base + "/page.html")));
    const QVariant loaded =
        window.browser()->document()->resource(QTextDocument::ImageResource, QUrl("meter.png"));
    QVERIFY(loaded.isValid());
    QCOMPARE(qvariant_cast<QImage>(loaded).size(), QSize(12, 7));
    QCOMPARE(window.windowTitle(), QString("Picture"));
}

void test_help_window_t::missing_document_is_said() {
    QWidget owner;
    modal_closer_t closer;
    QCOMPARE(ui_help_window_t::open(&owner, "help/no_such_document.html"), nullptr);
    QCOMPARE(closer.seen(), QStringList({"Warning|The help document was not found:\n" +
                                         help_path("help/no_such_document.html")}));
    QCOMPARE(owner.findChildren<ui_help_window_t*>().size(), 0);
    // A link to a missing page leaves the current page and says so too.
    ui_help_window_t* window = ui_help_window_t::open(&owner, ui_help_document_en);
    QVERIFY(window != nullptr);
    closer.clear();
    emit window->browser()->anchorClicked(QUrl("gone.html"));
    QCOMPARE(closer.count(), 1);
    QVERIFY(closer.seen().first().startsWith("Warning|The help document was not found:"));
    QCOMPARE(window->browser()->source().toLocalFile(), help_path(ui_help_document_en));
}

// With VELKARO_SCREENSHOT_DIR set: the help window showing the English guide.
void test_help_window_t::screenshot() {
    const QString dir = qEnvironmentVariable("VELKARO_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("VELKARO_SCREENSHOT_DIR not set");
    QVERIFY(ui_application_t::install_style_and_font());  // as the program looks
    QWidget owner;
    ui_help_window_t* window = ui_help_window_t::open(&owner, ui_help_document_en);
    QVERIFY(window != nullptr);
    window->resize(900, 650);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(300);
    QVERIFY(window->grab().save(dir + "/help_window" + qEnvironmentVariable("VELKARO_SCREENSHOT_SUFFIX") +
                                ".png"));
}

void test_help_window_t::covers_every_page_fits_the_screen_and_closes_with_esc_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::newRow("English") << QByteArray(ui_help_document_en);
    QTest::newRow("Chinese") << QByteArray(ui_help_document_cn);
}

// Every page has its section (reached from the list at the top), in both languages; the
// window opens inside the screen's available area and Esc closes it.
void test_help_window_t::covers_every_page_fits_the_screen_and_closes_with_esc() {
    QFETCH(QByteArray, document);
    QWidget owner;
    ui_help_window_t* window = ui_help_window_t::open(&owner, document.constData());
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* browser = window->findChild<QTextBrowser*>("help_browser");
    const QString html = browser->toHtml();
    for (const char* id : {"measure", "setting", "data", "save", "diagram", "scandata", "scandiagram", "charts",
                           "console", "preferences", "publish", "lab", "keys", "add", "column", "project", "control", "lan"}) {
        QVERIFY2(html.contains(QString("name=\"%1\"").arg(id)) || html.contains(QString("id=\"%1\"").arg(id)),
                 id);
        QVERIFY2(html.contains(QString("href=\"#%1\"").arg(id)) || QString(id) == "add" || QString(id) == "column" ||
                     QString(id) == "project" || QString(id) == "control" || QString(id) == "lan",
                 id);
    }
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(room.contains(window->frameGeometry()) || room.contains(window->geometry()),
             qPrintable(QString("%1x%2+%3+%4 in %5x%6")
                            .arg(window->width())
                            .arg(window->height())
                            .arg(window->x())
                            .arg(window->y())
                            .arg(room.width())
                            .arg(room.height())));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Escape);
    QTRY_VERIFY(!window->isVisible());
}

// The Chinese help follows the English one: every section (id) of the English document,
// and every link to a section, is in the Chinese one too, and its text is Chinese.
void test_help_window_t::chinese_help_has_every_english_section() {
    auto read = [](const char* document) {
        QFile file(help_path(document));
        if (!file.open(QIODevice::ReadOnly)) return QString();
        return QString::fromUtf8(file.readAll());
    };
    const QString en = read(ui_help_document_en);
    const QString cn = read(ui_help_document_cn);
    QVERIFY(!en.isEmpty());
    QVERIFY(!cn.isEmpty());
    for (const char* pattern : {"id=\"([a-z]+)\"", "href=\"#([a-z]+)\""}) {
        const QRegularExpression re(pattern);
        QStringList ids;
        for (auto it = re.globalMatch(en); it.hasNext();) ids << it.next().captured(0);
        QVERIFY(ids.size() >= 12);
        for (const QString& id : ids) QVERIFY2(cn.contains(id), qPrintable(id));
    }
    // Each section's paragraph text is Chinese (CJK characters), not an English copy.
    const QRegularExpression section("<h2 id=\"([a-z]+)\">(.*?)(?=<h2|</body>)",
                                     QRegularExpression::DotMatchesEverythingOption);
    int sections = 0;
    for (auto it = section.globalMatch(cn); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString text = m.captured(2);
        int cjk = 0;
        for (const QChar c : text) cjk += c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF;
        QVERIFY2(cjk >= 6, qPrintable(m.captured(1)));
        ++sections;
    }
    QCOMPARE(sections, en.count("<h2 id="));
}

QTEST_MAIN(test_help_window_t)
#include "test_help_window.moc"
