#include "ui/ui_main_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <cstdio>
#include <pugixml.hpp>
#include <vector>

#include "cfg/cfg_project.h"
#include "ui/mngr/ui_connect_mngr.h"
#include "ui/ui_device_column/ui_device_column.h"
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
    if (!path.empty()) slot_recall_xml_file(path);
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
    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    if (!cfg_project_file::list_sections(doc, path, sections)) return;

    m_device_column->slot_clear_device();
    for (const cfg_project_section_t& section : sections)
        if (section.supported)
            m_device_column->slot_add_device(section.model, section.resource, section.node);
    _set_project_title(path);
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
