// A combo box that remembers one chosen index besides its current one.
#pragma once

#include <QComboBox>

class ui_combo_box_t : public QComboBox {
    Q_OBJECT
public:
    explicit ui_combo_box_t(QWidget* parent = nullptr) : QComboBox(parent) {}

    int remembered_index() const { return m_remembered_index; }
    void set_remembered_index(int index) { m_remembered_index = index; }

private:
    int m_remembered_index = -1;
};
