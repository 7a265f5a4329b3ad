// The VISA calls the link engine uses, with VISA's own types, status values and
// attribute numbers, served by our built-in layer (VXI-11, raw socket, USBTMC) or
// forwarded to a system VISA library named by VELKARO_VISA_LIBRARY.
//
// The declarations live in namespace `visa` with C++ linkage on purpose: when a
// system VISA shared library is loaded at run time, its C symbols viOpen, viRead...
// must not be interposed by ours (nor ours by its).
//
// All calls are thread-safe: the session table has one lock, each session its own.
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

ViStatus viOpenDefaultRM(ViSession* vi);
ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList* vi, ViUInt32* retCnt, ViChar desc[]);
ViStatus viFindNext(ViFindList vi, ViChar desc[]);
ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViUInt16* intfType, ViUInt16* intfNum);
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViSession* vi);
ViStatus viClose(ViObject vi);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32* retCnt);
ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32* retCnt);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);

}  // namespace visa
