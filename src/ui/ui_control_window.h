// Starts or stops measuring on several instruments at once. A snapshot of the device
// column taken when the window opens; modal, deleted on close.
#pragma once

#include <QDialog>
#include <map>

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

private slots:
    void slot_select_table_item();
    void slot_active_selected_device();
    void slot_stop_selected_device();

private:
    void _fill_table();
    // Rows whose "Device" cell is selected, top to bottom.
    std::vector<ui_device_item_t*> _selected_items() const;

    ui_device_column_t* m_pcolumn = nullptr;
    std::map<int, ui_device_item_t*> m_row_items;
    bool m_select_all_next = true;
    QTableWidget* m_table = nullptr;
    QPushButton* m_select_btn = nullptr;
    QPushButton* m_start_btn = nullptr;
    QPushButton* m_stop_btn = nullptr;
};
