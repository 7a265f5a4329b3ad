#include "ui/ui_publish.h"

#include <qt5keychain/keychain.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_publish.h"

namespace {

QSettings user_settings() { return QSettings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro"); }

const char* const key_targets = "publish/targets";
const char* const key_station = "publish/station";
const char* const key_cap = "publish/spool_cap_mib";
const char* const key_ca = "publish/ca_file";
const char* const keyring_service = "Velkaro publishing";
const char* const keyring_token = "VELKARO_PUBLISH_TOKEN";
const char* const keyring_password = "VELKARO_PUBLISH_PASSWORD";
const char* const keyring_mqtt_password = "VELKARO_MQTT_PASSWORD";

bool is_mqtt(const QString& url) {
    return url.startsWith("mqtt://", Qt::CaseInsensitive) || url.startsWith("mqtts://", Qt::CaseInsensitive);
}

// QtKeychain's jobs are asynchronous: each runs here in a local event loop (the keyring
// answers at once, or refuses at once when there is none).
bool keyring_read(const QString& key, QString& value) {
    QKeychain::ReadPasswordJob job(keyring_service);
    job.setAutoDelete(false);
    job.setKey(key);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    if (job.error() != QKeychain::NoError) return false;
    value = job.textData();
    return true;
}

bool keyring_write(const QString& key, const QString& value) {
    QKeychain::WritePasswordJob job(keyring_service);
    job.setAutoDelete(false);
    job.setKey(key);
    job.setTextData(value);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    return job.error() == QKeychain::NoError;
}

QString event_text(const pub_event_t& e) {
    const QString target = QString::fromStdString(e.target);
    switch (e.kind) {
    case pub_event_t::gone:
        return QString("Publishing: %1 went away (%2); readings are spooled.").arg(target, QString::fromStdString(e.reason));
    case pub_event_t::back:
        return QString("Publishing: %1 is back.").arg(target);
    case pub_event_t::caught_up:
        return QString("Publishing: %1 caught up with %2 spooled readings.").arg(target).arg(e.count);
    case pub_event_t::refused:
        return QString("Publishing: %1 refused %2 readings: %3").arg(target).arg(e.count).arg(QString::fromStdString(e.reason));
    case pub_event_t::spool_full:
        return QString("Publishing: the spool of %1 is full; readings are logged but not published.").arg(target);
    case pub_event_t::spool_space:
        return QString("Publishing: the spool of %1 has room again; %2 readings were not published.").arg(target).arg(e.count);
    case pub_event_t::spool_error:
    case pub_event_t::notice:
        return QString("Publishing: %1").arg(QString::fromStdString(e.reason));
    }
    return QString();
}

}  // namespace

ui_publish_settings_t ui_publish_settings_t::load() {
    QSettings s = user_settings();
    ui_publish_settings_t v;
    v.targets = s.value(key_targets).toStringList();
    v.station = s.value(key_station).toString();
    const int cap = s.value(key_cap, 1024).toInt();
    v.spool_cap_mib = cap >= 1 ? cap : 1024;
    v.ca_file = s.value(key_ca).toString();
    return v;
}

void ui_publish_settings_t::save() const {
    QSettings s = user_settings();
    s.setValue(key_targets, targets);
    s.setValue(key_station, station);
    s.setValue(key_cap, spool_cap_mib);
    s.setValue(key_ca, ca_file);
    s.sync();
}

QString ui_publish_settings_t::station_or_host() const {
    return station.trimmed().isEmpty() ? QHostInfo::localHostName() : station.trimmed();
}

bool ui_publish_settings_t::check(QString& error) const {
    for (const QString& url : targets) {
        pub_target_config_t config;
        config.url = url.toStdString();
        std::string why;
        if (!pub_make_target(config, why)) {
            error = QString::fromStdString(why);
            return false;
        }
    }
    if (!ca_file.isEmpty() && !QFileInfo(ca_file).isReadable()) {
        error = QString("Cannot read the CA file \"%1\".").arg(ca_file);
        return false;
    }
    return true;
}

QString ui_publish_secrets_t::fallback_path() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/publish.secret";
}

ui_publish_secrets_t ui_publish_secrets_t::load(QString* where) {
    ui_publish_secrets_t s;
    QString token, password, mqtt_password;
    const bool from_keyring = keyring_read(keyring_token, token) | keyring_read(keyring_password, password) |
                              keyring_read(keyring_mqtt_password, mqtt_password);
    if (from_keyring) {
        s.token = token;
        s.password = password;
        s.mqtt_password = mqtt_password;
        if (where != nullptr) *where = "the desktop's keyring";
        return s;
    }
    QFile file(fallback_path());
    if (file.open(QIODevice::ReadOnly)) {
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QString line = in.readLine();
            if (line.startsWith(QString(keyring_token) + "=")) s.token = line.mid(int(qstrlen(keyring_token)) + 1);
            if (line.startsWith(QString(keyring_password) + "="))
                s.password = line.mid(int(qstrlen(keyring_password)) + 1);
            if (line.startsWith(QString(keyring_mqtt_password) + "="))
                s.mqtt_password = line.mid(int(qstrlen(keyring_mqtt_password)) + 1);
        }
        if (where != nullptr) *where = fallback_path();
    }
    return s;
}

bool ui_publish_secrets_t::save(QString& error) const {
    if (keyring_write(keyring_token, token) && keyring_write(keyring_password, password) &&
        keyring_write(keyring_mqtt_password, mqtt_password)) {
        QFile::remove(fallback_path());  // a keyring now holds them
        return true;
    }
    // No keyring (a bare session): a file only the user can read.
    QDir().mkpath(QFileInfo(fallback_path()).path());
    QSaveFile file(fallback_path());
    if (!file.open(QIODevice::WriteOnly)) {
        error = QString("Cannot write %1.").arg(fallback_path());
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QTextStream out(&file);
    out << keyring_token << "=" << token << "\n"
        << keyring_password << "=" << password << "\n"
        << keyring_mqtt_password << "=" << mqtt_password << "\n";
    out.flush();
    if (!file.commit()) {
        error = QString("Cannot write %1.").arg(fallback_path());
        return false;
    }
    QFile::setPermissions(fallback_path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

ui_publish_service_t& ui_publish_service_t::instance() {
    static ui_publish_service_t service;
    return service;
}

ui_publish_service_t::ui_publish_service_t() {
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &ui_publish_service_t::signal_state_changed);
    // The threads end with the event loop, not at static destruction after the application.
    if (QCoreApplication::instance() != nullptr)
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { _stop(); });
}

ui_publish_service_t::~ui_publish_service_t() { _stop(); }

void ui_publish_service_t::_stop() {
    for (auto& [mngr, feed] : m_feeds) feed.reset();
    if (m_publisher) m_publisher->stop();  // what is left stays spooled for the next start
    m_publisher.reset();
    m_timer->stop();
}

void ui_publish_service_t::reconfigure() {
    _stop();
    m_error.clear();
    const ui_publish_settings_t settings = ui_publish_settings_t::load();
    if (!settings.targets.isEmpty()) {
        const ui_publish_secrets_t secrets = ui_publish_secrets_t::load();
        pub_options_t options;
        options.spool_root = pub_default_spool_root();
        options.spool_cap_bytes = static_cast<uint64_t>(settings.spool_cap_mib) << 20;
        auto publisher = std::make_unique<pub_publisher_t>(options);
        bool ok = true;
        for (const QString& url : settings.targets) {
            pub_target_config_t config;
            config.url = url.toStdString();
            config.ca_file = settings.ca_file.toStdString();
            config.token = secrets.token.toStdString();
            // A broker's own password; the one password of earlier versions where none is set.
            const QString& password =
                is_mqtt(url) && !secrets.mqtt_password.isEmpty() ? secrets.mqtt_password : secrets.password;
            config.password = password.toStdString();
            std::string error;
            auto target = pub_make_target(config, error);
            if (!target || !publisher->add_target(std::move(target), error)) {
                m_error = QString::fromStdString(error);
                ok = false;
                break;
            }
        }
        if (ok) {
            publisher->set_event_callback([this](const pub_event_t& e) {
                const QString text = event_text(e);
                QMetaObject::invokeMethod(this, [this, text] { emit signal_console_line(text); }, Qt::QueuedConnection);
            });
            publisher->start();
            m_publisher = std::move(publisher);
            m_station = settings.station_or_host();
            m_timer->start();
        }
    }
    for (auto& [mngr, feed] : m_feeds)
        if (m_publisher) feed = std::make_unique<plib_mngr_publish_t>(*mngr, *m_publisher, m_station.toStdString());
    emit signal_state_changed();
}

void ui_publish_service_t::attach(plib_mngr_t* mngr) {
    if (mngr == nullptr || m_feeds.count(mngr)) return;
    auto& feed = m_feeds[mngr];
    if (m_publisher) feed = std::make_unique<plib_mngr_publish_t>(*mngr, *m_publisher, m_station.toStdString());
}

void ui_publish_service_t::detach(plib_mngr_t* mngr) { m_feeds.erase(mngr); }

void ui_publish_service_t::refresh(plib_mngr_t* mngr) {
    auto it = m_feeds.find(mngr);
    if (it != m_feeds.end() && it->second) it->second->refresh();
}

std::vector<pub_target_status_t> ui_publish_service_t::status() const {
    return m_publisher ? m_publisher->status() : std::vector<pub_target_status_t>{};
}

pub_state_t ui_publish_service_t::state() const {
    pub_state_t worst = pub_state_off;
    for (const pub_target_status_t& s : status()) worst = std::max(worst, s.state);
    return worst;
}

QString ui_publish_service_t::state_text() const {
    const std::vector<pub_target_status_t> all = status();
    if (all.empty()) return "off";
    const pub_target_status_t* worst = &all.front();
    for (const auto& s : all)
        if (s.state > worst->state) worst = &s;
    switch (worst->state) {
    case pub_state_off:
        return "off";
    case pub_state_live:
        return "live";
    case pub_state_catching_up:
        return QString("catching up with %1 readings spooled").arg(worst->spooled);
    case pub_state_failing:
        return QString("failing: %1").arg(QString::fromStdString(worst->reason));
    }
    return "off";
}
