// Validators that repair out-of-range input instead of refusing it: a line edit whose
// text ends outside [bottom, top] gets the nearer limit.
#pragma once

#include <QDoubleValidator>
#include <QIntValidator>

class ui_tool_double_validator_t : public QDoubleValidator {
    Q_OBJECT
public:
    ui_tool_double_validator_t(double bottom, double top, int decimals, QObject* parent = nullptr);
    void fixup(QString& input) const override;
};

class ui_tool_int_validator_t : public QIntValidator {
    Q_OBJECT
public:
    ui_tool_int_validator_t(int bottom, int top, QObject* parent = nullptr);
    void fixup(QString& input) const override;
};
