#include "ui/ui_tool_validator.h"

#include <cmath>
#include <limits>

ui_tool_double_validator_t::ui_tool_double_validator_t(double bottom, double top, int decimals,
                                                       QObject* parent)
    : QDoubleValidator(bottom, top, decimals, parent) {}

void ui_tool_double_validator_t::fixup(QString& input) const {
    bool ok = false;
    const double value = input.toDouble(&ok);
    if (!ok) return;  // not a number: nothing sensible to repair
    if (value < bottom()) {
        input = QString("%1").arg(bottom());
    } else if (value > top()) {
        input = QString("%1").arg(top());
    }
}

ui_tool_int_validator_t::ui_tool_int_validator_t(int bottom, int top, QObject* parent)
    : QIntValidator(bottom, top, parent) {}

void ui_tool_int_validator_t::fixup(QString& input) const {
    bool ok = false;
    const double number = input.toDouble(&ok);
    if (!ok || std::isnan(number)) return;
    // Truncate toward zero; clamp first so the conversion to int is always defined.
    const double truncated = std::trunc(number);
    if (truncated < bottom()) {
        input = QString("%1").arg(bottom());
    } else if (truncated > top()) {
        input = QString("%1").arg(top());
    }
}
