// Publishing from the desktop program: the settings of Instrument → Preferences →
// Publish (targets: databases and MQTT brokers, station, spool cap, CA file, in QSettings), the secrets (token,
// password) in the desktop's keyring through QtKeychain or, without one, in a 0600 file
// of the user's configuration directory (never in a project), and the one publisher of
// the process with a feed per instrument.
//
// Threads: everything here belongs to the GUI thread, except the publisher's own threads,
// whose events reach signal_console_line through a queued call. The device items attach
// their managers, refresh the tags after a connect, and detach before the manager goes.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>

#include "pub/pub_publisher.h"

class QTimer;
class plib_mngr_t;
class plib_mngr_publish_t;

struct ui_publish_settings_t {
    QStringList targets;
    QString station;  // empty: the host name
    int spool_cap_mib = 1024;
    QString ca_file;

    static ui_publish_settings_t load();
    void save() const;
    QString station_or_host() const;
    // Every target must be a URL the publisher takes; the first that is not is named.
    bool check(QString& error) const;
};

struct ui_publish_secrets_t {
    QString token;
    QString password;       // InfluxDB 1.x: the password of the URL's user
    QString mqtt_password;  // MQTT brokers: the password of the URL's user

    // From the keyring, else from the fallback file; `where` says which one held them.
    static ui_publish_secrets_t load(QString* where = nullptr);
    // Into the keyring; without one into the 0600 file. False with `error` said.
    bool save(QString& error) const;
    static QString fallback_path();
};

class ui_publish_service_t : public QObject {
    Q_OBJECT
public:
    static ui_publish_service_t& instance();

    // Builds the publisher from the saved settings and secrets; with no target it is off.
    // Every attached manager is fed by the new publisher.
    void reconfigure();
    bool enabled() const { return m_publisher != nullptr; }
    QString last_error() const { return m_error; }

    void attach(plib_mngr_t* mngr);
    void detach(plib_mngr_t* mngr);
    void refresh(plib_mngr_t* mngr);

    // The state of publishing for a device item: "off", "live", "catching up with N
    // readings spooled", "failing: REASON" (the worst target's).
    QString state_text() const;
    pub_state_t state() const;
    std::vector<pub_target_status_t> status() const;

signals:
    // Once a second while publishing is on, and after every reconfiguration.
    void signal_state_changed();
    // A target went away, came back, caught up, refused, or the spool filled.
    void signal_console_line(const QString& text);

private:
    ui_publish_service_t();
    ~ui_publish_service_t() override;
    void _stop();

    std::unique_ptr<pub_publisher_t> m_publisher;
    std::map<plib_mngr_t*, std::unique_ptr<plib_mngr_publish_t>> m_feeds;  // attached managers
    QString m_station;
    QString m_error;
    QTimer* m_timer = nullptr;
};
