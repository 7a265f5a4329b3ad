#include "visa/visa_sys_lib.h"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace visa {

namespace {

template <typename fn_t>
bool resolve(void* handle, const char* name, fn_t& fn, std::string& error) {
    void* sym = ::dlsym(handle, name);
    if (!sym) {
        error = std::string("missing symbol ") + name;
        return false;
    }
    fn = reinterpret_cast<fn_t>(sym);
    return true;
}

struct choice_t {
    std::mutex mutex;  // guards the fields below
    bool chosen = false;
    visa_backend_t backend = visa_backend_t::builtin;
    // Loaded tables are kept for the process's life; a test reset may add another.
    std::vector<std::unique_ptr<sys_visa_api_t>> apis;
};

choice_t& choice() {
    static choice_t c;
    return c;
}

}  // namespace

bool sys_visa_load(const std::string& path, sys_visa_api_t& api, std::string& error) {
    // RTLD_LOCAL keeps the library's viOpen... out of the global namespace; ours are
    // C++ names in namespace visa anyway.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = ::dlerror();
        error = e ? e : "dlopen failed";
        return false;
    }
    sys_visa_api_t a;
    const bool ok =
        resolve(handle, "viOpenDefaultRM", a.viOpenDefaultRM, error) &&
        resolve(handle, "viFindRsrc", a.viFindRsrc, error) &&
        resolve(handle, "viFindNext", a.viFindNext, error) &&
        resolve(handle, "viParseRsrc", a.viParseRsrc, error) && resolve(handle, "viOpen", a.viOpen, error) &&
        resolve(handle, "viClose", a.viClose, error) && resolve(handle, "viWrite", a.viWrite, error) &&
        resolve(handle, "viRead", a.viRead, error) &&
        resolve(handle, "viSetAttribute", a.viSetAttribute, error) &&
        resolve(handle, "viGetAttribute", a.viGetAttribute, error);
    if (!ok) {
        ::dlclose(handle);
        return false;
    }
    api = a;
    return true;
}

visa_backend_t sys_visa_backend(const sys_visa_api_t*& api) {
    choice_t& c = choice();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.chosen) {
        c.chosen = true;
        c.backend = visa_backend_t::builtin;
        const char* path = std::getenv("VELKARO_VISA_LIBRARY");
        if (path && *path) {
            auto a = std::make_unique<sys_visa_api_t>();
            std::string error;
            if (sys_visa_load(path, *a, error)) {
                c.apis.push_back(std::move(a));
                c.backend = visa_backend_t::system;
            } else {
                c.backend = visa_backend_t::missing;
            }
        }
    }
    api = c.backend == visa_backend_t::system ? c.apis.back().get() : nullptr;
    return c.backend;
}

void sys_visa_reset_choice_for_tests() {
    choice_t& c = choice();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.chosen = false;
}

}  // namespace visa
