// Scan subcommand:
//
//   velkaro-cli scan --model M --channels 1,3,5 [--func CH=NAME] [--sweeps N | --time S]
//                    [--mode scan|step] [--delay S] [--log-dir DIR --file-mode single|per-channel]
//                    [--export DIR] [--json] [--publish URL ... --station NAME ...] RESOURCE
//
// Opens the instrument (open_instrument: identification, "*RST", configuration),
// programs the scanner card, runs until the stop condition (N sweeps, by default 1, or
// S seconds), drawing progress on a terminal's standard error, then prints each scanned
// channel's statistics and the files written (with --json one document of the same facts). NAME is a scanner
// keyword ("DCV", "ACV", "RES", ...) or a SCPI mnemonic
// ("VOLT", ...). The card is checked first ("ROUT:STAT?"). Exit codes (cli_exit_t):
// connect, model; usage for a refused setting; link when the card refuses its
// configuration or the link is lost (at once); run when there is no card, the scan did
// not start or delivered nothing for longer than the link's time-outs and the channel
// delay allow; file when the export fails or a log file could not be written (said on
// stderr at once; the run goes on).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "cli/cli_commands.h"
#include "cli/cli_instrument.h"
#include "cli/cli_output.h"
#include "cli/cli_publish.h"
#include "common/plib_format.h"
#include "common/plib_model_registry.h"
#include "common/plib_number.h"
#include "scan/scan_main.h"
#include "scan/scan_statistics.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_events.h"
#include "ui/mngr/plib_mngr_publish.h"

namespace velkaro_cli {
namespace {

struct scan_options_t {
    std::string model;
    std::string resource;
    std::vector<int> channels;
    std::vector<std::string> funcs;  // "CH=NAME"
    int sweeps = 0;
    double time_s = 0.0;
    std::string mode = "scan";
    double delay = -1.0;  // < 0: the model's default
    std::string log_dir;
    std::string file_mode = "single";
    std::string export_dir;
    bool json = false;
    cli_publish_options_t publish;
};

plib_measure_type_t parse_func(const std::string& name) {
    for (const auto* table : {&measure_short_table(), &measure_scpi_table(), &measure_name_table()})
        for (const auto& entry : *table)
            if (entry.second == name) return entry.first;
    return measure_none;
}

std::string value_text(double v) {
    if (!std::isfinite(v)) return "-";
    if (is_overload(std::fabs(v))) return v < 0 ? "-OVERLOAD" : "OVERLOAD";
    return format_general(v, 10);
}

// Applies the channel selection and functions to the configuration; "" or the reason
// the request cannot be served.
std::string configure_channels(const scan_options_t& o, cfg_scan_config_t& config) {
    plib_scanner_channel_map_t params = config.get_channel_params();
    for (auto& entry : params) entry.second.scan_state = 0;
    for (int ch : o.channels) {
        if (params.count(ch) == 0) return "channel " + std::to_string(ch) + " does not exist";
        params[ch].scan_state = 1;
        if (params[ch].scan_counts < 1) params[ch].scan_counts = 1;
    }
    plib_scan_channel_funcs_t allowed;
    config.get_channel_funcs(allowed);
    for (const std::string& f : o.funcs) {
        const auto eq = f.find('=');
        int ch = 0;
        std::istringstream in(eq == std::string::npos ? std::string() : f.substr(0, eq));
        if (!(in >> ch) || !in.eof() || params.count(ch) == 0) return "bad --func " + f;
        const plib_measure_type_t type = parse_func(f.substr(eq + 1));
        const auto it = allowed.find(ch);
        if (type == measure_none || it == allowed.end() ||
            std::find(it->second.begin(), it->second.end(), type) == it->second.end())
            return "channel " + std::to_string(ch) + " cannot measure " + f.substr(eq + 1);
        params[ch].func = type;
        std::vector<std::string> ranges;
        config.get_ranges(type, ranges);
        params[ch].range = ranges.empty() ? std::string() : ranges.front();
    }
    config.set_channel_params(params);
    int first = 0, last = 0;
    for (int ch : o.channels) {
        if (first == 0 || ch < first) first = ch;
        if (ch > last) last = ch;
    }
    config.set_limit_channels(first, last);
    return "";
}

// The scan engine's report of a log file it could not write (set by the engine's
// threads, read by the command's). Watched from the start, which may fail to create
// the log; stop_watching must run before the manager goes.
struct scan_write_watch_t {
    std::shared_ptr<std::atomic<bool>> failed = std::make_shared<std::atomic<bool>>(false);
    bool told = false;
    plib_mngr_events_t* events = nullptr;
    int listener = 0;

    void watch(plib_mngr_t& mngr) {
        events = &mngr.events();
        listener = events->add_listener([failed = failed](const plib_mngr_event_t& e) {
            if (e.source == plib_mngr_event_t::source_scan && e.kind == scan_notify_record_write_failed)
                failed->store(true);
        });
    }
    // Also hears what the engine reported up to now (the events pass through the fan-out).
    void stop_watching() {
        if (events == nullptr) return;
        events->flush(2000);
        events->remove_listener(listener);
        events = nullptr;
    }
    // Tells the user once, at once, on stderr: the run goes on, readings stay in memory.
    void tell(unsigned readings) {
        if (told || !failed->load()) return;
        told = true;
        std::fprintf(stderr,
                     "velkaro-cli scan: writing the log file failed after %u readings; logging is off, "
                     "the run goes on\n",
                     readings);
        std::fflush(stderr);
    }
};

int run_scan(const scan_options_t& o, cli_report_t& report) {
    report.doc() = {{"model", o.model}, {"resource", o.resource}, {"channels", nlohmann::json::array()}};
    cli_open_request_t request;
    request.model = o.model;
    request.resource = o.resource;
    // The targets and their spools before the instrument: a bad option touches nothing.
    cli_publisher_t publisher;
    {
        std::string message;
        const cli_exit_t opened_publisher = publisher.open(o.publish, message);
        if (opened_publisher != cli_exit_ok) return report.fail(opened_publisher, message);
    }
    const cli_opened_t opened = open_instrument(request);
    if (opened.result != cli_exit_ok) return report.fail(opened.result, opened.message, opened.visa_status);
    note("scan", "connected to the " + o.model + " at " + o.resource + " (" +
                     opened.guard.cfg().manufacturer() + ", serial " + opened.guard.cfg().serial_number() +
                     ")");
    cfg_main_t* cfg = &opened.guard.cfg();
    scan_main_t* engine = opened.guard.mngr()->get_scan();
    cfg_scan_config_t* config = cfg->get_scan_config();
    int code = cli_exit_ok;
    auto fail = [&](const std::string& why, int c, int status = 0) { code = report.fail(c, why, status); };
    // The link is gone: say so with the status the session gives now.
    auto fail_link_lost = [&](const std::string& suffix) {
        int status = 0;
        const std::string what = describe_link_lost(*cfg, *opened.guard.mngr(), o.model, o.resource, &status);
        fail(what + suffix, cli_exit_link, status);
    };
    plib_mngr_t& mngr = *opened.guard.mngr();
    const std::shared_ptr<cli_run_events_t> events = opened.events;
    // The system's own card query first: without a card nothing below can work.
    int card = 0;
    const int card_status = config->query_scan_card(card);
    mngr.events().flush(2000);  // a link lost by the query is heard before we go on
    if (events->link_lost) {
        unwatch_run(mngr);
        fail_link_lost("");
        return code;
    }
    if (card_status != 0 || card == 0) {
        unwatch_run(mngr);
        config->set_scan_enable(0);
        std::string why = "Failed to query that the device has a scan card installed!";
        if (card_status != 0) why += " (" + status_text(card_status) + ")";
        fail(why, card_status != 0 ? cli_exit_link : cli_exit_run, card_status);
        return code;
    }
    const std::string why = configure_channels(o, *config);
    if (!why.empty()) fail(why, cli_exit_usage);
    config->set_scan_mode(o.mode == "step" ? 1 : 0);
    if (o.delay >= 0.0) {
        config->set_scan_delay(o.delay);
        if (config->get_scan_delay() != o.delay) fail("delay out of range", cli_exit_usage);
    }
    const int sweeps = o.time_s > 0.0 ? 0 : (o.sweeps > 0 ? o.sweeps : 1);
    if (sweeps > 0) {
        config->set_stop_mode(scan_stop_after_sweeps);
        config->set_stop_scan_count(sweeps);
        if (config->get_stop_scan_count() != sweeps) fail("sweep count out of range", cli_exit_usage);
        config->set_auto_count(0);
    } else {
        config->set_stop_mode(scan_stop_after_duration);
        config->set_stop_duration(o.time_s);
        config->set_auto_count(1);
    }
    config->set_start_mode(0);
    config->set_record_directory(o.log_dir);
    config->set_record_enable(o.log_dir.empty() ? 0 : 1);
    config->set_file_mode(o.file_mode == "per-channel" ? scan_file_mode_per_channel : scan_file_mode_single);

    if (code == cli_exit_ok && config->apply_scan_config() != 0)
        fail("the scanner card refused its configuration", cli_exit_link);
    if (code != cli_exit_ok) unwatch_run(mngr);
    scan_write_watch_t write_watch;
    // Every reading the scan logs is published (tags taken now, with the channels set).
    std::unique_ptr<plib_mngr_publish_t> feed = code == cli_exit_ok ? publisher.attach(mngr) : nullptr;
    if (code == cli_exit_ok) {
        write_watch.watch(mngr);
        cfg->set_scan_run_state(1);
        if (cfg->get_scan_run_state() != 1) {
            unwatch_run(mngr);
            if (events->link_lost)
                fail_link_lost("");
            else
                fail("the scan could not be started", cli_exit_run);
        }
    }
    if (code == cli_exit_ok) {
        // Bound by the run itself: a healthy card delivers a reading at least every stall
        // limit (the link's time-outs plus the channel delay), a run by time ends at its time.
        const double stall_s = stall_limit_s(*cfg, mngr, config->get_scan_delay() + 0.5);
        const auto begin = std::chrono::steady_clock::now();
        const dir_snapshot_t before = snapshot_dir(o.log_dir);
        const dir_snapshot_t before_export = snapshot_dir(o.export_dir);
        cli_progress_t progress;
        auto last_progress = begin;
        unsigned last_count = 0;
        const int sweep_readings = std::max(1, config->get_sweep_readings());
        while (cfg->get_scan_run_state() == 1) {
            const auto now = std::chrono::steady_clock::now();
            const plib_scan_run_state_t s = cfg->get_scan_run_state_info();
            if (s.readings_count != last_count) {
                last_count = s.readings_count;
                last_progress = now;
            }
            write_watch.tell(s.readings_count);
            if (events->link_lost) {
                cfg->set_scan_run_state(0);
                progress.finish();
                const plib_scan_run_state_t now_state = cfg->get_scan_run_state_info();
                fail_link_lost("; " + std::to_string(last_count) + " readings taken" +
                               (o.log_dir.empty() ? std::string()
                                                  : ", " + std::to_string(now_state.readings_logged) + " logged"));
                break;
            }
            const double since_progress = std::chrono::duration<double>(now - last_progress).count();
            const double since_begin = std::chrono::duration<double>(now - begin).count();
            if (since_progress > stall_s || (sweeps == 0 && since_begin > o.time_s + stall_s)) {
                cfg->set_scan_run_state(0);
                progress.finish();
                if (since_progress > stall_s)
                    fail("no reading for " + format_general(since_progress, 3) +
                             " s: the instrument went silent (link lost); stopped",
                         cli_exit_link);
                else
                    fail("the run went past its time: it did not stop in time; stopped", cli_exit_run);
                break;
            }
            if (progress.enabled())
                progress.draw(
                    progress_text(s.readings_count, s.elapsed_s, files_written(o.log_dir, before).size()) +
                    ", " + std::to_string((s.readings_count + sweep_readings - 1) / sweep_readings) +
                    " sweeps");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        progress.finish();
        unwatch_run(mngr);
        write_watch.stop_watching();
        feed.reset();  // after the run's last batch (the feed flushes the events first)
        const plib_scan_run_state_t final_state = cfg->get_scan_run_state_info();
        write_watch.tell(final_state.readings_count);  // a failure of the last tick
        plib_scan_statistic_map_t stats;
        engine->m_scan_statistic_data_msg.fetch(stats);
        const auto& params = config->get_channel_params();
        nlohmann::json& doc = report.doc();
        doc["readings"] = final_state.readings_count;
        if (!o.log_dir.empty()) doc["readings_logged"] = final_state.readings_logged;
        doc["sweeps"] = (final_state.readings_count + sweep_readings - 1) / sweep_readings;
        doc["elapsed_s"] = final_state.elapsed_s;
        std::string text;
        if (!o.log_dir.empty()) text += "readings logged: " + std::to_string(final_state.readings_logged) + "\n";
        for (int ch : o.channels) {
            const auto it = stats.find(ch);
            const auto p = params.find(ch);
            const std::string func =
                p == params.end() ? "" : measure_name(static_cast<plib_measure_type_t>(p->second.func));
            if (it == stats.end()) {
                text += "channel " + std::to_string(ch) + ": no readings\n";
                doc["channels"].push_back({{"channel", ch}, {"function", func}, {"count", 0}});
                continue;
            }
            const bool alarm = scan_channel_in_alarm(it->second, p == params.end() ? nullptr : &p->second);
            text += "channel " + std::to_string(ch) + " (" + func + "): min " + value_text(it->second.min) +
                    ", max " + value_text(it->second.max) + ", average " + value_text(it->second.average) +
                    ", count " + std::to_string(it->second.count) + ", alarm " +
                    (alarm ? "Over Limit" : "none") + "\n";
            doc["channels"].push_back({{"channel", ch},
                                       {"function", func},
                                       {"min", number_json(it->second.min)},
                                       {"max", number_json(it->second.max)},
                                       {"average", number_json(it->second.average)},
                                       {"overload_min", is_overload(std::fabs(it->second.min))},
                                       {"overload_max", is_overload(std::fabs(it->second.max))},
                                       {"count", it->second.count},
                                       {"alarm", alarm}});
        }
        if (!o.export_dir.empty() && config->export_data(o.export_dir) != 0)
            fail("export failed", cli_exit_file);
        if (code == cli_exit_ok && write_watch.failed->load())
            fail("the log file is incomplete: writing it failed during the run", cli_exit_file);
        // The run's own log files (another process may log into the same directory).
        std::vector<std::string> files = final_state.files;
        if (!o.export_dir.empty()) {
            for (const std::string& f : files_written(o.export_dir, before_export))
                if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
        }
        for (const std::string& f : files) text += "file: " + f + "\n";
        doc["files"] = files;
        if (!report.json()) write_results(text);
        const int publish_code = publisher.finish(report);
        if (code == cli_exit_ok && publish_code != cli_exit_ok)
            fail("not every reading was published (see above); the spool keeps the rest", publish_code);
    }
    feed.reset();
    write_watch.stop_watching();
    return code;
}

}  // namespace

void register_scan_commands(CLI::App& app, cli_context_t& context) {
    auto options = std::make_shared<scan_options_t>();
    std::vector<std::string> models;
    model_registry_t::instance().model_list(model_registry_t::list_all, models);

    CLI::App* scan =
        app.add_subcommand("scan", "Program the scanner card, scan, print per-channel statistics");
    scan->add_option("--model", options->model, "Instrument model")->required()->check(CLI::IsMember(models));
    scan->add_option("--channels", options->channels, "Channels to scan, e.g. 1,3,5")
        ->required()
        ->delimiter(',')
        ->check(CLI::Range(1, 16));
    scan->add_option("--func", options->funcs, "Function of a channel, CH=NAME (DCV, ACV, RES, ...)");
    auto* sweeps = scan->add_option("--sweeps", options->sweeps, "Stop after N sweeps (default 1)")
                       ->check(CLI::Range(1, 999));
    auto* time =
        scan->add_option("--time", options->time_s, "Stop after S seconds")->check(CLI::Range(0.001, 1e6));
    sweeps->excludes(time);
    scan->add_option("--mode", options->mode, "scan or step")->check(CLI::IsMember({"scan", "step"}));
    scan->add_option("--delay", options->delay, "Seconds between channels")->check(CLI::Range(0.0, 999.0));
    auto* log_dir = scan->add_option("--log-dir", options->log_dir, "Folder of the log files");
    scan->add_option("--file-mode", options->file_mode, "single or per-channel")
        ->check(CLI::IsMember({"single", "per-channel"}))
        ->needs(log_dir);
    scan->add_option("--export", options->export_dir,
                     "Export the readings to per-channel files in this folder");
    scan->add_flag("--json", options->json,
                   "Print one JSON document (statistics per channel, files, errors)");
    add_publish_options(scan, options->publish);
    scan->add_option("resource", options->resource, "VISA resource string")->required();
    scan->callback([options, &context] {
        cli_report_t report("scan", options->json);
        context.exit_code = report.finish(run_scan(*options, report));
    });
}

}  // namespace velkaro_cli
