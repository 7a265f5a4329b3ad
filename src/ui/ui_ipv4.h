// The typed-address check of the address dialogs and the resource string built from it.
#pragma once

#include <QString>

// Dotted-quad IPv4, nothing before or after; leading zeros allowed ("192.168.001.010").
bool ui_is_ipv4_address(const QString& text);
// "TCPIP0::" + address + "::inst0::INSTR", the address exactly as typed.
QString ui_tcpip_resource(const QString& address);
