#include "ui/ui_application.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <cstdio>

// The resources live in a static library; nothing else references them, so the linker
// would drop them without this explicit registration. Q_INIT_RESOURCE must not be used
// inside a namespace.
static void init_embedded_resources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(velkaro);
        return true;
    }();
    (void)done;
}

namespace {

const char* const style_sheet_files[] = {":/qss/ui.qss"};
const char* const application_font_file = ":/font/OpenSans-Regular.ttf";
const char* const program_icon_file = ":/image/Velkaro.ico";

}  // namespace

ui_application_t::ui_application_t(int& argc, char** argv) : QApplication(argc, argv) {}

bool ui_application_t::notify(QObject* receiver, QEvent* event) { return QApplication::notify(receiver, event); }

bool ui_application_t::install_style_and_font() {
    init_embedded_resources();
    bool ok = true;

    QString sheet;
    for (const char* name : style_sheet_files) {
        QFile file(QString::fromLatin1(name));
        if (!file.open(QIODevice::ReadOnly)) {
            std::printf("install_style_and_font: cannot open %s\n", name);
            ok = false;
            continue;
        }
        sheet += QString::fromUtf8(file.readAll());
    }
    qApp->setStyleSheet(sheet);

    // A failed registration returns no family; keep Qt's default font rather than
    // building a font from a family that does not exist.
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(application_font_file));
    const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        std::printf("install_style_and_font: cannot register %s\n", application_font_file);
        return false;
    }
    QApplication::setFont(QFont(families.first(), -1, -1, false));
    return ok;
}

void ui_application_t::install_window_icon() {
    init_embedded_resources();
    QApplication::setWindowIcon(QIcon(QString::fromLatin1(program_icon_file)));
}
