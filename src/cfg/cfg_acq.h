// Run control of the acquisition engine, gated on the connection and on scanning,
// and the record-file information the engine asks for at every start.
#pragma once

#include <cstdint>

#include "acq/plib_acq_types.h"

class acq_main_t;
class cfg_measure_t;
class cfg_remote_t;
class scan_main_t;

class cfg_acq_t {
public:
    // Installs _get_file_record_info as the engine's record-information callback. The
    // record file names the instrument (`remote`) and the current function and
    // directory (`measure`); `scan` is asked whether the instrument is scanning. All
    // four must outlive this object.
    cfg_acq_t(acq_main_t& engine, const cfg_remote_t& remote, const scan_main_t& scan,
              const cfg_measure_t& measure);
    ~cfg_acq_t();
    cfg_acq_t(const cfg_acq_t&) = delete;
    cfg_acq_t& operator=(const cfg_acq_t&) = delete;

    // A start of a disconnected or scanning instrument becomes a stop.
    void set_run_state(int s);
    int get_run_state() const;
    void restart();
    // One tick now (acq_trig_msg_t).
    int trigger_once();
    plib_record_run_state_info_t get_run_state_info() const;
    bool is_recording() const;
    double get_elapsed_s() const;
    uint32_t get_total_count() const;

    void _get_file_record_info(plib_acq_file_record_param_t& param);

private:
    acq_main_t& m_acq;
    const cfg_remote_t& m_remote;
    const scan_main_t& m_scan;
    const cfg_measure_t& m_measure;
};
