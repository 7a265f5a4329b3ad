#include "ui/ui_res_search_thread.h"

#include "cfg/cfg_remote.h"
#include "cfg/resource_registry.h"

ui_res_search_thread_t* ui_res_search_thread_t::instance() {
    // A static object, not a leaked pointer: its destructor waits for a search still
    // running at exit instead of destroying a running QThread.
    static ui_res_search_thread_t* const thread = [] {
        qRegisterMetaType<std::vector<std::string>>("std::vector<std::string>");
        // The registry the search uses must outlive this object (static destruction runs
        // in reverse order of construction).
        resource_registry_t::instance();
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
    // The list shows at once; the names follow when the meters have answered.
    const std::vector<cfg_identity_t> identities = resource_identify_all(found);
    std::vector<std::string> labels;
    labels.reserve(identities.size());
    for (const cfg_identity_t& identity : identities) {
        std::string label = identity.product_type;
        if (!label.empty() && !identity.serial_number.empty()) label += "  " + identity.serial_number;
        labels.push_back(label);
    }
    emit signal_send_resource_labels(found, labels);
}
