#include "ui/ui_ipv4.h"

#include <QRegularExpression>

bool ui_is_ipv4_address(const QString& text) {
    // Compiled once; anchoredPattern (\A...\z) refuses a trailing newline that $ would let through.
    static const QRegularExpression re(QRegularExpression::anchoredPattern(
        "((25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9])\\.){3}(25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9])"));
    return re.match(text).hasMatch();
}

QString ui_tcpip_resource(const QString& address) { return "TCPIP0::" + address + "::inst0::INSTR"; }
