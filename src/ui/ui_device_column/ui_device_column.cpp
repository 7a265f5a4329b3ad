#include "ui/ui_device_column/ui_device_column.h"

#include <QFrame>
#include <QMessageBox>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "cfg/cfg_remote.h"
#include "ui/ui_device_column/ui_device_item.h"
#include "ui/ui_device_column/ui_device_jobs.h"

namespace {

// A link still waiting for an absent instrument gives up within its own time-out.
constexpr int column_exit_wait_ms = 30000;

}  // namespace

ui_device_column_t::ui_device_column_t(QWidget* parent) : QScrollArea(parent) {
    m_frame = new QFrame(this);
    m_frame->setObjectName("device_column");
    m_frame->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    m_layout = new QVBoxLayout(m_frame);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(1);
    m_layout->addStretch();
    setWidget(m_frame);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

ui_device_column_t::~ui_device_column_t() {
    for (auto& entry : m_items) delete entry.second;
    m_items.clear();
    // The released instruments disconnect and stop on the job threads; let them finish
    // before the rest of the program goes away.
    ui_device_jobs_t::instance().wait_idle(column_exit_wait_ms);
}

std::vector<ui_device_item_t*> ui_device_column_t::get_device_items() const {
    std::vector<ui_device_item_t*> items;
    items.reserve(m_items.size());
    for (const auto& entry : m_items) items.push_back(entry.second);
    return items;
}

ui_device_item_t* ui_device_column_t::find_item(unsigned index) const {
    const auto it = m_items.find(index);
    return it == m_items.end() ? nullptr : it->second;
}

void ui_device_column_t::slot_add_device(std::string model, std::string res, pugi::xml_node model_node) {
    auto* item = new ui_device_item_t(std::move(model), std::move(res), model_node, m_frame);
    const unsigned index = static_cast<unsigned>(m_next_index++);
    m_items[index] = item;
    item->set_index(index);
    emit signal_create_primary_window(item);
    emit signal_inactivate_all_device_item();
    m_layout->insertWidget(m_layout->count() - 1, item);

    connect(item, &ui_device_item_t::signal_inactivate_all_device_item, this,
            &ui_device_column_t::signal_inactivate_all_device_item);
    connect(this, &ui_device_column_t::signal_inactivate_all_device_item, item,
            &ui_device_item_t::slot_inactivate_myself);
    connect(item, &ui_device_item_t::signal_delete_myself, this, &ui_device_column_t::slot_del_device);
    connect(item, &ui_device_item_t::signal_delete_all, this, &ui_device_column_t::_ask_clear_device);
    connect(item, &ui_device_item_t::signal_show_primary_window, this,
            &ui_device_column_t::_show_item_window);
    connect(item, &ui_device_item_t::signal_show_warning_message, this, &ui_device_column_t::_show_warning);
}

void ui_device_column_t::slot_add_device_by_hand(std::string model, std::string res,
                                                 pugi::xml_node model_node) {
    const unsigned index = static_cast<unsigned>(m_next_index);
    slot_add_device(model, res, model_node);
    ui_device_item_t* item = find_item(index);
    if (item == nullptr) return;
    // The first connect runs in the background; its answer is said when it comes: an
    // address where nothing answers, or something that is not the chosen model.
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(item, &ui_device_item_t::signal_connect_finished, this,
                    [this, item, once, model, res](int status) {
                        QObject::disconnect(*once);
                        if (status == cfg_remote_t::result_not_the_model ||
                            status == cfg_remote_t::result_visa_failed)
                            _say_connect_failed(item, model, res);
                    });
}

void ui_device_column_t::_say_connect_failed(ui_device_item_t* item, const std::string& model,
                                             const std::string& res) {
    const QString found = item->last_found_identity();
    const QString answer = found.isEmpty() ? QString("The instrument there gave no readable identification.")
                                           : QString("The instrument there answers as %1.").arg(found);
    const QString details = QString("Chosen model: %1\nResource: %2\n%3")
                                .arg(QString::fromStdString(model), QString::fromStdString(res), answer);
    std::printf("%s: %s %s\n", res.c_str(), item->last_connect_warning().toUtf8().constData(),
                item->last_connect_warning_details().toUtf8().constData());
    std::fflush(stdout);
    QMessageBox box(QMessageBox::Information, "Warning", item->last_connect_warning(), QMessageBox::Ok, this);
    box.setInformativeText(item->last_connect_warning_details());
    box.setDetailedText(details);
    box.exec();
}

void ui_device_column_t::_show_item_window(unsigned index) {
    ui_device_item_t* item = find_item(index);
    if (item != nullptr) emit signal_show_bound_primary_window(item);
}

void ui_device_column_t::_show_warning(const QString& text) {
    // A connect warning names the address and what went wrong below its headline.
    auto* item = qobject_cast<ui_device_item_t*>(sender());
    QMessageBox box(QMessageBox::Information, "Warning", text, QMessageBox::Ok, this);
    if (item != nullptr && item->last_connect_warning() == text)
        box.setInformativeText(item->last_connect_warning_details());
    box.exec();
}

// The item may be the sender of the signal being handled (its context menu): its
// instrument is released now, the widget itself is deleted once control is back in
// the event loop.
static void remove_item(QVBoxLayout* layout, ui_device_item_t* item) {
    layout->removeWidget(item);
    item->hide();
    item->release_instrument();
    item->deleteLater();
}

void ui_device_column_t::slot_del_device(unsigned index) {
    const auto it = m_items.find(index);
    if (it == m_items.end()) return;
    ui_device_item_t* item = it->second;
    emit signal_delete_primary_window(item);
    if (item->is_active()) emit signal_show_home_window();
    m_items.erase(it);
    remove_item(m_layout, item);
}

void ui_device_column_t::slot_clear_device() {
    for (auto& entry : m_items) {
        emit signal_delete_primary_window(entry.second);
        remove_item(m_layout, entry.second);
    }
    m_items.clear();
}

void ui_device_column_t::_ask_clear_device() {
    const auto answer = QMessageBox::question(this, "Tips", "Are you sure to delete ALL device?",
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) slot_clear_device();
}
