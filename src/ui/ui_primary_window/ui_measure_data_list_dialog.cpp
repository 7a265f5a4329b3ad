#include "ui/ui_primary_window/ui_measure_data_list_dialog.h"

ui_measure_data_list_dialog_t::ui_measure_data_list_dialog_t(QWidget* parent, plib_mngr_t* mngr) : QDialog(parent), m_pmngr(mngr) {
    setAttribute(Qt::WA_DeleteOnClose);
}
