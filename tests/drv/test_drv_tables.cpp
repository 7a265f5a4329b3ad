// Model tables, the factory and the scanner descriptions.
#include <gtest/gtest.h>

#include "drv/drv_parse.h"
#include "drv/drv_vxa.h"
#include "drv/drv_vxb.h"
#include "drv/if/drv_if.h"
#include "drv_fake_link.h"
#include "nsp_src/lib/lib_assert.h"

namespace {

using velkaro_test::drv_fake_link_t;
using list_t = std::vector<std::string>;

std::unique_ptr<drv_vx_base_t> make_driver(drv_link_t* link, const std::string& model) {
    if (model == "VXB-3") return std::make_unique<drv_vxb_3_t>(link);
    return create_driver(link, model);
}

const std::vector<std::string> all_models = {"VXA-1", "VXA-2", "VXA-2E", "VXA-3", "VXB-1", "VXB-2", "VXB-3"};

TEST(drv_factory, model_names_select_classes) {
    drv_fake_link_t link;
    EXPECT_NE(dynamic_cast<drv_vxa_1_t*>(create_driver(&link, "VXA-1").get()), nullptr);
    EXPECT_NE(dynamic_cast<drv_vxa_2_t*>(create_driver(&link, "VXA-2").get()), nullptr);
    EXPECT_NE(dynamic_cast<drv_vxa_2_t*>(create_driver(&link, "VXA-2E").get()), nullptr);
    EXPECT_NE(dynamic_cast<drv_vxa_3_t*>(create_driver(&link, "VXA-3").get()), nullptr);
    EXPECT_NE(dynamic_cast<drv_vxb_1_t*>(create_driver(&link, "VXB-1").get()), nullptr);
    EXPECT_NE(dynamic_cast<drv_vxb_2_t*>(create_driver(&link, "VXB-2").get()), nullptr);
    for (const char* name : {"vxa-2e", "VXA-2 ", "VXA", "", "VXB-3", "VXC-1"}) {
        EXPECT_EQ(create_driver(&link, name), nullptr) << name;
    }
}

TEST(drv_factory, holder_without_driver_reports_the_contract_and_answers_zero) {
    drv_fake_link_t link;
    const unsigned long before = nsp::assert_failure_count();
    drv_if_t holder(&link, "vxa-2e");
    EXPECT_GT(nsp::assert_failure_count(), before);
    EXPECT_FALSE(holder.has_driver());
    EXPECT_EQ(holder.init(), 0);
    EXPECT_TRUE(link.commands.empty());
}

TEST(drv_tables, documented_values) {
    drv_fake_link_t link;
    for (const char* model : {"VXA-1", "VXA-2", "VXA-3"}) {
        drv_freq_caps_t period;
        period.ranges = {"x"};
        period.rel_max = 5;
        EXPECT_EQ(make_driver(&link, model)->get_period_caps(period), 1);
        EXPECT_TRUE(period.freq_shared) << model;
        EXPECT_TRUE(period.ranges.empty()) << model;
        EXPECT_EQ(period.rel_max, 0.0) << model;
    }
    for (const char* model : {"VXB-1", "VXB-2", "VXB-3"}) {
        drv_freq_caps_t period, freq;
        make_driver(&link, model)->get_period_caps(period);
        make_driver(&link, model)->get_freq_caps(freq);
        EXPECT_FALSE(period.freq_shared);
        EXPECT_EQ(period.ranges, freq.ranges);
        EXPECT_EQ(period.apertures, (list_t{"0.001", "0.01", "0.1", "1"}));
        EXPECT_EQ(period.rel_min, -1.1);
        EXPECT_EQ(period.rel_max, 1.1);
        EXPECT_EQ(freq.rel_max, 1.1e6);
    }
    drv_dci_caps_t dci;
    make_driver(&link, "VXB-3")->get_dci_caps(dci);
    ASSERT_EQ(dci.ranges.size(), 10u);
    EXPECT_EQ(dci.ranges.front(), "Auto");
    EXPECT_EQ(dci.ranges.back(), "10A");
    EXPECT_EQ(dci.ranges[1],
              "1\xCE\xBC"
              "A");

    drv_dcv_caps_t dcv;
    make_driver(&link, "VXA-1")->get_dcv_caps(dcv);
    EXPECT_EQ(dcv.impedance_ranges, (list_t{"600mV", "6V"}));
    make_driver(&link, "VXA-3")->get_dcv_caps(dcv);
    EXPECT_EQ(dcv.speeds, (list_t{"100", "10", "1", "0.5", "0.05", "0.005"}));
    EXPECT_FALSE(dcv.has_filter);
    EXPECT_TRUE(dcv.has_auto_zero);

    drv_res_caps_t res;
    make_driver(&link, "VXB-2")->get_res4w_caps(res);
    EXPECT_EQ(res.ranges, (list_t{"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "1MΩ", "10MΩ", "100MΩ"}));
    EXPECT_EQ(res.rel_max, 1.1e9);

    drv_temp_caps_t temp;
    make_driver(&link, "VXB-1")->get_temp_caps(temp);
    ASSERT_EQ(temp.sensors.size(), 10u);
    EXPECT_EQ(temp.sensors[1], (drv_temp_sensor_t{0, 0, "PT1000"}));
    EXPECT_EQ(temp.sensors[5], (drv_temp_sensor_t{0, 1, "KITS90"}));
    EXPECT_EQ(temp.rel_min, -1e15);

    drv_sensor_caps_t sensor;
    make_driver(&link, "VXA-2")->get_sensor_caps(sensor);
    EXPECT_FALSE(sensor.has_sensor);
    make_driver(&link, "VXB-2")->get_sensor_caps(sensor);
    EXPECT_TRUE(sensor.has_sensor);

    drv_cont_caps_t cont;
    drv_diode_caps_t diode;
    make_driver(&link, "VXB-3")->get_cont_caps(cont);
    make_driver(&link, "VXA-1")->get_diode_caps(diode);
    EXPECT_EQ(cont.threshold_max, 2000);
    EXPECT_TRUE(cont.beeper_shared);
    EXPECT_EQ(diode.threshold_max, 4.0);
}

TEST(drv_tables, default_configurations) {
    drv_fake_link_t link;
    plib_measure_cfg_map_t vxa1;
    make_driver(&link, "VXA-1")->get_default_cfg_map(vxa1);
    EXPECT_EQ(vxa1[measure_dcv].range, "600mV");
    EXPECT_EQ(vxa1[measure_dcv].nplc, "10");
    EXPECT_EQ(vxa1[measure_dcv].auto_zero, 1);
    EXPECT_EQ(vxa1[measure_dcv].impedance, "10M");
    EXPECT_EQ(vxa1[measure_temp].temp_sensor, (drv_temp_sensor_t{0, 1, "KITS90"}));
    EXPECT_EQ(vxa1[measure_cont].threshold, "50");
    EXPECT_EQ(vxa1[measure_diode].beeper, 1);

    for (const std::string& model : all_models) {
        SCOPED_TRACE(model);
        plib_measure_cfg_map_t cfg_map;
        cfg_map[measure_dcv].range = "stale";
        make_driver(&link, model)->get_default_cfg_map(cfg_map);
        const bool vxb = model[2] == 'B';
        EXPECT_EQ(cfg_map.count(measure_period), vxb ? 1u : 0u);
        EXPECT_EQ(cfg_map.count(measure_sensor), vxb ? 1u : 0u);
        EXPECT_NE(cfg_map[measure_dcv].range, "stale");
        EXPECT_EQ(cfg_map[measure_cap].rel_value, "0");
    }
}

// Every default range is one the model lists ("u" and "μ" alike), every list starts
// with "Auto", and the impedance choice names ranges the model has.
TEST(drv_tables, defaults_are_in_the_range_lists) {
    drv_fake_link_t link;
    for (const std::string& model : all_models) {
        SCOPED_TRACE(model);
        auto driver = make_driver(&link, model);
        plib_measure_cfg_map_t cfg;
        driver->get_default_cfg_map(cfg);
        drv_dcv_caps_t dcv;
        drv_ac_caps_t acv, aci;
        drv_dci_caps_t dci;
        drv_res_caps_t res2, res4;
        drv_cap_caps_t cap;
        drv_freq_caps_t freq;
        driver->get_dcv_caps(dcv), driver->get_acv_caps(acv), driver->get_dci_caps(dci);
        driver->get_aci_caps(aci), driver->get_res2w_caps(res2), driver->get_res4w_caps(res4);
        driver->get_cap_caps(cap), driver->get_freq_caps(freq);
        const std::vector<std::pair<plib_measure_type_t, const list_t*>> lists = {
            {measure_dcv, &dcv.ranges}, {measure_acv, &acv.ranges},     {measure_dci, &dci.ranges},
            {measure_aci, &aci.ranges}, {measure_res_2w, &res2.ranges}, {measure_res_4w, &res4.ranges},
            {measure_cap, &cap.ranges}, {measure_freq, &freq.ranges}};
        for (const auto& entry : lists) {
            ASSERT_FALSE(entry.second->empty());
            EXPECT_EQ(entry.second->front(), "Auto");
            EXPECT_GE(drv_find_range(*entry.second, cfg[entry.first].range), 1) << cfg[entry.first].range;
        }
        for (const std::string& range : dcv.impedance_ranges) EXPECT_GE(drv_find_range(dcv.ranges, range), 0);
    }
}

TEST(drv_tables, scanner_descriptions) {
    drv_fake_link_t link;
    drv_if_t driver(&link, "VXB-1");
    EXPECT_EQ(driver.get_scan_channel_count(), 16);

    plib_scan_channel_funcs_t funcs;
    funcs[2] = {measure_temp};
    driver.get_scan_channel_funcs(funcs);
    ASSERT_EQ(funcs.size(), 16u);
    EXPECT_EQ(funcs[1].size(), 10u);
    EXPECT_EQ(funcs[2], (std::vector<plib_measure_type_t>{measure_temp}));  // kept
    EXPECT_EQ(funcs[7].size(), 9u);
    EXPECT_EQ(funcs[12][2], measure_res_2w);
    EXPECT_EQ(funcs[12][3], measure_freq);
    EXPECT_EQ(funcs[16], (std::vector<plib_measure_type_t>{measure_dci, measure_aci}));

    list_t ranges = {"keep"};
    EXPECT_EQ(driver.get_scan_ranges(measure_sensor, ranges), 0);
    EXPECT_EQ(ranges, list_t{"keep"});
    EXPECT_EQ(driver.get_scan_ranges(measure_cap, ranges), 1);
    EXPECT_EQ(ranges.back(), "10000uF");
    EXPECT_EQ(driver.get_scan_ranges(measure_diode, ranges), 1);
    EXPECT_TRUE(ranges.empty());
    EXPECT_EQ(driver.get_scan_ranges(measure_aci, ranges), 1);
    EXPECT_EQ(ranges, list_t{"2A"});

    plib_scanner_channel_map_t params;
    params[5].name = "old";
    driver.get_scan_default_channel_param(params);
    ASSERT_EQ(params.size(), 16u);
    EXPECT_EQ(params[5].name, "");
    EXPECT_EQ(params[1].func, measure_dcv);
    EXPECT_EQ(params[1].range, "Auto");
    EXPECT_EQ(params[1].scan_counts, 1);
    EXPECT_EQ(params[1].scan_state, 0);
    EXPECT_EQ(params[1].gain, 1.0);  // neutral: ticking Scaling changes nothing by itself
    EXPECT_EQ(params[1].offset, 0.0);
    EXPECT_EQ(params[14].func, measure_dci);
    EXPECT_EQ(params[14].range, "2A");

    plib_scan_param_t scan;
    plib_scan_limits_t limits;
    EXPECT_EQ(driver.get_scan_default_param(scan), 1);
    EXPECT_EQ(driver.get_scan_limits(limits), 1);
    EXPECT_EQ(scan.scan_mode, 0);
    EXPECT_EQ(scan.scan_delay, 1.0);
    EXPECT_EQ(scan.scan_count, 1);
    EXPECT_EQ(scan.auto_count, 1);
    EXPECT_EQ(limits.max_delay, 999.0);
    EXPECT_EQ(limits.max_count, 999);
    EXPECT_EQ(limits.max_stop_count, 999);
}

}  // namespace
