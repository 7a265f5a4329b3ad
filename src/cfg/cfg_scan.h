// Run control of the scan engine, gated on the connection and on measuring, and the
// record information the scan engine asks for at every start.
#pragma once

class acq_main_t;
class cfg_remote_t;
class cfg_scan_config_t;
class scan_main_t;

class cfg_scan_t {
public:
    // Installs the record-information getter in the scan engine: the channels and the
    // directory come from `config`, the instrument's identity from `remote`; `acq` is
    // asked whether the instrument is measuring. All four must outlive this object.
    cfg_scan_t(scan_main_t& engine, const cfg_remote_t& remote, const acq_main_t& acq,
               const cfg_scan_config_t& config);
    ~cfg_scan_t();
    cfg_scan_t(const cfg_scan_t&) = delete;
    cfg_scan_t& operator=(const cfg_scan_t&) = delete;

    // A start of a disconnected or measuring instrument becomes a stop.
    void set_run_state(int s);
    int get_run_state() const;
    int trigger_once();

private:
    scan_main_t& m_scan;
    const cfg_remote_t& m_remote;
    const acq_main_t& m_acq;
    const cfg_scan_config_t& m_config;
};
