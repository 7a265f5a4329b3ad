// The "Lab" window: a read-only live table of every bench publishing to an MQTT broker
// (station, model, serial, state, last reading with its unit, readings/s, age of the last
// message), the desktop twin of `velkaro-cli watch`. Rows silent for a while, and benches
// whose status says offline, are dimmed.
//
// Threads: ui_lab_feed_t starts one thread of its own, which owns the mosquitto handle and
// the pub_watch_table_t outright (no lock: nothing else touches them). It hands copies of
// the rows that changed to the GUI thread through queued signals, at most four times a
// second. The model, the proxy and the window belong to the GUI thread. Stopping the feed
// (closing the window) unsubscribes, disconnects and joins the thread; its network waits
// are at most 100 ms. Only a name lookup can take longer (libmosquitto resolves
// synchronously): then the thread is left to end alone after the feed is gone. What it
// shares with the feed (the stop flag, the feed to signal through) is the shared state's,
// the feed pointer guarded by its mutex, which every signal is emitted under.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "pub/pub_watch.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;
struct ui_lab_feed_shared_t;

Q_DECLARE_METATYPE(std::vector<pub_watch_row_t>)

// A broker to watch, from mqtt[s]://[USER@]HOST[:PORT]/PREFIX.
struct ui_lab_broker_t {
    QString host;
    int port = 1883;
    QString user;
    QString prefix;
    bool tls = false;

    // Read as a publishing target reads it (pub_parse_mqtt_url), blanks around it aside.
    // False with `error` said for anything else (no prefix, a password in the URL,
    // wildcards in the prefix, another scheme); the error never repeats the URL.
    static bool parse(const QString& url, ui_lab_broker_t& broker, QString& error);
    QString where() const { return QString("%1:%2").arg(host).arg(port); }
};

class ui_lab_feed_t : public QObject {
    Q_OBJECT
public:
    // `password` is used only when the URL names a user; `ca_file` only for mqtts.
    ui_lab_feed_t(ui_lab_broker_t broker, QString password, QString ca_file, QObject* parent = nullptr);
    ~ui_lab_feed_t() override;  // stop()

    void start();
    // Unsubscribes, disconnects and joins the thread (or lets it end alone when a name
    // lookup holds it). Idempotent.
    void stop();
    bool running() const { return m_thread.joinable(); }
    // The clock of the rows' first_s and last_s (seconds since the feed was made).
    double now_s() const;

signals:
    // The rows that changed since the last call (copies), from the feed's thread.
    void signal_rows(const std::vector<pub_watch_row_t>& rows);
    // One line about the connection; `failed` for a failure (no secret in it).
    void signal_status(const QString& line, bool failed);

private:
    std::shared_ptr<ui_lab_feed_shared_t> m_shared;
    std::thread m_thread;
    std::future<void> m_done;  // ready when the thread has ended
};

class ui_lab_model_t : public QAbstractTableModel {
    Q_OBJECT
public:
    enum column_t { col_station, col_model, col_serial, col_state, col_reading, col_rate, col_age, col_count };
    // Numbers for numeric columns, text for the others: what the proxy sorts by.
    static constexpr int sort_role = Qt::UserRole + 1;
    // True for a dimmed row (stale or offline).
    static constexpr int dimmed_role = Qt::UserRole + 2;

    explicit ui_lab_model_t(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Rows silent for longer than this are dimmed (seconds).
    void set_stale_after(double seconds) { m_stale_after_s = seconds; }
    double stale_after() const { return m_stale_after_s; }
    // Recomputes ages, rates and dimming at `now_s` (the feed's clock).
    void set_now(double now_s);
    // Forgets every row (another broker).
    void clear();
    bool dimmed(int row) const;

public slots:
    // Updates the rows in place; new instruments are appended.
    void slot_rows(const std::vector<pub_watch_row_t>& rows);

private:
    using key_t = std::tuple<std::string, std::string, std::string>;
    std::vector<pub_watch_row_t> m_rows;
    std::map<key_t, int> m_index;  // instrument → row
    double m_now_s = 0;
    double m_stale_after_s = 10;
};

class ui_lab_window_t : public QDialog {
    Q_OBJECT
public:
    explicit ui_lab_window_t(QWidget* parent = nullptr);
    ~ui_lab_window_t() override;

    // The MQTT targets of the Publish page, offered in the broker box.
    static QStringList configured_brokers();

    ui_lab_model_t* model() const { return m_model; }
    QSortFilterProxyModel* proxy() const { return m_proxy; }
    const ui_lab_feed_t* feed() const { return m_feed; }

public slots:
    // Watches the broker in the box (stops watching the one before).
    void slot_watch();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void _stop();
    // True when the URL names a broker of the Publish page with the same user (and TLS).
    static bool _is_configured_target(const ui_lab_broker_t& broker);
    void _show_status(const QString& line, bool failed);

    QComboBox* m_broker = nullptr;
    QPushButton* m_watch = nullptr;
    QLabel* m_status = nullptr;
    QTableView* m_table = nullptr;
    ui_lab_model_t* m_model = nullptr;
    QSortFilterProxyModel* m_proxy = nullptr;
    ui_lab_feed_t* m_feed = nullptr;
    int m_generation = 0;  // of m_feed: signals of an earlier feed still queued are dropped
    QTimer* m_tick = nullptr;  // ages and dimming, twice a second
};
