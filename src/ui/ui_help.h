// The help documents installed beside the program (help/ next to bin/velkaro), opened
// with the desktop's default handler.
#pragma once

#include <QString>
#include <QUrl>

// Documents of the help menu and the about box.
inline const char* const ui_help_document_cn = "help/Velkaro_help_CN.html";
inline const char* const ui_help_document_en = "help/Velkaro_help_EN.html";
inline const char* const ui_help_document_ack = "help/open-source_software_acknowledgment.html";

// The absolute file URL of a help document, resolved against the application directory.
QUrl ui_help_url(const char* document);
// Opens it with the default handler; false when the file is missing or nothing opened it.
bool ui_open_help(const char* document);
