// Fuzz target: a project file end to end, as the program opens one. The bytes are
// written to a file; the file's sections are listed and each one is loaded into a
// fresh instrument configuration of its model (or of the first family's model), which
// is then sent whole to a checking link: nothing it sends may hold a control
// character other than the final line feed, nor a command separator of its own.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "cfg/cfg_scan_config.h"
#include "drv/drv_link.h"
#include "ui/mngr/plib_mngr.h"

namespace {

// No instrument; writes are checked as they would go out.
class checking_link_t : public drv_link_t {
public:
    int open(const std::string&, unsigned long&) override { return -1; }
    int close(unsigned long) override { return -1; }
    int write(unsigned long, const std::string& bytes) override {
        check(bytes);
        return -1;
    }
    int read(unsigned long, std::string&) override { return -1; }
    int query(unsigned long, const std::string& bytes, std::string&) override {
        check(bytes);
        return -1;
    }
    int resource_available(const std::string&) override { return 0; }

private:
    // The drivers join two program messages as "\n;:" themselves (the scan limits);
    // apart from that, the only control character is the final line feed.
    static void check(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes.compare(i, 3, "\n;:") == 0) {
                i += 1;
                continue;
            }
            const unsigned char u = static_cast<unsigned char>(bytes[i]);
            const bool last_line_feed = u == '\n' && i + 1 == bytes.size();
            if ((u < 0x20 && !last_line_feed) || u == 0x7f || u == ';') __builtin_trap();
        }
    }
};

const std::string& scratch_path() {
    static const std::string path = [] {
        char dir[] = "/tmp/velkaro_fuzz_project_XXXXXX";
        const char* made = mkdtemp(dir);
        return std::string(made ? made : "/tmp") + "/project.dmm";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratch_path();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) return 0;

    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    if (!cfg_project_file::list_sections(doc, path, sections)) return 0;
    static checking_link_t link;
    // One long-lived manager per model (each owns engine threads): they live for the
    // process, reachable to the end (the map is never destroyed).
    static auto& managers = *new std::map<std::string, plib_mngr_t*>;
    int loaded = 0;
    for (const cfg_project_section_t& s : sections) {
        if (++loaded > 4) break;  // a file of many sections teaches nothing more per run
        const std::string model = s.supported ? s.model : std::string("VXA-2");
        plib_mngr_t*& mngr = managers[model];
        if (mngr == nullptr) mngr = new plib_mngr_t(model, pugi::xml_node(), &link);
        cfg_main_t& cfg = *mngr->get_cfg();
        cfg.load_section(s.node);
        cfg.measure()->apply_to_instrument();
        cfg.get_scan_config()->apply_scan_config();
    }
    return 0;
}
