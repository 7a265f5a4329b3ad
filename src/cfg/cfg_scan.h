// Run control of the scan engine, gated on the connection and on measuring, and the
// record information the scan engine asks for at every start.
#pragma once

class cfg_main_t;
class scan_main_t;

class cfg_scan_t {
public:
    // Installs the record-information getter in the scan engine (when there is one).
    cfg_scan_t(cfg_main_t* facade, scan_main_t* engine);
    ~cfg_scan_t();
    cfg_scan_t(const cfg_scan_t&) = delete;
    cfg_scan_t& operator=(const cfg_scan_t&) = delete;

    // A start of a disconnected or measuring instrument becomes a stop.
    void set_run_state(int s);
    // 0 without a scan engine.
    int get_run_state() const;
    int trigger_once();

private:
    cfg_main_t* m_pfacade = nullptr;
    scan_main_t* m_pscan = nullptr;
};
