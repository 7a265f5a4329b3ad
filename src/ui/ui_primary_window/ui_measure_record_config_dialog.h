// Record configuration: acquisition mode, buffer mode, automatic stop and the data log
// of one instrument, read from the facade at opening and written back through its
// setters, in a fixed order, on OK. Cancel and the close button discard the edits.
//
// GUI thread only. A change of the acquisition mode sends the trigger settings to the
// instrument (after any fetch in flight): with the instrument's device item it runs on
// the item's lane, behind the changes made before, and OK returns at once.
#pragma once

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class cfg_main_t;
class plib_mngr_t;
class ui_device_item_t;
class ui_time_edit_widget_t;

class ui_measure_record_config_dialog_t : public QDialog {
    Q_OBJECT
public:
    // `mngr` is borrowed and outlives the dialog; `item`, when given, is the device item
    // that holds it (its lane carries the acquisition-mode change).
    ui_measure_record_config_dialog_t(QWidget* parent, plib_mngr_t* mngr, ui_device_item_t* item = nullptr);

    static const char* const tips_title;
    static const char* const logging_in_progress_text;
    static const char* const no_directory_text;
    static const char* const missing_directory_text;  // %1: the directory

private slots:
    void slot_record_enable_toggled(bool on);
    void slot_choose_directory();
    void slot_ok();

private:
    QGroupBox* _build_acq_mode_group();
    QGroupBox* _build_buffer_mode_group();
    QGroupBox* _build_auto_stop_group();
    QGroupBox* _build_data_log_group();
    QWidget* _build_button_row();
    void _load();
    bool _is_running() const;
    // Refuses (with a "Tips" box) an OK that would turn logging on with no directory to
    // write to: the run would then go on without a file and without a word.
    bool _check_data_log();

    void _set_acq_mode(int mode);

    plib_mngr_t* m_pmngr = nullptr;
    cfg_main_t* m_pcfg = nullptr;
    QPointer<ui_device_item_t> m_pdev;
    QRadioButton* m_continuous = nullptr;
    QRadioButton* m_single = nullptr;
    QRadioButton* m_keep_latest = nullptr;
    QRadioButton* m_stop_when_full = nullptr;
    QCheckBox* m_auto_stop = nullptr;
    QRadioButton* m_after_time = nullptr;
    ui_time_edit_widget_t* m_time_edit = nullptr;
    QRadioButton* m_after_num = nullptr;
    QSpinBox* m_num_box = nullptr;
    QCheckBox* m_record_enable = nullptr;
    QLineEdit* m_directory_edit = nullptr;
    QPushButton* m_directory_button = nullptr;
    QPushButton* m_ok_button = nullptr;
    QPushButton* m_cancel_button = nullptr;
    bool m_loading = false;  // no "Tips" while the stored values are being shown
};
