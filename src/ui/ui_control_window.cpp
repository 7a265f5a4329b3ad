#include "ui/ui_control_window.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "cfg/cfg_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_add_device_dialog.h"
#include "ui/ui_device_column/ui_device_column.h"
#include "ui/ui_device_column/ui_device_item.h"

ui_control_window_t::ui_control_window_t(ui_device_column_t* column, QWidget* parent)
    : QDialog(parent), m_pcolumn(column) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setObjectName("control_window");
    setWindowTitle("Instrument Control");
    setFixedSize(600, 450);

    m_table = new QTableWidget(0, 2, this);
    m_table->setObjectName("control_device_list");
    m_table->setHorizontalHeaderLabels({"Device", "Connection"});
    m_table->setColumnWidth(0, 150);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::MultiSelection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->horizontalHeader()->setFocusPolicy(Qt::NoFocus);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->verticalHeader()->setMinimumWidth(50);
    m_table->verticalHeader()->setMaximumWidth(80);
    m_table->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    m_table->setCornerButtonEnabled(false);
    m_table->setStyleSheet("QTableCornerButton:section{background-color: #434242;}");
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_select_btn = new QPushButton("Select All", this);
    ui_fit_button(m_select_btn, 120, 40);
    m_start_btn = new QPushButton("Sync Start", this);
    ui_fit_button(m_start_btn, 120, 40);
    m_stop_btn = new QPushButton("Sync Stop", this);
    ui_fit_button(m_stop_btn, 120, 40);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(5, 5, 5, 5);
    buttons->addWidget(m_select_btn);
    buttons->addWidget(m_start_btn);
    buttons->addWidget(m_stop_btn);

    m_status = new QLabel(this);
    m_status->setObjectName("control_status_label");
    m_status->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 3, 5, 3);
    layout->addWidget(m_table);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_select_btn, &QPushButton::clicked, this, &ui_control_window_t::slot_select_table_item);
    connect(m_start_btn, &QPushButton::clicked, this, &ui_control_window_t::slot_active_selected_device);
    connect(m_stop_btn, &QPushButton::clicked, this, &ui_control_window_t::slot_stop_selected_device);

    _fill_table();
}

void ui_control_window_t::_fill_table() {
    if (m_pcolumn == nullptr) return;
    const std::vector<ui_device_item_t*> items = m_pcolumn->get_device_items();
    m_table->setRowCount(static_cast<int>(items.size()));
    for (int row = 0; row < static_cast<int>(items.size()); ++row) {
        ui_device_item_t* item = items[static_cast<size_t>(row)];
        auto* device = new QTableWidgetItem(QString::fromStdString(item->get_model_name()));
        const std::string& res = item->get_resource();
        auto* connection =
            new QTableWidgetItem(res.empty() ? QString("No connection") : QString::fromStdString(res));
        device->setTextAlignment(Qt::AlignCenter);
        connection->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(row, 0, device);
        m_table->setItem(row, 1, connection);
        m_row_items[row] = item;
    }
}

void ui_control_window_t::slot_select_table_item() {
    if (m_select_all_next) {
        m_table->selectAll();
        m_select_btn->setText("Deselect All");
        m_select_all_next = false;
    } else {
        m_table->clearSelection();
        m_select_btn->setText("Select All");
        m_select_all_next = true;
    }
}

std::vector<ui_device_item_t*> ui_control_window_t::_selected_items() const {
    std::vector<ui_device_item_t*> items;
    for (const auto& entry : m_row_items) {
        QTableWidgetItem* cell = m_table->item(entry.first, 0);
        if (cell != nullptr && cell->isSelected()) items.push_back(entry.second);
    }
    return items;
}

void ui_control_window_t::slot_active_selected_device() { _run_selected(true); }

void ui_control_window_t::slot_stop_selected_device() { _run_selected(false); }

void ui_control_window_t::_run_selected(bool start) {
    if (m_in_flight > 0) return;  // one press at a time: the buttons say so
    m_starting = start;
    m_asked = 0;
    m_measuring = 0;
    m_not_started.clear();
    int queued = 0;
    for (ui_device_item_t* item : _selected_items()) {
        plib_mngr_t* mngr = item->get_mngr();
        cfg_main_t* cfg = mngr != nullptr ? mngr->get_cfg() : nullptr;
        if (cfg == nullptr) continue;
        ++m_asked;
        const QString who = QString("%1 at %2").arg(QString::fromStdString(item->get_model_name()),
                                                     item->get_resource().empty()
                                                         ? QString("no address")
                                                         : QString::fromStdString(item->get_resource()));
        // A start refuses these anyway; saying why here spares a trip to the instrument.
        if (start && !item->is_connected()) {
            m_not_started << who + " (not connected)";
            continue;
        }
        if (start && cfg->get_scan_run_state() != 0) {
            m_not_started << who + " (scanning)";
            continue;
        }
        // The run state the job left, read on the lane once the instrument has answered.
        auto measuring = std::make_shared<int>(0);
        auto job = [start, measuring](cfg_main_t* job_cfg) {
            if (start) {
                job_cfg->restart();  // stops a run first, then starts when connected and not scanning
            } else {
                job_cfg->set_run_state(0);
            }
            *measuring = job_cfg->get_run_state();
            return 0;
        };
        ++queued;
        item->run_setting(this, job, [this, start, measuring, who](int) {
            if (*measuring != 0) ++m_measuring;
            if (start && *measuring == 0) m_not_started << who + " (the instrument did not start)";
            _set_in_flight(m_in_flight - 1);
        });
    }
    _set_in_flight(queued);
}

void ui_control_window_t::_set_in_flight(int count) {
    m_in_flight = count;
    const bool busy = m_in_flight > 0;
    m_start_btn->setEnabled(!busy);
    m_stop_btn->setEnabled(!busy);
    if (busy) {
        setCursor(Qt::BusyCursor);
        m_status->setText(QString(m_starting ? "Starting: waiting for %1 of %2 instruments..."
                                             : "Stopping: waiting for %1 of %2 instruments...")
                              .arg(m_in_flight)
                              .arg(m_asked));
        return;
    }
    unsetCursor();
    _show_outcome();
}

void ui_control_window_t::_show_outcome() {
    if (m_asked == 0) {
        m_status->clear();
        return;
    }
    if (!m_starting) {
        m_status->setText(QString("Stopped %1 of %2 instruments.").arg(m_asked - m_measuring).arg(m_asked));
        return;
    }
    QString text = QString("Measuring: %1 of %2 instruments.").arg(m_measuring).arg(m_asked);
    if (!m_not_started.isEmpty()) text += "\nNot started: " + m_not_started.join("; ") + ".";
    m_status->setText(text);
}
