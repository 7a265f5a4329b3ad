// The list of instruments on the left of the main window. Owns the device items,
// gives each a never-reused index and tells the main window which instrument window
// to create, show or delete.
#pragma once

#include <QScrollArea>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

class QFrame;
class QVBoxLayout;
class ui_device_item_t;

class ui_device_column_t : public QScrollArea {
    Q_OBJECT
public:
    explicit ui_device_column_t(QWidget* parent = nullptr);
    ~ui_device_column_t() override;

    // The items in index order.
    std::vector<ui_device_item_t*> get_device_items() const;
    ui_device_item_t* find_item(unsigned index) const;
    int next_index() const { return m_next_index; }
    QFrame* column_frame() const { return m_frame; }

signals:
    void signal_inactivate_all_device_item();
    void signal_create_primary_window(ui_device_item_t* dev);
    void signal_delete_primary_window(ui_device_item_t* dev);
    void signal_show_bound_primary_window(ui_device_item_t* dev);
    void signal_show_home_window();

public slots:
    void slot_add_device(std::string model, std::string res, pugi::xml_node model_node);
    // An instrument the user has just added (Add dialog): as slot_add_device, and an
    // instrument of another model is said at once. A recalled project stays quiet.
    void slot_add_device_by_hand(std::string model, std::string res, pugi::xml_node model_node);
    void slot_del_device(unsigned index);
    void slot_clear_device();
    // Asks "Are you sure to delete ALL device?" and clears on Yes.
    void _ask_clear_device();

private:
    void _show_item_window(unsigned index);
    void _show_warning(const QString& text);
    // The box for an instrument added by hand whose first connect failed: nothing
    // answered, no readable identification, or another model (naming what answered).
    void _say_connect_failed(ui_device_item_t* item, const std::string& model, const std::string& res);

    QFrame* m_frame = nullptr;
    QVBoxLayout* m_layout = nullptr;
    std::map<unsigned, ui_device_item_t*> m_items;
    int m_next_index = 1;
};
