// VISA's vocabulary: its types, completion and error codes, attribute numbers and
// other constants, and the names and texts of the status values. Everything in the
// VISA layer below the entry points (resource manager, sessions, the system-library
// loader) uses this header only; callers of the entry points include visa/visa.h.
#pragma once

#include <cstdint>

namespace visa {

using ViInt32 = int32_t;
using ViUInt32 = uint32_t;
using ViUInt16 = uint16_t;
using ViUInt8 = uint8_t;
using ViBoolean = ViUInt16;
using ViStatus = ViInt32;
using ViObject = ViUInt32;
using ViSession = ViUInt32;
using ViFindList = ViUInt32;
using ViAttr = ViUInt32;
using ViAttrState = uint64_t;
using ViAccessMode = ViUInt32;
using ViChar = char;
using ViByte = unsigned char;
using ViBuf = ViByte*;
using ViConstBuf = const ViByte*;
using ViRsrc = char*;
using ViConstRsrc = const char*;
using ViConstString = const char*;

// Completion codes.
constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;

// Error codes.
constexpr ViStatus VI_ERROR_SYSTEM_ERROR = static_cast<ViStatus>(0xBFFF0000U);
constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000EU);
constexpr ViStatus VI_ERROR_RSRC_LOCKED = static_cast<ViStatus>(0xBFFF000FU);
constexpr ViStatus VI_ERROR_INV_EXPR = static_cast<ViStatus>(0xBFFF0010U);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011U);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012U);
constexpr ViStatus VI_ERROR_INV_ACC_MODE = static_cast<ViStatus>(0xBFFF0013U);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015U);
constexpr ViStatus VI_ERROR_CLOSING_FAILED = static_cast<ViStatus>(0xBFFF0016U);
constexpr ViStatus VI_ERROR_ATTR_READONLY = static_cast<ViStatus>(0xBFFF001CU);
constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001DU);
constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = static_cast<ViStatus>(0xBFFF001EU);
constexpr ViStatus VI_ERROR_ABORT = static_cast<ViStatus>(0xBFFF0030U);
constexpr ViStatus VI_ERROR_ALLOC = static_cast<ViStatus>(0xBFFF003CU);
constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003EU);
constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067U);
constexpr ViStatus VI_ERROR_RSRC_BUSY = static_cast<ViStatus>(0xBFFF0072U);
constexpr ViStatus VI_ERROR_INV_PARAMETER = static_cast<ViStatus>(0xBFFF0078U);
constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = static_cast<ViStatus>(0xBFFF009EU);
constexpr ViStatus VI_ERROR_INTF_NUM_NCONFIG = static_cast<ViStatus>(0xBFFF00A5U);
constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6U);

// Attributes of instrument sessions.
constexpr ViAttr VI_ATTR_SEND_END_EN = 0x3FFF0016;      // ViBoolean, default VI_TRUE
constexpr ViAttr VI_ATTR_TERMCHAR = 0x3FFF0018;         // ViUInt8, default 0x0A
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;        // ViUInt32 ms, default 2000
constexpr ViAttr VI_ATTR_SUPPRESS_END_EN = 0x3FFF0036;  // ViBoolean, default VI_FALSE
constexpr ViAttr VI_ATTR_TERMCHAR_EN = 0x3FFF0038;      // ViBoolean, default VI_FALSE (VI_TRUE for SOCKET)
constexpr ViAttr VI_ATTR_INTF_TYPE = 0x3FFF0171;        // ViUInt16, read-only
constexpr ViAttr VI_ATTR_INTF_NUM = 0x3FFF0176;         // ViUInt16, read-only

constexpr ViUInt32 VI_NULL = 0;
constexpr ViBoolean VI_FALSE = 0;
constexpr ViBoolean VI_TRUE = 1;
constexpr int VI_FIND_BUFLEN = 256;
constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFU;
constexpr ViAccessMode VI_NO_LOCK = 0;
constexpr ViAccessMode VI_EXCLUSIVE_LOCK = 1;
constexpr ViAccessMode VI_LOAD_CONFIG = 4;
constexpr ViUInt16 VI_INTF_GPIB = 1, VI_INTF_TCPIP = 6, VI_INTF_USB = 7;

// One status value with VISA's own name for it and, for the statuses the link
// describes in its diagnostics, its text (nullptr for the others).
struct status_info_t {
    ViStatus status;
    const char* name;
    const char* text;
};

inline constexpr status_info_t status_table[] = {
    {VI_SUCCESS, "VI_SUCCESS", "success"},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR", nullptr},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT", nullptr},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR", nullptr},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT", "The given session reference is invalid."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED", nullptr},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR", nullptr},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND",
     "Insufficient location information or resource not present in the system."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME",
     "Invalid resource reference specified. Parsing error."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE", nullptr},
    {VI_ERROR_TMO, "VI_ERROR_TMO", nullptr},
    {VI_ERROR_CLOSING_FAILED, "VI_ERROR_CLOSING_FAILED", nullptr},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY", nullptr},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR", nullptr},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE", nullptr},
    {VI_ERROR_ABORT, "VI_ERROR_ABORT", nullptr},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC", "Insufficient system resources to parse the string."},
    {VI_ERROR_IO, "VI_ERROR_IO", nullptr},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER",
     "The given sesn does not support this operation. For VISA, this operation is "
     "supported only by the Default Resource Manager session."},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY", nullptr},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER", nullptr},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND",
     "A code library required by VISA could not be located or loaded."},
    {VI_ERROR_INTF_NUM_NCONFIG, "VI_ERROR_INTF_NUM_NCONFIG",
     "The interface type is valid, but the specified interface number is not configured."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST", nullptr},
};

// VISA's name of a status ("VI_ERROR_TMO"), or nullptr for a value not in the table.
constexpr const char* status_name(ViStatus status) {
    for (const status_info_t& s : status_table)
        if (s.status == status) return s.name;
    return nullptr;
}

// The link's text for a status, or "unknown error"
// for a status it has no text for.
constexpr const char* status_text(ViStatus status) {
    for (const status_info_t& s : status_table)
        if (s.status == status && s.text != nullptr) return s.text;
    return "unknown error";
}

}  // namespace visa
