#include "drv/drv_vxb.h"
#include "common/plib_log.h"

#include <iostream>

#include "drv/drv_parse.h"

int drv_vxb_t::get_private_model_name(std::string& name) {
    std::string reply;
    const int status = _query("MACHINE_INFO?\n", reply);
    if (status != 0) return status;
    name = drv_parse_vxb_private_model(reply);
    plib_log("get_private_model_name: " + name);
    return status;
}

int drv_vxb_t::read_measure_data(std::vector<plib_data_t>& data) {
    data.clear();
    std::string reply;
    const int status = _query_complete("MEASURE_DATA?\n", reply);
    if (status != 0) return status;
    // Each entry carries the instrument's own timestamp, in microseconds since the
    // Unix epoch, which replaces the time of parsing.
    // Entries that are no reading are dropped and counted, as the first family's are.
    m_dropped_readings += drv_parse_measure_data(reply, data);
    return 0;
}

int drv_vxb_t::set_auto_zero(plib_measure_type_t type, int on) {
    return _write(measure_scpi(type) + ":ZERO:AUTO " + std::to_string(on) + "\n");
}
