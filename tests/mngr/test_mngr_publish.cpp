// The publishing feed's instrument status: the state follows the engines' events through
// the manager's fan-out (start, stop, lost link, reconnection), readings logged count the
// run's batches, and the end of the feed leaves the instrument "offline". The target here
// is a recorder of what the publisher hands to a status sink (the broker side has its own
// tests against mosquitto).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "cfg/cfg_main.h"
#include "common/plib_measure_type.h"
#include "pub/pub_publisher.h"
#include "pub/pub_status.h"
#include "support/temp_dir.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_events.h"
#include "ui/mngr/plib_mngr_publish.h"

namespace {

struct record_t {
    std::mutex mutex;
    std::vector<pub_status_t> published;  // in order
    std::vector<pub_status_t> closed;
    std::vector<pub_instrument_key_t> keys;
    uint64_t lines = 0;

    pub_status_t last() {
        std::lock_guard<std::mutex> lock(mutex);
        return published.empty() ? pub_status_t{} : published.back();
    }
};

class recording_sink_t : public pub_status_sink_t {
public:
    explicit recording_sink_t(record_t& r) : m_r(r) {}
    void publish(const pub_instrument_key_t& key, const std::string& json) override {
        pub_status_t s;
        EXPECT_TRUE(pub_status_parse(json, s)) << json;
        std::lock_guard<std::mutex> lock(m_r.mutex);
        m_r.published.push_back(s);
        m_r.keys.push_back(key);
    }
    bool reconnected(const pub_instrument_key_t&) override { return false; }
    void close(const pub_instrument_key_t& key, const std::string& json) override {
        pub_status_t s;
        EXPECT_TRUE(pub_status_parse(json, s)) << json;
        std::lock_guard<std::mutex> lock(m_r.mutex);
        m_r.closed.push_back(s);
        m_r.keys.push_back(key);
    }

private:
    record_t& m_r;
};

class recording_target_t : public pub_target_t {
public:
    explicit recording_target_t(record_t& r) : m_r(r) {}
    const std::string& name() const override { return m_name; }
    pub_send_result_t send(std::string_view lines) override {
        std::lock_guard<std::mutex> lock(m_r.mutex);
        for (char c : lines) m_r.lines += c == '\n';
        pub_send_result_t r;
        r.kind = pub_send_result_t::sent;
        return r;
    }
    void abort() override {}
    std::unique_ptr<pub_status_sink_t> make_status_sink() override { return std::make_unique<recording_sink_t>(m_r); }

private:
    record_t& m_r;
    const std::string m_name = "record://status";
};

plib_mngr_event_t event(plib_mngr_event_t::source_t source, int kind) {
    plib_mngr_event_t e;
    e.source = source;
    e.kind = kind;
    return e;
}

plib_mngr_event_t acq_data(std::vector<double> values) {
    auto batch = std::make_shared<plib_acq_batch_t>();
    int64_t t = 1700000000000000;
    for (double v : values) batch->readings.push_back({v, t += 1000});
    plib_mngr_event_t e = event(plib_mngr_event_t::source_acq, acq_notify_data);
    e.acq_batch = batch;
    return e;
}

plib_mngr_event_t scan_data(int per_channel) {
    auto batch = std::make_shared<plib_scan_batch_t>();
    for (int channel : {1, 2})
        for (int i = 0; i < per_channel; ++i) batch->readings[channel].push_back({1.0 + i, 1700000000000000 + i});
    plib_mngr_event_t e = event(plib_mngr_event_t::source_scan, scan_notify_data);
    e.scan_batch = batch;
    return e;
}

}  // namespace

TEST(mngr_publish, the_status_follows_the_engines_and_ends_offline) {
    velkaro_test::temp_dir_t spool;
    record_t record;
    pub_options_t o;
    o.spool_root = spool.path();
    pub_publisher_t publisher(o);
    std::string error;
    ASSERT_TRUE(publisher.add_target(std::make_unique<recording_target_t>(record), error)) << error;
    publisher.start();
    plib_mngr_t mngr("VXB-1", pugi::xml_node());
    auto feed = std::make_unique<plib_mngr_publish_t>(mngr, publisher, "bench 7");
    const std::string function = measure_scpi(static_cast<plib_measure_type_t>(mngr.get_cfg()->get_function()));
    EXPECT_EQ(feed->status().state, "idle");
    EXPECT_EQ(feed->status().function, function);
    EXPECT_FALSE(feed->status().program_version.empty());

    using src = plib_mngr_event_t;
    const double nan = std::nan("");
    struct step_t {
        const char* what;
        plib_mngr_event_t event;
        const char* state;
        uint64_t logged;
    } steps[] = {
        {"measuring starts", event(src::source_acq, acq_notify_start), "measuring", 0},
        {"a tick of 3", acq_data({1, 2, 3}), "measuring", 3},
        {"a tick with a reading that is no number", acq_data({4, nan}), "measuring", 5},
        {"the link is lost", event(src::source_remote, remote_notify_link_lost), "lost", 5},
        {"measuring stopped while lost", event(src::source_acq, acq_notify_stop), "lost", 5},
        {"reconnecting", event(src::source_mngr, mngr_notify_reconnecting), "lost", 5},
        {"reconnected: what ran then (stopped)", event(src::source_mngr, mngr_notify_reconnected), "idle", 5},
        {"a scan starts", event(src::source_scan, scan_notify_start), "scanning", 0},
        {"a sweep of two channels", scan_data(2), "scanning", 4},
        {"the scan stops", event(src::source_scan, scan_notify_stop), "idle", 4},
        {"measuring again", event(src::source_acq, acq_notify_start), "measuring", 0},
        {"reconnecting mid-run", event(src::source_mngr, mngr_notify_reconnecting), "lost", 0},
        {"reconnected: measuring goes on", event(src::source_mngr, mngr_notify_reconnected), "measuring", 0},
        {"reconnecting again", event(src::source_mngr, mngr_notify_reconnecting), "lost", 0},
        {"given up: lost it stays", event(src::source_mngr, mngr_notify_reconnect_gave_up), "lost", 0},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        mngr.events().post(s.event);
        ASSERT_TRUE(mngr.events().flush(10000));
        EXPECT_EQ(feed->status().state, s.state);
        EXPECT_EQ(feed->status().readings_logged, s.logged);
        // Handed to the target as it changed (a change of state at once, counters within a second or so).
        bool seen = false;
        for (int i = 0; i < 250 && !seen; ++i) {
            const pub_status_t last = record.last();
            seen = last.state == s.state && last.readings_logged == s.logged;
            if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(seen) << "last handed over: " << record.last().state << " " << record.last().readings_logged;
    }
    EXPECT_EQ(feed->submitted(), 8u);
    EXPECT_EQ(feed->skipped(), 1u);
    feed.reset();  // the instrument leaves: "offline" with its last figures
    for (int i = 0; i < 250; ++i) {
        {
            std::lock_guard<std::mutex> lock(record.mutex);
            if (!record.closed.empty()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    publisher.stop();
    std::lock_guard<std::mutex> lock(record.mutex);
    ASSERT_EQ(record.closed.size(), 1u);
    EXPECT_EQ(record.closed[0].state, "offline");
    EXPECT_EQ(record.closed[0].function, function);
    for (const auto& key : record.keys) {
        EXPECT_EQ(key.station, "bench 7");
        EXPECT_EQ(key.model, "VXB-1");
    }
    EXPECT_EQ(record.lines, 8u) << "the readings went on their way beside the status";
}
