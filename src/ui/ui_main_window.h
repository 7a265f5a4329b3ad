// The one top-level window: device column on the left, page stack on the right.
#pragma once

#include <QMainWindow>

#include <string>

class ui_primary_manager_window_t;

class ui_main_window_t : public QMainWindow {
    Q_OBJECT
public:
    // The path from the command line is accepted and not used: no project is opened at
    // start-up, neither this one nor the default project.
    explicit ui_main_window_t(const std::string& path, QWidget* parent = nullptr);
    ~ui_main_window_t() override;

    ui_primary_manager_window_t* window_stack() const { return m_window_stack; }

public slots:
    void slot_show_home_window();

private:
    void _lay_out();

    QWidget* m_central_widget = nullptr;
    ui_primary_manager_window_t* m_window_stack = nullptr;
    // Still to come with the device column and the menu bar: the menu bar and the device
    // column members, the item-to-window map, the slots that bind, show and delete an
    // instrument's window, project save and recall, and the default project written at
    // destruction.
};
