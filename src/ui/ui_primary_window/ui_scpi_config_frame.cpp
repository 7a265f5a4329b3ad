#include "ui/ui_primary_window/ui_scpi_config_frame.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>
#include <chrono>
#include <string>

#include "cfg/cfg_main.h"
#include "remote/remote_main.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/ui_combo_box.h"
#include "visa/visa_types.h"

const char* const ui_scpi_config_frame_t::separator_text = "- - - - - - - - - - - -";
const char* const ui_scpi_config_frame_t::log_kind_command = "command";
const char* const ui_scpi_config_frame_t::log_kind_reply = "reply";
const char* const ui_scpi_config_frame_t::log_kind_failure = "failure";
const char* const ui_scpi_config_frame_t::log_kind_notice = "notice";

namespace {

const char* const fixed_commands[] = {"*IDN?\\n", "*OPC?\\n", "*RST\\n", "*CLS\\n"};

struct status_entry_t {
    visa::ViStatus status;
    const char* text;
};

// What the statuses a console write or read can end with mean to the user; the names
// come from the VISA layer.
const status_entry_t status_entries[] = {
    {visa::VI_ERROR_SYSTEM_ERROR, "Unknown system error."},
    {visa::VI_ERROR_INV_OBJECT, "The session reference is invalid."},
    {visa::VI_ERROR_RSRC_LOCKED, "The resource is locked by another session."},
    {visa::VI_ERROR_RSRC_NFOUND, "The resource is not present in the system."},
    {visa::VI_ERROR_TMO, "Timeout expired before operation completed."},
    {visa::VI_ERROR_ABORT, "The transfer was aborted."},
    {visa::VI_ERROR_ALLOC, "Insufficient system resources."},
    {visa::VI_ERROR_IO, "Could not perform operation because of an I/O error."},
    {visa::VI_ERROR_NSUP_OPER, "The session does not support this operation."},
    {visa::VI_ERROR_RSRC_BUSY, "The resource is valid but cannot be accessed now."},
    {visa::VI_ERROR_INV_PARAMETER, "A parameter value is invalid."},
    {visa::VI_ERROR_LIBRARY_NFOUND, "A code library required by VISA could not be loaded."},
    {visa::VI_ERROR_CONN_LOST, "The connection to the instrument was lost."},
};

// VISA: negative statuses are errors; warnings and VI_SUCCESS_MAX_CNT completed the call.
bool is_failure(int status) { return status < 0; }

QPushButton* make_button(const QString& text, const char* name, int width, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFixedSize(width, 30);
    return button;
}

}  // namespace

namespace {

const status_entry_t* find_status(int status) {
    for (const status_entry_t& entry : status_entries) {
        if (entry.status == status) return &entry;
    }
    return nullptr;
}

}  // namespace

QString ui_scpi_config_frame_t::status_name(int status) {
    const QString code = QString::asprintf("0x%08X", static_cast<unsigned int>(status));
    const char* name = visa::status_name(status);
    return name != nullptr ? QString("%1 (%2)").arg(name, code) : QString("VISA status %1").arg(code);
}

QString ui_scpi_config_frame_t::status_text(int status) {
    const status_entry_t* entry = find_status(status);
    return entry != nullptr ? QString(entry->text) : QString();
}

QString ui_scpi_config_frame_t::status_message(int status) {
    const QString text = status_text(status);
    return text.isEmpty() ? status_name(status) : status_name(status) + ": " + text;
}

const char* ui_scpi_config_frame_t::_io_name(io_kind_t kind) {
    switch (kind) {
        case io_kind_t::write:
            return "Write";
        case io_kind_t::read:
            return "Read";
        case io_kind_t::query:
            break;
    }
    return "Query";
}

QByteArray ui_scpi_config_frame_t::to_wire(const QString& typed) {
    QString text = typed;
    text.replace("\\n", "\n");
    return text.toUtf8();
}

QString ui_scpi_config_frame_t::to_log(const QByteArray& reply) {
    QString text = QString::fromUtf8(reply);
    text.replace("\n", "\\n");
    return text;
}

ui_scpi_config_frame_t::ui_scpi_config_frame_t(QWidget* parent, ui_device_item_t* item)
    : ui_primary_base_window_t(parent, item) {
    setObjectName("scpi_config_frame");

    m_caption = new QLabel("Select or Enter Command:", this);
    m_caption->setObjectName("scpi_caption_label");
    m_caption->setFixedHeight(28);
    m_history = new ui_combo_box_t(this);
    m_history->setObjectName("scpi_history_box");
    m_history->setFixedSize(300, 26);
    m_history->addItem(separator_text);
    for (const char* command : fixed_commands) m_history->addItem(command);
    m_history->setCurrentIndex(1);
    m_history->set_remembered_index(1);
    m_history->setMaxCount(history_limit);

    m_editor = new QTextEdit(this);
    m_editor->setObjectName("scpi_command_edit");
    // 400 x 200 where there is room; on a small screen (1600 x 900 at 150 %) it gives up
    // height rather than push the window past the screen.
    m_editor->setFixedWidth(400);
    m_editor->setMinimumHeight(80);
    m_editor->setMaximumHeight(200);
    m_editor->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_editor->setAcceptRichText(false);
    m_editor->setPlainText("*IDN?\\n");

    m_write_button = make_button("Write", "scpi_write_button", 80, this);
    m_query_button = make_button("Query", "scpi_query_button", 80, this);
    m_read_button = make_button("Read", "scpi_read_button", 80, this);
    m_clear_button = make_button("Clear Buffer", "scpi_clear_button", 160, this);
    m_busy_label = new QLabel("Waiting for the instrument...", this);
    m_busy_label->setObjectName("scpi_busy_label");
    m_busy_label->hide();

    m_log = new QListWidget(this);
    m_log->setObjectName("scpi_log_list");
    // 600 x 300 where there is room, shorter on a small screen (as the editor).
    m_log->setFixedWidth(600);
    m_log->setMinimumHeight(120);
    m_log->setMaximumHeight(300);
    m_log->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_log->setSelectionMode(QAbstractItemView::NoSelection);

    auto* top_row = new QHBoxLayout;
    top_row->addWidget(m_caption);
    top_row->addWidget(m_history);
    top_row->addStretch();
    auto* button_row = new QHBoxLayout;
    button_row->setSpacing(25);
    button_row->addWidget(m_write_button);
    button_row->addWidget(m_query_button);
    button_row->addWidget(m_read_button);
    button_row->addWidget(m_clear_button);
    button_row->addWidget(m_busy_label);
    button_row->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top_row);
    layout->addWidget(m_editor);
    layout->addLayout(button_row);
    layout->addWidget(m_log);
    layout->addStretch();

    connect(m_history, QOverload<int>::of(&QComboBox::activated), this,
            &ui_scpi_config_frame_t::slot_history_activated);
    connect(m_write_button, &QPushButton::clicked, this, &ui_scpi_config_frame_t::slot_write);
    connect(m_query_button, &QPushButton::clicked, this, &ui_scpi_config_frame_t::slot_query);
    connect(m_read_button, &QPushButton::clicked, this, &ui_scpi_config_frame_t::slot_read);
    connect(m_clear_button, &QPushButton::clicked, this, &ui_scpi_config_frame_t::slot_clear_buffer);
}

ui_scpi_config_frame_t::~ui_scpi_config_frame_t() {
    // A caller must never be left waiting on an engine, and the result of an I/O still in
    // flight must not reach this page: wait for the worker (bounded by the link
    // time-out). Its queued result is discarded with this object's posted events.
    if (m_io_thread.joinable()) m_io_thread.join();
}

void ui_scpi_config_frame_t::slot_history_activated(int index) {
    if (m_history->itemText(index).contains(separator_text)) {
        m_history->setCurrentIndex(m_history->remembered_index());
        return;
    }
    m_editor->setPlainText(m_history->itemText(index));
    m_history->set_remembered_index(index);
}

void ui_scpi_config_frame_t::_add_history(const QString& command) {
    if (m_history->findText(command, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0) return;
    if (m_history->count() >= history_limit) {
        const int separator = m_history->findText(separator_text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (separator > 0) m_history->removeItem(separator - 1);
    }
    m_history->insertItem(0, command);
    m_history->setCurrentIndex(0);
    m_history->set_remembered_index(0);
}

void ui_scpi_config_frame_t::slot_append_notice(const QString& text) {
    _append_log(text, log_kind_notice);
    m_log->scrollToBottom();
}

void ui_scpi_config_frame_t::_append_log(const QString& text, const char* kind) {
    auto* entry = new QLabel(text);
    entry->setObjectName("scpi_log_entry");
    entry->setProperty("log_kind", kind);
    entry->setTextFormat(Qt::PlainText);
    entry->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* item = new QListWidgetItem(m_log);
    item->setData(Qt::UserRole, text);
    m_log->setItemWidget(item, entry);
    // Sized once the style sheet's font and padding for its kind apply (needs its parent).
    entry->ensurePolished();
    item->setSizeHint(entry->sizeHint());
}

void ui_scpi_config_frame_t::slot_write() {
    if (m_busy) return;
    const QString typed = m_editor->toPlainText();
    if (typed.isEmpty()) return;
    _append_log(typed, log_kind_command);
    _add_history(typed);
    _start_io(io_kind_t::write, to_wire(typed));
    m_log->scrollToBottom();
}

void ui_scpi_config_frame_t::slot_query() {
    if (m_busy) return;
    const QString typed = m_editor->toPlainText();
    if (typed.isEmpty()) return;
    _append_log(typed, log_kind_command);
    _add_history(typed);
    _start_io(io_kind_t::query, to_wire(typed));
    m_log->scrollToBottom();
}

void ui_scpi_config_frame_t::slot_read() {
    if (m_busy) return;
    _start_io(io_kind_t::read, QByteArray());
    m_log->scrollToBottom();
}

void ui_scpi_config_frame_t::slot_clear_buffer() { m_log->clear(); }

bool ui_scpi_config_frame_t::_start_io(io_kind_t kind, const QByteArray& command) {
    remote_main_t* remote = mngr() != nullptr ? mngr()->get_remote() : nullptr;
    const cfg_remote_info_t info = cfg() != nullptr ? cfg()->get_info() : cfg_remote_info_t{};
    if (remote == nullptr || !info.connected) {
        _append_log(QString("%1 failed: the instrument is not connected.").arg(_io_name(kind)),
                    log_kind_failure);
        return false;
    }
    // The previous worker has handed over its result already; this only reaps it.
    if (m_io_thread.joinable()) m_io_thread.join();
    _set_busy(true);
    const auto session = static_cast<unsigned long>(info.session);
    const std::string bytes = command.toStdString();
    m_io_thread = std::thread([this, remote, session, kind, bytes] {
        std::string reply;
        int status = 0;
        switch (kind) {
            case io_kind_t::write:
                status = remote->write(session, bytes);
                break;
            // The console's reads do not count toward the link's failure rule: reading an
            // instrument that has nothing to say is the user's question, not a lost link.
            case io_kind_t::read:
                status = remote->console_read(session, reply);
                break;
            case io_kind_t::query:
                status = remote->write(session, bytes);
                if (status >= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    status = remote->console_read(session, reply);
                }
                break;
        }
        const QByteArray data = QByteArray::fromStdString(reply);
        // Queued to the GUI thread; dropped if this page is being destroyed (it joins us first).
        QMetaObject::invokeMethod(
            this, [this, kind, status, data] { _finish_io(kind, status, data); }, Qt::QueuedConnection);
    });
    return true;
}

QString ui_scpi_config_frame_t::completion_note(const QString& operation, int status, int reply_bytes) {
    // A read that ended on the termination character is complete: a plain success.
    if (status <= 0 || status == visa::VI_SUCCESS_TERM_CHAR) return QString();
    if (status == visa::VI_SUCCESS_MAX_CNT)
        return QString("The reply filled the whole read buffer (%1 bytes) and was cut there; "
                       "Read fetches the rest.")
            .arg(reply_bytes);
    return QString("%1 completed with a warning: %2").arg(operation, status_message(status));
}

void ui_scpi_config_frame_t::_finish_io(io_kind_t kind, int status, const QByteArray& reply) {
    if (m_io_thread.joinable()) m_io_thread.join();  // it posted this call as its last act
    _set_busy(false);
    if (is_failure(status)) {
        // Name and explanation on two lines: the log is narrow and must not hide the reason.
        QString text = QString("%1 failed: %2").arg(_io_name(kind), status_name(status));
        if (!status_text(status).isEmpty()) text += "\n" + status_text(status);
        _append_log(text, log_kind_failure);
    } else {
        if (kind != io_kind_t::write) _append_log(to_log(reply), log_kind_reply);
        // A warning is no plain success: say what it means for the reply shown.
        const QString note = completion_note(_io_name(kind), status, reply.size());
        if (!note.isEmpty()) _append_log(note, log_kind_notice);
    }
    m_log->scrollToBottom();
    emit signal_io_finished();
}

void ui_scpi_config_frame_t::_set_busy(bool busy) {
    m_busy = busy;
    m_write_button->setEnabled(!busy);
    m_query_button->setEnabled(!busy);
    m_read_button->setEnabled(!busy);
    m_history->setEnabled(!busy);
    m_busy_label->setVisible(busy);
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}
