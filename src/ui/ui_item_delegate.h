// Item delegates that edit table cells through a (validated) line edit.
#pragma once

#include <QStyledItemDelegate>

class ui_item_delegate_str_t : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ui_item_delegate_str_t(QObject* parent = nullptr);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
signals:
    void signal_edit_finish();
};

class ui_item_delegate_int_t : public QStyledItemDelegate {
    Q_OBJECT
public:
    ui_item_delegate_int_t(QObject* parent, int lowest, int highest);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;

private:
    int m_lowest;
    int m_highest;
};

class ui_item_delegate_double_t : public QStyledItemDelegate {
    Q_OBJECT
public:
    ui_item_delegate_double_t(QObject* parent, double lowest, double highest);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    // Stores edited numbers with the SI prefix that follows their magnitude ("1.5k").
    void set_si_prefix_mode() { m_si_prefix_mode = 1; }
    bool si_prefix_mode() const { return m_si_prefix_mode != 0; }

    // The text stored in SI-prefix mode for a typed number: general format, 6
    // significant digits, then the prefix letter. Unparsable text is returned unchanged.
    static QString si_prefix_text_of(const QString& typed);

signals:
    void signal_edit_finish();

private:
    int m_si_prefix_mode = 0;
    double m_lowest;
    double m_highest;
};
