#include "ui/ui_preferences.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QHeaderView>
#include <QTableWidget>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QEvent>
#include <QPalette>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <string>
#include <vector>

#include "ui/mngr/plib_reconnect.h"
#include "ui/ui_publish.h"
#include "visa/visa_discovery.h"
#include "visa/visa_portmap.h"

namespace {

QSettings user_settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "Velkaro", "velkaro");
}

const char* const key_hosts = "search/hosts";
const char* const key_ranges = "search/ranges";
const char* const key_broadcast = "search/broadcast";
const char* const key_reconnect = "link/reconnect";
const char* const key_port = "search/portmapper_port";
const char* const key_reopen = "start/reopen_last_project";

std::vector<std::string> to_std(const QStringList& list) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(list.size()));
    for (const QString& entry : list) out.push_back(entry.toStdString());
    return out;
}

}  // namespace

QStringList ui_preference_entries(const QString& text) {
    return text.split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
}

ui_preferences_t ui_preferences_t::load() {
    QSettings settings = user_settings();
    ui_preferences_t values;
    values.hosts = settings.value(key_hosts).toStringList();
    values.ranges = settings.value(key_ranges).toStringList();
    values.broadcast = settings.value(key_broadcast, false).toBool();
    values.reconnect = settings.value(key_reconnect, false).toBool();
    const int port = settings.value(key_port, int(visa::portmap_default_port)).toInt();
    values.portmapper_port = port >= 1 && port <= 65535 ? port : int(visa::portmap_default_port);
    values.reopen_last_project = settings.value(key_reopen, false).toBool();
    return values;
}

void ui_preferences_t::save() const {
    QSettings settings = user_settings();
    settings.setValue(key_hosts, hosts);
    settings.setValue(key_ranges, ranges);
    settings.setValue(key_broadcast, broadcast);
    settings.setValue(key_reconnect, reconnect);
    settings.setValue(key_port, portmapper_port);
    settings.setValue(key_reopen, reopen_last_project);
    settings.sync();
}

void ui_preferences_t::apply() const {
    visa::discovery_settings_t settings;
    settings.hosts = to_std(hosts);
    settings.ranges = to_std(ranges);
    settings.broadcast = broadcast;
    settings.portmapper_port = static_cast<uint16_t>(portmapper_port);
    visa::set_discovery_settings(settings);
    plib_reconnect_policy_t policy;
    policy.enabled = reconnect;
    plib_reconnect_t::set_default_policy(policy);
}

bool ui_preferences_t::check(QString& error) const {
    for (const QString& range : ranges) {
        std::vector<std::string> addresses;
        std::string why;
        if (!visa::parse_cidr_range(range.toStdString(), addresses, why)) {
            error = QString("Invalid address range \"%1\": %2.").arg(range, QString::fromStdString(why));
            return false;
        }
    }
    return true;
}

ui_preferences_dialog_t::ui_preferences_dialog_t(QWidget* parent) : QDialog(parent) {
    setObjectName("preferences_dialog");
    setWindowTitle("Preferences");
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);

    const ui_preferences_t current = ui_preferences_t::load();
    m_hosts = new QPlainTextEdit(current.hosts.join('\n'), this);
    m_hosts->setObjectName("preferences_hosts");
    m_hosts->setPlaceholderText("192.168.1.20\nmeter-7.lab");
    m_ranges = new QPlainTextEdit(current.ranges.join('\n'), this);
    m_ranges->setObjectName("preferences_ranges");
    m_ranges->setPlaceholderText("192.168.1.0/24");
    // Examples, not entries: drawn in grey. The style sheet gives placeholders the text's
    // colour when it polishes the edits, so the grey is set after that.
    m_hosts->installEventFilter(this);
    m_ranges->installEventFilter(this);
    m_broadcast = new QCheckBox("Search by broadcast", this);
    m_broadcast->setObjectName("preferences_broadcast");
    m_broadcast->setChecked(current.broadcast);
    m_broadcast->setToolTip("Kept for later: this version asks only the hosts and ranges listed above.");
    m_port = new QSpinBox(this);
    m_port->setObjectName("preferences_portmapper_port");
    m_port->setRange(1, 65535);
    m_port->setValue(current.portmapper_port);
    m_reconnect = new QCheckBox("Reconnect lost instruments automatically", this);
    m_reconnect->setObjectName("preferences_reconnect");
    m_reconnect->setChecked(current.reconnect);
    m_reconnect->setToolTip("After a lost link, try again (after 1 s, then at most every 30 s) and, when the "
                            "same instrument answers, go on measuring or scanning into the same files.");

    m_reopen = new QCheckBox("Reopen the last project at start", this);
    m_reopen->setObjectName("preferences_reopen_last_project");
    m_reopen->setChecked(current.reopen_last_project);
    m_reopen->setToolTip("The instruments in use when the program ended (default_save.dmm) are "
                         "recalled when it starts without a project file.");

    auto* form = new QFormLayout;
    form->addRow("Hosts to search (one per line):", m_hosts);
    form->addRow("Address ranges (CIDR, at most 1024 addresses each):", m_ranges);
    form->addRow(QString(), m_broadcast);
    form->addRow("VXI-11 portmapper port:", m_port);
    form->addRow(QString(), m_reconnect);
    form->addRow(QString(), m_reopen);

    QStringList overriding;
    if (!qEnvironmentVariableIsEmpty("VELKARO_VISA_HOSTS")) overriding << "VELKARO_VISA_HOSTS";
    if (!qEnvironmentVariableIsEmpty("VELKARO_VXI11_PORTMAPPER_PORT"))
        overriding << "VELKARO_VXI11_PORTMAPPER_PORT";
    m_env_note = new QLabel(this);
    m_env_note->setObjectName("preferences_env_note");
    m_env_note->setWordWrap(true);
    m_env_note->setText(overriding.isEmpty()
                            ? QString()
                            : QString("Set in the environment, used instead of these settings: %1.")
                                  .arg(overriding.join(", ")));
    m_env_note->setVisible(!overriding.isEmpty());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("preferences_buttons");
    connect(buttons, &QDialogButtonBox::accepted, this, &ui_preferences_dialog_t::slot_accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* search = new QWidget(this);
    search->setObjectName("preferences_general_page");
    auto* search_layout = new QVBoxLayout(search);
    search_layout->addLayout(form);
    search_layout->addWidget(m_env_note);

    // Publish page.
    const ui_publish_settings_t publish = ui_publish_settings_t::load();
    QString secrets_where;
    const ui_publish_secrets_t secrets = ui_publish_secrets_t::load(&secrets_where);
    m_loaded_token = secrets.token;
    m_loaded_password = secrets.password;
    m_loaded_mqtt_password = secrets.mqtt_password;
    auto* publish_page = new QWidget(this);
    publish_page->setObjectName("preferences_publish_page");
    m_targets = new QPlainTextEdit(publish.targets.join('\n'), publish_page);
    m_targets->setObjectName("preferences_publish_targets");
    m_targets->installEventFilter(this);  // grey examples, as the hosts
    m_targets->setPlaceholderText("http://db.lab:8086/write?db=lab\n"
                                  "https://db2.lab:8086/api/v2/write?org=lab&bucket=benches\n"
                                  "mqtt://bench@broker.lab/lab");
    m_station = new QLineEdit(publish.station, publish_page);
    m_station->setObjectName("preferences_publish_station");
    m_station->setPlaceholderText(publish.station_or_host());
    m_spool_cap = new QSpinBox(publish_page);
    m_spool_cap->setObjectName("preferences_publish_spool_cap");
    m_spool_cap->setRange(1, 1024 * 1024);
    m_spool_cap->setSuffix(" MiB");
    m_spool_cap->setValue(publish.spool_cap_mib);
    m_ca_file = new QLineEdit(publish.ca_file, publish_page);
    m_ca_file->setObjectName("preferences_publish_ca");
    auto* browse = new QPushButton("Browse...", publish_page);
    browse->setObjectName("preferences_publish_ca_browse");
    connect(browse, &QPushButton::clicked, this, &ui_preferences_dialog_t::slot_browse_ca);
    auto* ca_row = new QHBoxLayout;
    ca_row->addWidget(m_ca_file);
    ca_row->addWidget(browse);
    m_token = new QLineEdit(secrets.token, publish_page);
    m_token->setObjectName("preferences_publish_token");
    m_token->setEchoMode(QLineEdit::Password);
    m_password = new QLineEdit(secrets.password, publish_page);
    m_password->setObjectName("preferences_publish_password");
    m_password->setEchoMode(QLineEdit::Password);
    m_mqtt_password = new QLineEdit(secrets.mqtt_password, publish_page);
    m_mqtt_password->setObjectName("preferences_publish_mqtt_password");
    m_mqtt_password->setEchoMode(QLineEdit::Password);
    m_secret_note = new QLabel(publish_page);
    m_secret_note->setObjectName("preferences_publish_secret_note");
    m_secret_note->setWordWrap(true);
    m_secret_note->setText("The token and the passwords are kept in the desktop's keyring, or without one in a "
                           "file only you can read (" + ui_publish_secrets_t::fallback_path() +
                           "), never in a project." +
                           (secrets_where.isEmpty() ? QString() : " Now kept in " + secrets_where + "."));
    auto* publish_form = new QFormLayout;
    publish_form->addRow("Station name:", m_station);
    publish_form->addRow("Spool size cap per target:", m_spool_cap);
    publish_form->addRow("CA certificates (PEM):", ca_row);
    publish_form->addRow("InfluxDB 2/3 token:", m_token);
    publish_form->addRow("InfluxDB 1.x password (user in the URL):", m_password);
    publish_form->addRow("MQTT broker password (user in the URL):", m_mqtt_password);
    // The running targets, as the publisher sees them now.
    m_publish_state = new QTableWidget(0, 5, publish_page);
    m_publish_state->setObjectName("preferences_publish_state");
    m_publish_state->setHorizontalHeaderLabels({"Target", "State", "Delivered", "Queued", "Refused"});
    m_publish_state->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_publish_state->setSelectionMode(QAbstractItemView::NoSelection);
    m_publish_state->setFocusPolicy(Qt::NoFocus);
    // The reason of a failure is the point of the table: it wraps instead of being cut.
    m_publish_state->setWordWrap(true);
    m_publish_state->verticalHeader()->hide();
    m_publish_state->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_publish_state->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_publish_state->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    for (int c = 2; c < 5; ++c) m_publish_state->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    m_publish_state->setMinimumHeight(76);
    auto* publish_layout = new QVBoxLayout(publish_page);
    // The URLs are long: the whole width is theirs.
    auto* targets_label = new QLabel("Targets, one per line: database write URLs and MQTT brokers "
                                     "(mqtt[s]://[user@]host[:port]/prefix):",
                                     publish_page);
    targets_label->setWordWrap(true);
    publish_layout->addWidget(targets_label);
    m_targets->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_targets->setMinimumHeight(60);
    publish_layout->addWidget(m_targets);
    publish_layout->addLayout(publish_form);
    publish_layout->addWidget(m_secret_note);
    publish_layout->addWidget(new QLabel("State of the targets in use:", publish_page));
    publish_layout->addWidget(m_publish_state, 1);
    connect(&ui_publish_service_t::instance(), &ui_publish_service_t::signal_state_changed, this,
            &ui_preferences_dialog_t::slot_show_publish_state);
    slot_show_publish_state();

    m_pages = new QTabWidget(this);
    m_pages->setObjectName("preferences_pages");
    m_pages->addTab(search, "General");
    m_pages->addTab(publish_page, "Publish");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
    resize(760, 580);
}

ui_preferences_t ui_preferences_dialog_t::values() const {
    ui_preferences_t values;
    values.hosts = ui_preference_entries(m_hosts->toPlainText());
    values.ranges = ui_preference_entries(m_ranges->toPlainText());
    values.broadcast = m_broadcast->isChecked();
    values.portmapper_port = m_port->value();
    values.reconnect = m_reconnect->isChecked();
    values.reopen_last_project = m_reopen->isChecked();
    return values;
}

void ui_preferences_dialog_t::slot_browse_ca() {
    const QString file = QFileDialog::getOpenFileName(this, "CA certificates", m_ca_file->text(),
                                                      "PEM certificates (*.pem *.crt);;All files (*)");
    if (!file.isEmpty()) m_ca_file->setText(file);
}

void ui_preferences_dialog_t::slot_accept() {
    const ui_preferences_t chosen = values();
    QString error;
    if (!chosen.check(error)) {
        m_pages->setCurrentIndex(0);
        QMessageBox::warning(this, "Tips", error, QMessageBox::Ok);
        return;
    }
    ui_publish_settings_t publish;
    publish.targets = m_targets->toPlainText().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    publish.station = m_station->text().trimmed();
    publish.spool_cap_mib = m_spool_cap->value();
    publish.ca_file = m_ca_file->text().trimmed();
    if (!publish.check(error)) {
        m_pages->setCurrentIndex(1);
        QMessageBox::warning(this, "Tips", error, QMessageBox::Ok);
        return;
    }
    const bool publish_changed = publish.targets != ui_publish_settings_t::load().targets ||
                                 publish.station != ui_publish_settings_t::load().station ||
                                 publish.spool_cap_mib != ui_publish_settings_t::load().spool_cap_mib ||
                                 publish.ca_file != ui_publish_settings_t::load().ca_file;
    const bool secrets_changed = m_token->text() != m_loaded_token || m_password->text() != m_loaded_password ||
                                 m_mqtt_password->text() != m_loaded_mqtt_password;
    if (secrets_changed) {
        ui_publish_secrets_t secrets{m_token->text(), m_password->text(), m_mqtt_password->text()};
        if (!secrets.save(error)) {
            m_pages->setCurrentIndex(1);
            QMessageBox::warning(this, "Tips", error, QMessageBox::Ok);
            return;
        }
    }
    chosen.save();
    chosen.apply();
    publish.save();
    if (publish_changed || secrets_changed) ui_publish_service_t::instance().reconfigure();
    accept();
}

void ui_preferences_dialog_t::slot_show_publish_state() {
    const std::vector<pub_target_status_t> all = ui_publish_service_t::instance().status();
    const QString error = ui_publish_service_t::instance().last_error();
    m_publish_state->setRowCount(static_cast<int>(all.size()) + (error.isEmpty() ? 0 : 1));
    int row = 0;
    auto put = [this, &row](int column, const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
        QTableWidgetItem* item = m_publish_state->item(row, column);
        if (item == nullptr) {
            item = new QTableWidgetItem;
            m_publish_state->setItem(row, column, item);
        }
        item->setText(text);
        item->setToolTip(text);
        item->setTextAlignment(align);
    };
    const Qt::Alignment number = Qt::AlignRight | Qt::AlignVCenter;
    for (const pub_target_status_t& s : all) {
        QString state = QString::fromStdString(pub_state_text(s));
        // A target that takes readings again still tells why it set some aside.
        if (s.state != pub_state_failing && s.refused > 0 && !s.reason.empty())
            state += QString(" (refused: %1)").arg(QString::fromStdString(s.reason));
        if (s.not_published > 0) state += QString(", %1 not published").arg(s.not_published);
        put(0, QString::fromStdString(s.name));
        put(1, state);
        put(2, QString::number(s.published), number);
        put(3, QString::number(s.spooled), number);
        put(4, QString::number(s.refused), number);
        ++row;
    }
    if (!error.isEmpty()) {  // the settings could not start a publisher
        put(0, "(none)");
        put(1, "not started: " + error);
        for (int c = 2; c < 5; ++c) put(c, QString());
    }
    // Tall enough for every row (a reason may take two lines), up to four; then it scrolls.
    m_publish_state->resizeRowsToContents();
    int height = m_publish_state->horizontalHeader()->sizeHint().height() + 2 * m_publish_state->frameWidth();
    for (int r = 0; r < m_publish_state->rowCount() && r < 4; ++r) height += m_publish_state->rowHeight(r);
    m_publish_state->setMinimumHeight(std::max(76, height + 4));
}

bool ui_preferences_dialog_t::eventFilter(QObject* watched, QEvent* event) {
    // After the style sheet's polish, and again whenever it gives the palette back.
    if ((event->type() == QEvent::Polish || event->type() == QEvent::Show) &&
        (watched == m_hosts || watched == m_ranges || watched == m_targets)) {
        auto* edit = static_cast<QPlainTextEdit*>(watched);
        QPalette palette = edit->palette();
        palette.setColor(QPalette::PlaceholderText, QColor(0x9A, 0x9A, 0x9A));
        edit->setPalette(palette);
    }
    return QDialog::eventFilter(watched, event);
}
