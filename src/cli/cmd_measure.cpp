// Headless measuring:
//
//   velkaro-cli measure --model M --function NAME [--range R] [--nplc X]
//                       [--count N | --time S] [--interval MS] [--log-dir DIR]
//                       [--export FILE] [--project FILE] [--json]
//                       [--publish URL ... --station NAME --publish-wait S ...] RESOURCE
//
// Opens the instrument (open_instrument: the connection writes the stored
// configuration, the project section when one is given), applies the options, runs the
// acquisition until its automatic stop (progress on a terminal's standard error), exports
// the buffer and prints a summary (with --json one document of the same facts). Exit
// codes (cli_exit_t): usage for bad arguments (a count beyond the acquisition's counter
// too) or an unwritable path, connect, model, function for a function the model lacks,
// link when the link is lost (at once, with the readings logged so far), file when the
// export or the record file fails, run when the acquisition did not start or delivered
// nothing for longer than the link's own time-outs allow, publish when readings were left
// spooled, refused or not spooled (cli_publish.h).
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
#include "cfg/cfg_measure.h"
#include "cfg/cfg_project.h"
#include "cli/cli_commands.h"
#include "cli/cli_instrument.h"
#include "cli/cli_output.h"
#include "cli/cli_publish.h"
#include "common/plib_format.h"
#include "common/plib_model_registry.h"
#include "common/plib_number.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_publish.h"

namespace velkaro_cli {
namespace {

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
    bool json = false;
    cli_publish_options_t publish;
};

// A directory we can create files in.
bool writable_directory(const std::string& dir) {
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) && ::access(dir.c_str(), W_OK) == 0;
}

// The project section for this model, preferring the one at this resource.
pugi::xml_node find_section(const std::vector<cfg_project_section_t>& sections, const std::string& model,
                            const std::string& resource) {
    pugi::xml_node same_model;
    for (const cfg_project_section_t& s : sections) {
        if (s.model != model) continue;
        if (s.resource == resource) return s.node;
        if (!same_model) same_model = s.node;
    }
    return same_model;
}

plib_measure_type_t function_from_text(const std::string& text) {
    plib_measure_type_t type = measure_type_from_name(text);
    if (type == measure_none) type = measure_type_from_scpi(text);
    return type;
}

int run_measure(const measure_options_t& o, cli_report_t& report) {
    auto fail = [&report](int code, const std::string& message, int status = 0) {
        return report.fail(code, message, status);
    };
    report.doc() = {{"model", o.model}, {"resource", o.resource}, {"function", o.function}};
    // NaN passes every range check (each comparison is false).
    if (std::isnan(o.time_s)) return fail(cli_exit_usage, "--time must be a number of seconds");
    // The acquisition counts its stop number in an int: a larger count would wrap.
    constexpr long long max_count = std::numeric_limits<int>::max();
    if (o.count > max_count)
        return fail(cli_exit_usage, "--count " + std::to_string(o.count) + " is out of range (at most " +
                                        std::to_string(max_count) + ")");
    if (!o.log_dir.empty() && !writable_directory(o.log_dir))
        return fail(cli_exit_usage, "cannot write to the log directory \"" + o.log_dir + "\"");
    if (!o.export_path.empty()) {
        const std::filesystem::path parent = std::filesystem::path(o.export_path).parent_path();
        if (!writable_directory(parent.empty() ? "." : parent.string()))
            return fail(cli_exit_usage, "cannot write the export file \"" + o.export_path + "\"");
    }
    pugi::xml_document doc;
    cli_open_request_t request;
    request.model = o.model;
    request.resource = o.resource;
    if (!o.project.empty()) {
        std::vector<cfg_project_section_t> sections;
        if (!cfg_project_file::list_sections(doc, o.project, sections))
            return fail(cli_exit_usage, "\"" + o.project + "\" is not a project file");
        request.section = find_section(sections, o.model, o.resource);
        if (!request.section) return fail(cli_exit_usage, "the project has no " + o.model + " instrument");
    }
    // The targets and their spools before the instrument: a bad option touches nothing.
    cli_publisher_t publisher;
    {
        std::string message;
        const cli_exit_t opened_publisher = publisher.open(o.publish, message);
        if (opened_publisher != cli_exit_ok) return fail(opened_publisher, message);
    }
    const plib_measure_type_t type = function_from_text(o.function);
    request.before_connect = [&](cfg_main_t& cfg, std::string& message) {
        if (type == measure_none || !cfg.has_function(type)) {
            message = "the " + o.model + " has no function \"" + o.function + "\"";
            return cli_exit_function;
        }
        // Settings are checked against the model's tables, as a project's are: nothing
        // the model does not offer goes to the instrument.
        const struct {
            const char* option;
            const std::string& value;
            cfg_text_setting_t setting;
        } settings[] = {{"--range", o.range, cfg_text_setting_t::range},
                        {"--nplc", o.nplc, cfg_text_setting_t::nplc}};
        for (const auto& s : settings) {
            if (s.value.empty()) continue;
            const cfg_measure_t& measure = *cfg.measure();
            const std::string offered = measure.offered_text(type, s.setting);
            if (offered.empty()) {
                message = std::string(s.option) + " \"" + s.value + "\": the " + o.model + "'s " +
                          measure_name(type) + " has no such setting";
                return cli_exit_usage;
            }
            if (!measure.offers(type, s.setting, s.value)) {
                message = std::string(s.option) + " \"" + s.value + "\" is not offered by the " + o.model +
                          "'s " + measure_name(type) + "; allowed: " + offered;
                return cli_exit_usage;
            }
        }
        return cli_exit_ok;
    };
    const cli_opened_t opened = open_instrument(request);
    if (opened.result != cli_exit_ok) return fail(opened.result, opened.message, opened.visa_status);
    note("measure", "connected to the " + o.model + " at " + o.resource + " (" +
                        opened.guard.cfg().manufacturer() + ", serial " + opened.guard.cfg().serial_number() +
                        ")");
    cfg_main_t& cfg = opened.guard.cfg();

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
        return fail(cli_exit_usage, "give --count or --time (or a project with automatic stop)");
    }
    if (o.interval_ms > 0) cfg.set_interval_ms(o.interval_ms);
    if (!o.log_dir.empty()) {
        cfg.set_record_directory(o.log_dir);
        cfg.set_record_position(1);
    }

    // Bound the wait by the run itself: a healthy run delivers a reading at least every
    // stall limit (the link's time-outs), and a run by time ends at its time.
    plib_mngr_t& mngr = *opened.guard.mngr();
    const double stall_s = stall_limit_s(cfg, mngr, cfg.get_interval_ms() / 1000.0);
    const bool by_time = cfg.get_auto_stop_mode() == acq_auto_stop_by_time;
    const auto start = std::chrono::steady_clock::now();
    const auto run_deadline =
        start + std::chrono::duration<double>(by_time ? cfg.get_stop_time() + stall_s : 0);
    const std::shared_ptr<cli_run_events_t> events = opened.events;
    // Every reading the run logs is published (tags taken now, with the function set).
    std::unique_ptr<plib_mngr_publish_t> feed = publisher.attach(mngr);

    cfg.set_run_state(1);
    if (cfg.get_run_state() != 1) {
        unwatch_run(mngr);
        feed.reset();
        if (events->link_lost) {
            int status = 0;
            const std::string what = describe_link_lost(cfg, mngr, o.model, o.resource, &status);
            return fail(cli_exit_link, what, status);
        }
        return fail(cli_exit_run, "the acquisition did not start");
    }
    cli_progress_t progress;
    uint32_t last_count = 0;
    auto last_progress = start;
    bool stalled = false, told_write_failure = false;
    while (cfg.get_run_state() == 1 && !events->link_lost) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = std::chrono::steady_clock::now();
        const uint32_t count = cfg.get_total_count();
        if (count != last_count) {
            last_count = count;
            last_progress = now;
        }
        if (events->record_write_failed && !told_write_failure) {
            // The run goes on (the readings stay in the buffer); the user hears at once.
            told_write_failure = true;
            progress.finish();
            report.warn("writing the record file failed after " + std::to_string(count) +
                        " readings; logging is off, the run goes on");
        }
        if ((by_time && now > run_deadline) ||
            (!by_time && std::chrono::duration<double>(now - last_progress).count() > stall_s)) {
            stalled = true;
            break;
        }
        progress.draw(progress_text(count, cfg.get_elapsed_s(), cfg.is_recording() ? 1 : 0));
    }
    progress.finish();
    const bool link_lost = events->link_lost;
    const bool stopped = cfg.get_run_state() == 0 && !link_lost && !stalled;
    if (cfg.get_run_state() != 0) cfg.set_run_state(0);
    unwatch_run(mngr);
    feed.reset();  // after the run's last batch

    unsigned int in_buffer = 0;
    opened.guard.mngr()->get_acq()->m_acq_original_data_num_msg.fetch(in_buffer);
    const double elapsed = cfg.get_elapsed_s();
    // The buffer may hold fewer readings than the run delivered (and logged).
    const uint32_t total = cfg.get_total_count();
    const plib_record_run_state_info_t run_info = cfg.get_run_state_info();
    const bool logs = !o.log_dir.empty();
    // What reached the file, not what was measured: a file that could not be made or
    // stopped taking lines counts only the readings it holds.
    const uint64_t logged_count = run_info.logged_count;
    // The figures of the whole run, kept by the engine as the readings arrived.
    const plib_acq_statistics_t& st = run_info.statistics;
    // Pieces of the instrument's replies that were no number: dropped, never logged as 0.
    const uint64_t dropped = run_info.dropped_count;
    const double rate = elapsed > 0 ? static_cast<double>(total) / elapsed : 0.0;

    const bool exported = o.export_path.empty() || cfg.export_data(o.export_path) == 0;
    // This run's own files: another process logging into the same directory makes its own.
    std::vector<std::string> files;
    if (logs && !run_info.record_path.empty()) files.push_back(run_info.record_path);
    const bool listed = std::any_of(files.begin(), files.end(), [&o](const std::string& f) {
        std::error_code ec;
        return std::filesystem::equivalent(f, o.export_path, ec);
    });
    if (!o.export_path.empty() && exported && !listed) files.push_back(o.export_path);
    for (const std::string& f : files) note("measure", "wrote " + f);

    nlohmann::json& summary = report.doc();
    summary["readings"] = total;
    summary["readings_logged"] = logs ? nlohmann::json(logged_count) : nlohmann::json();
    summary["readings_in_buffer"] = in_buffer;
    summary["dropped"] = dropped;
    summary["elapsed_s"] = elapsed;
    summary["rate"] = rate;
    summary["statistics"] = statistics_json(st);
    summary["files"] = files;
    if (!report.json()) {
        std::FILE* out = results();
        std::fprintf(out, "readings: %u\n", total);
        if (logs) std::fprintf(out, "readings logged: %llu\n", static_cast<unsigned long long>(logged_count));
        std::fprintf(out, "readings in the buffer: %u\n", in_buffer);
        if (dropped > 0)
            std::fprintf(out, "pieces dropped (not a number): %llu\n",
                         static_cast<unsigned long long>(dropped));
        std::fprintf(out, "rate: %.3f readings/s\n", rate);
        std::fputs(statistics_text(st, "").c_str(), out);
        for (const std::string& f : files) std::fprintf(out, "file: %s\n", f.c_str());
        std::fflush(out);
    }
    const int publish_code = publisher.finish(report);

    if (!exported) return fail(cli_exit_file, "cannot write the export file \"" + o.export_path + "\"");
    if (link_lost) {
        int status = 0;
        const std::string what = describe_link_lost(cfg, mngr, o.model, o.resource, &status);
        return fail(cli_exit_link,
                    what + "; " +
                        (logs ? std::to_string(logged_count) + " readings logged"
                              : std::to_string(total) + " readings taken"),
                    status);
    }
    if (!stopped && by_time)
        return fail(cli_exit_run, "the run went " + format_general(stall_s, 3) +
                                      " s past its time: the acquisition did not stop in time; stopped");
    // No reading for longer than the link's time-outs allow: the instrument went silent.
    if (!stopped)
        return fail(cli_exit_link, "no reading for " + format_general(stall_s, 3) +
                                       " s: the instrument went silent (link lost); stopped");
    if (events->record_write_failed) {
        if (run_info.record_path.empty())
            return fail(cli_exit_file, "the record file could not be created in \"" + o.log_dir +
                                           "\": no reading was logged");
        return fail(cli_exit_file, "the record file \"" + run_info.record_path +
                                       "\" is incomplete: writing it failed during the run (" +
                                       std::to_string(logged_count) + " of " + std::to_string(total) +
                                       " readings logged)");
    }
    if (publish_code != cli_exit_ok)
        return fail(publish_code, "not every reading was published (see above); the spool keeps the rest");
    return cli_exit_ok;
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
    cmd->add_flag("--json", o->json, "Print one JSON document (summary, statistics, files, errors)");
    add_publish_options(cmd, o->publish);
    cmd->add_option("resource", o->resource, "VISA resource string")->required();
    cmd->callback([o, &context] {
        cli_report_t report("measure", o->json);
        context.exit_code = report.finish(run_measure(*o, report));
    });
}

}  // namespace velkaro_cli
