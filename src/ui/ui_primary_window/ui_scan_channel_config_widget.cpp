#include "ui/ui_primary_window/ui_scan_channel_config_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>

#include "cfg/cfg_scan_config.h"
#include "ui/ui_item_delegate.h"
#include "ui/ui_primary_window/ui_measure_format.h"

namespace {

const QString col_channel = "Channel";
const QString col_name = "Name";
const QString col_scan = "Scan";
const QString col_function = "Function";
const QString col_range = "Range";
const QString col_speed = "Speed";
const QString col_counts = "Scan Counts";
const QString col_scaling = "Scaling";
const QString col_gain = "Gain(K)";
const QString col_offset = "Offset(B)";
const QString col_alarm = "Alarm Limit";
const QString col_low = "Low";
const QString col_high = "High";

const QStringList speed_texts = {"Slow", "Fast"};
const QStringList alarm_texts = {"None", "Low", "High", "Low/High"};

constexpr int alarm_low = 1;
constexpr int alarm_high = 2;
constexpr int alarm_low_high = 3;

const Qt::ItemFlags editable_flags = Qt::ItemIsEditable | Qt::ItemIsEnabled;

// Speed has no meaning for the functions that measure at their own pace.
bool speed_fixed(plib_measure_type_t func) { return func >= measure_freq && func <= measure_temp; }

// Cells written by the table itself hold numbers; anything else counts as 0.
double cell_double(const QTableWidgetItem* item) { return item != nullptr ? item->text().toDouble() : 0.0; }

}  // namespace

const QStringList& ui_scan_config_columns() {
    static const QStringList columns = {col_channel, col_name,   col_scan,    col_function, col_range,
                                        col_speed,   col_counts, col_scaling, col_gain,     col_offset,
                                        col_alarm,   col_low,    col_high};
    return columns;
}

const QStringList& ui_scan_result_columns() {
    static const QStringList columns = {"Channel", "Name",    "Data",       "Min",
                                        "Max",     "Average", "Total nums", "Alarm"};
    return columns;
}

void ui_scan_setup_table(QTableWidget* table) {
    table->setObjectName("scan_config_widget");
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setFocusPolicy(Qt::NoFocus);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionsClickable(false);
    table->horizontalHeader()->setMinimumSectionSize(100);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->hide();
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

ui_scan_channel_config_widget_t::ui_scan_channel_config_widget_t(QWidget* parent, cfg_scan_config_t* config,
                                                                 int channel_count)
    : QTableWidget(parent), m_config(config) {
    const QStringList& columns = ui_scan_config_columns();
    setColumnCount(columns.size());
    setHorizontalHeaderLabels(columns);
    setRowCount(channel_count > 0 ? channel_count : 0);
    ui_scan_setup_table(this);
    setEditTriggers(QAbstractItemView::DoubleClicked);

    auto* name_delegate = new ui_item_delegate_str_t(this);
    setItemDelegateForColumn(column_of(col_name), name_delegate);
    const int max_count = m_config != nullptr ? m_config->get_max_count() : 999;
    setItemDelegateForColumn(column_of(col_counts), new ui_item_delegate_int_t(this, 1, max_count));
    setItemDelegateForColumn(column_of(col_gain),
                             new ui_item_delegate_double_t(this, -gain_bound, gain_bound));
    for (const QString& header : {col_offset, col_low, col_high}) {
        setItemDelegateForColumn(column_of(header),
                                 new ui_item_delegate_double_t(this, -limit_bound, limit_bound));
    }

    plib_scan_channel_funcs_t funcs;
    if (m_config != nullptr) m_config->get_channel_funcs(funcs);
    for (int row = 0; row < rowCount(); ++row) _build_row(row, funcs[row + 1]);

    connect(this, &ui_scan_channel_config_widget_t::signal_func_change, this,
            &ui_scan_channel_config_widget_t::slot_func_change_func_event);
    connect(this, &ui_scan_channel_config_widget_t::signal_func_change, this,
            &ui_scan_channel_config_widget_t::slot_func_change_range_event);
    connect(this, &ui_scan_channel_config_widget_t::signal_func_change, this,
            &ui_scan_channel_config_widget_t::slot_func_change_speed_event);
    connect(name_delegate, &ui_item_delegate_str_t::signal_edit_finish, this,
            &ui_scan_channel_config_widget_t::publish_names);
    connect(this, &QTableWidget::itemDoubleClicked, this,
            &ui_scan_channel_config_widget_t::_on_item_double_clicked);
    connect(this, &QTableWidget::itemChanged, this, &ui_scan_channel_config_widget_t::_on_item_changed);
    connect(this, &QTableWidget::itemChanged, this,
            &ui_scan_channel_config_widget_t::slot_limit_data_rectify);
    // The edit is over once its text has been checked: a later change of the item's
    // flags (Scaling, Alarm Limit) is no edit and must not restore anything.
    connect(this, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* cell) {
        if (!m_restoring && cell == m_edit_item) m_edit_item = nullptr;
    });

    m_context_menu = new QMenu(this);
    m_context_menu->setObjectName("scan_channel_context_menu");
    m_context_menu->addAction("Select All Channel", this,
                              &ui_scan_channel_config_widget_t::slot_select_all_channels);
    m_context_menu->addAction("Deselect All Channel", this,
                              &ui_scan_channel_config_widget_t::slot_deselect_all_channels);

    if (m_config != nullptr) load_channel_params(m_config->get_channel_params());
}

int ui_scan_channel_config_widget_t::column_of(const QString& header) {
    return ui_scan_config_columns().indexOf(header);
}

QTableWidgetItem* ui_scan_channel_config_widget_t::_text_item(const QString& text, bool editable) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(editable ? editable_flags : Qt::NoItemFlags);
    return item;
}

QCheckBox* ui_scan_channel_config_widget_t::_add_check_cell(int row, int column) {
    auto* cell = new QWidget(this);
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* box = new QCheckBox(cell);
    layout->addWidget(box, 0, Qt::AlignCenter);
    setCellWidget(row, column, cell);
    return box;
}

QComboBox* ui_scan_channel_config_widget_t::_add_combo_cell(int row, int column) {
    auto* box = new QComboBox(this);
    setCellWidget(row, column, box);
    return box;
}

void ui_scan_channel_config_widget_t::_build_row(int row, const std::vector<plib_measure_type_t>& funcs) {
    auto* channel = new QLabel(QString::number(row + 1), this);
    channel->setAlignment(Qt::AlignCenter);
    setCellWidget(row, column_of(col_channel), channel);

    setItem(row, column_of(col_name), _text_item(QString(), true));
    _add_check_cell(row, column_of(col_scan));

    QComboBox* function = _add_combo_cell(row, column_of(col_function));
    for (plib_measure_type_t f : funcs)
        function->addItem(QString::fromStdString(measure_name(f)), static_cast<int>(f));
    QComboBox* range = _add_combo_cell(row, column_of(col_range));
    range->setEnabled(false);
    QComboBox* speed = _add_combo_cell(row, column_of(col_speed));
    speed->addItems(speed_texts);

    setItem(row, column_of(col_counts), _text_item("1", true));
    QCheckBox* scaling = _add_check_cell(row, column_of(col_scaling));
    setItem(row, column_of(col_gain), _text_item("1", false));
    setItem(row, column_of(col_offset), _text_item("0", false));
    QComboBox* alarm = _add_combo_cell(row, column_of(col_alarm));
    alarm->addItems(alarm_texts);
    setItem(row, column_of(col_low), _text_item("0", false));
    setItem(row, column_of(col_high), _text_item("0", false));

    if (!funcs.empty()) {
        const auto first = funcs.front();
        slot_func_change_range_event(row, first);
        slot_func_change_speed_event(row, first);
        slot_func_change_func_event(row, first);
    }

    // The limits are in the unit of the channel's function: the cells' tooltips say which.
    auto limit_tips = [this, row, function](int index) {
        const QString unit = index < 0 ? QString()
                                       : ui_measure_unit_text(static_cast<plib_measure_type_t>(function->itemData(index).toInt()),
                                                              false, 0, 0);
        const QString in = unit.isEmpty() ? QString() : " (" + unit + ")";
        if (QTableWidgetItem* low = item(row, column_of(col_low))) low->setToolTip("Low alarm limit" + in);
        if (QTableWidgetItem* high = item(row, column_of(col_high))) high->setToolTip("High alarm limit" + in);
    };
    limit_tips(function->currentIndex());
    connect(function, QOverload<int>::of(&QComboBox::currentIndexChanged), this, limit_tips);
    connect(function, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this, row, function](int index) {
                if (index < 0) return;
                emit signal_func_change(row,
                                        static_cast<plib_measure_type_t>(function->itemData(index).toInt()));
            });
    connect(scaling, &QCheckBox::toggled, this, [this, row](bool on) {
        _set_item_editable(row, col_gain, on);
        _set_item_editable(row, col_offset, on);
    });
    connect(alarm, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this, row](int index) { _apply_alarm_limit(row, index); });
}

void ui_scan_channel_config_widget_t::_set_item_editable(int row, const QString& header, bool editable) {
    QTableWidgetItem* cell = item(row, column_of(header));
    if (cell != nullptr) cell->setFlags(editable ? editable_flags : Qt::NoItemFlags);
}

void ui_scan_channel_config_widget_t::_apply_alarm_limit(int row, int alarm_limit) {
    _set_item_editable(row, col_low, alarm_limit == alarm_low || alarm_limit == alarm_low_high);
    _set_item_editable(row, col_high, alarm_limit == alarm_high || alarm_limit == alarm_low_high);
}

QCheckBox* ui_scan_channel_config_widget_t::scan_box(int row) const {
    QWidget* cell = cellWidget(row, column_of(col_scan));
    return cell != nullptr ? cell->findChild<QCheckBox*>() : nullptr;
}

QCheckBox* ui_scan_channel_config_widget_t::scaling_box(int row) const {
    QWidget* cell = cellWidget(row, column_of(col_scaling));
    return cell != nullptr ? cell->findChild<QCheckBox*>() : nullptr;
}

QComboBox* ui_scan_channel_config_widget_t::combo(int row, const QString& header) const {
    return qobject_cast<QComboBox*>(cellWidget(row, column_of(header)));
}

void ui_scan_channel_config_widget_t::slot_func_change_range_event(int row, plib_measure_type_t func) {
    QComboBox* range = combo(row, col_range);
    if (range == nullptr) return;
    std::vector<std::string> ranges;
    if (m_config != nullptr) m_config->get_ranges(func, ranges);
    range->clear();
    for (const std::string& r : ranges) range->addItem(QString::fromStdString(r));
    range->setEnabled(!ranges.empty());
}

void ui_scan_channel_config_widget_t::slot_func_change_speed_event(int row, plib_measure_type_t func) {
    QComboBox* speed = combo(row, col_speed);
    if (speed == nullptr) return;
    speed->setCurrentIndex(0);
    speed->setEnabled(!speed_fixed(func));
}

// A four-wire measurement uses the channel six higher for its sense pair.
void ui_scan_channel_config_widget_t::slot_func_change_func_event(int row, plib_measure_type_t func) {
    const int partner = row + 6;
    if (partner < 0 || partner >= rowCount()) return;
    if (QCheckBox* box = scan_box(partner)) box->setEnabled(func != measure_res_4w);
}

void ui_scan_channel_config_widget_t::_on_item_double_clicked(QTableWidgetItem* cell) {
    m_edit_item = cell;
    m_edit_start_text = cell != nullptr ? cell->text() : QString();
}

// An emptied entry (other than a name) gets back the text it had before the edit; so
// does text that is not a number in a numeric column (a lone "-" the validator let by).
void ui_scan_channel_config_widget_t::_on_item_changed(QTableWidgetItem* cell) {
    if (m_restoring || cell == nullptr) return;
    // The editor reports the end of a name edit before the text reaches the item.
    if (cell->column() == column_of(col_name)) {
        publish_names();
        return;
    }
    if (cell != m_edit_item) return;
    bool numeric = false;
    cell->text().toDouble(&numeric);
    if (!cell->text().isEmpty() && numeric) return;
    m_restoring = true;
    cell->setText(m_edit_start_text);
    m_restoring = false;
}

void ui_scan_channel_config_widget_t::slot_limit_data_rectify(QTableWidgetItem* cell) {
    if (m_restoring || cell == nullptr || cell != m_edit_item) return;
    const int row = cell->row();
    const int column = cell->column();
    if (column != column_of(col_low) && column != column_of(col_high)) return;
    QComboBox* alarm = combo(row, col_alarm);
    if (alarm == nullptr || alarm->currentIndex() != alarm_low_high) return;
    const double low = cell_double(item(row, column_of(col_low)));
    const double high = cell_double(item(row, column_of(col_high)));
    if (low <= high) return;
    m_restoring = true;
    cell->setText(m_edit_start_text);
    m_restoring = false;
}

void ui_scan_channel_config_widget_t::publish_names() {
    ui_scan_name_map_t names;
    for (int row = 0; row < rowCount(); ++row) {
        const QTableWidgetItem* cell = item(row, column_of(col_name));
        names[row] = cell != nullptr ? cell->text() : QString();
    }
    emit signal_name_change(names);
}

void ui_scan_channel_config_widget_t::contextMenuEvent(QContextMenuEvent* event) {
    m_context_menu->exec(event->globalPos());
}

void ui_scan_channel_config_widget_t::_set_all_scan_boxes(bool checked) {
    for (int row = 0; row < rowCount(); ++row) {
        if (QCheckBox* box = scan_box(row)) box->setChecked(checked);
    }
}

void ui_scan_channel_config_widget_t::slot_select_all_channels() { _set_all_scan_boxes(true); }

void ui_scan_channel_config_widget_t::slot_deselect_all_channels() { _set_all_scan_boxes(false); }

plib_scanner_channel_map_t ui_scan_channel_config_widget_t::read_channel_params() const {
    plib_scanner_channel_map_t params;
    for (int row = 0; row < rowCount(); ++row) {
        plib_scanner_channel_param_t p;
        const QTableWidgetItem* name = item(row, column_of(col_name));
        p.name = name != nullptr ? name->text().toStdString() : std::string();
        p.scan_state = scan_box(row) != nullptr && scan_box(row)->isChecked() ? 1 : 0;
        QComboBox* function = combo(row, col_function);
        p.func = function != nullptr && function->currentIndex() >= 0 ? function->currentData().toInt()
                                                                      : static_cast<int>(measure_dcv);
        QComboBox* range = combo(row, col_range);
        p.range = range != nullptr ? range->currentText().toStdString() : std::string();
        QComboBox* speed = combo(row, col_speed);
        p.speed = speed != nullptr ? speed->currentIndex() : 0;
        const QTableWidgetItem* counts = item(row, column_of(col_counts));
        p.scan_counts = counts != nullptr ? counts->text().toInt() : 1;
        p.scaling = scaling_box(row) != nullptr && scaling_box(row)->isChecked() ? 1 : 0;
        p.gain = cell_double(item(row, column_of(col_gain)));
        p.offset = cell_double(item(row, column_of(col_offset)));
        QComboBox* alarm = combo(row, col_alarm);
        p.alarm_limit = alarm != nullptr ? alarm->currentIndex() : 0;
        p.limit_low = cell_double(item(row, column_of(col_low)));
        p.limit_high = cell_double(item(row, column_of(col_high)));
        params[row + 1] = p;
    }
    return params;
}

bool ui_scan_channel_config_widget_t::scanned_channel_span(int& first, int& last) const {
    first = 0;
    last = 0;
    for (int row = 0; row < rowCount(); ++row) {
        QCheckBox* box = scan_box(row);
        if (box == nullptr || !box->isChecked()) continue;
        if (first == 0) first = row + 1;
        last = row + 1;
    }
    return first != 0;
}

void ui_scan_channel_config_widget_t::load_channel_params(const plib_scanner_channel_map_t& params) {
    for (const auto& [channel, p] : params) {
        const int row = channel - 1;
        if (row < 0 || row >= rowCount()) continue;
        if (QTableWidgetItem* name = item(row, column_of(col_name)))
            name->setText(QString::fromStdString(p.name));
        if (QCheckBox* box = scan_box(row)) box->setChecked(p.scan_state != 0);
        if (QComboBox* function = combo(row, col_function)) {
            const int index = function->findData(p.func);
            if (index >= 0) function->setCurrentIndex(index);
        }
        if (QComboBox* range = combo(row, col_range)) {
            const int index = range->findText(QString::fromStdString(p.range), Qt::MatchExactly);
            if (index >= 0) range->setCurrentIndex(index);
        }
        if (QComboBox* speed = combo(row, col_speed)) {
            if (p.speed >= 0 && p.speed < speed->count()) speed->setCurrentIndex(p.speed);
        }
        if (QTableWidgetItem* counts = item(row, column_of(col_counts)))
            counts->setText(QString::number(p.scan_counts));
        if (QCheckBox* box = scaling_box(row)) box->setChecked(p.scaling != 0);
        if (QTableWidgetItem* gain = item(row, column_of(col_gain)))
            gain->setText(QString::number(p.gain, 'g', 10));
        if (QTableWidgetItem* offset = item(row, column_of(col_offset))) {
            offset->setText(QString::number(p.offset, 'g', 10));
        }
        if (QComboBox* alarm = combo(row, col_alarm)) {
            if (p.alarm_limit >= 0 && p.alarm_limit < alarm->count()) alarm->setCurrentIndex(p.alarm_limit);
        }
        // Widest bounds first, so a check of the pair never sees a half-loaded row.
        QTableWidgetItem* low = item(row, column_of(col_low));
        QTableWidgetItem* high = item(row, column_of(col_high));
        if (low != nullptr && high != nullptr) {
            low->setText(QString::number(-limit_bound, 'g', 10));
            high->setText(QString::number(limit_bound, 'g', 10));
            low->setText(QString::number(p.limit_low, 'g', 10));
            high->setText(QString::number(p.limit_high, 'g', 10));
        }
    }
}
