#include "ui/ui_primary_window/ui_measure_data_list_page_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "common/plib_format.h"
#include "ui/ui_tool_validator.h"

namespace {

QPushButton* make_nav_button(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFixedSize(35, 35);
    // Enter in the page edit must not press an arrow button of the dialog.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

const char* const yellow_caption = "<font style='color:yellow'>%1</font>";

}  // namespace

ui_measure_data_list_page_widget_t::ui_measure_data_list_page_widget_t(QWidget* parent) : QWidget(parent) {
    setObjectName("data_list_page_widget");
    m_first_button = make_nav_button("<<", "data_list_first_button", this);
    m_prev_button = make_nav_button("<", "data_list_prev_button", this);
    m_page_edit = new QLineEdit("1", this);
    m_page_edit->setObjectName("data_list_page_edit");
    m_page_edit->setAlignment(Qt::AlignCenter);
    m_page_edit->setMaximumWidth(80);
    m_next_button = make_nav_button(">", "data_list_next_button", this);
    m_last_button = make_nav_button(">>", "data_list_last_button", this);
    m_count_label = new QLabel(this);
    m_count_label->setObjectName("data_list_count_label");
    m_count_label->setAlignment(Qt::AlignCenter);
    m_run_label = new QLabel(this);
    m_run_label->setObjectName("data_list_run_label");
    m_run_label->setAlignment(Qt::AlignCenter);
    m_validator = new ui_tool_int_validator_t(1, 1, this);
    m_page_edit->setValidator(m_validator);

    auto* row = new QHBoxLayout;
    row->setSpacing(5);
    row->addWidget(m_first_button);
    row->addWidget(m_prev_button);
    row->addWidget(m_page_edit);
    row->addWidget(m_next_button);
    row->addWidget(m_last_button);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(5);
    layout->addLayout(row);
    layout->addWidget(m_count_label);
    layout->addWidget(m_run_label);

    connect(m_first_button, &QPushButton::clicked, this,
            &ui_measure_data_list_page_widget_t::slot_first_page);
    connect(m_prev_button, &QPushButton::clicked, this, &ui_measure_data_list_page_widget_t::slot_prev_page);
    connect(m_next_button, &QPushButton::clicked, this, &ui_measure_data_list_page_widget_t::slot_next_page);
    connect(m_last_button, &QPushButton::clicked, this, &ui_measure_data_list_page_widget_t::slot_last_page);
    connect(m_page_edit, &QLineEdit::editingFinished, this,
            &ui_measure_data_list_page_widget_t::slot_page_edited);
    set_counts(0);
}

int ui_measure_data_list_page_widget_t::page_count_of(int data_num) {
    if (data_num <= 0) return 1;
    return (data_num + page_size - 1) / page_size;
}

QString ui_measure_data_list_page_widget_t::format_record_time(double elapsed_s) {
    const double rounded = std::isfinite(elapsed_s) ? std::round(elapsed_s * 100.0) / 100.0 : 0.0;
    const plib_hms_t hms = split_seconds(rounded);
    return QString("%1:%2:%3")
        .arg(hms.hours, 2, 10, QChar('0'))
        .arg(hms.minutes, 2, 10, QChar('0'))
        .arg(hms.seconds + hms.fraction, 5, 'f', 2, QChar('0'));
}

void ui_measure_data_list_page_widget_t::set_counts(int data_num) {
    m_data_num = data_num < 0 ? 0 : data_num;
    m_page_count = page_count_of(m_data_num);
    m_count_label->setText(QString(yellow_caption).arg("Data num: ") + QString::number(m_data_num) + " | " +
                           QString(yellow_caption).arg("Page num: ") + QString::number(m_page_count));
    m_validator->setRange(1, m_page_count);
}

void ui_measure_data_list_page_widget_t::set_run_info(const plib_record_run_state_info_t& info) {
    m_run_label->setText(QString(yellow_caption).arg("Total Record Num: ") +
                         QString::number(info.total_count) + " | " +
                         QString(yellow_caption).arg("Record Time: ") + format_record_time(info.elapsed_s));
}

int ui_measure_data_list_page_widget_t::current_page() const { return m_page_edit->text().toInt(); }

void ui_measure_data_list_page_widget_t::_go_to(int page) {
    m_page_edit->setText(QString::number(page));
    emit signal_update_data_disp(page);
}

void ui_measure_data_list_page_widget_t::slot_first_page() { _go_to(1); }

void ui_measure_data_list_page_widget_t::slot_prev_page() {
    const int current = current_page();
    if (current >= 2) _go_to(current - 1);
}

void ui_measure_data_list_page_widget_t::slot_next_page() {
    const int current = current_page();
    if (current + 1 <= m_page_count) _go_to(current + 1);
}

void ui_measure_data_list_page_widget_t::slot_last_page() { _go_to(m_page_count); }

void ui_measure_data_list_page_widget_t::slot_page_edited() { _go_to(current_page()); }
