// Feeds one instrument's readings to the publisher: a listener on the manager's event
// fan-out turns each batch the engines stored (exactly what the record files get) into
// line-protocol lines with the instrument's tags and submits them.
//
// Tags: station (given), model and serial (the identification), function (SCPI name)
// and unit of the measurement, and for scans the channel number and its name. They are
// read from the facade by refresh(), on the thread that owns the facade (the UI's or
// the command's), before a run starts and whenever the function may have changed; the
// listener never touches the facade.
//
// Threads: the listener runs on the manager's event thread; m_mutex guards the tags
// between refresh() and the listener; the series (their last stamps) belong to the
// listener. Submitting does no I/O (pub_publisher_t::submit).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pub/pub_line_protocol.h"

class plib_mngr_t;
class pub_publisher_t;
struct plib_mngr_event_t;

class plib_mngr_publish_t {
public:
    // Subscribes at once; `mngr` and `publisher` must outlive this object.
    plib_mngr_publish_t(plib_mngr_t& mngr, pub_publisher_t& publisher, std::string station);
    // Hands over the events still queued (bounded), then unsubscribes; returns once the
    // listener no longer runs. Never from a listener.
    ~plib_mngr_publish_t();
    plib_mngr_publish_t(const plib_mngr_publish_t&) = delete;
    plib_mngr_publish_t& operator=(const plib_mngr_publish_t&) = delete;

    // Reads the identification, the function and the scan channels from the facade.
    void refresh();

    // Readings submitted so far, and readings skipped because they were no number.
    uint64_t submitted() const;
    uint64_t skipped() const;

private:
    struct channel_tags_t {
        std::string function;
        std::string unit;
        std::string name;
    };
    void _on_event(const plib_mngr_event_t& event);
    pub_series_t& _series(const char* measurement, const pub_series_tags_t& tags);

    plib_mngr_t& m_mngr;
    pub_publisher_t& m_publisher;
    const std::string m_station;
    int m_listener = 0;

    mutable std::mutex m_mutex;  // guards the tags below and the counters
    pub_series_tags_t m_acq_tags;
    std::map<int, channel_tags_t> m_channels;
    uint64_t m_submitted = 0;
    uint64_t m_skipped = 0;

    // Listener only: one series per tag set, so stamps stay distinct for the process.
    std::map<std::string, pub_series_t> m_series;
    std::vector<int64_t> m_stamps;  // a batch's stamps, reused
};
