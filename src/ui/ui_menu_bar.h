// The main window's menu bar: instruments (with preferences and the Lab window), project
// file, control window, about, help.
#pragma once

#include <QMenuBar>
#include <QPointer>
#include <pugixml.hpp>
#include <string>

class QAction;
class QMenu;
class ui_device_column_t;
class ui_lab_window_t;

class ui_menu_bar_t : public QMenuBar {
    Q_OBJECT
public:
    ui_menu_bar_t(ui_device_column_t* column, QWidget* parent = nullptr);

    QAction* add_action() const { return m_add; }
    QAction* delete_all_action() const { return m_delete_all; }
    QAction* preferences_action() const { return m_preferences; }
    QAction* lab_action() const { return m_lab; }
    QAction* save_action() const { return m_save; }
    QAction* recall_action() const { return m_recall; }
    QAction* control_action() const { return m_control; }
    QAction* about_action() const { return m_about; }
    QAction* chinese_action() const { return m_chinese; }
    QAction* english_action() const { return m_english; }
    QAction* website_action() const { return m_website; }
    QAction* quit_action() const { return m_quit; }
    QMenu* recent_menu() const { return m_recent; }

    // The path a file dialog answered, as the signals carry it: native separators,
    // local 8-bit (UTF-8 here). Empty stays empty.
    static std::string dialog_path_to_string(const QString& path);
    // A project file name typed without a suffix gets ".dmm", so that Recall's filter
    // shows it; any other suffix and an empty path stay as they are.
    static QString with_project_suffix(const QString& path);

signals:
    void signal_add_device(std::string model, std::string res, pugi::xml_node model_node);
    void signal_clear_device();
    void signal_save_xml(std::string path);
    void signal_recall_xml(std::string path);

private slots:
    void slot_add();
    void slot_save();
    void slot_recall();
    void slot_control();
    void slot_about();
    void slot_preferences();
    void slot_lab();

private:
    // The Recent submenu from the remembered projects.
    void _fill_recent();

    ui_device_column_t* m_pcolumn = nullptr;
    QAction* m_quit = nullptr;
    QMenu* m_recent = nullptr;
    QAction* m_add = nullptr;
    QAction* m_delete_all = nullptr;
    QAction* m_preferences = nullptr;
    QAction* m_lab = nullptr;
    QPointer<ui_lab_window_t> m_lab_window;  // the open Lab window (deleted on close)
    QAction* m_save = nullptr;
    QAction* m_recall = nullptr;
    QAction* m_control = nullptr;
    QAction* m_about = nullptr;
    QAction* m_chinese = nullptr;
    QAction* m_english = nullptr;
    QAction* m_website = nullptr;
};
