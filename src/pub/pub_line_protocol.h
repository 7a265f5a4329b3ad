// The InfluxDB line protocol, as every target writes it (InfluxDB 1.x/2.x/3,
// VictoriaMetrics and the others that read it), and the schema of our points:
//
//   velkaro_reading,station=S,model=M,serial=N,function=F,unit=U value=1.25[,overload=true] T
//   velkaro_scan,station=S,model=M,serial=N,function=F,unit=U,channel=C[,channel_name=X] value=1.25,alarm=0i T
//
// One point per line, '\n' after each. T is nanoseconds since the epoch. Escaping
// (the protocol's own rules): in the measurement name ',' and ' '; in tag keys, tag
// values and field keys ',', '=' and ' '; in string field values '"' and '\'. A
// backslash that ends a tag value or stands before a character that is escaped
// becomes '/' (readers disagree on an escaped backslash: InfluxDB 1.x keeps "\\" as two
// characters and refuses a tag value that ends in one). A line break cannot be
// escaped at all: it becomes a blank. An empty tag value is not allowed:
// the tag is left out.
//
// Timestamps: the readings of one fetch share its block time (the driver stamps a whole
// reply at once), and points of one series with the same time overwrite each other.
// pub_series_t therefore spreads a block of n readings over the time since the series'
// previous stamp: at most one step (1 ms) apart, the last one at the block time itself,
// none earlier than or equal to the previous stamp. Below 1,000 readings a second per
// series every reading has a millisecond of its own (VictoriaMetrics keeps
// milliseconds); faster series are spread evenly, at least 1 ns apart (InfluxDB keeps
// nanoseconds); no stamp runs ahead of its block time but by a few nanoseconds when
// blocks come faster than their readings can be spread. The stamps are computed once,
// before a batch is spooled, so a batch sent again after a retry carries the same stamps
// and overwrites itself instead of doubling.
//
// Not a library: no Debian package writes the line protocol for C++ (the client
// libraries are for other languages), and its rules fit in this file.
//
// Threads: none of its own; a writer is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

inline constexpr const char* pub_measurement_reading = "velkaro_reading";
inline constexpr const char* pub_measurement_scan = "velkaro_scan";
inline constexpr int64_t pub_default_step_ns = 1000000;  // 1 ms

// Escapers (appended to `out`).
void pub_escape_measurement(std::string_view text, std::string& out);
void pub_escape_tag(std::string_view text, std::string& out);  // tag keys, tag values, field keys
void pub_escape_field_string(std::string_view text, std::string& out);  // inside the quotes

// Appends the shortest text that reads back as exactly `value` (a float field).
// False for NaN and infinities, which the protocol cannot carry.
bool pub_append_float(double value, std::string& out);

// The tags of one series, in the order they are written.
struct pub_series_tags_t {
    std::string station;
    std::string model;
    std::string serial;
    std::string function;  // the SCPI name, "VOLT"
    std::string unit;
    int channel = 0;           // scan only (1..16); 0: no channel tag
    std::string channel_name;  // scan only: the name the user gave the channel
};

// The tag part of a line: ",station=...,model=...", empty tags left out.
std::string pub_tag_set(const pub_series_tags_t& tags);

// One series: its measurement with its tag set, and the stamp of its last reading.
// Keep one per series for as long as the process runs, so stamps stay distinct.
class pub_series_t {
public:
    pub_series_t() = default;
    pub_series_t(const char* measurement, const pub_series_tags_t& tags, int64_t step_ns = pub_default_step_ns);

    // The stamps (ns) of a block of `count` readings that share the time `block_us`, into
    // stamps[0, count): increasing, later than every earlier stamp (see above).
    void stamp_block(int64_t block_us, std::size_t count, int64_t* stamps);
    // A block of one.
    int64_t next_stamp_ns(int64_t reading_us);

    // Appends one measure reading at `stamp_ns`; false (nothing written) when the value
    // is no number.
    bool append_reading_at(double value, int64_t stamp_ns, std::string& out);
    // Appends one scan reading with the channel's alarm state (0 within limits; bit 0
    // below the low limit, bit 1 above the high limit); false when the value is no number.
    bool append_scan_at(double value, int alarm, int64_t stamp_ns, std::string& out);
    // The same, stamped as a block of one.
    bool append_reading(double value, int64_t reading_us, std::string& out) {
        return append_reading_at(value, next_stamp_ns(reading_us), out);
    }

    const std::string& key() const { return m_key; }

private:
    bool _append(double value, const int* alarm, int64_t stamp_ns, std::string& out);

    std::string m_key;  // escaped measurement and tag set: the start of every line
    int64_t m_step_ns = pub_default_step_ns;
    int64_t m_last_ns = 0;
    bool m_have_last = false;
};
