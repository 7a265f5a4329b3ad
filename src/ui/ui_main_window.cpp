#include "ui/ui_main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <pugixml.hpp>
#include <vector>

#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "cfg/cfg_scan_config.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_gui_slices.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_menu_bar.h"
#include "ui/ui_preferences.h"
#include "ui/ui_publish.h"
#include "ui/ui_primary_manager_window.h"
#include "ui/ui_primary_window/ui_primary_window.h"

namespace {

const char* const default_project_name = "default_save.dmm";

QString user_data_dir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Velkaro";
}

}  // namespace

ui_main_window_t::ui_main_window_t(const std::string& /*path*/, QWidget* parent) : QMainWindow(parent) {
    // Where the search looks: the user's stored preferences (the environment still wins).
    ui_preferences_t::load().apply();
    // Publishing as the Preferences' Publish page left it.
    ui_publish_service_t::instance().reconfigure();
    m_device_column = new ui_device_column_t(this);
    m_device_column->setMaximumWidth(340);
    m_device_column->setMinimumWidth(300);
    m_menu_bar = new ui_menu_bar_t(m_device_column, this);
    m_window_stack = new ui_primary_manager_window_t(this);
    _make_connections();
    _lay_out();
    QScreen* screen = QGuiApplication::primaryScreen();
    const QSize available = screen != nullptr ? screen->availableGeometry().size() : QSize(1400, 700);
    setMinimumSize(clamped_minimum_size(QSize(1400, 700), available));
    setObjectName("main_window");
    _set_project_title(std::string());
}

QSize ui_main_window_t::clamped_minimum_size(const QSize& wanted, const QSize& available) {
    if (!available.isValid() || available.isEmpty()) return wanted;
    return wanted.boundedTo(available);
}

void ui_main_window_t::_set_project_title(const std::string& path) {
    const QString name = QFileInfo(QString::fromLocal8Bit(path.c_str())).fileName();
    setWindowTitle(name.isEmpty() ? QString("Velkaro") : QString("Velkaro - %1").arg(name));
}

void ui_main_window_t::open_start_project(const std::string& path) {
    if (!path.empty()) {
        slot_recall_xml_file(path);
        return;
    }
    if (!ui_preferences_t::load().reopen_last_project) return;
    // Where the last exit wrote it: beside the program, else the user's data directory.
    const std::string first = default_project_path(QCoreApplication::applicationDirPath());
    const std::string fallback =
        QDir::toNativeSeparators(QDir(user_data_dir()).filePath(default_project_name))
            .toLocal8Bit()
            .toStdString();
    for (const std::string& candidate : {first, fallback}) {
        if (QFileInfo::exists(QString::fromLocal8Bit(candidate.c_str()))) {
            slot_recall_xml_file(candidate);
            return;
        }
    }
}

QStringList ui_main_window_t::running_instruments() const {
    QStringList lines;
    if (m_device_column == nullptr) return lines;
    for (ui_device_item_t* item : m_device_column->get_device_items()) {
        const cfg_main_t* cfg = item->get_mngr() != nullptr ? item->get_mngr()->get_cfg() : nullptr;
        if (cfg == nullptr) continue;
        const bool measuring = cfg->get_run_state() != 0;
        const bool scanning = cfg->get_scan_run_state() != 0;
        if (!measuring && !scanning) continue;
        QString doing = measuring ? "measuring" : "scanning";
        const bool logging =
            measuring ? cfg->is_recording()
                      : cfg->get_scan_config() != nullptr && cfg->get_scan_config()->get_record_enable() != 0;
        if (logging) doing += ", logging to a file";
        const QString where =
            item->get_resource().empty() ? QString() : " at " + QString::fromStdString(item->get_resource());
        lines << QString("%1%2: %3").arg(QString::fromStdString(item->get_model_name()), where, doing);
    }
    return lines;
}

bool ui_main_window_t::confirm_stop_running(const QString& action) {
    const QStringList running = running_instruments();
    if (running.isEmpty()) return true;
    QMessageBox box(QMessageBox::Question, "Tips",
                    QString("%1 stops what these instruments are doing:").arg(action),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setInformativeText(running.join('\n') + QString("\n\n%1 anyway?").arg(action));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void ui_main_window_t::slot_close_without_asking() {
    m_close_without_asking = true;
    // A box or dialog that waits for an answer (nobody may be there to give it) goes
    // first, so its own event loop ends and nothing holds the quit up. Bounded: each
    // pass closes one modal widget, and a widget that refuses to close ends the loop.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == this) break;
        if (!modal->close()) break;
    }
    close();
}

void ui_main_window_t::closeEvent(QCloseEvent* event) {
    if (!m_close_without_asking && !confirm_stop_running("Quitting")) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

ui_main_window_t::~ui_main_window_t() {
    save_default_project();
    delete m_menu_bar;
    m_menu_bar = nullptr;
    // Each item releases its instrument: the engines stop and their threads are joined.
    delete m_device_column;
    m_device_column = nullptr;
    delete m_window_stack;
    m_window_stack = nullptr;
    m_primary_windows.clear();
}

void ui_main_window_t::_make_connections() {
    connect(m_menu_bar, &ui_menu_bar_t::signal_add_device, m_device_column,
            &ui_device_column_t::slot_add_device_by_hand);
    connect(m_menu_bar, &ui_menu_bar_t::signal_clear_device, m_device_column,
            &ui_device_column_t::_ask_clear_device);
    connect(m_menu_bar, &ui_menu_bar_t::signal_save_xml, this, &ui_main_window_t::slot_save_xml_file);
    connect(m_menu_bar, &ui_menu_bar_t::signal_recall_xml, this, &ui_main_window_t::slot_recall_xml_file);
    connect(m_device_column, &ui_device_column_t::signal_create_primary_window, this,
            &ui_main_window_t::slot_bind_device_and_primary_window);
    connect(m_device_column, &ui_device_column_t::signal_delete_primary_window, this,
            &ui_main_window_t::slot_show_delete_primary_window);
    connect(m_device_column, &ui_device_column_t::signal_show_bound_primary_window, this,
            &ui_main_window_t::slot_show_bound_primary_window);
    connect(m_device_column, &ui_device_column_t::signal_show_home_window, this,
            &ui_main_window_t::slot_show_home_window);
}

void ui_main_window_t::_lay_out() {
    setMenuBar(m_menu_bar);
    auto* layout = new QHBoxLayout;
    layout->addWidget(m_device_column, 1);
    layout->addWidget(m_window_stack, 4);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_central_widget = new QWidget;
    m_central_widget->setLayout(layout);
    setCentralWidget(m_central_widget);
}

ui_primary_window_t* ui_main_window_t::primary_window_of(ui_device_item_t* dev) const {
    const auto it = m_primary_windows.find(dev);
    return it == m_primary_windows.end() ? nullptr : it->second;
}

void ui_main_window_t::slot_bind_device_and_primary_window(ui_device_item_t* new_dev) {
    if (m_defer_window) {  // a recall builds it in its next turn
        m_deferred_window_item = new_dev;
        return;
    }
    auto* window = new ui_primary_window_t(m_window_stack, new_dev);
    m_window_stack->append_window(window);
    m_primary_windows[new_dev] = window;
}

void ui_main_window_t::slot_show_bound_primary_window(ui_device_item_t* dev) {
    ui_primary_window_t* window = primary_window_of(dev);
    if (window != nullptr) m_window_stack->show_window(window);
}

void ui_main_window_t::slot_show_delete_primary_window(ui_device_item_t* dev) {
    const auto it = m_primary_windows.find(dev);
    if (it == m_primary_windows.end()) return;
    m_window_stack->remove_window(it->second);
    m_primary_windows.erase(it);
}

void ui_main_window_t::slot_show_home_window() { m_window_stack->show_home_window(); }

void ui_main_window_t::slot_save_xml_file(std::string path) {
    // An empty path is a cancelled dialog: nothing to save and nothing to say.
    if (path.empty()) return;
    if (!ui_connect_mngr_t::instance().save_project(path)) {
        QMessageBox::warning(
            this, "Warning",
            QString("Cannot save the project to %1").arg(QString::fromLocal8Bit(path.c_str())),
            QMessageBox::Ok);
        return;
    }
    std::printf("Project saved to %s\n", path.c_str());
    std::fflush(stdout);
    _set_project_title(path);
}

void ui_main_window_t::slot_recall_xml_file(std::string path) {
    if (path.empty()) return;  // the file dialog was cancelled
    auto doc = std::make_shared<pugi::xml_document>();
    auto sections = std::make_shared<std::vector<cfg_project_section_t>>();
    // A file that cannot be recalled changes nothing: the instruments in use stay.
    std::string why;
    if (!cfg_project_file::list_sections(*doc, path, *sections)) {
        why = cfg_project_file::load_failure_text(path);
        if (why.empty()) why = "it is not a project file";
    } else if (const std::string twice = cfg_project_file::duplicate_resource(*sections); !twice.empty()) {
        why = "it lists the instrument at " + twice + " twice";
    }
    if (!why.empty()) {
        std::printf("Cannot recall the project %s: %s\n", path.c_str(), why.c_str());
        std::fflush(stdout);
        QMessageBox::warning(this, "Warning",
                             "Cannot recall the project \"" +
                                 QDir::toNativeSeparators(QString::fromLocal8Bit(path.c_str())) +
                                 "\":\n" + QString::fromStdString(why) +
                                 ".\nThe instruments in use stay as they are.");
        return;
    }
    // Every instrument is replaced: the running ones stop only when the user says so.
    if (!confirm_stop_running("Recalling a project")) return;

    m_device_column->slot_clear_device();
    _set_project_title(path);
    m_recalling = true;
    _recall_next(std::move(doc), std::move(sections), 0, ++m_recall_generation);
}

void ui_main_window_t::_recall_next(std::shared_ptr<pugi::xml_document> doc,
                                    std::shared_ptr<std::vector<cfg_project_section_t>> sections,
                                    std::size_t next, unsigned generation) {
    if (generation != m_recall_generation) return;
    while (next < sections->size() && !(*sections)[next].supported) ++next;
    if (next >= sections->size()) {
        m_recalling = false;
        return;
    }
    const cfg_project_section_t& section = (*sections)[next];
    // One instrument per turn; its window is built in the turn after and goes into the
    // stack (where its look is worked out) in the one after that: the window paints
    // between. The turns are shared with the other windows' pieces of work.
    m_deferred_window_item = nullptr;
    m_defer_window = true;
    m_device_column->slot_add_device(section.model, section.resource, section.node);
    m_defer_window = false;
    ui_gui_slices_t& slices = ui_gui_slices_t::instance();
    slices.post(this, [this, doc, sections, next, generation] {
        if (generation != m_recall_generation) return;
        ui_device_item_t* item = m_deferred_window_item;
        m_deferred_window_item = nullptr;
        if (!_has_item(item)) {
            _recall_next(doc, sections, next + 1, generation);
            return;
        }
        QPointer<ui_primary_window_t> window = new ui_primary_window_t(m_window_stack, item);
        ui_gui_slices_t::instance().post(this, [this, doc, sections, next, generation, item, window] {
            if (window == nullptr) return;
            // Another recall, or the instrument went meanwhile: the window is nobody's.
            if (generation != m_recall_generation || !_has_item(item) || window->device_item() != item) {
                delete window.data();
                if (generation == m_recall_generation) _recall_next(doc, sections, next + 1, generation);
                return;
            }
            m_window_stack->append_window(window);
            m_primary_windows[item] = window;
            if (item->is_active()) slot_show_bound_primary_window(item);
            ui_gui_slices_t::instance().post(
                this, [this, doc, sections, next, generation] { _recall_next(doc, sections, next + 1, generation); });
        });
    });
}

bool ui_main_window_t::_has_item(ui_device_item_t* item) const {
    if (item == nullptr) return false;
    const auto items = m_device_column->get_device_items();
    return std::find(items.begin(), items.end(), item) != items.end();
}

std::string ui_main_window_t::default_project_path(const QString& app_dir) {
    const QFileInfo dir_info(app_dir);
    const QFileInfo file_info(QDir(app_dir).filePath(default_project_name));
    const bool app_dir_writable =
        dir_info.isDir() && dir_info.isWritable() && (!file_info.exists() || file_info.isWritable());
    const QString dir = app_dir_writable ? app_dir : user_data_dir();
    return QDir::toNativeSeparators(QDir(dir).filePath(default_project_name)).toLocal8Bit().toStdString();
}

std::string ui_main_window_t::save_default_project() {
    ui_connect_mngr_t& registry = ui_connect_mngr_t::instance();
    const std::string first = default_project_path(QCoreApplication::applicationDirPath());
    QDir().mkpath(QFileInfo(QString::fromLocal8Bit(first.c_str())).absolutePath());
    if (registry.save_project(first)) return first;
    // An installed program cannot write beside itself: never lose the save silently.
    QDir().mkpath(user_data_dir());
    const std::string fallback =
        QDir::toNativeSeparators(QDir(user_data_dir()).filePath(default_project_name))
            .toLocal8Bit()
            .toStdString();
    if (fallback != first && registry.save_project(fallback)) {
        std::printf("Default project saved to %s\n", fallback.c_str());
        std::fflush(stdout);
        return fallback;
    }
    std::printf("Cannot save the default project to %s\n", first.c_str());
    std::fflush(stdout);
    return std::string();
}
