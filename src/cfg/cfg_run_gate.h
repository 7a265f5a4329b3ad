// Measuring and scanning exclude each other on one instrument, and only a connected
// instrument runs. Both run controls (cfg_acq_t and cfg_scan_t) ask this one rule.
#pragma once

class cfg_remote_t;

// The state an engine is given when `requested` is asked of it while the instrument's
// other engine is in `other_run_state`: a start (1) becomes a stop when the instrument
// is not connected or the other engine runs; any other request passes unchanged.
int cfg_gated_run_state(int requested, const cfg_remote_t& remote, int other_run_state);
