// Starts or stops measuring on several instruments at once. A snapshot of the device
// column taken when the window opens; modal, deleted on close.
//
// Threads: a start or stop waits for the instrument (a start sends the trigger settings
// and "INIT"), so each one runs on its device item's lane (run_setting), behind the
// setting changes made before it, and the window returns at once. While any of them
// travels, Sync Start and Sync Stop refuse (they are disabled) and the status line says
// what is under way; when the last one is back, it says which instruments measure and
// which did not start, and why. Everything else runs on the GUI thread.
#pragma once

#include <QDialog>
#include <QStringList>
#include <map>

class QLabel;
class QPushButton;
class QTableWidget;
class ui_device_column_t;
class ui_device_item_t;

class ui_control_window_t : public QDialog {
    Q_OBJECT
public:
    ui_control_window_t(ui_device_column_t* column, QWidget* parent = nullptr);

    QTableWidget* device_table() const { return m_table; }
    QPushButton* select_button() const { return m_select_btn; }
    QPushButton* start_button() const { return m_start_btn; }
    QPushButton* stop_button() const { return m_stop_btn; }
    // What the last Sync Start or Sync Stop is doing or did; empty before the first.
    QLabel* status_label() const { return m_status; }
    // Starts or stops queued on the instruments' lanes and not back yet.
    int in_flight() const { return m_in_flight; }

private slots:
    void slot_select_table_item();
    void slot_active_selected_device();
    void slot_stop_selected_device();

private:
    void _fill_table();
    // Rows whose "Device" cell is selected, top to bottom.
    std::vector<ui_device_item_t*> _selected_items() const;
    // Queues the start (restart) or stop of every selected instrument on its lane.
    void _run_selected(bool start);
    void _set_in_flight(int count);
    void _show_outcome();

    ui_device_column_t* m_pcolumn = nullptr;
    std::map<int, ui_device_item_t*> m_row_items;
    bool m_select_all_next = true;
    QTableWidget* m_table = nullptr;
    QPushButton* m_select_btn = nullptr;
    QPushButton* m_start_btn = nullptr;
    QPushButton* m_stop_btn = nullptr;
    QLabel* m_status = nullptr;
    int m_in_flight = 0;
    bool m_starting = false;   // what the jobs in flight do
    int m_asked = 0;           // instruments the last press acted on
    int m_measuring = 0;       // of those, measuring when their job was back
    QStringList m_not_started;  // "VXA-1 at <resource> (not connected)"
};
