// Project files:
//
//   velkaro-cli project show [--json] FILE
//
// Lists the instruments of a project file with their key settings, read straight from
// the XML (nothing is connected); with --json as one document of the same facts. Exit code cli_exit_ok, or
// cli_exit_usage when the file is not a project.
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "cfg/cfg_project.h"
#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/plib_measure_type.h"

namespace velkaro_cli {
namespace {

using namespace cfg_project_file;

// The key settings of one supported section, as JSON; the text form is made from it.
nlohmann::json section_json(const cfg_project_section_t& section) {
    nlohmann::json j = {{"position", section.position},
                        {"model", section.model},
                        {"resource", section.resource},
                        {"supported", section.supported}};
    if (!section.supported) return j;
    const pugi::xml_node p = section.node;
    pugi::xml_node measure = p.child("measure");
    const auto function = static_cast<plib_measure_type_t>(read_int(measure, "function"));
    const std::string scpi = measure_scpi(function);
    pugi::xml_node entry = scpi.empty() ? pugi::xml_node() : measure.child("func_cfg").child(scpi.c_str());
    j["function"] = {{"name", measure_name(function)}, {"scpi", scpi}};
    if (entry && function != measure_temp) {
        j["function"]["range"] = read_text(entry, "range");
        j["function"]["auto_range"] = read_int(entry, "auto_range") != 0;
        j["function"]["nplc"] = read_text(entry, "nplc");
    }
    pugi::xml_node acq = measure.child("acq_param");
    nlohmann::json a = {{"mode", read_int(measure, "acq_mode") ? "single" : "continuous"}};
    if (!read_bool(acq, "auto_enable"))
        a["stop"] = nullptr;
    else if (read_int(acq, "auto_stop_mode") == 1)
        a["stop"] = {{"readings", read_uint(acq, "stop_num")}};
    else
        a["stop"] = {{"seconds", read_double(acq, "stop_time")}};
    a["logging"] = read_int(acq, "record_position") != 0;
    a["record_directory"] = read_text(acq, "record_directory");
    j["acquisition"] = a;
    pugi::xml_node scan = p.child("scan");
    std::vector<int> enabled;
    int channels = 0;
    for (pugi::xml_node c = scan.child("channel_param").child("channel"); c && channels < 1000;
         c = c.next_sibling("channel")) {
        ++channels;
        if (read_int(c, "scan_state")) enabled.push_back(c.attribute("index").as_int());
    }
    j["scan"] = {{"enabled_channels", enabled},
                 {"channels", channels},
                 {"stop_mode", read_int(scan, "stop_mode")},
                 {"logging", read_int(scan, "record_position") != 0},
                 {"record_path", read_text(scan, "record_path")}};
    return j;
}

std::string section_text(const nlohmann::json& j) {
    const int index = j["position"].get<int>();
    const std::string model = j["model"].get<std::string>();
    if (!j["supported"].get<bool>())
        return "project " + std::to_string(index) + ": unsupported model \"" + model + "\", skipped\n";
    const std::string resource = j["resource"].get<std::string>();
    std::string text = "project " + std::to_string(index) + ": " + model + " at " +
                       (resource.empty() ? "(no resource)" : resource) + "\n";
    const nlohmann::json& f = j["function"];
    text += "  function: " + f["name"].get<std::string>() + " (" + f["scpi"].get<std::string>() + ")";
    if (f.contains("range"))
        text += ", range " + f["range"].get<std::string>() + (f["auto_range"].get<bool>() ? " (auto)" : "") +
                ", nplc " + f["nplc"].get<std::string>();
    text += "\n";
    const nlohmann::json& a = j["acquisition"];
    text += "  acquisition: " + a["mode"].get<std::string>() + ", ";
    if (a["stop"].is_null())
        text += "no automatic stop";
    else if (a["stop"].contains("readings"))
        text += "stop after " + std::to_string(a["stop"]["readings"].get<uint32_t>()) + " readings";
    else
        text += "stop after " + format_double(a["stop"]["seconds"].get<double>()) + " s";
    if (a["logging"].get<bool>()) text += ", logging to \"" + a["record_directory"].get<std::string>() + "\"";
    text += "\n";
    const nlohmann::json& sc = j["scan"];
    text += "  scan: " + std::to_string(sc["enabled_channels"].size()) + " of " +
            std::to_string(sc["channels"].get<int>()) + " channels enabled, stop mode " +
            std::to_string(sc["stop_mode"].get<int>()) + "\n";
    return text;
}

int run_show(const std::string& path, bool json) {
    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    if (!list_sections(doc, path, sections)) {
        const std::string message = "\"" + path + "\" is not a project file";
        std::fprintf(stderr, "velkaro-cli project: %s\n", message.c_str());
        if (json) write_json({{"file", path}, {"error", error_json(cli_exit_usage, message)}});
        return cli_exit_usage;
    }
    nlohmann::json out = {{"file", path},
                          {"software_version", read_text(doc.child("root"), "SoftwareVersion")},
                          {"instruments", nlohmann::json::array()},
                          {"error", nullptr}};
    for (const cfg_project_section_t& section : sections) out["instruments"].push_back(section_json(section));
    if (json) {
        write_json(out);
        return cli_exit_ok;
    }
    std::string text = "software version: " + out["software_version"].get<std::string>() + "\n";
    for (const nlohmann::json& j : out["instruments"]) text += section_text(j);
    text += "instruments: " + std::to_string(sections.size()) + "\n";
    write_results(text);
    return cli_exit_ok;
}

}  // namespace

void register_project_commands(CLI::App& app, cli_context_t& context) {
    auto path = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    CLI::App* project = app.add_subcommand("project", "Project files");
    project->require_subcommand(1);
    CLI::App* show =
        project->add_subcommand("show", "List the instruments and key settings of a project file");
    show->add_option("file", *path, "Project file (.dmm)")->required();
    show->add_flag("--json", *json, "Print one JSON document");
    show->callback([path, json, &context] { context.exit_code = run_show(*path, *json); });
}

}  // namespace velkaro_cli
