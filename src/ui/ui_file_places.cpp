#include "ui/ui_file_places.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

namespace ui_file_places {

namespace {

QSettings user_settings() { return QSettings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro"); }

QString key_of(kind_t kind) {
    switch (kind) {
        case kind_record:
            return "places/record_dir";
        case kind_export:
            return "places/export_dir";
        case kind_project:
            break;
    }
    return "places/project_dir";
}

}  // namespace

QString dir(kind_t kind) {
    const QString stored = user_settings().value(key_of(kind)).toString();
    if (!stored.isEmpty() && QFileInfo(stored).isDir()) return stored;
    return "./";
}

QString start(kind_t kind, const QString& file_name) {
    const QString d = dir(kind);
    if (file_name.isEmpty()) return d;
    return d == "./" ? "./" + file_name : QDir(d).filePath(file_name);
}

void remember(kind_t kind, const QString& chosen) {
    if (chosen.isEmpty()) return;
    const QFileInfo info(chosen);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    QSettings settings = user_settings();
    settings.setValue(key_of(kind), QDir::cleanPath(folder));
}

QStringList recent_projects() {
    QStringList out;
    for (const QString& p : user_settings().value("places/recent_projects").toStringList())
        if (QFileInfo(p).isFile() && !out.contains(p)) out << p;
    return out.mid(0, recent_limit);
}

void add_recent_project(const QString& path) {
    if (path.isEmpty()) return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QSettings settings = user_settings();
    QStringList list = settings.value("places/recent_projects").toStringList();
    list.removeAll(absolute);
    list.prepend(absolute);
    settings.setValue("places/recent_projects", QVariant(list.mid(0, recent_limit)));
    remember(kind_project, absolute);
}

QString save_file_name(QWidget* parent, kind_t kind, const QString& title, const QString& file_name,
                       const QString& filter) {
    const QString path = QFileDialog::getSaveFileName(parent, title, start(kind, file_name), filter);
    remember(kind, path);
    return path;
}

QString existing_directory(QWidget* parent, kind_t kind, const QString& title) {
    const QString path = QFileDialog::getExistingDirectory(parent, title, dir(kind), QFileDialog::ShowDirsOnly);
    remember(kind, path);
    return path;
}

}  // namespace ui_file_places
