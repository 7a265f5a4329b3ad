// Identification subcommand:
//
//   velkaro-cli identify [--model M] RESOURCE
//
// Without --model it identifies whatever answers: opens the session, asks "*IDN?",
// prints the four fields and the model, and whether this program supports that model
// (nothing is reset). With --model:
// Connects as the program does when an instrument is added: opens the session,
// queries "*IDN?", checks the family's private model name against M and sends "*RST"
// (no configuration is sent). Prints the four identification fields (with --json one
// document with the fields, or with the error) and closes.
// Exit code cli_exit_ok, cli_exit_connect or cli_exit_model, with a message on
// standard error.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cfg/cfg_main.h"
#include "cli/cli_commands.h"
#include "cli/cli_instrument.h"
#include "cli/cli_output.h"
#include "common/plib_model_registry.h"
#include "remote/remote_main.h"

namespace velkaro_cli {
namespace {

struct identify_options_t {
    std::string model;
    std::string resource;
    bool json = false;
};

// Whatever answers at the resource: its "*IDN?" fields and model, nothing sent besides.
int run_identify_any(const identify_options_t& options) {
    nlohmann::json doc = {{"resource", options.resource}};
    auto failed = [&](int code, const std::string& message, int status) {
        std::fprintf(stderr, "velkaro-cli identify: %s\n", message.c_str());
        if (options.json) {
            doc["error"] = error_json(code, message, status);
            write_json(doc);
        }
        return code;
    };
    remote_main_t link;
    unsigned long session = 0;
    int status = link.open(options.resource, session);
    if (status < 0)
        return failed(cli_exit_connect, "cannot open " + options.resource + ": " + status_description(status),
                      status);
    std::string reply;
    status = link.query(session, "*IDN?\n", reply);
    link.close(session);
    if (status < 0)
        return failed(cli_exit_link, "no reply to *IDN?: " + status_description(status), status);
    const cfg_identity_t id = cfg_parse_identification(reply);
    if (id.product_type.empty()) return failed(cli_exit_model, "the reply to *IDN? names no model", 0);
    const bool supported = model_registry_t::instance().family_of(id.product_type) != model_registry_t::family_none;
    if (options.json) {
        doc["model"] = id.product_type;
        doc["manufacturer"] = id.manufacturer;
        doc["product_type"] = id.product_type;
        doc["serial_number"] = id.serial_number;
        doc["software_version"] = id.software_version;
        doc["supported"] = supported;
        doc["error"] = nullptr;
        write_json(doc);
        return cli_exit_ok;
    }
    std::fprintf(results(),
                 "model: %s\nmanufacturer: %s\nproduct_type: %s\nserial_number: %s\nsoftware_version: %s\n"
                 "supported: %s\n",
                 id.product_type.c_str(), id.manufacturer.c_str(), id.product_type.c_str(), id.serial_number.c_str(),
                 id.software_version.c_str(), supported ? "yes" : "no");
    std::fflush(results());
    return cli_exit_ok;
}

int run_identify(const identify_options_t& options) {
    if (options.model.empty()) return run_identify_any(options);
    cli_open_request_t request;
    request.model = options.model;
    request.resource = options.resource;
    request.send_configuration = false;
    const cli_opened_t opened = open_instrument(request);
    nlohmann::json doc = {{"model", options.model}, {"resource", options.resource}};
    if (opened.result != cli_exit_ok) {
        std::fprintf(stderr, "velkaro-cli identify: %s\n", opened.message.c_str());
        if (options.json) {
            doc["error"] = error_json(opened.result, opened.message, opened.visa_status);
            write_json(doc);
        }
        return opened.result;
    }
    const cfg_main_t& cfg = opened.guard.cfg();
    if (options.json) {
        doc["manufacturer"] = cfg.manufacturer();
        doc["product_type"] = cfg.product_type();
        doc["serial_number"] = cfg.serial_number();
        doc["software_version"] = cfg.software_version();
        doc["error"] = nullptr;
        write_json(doc);
        return cli_exit_ok;
    }
    std::fprintf(results(), "manufacturer: %s\nproduct_type: %s\nserial_number: %s\nsoftware_version: %s\n",
                 cfg.manufacturer().c_str(), cfg.product_type().c_str(), cfg.serial_number().c_str(),
                 cfg.software_version().c_str());
    std::fflush(results());
    return cli_exit_ok;
}

}  // namespace

void register_identify_commands(CLI::App& app, cli_context_t& context) {
    auto options = std::make_shared<identify_options_t>();
    std::vector<std::string> models;
    model_registry_t::instance().model_list(model_registry_t::list_all, models);

    CLI::App* identify =
        app.add_subcommand("identify", "Print the identification (and model) of what answers; with --model also check and reset");
    identify->add_option("--model", options->model,
                         "Instrument model to check and reset; without it, identify whatever answers")
        ->check(CLI::IsMember(models));
    identify->add_flag("--json", options->json, "Print one JSON document");
    identify->add_option("resource", options->resource, "VISA resource string")->required();
    identify->callback([options, &context] { context.exit_code = run_identify(*options); });
}

}  // namespace velkaro_cli
