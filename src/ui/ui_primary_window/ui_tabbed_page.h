// The strip of page buttons above an instrument's pages: one checkable, auto-exclusive
// button per page, in page order. A button's position is the index of its page in the
// page stack, so the scan buttons, added later, move SCPI from 2 to 4.
#pragma once

#include <QFrame>
#include <QMetaType>
#include <vector>

class QHBoxLayout;
class QToolButton;

// Position of a page button, which is also the index of its page in the page stack.
enum ui_tab_index_t : int {
    tab_index_measure = 0,
    tab_index_measure_diagram = 1,
    tab_index_scan_data = 2,     // with a scanner card
    tab_index_scan_diagram = 3,  // with a scanner card
    tab_index_scpi_with_scan = 4,
    tab_index_scpi_without_scan = 2,
};
Q_DECLARE_METATYPE(ui_tab_index_t)

class ui_tabbed_page_t : public QFrame {
    Q_OBJECT
public:
    ui_tabbed_page_t(QWidget* parent, bool scan_pages);

    // Inserts the "Scan Data" and "Scan Diagram" buttons before "SCPI"; once.
    void add_scan_buttons();
    bool has_scan_buttons() const { return m_scan_data_btn != nullptr; }

signals:
    void signal_change_current_page(ui_tab_index_t index);

private:
    QToolButton* _make_button(const QString& text, const char* object_name);
    void _on_clicked(QToolButton* button);

    QHBoxLayout* m_layout = nullptr;
    QToolButton* m_scan_data_btn = nullptr;
    QToolButton* m_scan_diagram_btn = nullptr;
};
