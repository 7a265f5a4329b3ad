#include "ui/ui_help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

QUrl ui_help_url(const char* document) {
    const QDir app_dir(QCoreApplication::applicationDirPath());
    return QUrl::fromLocalFile(app_dir.absoluteFilePath(QString::fromUtf8(document)));
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
