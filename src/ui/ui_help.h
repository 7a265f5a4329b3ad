// The help documents (shown in the program's own help window, ui_help_window_t). They sit beside the
// program in the build tree (bin/help) and under <prefix>/share/velkaro/help when
// installed; both are looked up relative to the executable.
#pragma once

#include <QString>
#include <QUrl>

// Documents of the help menu and the about box.
inline const char* const ui_help_document_cn = "help/Velkaro_help_CN.html";
inline const char* const ui_help_document_en = "help/Velkaro_help_EN.html";
inline const char* const ui_help_document_ack = "help/open-source_software_acknowledgment.html";

// The absolute file URL of a help document for a program in app_dir: the first layout
// that has the file, else the build-tree location (so a message names a real place).
QUrl ui_help_url_in(const QString& app_dir, const char* document);
// The same for the running program (QCoreApplication::applicationDirPath()).
QUrl ui_help_url(const char* document);
// Opens it with the desktop's default handler (the command line's way); false when the
// file is missing or nothing opened it. The program's menus use ui_help_window_t.
bool ui_open_help(const char* document);

// Answers --help, --version and --help-path, which need neither a window nor a display.
// Returns the exit status, or -1 when the arguments are for the program itself.
int ui_answer_info_option(int& argc, char** argv);
