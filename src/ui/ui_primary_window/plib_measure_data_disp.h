// The four display texts of one reading, handed from the Measure page to the Measure
// Diagram page on the GUI thread.
#pragma once

#include <QMetaType>
#include <QString>

struct plib_measure_data_disp_t {
    QString polarity;  // "+", "-" or empty
    QString value;     // the digit field, "OVERLOAD" or "OPEN"
    QString prefix;    // "p", "n", "u", "m", empty, "k", "M", "G", "T"
    QString unit;
};

Q_DECLARE_METATYPE(plib_measure_data_disp_t)
