// Identification subcommand:
//
//   velkaro-cli identify --model M RESOURCE
//
// Connects as the program does when an instrument is added: opens the session,
// queries "*IDN?", checks the family's private model name against M and sends "*RST"
// (no configuration is sent). Prints the four identification fields and closes.
// Exit code 0, or the connection result (1 VISA open failed, 4 not the model) with
// a message on standard error.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cfg/cfg_remote.h"
#include "cli/cli_commands.h"
#include "common/plib_model_registry.h"
#include "drv/drv_link.h"
#include "drv/if/drv_if.h"
#include "remote/remote_main.h"

namespace velkaro_cli {
namespace {

struct identify_options_t {
    std::string model;
    std::string resource;
};

const char* result_message(int result) {
    switch (result) {
        case cfg_remote_t::result_visa_failed:
            return "The instrument could not be opened.";
        case cfg_remote_t::result_not_connected:
            return "The instrument is not connected.";
        case cfg_remote_t::result_already_connected:
            return "The instrument is already connected.";
        case cfg_remote_t::result_not_the_model:
            return "The device doesn't match the model!";
        default:
            return "Unknown result.";
    }
}

int run_identify(const identify_options_t& options) {
    remote_main_t remote;
    drv_remote_link_t link(remote);
    drv_if_t driver(&link, options.model);
    cfg_remote_t identity(&link, &driver, options.model, options.resource);
    const int result = identity.connect(1);
    if (result != cfg_remote_t::result_ok) {
        std::fprintf(stderr, "velkaro-cli identify: result %d: %s\n", result, result_message(result));
        if (identity.get_info().connected) identity.connect(0);
        return result;
    }
    std::printf("manufacturer: %s\nproduct_type: %s\nserial_number: %s\nsoftware_version: %s\n",
                identity.get_manufacturer().c_str(), identity.get_product_type().c_str(),
                identity.get_serial_number().c_str(), identity.get_software_version().c_str());
    std::fflush(stdout);
    identity.connect(0);
    return 0;
}

}  // namespace

void register_identify_commands(CLI::App& app, cli_context_t& context) {
    auto options = std::make_shared<identify_options_t>();
    std::vector<std::string> models;
    model_registry_t::instance().model_list(model_registry_t::list_all, models);

    CLI::App* identify =
        app.add_subcommand("identify", "Connect, check the model, reset, print the identification");
    identify->add_option("--model", options->model, "Instrument model")
        ->required()
        ->check(CLI::IsMember(models));
    identify->add_option("resource", options->resource, "VISA resource string")->required();
    identify->callback([options, &context] { context.exit_code = run_identify(*options); });
}

}  // namespace velkaro_cli
