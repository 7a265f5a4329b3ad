// First family (VXA-1, VXA-2, VXA-2E, VXA-3): private identification "IDN-MRQX-PRI?",
// readings fetched as an "R?" definite-length block (the base's read_measure_data).
// What the models offer and send is in their tables (drv_model_tables.h).
#pragma once

#include "drv/drv_vx_model.h"

class drv_vxa_t : public drv_vx_model_t {
public:
    using drv_vx_model_t::drv_vx_model_t;

    int get_private_model_name(std::string& name) override;
};

class drv_vxa_1_t : public drv_vxa_t {
public:
    explicit drv_vxa_1_t(drv_link_t* link) : drv_vxa_t(link, drv_vxa_1_table()) {}
};

// VXA-2 and VXA-2E.
class drv_vxa_2_t : public drv_vxa_t {
public:
    explicit drv_vxa_2_t(drv_link_t* link) : drv_vxa_t(link, drv_vxa_2_table()) {}
};

class drv_vxa_3_t : public drv_vxa_t {
public:
    explicit drv_vxa_3_t(drv_link_t* link) : drv_vxa_t(link, drv_vxa_3_table()) {}
};
