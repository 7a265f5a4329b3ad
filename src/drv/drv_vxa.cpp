#include "drv/drv_vxa.h"
#include "common/plib_log.h"

#include <iostream>

#include "drv/drv_parse.h"

int drv_vxa_t::get_private_model_name(std::string& name) {
    std::string reply;
    const int status = _query("IDN-MRQX-PRI?\n", reply);
    if (status != 0) return status;
    name = drv_parse_vxa_private_model(reply);
    plib_log("get_private_model_name: " + name);
    return status;
}
