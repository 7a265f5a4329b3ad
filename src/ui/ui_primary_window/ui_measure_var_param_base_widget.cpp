#include "ui/ui_primary_window/ui_measure_var_param_base_widget.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "cfg/cfg_main.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_tool_validator.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The tables write the micro sign in one place and "u" in another ("2μF" in a range
// list, "2uF" as a default); both name the same range and reach the instrument alike.
QString same_range_key(QString text) { return text.replace(QChar(0x03BC), QChar('u')); }

int find_range(const QComboBox* combo, const QString& name) {
    const int exact = combo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (exact >= 0) return exact;
    const QString key = same_range_key(name);
    for (int i = 0; i < combo->count(); ++i)
        if (same_range_key(combo->itemText(i)) == key) return i;
    return -1;
}

// A bandwidth entry is sent as its leading digits ("20 Hz" -> "20").
QString bandwidth_value(const QString& text) {
    const int cut = text.indexOf(QRegularExpression("[^0-9]"));
    return cut < 0 ? text : text.left(cut);
}

void fill(QComboBox* combo, const std::vector<std::string>& items) {
    for (const std::string& item : items) combo->addItem(qs(item));
}

const int off_id = 0;
const int on_id = 1;
const std::vector<std::pair<QString, int>> on_off_radios = {{"ON", on_id}, {"OFF", off_id}};

}  // namespace

ui_measure_var_param_base_widget_t::ui_measure_var_param_base_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                       plib_measure_type_t func,
                                                                       const ui_var_param_rows_t& rows)
    : QWidget(parent), m_pcfg(cfg), m_func(func), m_rows(rows) {
    setObjectName(QString("var_param_panel_%1").arg(int(func)));
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(5);
    // Rows stay at the top when the stack is as tall as its tallest panel.
    m_layout->addStretch();

    // One fixed order serves every panel; a row whose flag is clear is simply absent.
    if (m_rows.range) _init_range_row();
    if (!m_rows.speeds.empty()) _init_aperture_row();
    if (m_rows.rel) _init_rel_row();
    if (m_rows.filter) _init_switch_row("filter", "Filter:", m_filter_group, &cfg_main_t::set_filter);
    if (m_rows.auto_zero)
        _init_switch_row(
            "auto_zero",
            m_rows.auto_zero_highlighted ? "<span style='color:yellow;'>Auto Zero:</span>" : "Auto Zero:",
            m_auto_zero_group, &cfg_main_t::set_auto_zero);
    if (m_rows.impedance) _init_impedance_row();
    if (m_rows.bandwidth) _init_bandwidth_row();
    if (m_rows.diverter) _init_option_row();
    if (m_rows.gate) _init_gate_row();
    if (m_rows.beeper_threshold) _init_beeper_threshold_rows();
}

QString ui_measure_var_param_base_widget_t::short_unit_text(const std::string& unit) {
    const QString text = qs(unit);
    return unit.size() > 2 && !text.isEmpty() ? text.left(1) : text;
}

QString ui_measure_var_param_base_widget_t::_rel_unit_text() const {
    return short_unit_text(measure_unit_text(m_func));
}

QWidget* ui_measure_var_param_base_widget_t::_add_row(const QString& key, QHBoxLayout*& line) {
    auto* row = new QWidget(this);
    row->setObjectName("var_param_row_" + key);
    line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    _append_row(row);
    return row;
}

void ui_measure_var_param_base_widget_t::_append_row(QWidget* row) {
    m_layout->insertWidget(m_layout->count() - 1, row);
}

QLabel* ui_measure_var_param_base_widget_t::_add_caption(QWidget* row, QHBoxLayout* line,
                                                         const QString& text) {
    auto* caption = new QLabel(text, row);
    caption->setObjectName("common_param_text");
    line->addWidget(caption);
    return caption;
}

QButtonGroup* ui_measure_var_param_base_widget_t::_add_radios(
    QWidget* row, QHBoxLayout* line, const QString& key, const std::vector<std::pair<QString, int>>& radios) {
    auto* group = new QButtonGroup(this);
    group->setObjectName("var_param_" + key + "_group");
    for (const auto& [text, id] : radios) {
        auto* radio = new QRadioButton(text, row);
        group->addButton(radio, id);
        line->addWidget(radio);
    }
    return group;
}

void ui_measure_var_param_base_widget_t::_check_radio(QButtonGroup* group, int id) {
    if (group == nullptr) return;
    const QSignalBlocker blocker(group);
    QAbstractButton* button = group->button(id);
    if (button != nullptr) {
        const QSignalBlocker button_blocker(button);
        button->setChecked(true);
        return;
    }
    // An exclusive group keeps one radio checked; lift that for a moment to show none.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) {
        const QSignalBlocker button_blocker(b);
        b->setChecked(false);
    }
    group->setExclusive(true);
}

QLineEdit* ui_measure_var_param_base_widget_t::_add_number_edit(QWidget* row, QHBoxLayout* line,
                                                                const QString& name, double low,
                                                                double high) {
    auto* edit = new QLineEdit(row);
    edit->setObjectName(name);
    auto* validator = new ui_tool_double_validator_t(low, high, 10, edit);
    // The text goes to the instrument as typed: a dot, never a locale's comma or groups.
    QLocale c_locale = QLocale::c();
    c_locale.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c_locale);
    edit->setValidator(validator);
    line->addWidget(edit);
    return edit;
}

void ui_measure_var_param_base_widget_t::_apply(std::function<int(cfg_main_t*)> job,
                                                std::function<void()> after) {
    if (m_pdev == nullptr) {
        job(m_pcfg);
        if (after) after();
        return;
    }
    m_pdev->run_setting(this, std::move(job), [this, after = std::move(after)](int status) {
        if (status != 0) {
            refresh();
            emit signal_setting_refused(status);
        }
        if (after) after();
    });
}

void ui_measure_var_param_base_widget_t::_send_number(QLineEdit* edit, text_setter_t setter,
                                                      std::function<void()> after) {
    // An empty or half-typed number ("-", "1e") is not a value: nothing is sent.
    if (!edit->hasAcceptableInput()) {
        if (after) after();
        return;
    }
    const int f = m_func;
    const std::string text = edit->text().toStdString();
    _apply([setter, f, text](cfg_main_t* cfg) { return (cfg->*setter)(f, text); }, std::move(after));
}

void ui_measure_var_param_base_widget_t::_select_text(QComboBox* combo, const QString& text) {
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

// ---- rows -----------------------------------------------------------------------------

void ui_measure_var_param_base_widget_t::_init_range_row() {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("range", line);
    _add_caption(row, line, "Range:");
    m_range = new QComboBox(row);
    m_range->setObjectName("var_param_range_combo");
    fill(m_range, m_rows.ranges);
    line->addWidget(m_range, 1);
    connect(m_range, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index < 0) return;
        const std::string name = m_range->itemText(index).toStdString();
        const int f = m_func;
        _apply([f, name](cfg_main_t* cfg) {
            return name == "Auto" ? cfg->set_auto_range(f, 1) : cfg->set_range(f, name);
        });
        _sync_impedance_visibility();
    });
}

void ui_measure_var_param_base_widget_t::_init_aperture_row() {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("aperture", line);
    _add_caption(row, line, "Aperture:");
    m_aperture = new QComboBox(row);
    m_aperture->setObjectName("var_param_aperture_combo");
    fill(m_aperture, m_rows.speeds);
    line->addWidget(m_aperture, 1);
    connect(m_aperture, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index < 0) return;
        const std::string nplc = m_aperture->itemText(index).toStdString();
        const int f = m_func;
        _apply([f, nplc](cfg_main_t* cfg) { return cfg->set_nplc(f, nplc); });
    });
}

void ui_measure_var_param_base_widget_t::_init_rel_row() {
    m_rel_row = new QWidget(this);
    m_rel_row->setObjectName("var_param_row_rel");
    auto* rows = new QVBoxLayout(m_rel_row);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(5);
    _append_row(m_rel_row);

    auto* first = new QHBoxLayout;
    rows->addLayout(first);
    _add_caption(m_rel_row, first, "Rel:");
    first->addStretch();
    m_rel_group = _add_radios(m_rel_row, first, "rel", on_off_radios);

    auto* second = new QHBoxLayout;
    rows->addLayout(second);
    m_rel_edit = _add_number_edit(m_rel_row, second, "var_param_rel_edit", m_rows.rel_min, m_rows.rel_max);
    m_rel_unit = new QLabel(_rel_unit_text(), m_rel_row);
    m_rel_unit->setObjectName("var_param_unit");
    second->addWidget(m_rel_unit);
    m_rel_set = new QPushButton("Set", m_rel_row);
    m_rel_set->setObjectName("var_param_widget_set");
    second->addWidget(m_rel_set);

    connect(m_rel_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked) return;
        const int f = m_func;
        _apply([f, id](cfg_main_t* cfg) { return cfg->set_rel_state(f, id); }, [this] { _sync_rel(); });
    });
    connect(m_rel_set, &QPushButton::clicked, this,
            [this] { _send_number(m_rel_edit, &cfg_main_t::set_rel_value, [this] { _sync_rel(); }); });
}

void ui_measure_var_param_base_widget_t::_init_switch_row(const QString& key, const QString& caption,
                                                          QButtonGroup*& group, switch_setter_t setter) {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row(key, line);
    _add_caption(row, line, caption);
    line->addStretch();
    group = _add_radios(row, line, key, on_off_radios);
    connect(group, &QButtonGroup::idToggled, this, [this, setter](int id, bool checked) {
        if (!checked) return;
        const int f = m_func;
        _apply([setter, f, id](cfg_main_t* cfg) { return (cfg->*setter)(f, id); });
    });
}

void ui_measure_var_param_base_widget_t::_init_impedance_row() {
    QHBoxLayout* line = nullptr;
    m_impedance_row = _add_row("impedance", line);
    _add_caption(m_impedance_row, line, "Imput Z:");
    line->addStretch();
    m_impedance_group = _add_radios(m_impedance_row, line, "impedance", {{"10M", 0}, {"10G", 1}});
    connect(m_impedance_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked) return;
        const std::string impedance = m_impedance_group->button(id)->text().toStdString();
        _apply([impedance](cfg_main_t* cfg) { return cfg->set_impedance(impedance); });
    });
    _sync_impedance_visibility();
}

void ui_measure_var_param_base_widget_t::_init_bandwidth_row() {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("bandwidth", line);
    _add_caption(row, line, "Bandwidth:");
    m_bandwidth = new QComboBox(row);
    m_bandwidth->setObjectName("var_param_bandwidth_combo");
    fill(m_bandwidth, m_rows.bandwidths);
    line->addWidget(m_bandwidth, 1);
    auto* unit = new QLabel("Hz", row);
    unit->setObjectName("var_param_unit");
    line->addWidget(unit);
    connect(m_bandwidth, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index < 0) return;
        const std::string bandwidth = bandwidth_value(m_bandwidth->itemText(index)).toStdString();
        const int f = m_func;
        _apply([f, bandwidth](cfg_main_t* cfg) { return cfg->set_bandwidth(f, bandwidth); });
    });
}

void ui_measure_var_param_base_widget_t::_init_option_row() {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("option", line);
    _add_caption(row, line, "Option:");
    line->addStretch();
    m_option_group = _add_radios(row, line, "option", {{"None", 0}, {"Diverter", 1}});
    connect(m_option_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked) return;
        const int f = m_func;
        _apply([f, id](cfg_main_t* cfg) { return cfg->set_diverter(f, id); }, [this] { _apply_diverter_enabling(); });
    });
}

void ui_measure_var_param_base_widget_t::_init_gate_row() {
    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("gate", line);
    _add_caption(row, line, "Aperture:");
    m_gate = new QComboBox(row);
    m_gate->setObjectName("var_param_gate_combo");
    fill(m_gate, m_rows.gate_times);
    line->addWidget(m_gate, 1);
    auto* unit = new QLabel("s", row);
    unit->setObjectName("var_param_unit");
    line->addWidget(unit);
    connect(m_gate, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index < 0) return;
        const std::string aperture = m_gate->itemText(index).toStdString();
        const int f = m_func;
        _apply([f, aperture](cfg_main_t* cfg) { return cfg->set_aperture(f, aperture); });
    });
}

void ui_measure_var_param_base_widget_t::_init_beeper_threshold_rows() {
    QButtonGroup* beeper = nullptr;
    {
        QHBoxLayout* line = nullptr;
        QWidget* row = _add_row("beeper", line);
        _add_caption(row, line, "Beeper:");
        line->addStretch();
        beeper = _add_radios(row, line, "beeper", on_off_radios);
    }
    m_beeper_group = beeper;
    connect(m_beeper_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked) return;
        const int f = m_func;
        _apply([f, id](cfg_main_t* cfg) { return cfg->set_beeper(f, id); });
    });

    QHBoxLayout* line = nullptr;
    QWidget* row = _add_row("threshold", line);
    _add_caption(row, line, "Threshold:");
    m_threshold_edit =
        _add_number_edit(row, line, "var_param_threshold_edit", m_rows.threshold_min, m_rows.threshold_max);
    auto* unit = new QLabel(m_func == measure_diode ? "V" : "Ω", row);
    unit->setObjectName("var_param_unit");
    line->addWidget(unit);
    auto* set = new QPushButton("Set", row);
    set->setObjectName("var_param_widget_set");
    set->setMinimumWidth(50);
    line->addWidget(set);
    connect(set, &QPushButton::clicked, this, [this] {
        _send_number(m_threshold_edit, &cfg_main_t::set_threshold, [this] {
            m_threshold_edit->setPlaceholderText(qs(m_pcfg->get_threshold(m_func)));
            m_threshold_edit->clear();
        });
    });
}

// ---- refresh --------------------------------------------------------------------------

void ui_measure_var_param_base_widget_t::_sync_range() {
    if (m_range == nullptr) return;
    const QSignalBlocker blocker(m_range);
    if (m_pcfg->get_auto_range(m_func) != 0)
        m_range->setCurrentIndex(find_range(m_range, "Auto"));
    else
        m_range->setCurrentIndex(find_range(m_range, qs(m_pcfg->get_range(m_func))));
}

void ui_measure_var_param_base_widget_t::_sync_impedance_visibility() {
    if (m_impedance_row == nullptr || m_range == nullptr) return;
    const QString shown = same_range_key(m_range->currentText());
    const bool offered = m_range->currentIndex() >= 0 &&
                         std::any_of(m_rows.impedance_ranges.begin(), m_rows.impedance_ranges.end(),
                                     [&](const std::string& r) { return same_range_key(qs(r)) == shown; });
    m_impedance_row->setVisible(offered);
}

void ui_measure_var_param_base_widget_t::_apply_diverter_enabling() {
    if (m_option_group == nullptr || m_range == nullptr) return;
    // The diverter works on automatic ranging: show what the configuration now holds.
    const bool diverter = m_option_group->checkedId() == 1;
    if (diverter) _sync_range();
    m_range->setEnabled(!diverter);
}

void ui_measure_var_param_base_widget_t::_sync_rel() {
    if (m_rel_group == nullptr) return;
    const int on = m_pcfg->get_rel_state(m_func) != 0 ? on_id : off_id;
    _check_radio(m_rel_group, on);
    m_rel_edit->setEnabled(on == on_id);
    m_rel_set->setEnabled(on == on_id);
    m_rel_edit->setPlaceholderText(qs(m_pcfg->get_rel_value(m_func)));
    m_rel_edit->clear();
    m_rel_unit->setText(_rel_unit_text());
}

void ui_measure_var_param_base_widget_t::refresh() {
    _sync_range();
    if (m_aperture != nullptr) _select_text(m_aperture, qs(m_pcfg->get_nplc(m_func)));
    _sync_rel();
    if (m_filter_group != nullptr)
        _check_radio(m_filter_group, m_pcfg->get_filter(m_func) != 0 ? on_id : off_id);
    if (m_auto_zero_group != nullptr)
        _check_radio(m_auto_zero_group, m_pcfg->get_auto_zero(m_func) != 0 ? on_id : off_id);
    if (m_impedance_group != nullptr) {
        const QString impedance = qs(m_pcfg->get_impedance());
        int id = -1;
        for (QAbstractButton* b : m_impedance_group->buttons())
            if (b->text() == impedance) id = m_impedance_group->id(b);
        _check_radio(m_impedance_group, id);
        _sync_impedance_visibility();
    }
    if (m_bandwidth != nullptr) {
        const QString configured = qs(m_pcfg->get_bandwidth(m_func));
        int index = -1;
        for (int i = 0; i < m_bandwidth->count() && index < 0; ++i)
            if (bandwidth_value(m_bandwidth->itemText(i)) == configured) index = i;
        const QSignalBlocker blocker(m_bandwidth);
        m_bandwidth->setCurrentIndex(index);
    }
    if (m_option_group != nullptr) {
        _check_radio(m_option_group, m_pcfg->get_diverter(m_func) == 1 ? 1 : 0);
        _apply_diverter_enabling();
    }
    if (m_gate != nullptr) _select_text(m_gate, qs(m_pcfg->get_aperture(m_func)));
    if (m_beeper_group != nullptr)
        _check_radio(m_beeper_group, m_pcfg->get_beeper(m_func) != 0 ? on_id : off_id);
    if (m_threshold_edit != nullptr) {
        m_threshold_edit->setPlaceholderText(qs(m_pcfg->get_threshold(m_func)));
        m_threshold_edit->clear();
    }
}
