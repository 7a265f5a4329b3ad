// A system VISA shared library used instead of the built-in layer: when
// VELKARO_VISA_LIBRARY names one, it is dlopen()ed at the first VISA call and all
// ten calls are forwarded to its C symbols. If it cannot be loaded (or lacks one of
// the symbols), every call returns VI_ERROR_LIBRARY_NFOUND.
#pragma once

#include <string>

#include "visa/visa_types.h"

namespace visa {

struct sys_visa_api_t {
    ViStatus (*viOpenDefaultRM)(ViSession*) = nullptr;
    ViStatus (*viFindRsrc)(ViSession, ViConstString, ViFindList*, ViUInt32*, ViChar*) = nullptr;
    ViStatus (*viFindNext)(ViFindList, ViChar*) = nullptr;
    ViStatus (*viParseRsrc)(ViSession, ViConstRsrc, ViUInt16*, ViUInt16*) = nullptr;
    ViStatus (*viOpen)(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViSession*) = nullptr;
    ViStatus (*viClose)(ViObject) = nullptr;
    ViStatus (*viWrite)(ViSession, ViConstBuf, ViUInt32, ViUInt32*) = nullptr;
    ViStatus (*viRead)(ViSession, ViBuf, ViUInt32, ViUInt32*) = nullptr;
    ViStatus (*viSetAttribute)(ViObject, ViAttr, ViAttrState) = nullptr;
    ViStatus (*viGetAttribute)(ViObject, ViAttr, void*) = nullptr;
};

// Loads `path` and resolves the ten symbols; false (and `error` set) otherwise. The
// library stays loaded for the life of the process.
bool sys_visa_load(const std::string& path, sys_visa_api_t& api, std::string& error);

enum class visa_backend_t { builtin, system, missing };

// The backend chosen at the first call of this process (VELKARO_VISA_LIBRARY read
// then); `api` is set for the system backend.
visa_backend_t sys_visa_backend(const sys_visa_api_t*& api);

// Forgets the choice so the next call reads VELKARO_VISA_LIBRARY again. For tests
// only: no other thread may be inside a VISA call.
void sys_visa_reset_choice_for_tests();

}  // namespace visa
