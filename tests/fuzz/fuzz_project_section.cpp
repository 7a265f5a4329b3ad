// Fuzz target: the project section loader. Any bytes are parsed as XML; the first
// `project` (or the document element) is loaded into one long-lived instrument
// configuration, which must stay within its rules and save a file that reads back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "drv/drv_link.h"
#include "ui/mngr/plib_mngr.h"

namespace {

// No instrument: every operation fails at once.
class null_link_t : public drv_link_t {
public:
    int open(const std::string&, unsigned long&) override { return -1; }
    int close(unsigned long) override { return -1; }
    int write(unsigned long, const std::string&) override { return -1; }
    int read(unsigned long, std::string&) override { return -1; }
    int query(unsigned long, const std::string&, std::string&) override { return -1; }
    int resource_available(const std::string&) override { return 0; }
};

plib_mngr_t& manager() {
    static null_link_t link;
    static plib_mngr_t* mngr = new plib_mngr_t("VXB-1", pugi::xml_node(), &link);  // lives for the process
    return *mngr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pugi::xml_document doc;
    if (!doc.load_buffer(data, size)) return 0;
    pugi::xml_node project = doc.child("root").child("project");
    if (!project) project = doc.document_element();
    cfg_main_t& cfg = *manager().get_cfg();
    const std::size_t keys = cfg.measure()->cfg_map().size();
    cfg.load_section(project);

    if (cfg.measure()->cfg_map().size() != keys) __builtin_trap();
    if (!cfg.measure()->has_function(cfg.get_function())) __builtin_trap();
    const double rec = cfg.get_rec_time();
    if (!(rec >= 60.0 && rec <= 86400.0)) __builtin_trap();
    if (cfg.scan_diagram()->curves().size() != 16) __builtin_trap();
    if (cfg.get_scan_section().channel_param.size() != 16) __builtin_trap();
    // No text bound for the instrument holds a control character (it would split a
    // command) after any load.
    const auto clean = [](const std::string& t) {
        for (char c : t) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
        }
        return true;
    };
    for (const auto& [key, e] : cfg.measure()->cfg_map()) {
        (void)key;
        for (const std::string* t : {&e.range, &e.nplc, &e.rel_value, &e.impedance, &e.bandwidth, &e.aperture,
                                     &e.threshold, &e.temp_ext_source_val, &e.temp_sensor.name}) {
            if (!clean(*t)) __builtin_trap();
        }
    }
    for (const auto& [ch, c] : cfg.get_scan_section().channel_param) {
        (void)ch;
        if (!clean(c.range) || !clean(c.name)) __builtin_trap();
    }
    double start = 0, end = 0;
    cfg.get_scan_display_period(start, end);
    if (!(start < end)) __builtin_trap();

    pugi::xml_document out;
    cfg_project_file::make_header(out);
    cfg.project()->append_section(out.child("root"));
    const std::string text = cfg_project_file::to_string(out);
    pugi::xml_document back;
    if (!back.load_buffer(text.data(), text.size())) __builtin_trap();
    if (!back.child("root").child("project").child("measure")) __builtin_trap();
    return 0;
}
