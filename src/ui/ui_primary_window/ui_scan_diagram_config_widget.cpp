#include "ui/ui_primary_window/ui_scan_diagram_config_widget.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "cfg/cfg_main.h"
#include "common/plib_format.h"
#include "common/plib_measure_type.h"
#include "ui/ui_time_edit_widget.h"

namespace {

const QStringList column_titles = {
    "Name",           "Measurement", "Visible",     "Color",       "Line Pattern",
    "Symbol Pattern", "Auto Range",  "Upper Range", "Lower Range", "Data"};

struct combo_entry_t {
    const char* text;
    int data;
};

const combo_entry_t line_entries[] = {
    {"Solid", Qt::SolidLine},
    {"Dash", Qt::DashLine},
    {"Dot", Qt::DotLine},
    {"DashDot", Qt::DashDotLine},
    {"DashDotDot", Qt::DashDotDotLine},
    {"None", Qt::NoPen},
};

// UTriangle and NoSymbol are not offered.
const combo_entry_t symbol_entries[] = {
    {"Circle", QwtSymbol::Ellipse},
    {"Rectangles", QwtSymbol::Rect},
    {"Diamond", QwtSymbol::Diamond},
    {"Triangle", QwtSymbol::Triangle},
    {"DownTriangle", QwtSymbol::DTriangle},
    {"LeftTriangle", QwtSymbol::LTriangle},
    {"RightTriangle", QwtSymbol::RTriangle},
    {"Cross", QwtSymbol::Cross},
    {"XCross", QwtSymbol::XCross},
    {"HLine", QwtSymbol::HLine},
    {"VLine", QwtSymbol::VLine},
    {"Star", QwtSymbol::Star1},
    {"Hexagram", QwtSymbol::Star2},
    {"Hexagon", QwtSymbol::Hexagon},
};

constexpr int max_hours = 1000000000;

bool is_overload_either_sign(double v) {
    return is_equal(v, plib_overload_value) || is_equal(v, -plib_overload_value);
}

// A cell widget centred in its cell.
QWidget* centred(QWidget* w) {
    auto* holder = new QWidget();
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignCenter);
    layout->addWidget(w);
    return holder;
}

void select_data(QComboBox* combo, int data) { combo->setCurrentIndex(combo->findData(data)); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Colour button

ui_scan_diagram_color_btn_t::ui_scan_diagram_color_btn_t(QWidget* parent) : QPushButton(parent) {
    setObjectName("color_select_btn");
    setFixedSize(20, 20);
    setAutoFillBackground(true);
    connect(this, &QPushButton::clicked, this, &ui_scan_diagram_color_btn_t::_choose_color);
}

void ui_scan_diagram_color_btn_t::set_color(QRgb color) {
    m_color = color;
    // The fill is the user's per-curve colour, data rather than a look the shared style
    // sheet could name.
    // A colour stored without alpha (0x00RRGGBB, older project files) is opaque and needs
    // all six digits: unpadded, a red byte of 0 left four or five, which is no colour.
    const QString hex = qAlpha(color) == 0 ? QString("%1").arg(color & 0xFFFFFFu, 6, 16, QChar('0'))
                                           : QString::number(color, 16);
    setStyleSheet("background-color: #" + hex);
    emit signal_color_change(color);
}

void ui_scan_diagram_color_btn_t::_choose_color() {
    QColorDialog dialog(QColor::fromRgb(m_color), nullptr);
    dialog.setModal(true);
    if (dialog.exec() != QDialog::Accepted) return;
    const QColor chosen = dialog.selectedColor();
    if (chosen.isValid()) set_color(chosen.rgba());
}

// ---------------------------------------------------------------------------------------
// Range cell delegate

ui_scan_diagram_deleagte_t::ui_scan_diagram_deleagte_t(QObject* parent)
    : ui_item_delegate_double_t(parent, -1e9, 1e9) {}

QString ui_scan_diagram_deleagte_t::displayText(const QVariant& value, const QLocale&) const {
    return display_text_of(value.toString());
}

QString ui_scan_diagram_deleagte_t::display_text_of(const QString& text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) return QString();
    if (is_overload_either_sign(v)) return "OVERLOAD";
    const plib_si_scaled_t scaled = si_auto_scale(v);
    return QString::number(scaled.value, 'g', 6) + QString::fromStdString(si_prefix_text(scaled.index));
}

// ---------------------------------------------------------------------------------------
// Configuration area

ui_scan_diagram_config_widget_t::ui_scan_diagram_config_widget_t(QWidget* parent, cfg_main_t* cfg,
                                                                 int channel_count)
    : QFrame(parent), m_pcfg(cfg), m_channel_count(std::max(0, channel_count)) {
    setObjectName("scan_diagram_config_widget");
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(5);
    layout->setContentsMargins(5, 5, 5, 5);
    auto* left = new QVBoxLayout();
    left->setSpacing(5);
    left->addWidget(_create_time_group());
    // The value axis reads the selected channel (its row or its curve clicked); with
    // this on, every channel of that channel's function is drawn against one scale.
    m_pcommon_axis_box = new QCheckBox("Common axis per function", this);
    m_pcommon_axis_box->setObjectName("scan_diagram_common_axis_box");
    m_pcommon_axis_box->setToolTip(
        "Channels measuring the same function as the selected channel share its value axis.\n"
        "Select a channel by clicking its row or its curve.");
    connect(m_pcommon_axis_box, &QCheckBox::toggled, this, &ui_scan_diagram_config_widget_t::signal_change_common_axis);
    left->addWidget(m_pcommon_axis_box);
    left->addStretch(1);
    layout->addLayout(left);
    _create_table();
    layout->addWidget(m_ptable);
    connect(m_ptable, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (row >= 0) emit signal_select_channel(row + 1);
    });
}

QWidget* ui_scan_diagram_config_widget_t::_create_time_group() {
    auto* group = new QGroupBox("Time Display", this);
    group->setObjectName("record_config_groupbox");
    group->setFixedSize(300, 200);
    auto* layout = new QVBoxLayout(group);

    auto* mode_row = new QHBoxLayout();
    m_pauto_btn = new QRadioButton("Auto", group);
    m_pmanual_btn = new QRadioButton("Manual", group);
    m_pmode_group = new QButtonGroup(group);
    m_pmode_group->addButton(m_pauto_btn, scan_trend_display_auto);
    m_pmode_group->addButton(m_pmanual_btn, scan_trend_display_manual);
    mode_row->addWidget(m_pauto_btn);
    mode_row->addWidget(m_pmanual_btn);
    layout->addLayout(mode_row);

    m_pmanual_panel = new QWidget(group);
    QSizePolicy keep = m_pmanual_panel->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_pmanual_panel->setSizePolicy(keep);
    auto* grid = new QGridLayout(m_pmanual_panel);
    grid->setContentsMargins(0, 0, 0, 0);
    m_pstart_edit = new ui_time_edit_widget_t(m_pmanual_panel, true);
    m_pstart_edit->setObjectName("scan_diagram_start_edit");
    m_pend_edit = new ui_time_edit_widget_t(m_pmanual_panel, true);
    m_pend_edit->setObjectName("scan_diagram_end_edit");
    for (ui_time_edit_widget_t* e : {m_pstart_edit, m_pend_edit}) e->set_maximum(max_hours, 59, 59);
    grid->addWidget(new QLabel("Start:", m_pmanual_panel), 0, 0);
    grid->addWidget(m_pstart_edit, 0, 1);
    grid->addWidget(new QLabel("End:", m_pmanual_panel), 1, 0);
    grid->addWidget(m_pend_edit, 1, 1);
    auto* apply_row = new QHBoxLayout();
    apply_row->addStretch();
    m_papply_btn = new QPushButton("Apply", m_pmanual_panel);
    m_papply_btn->setObjectName("measure_diagram_apply_btn");
    apply_row->addWidget(m_papply_btn);
    grid->addLayout(apply_row, 2, 0, 1, 2);
    layout->addWidget(m_pmanual_panel);

    connect(m_pmode_group, &QButtonGroup::idToggled, this, &ui_scan_diagram_config_widget_t::_on_mode_button);
    connect(m_papply_btn, &QPushButton::clicked, this, [this] {
        emit signal_change_disp_period(m_pstart_edit->get_seconds(), m_pend_edit->get_seconds());
    });
    return group;
}

void ui_scan_diagram_config_widget_t::_create_table() {
    m_ptable = new QTableWidget(m_channel_count, col_count, this);
    m_ptable->setObjectName("scan_channel_config_widget");
    m_ptable->setEditTriggers(QAbstractItemView::DoubleClicked);
    m_ptable->setSelectionMode(QAbstractItemView::NoSelection);
    m_ptable->setFocusPolicy(Qt::NoFocus);
    m_ptable->setShowGrid(true);
    m_ptable->setHorizontalHeaderLabels(column_titles);
    QHeaderView* header = m_ptable->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionsClickable(false);
    header->setFocusPolicy(Qt::NoFocus);
    header->setMinimumSectionSize(75);
    m_ptable->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_ptable->verticalHeader()->setVisible(false);
    m_ptable->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_ptable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* delegate = new ui_scan_diagram_deleagte_t(m_ptable);
    m_ptable->setItemDelegateForColumn(col_upper, delegate);
    m_ptable->setItemDelegateForColumn(col_lower, delegate);

    for (int row = 0; row < m_channel_count; ++row) _create_row(row);
    for (int row = 0; row < m_channel_count; ++row) m_ptable->setRowHidden(row, true);

    connect(m_ptable, &QTableWidget::cellDoubleClicked, this,
            &ui_scan_diagram_config_widget_t::_on_cell_double_clicked);
    connect(m_ptable, &QTableWidget::itemChanged, this, &ui_scan_diagram_config_widget_t::_on_item_changed);
}

void ui_scan_diagram_config_widget_t::_create_row(int row) {
    const int ch = row + 1;
    auto* name = new QLabel(QString::number(ch));
    name->setTextFormat(Qt::PlainText);
    auto* measurement = new QLabel(QString::number(ch));
    auto* visible = new QCheckBox();
    auto* color = new ui_scan_diagram_color_btn_t();
    auto* line = new QComboBox();
    for (const combo_entry_t& e : line_entries) line->addItem(e.text, e.data);
    auto* symbol = new QComboBox();
    for (const combo_entry_t& e : symbol_entries) symbol->addItem(e.text, e.data);
    for (QComboBox* combo : {line, symbol}) {
        combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    }
    auto* auto_range = new QCheckBox();

    m_ptable->setCellWidget(row, col_name, centred(name));
    m_ptable->setCellWidget(row, col_measurement, centred(measurement));
    m_ptable->setCellWidget(row, col_visible, centred(visible));
    m_ptable->setCellWidget(row, col_color, centred(color));
    m_ptable->setCellWidget(row, col_line, line);
    m_ptable->setCellWidget(row, col_symbol, symbol);
    m_ptable->setCellWidget(row, col_auto_range, centred(auto_range));

    auto make_item = [](Qt::ItemFlags flags) {
        auto* item = new QTableWidgetItem();
        item->setTextAlignment(Qt::AlignCenter);
        item->setFlags(flags);
        return item;
    };
    auto* upper = make_item(Qt::NoItemFlags);
    auto* lower = make_item(Qt::NoItemFlags);
    auto* data = make_item(Qt::ItemIsEnabled);
    {
        const QSignalBlocker block(m_ptable);
        m_ptable->setItem(row, col_upper, upper);
        m_ptable->setItem(row, col_lower, lower);
        m_ptable->setItem(row, col_data, data);
    }

    m_name_labels << name;
    m_measurement_labels << measurement;
    m_visible_boxes << visible;
    m_color_btns << color;
    m_line_combos << line;
    m_symbol_combos << symbol;
    m_auto_range_boxes << auto_range;
    m_upper_items << upper;
    m_lower_items << lower;
    m_data_items << data;

    connect(visible, &QCheckBox::toggled, this, [this, ch](bool on) { emit signal_change_visible(ch, on); });
    connect(color, &ui_scan_diagram_color_btn_t::signal_color_change, this,
            [this, ch](QRgb c) { emit signal_change_color(ch, c); });
    connect(line, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, ch, line](int) {
        emit signal_change_line_pattern(ch, static_cast<Qt::PenStyle>(line->currentData().toInt()));
    });
    connect(symbol, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, ch, symbol](int) {
        emit signal_change_symbol_pattern(ch, static_cast<QwtSymbol::Style>(symbol->currentData().toInt()));
    });
    connect(auto_range, &QCheckBox::toggled, this, [this, row](bool on) { _on_auto_range(row, on); });
}

// ---------------------------------------------------------------------------------------
// Loading and programmatic writes (none of them is an edit)

void ui_scan_diagram_config_widget_t::load(const QVector<ui_scan_diagram_row_t>& rows, int display_mode,
                                           double start, double end) {
    const QSignalBlocker block_this(this);
    const QSignalBlocker block_table(m_ptable);
    const int n = std::min(m_channel_count, static_cast<int>(rows.size()));
    for (int row = 0; row < n; ++row) {
        const ui_scan_diagram_row_t& r = rows[row];
        m_ptable->setRowHidden(row, !r.valid);
        m_name_labels[row]->setText(r.name);
        m_measurement_labels[row]->setText(r.measurement);
        m_visible_boxes[row]->setChecked(r.visible);
        m_color_btns[row]->set_color(r.color);
        select_data(m_line_combos[row], r.line_pattern);
        select_data(m_symbol_combos[row], r.symbol_pattern);
        m_auto_range_boxes[row]->setChecked(r.auto_range);
        _set_range_cells_editable(row, !r.auto_range);
        m_upper_items[row]->setText(QString("%1").arg(r.upper, 0, 'f', 5));
        m_lower_items[row]->setText(QString("%1").arg(r.lower, 0, 'f', 5));
    }
    const bool manual = display_mode == scan_trend_display_manual;
    (manual ? m_pmanual_btn : m_pauto_btn)->setChecked(true);
    if (manual) {
        m_pstart_edit->set_seconds(start);
        m_pend_edit->set_seconds(end);
    }
    m_pmanual_panel->setVisible(manual);
}

void ui_scan_diagram_config_widget_t::set_row_texts(int ch, const QString& name, const QString& measurement) {
    if (ch < 1 || ch > m_channel_count) return;
    m_name_labels[ch - 1]->setText(name);
    m_measurement_labels[ch - 1]->setText(measurement);
}

void ui_scan_diagram_config_widget_t::set_row_shown(int ch, bool shown) {
    if (ch < 1 || ch > m_channel_count) return;
    m_ptable->setRowHidden(ch - 1, !shown);
}

void ui_scan_diagram_config_widget_t::set_data_text(int ch, const QString& text) {
    if (ch < 1 || ch > m_channel_count) return;
    const QSignalBlocker block(m_ptable);
    m_data_items[ch - 1]->setText(text);
}

void ui_scan_diagram_config_widget_t::slot_show_selected_channel(int ch) {
    if (ch < 1 || ch > m_ptable->rowCount()) return;
    const QSignalBlocker block(m_ptable);
    m_ptable->setCurrentCell(ch - 1, col_name);
    m_ptable->scrollToItem(m_ptable->item(ch - 1, col_upper));
}

void ui_scan_diagram_config_widget_t::slot_update_range(int ch, double upper, double lower) {
    if (ch < 1 || ch > m_channel_count) return;
    const QSignalBlocker block(m_ptable);
    m_upper_items[ch - 1]->setText(QString::number(upper));
    m_lower_items[ch - 1]->setText(QString::number(lower));
}

QString ui_scan_diagram_config_widget_t::name_text(int ch, const std::string& name) {
    QString text = QString::number(ch);
    if (!name.empty()) text += "<" + QString::fromStdString(name) + ">";
    return text;
}

QString ui_scan_diagram_config_widget_t::data_text(double value, int func) {
    if (!std::isfinite(value)) return QString();
    if (is_overload_either_sign(value)) {
        return func == measure_cont || func == measure_diode ? QString("OPEN") : QString("OVERLOAD");
    }
    const plib_si_scaled_t scaled = si_auto_scale(value);
    return QString::number(scaled.value, 'f', 5) + QString::fromStdString(si_prefix_text(scaled.index));
}

// ---------------------------------------------------------------------------------------
// User reactions

void ui_scan_diagram_config_widget_t::_show_stored_period() {
    if (m_pcfg == nullptr) return;
    double start = 0.0;
    double end = 0.0;
    m_pcfg->get_scan_display_period(start, end);
    m_pstart_edit->set_seconds(start);
    m_pend_edit->set_seconds(end);
}

void ui_scan_diagram_config_widget_t::_on_mode_button(int id, bool checked) {
    if (!checked) return;
    if (id == scan_trend_display_manual) {
        m_pmanual_panel->show();
        _show_stored_period();
    } else {
        m_pmanual_panel->hide();
    }
    emit signal_change_disp_mode(static_cast<plib_scan_trend_display_mode_t>(id));
}

void ui_scan_diagram_config_widget_t::_set_range_cells_editable(int row, bool editable) {
    const Qt::ItemFlags flags = editable ? Qt::ItemIsEnabled | Qt::ItemIsEditable : Qt::NoItemFlags;
    const QSignalBlocker block(m_ptable);
    m_upper_items[row]->setFlags(flags);
    m_lower_items[row]->setFlags(flags);
}

void ui_scan_diagram_config_widget_t::_on_auto_range(int row, bool checked) {
    _set_range_cells_editable(row, !checked);
    emit signal_change_auto_range(row + 1, checked);
}

void ui_scan_diagram_config_widget_t::_on_cell_double_clicked(int row, int column) {
    if (column != col_upper && column != col_lower) return;
    QTableWidgetItem* item = m_ptable->item(row, column);
    if (item != nullptr) m_edit_text = item->text();
}

void ui_scan_diagram_config_widget_t::_on_item_changed(QTableWidgetItem* item) {
    const int column = item->column();
    const int row = item->row();
    if ((column != col_upper && column != col_lower) || row < 0 || row >= m_channel_count) return;
    auto put_back = [&] {
        const QSignalBlocker block(m_ptable);
        item->setText(m_edit_text);
    };
    bool ok = false;
    item->text().trimmed().toDouble(&ok);
    // Empty (or, with a half-typed "-", no number at all): the text from before the edit.
    if (!ok) put_back();
    bool upper_ok = false;
    bool lower_ok = false;
    const double upper = m_upper_items[row]->text().trimmed().toDouble(&upper_ok);
    const double lower = m_lower_items[row]->text().trimmed().toDouble(&lower_ok);
    if (upper_ok && lower_ok && lower > upper) {
        put_back();
        return;
    }
    if (!upper_ok || !lower_ok) return;
    if (!m_auto_range_boxes[row]->isChecked()) emit signal_change_range(row + 1, upper, lower);
}
