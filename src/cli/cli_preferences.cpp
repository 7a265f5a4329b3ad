#include "cli/cli_preferences.h"

#ifdef VELKARO_CLI_QT_SETTINGS
#include <QSettings>
#include <QString>
#include <QStringList>
#endif

namespace velkaro_cli {

cli_search_preferences_t load_search_preferences() {
    cli_search_preferences_t out;
#ifdef VELKARO_CLI_QT_SETTINGS
    // The GUI's file and keys (ui_preferences.cpp); no application object is needed.
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro");
    for (const QString& h : settings.value("search/hosts").toStringList())
        if (!h.trimmed().isEmpty()) out.hosts.push_back(h.trimmed().toStdString());
    for (const QString& r : settings.value("search/ranges").toStringList())
        if (!r.trimmed().isEmpty()) out.ranges.push_back(r.trimmed().toStdString());
    bool ok = false;
    const int port = settings.value("search/portmapper_port").toInt(&ok);
    if (ok && port > 0 && port <= 65535) out.portmapper_port = static_cast<uint16_t>(port);
#endif
    return out;
}

}  // namespace velkaro_cli
