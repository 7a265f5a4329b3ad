// Headless measuring:
//
//   velkaro-cli measure --model M --function NAME [--range R] [--nplc X]
//                       [--count N | --time S] [--interval MS] [--log-dir DIR]
//                       [--export FILE] [--project FILE] RESOURCE
//
// Builds an instrument manager through the registry, binds it to RESOURCE and
// connects (which writes the stored configuration: the project section when one is
// given), applies the options, runs the acquisition until its automatic stop, exports
// the buffer and prints a summary. Exit codes: 0 done, 2 bad arguments or unwritable
// path, 3 cannot connect, 4 not the model, 5 unknown function for the model,
// 6 export failed, 7 the run did not start or did not stop in time.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <thread>
#include <vector>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "cli/cli_commands.h"
#include "common/plib_format.h"
#include "common/plib_model_registry.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"

namespace velkaro_cli {
namespace {

constexpr int exit_usage = 2;
constexpr int exit_connect = 3;
constexpr int exit_model = 4;
constexpr int exit_function = 5;
constexpr int exit_export = 6;
constexpr int exit_run = 7;

struct measure_options_t {
    std::string model;
    std::string function;
    std::string range;
    std::string nplc;
    long long count = -1;
    double time_s = -1.0;
    int interval_ms = -1;
    std::string log_dir;
    std::string export_path;
    std::string project;
    std::string resource;
};

int fail(int code, const std::string& message) {
    std::fprintf(stderr, "velkaro-cli measure: %s\n", message.c_str());
    return code;
}

// A directory we can create files in.
bool writable_directory(const std::string& dir) {
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) && ::access(dir.c_str(), W_OK) == 0;
}

// The project section for this model, preferring the one at this resource.
pugi::xml_node find_section(const pugi::xml_document& doc, const std::string& model,
                            const std::string& resource) {
    pugi::xml_node same_model;
    for (pugi::xml_node p = doc.child("root").child("project"); p; p = p.next_sibling("project")) {
        if (model != p.child("product_type").text().get()) continue;
        if (resource == p.child("resource").text().get()) return p;
        if (!same_model) same_model = p;
    }
    return same_model;
}

plib_measure_type_t function_from_text(const std::string& text) {
    plib_measure_type_t type = measure_type_from_name(text);
    if (type == measure_none) type = measure_type_from_scpi(text);
    return type;
}

// Releases the manager (which disconnects) however the run ends.
struct registry_guard_t {
    plib_mngr_t* mngr = nullptr;
    std::string resource;
    ~registry_guard_t() {
        if (mngr != nullptr) ui_connect_mngr_t::instance().release_mngr(mngr, resource);
    }
};

int run_measure(const measure_options_t& o) {
    if (!o.log_dir.empty() && !writable_directory(o.log_dir))
        return fail(exit_usage, "cannot write to the log directory \"" + o.log_dir + "\"");
    if (!o.export_path.empty()) {
        const std::filesystem::path parent = std::filesystem::path(o.export_path).parent_path();
        if (!writable_directory(parent.empty() ? "." : parent.string()))
            return fail(exit_usage, "cannot write the export file \"" + o.export_path + "\"");
    }
    pugi::xml_document doc;
    pugi::xml_node section;
    if (!o.project.empty()) {
        if (!cfg_project_file::load_file(doc, o.project))
            return fail(exit_usage, "\"" + o.project + "\" is not a project file");
        section = find_section(doc, o.model, o.resource);
        if (!section) return fail(exit_usage, "the project has no " + o.model + " instrument");
    }

    ui_connect_mngr_t& registry = ui_connect_mngr_t::instance();
    registry_guard_t guard;
    guard.mngr = registry.create_mngr(o.model, section);
    cfg_main_t& cfg = *guard.mngr->get_cfg();

    const plib_measure_type_t type = function_from_text(o.function);
    if (type == measure_none || !cfg.measure()->has_function(type))
        return fail(exit_function, "the " + o.model + " has no function \"" + o.function + "\"");

    if (registry.is_bound(o.resource)) return fail(exit_usage, o.resource + " is in use");
    if (registry.bind_mngr(o.resource, guard.mngr) != 1)
        return fail(exit_usage, "cannot register " + o.resource);
    guard.resource = o.resource;
    cfg_remote_info_t info;
    info.resource = o.resource;
    cfg.set_info(info);
    const int connected = cfg.connect(1);
    if (connected == cfg_remote_t::result_not_the_model)
        return fail(exit_model, "the instrument at " + o.resource + " is not a " + o.model);
    if (connected != cfg_remote_t::result_ok) return fail(exit_connect, "cannot connect to " + o.resource);

    cfg.set_function(type);
    if (!o.range.empty()) cfg.set_range(type, o.range);
    if (!o.nplc.empty()) cfg.set_nplc(type, o.nplc);
    if (o.count >= 0) {
        cfg.set_auto_stop_mode(acq_auto_stop_by_count);
        cfg.set_stop_num(static_cast<uint32_t>(o.count));
        cfg.set_auto_enable(true);
    } else if (o.time_s >= 0) {
        cfg.set_auto_stop_mode(acq_auto_stop_by_time);
        cfg.set_stop_time(o.time_s);
        cfg.set_auto_enable(true);
    } else if (!cfg.get_auto_enable()) {
        return fail(exit_usage, "give --count or --time (or a project with automatic stop)");
    }
    if (o.interval_ms > 0) cfg.set_interval_ms(o.interval_ms);
    if (!o.log_dir.empty()) {
        cfg.set_record_directory(o.log_dir);
        cfg.set_record_position(1);
    }

    // Bound the wait: the automatic stop plus a margin, at most an hour.
    double limit_s = 3600.0;
    if (cfg.get_auto_stop_mode() == acq_auto_stop_by_time)
        limit_s = std::min(limit_s, cfg.get_stop_time() + 30.0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit_s);

    cfg.set_run_state(1);
    if (cfg.get_run_state() != 1) return fail(exit_run, "the acquisition did not start");
    const bool terminal = ::isatty(STDOUT_FILENO) != 0;
    while (cfg.get_run_state() == 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (terminal) {
            std::printf("\r%u readings, %.1f s", cfg.get_total_count(), cfg.get_elapsed_s());
            std::fflush(stdout);
        }
    }
    if (terminal) std::printf("\n");
    const bool stopped = cfg.get_run_state() == 0;
    if (!stopped) cfg.set_run_state(0);

    std::vector<plib_data_t> data;
    guard.mngr->get_acq()->m_acq_original_data_list_msg.fetch(data);
    const double elapsed = cfg.get_elapsed_s();
    double min = std::numeric_limits<double>::infinity(), max = -min, sum = 0.0;
    std::size_t valid = 0;
    for (const plib_data_t& d : data) {
        if (is_overload(d.value) || !std::isfinite(d.value)) continue;
        min = std::min(min, d.value);
        max = std::max(max, d.value);
        sum += d.value;
        ++valid;
    }
    std::printf("readings: %zu\n", data.size());
    std::printf("rate: %.3f readings/s\n", elapsed > 0 ? static_cast<double>(data.size()) / elapsed : 0.0);
    if (valid > 0) {
        std::printf("min: %.10g\nmax: %.10g\nmean: %.10g\n", min, max, sum / static_cast<double>(valid));
    } else {
        std::printf("min: -\nmax: -\nmean: -\n");
    }
    if (valid != data.size()) std::printf("overloads: %zu\n", data.size() - valid);
    std::fflush(stdout);

    if (!o.export_path.empty() && cfg.export_data(o.export_path) != 0)
        return fail(exit_export, "cannot write the export file \"" + o.export_path + "\"");
    if (!stopped) return fail(exit_run, "the acquisition did not stop in time");
    return 0;
}

}  // namespace

void register_measure_commands(CLI::App& app, cli_context_t& context) {
    auto o = std::make_shared<measure_options_t>();
    std::vector<std::string> models;
    model_registry_t::instance().model_list(model_registry_t::list_all, models);

    CLI::App* cmd =
        app.add_subcommand("measure", "Connect, configure, measure until the automatic stop, export");
    cmd->add_option("--model", o->model, "Instrument model")->required()->check(CLI::IsMember(models));
    cmd->add_option("--function", o->function, "Function: display name (\"DC Voltage\") or SCPI (\"VOLT\")")
        ->required();
    cmd->add_option("--range", o->range, "Range name, e.g. 20V");
    cmd->add_option("--nplc", o->nplc, "Integration time in power-line cycles");
    CLI::Option* count =
        cmd->add_option("--count", o->count, "Stop after N readings")->check(CLI::NonNegativeNumber);
    CLI::Option* time =
        cmd->add_option("--time", o->time_s, "Stop after S seconds")->check(CLI::NonNegativeNumber);
    count->excludes(time);
    cmd->add_option("--interval", o->interval_ms, "Polling interval in ms")->check(CLI::Range(1, 3600000));
    cmd->add_option("--log-dir", o->log_dir, "Write a record file into this directory");
    cmd->add_option("--export", o->export_path, "Write the buffered readings to this CSV file");
    cmd->add_option("--project", o->project, "Take the settings from this project file's section");
    cmd->add_option("resource", o->resource, "VISA resource string")->required();
    cmd->callback([o, &context] { context.exit_code = run_measure(*o); });
}

}  // namespace velkaro_cli
