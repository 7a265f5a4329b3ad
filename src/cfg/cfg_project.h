// This instrument's section of a project file (".dmm"): one `project` element with the
// model, the resource and every configuration value, and the reader of such a section.
//
// Values are element texts; the reader takes any element missing as 0, false or empty,
// parses numbers as decimal and never trusts the file (it may be anything).
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>

#include "drv/drv_types.h"

class cfg_main_t;

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

class cfg_project_t {
public:
    explicit cfg_project_t(cfg_main_t* facade) : m_pfacade(facade) {}

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
    cfg_main_t* m_pfacade = nullptr;
};

// Project-file text helpers shared by the section writer, the registry's save and the
// command line.
namespace cfg_project_file {

inline constexpr const char* software_version = "V1.0.3";

// Writes `doc` the way the project file is written: one tab per level, UTF-8, no BOM.
std::string to_string(const pugi::xml_document& doc);
// A new document: declaration version "1.0" encoding "UTF-8", `root`, `SoftwareVersion`.
void make_header(pugi::xml_document& doc);
// Writes bytes to path through a temporary file in the same directory, flushed to
// disk, then renamed over path: a failure leaves the previous file intact. 0 or -1.
int write_file_atomic(const std::string& path, const std::string& bytes);
// Loads a file for reading a project; false when it does not parse or has no `root`.
bool load_file(pugi::xml_document& doc, const std::string& path);

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
