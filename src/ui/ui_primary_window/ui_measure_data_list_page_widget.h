// Page navigation of the data list: "<<", "<", the page edit, ">", ">>" and two
// labels (reading and page counts; run totals). Knows no engine: it is told the
// counts and asks for pages through signal_update_data_disp.
#pragma once

#include <QWidget>

#include "acq/plib_acq_types.h"

class QLabel;
class QLineEdit;
class QPushButton;
class ui_tool_int_validator_t;

class ui_measure_data_list_page_widget_t : public QWidget {
    Q_OBJECT
public:
    static constexpr int page_size = 50;

    explicit ui_measure_data_list_page_widget_t(QWidget* parent = nullptr);

    // Readings in the buffer: sets the page count, the first label and the edit's range.
    void set_counts(int data_num);
    // Run totals: the second label.
    void set_run_info(const plib_record_run_state_info_t& info);

    int data_num() const { return m_data_num; }
    int page_count() const { return m_page_count; }
    int current_page() const;

    // Ceiling of data_num / page_size, and 1 for an empty buffer.
    static int page_count_of(int data_num);
    // "HH:MM:SS.ss", seconds rounded to hundredths before the split, so 59.999 s
    // reads 00:01:00.00 and never 00:00:60.00.
    static QString format_record_time(double elapsed_s);

signals:
    void signal_update_data_disp(int page);

private slots:
    void slot_first_page();
    void slot_prev_page();
    void slot_next_page();
    void slot_last_page();
    void slot_page_edited();

private:
    void _go_to(int page);

    int m_data_num = 0;
    int m_page_count = 1;
    QPushButton* m_first_button = nullptr;
    QPushButton* m_prev_button = nullptr;
    QLineEdit* m_page_edit = nullptr;
    QPushButton* m_next_button = nullptr;
    QPushButton* m_last_button = nullptr;
    QLabel* m_count_label = nullptr;
    QLabel* m_run_label = nullptr;
    ui_tool_int_validator_t* m_validator = nullptr;
};
