#include "drv/drv_model_tables.h"

namespace {

using list_t = std::vector<std::string>;

template <typename caps_t>
void _rel(caps_t& caps, double limit) {
    caps.rel_min = -limit;
    caps.rel_max = limit;
}

// Names the fields of one default entry as it is written: entry(map[f]).range("2V")...
class entry {
public:
    explicit entry(plib_measure_func_cfg_t& cfg) : m_cfg(cfg) {}
    entry& auto_range(int v) { return m_cfg.auto_range = v, *this; }
    entry& range(const char* v) { return m_cfg.range = v, *this; }
    entry& nplc(const char* v) { return m_cfg.nplc = v, *this; }
    entry& filter(int v) { return m_cfg.filter = v, *this; }
    entry& impedance(const char* v) { return m_cfg.impedance = v, *this; }
    entry& bandwidth(const char* v) { return m_cfg.bandwidth = v, *this; }
    entry& auto_zero(int v) { return m_cfg.auto_zero = v, *this; }
    entry& diverter(int v) { return m_cfg.diverter = v, *this; }
    entry& aperture(const char* v) { return m_cfg.aperture = v, *this; }
    entry& beeper(int v) { return m_cfg.beeper = v, *this; }
    entry& threshold(const char* v) { return m_cfg.threshold = v, *this; }

private:
    plib_measure_func_cfg_t& m_cfg;
};

std::vector<drv_temp_sensor_t> _firmware_sensors() {
    std::vector<drv_temp_sensor_t> sensors;
    for (const char* name : {"PT100", "PT1000"}) sensors.push_back({0, 0, name});
    for (const char* name : {"BITS90", "EITS90", "JITS90", "KITS90", "NITS90", "RITS90", "SITS90", "TITS90"})
        sensors.push_back({0, 1, name});
    return sensors;
}

// Values every model's default configuration shares: relative offset off at "0",
// Continuity, Diode and Temperature.
plib_measure_cfg_map_t _common_defaults(bool with_period_and_sensor) {
    plib_measure_cfg_map_t map;
    std::vector<int> with_rel = {measure_dcv,    measure_dci, measure_acv,  measure_aci, measure_res_2w,
                                 measure_res_4w, measure_cap, measure_freq, measure_temp};
    if (with_period_and_sensor) with_rel.push_back(measure_period);
    for (int type : with_rel) {
        map[type].rel_state = 0;
        map[type].rel_value = "0";
    }
    entry(map[measure_cont]).beeper(1).threshold("50");
    entry(map[measure_diode]).beeper(1).threshold("2");
    auto& temp = map[measure_temp];
    temp.range = "100";
    temp.temp_unit = 0;
    temp.temp_display = 0;
    temp.temp_source = 0;
    temp.temp_ext_source_val = "0";
    temp.temp_sensor = {0, 1, "KITS90"};
    if (with_period_and_sensor) map[measure_sensor] = plib_measure_func_cfg_t();
    return map;
}

void _set_ranges(plib_measure_cfg_map_t& map, const char* dcv, const char* dci, const char* acv,
                 const char* aci, const char* res, const char* cap) {
    map[measure_dcv].range = dcv;
    map[measure_dci].range = dci;
    map[measure_acv].range = acv;
    map[measure_aci].range = aci;
    map[measure_res_2w].range = res;
    map[measure_res_4w].range = res;
    map[measure_cap].range = cap;
}

// The first family's default configuration (VXA-2, VXA-2E, VXA-3).
plib_measure_cfg_map_t _vxa_defaults() {
    plib_measure_cfg_map_t map = _common_defaults(false);
    entry(map[measure_dcv]).auto_range(1).range("200mV").nplc("10").filter(0).impedance("10M").auto_zero(1);
    entry(map[measure_dci]).auto_range(1).range("200μA").nplc("10").filter(0).auto_zero(1).diverter(0);
    entry(map[measure_acv]).auto_range(1).range("200mV").nplc("10").bandwidth("20");
    entry(map[measure_aci]).auto_range(1).range("20mA").nplc("10").bandwidth("20").diverter(0);
    for (int type : {measure_res_2w, measure_res_4w}) {
        entry(map[type]).auto_range(1).range("2kΩ").nplc("10").auto_zero(0);
    }
    entry(map[measure_cap]).auto_range(1).range("2uF");
    entry(map[measure_freq]).auto_range(1).range("20V").aperture("0.1");
    return map;
}

void _vxb_frequency_and_period(plib_measure_cfg_map_t& map) {
    entry(map[measure_freq]).auto_range(1).range("2V").aperture("0.1");
    map[measure_period] = map[measure_freq];
}

// The first family's shared AC, resistance and frequency shapes; the model tables
// fill in the ranges.
void _vxa_common_caps(drv_model_table_t& t) {
    _rel(t.dcv, 1100);
    _rel(t.acv, 825);
    _rel(t.dci, 11);
    _rel(t.aci, 11);
    _rel(t.res, 1.1e8);
    _rel(t.freq, 1.2e6);
    t.res.speeds = {"10", "1", "0.3"};
}

void _vxb_common_caps(drv_model_table_t& t) {
    _rel(t.dcv, 1100);
    _rel(t.acv, 825);
    _rel(t.dci, 11);
    _rel(t.aci, 11);
    _rel(t.res, 1.1e9);
    t.dci.has_diverter = true;
    t.aci.has_diverter = true;
}

const list_t vxb_fast_speeds = {"100", "10", "1", "0.1", "0.01", "0.001"};
const list_t ac_bandwidths = {"3", "20", "200"};

}  // namespace

const drv_family_table_t& drv_vxa_family_table() {
    static const drv_family_table_t table = [] {
        drv_family_table_t t;
        t.cap.ranges = {"Auto", "2nF", "20nF", "200nF", "2uF", "20uF", "200uF", "2mF", "20mF", "100mF"};
        _rel(t.cap, 0.012);
        t.period.freq_shared = true;
        t.cont = {0, 2000, true};
        t.diode = {0, 4.0};
        _rel(t.temp, 1e15);
        t.temp.sensors = _firmware_sensors();
        t.sensor.has_sensor = false;
        return t;
    }();
    return table;
}

const drv_family_table_t& drv_vxb_family_table() {
    static const drv_family_table_t table = [] {
        drv_family_table_t t;
        t.freq.ranges = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
        _rel(t.freq, 1.1e6);
        t.freq.has_aperture = true;
        t.freq.apertures = {"0.001", "0.01", "0.1", "1"};
        t.period = t.freq;
        _rel(t.period, 1.1);
        t.period.freq_shared = false;
        t.cont = {0, 2000, true};
        t.diode = {0, 4.0};
        _rel(t.temp, 1e15);
        t.temp.sensors = _firmware_sensors();
        t.sensor.has_sensor = true;
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxa_1_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t;
        _vxa_common_caps(t);
        t.dcv.ranges = {"Auto", "600mV", "6V", "60V", "600V", "1000V"};
        t.dcv.speeds = {"10", "1", "0.3"};
        t.dcv.has_filter = true;
        // Its own counterparts of the 200mV and 2V ranges of the other models.
        t.dcv.impedance_ranges = {"600mV", "6V"};
        t.acv.ranges = {"Auto", "600mV", "6V", "60V", "600V", "750V"};
        t.acv.speeds = {"10", "1", "0.3"};
        t.dci.ranges = {"Auto", "600uA", "6mA", "60mA", "600mA", "6A", "10A"};
        t.dci.speeds = {"10", "1", "0.3"};
        t.dci.has_filter = true;
        t.aci.ranges = {"Auto", "60mA", "600mA", "6A", "10A"};
        t.aci.speeds = {"10", "1", "0.3"};
        t.res.ranges = {"Auto", "600Ω", "6kΩ", "60kΩ", "600kΩ", "6MΩ", "60MΩ", "100MΩ"};
        t.freq.ranges = {"Auto", "600mV", "6V", "60V", "600V", "750V"};
        // The VXA-2 defaults with VXA-1's own ranges.
        t.defaults = _vxa_defaults();
        _set_ranges(t.defaults, "600mV", "600uA", "600mV", "60mA", "6kΩ", "2uF");
        t.defaults[measure_freq].range = "60V";
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxa_2_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t;
        _vxa_common_caps(t);
        t.dcv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "1000V"};
        t.dcv.speeds = {"10", "1", "0.3"};
        t.dcv.has_filter = true;
        t.dcv.impedance_ranges = {"200mV", "2V"};
        t.acv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
        t.acv.speeds = {"10", "1", "0.3"};
        t.dci.ranges = {"Auto", "200μA", "2mA", "20mA", "200mA", "2A", "10A"};
        t.dci.speeds = {"10", "1", "0.3"};
        t.dci.has_filter = true;
        t.aci.ranges = {"Auto", "20mA", "200mA", "2A", "10A"};
        t.aci.speeds = {"10", "1", "0.3"};
        t.res.ranges = {"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "2MΩ", "10MΩ", "100MΩ"};
        t.freq.ranges = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
        t.defaults = _vxa_defaults();
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxa_3_table() {
    static const drv_model_table_t table = [] {
        const list_t speeds = {"100", "10", "1", "0.5", "0.05", "0.005"};
        drv_model_table_t t;
        _vxa_common_caps(t);
        t.dcv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "1000V"};
        t.dcv.speeds = speeds;
        t.dcv.has_auto_zero = true;
        t.dcv.impedance_ranges = {"200mV", "2V", "20V"};
        t.acv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
        t.acv.has_bandwidth = true;
        t.acv.bandwidths = ac_bandwidths;
        t.dci.ranges = {"Auto", "200μA", "2mA", "20mA", "200mA", "2A", "10A"};
        t.dci.speeds = speeds;
        t.dci.has_auto_zero = true;
        t.aci.ranges = {"Auto", "200μA", "2mA", "20mA", "200mA", "2A", "10A"};
        t.aci.has_bandwidth = true;
        t.aci.bandwidths = ac_bandwidths;
        t.res.ranges = {"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "2MΩ", "10MΩ", "100MΩ"};
        t.res.has_auto_zero = true;
        t.freq.ranges = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
        t.freq.has_aperture = true;
        t.freq.apertures = {"0.001", "0.01", "0.1", "1"};
        t.defaults = _vxa_defaults();
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxb_1_table() {
    static const drv_model_table_t table = [] {
        const list_t speeds = {"10", "0.01"};
        drv_model_table_t t;
        _vxb_common_caps(t);
        t.dcv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "1000V"};
        t.dcv.speeds = speeds;
        t.dcv.impedance_ranges = {"Auto", "200mV", "2V", "20V"};
        t.acv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
        t.acv.speeds = speeds;
        t.dci.ranges = {"Auto", "200μA", "2mA", "20mA", "200mA", "2A", "10A"};
        t.dci.speeds = speeds;
        t.aci.ranges = {"Auto", "20mA", "200mA", "2A", "10A"};
        t.aci.speeds = speeds;
        t.res.ranges = {"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "2MΩ", "10MΩ", "100MΩ"};
        t.res.speeds = speeds;
        t.cap.ranges = {"Auto", "2nF", "20nF", "200nF", "2μF", "20μF", "10mF"};
        _rel(t.cap, 1.1e-5);

        t.defaults = _common_defaults(true);
        entry(t.defaults[measure_dcv]).auto_range(1).range("200mV").nplc("1").impedance("10M");
        entry(t.defaults[measure_dci]).auto_range(1).range("200μA").nplc("1").diverter(0);
        entry(t.defaults[measure_acv]).auto_range(1).range("200mV").nplc("1");
        entry(t.defaults[measure_aci]).auto_range(1).range("20mA").nplc("1").diverter(0);
        for (int type : {measure_res_2w, measure_res_4w}) {
            entry(t.defaults[type]).auto_range(1).range("2kΩ").nplc("1");
        }
        entry(t.defaults[measure_cap]).auto_range(1).range("2uF");
        _vxb_frequency_and_period(t.defaults);
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxb_2_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t;
        _vxb_common_caps(t);
        t.dcv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "1000V"};
        t.dcv.speeds = vxb_fast_speeds;
        t.dcv.has_auto_zero = true;
        t.dcv.impedance_ranges = {"Auto", "200mV", "2V", "20V"};
        t.acv.ranges = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
        t.acv.has_bandwidth = true;
        t.acv.bandwidths = ac_bandwidths;
        t.dci.ranges = {"Auto", "200μA", "2mA", "20mA", "200mA", "2A", "10A"};
        t.dci.speeds = vxb_fast_speeds;
        t.dci.has_auto_zero = true;
        t.aci.ranges = {"Auto", "200μA", "2mA", "20mA", "200mA", "2A", "10A"};
        t.aci.has_bandwidth = true;
        t.aci.bandwidths = ac_bandwidths;
        t.res.ranges = {"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "1MΩ", "10MΩ", "100MΩ"};
        t.res.speeds = vxb_fast_speeds;
        t.res.has_auto_zero = true;
        t.cap.ranges = {"Auto", "2nF", "20nF", "200nF", "2μF", "20μF", "200μF", "2mF", "20mF", "100mF"};
        _rel(t.cap, 1.1e-4);

        t.defaults = _common_defaults(true);
        entry(t.defaults[measure_dcv]).auto_range(1).range("200mV").nplc("10").impedance("10M").auto_zero(0);
        entry(t.defaults[measure_dci]).auto_range(1).range("200μA").nplc("10").auto_zero(0).diverter(0);
        entry(t.defaults[measure_acv]).auto_range(1).range("200mV").bandwidth("20");
        entry(t.defaults[measure_aci]).auto_range(1).range("20mA").bandwidth("20").diverter(0);
        for (int type : {measure_res_2w, measure_res_4w}) {
            entry(t.defaults[type]).auto_range(1).range("2kΩ").nplc("10").auto_zero(0);
        }
        entry(t.defaults[measure_cap]).auto_range(1).range("2uF");
        _vxb_frequency_and_period(t.defaults);
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxb_3_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t;
        _vxb_common_caps(t);
        t.dcv.ranges = {"Auto", "100mV", "1V", "10V", "100V", "1000V"};
        t.dcv.speeds = vxb_fast_speeds;
        t.dcv.has_auto_zero = true;
        t.dcv.impedance_ranges = {"Auto", "100mV", "1V", "10V"};
        t.acv.ranges = {"Auto", "100mV", "1V", "10V", "100V", "750V"};
        t.acv.has_bandwidth = true;
        t.acv.bandwidths = ac_bandwidths;
        t.dci.ranges = {"Auto", "1μA", "10μA", "100μA", "1mA", "10mA", "100mA", "1A", "3A", "10A"};
        t.dci.speeds = vxb_fast_speeds;
        t.dci.has_auto_zero = true;
        t.aci.ranges = {"Auto", "100μA", "1mA", "10mA", "100mA", "1A", "2A", "10A"};
        t.aci.has_bandwidth = true;
        t.aci.bandwidths = ac_bandwidths;
        t.res.ranges = {"Auto", "10Ω", "100Ω", "1kΩ", "10kΩ", "100kΩ", "1MΩ", "10MΩ", "100MΩ", "1GΩ"};
        t.res.speeds = vxb_fast_speeds;
        t.res.has_auto_zero = true;
        t.cap.ranges = {"Auto", "1nF", "10nF", "100nF", "1μF", "10μF", "100μF", "1mF", "10mF", "100mF"};
        _rel(t.cap, 1.1e-4);
        // The VXB-2 defaults with VXB-3's own ranges.
        t.defaults = drv_vxb_2_table().defaults;
        _set_ranges(t.defaults, "100mV", "100μA", "100mV", "10mA", "1kΩ", "1uF");
        return t;
    }();
    return table;
}
