// Unattended runs of a whole project:
//
//   velkaro-cli run PROJECT.dmm [--time S] [--log-dir DIR] [--json] [--publish URL ...]
//
// Connects every instrument of the project (each with its own section, as a recall
// does), starts each one at once: a scan when its section enables a scanner channel,
// else the acquisition, with the saved settings and logging as the section says. With
// --log-dir each instrument logs into its own folder "DIR/<n>-<model>" (two instruments
// of one model would otherwise share a file name). --time S stops every instrument after
// S seconds (the acquisition by its own time stop, which keeps the last tick's readings).
// SIGINT or SIGTERM stops every instrument the same way and finishes the files.
//
// Instruments are opened, started and stopped side by side, each on its own thread: a
// slow or silent instrument delays only itself. A lost link is not the end of an
// instrument's run: it is opened again (first after 1 s, then at most every 30 s, for
// --reconnect-for S, by default for as long as the run lasts; --no-reconnect turns it
// off) and, when the same instrument answers, goes on with what it was doing, into the
// same files. Each gap is told on standard error and listed in the summary.
//
// An instrument that cannot be opened, loses its link, fails to write its file or stops
// delivering is reported on standard error and stopped; the others go on. At the end a
// summary per instrument goes to standard output (with --json one document). The exit
// code is that of the first failing instrument (cli_exit_t), cli_exit_ok when none failed.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <string>
#include <thread>
#include <vector>

#include "acq/acq_main.h"
#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "cfg/cfg_scan_config.h"
#include "cli/cli_commands.h"
#include "cli/cli_instrument.h"
#include "cli/cli_output.h"
#include "cli/cli_publish.h"
#include "common/plib_format.h"
#include "common/plib_number.h"
#include "remote/remote_main.h"
#include "scan/plib_scan_types.h"
#include "scan/scan_main.h"
#include "scan/scan_statistics.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_events.h"
#include "ui/mngr/plib_mngr_publish.h"
#include "ui/mngr/plib_reconnect.h"

namespace velkaro_cli {
namespace {

// Set by the signal handler, read by the command's loop and the stop watchdog (a
// lock-free atomic: safe in a handler and between threads).
std::atomic<int> s_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_stop_signal(int signal_number) { s_stop_signal = signal_number; }

// SIGINT and SIGTERM end the run cleanly instead of killing the process mid-write.
void install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// After SIGINT or SIGTERM the instruments get this long to stop and the files to be
// finished; an instrument that holds its link (silent, each command waiting out its
// time-out) must not hold the process too: a service manager kills it soon after.
constexpr auto stop_grace = std::chrono::seconds(5);

// Watches for a stop signal while the run goes on: when the run has not ended
// `stop_grace` after the signal, says so and ends the process with cli_exit_run ("did
// not stop in time"). Every log file is whole at every moment (each append ends at a
// line end and closes the file), so nothing written is lost. Joined by its owner.
class stop_watchdog_t {
public:
    stop_watchdog_t()
        : m_thread([this] {
              std::unique_lock<std::mutex> lock(m_mutex);
              while (!m_done) {
                  if (s_stop_signal != 0) {
                      if (m_wake.wait_for(lock, stop_grace, [this] { return m_done; })) return;
                      std::fprintf(stderr,
                                   "velkaro-cli run: signal %d: the instruments did not stop within %lld s; "
                                   "exiting (the files hold what was logged)\n",
                                   static_cast<int>(s_stop_signal),
                                   static_cast<long long>(stop_grace.count()));
                      std::fflush(stderr);
                      ::_exit(cli_exit_run);
                  }
                  m_wake.wait_for(lock, std::chrono::milliseconds(50));
              }
          }) {}
    ~stop_watchdog_t() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

struct run_options_t {
    std::string project;
    double time_s = -1.0;
    std::string log_dir;
    bool json = false;
    cli_publish_options_t publish;
    bool reconnect = true;
    double reconnect_for_s = 0.0;  // 0: as long as the run lasts
};

// What the reconnection supervisor of one instrument said last (its events arrive on the
// manager's event thread; the command's thread reads them).
struct reconnect_words_t {
    std::mutex mutex;
    std::string last;  // the words of the last refusal or give-up
    int listener = 0;
};

enum run_state_t { run_running, run_done, run_failed };

struct run_instrument_t {
    cfg_project_section_t section;
    std::unique_ptr<cli_opened_t> opened;  // null when the section was not opened
    // Publishes what the instrument logs; declared after `opened`, so it goes first.
    std::unique_ptr<plib_mngr_publish_t> feed;
    bool scanning = false;
    run_state_t state = run_running;
    int code = cli_exit_ok;
    std::string message;
    int visa_status = 0;
    std::string directory;  // where its files go ("" when it does not log)
    dir_snapshot_t before;
    double stall_s = 0.0;
    unsigned long long last_count = 0;
    std::chrono::steady_clock::time_point last_progress;
    bool told_write_failure = false;
    std::shared_ptr<reconnect_words_t> reconnect_words;

    std::string name() const { return section.model + " at " + section.resource; }
    cfg_main_t& cfg() const { return opened->guard.cfg(); }
    plib_mngr_t& mngr() const { return *opened->guard.mngr(); }
};

bool writable_directory(const std::string& dir) {
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) && ::access(dir.c_str(), W_OK) == 0;
}

unsigned long long readings_of(const run_instrument_t& in) {
    if (!in.opened) return 0;
    return in.scanning ? in.cfg().get_scan_run_state_info().readings_count : in.cfg().get_total_count();
}

bool is_running(const run_instrument_t& in) {
    if (!in.opened) return false;
    return in.scanning ? in.cfg().get_scan_run_state() == 1 : in.cfg().get_run_state() == 1;
}

// Stops an instrument; an acquisition by its own time stop at the next tick, so that
// the readings that tick fetches are kept and logged, then (bounded) by force.
void stop_instrument(run_instrument_t& in) {
    if (!is_running(in)) return;
    cfg_main_t& cfg = in.cfg();
    if (in.scanning) {
        cfg.set_scan_run_state(0);
        return;
    }
    if (!in.opened->events->link_lost) {
        cfg.set_auto_stop_mode(acq_auto_stop_by_time);
        cfg.set_stop_time(0.0);
        cfg.set_auto_enable(true);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(in.stall_s);
        for (int i = 0; i < 100000 && cfg.get_run_state() == 1 && std::chrono::steady_clock::now() < give_up;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (cfg.get_run_state() != 0) cfg.set_run_state(0);
}

void fail_instrument(run_instrument_t& in, cli_report_t& report, int code, const std::string& message,
                     int status = 0) {
    in.state = run_failed;
    in.code = code;
    in.message = message;
    in.visa_status = status;
    report.fail(code,
                "instrument " + std::to_string(in.section.position) + " (" + in.name() + "): " + message,
                status);
}

// Connects the section's instrument and starts it; on failure the instrument is marked.
void start_instrument(run_instrument_t& in, const run_options_t& o, cli_publisher_t& publisher,
                      cli_report_t& report) {
    cli_open_request_t request;
    request.model = in.section.model;
    request.resource = in.section.resource;
    request.section = in.section.node;
    in.opened = std::make_unique<cli_opened_t>(open_instrument(request));
    if (in.opened->result != cli_exit_ok) {
        const cli_opened_t failed = std::move(*in.opened);
        in.opened.reset();  // released now: nothing more goes to this instrument
        fail_instrument(in, report, failed.result, failed.message, failed.visa_status);
        return;
    }
    cfg_main_t& cfg = in.cfg();
    plib_mngr_t& mngr = in.mngr();
    note("run", "connected to the " + in.name() + " (" + cfg.manufacturer() + ", serial " +
                    cfg.serial_number() + ")");
    if (o.reconnect) {
        plib_reconnect_policy_t policy;
        policy.enabled = true;
        policy.give_up_s = o.reconnect_for_s;
        mngr.reconnect().set_policy(policy);
        auto words = std::make_shared<reconnect_words_t>();
        const std::string who = "instrument " + std::to_string(in.section.position) + " (" + in.name() + "): ";
        words->listener = mngr.events().add_listener([words, who, &report](const plib_mngr_event_t& e) {
            if (e.source != plib_mngr_event_t::source_mngr) return;
            report.warn(who + e.text);
            if (e.kind == mngr_notify_reconnect_refused || e.kind == mngr_notify_reconnect_gave_up) {
                std::lock_guard<std::mutex> lock(words->mutex);
                words->last = e.text;
            }
        });
        in.reconnect_words = words;
    }
    cfg_scan_config_t& scan = *cfg.get_scan_config();
    for (const auto& channel : scan.get_channel_params())
        if (channel.second.scan_state != 0) in.scanning = true;

    const std::string own_dir = o.log_dir.empty()
                                    ? std::string()
                                    : (std::filesystem::path(o.log_dir) /
                                       (std::to_string(in.section.position) + "-" + in.section.model))
                                          .string();
    if (!own_dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(own_dir, ec);
    }
    bool logs = false;
    if (in.scanning) {
        int card = 0;
        const int card_status = scan.query_scan_card(card);
        if (card_status != 0 || card == 0) {
            std::string why = "Failed to query that the device has a scan card installed!";
            if (card_status != 0) why += " (" + status_text(card_status) + ")";
            fail_instrument(in, report, card_status != 0 ? cli_exit_link : cli_exit_run, why, card_status);
            return;
        }
        if (!own_dir.empty()) scan.set_record_directory(own_dir);
        logs = scan.get_record_enable() != 0;
        in.directory = logs ? scan.get_record_directory() : std::string();
        scan.set_start_mode(0);  // the run is the start
        if (o.time_s >= 0) {
            scan.set_stop_mode(scan_stop_after_duration);
            scan.set_stop_duration(o.time_s);
            // The card sweeps until the run's time is up, as `scan --time` does (a count
            // of sweeps saved in the section would leave it idle after that count).
            scan.set_auto_count(1);
        }
    } else {
        if (!own_dir.empty()) cfg.set_record_directory(own_dir);
        logs = cfg.get_record_position() != 0;
        in.directory = logs ? cfg.get_record_directory() : std::string();
        if (o.time_s >= 0) {
            cfg.set_auto_stop_mode(acq_auto_stop_by_time);
            cfg.set_stop_time(o.time_s);
            cfg.set_auto_enable(true);
        }
    }
    // The engines log nothing, silently, into a folder that is not there: say so at once,
    // and let the exit code say that the run did not log as the project asked.
    if (logs && !writable_directory(in.directory)) {
        in.code = cli_exit_file;
        in.message = "cannot write to the log folder \"" + in.directory + "\"";
        report.fail(cli_exit_file, "instrument " + std::to_string(in.section.position) + " (" + in.name() +
                                       "): " + in.message + "; it runs without logging");
    }
    in.before = snapshot_dir(in.directory);
    in.stall_s =
        stall_limit_s(cfg, mngr, in.scanning ? scan.get_scan_delay() + 0.5 : cfg.get_interval_ms() / 1000.0);

    if (in.scanning && scan.apply_scan_config() != 0) {
        fail_instrument(in, report, cli_exit_link, "the scanner card refused its configuration");
        return;
    }
    in.feed = publisher.attach(mngr);
    if (in.scanning)
        cfg.set_scan_run_state(1);
    else
        cfg.set_run_state(1);
    if (!is_running(in)) {
        mngr.events().flush(2000);  // what the engines said about the failed start
        if (in.opened->events->link_lost) {
            int status = 0;
            const std::string what =
                describe_link_lost(cfg, mngr, in.section.model, in.section.resource, &status);
            fail_instrument(in, report, cli_exit_link, what, status);
        } else {
            fail_instrument(in, report, cli_exit_run,
                            in.scanning ? "the scan could not be started" : "the acquisition did not start");
        }
        return;
    }
    in.last_progress = std::chrono::steady_clock::now();
}

// One look at a running instrument: a lost link, a failed file, a stall or its own stop.
void watch_instrument(run_instrument_t& in, cli_report_t& report) {
    const auto now = std::chrono::steady_clock::now();
    const unsigned long long count = readings_of(in);
    if (count != in.last_count) {
        in.last_count = count;
        in.last_progress = now;
    }
    cli_run_events_t& events = *in.opened->events;
    if (in.reconnect_words) {
        switch (in.mngr().reconnect().state()) {
            case plib_reconnect_t::state_reconnecting:
                in.last_progress = now;  // no stall while the link is away
                return;
            case plib_reconnect_t::state_refused:
            case plib_reconnect_t::state_gave_up: {
                stop_instrument(in);
                std::string why;
                {
                    std::lock_guard<std::mutex> lock(in.reconnect_words->mutex);
                    why = in.reconnect_words->last;
                }
                fail_instrument(in, report, cli_exit_link,
                                why + "; " + std::to_string(readings_of(in)) + " readings taken");
                return;
            }
            case plib_reconnect_t::state_idle:
                // A loss the supervisor has already mended.
                if (events.link_lost) events.link_lost = false;
                break;
        }
    }
    if (events.link_lost) {
        stop_instrument(in);
        int status = 0;
        const std::string what =
            describe_link_lost(in.cfg(), in.mngr(), in.section.model, in.section.resource, &status);
        fail_instrument(in, report, cli_exit_link,
                        what + "; " + std::to_string(readings_of(in)) + " readings taken", status);
        return;
    }
    if (events.record_write_failed && !in.told_write_failure) {
        // Its run goes on (the readings stay in the buffer), but the run as a whole failed.
        in.told_write_failure = true;
        in.code = cli_exit_file;
        in.message = "writing the record file failed after " + std::to_string(count) + " readings";
        report.fail(cli_exit_file, "instrument " + std::to_string(in.section.position) + " (" + in.name() +
                                       "): " + in.message + "; logging is off, the run goes on");
    }
    if (!is_running(in)) {
        if (in.state == run_running) in.state = in.code == cli_exit_ok ? run_done : run_failed;
        return;
    }
    if (std::chrono::duration<double>(now - in.last_progress).count() > in.stall_s) {
        stop_instrument(in);
        // An instrument that stopped answering is a lost link, not a run that failed to stop.
        fail_instrument(in, report, cli_exit_link,
                        "no reading for " + format_general(in.stall_s, 3) +
                            " s: the instrument went silent (link lost); stopped");
    }
}

// "2026-12-11 04:10:12.345", local time.
std::string local_time_text(int64_t us) {
    const std::time_t t = static_cast<std::time_t>(us / 1000000);
    std::tm tm {};
    localtime_r(&t, &tm);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>((us / 1000) % 1000));
    return text;
}

std::string value_text(double v) {
    if (!std::isfinite(v)) return "-";
    if (is_overload(std::fabs(v))) return v < 0 ? "-OVERLOAD" : "OVERLOAD";
    return format_general(v, 10);
}

// The per-instrument summary: into the document, and as text.
std::string summarize(run_instrument_t& in, nlohmann::json& j) {
    std::string text = "instrument " + std::to_string(in.section.position) + ": " + in.name() + "\n";
    j = {{"position", in.section.position},
         {"model", in.section.model},
         {"resource", in.section.resource},
         {"kind", in.scanning ? "scan" : "measure"}};
    std::vector<std::string> files;  // this instrument's own files, as its engine made them
    if (in.opened) {
        cfg_main_t& cfg = in.cfg();
        if (in.scanning) {
            const plib_scan_run_state_t s = cfg.get_scan_run_state_info();
            plib_scan_statistic_map_t stats;
            in.mngr().get_scan()->m_scan_statistic_data_msg.fetch(stats);
            j["readings"] = s.readings_count;
            if (!in.directory.empty()) j["readings_logged"] = s.readings_logged;
            files = s.files;
            j["elapsed_s"] = s.elapsed_s;
            j["channels"] = nlohmann::json::array();
            text += "  scan: " + std::to_string(s.readings_count) + " readings in " +
                    format_general(s.elapsed_s, 4) + " s\n";
            if (!in.directory.empty()) text += "  readings logged: " + std::to_string(s.readings_logged) + "\n";
            for (const auto& [ch, st] : stats) {
                j["channels"].push_back({{"channel", ch},
                                         {"min", number_json(st.min)},
                                         {"max", number_json(st.max)},
                                         {"average", number_json(st.average)},
                                         {"count", st.count}});
                text += "  channel " + std::to_string(ch) + ": min " + value_text(st.min) + ", max " +
                        value_text(st.max) + ", average " + value_text(st.average) + ", count " +
                        std::to_string(st.count) + "\n";
            }
        } else {
            unsigned int in_buffer = 0;
            in.mngr().get_acq()->m_acq_original_data_num_msg.fetch(in_buffer);
            const plib_record_run_state_info_t info = cfg.get_run_state_info();
            // What reached the file: none when it could not be made, fewer when it failed.
            const bool logs = !in.directory.empty();
            if (logs && !info.record_path.empty()) files.push_back(info.record_path);
            const double rate = info.elapsed_s > 0 ? info.total_count / info.elapsed_s : 0.0;
            j["readings"] = info.total_count;
            j["readings_logged"] = logs ? nlohmann::json(info.logged_count) : nlohmann::json();
            j["readings_in_buffer"] = in_buffer;
            j["dropped"] = info.dropped_count;
            j["elapsed_s"] = info.elapsed_s;
            j["rate"] = rate;
            j["statistics"] = statistics_json(info.statistics);
            text += "  readings: " + std::to_string(info.total_count) + "\n";
            if (logs) text += "  readings logged: " + std::to_string(info.logged_count) + "\n";
            text += "  rate: " + format_general(rate, 6) + " readings/s\n";
            text += statistics_text(info.statistics, "  ");
        }
    }
    if (in.opened && in.reconnect_words) {
        // Each outage of the link: when, and the readings of the run before it and from it on.
        const unsigned long long total = readings_of(in);
        j["gaps"] = nlohmann::json::array();
        for (const plib_link_gap_t& g : in.mngr().reconnect().gaps()) {
            const unsigned long long after = total >= g.readings_before ? total - g.readings_before : 0;
            j["gaps"].push_back({{"start", local_time_text(g.start_us)},
                                 {"end", g.end_us != 0 ? nlohmann::json(local_time_text(g.end_us)) : nlohmann::json()},
                                 {"seconds", g.end_us != 0 ? nlohmann::json((g.end_us - g.start_us) / 1e6)
                                                           : nlohmann::json()},
                                 {"readings_before", g.readings_before},
                                 {"readings_after", after},
                                 {"resumed", g.resumed},
                                 {"kept_running", g.kept_running}});
            text += "  gap: " + local_time_text(g.start_us) + " to " +
                    (g.end_us != 0 ? local_time_text(g.end_us) : std::string("(not back)")) + ", " +
                    std::to_string(g.readings_before) + " readings before, " + std::to_string(after) +
                    " after\n";
        }
    }
    j["files"] = files;
    for (const std::string& f : files) text += "  file: " + f + "\n";
    // Sections a signal reached before they were opened: not run, and no failure either.
    const bool started = in.opened || in.code != cli_exit_ok;
    if (!started) {
        j["status"] = "not started";
        j["error"] = nullptr;
        return text + "  status: not started (stopped first)\n";
    }
    j["status"] = in.code == cli_exit_ok ? "ok" : "failed";
    j["error"] = in.code == cli_exit_ok ? nlohmann::json() : error_json(in.code, in.message, in.visa_status);
    text += "  status: " + (in.code == cli_exit_ok ? std::string("ok") : "failed: " + in.message) + "\n";
    return text;
}

int run_project(const run_options_t& o, cli_report_t& report) {
    report.doc() = {{"project", o.project}, {"instruments", nlohmann::json::array()}};
    // NaN passes every range check (each comparison is false) and would never end a run.
    if (std::isnan(o.time_s)) return report.fail(cli_exit_usage, "--time must be a number of seconds");
    if (!o.log_dir.empty() && !writable_directory(o.log_dir))
        return report.fail(cli_exit_usage, "cannot write to the log directory \"" + o.log_dir + "\"");
    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    if (!cfg_project_file::list_sections(doc, o.project, sections))
        return report.fail(cli_exit_usage, "\"" + o.project + "\" is not a project file");
    // The targets and their spools before any instrument: a bad option touches nothing.
    // Declared before the instruments, whose feeds hold on to it.
    cli_publisher_t publisher;
    {
        std::string message;
        const cli_exit_t opened_publisher = publisher.open(o.publish, message);
        if (opened_publisher != cli_exit_ok) return report.fail(opened_publisher, message);
    }
    std::vector<std::unique_ptr<run_instrument_t>> instruments;
    for (const cfg_project_section_t& s : sections) {
        if (!s.supported || s.resource.empty()) {
            report.warn("project " + std::to_string(s.position) + " (" + s.model +
                        "): " + (s.supported ? "no resource" : "unsupported model") + ", skipped");
            continue;
        }
        auto in = std::make_unique<run_instrument_t>();
        in->section = s;
        instruments.push_back(std::move(in));
    }
    if (instruments.empty()) return report.fail(cli_exit_usage, "the project has no instrument to run");
    // One instrument, one section: a resource listed twice would be opened (and fail,
    // each after its own time-out) once per copy. Refused before anything is opened.
    {
        std::map<std::string, int> first_position;
        for (const auto& in : instruments) {
            const auto [it, fresh] = first_position.emplace(in->section.resource, in->section.position);
            if (!fresh)
                return report.fail(cli_exit_usage, "the project lists " + in->section.resource + " twice (" +
                                                       std::to_string(it->second) + " and " +
                                                       std::to_string(in->section.position) +
                                                       "): one section per instrument");
        }
    }

    s_stop_signal = 0;
    install_stop_handlers();
    const stop_watchdog_t watchdog;
    {
        // Side by side: one instrument's slow set-up delays nobody else's.
        std::vector<std::thread> starts;
        for (auto& in : instruments) {
            run_instrument_t* one = in.get();
            starts.emplace_back([one, &o, &publisher, &report] {
                if (s_stop_signal == 0) start_instrument(*one, o, publisher, report);
            });
        }
        for (std::thread& t : starts) t.join();
    }

    // Bounded by the run itself: with --time every instrument ends by then (plus its
    // stall limit); without, each is watched for stalls and the run ends with them, or
    // by a signal.
    double longest_stall = 0.0;
    for (const auto& in : instruments) longest_stall = std::max(longest_stall, in->stall_s);
    const auto begin = std::chrono::steady_clock::now();
    const auto deadline = begin + std::chrono::duration<double>(o.time_s >= 0 ? o.time_s + longest_stall : 0);
    cli_progress_t progress;
    bool timed_out = false;
    for (;;) {
        std::size_t running = 0;
        unsigned long long readings = 0;
        std::size_t files = 0;
        for (auto& in : instruments) {
            if (in->state != run_running || !in->opened) continue;
            watch_instrument(*in, report);
            if (in->state == run_running) ++running;
            readings += readings_of(*in);
            if (progress.enabled()) files += files_written(in->directory, in->before).size();
        }
        if (running == 0 || s_stop_signal != 0) break;
        if (o.time_s >= 0 && std::chrono::steady_clock::now() > deadline) {
            timed_out = true;
            break;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        progress.draw(std::to_string(running) + " of " + std::to_string(instruments.size()) + " running, " +
                      progress_text(readings, elapsed, files));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    progress.finish();
    if (s_stop_signal != 0)
        note("run",
             "signal " + std::to_string(static_cast<int>(s_stop_signal)) + ": stopping every instrument");
    auto finish_one = [&](run_instrument_t* in) {
        if (!in->opened) return;
        if (in->reconnect_words) {
            // An outage the run's end overtook: the instrument is not back.
            const bool away = in->mngr().reconnect().state() == plib_reconnect_t::state_reconnecting;
            in->mngr().reconnect().cancel();
            in->mngr().events().remove_listener(in->reconnect_words->listener);
            if (away && in->state == run_running) {
                stop_instrument(*in);
                fail_instrument(*in, report, cli_exit_link,
                                "the link to the " + in->name() + " was lost and had not come back when the run ended; " +
                                    std::to_string(readings_of(*in)) + " readings taken");
            }
        }
        const bool was_running = in->state == run_running && is_running(*in);
        stop_instrument(*in);
        if (was_running && timed_out)
            fail_instrument(*in, report, cli_exit_run,
                            "it went past its time: it did not stop in time; stopped");
        else if (in->state == run_running)
            in->state = in->code == cli_exit_ok ? run_done : run_failed;
        unwatch_run(in->mngr());
        in->feed.reset();  // after the run's last batch
        // The link engine calls a link lost only after several failures in a row: a link
        // that broke in the run's last ticks would pass for a good run. Ask once.
        if (in->state == run_done && in->code == cli_exit_ok) {
            std::string reply;
            const int status = in->mngr().get_remote()->query(
                static_cast<unsigned long>(in->cfg().get_info().session), "*IDN?\n", reply);
            // A reply cut at the read limit (VI_SUCCESS_MAX_CNT) or without its line end is
            // no identification either.
            if (status < 0)
                fail_instrument(*in, report, cli_exit_link,
                                "the link to the " + in->name() + " failed at the end of the run (" +
                                    status_text(status) + ")",
                                status);
            else if (status != 0 || reply.empty() || reply.back() != '\n')
                fail_instrument(*in, report, cli_exit_link,
                                "the " + in->name() + " gave no whole identification at the end of the run",
                                status);
        }
    };
    {
        // Side by side, as they started.
        std::vector<std::thread> stops;
        for (auto& in : instruments) stops.emplace_back(finish_one, in.get());
        for (std::thread& t : stops) t.join();
    }

    int code = cli_exit_ok;
    std::string text;
    for (auto& in : instruments) {
        nlohmann::json j;
        text += summarize(*in, j);
        report.doc()["instruments"].push_back(j);
        if (code == cli_exit_ok) code = in->code;
    }
    report.doc()["stopped_by_signal"] = s_stop_signal != 0;
    if (!report.json()) write_results(text);
    const int publish_code = publisher.finish(report);
    if (code == cli_exit_ok && publish_code != cli_exit_ok) {
        code = publish_code;
        report.fail(code, "not every reading was published (see above); the spool keeps the rest");
    }
    // Instruments are released (disconnected) here, in order.
    instruments.clear();
    return code;
}

}  // namespace

void register_run_commands(CLI::App& app, cli_context_t& context) {
    auto o = std::make_shared<run_options_t>();
    CLI::App* cmd = app.add_subcommand(
        "run", "Run every instrument of a project with its saved settings until stopped (Ctrl-C, SIGTERM)");
    cmd->add_option("project", o->project, "Project file (.dmm)")->required();
    cmd->add_option("--time", o->time_s, "Stop every instrument after S seconds")
        ->check(CLI::Range(0.0, 1e7));
    cmd->add_option("--log-dir", o->log_dir, "Write each instrument's files into DIR/<n>-<model>");
    cmd->add_flag("--json", o->json, "Print one JSON document (summary per instrument, files, errors)");
    add_publish_options(cmd, o->publish);
    cmd->add_flag("!--no-reconnect", o->reconnect,
                  "Do not open an instrument again after a lost link (by default it is, and its run goes on)");
    cmd->add_option("--reconnect-for", o->reconnect_for_s,
                    "Give up reconnecting an instrument after S seconds (default: never)")
        ->check(CLI::Range(0.0, 1e9));
    cmd->callback([o, &context] {
        cli_report_t report("run", o->json);
        context.exit_code = report.finish(run_project(*o, report));
    });
}

}  // namespace velkaro_cli
