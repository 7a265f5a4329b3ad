#include "ui/ui_lab_window.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QCloseEvent>
#include <QColor>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <limits>
#include <future>
#include <mutex>
#include <set>

#include "pub/pub_mqtt_target.h"
#include "ui/ui_publish.h"

namespace {

constexpr int keepalive_s = 30;
constexpr int loop_timeout_ms = 100;          // longest wait of the feed's thread: bounds stop()
constexpr double rows_interval_s = 0.25;      // at most four updates a second reach the GUI
constexpr double retry_after_failure_s = 2;   // a broker that is not there yet
constexpr double retry_after_refusal_s = 5;   // a login the broker refused
constexpr int qos_at_least_once = 1;
constexpr int stop_wait_ms = 1000;  // past that only a name lookup can hold the thread

const QColor dimmed_text(0x7A, 0x7A, 0x7A);

// What the callbacks of the feed's mosquitto handle fill in; the feed's thread only.
struct feed_context_t {
    explicit feed_context_t(std::string prefix) : table(std::move(prefix)) {}
    pub_watch_table_t table;
    std::set<pub_watch_table_t::key_t> changed;
    int connack = -1;  // the broker's answer to the last connect; -1: none yet
    const ui_lab_feed_shared_t* shared = nullptr;
};

void run_feed(const std::shared_ptr<ui_lab_feed_shared_t>& shared);

QString network_error(int rc, int saved_errno) {
    if (rc == MOSQ_ERR_ERRNO) return QString::fromLocal8Bit(std::strerror(saved_errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

}  // namespace

struct ui_lab_feed_shared_t {
    ui_lab_broker_t broker;
    std::string password;
    std::string ca_file;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::atomic<bool> stop{false};
    std::mutex mutex;               // guards feed
    ui_lab_feed_t* feed = nullptr;  // whom to signal; null once the feed let go

    double now_s() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
    void status(const QString& line, bool failed) {
        std::lock_guard<std::mutex> lock(mutex);
        if (feed != nullptr) emit feed->signal_status(line, failed);
    }
    void rows(const std::vector<pub_watch_row_t>& rows) {
        std::lock_guard<std::mutex> lock(mutex);
        if (feed != nullptr) emit feed->signal_rows(rows);
    }
};

// Read by the publishing targets' own parser, so a target of the Publish page means the
// same broker and prefix here. Its errors repeat the URL; these never do (it may hold a
// password), and they say where a password goes in this program.
bool ui_lab_broker_t::parse(const QString& url, ui_lab_broker_t& broker, QString& error) {
    pub_mqtt_url_t parsed;
    std::string why;
    pub_mqtt_url_fault_t fault = pub_mqtt_url_fault_t::none;
    if (!pub_parse_mqtt_url(url.trimmed().toStdString(), parsed, why, &fault)) {
        switch (fault) {
        case pub_mqtt_url_fault_t::password:
            error = "A password does not belong in the URL: set it in Preferences → Publish.";
            break;
        case pub_mqtt_url_fault_t::scheme:
            error = "Not an MQTT broker URL: mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://...";
            break;
        default:
            error = "Not an MQTT broker URL: mqtt://[USER@]HOST[:PORT]/PREFIX (a host and a topic prefix, no wildcards)";
            break;
        }
        return false;
    }
    broker.tls = parsed.tls;
    broker.host = QString::fromStdString(parsed.host);
    broker.port = parsed.port;
    broker.user = QString::fromStdString(parsed.user);
    broker.prefix = QString::fromStdString(parsed.prefix);
    return true;
}

// ---- feed -------------------------------------------------------------------------

ui_lab_feed_t::ui_lab_feed_t(ui_lab_broker_t broker, QString password, QString ca_file, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<ui_lab_feed_shared_t>()) {
    qRegisterMetaType<std::vector<pub_watch_row_t>>();
    m_shared->broker = std::move(broker);
    m_shared->password = password.toStdString();
    m_shared->ca_file = ca_file.toStdString();
    m_shared->feed = this;
}

ui_lab_feed_t::~ui_lab_feed_t() { stop(); }

double ui_lab_feed_t::now_s() const { return m_shared->now_s(); }

void ui_lab_feed_t::start() {
    if (m_thread.joinable() || m_shared->stop) return;
    auto done = std::make_shared<std::promise<void>>();
    m_done = done->get_future();
    m_thread = std::thread([shared = m_shared, done] {
        run_feed(shared);
        done->set_value();
    });
}

void ui_lab_feed_t::stop() {
    m_shared->stop = true;
    if (!m_thread.joinable()) return;
    if (m_done.wait_for(std::chrono::milliseconds(stop_wait_ms)) == std::future_status::ready) {
        m_thread.join();
        return;
    }
    // A name lookup holds the thread: it ends alone, signalling no one.
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->feed = nullptr;
    }
    m_thread.detach();
}

namespace {

void run_feed(const std::shared_ptr<ui_lab_feed_shared_t>& shared_ptr) {
    ui_lab_feed_shared_t& shared = *shared_ptr;
    const ui_lab_broker_t& broker = shared.broker;
    const std::string& ca_file = shared.ca_file;
    auto now_s = [&shared] { return shared.now_s(); };
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
    const std::string host = broker.host.toStdString();
    const std::string filter = broker.prefix.toStdString() + "/#";
    const QString where = broker.where();

    feed_context_t context(broker.prefix.toStdString());
    context.shared = &shared;
    mosquitto* mosq = mosquitto_new(nullptr, true, &context);
    if (mosq == nullptr) {
        shared.status(QString("Cannot watch %1: no memory for a client.").arg(where), true);
        return;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(mosq, [](mosquitto*, void* self, int rc, int, const mosquitto_property*) {
        static_cast<feed_context_t*>(self)->connack = rc;
    });
    mosquitto_message_callback_set(mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* c = static_cast<feed_context_t*>(self);
        if (m->topic == nullptr) return;
        const pub_watch_row_t* row = c->table.update(
            m->topic,
            std::string_view(static_cast<const char*>(m->payload), static_cast<std::size_t>(std::max(0, m->payloadlen))),
            c->shared->now_s());
        if (row != nullptr) c->changed.insert({row->station, row->model, row->serial});
    });
    if (!broker.user.isEmpty()) mosquitto_username_pw_set(mosq, broker.user.toStdString().c_str(), shared.password.c_str());
    if (broker.tls) {
        const int rc = mosquitto_tls_set(mosq, ca_file.empty() ? nullptr : ca_file.c_str(),
                                         ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            shared.status(QString("Cannot watch %1: the CA certificates cannot be used (%2).")
                                   .arg(where, QString::fromUtf8(mosquitto_strerror(rc))),
                               true);
            mosquitto_destroy(mosq);
            return;
        }
    }

    shared.status(QString("Connecting to %1 ...").arg(where), false);
    bool socket = false;      // a connection is up or being made
    bool subscribed = false;  // the broker took the login and the subscription was sent
    bool older_protocol = false;  // the broker refused MQTT 5: 3.1.1 from now on
    double retry_at_s = 0;
    double last_rows_s = -rows_interval_s;
    auto fail = [&](const QString& line, double retry_s) {
        shared.status(line, true);
        socket = false;
        subscribed = false;
        context.connack = -1;
        retry_at_s = now_s() + retry_s;
    };
    while (!shared.stop) {
        if (!socket) {
            if (now_s() < retry_at_s) {
                std::this_thread::sleep_for(std::chrono::milliseconds(loop_timeout_ms));
                continue;
            }
            context.connack = -1;
            // Asynchronous: a broker that does not answer never blocks this loop (or stop()).
            const int rc = mosquitto_connect_async(mosq, host.c_str(), broker.port, keepalive_s);
            const int saved_errno = errno;
            if (rc != MOSQ_ERR_SUCCESS) {
                fail(QString("Cannot connect to %1: %2.").arg(where, network_error(rc, saved_errno)),
                     retry_after_failure_s);
                continue;
            }
            socket = true;
        }
        const int rc = mosquitto_loop(mosq, loop_timeout_ms, 1);
        const int saved_errno = errno;
        if (!subscribed && context.connack > 0 && !older_protocol &&
            (context.connack == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION || context.connack == CONNACK_REFUSED_PROTOCOL_VERSION)) {
            // A broker without MQTT 5: watching needs nothing of 5, so ask again in 3.1.1 at once.
            mosquitto_disconnect(mosq);
            mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
            older_protocol = true;
            socket = false;
            context.connack = -1;
            retry_at_s = 0;
            continue;
        }
        if (!subscribed && context.connack > 0) {
            // Wrong password, not authorised, banned: the broker's own reason.
            mosquitto_disconnect(mosq);
            const char* reason = older_protocol ? mosquitto_connack_string(context.connack)
                                                : mosquitto_reason_string(context.connack);
            fail(QString("The broker at %1 refused the connection: %2.").arg(where, QString::fromUtf8(reason)),
                 retry_after_refusal_s);
            continue;
        }
        if (!subscribed && context.connack == 0) {
            mosquitto_subscribe(mosq, nullptr, filter.c_str(), qos_at_least_once);
            subscribed = true;
            shared.status(QString("Watching %1 on %2.").arg(QString::fromStdString(filter), where), false);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(subscribed ? QString("Lost the broker at %1: %2; trying again.").arg(where, network_error(rc, saved_errno))
                            : QString("Cannot connect to %1: %2.").arg(where, network_error(rc, saved_errno)),
                 retry_after_failure_s);
            continue;
        }
        if (!context.changed.empty() && now_s() - last_rows_s >= rows_interval_s) {
            std::vector<pub_watch_row_t> rows;
            rows.reserve(context.changed.size());
            for (const auto& key : context.changed) {
                auto it = context.table.rows().find(key);
                if (it != context.table.rows().end()) rows.push_back(it->second);
            }
            context.changed.clear();
            last_rows_s = now_s();
            shared.rows(rows);
        }
    }
    if (socket) {
        if (subscribed) mosquitto_unsubscribe(mosq, nullptr, filter.c_str());
        mosquitto_disconnect(mosq);
        mosquitto_loop(mosq, loop_timeout_ms, 1);  // writes what is still queued
    }
    mosquitto_destroy(mosq);
}

}  // namespace

// ---- model ------------------------------------------------------------------------

ui_lab_model_t::ui_lab_model_t(QObject* parent) : QAbstractTableModel(parent) {}

int ui_lab_model_t::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ui_lab_model_t::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : col_count; }

bool ui_lab_model_t::dimmed(int row) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return false;
    const pub_watch_row_t& r = m_rows[static_cast<std::size_t>(row)];
    return r.offline || m_now_s - r.last_s > m_stale_after_s;
}

QVariant ui_lab_model_t::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case col_station: return "Station";
    case col_model: return "Model";
    case col_serial: return "Serial";
    case col_state: return "State";
    case col_reading: return "Last reading";
    case col_rate: return "Readings/s";
    case col_age: return "Age";
    }
    return QVariant();
}

QVariant ui_lab_model_t::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return QVariant();
    const pub_watch_row_t& r = m_rows[static_cast<std::size_t>(index.row())];
    const double age = std::max(0.0, m_now_s - r.last_s);
    const double rate = r.rate(std::max(m_now_s, r.last_s));
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case col_station: return QString::fromStdString(r.station);
        case col_model: return QString::fromStdString(r.model);
        case col_serial: return QString::fromStdString(r.serial);
        case col_state: return QString::fromStdString(r.state);
        case col_reading:
            if (!r.has_value) return QString("-");
            return (QString::number(r.value, 'g', 7) + " " + QString::fromStdString(r.unit)).trimmed();
        case col_rate: return QString::number(rate, 'f', 1);
        case col_age: return QString("%1 s").arg(age, 0, 'f', 1);
        }
        break;
    case sort_role:
        switch (index.column()) {
        case col_reading: return r.has_value ? r.value : -std::numeric_limits<double>::infinity();
        case col_rate: return rate;
        case col_age: return age;
        default: return data(index, Qt::DisplayRole);
        }
    case dimmed_role:
        return dimmed(index.row());
    case Qt::ForegroundRole:
        if (dimmed(index.row())) return dimmed_text;
        break;
    case Qt::TextAlignmentRole:
        if (index.column() >= col_reading) return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        if (r.offline) return QString("The bench said it went offline.");
        if (dimmed(index.row())) return QString("No message for %1 s.").arg(age, 0, 'f', 0);
        break;
    }
    return QVariant();
}

void ui_lab_model_t::slot_rows(const std::vector<pub_watch_row_t>& rows) {
    for (const pub_watch_row_t& row : rows) {
        const key_t key{row.station, row.model, row.serial};
        auto it = m_index.find(key);
        if (it == m_index.end()) {
            const int at = static_cast<int>(m_rows.size());
            beginInsertRows(QModelIndex(), at, at);
            m_rows.push_back(row);
            m_index[key] = at;
            endInsertRows();
        } else {
            m_rows[static_cast<std::size_t>(it->second)] = row;
            emit dataChanged(index(it->second, 0), index(it->second, col_count - 1));
        }
    }
}

void ui_lab_model_t::set_now(double now_s) {
    m_now_s = now_s;
    if (!m_rows.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, col_count - 1));
}

void ui_lab_model_t::clear() {
    beginResetModel();
    m_rows.clear();
    m_index.clear();
    endResetModel();
}

// ---- window -----------------------------------------------------------------------

QStringList ui_lab_window_t::configured_brokers() {
    QStringList brokers;
    for (const QString& url : ui_publish_settings_t::load().targets)
        if (url.startsWith("mqtt://", Qt::CaseInsensitive) || url.startsWith("mqtts://", Qt::CaseInsensitive))
            brokers << url;
    return brokers;
}

ui_lab_window_t::ui_lab_window_t(QWidget* parent) : QDialog(parent) {
    setObjectName("lab_window");
    setWindowTitle("Lab");
    setWindowFlags(Qt::Window | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint);
    setAttribute(Qt::WA_DeleteOnClose);

    m_broker = new QComboBox(this);
    m_broker->setObjectName("lab_broker");
    m_broker->setEditable(true);
    m_broker->setInsertPolicy(QComboBox::NoInsert);
    m_broker->addItems(configured_brokers());
    m_broker->lineEdit()->setPlaceholderText("mqtt://[user@]host[:port]/prefix");
    m_broker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_broker->setToolTip("An MQTT target of Preferences → Publish, or any broker URL; "
                         "a user's password is the one kept in Preferences → Publish.");
    m_watch = new QPushButton("Watch", this);
    m_watch->setObjectName("lab_watch");
    connect(m_watch, &QPushButton::clicked, this, &ui_lab_window_t::slot_watch);
    connect(m_broker->lineEdit(), &QLineEdit::returnPressed, this, &ui_lab_window_t::slot_watch);

    m_status = new QLabel(this);
    m_status->setObjectName("lab_status");
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_model = new ui_lab_model_t(this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(ui_lab_model_t::sort_role);
    m_proxy->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setDynamicSortFilter(true);
    m_table = new QTableView(this);
    m_table->setObjectName("lab_table");
    m_table->setModel(m_proxy);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(ui_lab_model_t::col_station, Qt::AscendingOrder);
    QHeaderView* header = m_table->horizontalHeader();
    header->setHighlightSections(false);
    header->setMinimumSectionSize(60);
    const int widths[ui_lab_model_t::col_count] = {150, 80, 120, 100, 170, 100, 80};
    for (int c = 0; c < ui_lab_model_t::col_count; ++c) m_table->setColumnWidth(c, widths[c]);
    header->setStretchLastSection(true);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Broker:", this));
    top->addWidget(m_broker, 1);
    top->addWidget(m_watch);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(top);
    layout->addWidget(m_status);
    layout->addWidget(m_table, 1);
    resize(860, 420);

    m_tick = new QTimer(this);
    m_tick->setInterval(500);
    connect(m_tick, &QTimer::timeout, this, [this] {
        if (m_feed != nullptr) m_model->set_now(m_feed->now_s());
    });
    m_tick->start();

    if (m_broker->count() > 0)
        slot_watch();
    else
        _show_status("No MQTT target in Preferences → Publish: type a broker URL and press Watch.", false);
}

ui_lab_window_t::~ui_lab_window_t() { _stop(); }

void ui_lab_window_t::_show_status(const QString& line, bool failed) {
    m_status->setText(line);
    m_status->setProperty("failed", failed);
    m_status->style()->unpolish(m_status);  // the style sheet colours a failure
    m_status->style()->polish(m_status);
}

void ui_lab_window_t::_stop() {
    // Whatever the feed still had queued for this window is dropped from now on.
    ++m_generation;
    if (m_feed == nullptr) return;
    m_feed->stop();
    delete m_feed;
    m_feed = nullptr;
}

bool ui_lab_window_t::_is_configured_target(const ui_lab_broker_t& broker) {
    if (broker.user.isEmpty()) return false;
    for (const QString& url : ui_publish_settings_t::load().targets) {
        ui_lab_broker_t target;
        QString ignored;
        if (!ui_lab_broker_t::parse(url, target, ignored)) continue;
        if (target.tls == broker.tls && target.host == broker.host && target.port == broker.port &&
            target.user == broker.user)
            return true;
    }
    return false;
}

void ui_lab_window_t::slot_watch() {
    _stop();
    m_model->clear();
    ui_lab_broker_t broker;
    QString error;
    if (!ui_lab_broker_t::parse(m_broker->currentText(), broker, error)) {
        _show_status(error, true);
        return;
    }
    // The stored broker password goes only to a broker of the Publish page with that user:
    // never to a host typed here, nor over plain MQTT to a broker configured for TLS.
    const QString password =
        _is_configured_target(broker) ? ui_publish_secrets_t::load().mqtt_password : QString();
    m_feed = new ui_lab_feed_t(broker, password, ui_publish_settings_t::load().ca_file, this);
    // What an earlier feed still had queued is dropped: its rows belong to another broker.
    const int feed = ++m_generation;
    connect(
        m_feed, &ui_lab_feed_t::signal_rows, this,
        [this, feed](const std::vector<pub_watch_row_t>& rows) {
            if (feed != m_generation || m_feed == nullptr) return;
            m_model->slot_rows(rows);
            m_model->set_now(m_feed->now_s());
        },
        Qt::QueuedConnection);
    connect(
        m_feed, &ui_lab_feed_t::signal_status, this,
        [this, feed](const QString& line, bool failed) {
            if (feed == m_generation) _show_status(line, failed);
        },
        Qt::QueuedConnection);
    m_feed->start();
}

void ui_lab_window_t::closeEvent(QCloseEvent* event) {
    _stop();
    QDialog::closeEvent(event);
}
