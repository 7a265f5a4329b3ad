// Project files:
//
//   velkaro-cli project show FILE
//
// Lists the instruments of a project file with their key settings, read straight from
// the XML (nothing is connected). Exit code 0, or 2 when the file is not a project.
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "cfg/cfg_project.h"
#include "cli/cli_commands.h"
#include "common/plib_measure_type.h"
#include "common/plib_model_registry.h"

namespace velkaro_cli {
namespace {

using namespace cfg_project_file;

int run_show(const std::string& path) {
    pugi::xml_document doc;
    if (!load_file(doc, path)) {
        std::fprintf(stderr, "velkaro-cli project: \"%s\" is not a project file\n", path.c_str());
        return 2;
    }
    pugi::xml_node root = doc.child("root");
    std::printf("software version: %s\n", read_text(root, "SoftwareVersion").c_str());
    int index = 0;
    for (pugi::xml_node p = root.child("project"); p; p = p.next_sibling("project")) {
        ++index;
        const std::string model = read_text(p, "product_type");
        const std::string resource = read_text(p, "resource");
        if (model_registry_t::instance().family_of(model) == model_registry_t::family_none) {
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
    std::printf("instruments: %d\n", index);
    return 0;
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
