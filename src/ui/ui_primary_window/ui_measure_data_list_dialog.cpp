#include "ui/ui_primary_window/ui_measure_data_list_dialog.h"

#include <QHeaderView>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>

#include "acq/acq_main.h"
#include "common/plib_format.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_primary_window/ui_measure_data_list_page_widget.h"
#include "ui/ui_primary_window/ui_measure_format.h"
#include "cfg/cfg_main.h"

ui_measure_data_list_dialog_t::ui_measure_data_list_dialog_t(QWidget* parent, plib_mngr_t* mngr)
    : QDialog(parent), m_pmngr(mngr), m_pacq(mngr != nullptr ? mngr->get_acq() : nullptr) {
    _build();
}

ui_measure_data_list_dialog_t::ui_measure_data_list_dialog_t(QWidget* parent, acq_main_t* acq)
    : QDialog(parent), m_pacq(acq) {
    _build();
}

void ui_measure_data_list_dialog_t::_build() {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Data List");
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setFixedSize(500, 600);
    setModal(false);

    m_table = new QTableWidget(page_size, 2, this);
    m_table->setObjectName("data_list_widget");
    m_table->setHorizontalHeaderLabels({"Value", "Time(s)"});
    for (int row = 0; row < page_size; ++row) {
        for (int column = 0; column < 2; ++column) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            m_table->setItem(row, column, item);
        }
        m_table->setRowHidden(row, true);
    }
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setCornerButtonEnabled(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->verticalHeader()->setMinimumWidth(50);
    m_table->verticalHeader()->setMaximumWidth(80);
    m_table->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_page_widget = new ui_measure_data_list_page_widget_t(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_page_widget);

    _refresh();
    connect(m_page_widget, &ui_measure_data_list_page_widget_t::signal_update_data_disp, this,
            &ui_measure_data_list_dialog_t::slot_update_data_disp);
}

void ui_measure_data_list_dialog_t::_refresh() {
    if (m_pacq != nullptr) m_pacq->m_acq_record_run_state_info_msg.fetch(m_run_info);
    m_page_widget->set_run_info(m_run_info);

    unsigned int num = 0;
    if (m_pacq != nullptr) m_pacq->m_acq_original_data_num_msg.fetch(num);
    m_data_num = num > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(num);
    m_page_widget->set_counts(m_data_num);

    if (m_data_num != 0) slot_update_data_disp(1);
}

void ui_measure_data_list_dialog_t::slot_update_data_disp(int page) {
    // Pages are bounded by the readings in the buffer, not by the run's total: once the
    // keep-latest mode has dropped old readings the total is larger than the buffer,
    // and a request reaching past its end would come back empty.
    if (page <= 0 || m_data_num == 0) return;
    const uint64_t start = static_cast<uint64_t>(page_size) * static_cast<uint64_t>(page - 1);
    if (start >= static_cast<uint64_t>(m_data_num)) return;
    const uint64_t count = std::min<uint64_t>(page_size, static_cast<uint64_t>(m_data_num) - start);
    _show_page(start, count);
}

QString ui_measure_data_list_dialog_t::format_value(double value) {
    if (!std::isfinite(value)) return QString();
    if (is_overload(std::fabs(value))) return "OVERLOAD";
    const plib_si_scaled_t scaled = si_auto_scale(value);
    return QString::number(scaled.value, 'f', 6) + QString::fromStdString(si_prefix_text(scaled.index));
}

void ui_measure_data_list_dialog_t::_show_page(uint64_t start, uint64_t count) {
    plib_acq_selected_data_list_t slice;
    slice.start = start;
    slice.count = count;
    // A slice no longer in the buffer (cleared or restarted since opening) stays empty.
    if (m_pacq != nullptr) m_pacq->m_acq_selected_data_list_msg.fetch(slice);

    // The value cells show the number as stored; the tooltip adds the unit.
    QString unit;
    if (m_pmngr != nullptr && m_pmngr->get_cfg() != nullptr) {
        const cfg_main_t* cfg = m_pmngr->get_cfg();
        unit = ui_measure_unit_text(static_cast<plib_measure_type_t>(cfg->get_function()), false,
                                    cfg->get_temp_display(), cfg->get_temp_unit());
    }
    QStringList labels;
    for (int row = 0; row < page_size; ++row) {
        const auto index = static_cast<std::size_t>(row);
        if (index >= slice.data.size()) {
            m_table->setRowHidden(row, true);
            continue;
        }
        const plib_data_t& reading = slice.data[index];
        m_table->setRowHidden(row, false);
        m_table->item(row, 0)->setText(format_value(reading.value));
        m_table->item(row, 0)->setToolTip(ui_value_unit_text(reading.value, unit, 10));
        const double seconds = static_cast<double>(reading.timestamp - m_run_info.start_timestamp) / 1e6;
        m_table->item(row, 1)->setText(QString::number(seconds, 'g', 6));
        labels << QString::number(start + index + 1);
    }
    m_table->setVerticalHeaderLabels(labels);
}
