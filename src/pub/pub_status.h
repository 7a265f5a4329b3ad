// The status of one instrument as a broker keeps it: the retained message on
// PREFIX/STATION/MODEL/SERIAL/status, one flat JSON object:
//
//   {"state":"measuring","function":"VOLT","range":"20V","rate":"10",
//    "readings_logged":1234,"spool_depth":0,"program_version":"V1.0.3"}
//
//   state            "idle", "measuring", "scanning", "lost" (the link to the instrument is
//                    lost; reconnecting), or "offline" (the program stopped publishing it:
//                    a clean end, or the broker's last will when the program died)
//   function         SCPI name of the measurement function ("VOLT", "CURR:AC", ...)
//   range            the range as configured ("20V", "AUTO", ...), empty when none
//   rate             the integration time as configured, in power-line cycles, empty
//                    when the function has none
//   readings_logged  readings the engines stored in the current (or last) run
//   spool_depth      readings waiting in this target's spool (all instruments of the
//                    program), when the message was made
//   program_version  the program's version
//
// The last will is the short form {"state":"offline","program_version":"..."}: the
// broker publishes it when the connection breaks without a goodbye (kill -9, a crash, a
// network outage); the other fields are then absent.
//
// Threads: pure functions and plain values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char* pub_status_idle = "idle";
inline constexpr const char* pub_status_measuring = "measuring";
inline constexpr const char* pub_status_scanning = "scanning";
inline constexpr const char* pub_status_lost = "lost";
inline constexpr const char* pub_status_offline = "offline";

// One instrument as the topics name it (the readings' station, model and serial tags).
struct pub_instrument_key_t {
    std::string station;
    std::string model;
    std::string serial;
    bool operator<(const pub_instrument_key_t& o) const {
        if (station != o.station) return station < o.station;
        if (model != o.model) return model < o.model;
        return serial < o.serial;
    }
    bool operator==(const pub_instrument_key_t& o) const {
        return station == o.station && model == o.model && serial == o.serial;
    }
};

struct pub_status_t {
    std::string state = pub_status_idle;
    std::string function;
    std::string range;
    std::string rate;
    uint64_t readings_logged = 0;
    uint64_t spool_depth = 0;
    std::string program_version;

    // State, function, range or rate differ: a change told at once, not held back by
    // the once-a-second limit that counters are.
    bool differs_in_kind(const pub_status_t& o) const {
        return state != o.state || function != o.function || range != o.range || rate != o.rate;
    }
};

// The JSON object above (all fields).
std::string pub_status_json(const pub_status_t& status);
// The last will: {"state":"offline","program_version":VERSION}.
std::string pub_status_will_json(const std::string& program_version);

// Reads a status message; false (status untouched) when it is no JSON object with a
// string "state". Missing fields are left empty or 0. Bounded: longer payloads are refused.
bool pub_status_parse(std::string_view payload, pub_status_t& status);
inline constexpr std::size_t pub_status_max_bytes = 4096;
