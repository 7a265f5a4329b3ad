// The ten VISA entry points the link engine calls, served by our built-in layer
// (VXI-11, raw socket, USBTMC) or forwarded to a system VISA library named by
// VELKARO_VISA_LIBRARY. The types and constants they use are in visa/visa_types.h.
//
// The declarations live in namespace `visa` with C++ linkage on purpose: when a
// system VISA shared library is loaded at run time, its C symbols viOpen, viRead...
// must not be interposed by ours (nor ours by its).
//
// All calls are thread-safe: the session table has one lock, each session its own.
#pragma once

#include "visa/visa_types.h"

namespace visa {

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
