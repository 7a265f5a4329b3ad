// The built-in resource manager: the ten VISA calls served by our own transports.
// visa.cpp forwards to these unless a system VISA library is in use.
#pragma once

#include <cstddef>

#include "visa/visa_types.h"

namespace visa {
namespace builtin {

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

// Number of live objects (resource managers, find lists, instrument sessions), for tests.
size_t open_object_count();

}  // namespace builtin
}  // namespace visa
