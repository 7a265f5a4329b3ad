// The page stack on the right of the main window: the home page at index 0, then one
// window per instrument, appended in creation order.
#pragma once

#include <QWidget>

class QPushButton;
class QStackedLayout;

class ui_primary_manager_window_t : public QWidget {
    Q_OBJECT
public:
    static constexpr int home_index = 0;

    explicit ui_primary_manager_window_t(QWidget* parent = nullptr);

    // Adds an instrument window behind the others and makes it current; the stack
    // takes ownership. Returns its index.
    int append_window(QWidget* window);
    // Makes a window of the stack current; a window not in the stack changes nothing.
    void show_window(QWidget* window);
    // Takes a window out of the stack and deletes it later (it may be the sender of the
    // signal being handled). When it was current, the stack shows its neighbour, and
    // the home page once no instrument window is left.
    void remove_window(QWidget* window);
    void show_home_window();

    QWidget* home_widget() const { return m_home_widget; }
    QPushButton* home_logo() const { return m_home_logo; }
    QStackedLayout* stacked_layout() const { return m_stack; }

private:
    QWidget* _create_home_widget();

    QStackedLayout* m_stack = nullptr;
    QWidget* m_home_widget = nullptr;
    QPushButton* m_home_logo = nullptr;
};
