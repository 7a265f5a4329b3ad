// The user's preferences, on two pages. General: finding instruments (hosts and CIDR
// ranges to probe, the broadcast switch and the VXI-11 portmapper port), and whether the
// last project (the default project written at exit) opens again at start. Publish: the
// databases and MQTT brokers every reading goes to, with the state of each
// (ui_publish.h keeps those settings and the secrets).
// The first page's settings are stored with QSettings in the user's
// configuration directory (Velkaro/velkaro.ini); handed to the VISA layer's discovery,
// where the environment variables (VELKARO_VISA_HOSTS, VELKARO_VXI11_PORTMAPPER_PORT)
// still win when set. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QTabWidget;
class QTableWidget;

struct ui_preferences_t {
    QStringList hosts;
    QStringList ranges;
    bool broadcast = false;
    int portmapper_port = 111;
    // Open a lost instrument again and go on with its run (off: a lost link disconnects it).
    bool reconnect = false;
    // Off unless the user sets it: a start opens no project by itself.
    bool reopen_last_project = false;

    // From the user's settings (defaults where nothing is stored: no host, no range).
    static ui_preferences_t load();
    void save() const;
    // Hands the hosts, ranges and port to the discovery of the VISA layer, and the
    // reconnection switch to every instrument.
    void apply() const;
    // Each range must be a CIDR block the discovery accepts; the first that is not is
    // named in `error`.
    bool check(QString& error) const;
};

// Splits a text into entries at line breaks, commas and blanks; empty entries dropped.
QStringList ui_preference_entries(const QString& text);

class ui_preferences_dialog_t : public QDialog {
    Q_OBJECT
public:
    explicit ui_preferences_dialog_t(QWidget* parent = nullptr);

    // The values the widgets hold now.
    ui_preferences_t values() const;

protected:
    // Grey placeholders: set once the style sheet has polished and shown the edits.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // Checks, saves and applies both pages; a bad range or target keeps the dialog open
    // with a "Tips" box.
    void slot_accept();
    void slot_browse_ca();
    // The state of every running target (delivered, queued, refused, why it fails).
    void slot_show_publish_state();

private:
    QPlainTextEdit* m_hosts = nullptr;
    QPlainTextEdit* m_ranges = nullptr;
    QCheckBox* m_broadcast = nullptr;
    QSpinBox* m_port = nullptr;
    QCheckBox* m_reconnect = nullptr;
    QCheckBox* m_reopen = nullptr;
    QLabel* m_env_note = nullptr;
    QTabWidget* m_pages = nullptr;
    // Publish page.
    QPlainTextEdit* m_targets = nullptr;
    QLineEdit* m_station = nullptr;
    QSpinBox* m_spool_cap = nullptr;
    QLineEdit* m_ca_file = nullptr;
    QLineEdit* m_token = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_mqtt_password = nullptr;
    QLabel* m_secret_note = nullptr;
    QTableWidget* m_publish_state = nullptr;
    QString m_loaded_token;
    QString m_loaded_password;
    QString m_loaded_mqtt_password;
};
