#include "ui/ui_item_delegate.h"

#include <QLineEdit>

#include "common/plib_format.h"
#include "ui/ui_tool_validator.h"

ui_item_delegate_str_t::ui_item_delegate_str_t(QObject* parent) : QStyledItemDelegate(parent) {}

QWidget* ui_item_delegate_str_t::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                              const QModelIndex&) const {
    auto* edit = new QLineEdit(parent);
    connect(edit, &QLineEdit::editingFinished, this, &ui_item_delegate_str_t::signal_edit_finish);
    return edit;
}

ui_item_delegate_int_t::ui_item_delegate_int_t(QObject* parent, int lowest, int highest)
    : QStyledItemDelegate(parent), m_lowest(lowest), m_highest(highest) {}

QWidget* ui_item_delegate_int_t::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                              const QModelIndex&) const {
    auto* edit = new QLineEdit(parent);
    edit->setValidator(new ui_tool_int_validator_t(m_lowest, m_highest, edit));
    return edit;
}

ui_item_delegate_double_t::ui_item_delegate_double_t(QObject* parent, double lowest, double highest)
    : QStyledItemDelegate(parent), m_lowest(lowest), m_highest(highest) {}

QWidget* ui_item_delegate_double_t::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                                 const QModelIndex&) const {
    auto* edit = new QLineEdit(parent);
    edit->setValidator(new ui_tool_double_validator_t(m_lowest, m_highest, 10, edit));
    connect(edit, &QLineEdit::editingFinished, this, &ui_item_delegate_double_t::signal_edit_finish);
    return edit;
}

QString ui_item_delegate_double_t::si_prefix_text_of(const QString& typed) {
    bool ok = false;
    const double value = typed.toDouble(&ok);
    if (!ok) return typed;
    const plib_si_scaled_t scaled = si_auto_scale(value);
    return QString::number(scaled.value, 'g', 6) + QString::fromStdString(si_prefix_text(scaled.index));
}

void ui_item_delegate_double_t::setModelData(QWidget* editor, QAbstractItemModel* model,
                                             const QModelIndex& index) const {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (!m_si_prefix_mode || edit == nullptr) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    model->setData(index, si_prefix_text_of(edit->text()), Qt::EditRole);
}
