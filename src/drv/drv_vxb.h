// Second family (VXB-1, VXB-2, VXB-3): private identification "MACHINE_INFO?",
// readings with the instrument's own timestamps from "MEASURE_DATA?", auto zero as
// ":ZERO:AUTO". What the models offer and send is in their tables
// (drv_model_tables.h).
#pragma once

#include "drv/drv_vx_model.h"

class drv_vxb_t : public drv_vx_model_t {
public:
    using drv_vx_model_t::drv_vx_model_t;

    int get_private_model_name(std::string& name) override;
    // The timestamps are the instrument's own, microseconds since the Unix epoch.
    int read_measure_data(std::vector<plib_data_t>& data) override;
    int set_auto_zero(plib_measure_type_t type, int on) override;
};

class drv_vxb_1_t : public drv_vxb_t {
public:
    explicit drv_vxb_1_t(drv_link_t* link) : drv_vxb_t(link, drv_vxb_1_table()) {}
};

class drv_vxb_2_t : public drv_vxb_t {
public:
    explicit drv_vxb_2_t(drv_link_t* link) : drv_vxb_t(link, drv_vxb_2_table()) {}
};

// Known to the factory; the model registry does not offer it.
class drv_vxb_3_t : public drv_vxb_t {
public:
    explicit drv_vxb_3_t(drv_link_t* link) : drv_vxb_t(link, drv_vxb_3_table()) {}
};
