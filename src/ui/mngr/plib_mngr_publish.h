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
// Status: the instrument's state follows the engines' events (a start: measuring or
// scanning; a stop: idle; a lost link or a reconnection under way: lost, until a start
// or the reconnection brings back what ran), readings logged count the batches of the
// current run, and function, range and rate (integration time) come from the facade
// with the tags. Each change goes to pub_publisher_t::set_status, which publishes it
// where a target keeps status (MQTT); the end of the feed removes the instrument (its
// status goes out "offline").
//
// Threads: the listener runs on the manager's event thread; m_mutex guards the tags
// and the status between refresh() and the listener, and is held while a status is
// handed over so that two threads cannot hand them over out of order (set_status only
// takes the publisher's status lock); the series (their last stamps) belong to the
// listener. Submitting does no I/O (pub_publisher_t::submit).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pub/pub_line_protocol.h"
#include "pub/pub_status.h"

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
    // The status last handed to the publisher (spool_depth not filled).
    pub_status_t status() const;

private:
    struct channel_tags_t {
        std::string function;
        std::string unit;
        std::string name;
    };
    void _on_event(const plib_mngr_event_t& event);
    // Folds an engine event into the state; under m_mutex.
    void _track_state(const plib_mngr_event_t& event, uint64_t readings);
    // Hands the status over; under m_mutex.
    void _push_status();
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
    pub_instrument_key_t m_key;
    pub_status_t m_status;
    std::string m_resume_state = pub_status_idle;  // while lost: what ran before

    // Listener only: one series per tag set, so stamps stay distinct for the process.
    std::map<std::string, pub_series_t> m_series;
    std::vector<int64_t> m_stamps;  // a batch's stamps, reused
};
