#include "pub/pub_status.h"

#include <nlohmann/json.hpp>

namespace {

// Invalid UTF-8 in a name the user gave (station) must not throw while encoding.
std::string dump(const nlohmann::ordered_json& j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

std::string text_of(const nlohmann::json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

uint64_t count_of(const nlohmann::json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number_unsigned() ? it->get<uint64_t>() : 0;
}

}  // namespace

std::string pub_status_json(const pub_status_t& s) {
    // Keys in the documented order.
    return dump(nlohmann::ordered_json{{"state", s.state},
                                       {"function", s.function},
                                       {"range", s.range},
                                       {"rate", s.rate},
                                       {"readings_logged", s.readings_logged},
                                       {"spool_depth", s.spool_depth},
                                       {"program_version", s.program_version}});
}

std::string pub_status_will_json(const std::string& program_version) {
    return dump(nlohmann::ordered_json{{"state", pub_status_offline}, {"program_version", program_version}});
}

bool pub_status_parse(std::string_view payload, pub_status_t& status) {
    if (payload.size() > pub_status_max_bytes) return false;
    const auto j = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) return false;
    const auto state = j.find("state");
    if (state == j.end() || !state->is_string() || state->get<std::string>().empty()) return false;
    pub_status_t s;
    s.state = state->get<std::string>();
    s.function = text_of(j, "function");
    s.range = text_of(j, "range");
    s.rate = text_of(j, "rate");
    s.readings_logged = count_of(j, "readings_logged");
    s.spool_depth = count_of(j, "spool_depth");
    s.program_version = text_of(j, "program_version");
    status = std::move(s);
    return true;
}
