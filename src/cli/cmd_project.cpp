// Project files:
//
//   velkaro-cli project show FILE
//
// Lists the instruments of a project file with their key settings, read straight from
// the XML (nothing is connected). Exit code cli_exit_ok, or cli_exit_usage when the file
// is not a project.
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "cfg/cfg_project.h"
#include "cli/cli_commands.h"
#include "common/plib_measure_type.h"

namespace velkaro_cli {
namespace {

using namespace cfg_project_file;

int run_show(const std::string& path) {
    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    if (!list_sections(doc, path, sections)) {
        std::fprintf(stderr, "velkaro-cli project: \"%s\" is not a project file\n", path.c_str());
        return cli_exit_usage;
    }
    std::printf("software version: %s\n", read_text(doc.child("root"), "SoftwareVersion").c_str());
    for (const cfg_project_section_t& section : sections) {
        const int index = section.position;
        const std::string& model = section.model;
        const std::string& resource = section.resource;
        const pugi::xml_node p = section.node;
        if (!section.supported) {
            std::printf("project %d: unsupported model \"%s\", skipped\n", index, model.c_str());
            continue;
        }
        std::printf("project %d: %s at %s\n", index, model.c_str(),
                    resource.empty() ? "(no resource)" : resource.c_str());
        pugi::xml_node measure = p.child("measure");
        const auto function = static_cast<plib_measure_type_t>(read_int(measure, "function"));
        const std::string scpi = measure_scpi(function);
        pugi::xml_node entry =
            scpi.empty() ? pugi::xml_node() : measure.child("func_cfg").child(scpi.c_str());
        std::printf("  function: %s (%s)", measure_name(function).c_str(), scpi.c_str());
        if (entry && function != measure_temp)
            std::printf(", range %s%s, nplc %s", read_text(entry, "range").c_str(),
                        read_int(entry, "auto_range") ? " (auto)" : "", read_text(entry, "nplc").c_str());
        std::printf("\n");
        pugi::xml_node acq = measure.child("acq_param");
        std::printf("  acquisition: %s, ", read_int(measure, "acq_mode") ? "single" : "continuous");
        if (!read_bool(acq, "auto_enable"))
            std::printf("no automatic stop");
        else if (read_int(acq, "auto_stop_mode") == 1)
            std::printf("stop after %u readings", read_uint(acq, "stop_num"));
        else
            std::printf("stop after %s s", format_double(read_double(acq, "stop_time")).c_str());
        if (read_int(acq, "record_position"))
            std::printf(", logging to \"%s\"", read_text(acq, "record_directory").c_str());
        std::printf("\n");
        pugi::xml_node scan = p.child("scan");
        int enabled = 0, channels = 0;
        for (pugi::xml_node c = scan.child("channel_param").child("channel"); c;
             c = c.next_sibling("channel")) {
            ++channels;
            if (read_int(c, "scan_state")) ++enabled;
        }
        std::printf("  scan: %d of %d channels enabled, stop mode %d\n", enabled, channels,
                    read_int(scan, "stop_mode"));
    }
    std::printf("instruments: %zu\n", sections.size());
    return cli_exit_ok;
}

}  // namespace

void register_project_commands(CLI::App& app, cli_context_t& context) {
    auto path = std::make_shared<std::string>();
    CLI::App* project = app.add_subcommand("project", "Project files");
    project->require_subcommand(1);
    CLI::App* show =
        project->add_subcommand("show", "List the instruments and key settings of a project file");
    show->add_option("file", *path, "Project file (.dmm)")->required();
    show->callback([path, &context] { context.exit_code = run_show(*path); });
}

}  // namespace velkaro_cli
