// Add-device dialog: the model first, then the address (typed IPv4 or picked from a
// resource search). Modal, deleted on close.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QStackedLayout;
class QToolButton;

class ui_add_device_dialog_t : public QDialog {
    Q_OBJECT
public:
    static constexpr int page_model = 0;
    static constexpr int page_address = 1;
    static constexpr int page_search = 2;

    explicit ui_add_device_dialog_t(QWidget* parent = nullptr);

    QString model() const { return m_model; }
    QString resource() const { return m_resource; }
    int current_page() const;

    QToolButton* model_button() const { return m_model_btn; }
    QPushButton* new_addr_button() const { return m_new_addr_btn; }
    QPushButton* scan_res_button() const { return m_scan_res_btn; }
    QLineEdit* address_edit() const { return m_addr_edit; }
    QPushButton* address_ok_button() const { return m_addr_ok_btn; }
    QPushButton* address_back_button() const { return m_addr_back_btn; }
    QListWidget* resource_list() const { return m_res_list; }
    QPushButton* search_ok_button() const { return m_search_ok_btn; }
    QPushButton* search_back_button() const { return m_search_back_btn; }

signals:
    void signal_add_device(QString model, QString res);

private slots:
    void slot_update_res_list(std::vector<std::string> res_list);

private:
    QWidget* _create_model_page();
    QWidget* _create_address_page();
    QWidget* _create_search_page();
    void _select_model(const QString& model);
    void _address_ok();
    void _search_ok();

    QString m_model;
    QString m_resource;
    QStackedLayout* m_stack = nullptr;

    QToolButton* m_model_btn = nullptr;
    QPushButton* m_new_addr_btn = nullptr;
    QPushButton* m_scan_res_btn = nullptr;
    QLineEdit* m_addr_edit = nullptr;
    QPushButton* m_addr_ok_btn = nullptr;
    QPushButton* m_addr_back_btn = nullptr;
    QListWidget* m_res_list = nullptr;
    QPushButton* m_search_ok_btn = nullptr;
    QPushButton* m_search_back_btn = nullptr;
};

// The list texts shared by both address dialogs.
void ui_fill_resource_list(QListWidget* list, const std::vector<std::string>& res_list);
void ui_reset_resource_list(QListWidget* list);
// Shows beside each listed resource who answered there (labels[i] for res_list[i]; an
// empty label changes nothing). The item's resource string stays what OK takes.
void ui_label_resource_list(QListWidget* list, const std::vector<std::string>& res_list,
                            const std::vector<std::string>& labels);
// The resource string of a list entry; empty for the waiting and "nothing found" lines.
QString ui_resource_of(const QListWidgetItem* item);

// Texts must never be clipped by a size chosen for another font: the button keeps w x h as
// its least size and grows to its text (style sheet padding included).
void ui_fit_button(QAbstractButton* button, int w, int h);
// Keeps the dynamic property "empty" of a line edit in step with its text, so that the
// style sheet can dim the placeholder (Qt 5 offers no placeholder colour in style sheets).
void ui_track_empty_line_edit(QLineEdit* edit);
// A dialog that is not resizable by the user: at least `minimum`, and as large as its
// layout needs for the fonts in use (word-wrapped labels included).
void ui_fit_fixed_size(QDialog* dialog, const QSize& minimum);
