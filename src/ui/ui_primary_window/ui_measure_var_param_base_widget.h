// The parameter panel of one measurement function, built from the model's capability
// record as data: each record is turned into a row set (`ui_var_param_rows_t`) and one
// builder lays out the rows it names, in one fixed order. The per-function classes are
// thin: they only say which record they take.
//
// Every user change goes through the facade (which writes the instrument and stores the
// value) as a job on the instrument's lane (the device item's run_setting): the widget
// shows the new choice at once, the instrument gets the changes in the order they were
// made, and a change the instrument did not take is undone: the panel shows the stored
// (old) values again and signal_setting_refused tells why. Without a device item (a
// panel on its own) the facade is called at once. `refresh` shows the stored
// configuration with every widget's signals blocked, so a refresh never sends anything.
// The widgets live on the GUI thread; the facade's stored measurement values may be
// written by the lane meanwhile (the facade's store lock guards them).
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/plib_measure_type.h"

class QButtonGroup;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class cfg_main_t;
class ui_device_item_t;

// The rows a panel shows and the choices they offer. A row flag set with an empty list
// gives an empty combo; the Aperture (integration time) row exists only when `speeds`
// is not empty.
struct ui_var_param_rows_t {
    bool range = false;
    std::vector<std::string> ranges;
    std::vector<std::string> speeds;
    bool rel = false;
    double rel_min = 0.0;
    double rel_max = 0.0;
    bool filter = false;
    bool auto_zero = false;
    bool auto_zero_highlighted = false;  // the resistance panels colour the caption
    bool impedance = false;
    std::vector<std::string> impedance_ranges;  // ranges on which 10M/10G may be chosen
    bool bandwidth = false;
    std::vector<std::string> bandwidths;
    bool diverter = false;
    bool gate = false;
    std::vector<std::string> gate_times;
    bool beeper_threshold = false;
    double threshold_min = 0.0;
    double threshold_max = 0.0;
};

class ui_measure_var_param_base_widget_t : public QWidget {
    Q_OBJECT
public:
    // `cfg` is borrowed and outlives the panel.
    ui_measure_var_param_base_widget_t(QWidget* parent, cfg_main_t* cfg, plib_measure_type_t func,
                                       const ui_var_param_rows_t& rows);

    plib_measure_type_t function() const { return m_func; }
    const ui_var_param_rows_t& rows() const { return m_rows; }

    // Shows the stored configuration; sends nothing.
    virtual void refresh();

    // The instrument whose lane runs the changes; null runs them at once.
    void set_device_item(ui_device_item_t* item) { m_pdev = item; }

signals:
    // The instrument did not take a change (VISA status); the panel shows the old value.
    void signal_setting_refused(int status);

public:
    // The first character of a unit longer than two bytes ("VDC" -> "V"); "Ω", "Hz" stay.
    static QString short_unit_text(const std::string& unit);

protected:
    // Text of the Rel row's unit label.
    virtual QString _rel_unit_text() const;
    // Rows of derived panels go below the ones built here.
    void _append_row(QWidget* row);
    // A row container named "var_param_row_<key>" holding one horizontal layout.
    QWidget* _add_row(const QString& key, QHBoxLayout*& line);
    QLabel* _add_caption(QWidget* row, QHBoxLayout* line, const QString& text);
    // Radios with ids in one exclusive group named "var_param_<key>_group".
    QButtonGroup* _add_radios(QWidget* row, QHBoxLayout* line, const QString& key,
                              const std::vector<std::pair<QString, int>>& radios);
    // Checks the radio of `id`; none when no radio has it. Signals blocked.
    static void _check_radio(QButtonGroup* group, int id);
    // A line edit taking numbers in [low, high] with up to 10 decimals, dot as separator.
    QLineEdit* _add_number_edit(QWidget* row, QHBoxLayout* line, const QString& name, double low,
                                double high);

    void _sync_rel();
    // Runs one change (see the class comment); `after` runs on the GUI thread once the
    // instrument answered, also after an undo.
    void _apply(std::function<int(cfg_main_t*)> job, std::function<void()> after = nullptr);

    cfg_main_t* m_pcfg = nullptr;
    ui_device_item_t* m_pdev = nullptr;  // outlives the panel (its window goes first)
    plib_measure_type_t m_func = measure_none;
    QWidget* m_rel_row = nullptr;
    QLabel* m_rel_unit = nullptr;

private:
    using switch_setter_t = int (cfg_main_t::*)(int, int);
    using text_setter_t = int (cfg_main_t::*)(int, const std::string&);

    void _init_range_row();
    void _init_aperture_row();
    void _init_rel_row();
    void _init_switch_row(const QString& key, const QString& caption, QButtonGroup*& group,
                          switch_setter_t setter);
    void _init_impedance_row();
    void _init_bandwidth_row();
    void _init_option_row();
    void _init_gate_row();
    void _init_beeper_threshold_rows();

    void _sync_range();
    void _sync_impedance_visibility();
    void _apply_diverter_enabling();
    // Sends the edit's text when it is a complete number within the validator's limits.
    // `after` runs once it was answered (at once when nothing was sent).
    void _send_number(QLineEdit* edit, text_setter_t setter, std::function<void()> after = nullptr);
    static void _select_text(QComboBox* combo, const QString& text);

    ui_var_param_rows_t m_rows;
    QVBoxLayout* m_layout = nullptr;

    QComboBox* m_range = nullptr;
    QComboBox* m_aperture = nullptr;
    QButtonGroup* m_rel_group = nullptr;
    QLineEdit* m_rel_edit = nullptr;
    QPushButton* m_rel_set = nullptr;
    QButtonGroup* m_filter_group = nullptr;
    QButtonGroup* m_auto_zero_group = nullptr;
    QWidget* m_impedance_row = nullptr;
    QButtonGroup* m_impedance_group = nullptr;
    QComboBox* m_bandwidth = nullptr;
    QButtonGroup* m_option_group = nullptr;
    QComboBox* m_gate = nullptr;
    QButtonGroup* m_beeper_group = nullptr;
    QLineEdit* m_threshold_edit = nullptr;
};
