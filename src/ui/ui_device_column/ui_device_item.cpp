#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_publish.h"

#include <QApplication>
#include <QFutureInterface>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "cfg/cfg_main.h"
#include "nsp_src/lib/lib_assert.h"
#include "remote/remote_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_reconnect.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "ui/ui_device_change_addr_dialog.h"
#include "ui/ui_primary_window/ui_scpi_config_frame.h"

namespace {

// What a disconnect stops first (_start_connect's stop_first, bits).
constexpr int stop_measuring = 1;
constexpr int stop_scanning = 2;

const char* const image_connected = "image: url(:/image/connected.png)";
const char* const image_disconnected = "image: url(:/image/disconnect.png)";
const char* const image_connecting = "image: url(:/image/connecting.png)";

const char* const look_header_active_expanded =
    ".QWidget{border: 2px solid #2D97D4;border-bottom: none;border-bottom-left-radius: 0px;"
    "border-bottom-right-radius: 0px;}";
const char* const look_header_active = ".QWidget{border:2px solid #2D97D4;}";
const char* const look_header_inactive = ".QWidget{border:none;}";
const char* const look_table_active_expanded =
    ".QTableWidget{border: 2px solid;border-color: #2D97D4;border-top-color: transparent;}";
const char* const look_table_inactive_expanded = ".QTableWidget{border: 2px solid transparent;}";

enum detail_row_t { row_connected_by = 0, row_address = 1, row_serial = 2, row_software = 3 };

}  // namespace

ui_device_item_t::ui_device_item_t(std::string model, std::string res, pugi::xml_node model_node,
                                   QWidget* parent)
    : QWidget(parent), m_model(std::move(model)), m_mode("Measure") {
    m_expanded = false;
    m_pmngr = ui_connect_mngr_t::instance().create_mngr(m_model, model_node);
    NSP_ASSERT(m_pmngr != nullptr);
    m_lane = ui_device_jobs_t::instance().make_lane();
    m_connect_watcher = new QFutureWatcher<int>(this);
    connect(m_connect_watcher, &QFutureWatcher<int>::finished, this, &ui_device_item_t::_finish_connect);
    _bind_resource(res);

    _create_header();
    _create_detail_table();
    _create_context_menu();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header, 0, Qt::AlignTop);
    m_publish_label = new QLabel(this);
    m_publish_label->setObjectName("device_publish_state");
    layout->addWidget(m_publish_label, 0, Qt::AlignTop);
    layout->addWidget(m_detail_table, 0, Qt::AlignTop);
    // Every reading this instrument logs is published while publishing is on.
    ui_publish_service_t::instance().attach(m_pmngr);
    connect(&ui_publish_service_t::instance(), &ui_publish_service_t::signal_state_changed, this,
            &ui_device_item_t::_update_publish_label);
    // The tags (identification, function, channels) as the connection left them.
    connect(this, &ui_device_item_t::signal_connection_changed, this,
            [this] { ui_publish_service_t::instance().refresh(m_pmngr); });
    _update_publish_label();
    // Nobody listens yet: a failed first connect shows no box (a recalled project of
    // many instruments would otherwise bury the user in them).
    _start_connect(true, true, nullptr);
    _activate();
}

ui_device_item_t::~ui_device_item_t() { release_instrument(); }

void ui_device_item_t::release_instrument() {
    if (m_pmngr != nullptr) {
        emit signal_releasing_instrument();
        // The feed hands over the last batches and lets go of the manager first.
        ui_publish_service_t::instance().detach(m_pmngr);
        // Out of the registry now; destroyed (disconnect, engine threads joined) on the
        // lane, after any connect of this item that still runs.
        plib_mngr_t* mngr = ui_connect_mngr_t::instance().take_mngr(m_pmngr, m_resource);
        // A connect still running on the lane ends at once: a silent instrument must not
        // hold its removal or the program's end one time-out per setting.
        if (mngr != nullptr && mngr->get_remote() != nullptr) mngr->get_remote()->shut_down_io();
        if (mngr != nullptr) ui_device_jobs_t::instance().post(m_lane, [mngr] { delete mngr; });
    }
    m_pmngr = nullptr;
}

void ui_device_item_t::_update_publish_label() {
    ui_publish_service_t& service = ui_publish_service_t::instance();
    const bool on = service.enabled() && m_pmngr != nullptr;
    m_publish_label->setVisible(on);
    if (!on) return;
    // Tags follow a function or channel change made since the last look.
    service.refresh(m_pmngr);
    const pub_state_t state = service.state();
    m_publish_label->setText("Publishing: " + service.state_text());
    m_publish_label->setProperty("publish_state", state == pub_state_failing       ? "failing"
                                                  : state == pub_state_catching_up ? "catching_up"
                                                                                   : "live");
}

QString ui_device_item_t::last_found_identity() const {
    const cfg_main_t* cfg = m_pmngr != nullptr ? m_pmngr->get_cfg() : nullptr;
    if (cfg == nullptr || cfg->remote() == nullptr) return QString();
    const cfg_identity_t found = cfg->remote()->found_identity();
    if (found.product_type.empty()) return QString();
    QString text = QString::fromStdString(found.product_type);
    if (!found.serial_number.empty())
        text += QString(" (%1)").arg(QString::fromStdString(found.serial_number));
    return text;
}

bool ui_device_item_t::is_connected() const {
    if (m_pmngr == nullptr || m_pmngr->get_cfg() == nullptr) return false;
    return m_pmngr->get_cfg()->get_info().connected;
}

void ui_device_item_t::_create_header() {
    m_header = new QWidget(this);
    m_header->setObjectName("device_item_widget");
    m_header->setFixedHeight(50);
    m_header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_active_sign = new QLabel(m_header);
    m_active_sign->setObjectName("device_active_sign");
    m_active_sign->setFixedSize(25, 25);

    m_connection_btn = new QPushButton(m_header);
    m_connection_btn->setObjectName("device_connection_btn");
    m_connection_btn->setFlat(true);
    m_connection_btn->setFixedSize(30, 30);
    _update_connection_icon();

    m_name_label = new QLabel(QString::fromStdString(m_model), m_header);
    m_name_label->setObjectName("device_item_name");
    m_name_label->setFixedHeight(30);

    m_splitter = new QLabel(m_header);
    m_splitter->setObjectName("device_splitter_line");
    m_splitter->setFixedSize(10, 30);

    m_mode_label = new QLabel(QString::fromStdString(m_mode), m_header);
    m_mode_label->setObjectName("device_item_mode");
    m_mode_label->setFixedHeight(30);
    m_mode_label->setAlignment(Qt::AlignCenter);

    m_expand_btn = new QPushButton(m_header);
    m_expand_btn->setObjectName("menu_control_btn");
    m_expand_btn->setFlat(true);
    m_expand_btn->setCheckable(true);
    m_expand_btn->setFixedSize(32, 32);

    auto* row = new QHBoxLayout(m_header);
    row->setContentsMargins(3, 0, 3, 0);
    row->setSpacing(2);
    row->addWidget(m_active_sign);
    row->addWidget(m_connection_btn);
    row->addWidget(m_name_label);
    row->addSpacing(5);
    row->addWidget(m_splitter);
    row->addSpacing(5);
    row->addWidget(m_mode_label);
    row->addStretch();
    row->addWidget(m_expand_btn);

    connect(m_connection_btn, &QPushButton::clicked, this, &ui_device_item_t::slot_connection_clicked);
    connect(m_expand_btn, &QPushButton::clicked, this, &ui_device_item_t::slot_toggle_expanded);
}

void ui_device_item_t::_create_detail_table() {
    m_detail_table = new QTableWidget(4, 2, this);
    m_detail_table->setObjectName("device_menu_widget");
    m_detail_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_detail_table->setFocusPolicy(Qt::NoFocus);
    m_detail_table->setShowGrid(false);
    m_detail_table->horizontalHeader()->hide();
    m_detail_table->verticalHeader()->hide();
    m_detail_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_detail_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_detail_table->setColumnWidth(0, 120);
    m_detail_table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_detail_table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_detail_table->setFixedHeight(150);
    const char* const captions[] = {"Connected by", "Address", "Serial Num", "Software Ver"};
    for (int row = 0; row < 4; ++row) {
        m_detail_table->setItem(row, 0, new QTableWidgetItem(captions[row]));
        m_detail_table->setItem(row, 1, new QTableWidgetItem);
    }
    _fill_detail_table();
    m_detail_table->hide();
    connect(m_detail_table, &QTableWidget::cellDoubleClicked, this,
            &ui_device_item_t::_open_change_address_dialog);
}

void ui_device_item_t::_create_context_menu() {
    m_context_menu = new QMenu(this);
    QAction* del_this = m_context_menu->addAction("Delete this");
    QAction* del_all = m_context_menu->addAction("Delete all device");
    connect(del_this, &QAction::triggered, this, &ui_device_item_t::slot_delete_this);
    connect(del_all, &QAction::triggered, this, &ui_device_item_t::slot_delete_all);
}

void ui_device_item_t::_fill_detail_table() {
    const QString res = QString::fromStdString(m_resource);
    QString connected_by;
    if (res.contains(QRegularExpression("^USB"))) {
        connected_by = "USB";
    } else if (res.contains(QRegularExpression("^TCPIP"))) {
        connected_by = "TCP/IP";
    }
    m_detail_table->item(row_connected_by, 1)->setText(connected_by);
    m_detail_table->item(row_address, 1)->setText(res);
    m_detail_table->item(row_address, 1)->setToolTip(res);
    cfg_main_t* cfg = m_pmngr != nullptr ? m_pmngr->get_cfg() : nullptr;
    m_detail_table->item(row_serial, 1)
        ->setText(cfg ? QString::fromStdString(cfg->serial_number()) : QString());
    // Two instruments of one model look alike collapsed: the header names which is which.
    const QString serial = cfg ? QString::fromStdString(cfg->serial_number()) : QString();
    m_header->setToolTip(QString::fromStdString(m_model) + "\nAddress: " + res +
                         (serial.isEmpty() ? QString() : "\nSerial number: " + serial));
    m_detail_table->item(row_software, 1)
        ->setText(cfg ? QString::fromStdString(cfg->software_version()) : QString());
}

bool ui_device_item_t::_bind_resource(const std::string& res) {
    if (res.empty() || m_pmngr == nullptr) return false;
    ui_connect_mngr_t& registry = ui_connect_mngr_t::instance();
    if (!m_resource.empty()) {
        if (m_resource == res) return true;
        if (registry.is_bound(res)) return false;
        plib_mngr_t* mine = registry.unbind_mngr(m_resource);
        NSP_ASSERT(mine == m_pmngr);
        if (!registry.bind_mngr(res, m_pmngr)) {
            // Keep holding the old resource rather than leave it free for another item.
            registry.bind_mngr(m_resource, m_pmngr);
            return false;
        }
        m_resource = res;
        std::printf("New resource is : %s\n", res.c_str());
        std::fflush(stdout);
        return true;
    }
    if (registry.bind_mngr(res, m_pmngr)) {
        m_resource = res;
        return true;
    }
    QMessageBox::information(this, "Warning", "This resource has been bound, use another address please.",
                             QMessageBox::Ok);
    return false;
}

bool ui_device_item_t::disconnect_device(bool stop_runs) {
    if (m_busy || m_pmngr == nullptr) return false;
    _start_connect(
        false, false, [this](bool) { slot_update_ui(); }, stop_runs ? stop_measuring | stop_scanning : 0);
    return true;
}

QFuture<int> ui_device_item_t::run_io(std::function<int(cfg_main_t*)> job) {
    if (m_pmngr == nullptr || m_pmngr->get_cfg() == nullptr) {
        QFutureInterface<int> none;
        none.reportStarted();
        none.reportFinished();
        return none.future();
    }
    // The manager outlives this job: its release is queued on the same lane, behind it.
    plib_mngr_t* mngr = m_pmngr;
    return ui_device_jobs_t::instance().run(m_lane,
                                            [mngr, job = std::move(job)] { return job(mngr->get_cfg()); });
}

QString ui_device_item_t::visa_status_words(int status) {
    return ui_scpi_config_frame_t::status_message(status);
}

void ui_device_item_t::run_setting(QObject* receiver, std::function<int(cfg_main_t*)> job,
                                   std::function<void(int)> done, int previous_function) {
    if (m_pmngr == nullptr || m_pmngr->get_cfg() == nullptr) return;
    if (receiver == nullptr) {
        job(m_pmngr->get_cfg());
        return;
    }
    auto undo = [job = std::move(job), previous_function](cfg_main_t* cfg) -> int {
        // A disconnected instrument keeps what the user chose: it gets it at the next
        // connect. A connected one that did not take it gets the old values back.
        const bool connected = cfg->get_info().connected;
        cfg_measure_settings_t before = cfg->stored_settings();
        if (previous_function >= 0) before.function = previous_function;
        const int status = job(cfg);
        if (status == 0 || !connected) return 0;
        cfg->restore_settings(before);
        return status;
    };
    if (m_settings_in_flight++ == 0) emit signal_settings_busy_changed(true);
    // Owned by the item, so the count stays right when the page goes first.
    auto* watcher = new QFutureWatcher<int>(this);
    QPointer<QObject> target(receiver);
    connect(watcher, &QFutureWatcher<int>::finished, this, [this, watcher, target, done = std::move(done)] {
        const int status = watcher->future().resultCount() > 0 ? watcher->result() : 0;
        watcher->deleteLater();
        if (--m_settings_in_flight == 0) emit signal_settings_busy_changed(false);
        if (done && target != nullptr) done(status);
    });
    watcher->setFuture(run_io(std::move(undo)));
}

void ui_device_item_t::_start_connect(bool on, bool quiet, std::function<void(bool)> then, int stop_first) {
    NSP_ASSERT(!m_busy);
    if (m_pmngr == nullptr || m_pmngr->get_cfg() == nullptr) return;
    cfg_main_t* cfg = m_pmngr->get_cfg();
    cfg_remote_info_t info = cfg->get_info();
    info.resource = m_resource;
    cfg->set_info(info);

    m_busy = true;
    m_pending_quiet = quiet;
    m_then = std::move(then);
    _set_connection_icon(image_connecting);
    // Painted now: a quick disconnect may be over before the next paint event.
    m_connection_btn->repaint();
    setCursor(Qt::BusyCursor);
    emit signal_busy_changed(true);
    // The manager outlives this job: its release is queued on the same lane, behind it.
    plib_mngr_t* mngr = m_pmngr;
    m_connect_watcher->setFuture(ui_device_jobs_t::instance().run(m_lane, [mngr, on, stop_first]() -> int {
        cfg_main_t* job_cfg = mngr->get_cfg();
        // The user's own connect or disconnect ends a reconnection in progress.
        mngr->reconnect().cancel();
        if ((stop_first & stop_measuring) != 0) job_cfg->set_run_state(0);
        if ((stop_first & stop_scanning) != 0) job_cfg->set_scan_run_state(0);
        const int status = job_cfg->connect(on ? 1 : 0);
        // Another model keeps its session open after identification: close it here.
        if (status == cfg_remote_t::result_not_the_model) job_cfg->connect(0);
        return status;
    }));
}

void ui_device_item_t::_finish_connect() {
    const int status = m_connect_watcher->future().resultCount() > 0 ? m_connect_watcher->result()
                                                                     : cfg_remote_t::result_visa_failed;
    m_busy = false;
    unsetCursor();
    std::function<void(bool)> then = std::move(m_then);
    m_then = nullptr;
    if (m_pmngr == nullptr) {  // released while the link worked: nothing left to show
        emit signal_busy_changed(false);
        return;
    }
    const bool done = _handle_connect_status(status, m_pending_quiet);
    emit signal_connection_changed(is_connected());
    emit signal_busy_changed(false);
    if (then) {
        then(done);
    } else {
        slot_update_ui();
    }
    emit signal_connect_finished(status);
}

bool ui_device_item_t::_handle_connect_status(int status, bool quiet) {
    m_last_warning.clear();
    m_last_warning_details.clear();
    const QString res = QString::fromStdString(m_resource);
    const cfg_remote_t* remote = m_pmngr != nullptr ? m_pmngr->get_cfg()->remote() : nullptr;
    if (status == cfg_remote_t::result_visa_failed) {
        m_last_warning = "Fail to connect the device, check the connection please.";
        const int visa = remote != nullptr ? remote->open_status() : 0;
        m_last_warning_details = visa != 0
                                     ? QString("Nothing answered at %1: %2").arg(res, visa_status_words(visa))
                                     : QString("Nothing answered at %1.").arg(res);
    } else if (status == cfg_remote_t::result_not_the_model) {
        const cfg_remote_t::identify_failure_t why =
            remote != nullptr ? remote->identify_failure() : cfg_remote_t::identify_other_model;
        const QString found = last_found_identity();
        if (why == cfg_remote_t::identify_other_model && !found.isEmpty()) {
            m_last_warning = "The device doesn't match the model!";
            m_last_warning_details = QString("The instrument at %1 answers as %2, not as %3.")
                                         .arg(res, found, QString::fromStdString(m_model));
        } else {
            // Too slow or garbled to identify: the link is the trouble, not the model.
            m_last_warning = "Fail to connect the device: it gave no readable identification.";
            if (why == cfg_remote_t::identify_no_reply && remote != nullptr && remote->identify_status() != 0)
                m_last_warning_details = QString("The instrument at %1 did not answer \"*IDN?\": %2")
                                             .arg(res, visa_status_words(remote->identify_status()));
            else
                m_last_warning_details =
                    QString("The instrument at %1 answered \"*IDN?\" with a garbled or cut reply.").arg(res);
        }
    } else {
        return true;
    }
    if (!quiet) emit signal_show_warning_message(m_last_warning);
    return false;
}

void ui_device_item_t::_set_connection_icon(const char* image) { m_connection_btn->setStyleSheet(image); }

void ui_device_item_t::_update_connection_icon() {
    if (m_busy) {
        _set_connection_icon(image_connecting);
        return;
    }
    _set_connection_icon(is_connected() ? image_connected : image_disconnected);
}

void ui_device_item_t::slot_connection_clicked() {
    if (m_busy) return;  // one attempt at a time; the icon already says it runs
    if (!is_connected()) {
        _start_connect(true, false, nullptr);
        return;
    }
    if (m_pmngr == nullptr) return;
    _set_connection_icon(image_connecting);
    cfg_main_t* cfg = m_pmngr->get_cfg();
    const bool measuring = cfg->get_run_state() != 0;
    const bool scanning = cfg->get_scan_run_state() != 0;
    if (measuring || scanning) {
        const auto answer = QMessageBox::information(
            this, "Warning", "The measurement is still in progress, are you sure to disconnect?",
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            _update_connection_icon();
            return;
        }
        // While the box was open a lost link may have started the disconnect already.
        if (m_busy || m_pmngr == nullptr) return;
    }
    // The stop waits for the instrument's reply in flight: it goes with the disconnect.
    _start_connect(
        false, false, [this](bool) { _update_connection_icon(); },
        measuring  ? stop_measuring
        : scanning ? stop_scanning
                   : 0);
}

void ui_device_item_t::slot_change_device_res(QString ip_res) {
    if (m_busy) return;
    _start_connect(false, false, [this, ip_res](bool disconnected) {
        if (!disconnected) {
            slot_update_ui();
            return;
        }
        if (!_bind_resource(ip_res.toUtf8().toStdString())) {
            // The instrument is disconnected now; show that rather than the old icon.
            slot_update_ui();
            QMessageBox::information(this, "Warning", "This address has been bound.", QMessageBox::Ok);
            return;
        }
        _start_connect(true, false, [this](bool connected) {
            if (connected)
                QMessageBox::information(this, "Tips", "New resource connnected.", QMessageBox::Ok);
            slot_update_ui();
        });
    });
}

void ui_device_item_t::_open_change_address_dialog(int row, int column) {
    if (row != row_address || column != 1 || m_busy) return;
    auto* dialog = new ui_device_change_addr_dialog_t(this);
    connect(dialog, &ui_device_change_addr_dialog_t::signal_change_device_res, this,
            &ui_device_item_t::slot_change_device_res);
    dialog->exec();
}

void ui_device_item_t::slot_update_ui() {
    _update_connection_icon();
    if (const cfg_main_t* cfg = m_pmngr != nullptr ? m_pmngr->get_cfg() : nullptr) {
        if (cfg->get_run_state() != 0) {
            m_mode = "Measure";
        } else if (cfg->get_scan_run_state() != 0) {
            m_mode = "Scan";
        }
    }
    m_mode_label->setText(m_link_note.isEmpty() ? QString::fromStdString(m_mode) : m_link_note);
    _fill_detail_table();
}

void ui_device_item_t::set_link_note(const QString& text, const QString& details) {
    m_link_note = text;
    m_mode_label->setToolTip(details);
    slot_update_ui();
}

void ui_device_item_t::_activate() {
    emit signal_inactivate_all_device_item();
    m_active = true;
    _apply_look();
    emit signal_show_primary_window(m_index);
}

void ui_device_item_t::slot_inactivate_myself() {
    m_active = false;
    _apply_look();
}

// A widget whose sheet changes before it is first shown keeps drawing parts of the
// old one; polishing it again makes the new sheet take effect at once.
static void set_look(QWidget* widget, const char* sheet) {
    widget->setStyleSheet(sheet);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

void ui_device_item_t::_apply_look() {
    m_active_sign->setStyleSheet(m_active ? "image: url(:/image/device_actived.png);"
                                          : "image: url(:/image/device_inactived.png);");
    if (m_active) {
        set_look(m_header, m_expanded ? look_header_active_expanded : look_header_active);
        if (m_expanded) set_look(m_detail_table, look_table_active_expanded);
    } else {
        set_look(m_header, look_header_inactive);
        if (m_expanded) set_look(m_detail_table, look_table_inactive_expanded);
    }
}

void ui_device_item_t::slot_toggle_expanded() {
    m_expanded = !m_expanded;
    m_detail_table->setVisible(m_expanded);
    _apply_look();
}

void ui_device_item_t::slot_delete_this() {
    const auto answer = QMessageBox::question(this, "Tips", "Are you sure to delete this device?",
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) emit signal_delete_myself(m_index);
}

void ui_device_item_t::slot_delete_all() { emit signal_delete_all(); }

void ui_device_item_t::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        m_context_menu->popup(event->globalPos());
        return;
    }
    QWidget::mousePressEvent(event);
}

void ui_device_item_t::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        _activate();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}
