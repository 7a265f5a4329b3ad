// Change-address dialog of a device item: a typed IPv4 address or a searched resource.
// Modal, deleted on close; the item does the disconnect, rebind and reconnect.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;

class ui_device_change_addr_dialog_t : public QDialog {
    Q_OBJECT
public:
    static constexpr int page_address = 0;
    static constexpr int page_list = 1;

    explicit ui_device_change_addr_dialog_t(QWidget* parent);

    QString resource() const { return m_resource; }
    int current_page() const;
    QLineEdit* address_edit() const { return m_addr_edit; }
    QListWidget* resource_list() const { return m_res_list; }
    QPushButton* scan_button() const { return m_scan_btn; }
    QPushButton* ok_button() const { return m_ok_btn; }

signals:
    void signal_change_device_res(QString ip_res);

private slots:
    void slot_update_res_list(std::vector<std::string> res_list);

private:
    void _toggle_page();
    void _ok();

    QString m_resource;
    QStackedWidget* m_pages = nullptr;
    QLineEdit* m_addr_edit = nullptr;
    QListWidget* m_res_list = nullptr;
    QPushButton* m_scan_btn = nullptr;
    QPushButton* m_ok_btn = nullptr;
};
