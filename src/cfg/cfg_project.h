// This instrument's section of a project file (".dmm"): one `project` element with the
// model, the resource and every configuration value, and the reader of such a section.
//
// Values are element texts; the reader takes any element missing as 0, false or empty,
// parses numbers as decimal and never trusts the file (it may be anything).
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "common/plib_version.h"
#include "drv/drv_types.h"

class cfg_measure_t;
class cfg_measure_diagram_t;
class cfg_remote_t;
class cfg_scan_config_t;
class cfg_scan_diagram_t;

// The `scan` section's values (scan configuration settings and channel map).
struct cfg_scan_section_t {
    int record_position = 0;
    int record_mode = 0;
    std::string record_path;
    int start_mode = 0;
    uint64_t start_timestamp = 0;
    int stop_mode = 0;
    double stop_time = 0.0;
    uint64_t stop_timestamp = 0;
    uint32_t stop_rounds = 1;
    int recurrent_mode = 0;
    double delay = 1.0;
    int recurrent_counts = 1;
    int auto_recurrent = 1;
    plib_scanner_channel_map_t channel_param;
};

// The `scan` section's values read from and applied to the scan configuration; applying
// goes through its setters, which keep their ranges and send the run and logging
// parameters to the scan engine.
cfg_scan_section_t cfg_scan_section_of(const cfg_scan_config_t& config);
void cfg_apply_scan_section(cfg_scan_config_t& config, const cfg_scan_section_t& section);

class cfg_project_t {
public:
    // The section is made of the model and resource (`remote`), the measurement, the
    // measure diagram, the scan configuration and the scan diagram. All five must
    // outlive this object.
    cfg_project_t(const cfg_remote_t& remote, cfg_measure_t& measure, cfg_measure_diagram_t& measure_diagram,
                  cfg_scan_config_t& scan_config, cfg_scan_diagram_t& scan_diagram)
        : m_remote(remote),
          m_measure(measure),
          m_measure_diagram(measure_diagram),
          m_scan_config(scan_config),
          m_scan_diagram(scan_diagram) {}
    cfg_project_t(const cfg_project_t&) = delete;
    cfg_project_t& operator=(const cfg_project_t&) = delete;

    // Appends one `project` element to `root`.
    void append_section(pugi::xml_node root) const;
    // Loads the file at path and appends this section to its `root`, written back
    // atomically. 0 on success, -1 when the file does not load, has no `root` or
    // cannot be written (the previous file then stays as it was).
    int save_section(const std::string& path) const;
    // Applies a `project` element: measure, measure_diagram, scan, scan_diagram, each
    // when present. 0 on success, -1 for a null node.
    int load_section(pugi::xml_node project);
    // Loads the first `project` of the file at path. 0 on success, -1 otherwise.
    int load_first_section(const std::string& path);

private:
    const cfg_remote_t& m_remote;
    cfg_measure_t& m_measure;
    cfg_measure_diagram_t& m_measure_diagram;
    cfg_scan_config_t& m_scan_config;
    cfg_scan_diagram_t& m_scan_diagram;
};

// One `project` element of a project file, as the readers of a whole file see it.
struct cfg_project_section_t {
    int position = 0;        // 1-based, among the file's `project` elements
    std::string model;       // text of `product_type`, empty when missing
    std::string resource;    // text of `resource`, empty when missing
    bool supported = false;  // `model` is one this software drives
    pugi::xml_node node;     // the element itself; valid while its document lives
};

// Project-file text helpers shared by the section writer, the registry's save and the
// command line.
namespace cfg_project_file {

inline constexpr const char* software_version = plib_software_version;

// Writes `doc` the way the project file is written: one tab per level, UTF-8, no BOM.
std::string to_string(const pugi::xml_document& doc);
// A new document: declaration version "1.0" encoding "UTF-8", `root`, `SoftwareVersion`.
void make_header(pugi::xml_document& doc);
// Writes bytes to path through a temporary file in the same directory, flushed to
// disk, then renamed over path: a failure leaves the previous file intact. 0 or -1.
int write_file_atomic(const std::string& path, const std::string& bytes);
// Loads a file for reading a project; false when it is not a regular file (a pipe or a
// device would block or never end), does not parse or has no `root`.
bool load_file(pugi::xml_document& doc, const std::string& path);
// The one walk over a project file's instruments: loads path with load_file into doc
// and lists every `project` element of `root` in document order. False, with no
// sections, when the file is not a project file.
bool list_sections(pugi::xml_document& doc, const std::string& path,
                   std::vector<cfg_project_section_t>& sections);
// Why `path` is no project file, for a message: "there is no such file", "it is not a
// regular file", "it cannot be read", "it is not XML (<parser's words> at byte N)", "it
// has no root element"; "" when it loads.
std::string load_failure_text(const std::string& path);
// The first resource that two sections name, or "": a project lists each instrument
// once (a copy would be opened, and fail, once per section).
std::string duplicate_resource(const std::vector<cfg_project_section_t>& sections);

// Decimal readers of element texts: missing, malformed or out-of-range texts give 0.
int read_int(pugi::xml_node parent, const char* name);
uint32_t read_uint(pugi::xml_node parent, const char* name);
uint64_t read_u64(pugi::xml_node parent, const char* name);
double read_double(pugi::xml_node parent, const char* name);
bool read_bool(pugi::xml_node parent, const char* name);
std::string read_text(pugi::xml_node parent, const char* name);
// "%.17g": 0.1 is written 0.10000000000000001.
std::string format_double(double value);

}  // namespace cfg_project_file
