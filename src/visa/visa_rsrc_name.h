// Resource-string grammar, one small type per resource class we serve:
//   TCPIP[board]::host[::LAN device name][::INSTR]     (device name inst0 by default)
//   TCPIP[board]::host::port::SOCKET
//   USB[board]::manufacturer ID::model code::serial[::interface number][::INSTR]
// Keywords match case-insensitively; numbers are decimal or 0x hexadecimal.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace visa {

struct tcpip_instr_name_t {
    uint16_t board = 0;
    std::string host;
    std::string lan_device_name = "inst0";
};

struct tcpip_socket_name_t {
    uint16_t board = 0;
    std::string host;
    uint16_t port = 0;
};

struct usb_instr_name_t {
    uint16_t board = 0;
    uint16_t manufacturer_id = 0;
    uint16_t model_code = 0;
    std::string serial;
    int interface_number = -1;  // -1: not given, the first USBTMC interface
};

using rsrc_name_t = std::variant<tcpip_instr_name_t, tcpip_socket_name_t, usb_instr_name_t>;

// False for anything outside the three grammars above (also for other interface
// types such as GPIB or ASRL, which this layer does not serve).
bool parse_rsrc_name(const std::string& text, rsrc_name_t& out);

// The canonical spelling, as discovery reports it.
std::string format_rsrc_name(const rsrc_name_t& name);

uint16_t rsrc_interface_type(const rsrc_name_t& name);
uint16_t rsrc_board(const rsrc_name_t& name);

}  // namespace visa
