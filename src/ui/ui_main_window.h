// The one top-level window: menu bar, device column on the left, page stack on the right.
// Saves and recalls the project file and writes the default project at exit.
#pragma once

#include <QMainWindow>
#include <QSize>
#include <QStringList>
#include <cstddef>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "cfg/cfg_project.h"

class ui_device_column_t;
class ui_device_item_t;
class ui_menu_bar_t;
class ui_primary_manager_window_t;
class ui_primary_window_t;

class ui_main_window_t : public QMainWindow {
    Q_OBJECT
public:
    // The path from the command line is not opened here: main opens it with
    // open_start_project once the window shows. The default project is never opened.
    explicit ui_main_window_t(const std::string& path, QWidget* parent = nullptr);
    // Saves the current instruments as the default project, then tears down.
    ~ui_main_window_t() override;

    ui_primary_manager_window_t* window_stack() const { return m_window_stack; }
    ui_menu_bar_t* menu_bar() const { return m_menu_bar; }
    ui_device_column_t* device_column() const { return m_device_column; }
    ui_primary_window_t* primary_window_of(ui_device_item_t* dev) const;

    // Where the default project goes: "default_save.dmm" in app_dir while that directory
    // can be written, else in the user's data directory (XDG_DATA_HOME/Velkaro).
    static std::string default_project_path(const QString& app_dir);
    // Saves the current instruments as the default project (the application directory,
    // else the user's data directory). Returns the path written, "" when both failed.
    static std::string save_default_project();

    // Opens the project named on the command line exactly as Recall does; an empty path
    // opens the last project (the default project written at exit) when the user's
    // preferences ask for it, else nothing.
    void open_start_project(const std::string& path);
    bool is_recalling() const { return m_recalling; }
    // What the running instruments are doing, one line each ("VXA-2 at <address>:
    // measuring, logging to a file"); empty when none measures or scans.
    QStringList running_instruments() const;
    // When something runs: asks (a "Tips" question, No by default) whether `action`
    // may stop it. True when nothing runs or the user said Yes.
    bool confirm_stop_running(const QString& action);
    // The minimum size, never larger than the screen's available area (high scaling
    // factors would otherwise push the window off a small screen).
    static QSize clamped_minimum_size(const QSize& wanted, const QSize& available);

public slots:
    void slot_bind_device_and_primary_window(ui_device_item_t* new_dev);
    void slot_show_bound_primary_window(ui_device_item_t* dev);
    void slot_show_delete_primary_window(ui_device_item_t* dev);
    void slot_show_home_window();
    void slot_save_xml_file(std::string path);
    // Replaces the instruments by the project's (after asking, when some run). The
    // instruments are added one per turn of the event loop, and each window is built in
    // a turn of its own and put into the stack in the next (ui_gui_slices_t), so a project
    // of many keeps the window responsive; is_recalling() is true until the last one is in.
    void slot_recall_xml_file(std::string path);
    // Closes without the question (a quit signal from the system: nobody to ask).
    void slot_close_without_asking();

protected:
    // The close button and Quit ask first while instruments run (confirm_stop_running).
    void closeEvent(QCloseEvent* event) override;

private:
    void _make_connections();
    void _lay_out();
    // "Velkaro", followed by the project's file name once one was recalled or saved.
    void _set_project_title(const std::string& path);
    // Adds the first supported section from `next` on, then queues the rest.
    void _recall_next(std::shared_ptr<pugi::xml_document> doc,
                      std::shared_ptr<std::vector<cfg_project_section_t>> sections, std::size_t next,
                      unsigned generation);
    // The column still holds `item`.
    bool _has_item(ui_device_item_t* item) const;

    QWidget* m_central_widget = nullptr;
    ui_primary_manager_window_t* m_window_stack = nullptr;
    ui_menu_bar_t* m_menu_bar = nullptr;
    ui_device_column_t* m_device_column = nullptr;
    std::map<ui_device_item_t*, ui_primary_window_t*> m_primary_windows;
    bool m_close_without_asking = false;
    bool m_recalling = false;
    unsigned m_recall_generation = 0;  // a newer recall abandons the rest of an older one
    bool m_defer_window = false;       // a recall adds an instrument: its window comes next turn
    ui_device_item_t* m_deferred_window_item = nullptr;
};
