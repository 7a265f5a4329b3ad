// Where the file dialogs start: each kind of file (record folders, exports, project
// files) remembers the folder the user chose last, and the project menu keeps a list of
// the last projects. Stored with QSettings beside the preferences (group "places"), so a
// test points QSettings at a temporary directory to start from nothing.
//
// GUI thread only.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace ui_file_places {

enum kind_t { kind_record, kind_export, kind_project };

// Projects the recent list keeps.
inline constexpr int recent_limit = 8;

// The folder remembered for `kind`; "./" (the working directory) when none is or it
// no longer exists.
QString dir(kind_t kind);
// `dir(kind)` joined with a suggested file name.
QString start(kind_t kind, const QString& file_name);
// Remembers the folder of a chosen file (or the chosen folder itself); empty does nothing.
void remember(kind_t kind, const QString& chosen);

// The last projects, newest first, existing files only.
QStringList recent_projects();
// Puts `path` at the top of the list (once), dropping the oldest past recent_limit.
void add_recent_project(const QString& path);

// Save and open dialogs and a folder choice that start where `kind` was left and
// remember the answer. Empty when cancelled.
QString save_file_name(QWidget* parent, kind_t kind, const QString& title, const QString& file_name,
                       const QString& filter);
QString existing_directory(QWidget* parent, kind_t kind, const QString& title);

}  // namespace ui_file_places
