#include "ui/ui_res_search_thread.h"

#include "cfg/resource_registry.h"

ui_res_search_thread_t* ui_res_search_thread_t::instance() {
    // A static object, not a leaked pointer: its destructor waits for a search still
    // running at exit instead of destroying a running QThread.
    static ui_res_search_thread_t* const thread = [] {
        qRegisterMetaType<std::vector<std::string>>("std::vector<std::string>");
        static ui_res_search_thread_t object;
        return &object;
    }();
    return thread;
}

ui_res_search_thread_t::~ui_res_search_thread_t() { wait(); }

void ui_res_search_thread_t::start_if_idle() {
    if (isRunning()) return;
    start();
}

void ui_res_search_thread_t::run() {
    std::vector<std::string> found;
    resource_registry_t::instance().search_found(found);
    emit signal_send_resource(found);
}
