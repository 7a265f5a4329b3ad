// The ten VISA entry points: each goes to the system VISA library when one is in
// use, else to the built-in resource manager.
#include "visa/visa.h"

#include "visa/visa_rm.h"
#include "visa/visa_sys_lib.h"

namespace visa {

namespace {
// Runs `sys` on the system library, `own` on the built-in layer, or reports the
// missing library.
template <typename sys_fn_t, typename own_fn_t>
ViStatus dispatch(sys_fn_t sys, own_fn_t own) {
    const sys_visa_api_t* api = nullptr;
    switch (sys_visa_backend(api)) {
        case visa_backend_t::system:
            return sys(*api);
        case visa_backend_t::missing:
            return VI_ERROR_LIBRARY_NFOUND;
        case visa_backend_t::builtin:
            break;
    }
    return own();
}
}  // namespace

ViStatus viOpenDefaultRM(ViSession* vi) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viOpenDefaultRM(vi); },
                    [&] { return builtin::viOpenDefaultRM(vi); });
}

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList* vi, ViUInt32* retCnt, ViChar desc[]) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viFindRsrc(sesn, expr, vi, retCnt, desc); },
                    [&] { return builtin::viFindRsrc(sesn, expr, vi, retCnt, desc); });
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viFindNext(vi, desc); },
                    [&] { return builtin::viFindNext(vi, desc); });
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViUInt16* intfType, ViUInt16* intfNum) {
    return dispatch(
        [&](const sys_visa_api_t& a) { return a.viParseRsrc(rmSesn, rsrcName, intfType, intfNum); },
        [&] { return builtin::viParseRsrc(rmSesn, rsrcName, intfType, intfNum); });
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViSession* vi) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viOpen(sesn, name, mode, timeout, vi); },
                    [&] { return builtin::viOpen(sesn, name, mode, timeout, vi); });
}

ViStatus viClose(ViObject vi) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viClose(vi); },
                    [&] { return builtin::viClose(vi); });
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32* retCnt) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viWrite(vi, buf, cnt, retCnt); },
                    [&] { return builtin::viWrite(vi, buf, cnt, retCnt); });
}

ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32* retCnt) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viRead(vi, buf, cnt, retCnt); },
                    [&] { return builtin::viRead(vi, buf, cnt, retCnt); });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viSetAttribute(vi, attrName, attrValue); },
                    [&] { return builtin::viSetAttribute(vi, attrName, attrValue); });
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    return dispatch([&](const sys_visa_api_t& a) { return a.viGetAttribute(vi, attrName, attrValue); },
                    [&] { return builtin::viGetAttribute(vi, attrName, attrValue); });
}

}  // namespace visa
