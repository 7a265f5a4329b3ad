// The live view of every bench on a broker: what `velkaro-cli watch` and the Lab window
// show. Each message under PREFIX/STATION/MODEL/SERIAL/{readings,scan,status} updates the
// row of its instrument: the last reading with its unit (the last line-protocol line of
// the payload), the readings counted, the time of the last message. The state comes
// from the retained status topic (pub_status.h) once one was seen, and from the kind of
// the last readings message before that; "offline" (a clean end or the broker's last
// will for a bench that died) marks the row offline until the bench says otherwise.
//
// Threads: none of its own; the owner calls it from one thread at a time (the watch
// command holds its lock around every call).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>

#include "pub/pub_status.h"

struct pub_watch_row_t {
    std::string station;
    std::string model;
    std::string serial;
    std::string state;  // "measuring", "scanning", or the state a status message gave
    bool has_value = false;
    double value = 0;
    std::string unit;
    uint64_t readings = 0;
    double first_s = 0;  // the caller's clock at the first reading message
    double last_s = 0;   // the caller's clock at the last message of any kind
    bool has_status = false;  // a status message came (status below)
    bool offline = false;     // its state is "offline": the bench stopped or died
    pub_status_t status;      // the last status message
    // Readings a second since the first reading message, at `now_s`.
    double rate(double now_s) const;
};

class pub_watch_table_t {
public:
    using key_t = std::tuple<std::string, std::string, std::string>;  // station, model, serial
    explicit pub_watch_table_t(std::string prefix) : m_prefix(std::move(prefix)) {}
    // Takes one message; the row it changed, or null for a topic that is no instrument's
    // (or an empty status message, which clears the retained status: the row goes).
    const pub_watch_row_t* update(std::string_view topic, std::string_view payload, double now_s);
    const std::map<key_t, pub_watch_row_t>& rows() const { return m_rows; }
    // At most this many rows: a broker that publishes endless distinct topics cannot
    // grow the table without bound. Messages of further instruments are ignored.
    static constexpr std::size_t max_rows = 10000;
    // Messages ignored because the table was full (their instruments have no row).
    uint64_t ignored() const { return m_ignored; }

private:
    const std::string m_prefix;
    std::map<key_t, pub_watch_row_t> m_rows;
    uint64_t m_ignored = 0;
};

// `text` fit for a terminal: control characters (ESC, CR, BEL, ..., DEL, and the C1
// controls as UTF-8) each become "?", so a topic or status cannot move the cursor or
// recolour the screen. Other UTF-8 stays.
std::string pub_watch_printable(std::string_view text);

// The value of `key` in a line-protocol line's tag set, unescaped; empty when absent.
std::string pub_line_tag(std::string_view line, std::string_view key);
// The float field `key` of a line; false when absent or not a number.
bool pub_line_float_field(std::string_view line, std::string_view key, double& value);
