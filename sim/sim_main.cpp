// vx_sim: one simulated multimeter of the VXA or VXB family on a loopback address,
// reachable over VXI-11 (with its own portmapper) and a raw SCPI socket at once.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <iostream>

#include "sim_instrument.h"
#include "sim_options.h"
#include "sim_server.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void on_stop_signal(int) { g_stop.store(true); }

constexpr int exit_bind_failed = 2;

}  // namespace

int main(int argc, char** argv) {
    vx_sim::sim_options_t opt;
    CLI::App app{"vx_sim: simulated VXA/VXB bench multimeter (VXI-11 and raw SCPI socket)"};
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--model", opt.model, "Instrument model")
        ->check(CLI::IsMember({"VXA-1", "VXA-2", "VXA-2E", "VXA-3", "VXB-1", "VXB-2", "VXB-3"}))
        ->capture_default_str();
    app.add_option("--address", opt.address, "Loopback address to bind (127.x.y.z)")->capture_default_str();
    app.add_option("--portmapper-port", opt.portmapper_port, "Portmapper port (TCP and UDP)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--vxi11-port", opt.vxi11_port, "VXI-11 core channel port (0: any)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--socket-port", opt.socket_port, "Raw SCPI socket port")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--serial", opt.serial, "Serial number in *IDN?")->capture_default_str();
    app.add_option("--firmware", opt.firmware, "Firmware version in *IDN?")->capture_default_str();
    app.add_flag("--scan-card,!--no-scan-card", opt.scan_card,
                 "A 16-channel scanner card is fitted (default)");
    app.add_option("--private-model", opt.private_model, "Private model name reported (default: the model)");
    app.add_option("--log", opt.log_path, "Log every command received to FILE (\"-\": standard error)");
    app.add_option("--reply-delay", opt.reply_delay_ms, "Delay every reply by MS milliseconds")
        ->check(CLI::Range(0, 600000));
    app.add_option("--drop-after", opt.drop_after, "Close all links after N commands")
        ->check(CLI::Range(0LL, 1LL << 40));
    app.add_option("--drop-at", opt.drop_at_s, "Close all links SECONDS after start")
        ->check(CLI::Range(0.0, 1e7));
    app.add_option("--outage-after", opt.outage_after,
                   "After N commands drop the network for --outage-for seconds; the instrument keeps measuring")
        ->check(CLI::Range(0LL, 1LL << 40));
    app.add_option("--outage-for", opt.outage_s, "Length of the outage of --outage-after in seconds")
        ->check(CLI::Range(0.1, 1e6))
        ->capture_default_str();
    app.add_option("--outage-serial", opt.outage_serial, "Serial number *IDN? reports after the outage");
    app.add_flag("--garbage", opt.garbage, "Replace replies by random bytes");
    app.add_flag("--truncate", opt.truncate, "Cut replies short (no line feed)");
    app.add_flag("--fast", opt.fast, "Take 1,000,000 readings/s whatever the settings");
    app.add_option("--non-numbers", opt.non_numbers, "Add N pieces that are no number to every R? block")
        ->check(CLI::Range(0, 1000));
    app.add_option("--max-connections", opt.max_connections, "Simultaneous connections")
        ->check(CLI::Range(1, 256));
    app.add_option("--udef-rtd", opt.udef_rtd, "User-defined RTD transducers, comma-separated");
    app.add_option("--udef-ther", opt.udef_ther, "User-defined thermocouples, comma-separated");
    CLI11_PARSE(app, argc, argv);

    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    vx_sim::sim_instrument_t instrument(opt);
    vx_sim::sim_front_t front(opt, instrument);
    vx_sim::sim_server_t server(opt, front);
    std::string error;
    if (!server.bind_all(error)) {
        std::cerr << "vx_sim: " << error << " on " << opt.address << "\n";
        return exit_bind_failed;
    }
    std::printf("vx_sim ready %s portmapper=%d vxi11=%d socket=%d\n", opt.address.c_str(),
                server.portmapper_port(), server.vxi11_port(), server.socket_port());
    std::fflush(stdout);
    server.run(g_stop);
    std::printf("vx_sim readings sent: %llu\n", static_cast<unsigned long long>(instrument.readings_sent()));
    std::fflush(stdout);
    return 0;
}
