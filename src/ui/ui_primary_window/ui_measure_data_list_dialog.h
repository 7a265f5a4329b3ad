// Data list: the readings of the record buffer as a table, 50 a page, with the counts
// and the run totals as they were when the dialog opened.
//
// GUI thread only. The engine is reached through its messages (each a synchronous
// call into the acquisition thread); every page change fetches its slice afresh, so
// the table never points into the buffer.
#pragma once

#include <QDialog>

#include "acq/plib_acq_types.h"

class QTableWidget;
class acq_main_t;
class plib_mngr_t;
class ui_measure_data_list_page_widget_t;

class ui_measure_data_list_dialog_t : public QDialog {
    Q_OBJECT
public:
    static constexpr int page_size = 50;

    // `mngr` is borrowed and outlives the dialog.
    ui_measure_data_list_dialog_t(QWidget* parent, plib_mngr_t* mngr);
    // The same over an acquisition engine alone (borrowed, outlives the dialog).
    ui_measure_data_list_dialog_t(QWidget* parent, acq_main_t* acq);

    // Text of a reading's value cell: "" for NaN and infinities, "OVERLOAD" for the
    // instrument's overload value, else the value auto-scaled with six decimals and its
    // SI prefix ("12.300000m").
    static QString format_value(double value);

public slots:
    void slot_update_data_disp(int page);

private:
    void _build();
    void _refresh();
    void _show_page(uint64_t start, uint64_t count);

    plib_mngr_t* m_pmngr = nullptr;
    acq_main_t* m_pacq = nullptr;
    int m_data_num = 0;  // readings in the buffer at opening
    plib_record_run_state_info_t m_run_info;
    QTableWidget* m_table = nullptr;
    ui_measure_data_list_page_widget_t* m_page_widget = nullptr;
};
