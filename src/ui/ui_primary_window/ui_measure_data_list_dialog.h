// PLACEHOLDER dialog until its own work lands.
#pragma once

#include <QDialog>

class plib_mngr_t;

class ui_measure_data_list_dialog_t : public QDialog {
    Q_OBJECT
public:
    // `mngr` is borrowed and outlives the dialog.
    ui_measure_data_list_dialog_t(QWidget* parent, plib_mngr_t* mngr);

private:
    plib_mngr_t* m_pmngr = nullptr;
};
