#include "ui/ui_help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

#include "common/plib_version.h"

namespace {

// Where the help lives relative to the executable's directory, in the order tried:
// beside it (build tree), then the installed data directory (<prefix>/bin/../share/velkaro).
const char* const help_bases[] = {".", "../share/velkaro"};

const char* const usage_text =
    "Usage: velkaro [FILE.dmm]\n"
    "Remote control and logging for VXA and VXB bench multimeters.\n"
    "\n"
    "  FILE.dmm       open this project (its instruments and their settings)\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "  --help-path    print the directory of the help documents and exit\n"
    "\n"
    "Without FILE.dmm the program starts with no instrument. The instruments in use\n"
    "are saved to the default project (default_save.dmm) when the program ends; Project >\n"
    "Recall opens it again, and so does every start once \"Reopen the last project at\n"
    "start\" is set in Preferences.\n";

}  // namespace

QUrl ui_help_url_in(const QString& app_dir, const char* document) {
    const QDir dir(app_dir);
    QString first;
    for (const char* base : help_bases) {
        const QString path = QDir::cleanPath(
            dir.absoluteFilePath(QString::fromUtf8(base) + '/' + QString::fromUtf8(document)));
        if (first.isEmpty()) first = path;
        if (QFileInfo::exists(path)) return QUrl::fromLocalFile(path);
    }
    return QUrl::fromLocalFile(first);
}

QUrl ui_help_url(const char* document) {
    return ui_help_url_in(QCoreApplication::applicationDirPath(), document);
}

bool ui_open_help(const char* document) {
    const QUrl url = ui_help_url(document);
    if (!QFileInfo::exists(url.toLocalFile())) {
        std::printf("help document not found: %s\n", url.toLocalFile().toUtf8().constData());
        std::fflush(stdout);
        return false;
    }
    // The desktop handler (xdg-open) starts the viewer detached; nothing to wait for.
    return QDesktopServices::openUrl(url);
}

int ui_answer_info_option(int& argc, char** argv) {
    if (argc < 2) return -1;
    const char* arg = argv[1];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
        std::printf("velkaro %s\n", plib_version_number);
        return 0;
    }
    if (std::strcmp(arg, "--help-path") == 0) {
        // Only the executable's location is needed; a core application gives it without a display.
        const QCoreApplication core(argc, argv);
        const QString file = ui_help_url(ui_help_document_en).toLocalFile();
        if (!QFileInfo::exists(file)) {
            std::fprintf(stderr, "help documents not found (looked for %s)\n", file.toUtf8().constData());
            return 1;
        }
        std::printf("%s\n", QFileInfo(file).absolutePath().toUtf8().constData());
        return 0;
    }
    return -1;
}
