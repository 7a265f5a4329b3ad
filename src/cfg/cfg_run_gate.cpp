#include "cfg/cfg_run_gate.h"

#include "cfg/cfg_remote.h"

int cfg_gated_run_state(int requested, const cfg_remote_t& remote, int other_run_state) {
    if (requested != 1) return requested;
    if (other_run_state != 0) return 0;
    return remote.get_info().connected ? 1 : 0;
}
