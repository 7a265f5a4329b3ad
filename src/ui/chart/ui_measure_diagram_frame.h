// The Measure Diagram page: the measure trend chart and a side panel with an "X Scale"
// group (trend mode "Recent" or "All", width of the recent window) and a "Y Scale"
// group (range mode "Default", "Auto" or "Manual", and the manual range). The settings
// live in the instrument's measure-diagram settings, reached through the chart; the
// page keeps only the latest reading's display texts.
//
// GUI thread only: acquisition notifications arrive queued from the primary window,
// the Measure page's reading texts and function changes as direct calls.
#pragma once

#include <QString>

#include "acq/plib_acq_types.h"
#include "ui/ui_primary_window/plib_measure_data_disp.h"
#include "ui/ui_primary_window/ui_primary_base_window.h"

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class ui_trend_chart_t;

class ui_measure_diagram_frame_t : public ui_primary_base_window_t {
    Q_OBJECT
public:
    ui_measure_diagram_frame_t(QWidget* parent, ui_device_item_t* item);

public slots:
    // acq_notify_data redraws the chart (once per event-loop turn at most); the other
    // notifications change nothing.
    void slot_recv_measure_notify_update(plib_acq_notify_t acq_notify_type);
    // The reading the Measure page shows, for the chart's header at its next redraw.
    void slot_download_latest_disp_data(plib_measure_data_disp_t data);
    // A new measurement function: the old reading goes, and the range returns to the
    // new function's default.
    void slot_func_change_process();

private:
    QWidget* _create_x_scale_group(QWidget* parent);
    QWidget* _create_y_scale_group(QWidget* parent);
    void _show_stored_modes();
    void _init_connect();
    void _on_trend_button(QAbstractButton* button, bool checked);
    void _on_range_button(QAbstractButton* button, bool checked);
    void _on_window_apply();
    void _on_range_apply();
    void _set_placeholders(double lower, double upper);

    QString m_polarity;
    QString m_value;
    QString m_prefix;
    QString m_unit;

    ui_trend_chart_t* m_pchart = nullptr;
    QButtonGroup* m_ptrend_group = nullptr;
    QRadioButton* m_precent_btn = nullptr;
    QRadioButton* m_pall_btn = nullptr;
    QWidget* m_pwindow_row = nullptr;
    QLineEdit* m_pwindow_edit = nullptr;
    QComboBox* m_pwindow_unit = nullptr;
    QPushButton* m_pwindow_apply_btn = nullptr;
    QButtonGroup* m_prange_group = nullptr;
    QRadioButton* m_pdefault_btn = nullptr;
    QRadioButton* m_pauto_btn = nullptr;
    QRadioButton* m_pmanual_btn = nullptr;
    QWidget* m_pmanual_panel = nullptr;
    QLineEdit* m_pmax_edit = nullptr;
    QLineEdit* m_pmin_edit = nullptr;
    QPushButton* m_prange_apply_btn = nullptr;
};
