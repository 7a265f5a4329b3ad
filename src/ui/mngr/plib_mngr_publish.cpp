#include "ui/mngr/plib_mngr_publish.h"

#include <cmath>

#include "cfg/cfg_main.h"
#include "cfg/cfg_scan_config.h"
#include "common/plib_measure_type.h"
#include "common/plib_version.h"
#include "pub/pub_publisher.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/plib_mngr_events.h"

namespace {
// The longest the end of a feed waits for the events still queued (a listener of its
// own or of another part that hangs must not hang the end of a run).
constexpr int flush_timeout_ms = 5000;

// The stamps of a tick's readings: each run of readings that share a time is one block.
void stamp_readings(pub_series_t& series, const std::vector<plib_data_t>& readings, std::vector<int64_t>& stamps) {
    stamps.resize(readings.size());
    for (std::size_t i = 0; i < readings.size();) {
        std::size_t j = i + 1;
        while (j < readings.size() && readings[j].timestamp == readings[i].timestamp) ++j;
        series.stamp_block(readings[i].timestamp, j - i, stamps.data() + i);
        i = j;
    }
}
}  // namespace

plib_mngr_publish_t::plib_mngr_publish_t(plib_mngr_t& mngr, pub_publisher_t& publisher, std::string station)
    : m_mngr(mngr), m_publisher(publisher), m_station(std::move(station)) {
    m_status.program_version = plib_software_version;
    // Attached while a run goes on (the GUI turns publishing on mid-run): that run's state.
    if (cfg_main_t* cfg = m_mngr.get_cfg(); cfg != nullptr) {
        if (cfg->get_run_state() == 1)
            m_status.state = pub_status_measuring;
        else if (cfg->get_scan_run_state() == 1)
            m_status.state = pub_status_scanning;
    }
    refresh();
    m_listener = m_mngr.events().add_listener([this](const plib_mngr_event_t& e) { _on_event(e); }, true);
}

plib_mngr_publish_t::~plib_mngr_publish_t() {
    // The batches of the last ticks may still be queued: hand them over first.
    m_mngr.events().flush(flush_timeout_ms);
    m_mngr.events().remove_listener(m_listener);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_publisher.remove_instrument(m_key);
}

void plib_mngr_publish_t::refresh() {
    cfg_main_t* cfg = m_mngr.get_cfg();
    if (cfg == nullptr) return;
    pub_series_tags_t acq;
    acq.station = m_station;
    acq.model = cfg->product_type();
    if (acq.model.empty()) acq.model = cfg->get_model();
    acq.serial = cfg->serial_number();
    const auto function = static_cast<plib_measure_type_t>(cfg->get_function());
    acq.function = measure_scpi(function);
    acq.unit = measure_unit_text(function);
    std::map<int, channel_tags_t> channels;
    if (cfg_scan_config_t* scan = cfg->get_scan_config(); scan != nullptr) {
        for (const auto& [channel, p] : scan->get_channel_params()) {
            const auto f = static_cast<plib_measure_type_t>(p.func);
            channels[channel] = {measure_scpi(f), measure_unit_text(f), p.name};
        }
    }
    const std::string range = cfg->get_range(static_cast<int>(function));
    const std::string rate = cfg->get_nplc(static_cast<int>(function));
    std::lock_guard<std::mutex> lock(m_mutex);
    const pub_instrument_key_t key{acq.station, acq.model, acq.serial};
    if (!m_key.station.empty() && !(key == m_key)) m_publisher.remove_instrument(m_key);  // another identity
    m_key = key;
    m_status.function = acq.function;
    m_status.range = range;
    m_status.rate = rate;
    m_acq_tags = acq;
    m_channels = std::move(channels);
    _push_status();
}

pub_status_t plib_mngr_publish_t::status() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

void plib_mngr_publish_t::_push_status() { m_publisher.set_status(m_key, m_status); }

void plib_mngr_publish_t::_track_state(const plib_mngr_event_t& event, uint64_t readings) {
    const bool lost = m_status.state == pub_status_lost;
    auto run = [&](const char* state, bool start) {
        if (start) m_status.readings_logged = 0;
        if (lost && !start)
            m_resume_state = state;  // a stop while the link is lost: still lost
        else
            m_status.state = state;
    };
    switch (event.source) {
    case plib_mngr_event_t::source_acq:
        if (event.kind == acq_notify_start) run(pub_status_measuring, true);
        if (event.kind == acq_notify_stop) run(pub_status_idle, false);
        break;
    case plib_mngr_event_t::source_scan:
        if (event.kind == scan_notify_start) run(pub_status_scanning, true);
        if (event.kind == scan_notify_stop) run(pub_status_idle, false);
        break;
    case plib_mngr_event_t::source_remote:
        if (event.kind == remote_notify_link_lost && !lost) {
            m_resume_state = m_status.state;
            m_status.state = pub_status_lost;
        }
        break;
    case plib_mngr_event_t::source_mngr:
        if (event.kind == mngr_notify_reconnecting && !lost) {
            m_resume_state = m_status.state;
            m_status.state = pub_status_lost;
        } else if (event.kind == mngr_notify_reconnected && lost) {
            m_status.state = m_resume_state;
        }
        break;
    }
    m_status.readings_logged += readings;
}

uint64_t plib_mngr_publish_t::submitted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_submitted;
}

uint64_t plib_mngr_publish_t::skipped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_skipped;
}

pub_series_t& plib_mngr_publish_t::_series(const char* measurement, const pub_series_tags_t& tags) {
    std::string key = measurement + pub_tag_set(tags);
    auto it = m_series.find(key);
    if (it == m_series.end()) it = m_series.emplace(key, pub_series_t(measurement, tags)).first;
    return it->second;
}

void plib_mngr_publish_t::_on_event(const plib_mngr_event_t& event) {
    auto batch = std::make_shared<pub_batch_t>();
    uint64_t skipped = 0;
    if (event.acq_batch && !event.acq_batch->readings.empty()) {
        pub_series_tags_t tags;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            tags = m_acq_tags;
        }
        pub_series_t& series = _series(pub_measurement_reading, tags);
        const std::vector<plib_data_t>& readings = event.acq_batch->readings;
        batch->lines.reserve(readings.size() * (series.key().size() + 40));
        stamp_readings(series, readings, m_stamps);
        for (std::size_t i = 0; i < readings.size(); ++i) {
            if (series.append_reading_at(readings[i].value, m_stamps[i], batch->lines))
                ++batch->readings;
            else
                ++skipped;
        }
    }
    if (event.scan_batch) {
        std::map<int, channel_tags_t> channels;
        pub_series_tags_t base;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            channels = m_channels;
            base = m_acq_tags;
        }
        for (const auto& [channel, readings] : event.scan_batch->readings) {
            if (readings.empty()) continue;
            pub_series_tags_t tags = base;
            tags.channel = channel;
            auto c = channels.find(channel);
            tags.function = c != channels.end() ? c->second.function : std::string();
            tags.unit = c != channels.end() ? c->second.unit : std::string();
            tags.channel_name = c != channels.end() ? c->second.name : std::string();
            auto a = event.scan_batch->alarm.find(channel);
            const int alarm = a != event.scan_batch->alarm.end() ? a->second : 0;
            pub_series_t& series = _series(pub_measurement_scan, tags);
            stamp_readings(series, readings, m_stamps);
            for (std::size_t i = 0; i < readings.size(); ++i) {
                if (series.append_scan_at(readings[i].value, alarm, m_stamps[i], batch->lines))
                    ++batch->readings;
                else
                    ++skipped;
            }
        }
    }
    const uint64_t readings = batch->readings;
    if (readings > 0) m_publisher.submit(std::move(batch));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_submitted += readings;
    m_skipped += skipped;
    const pub_status_t before = m_status;
    _track_state(event, readings + skipped);
    if (before.differs_in_kind(m_status) || before.readings_logged != m_status.readings_logged) _push_status();
}
