#include "drv/drv_model_tables.h"

#include <string>

namespace {

using list_t = std::vector<std::string>;
using order_t = std::vector<drv_transfer_step_t>;

// --- lists several models share ---------------------------------------------------

const list_t dcv_ranges_200mv = {"Auto", "200mV", "2V", "20V", "200V", "1000V"};
// AC voltage, and the voltage ranges of Frequency and Period.
const list_t ac_ranges_200mv = {"Auto", "200mV", "2V", "20V", "200V", "750V"};
const list_t current_ranges_200ua = {"Auto", "200μA", "2mA", "20mA", "200mA", "2A", "10A"};
const list_t aci_ranges_20ma = {"Auto", "20mA", "200mA", "2A", "10A"};
const list_t res_ranges_200ohm = {"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "2MΩ", "10MΩ", "100MΩ"};

// Integration times (NPLC).
const list_t vxa_speeds = {"10", "1", "0.3"};
const list_t vxa_3_speeds = {"100", "10", "1", "0.5", "0.05", "0.005"};
const list_t vxb_1_speeds = {"10", "0.01"};
const list_t vxb_speeds = {"100", "10", "1", "0.1", "0.01", "0.001"};

const list_t ac_bandwidths = {"3", "20", "200"};
const list_t freq_apertures = {"0.001", "0.01", "0.1", "1"};

// --- helpers ----------------------------------------------------------------------

// The relative offset may range over ±limit (base units).
template <typename caps_t>
void _rel_limits(caps_t& caps, double limit) {
    caps.rel_min = -limit;
    caps.rel_max = limit;
}

drv_temp_sensor_t _firmware_sensor(int type, const char* name) {
    drv_temp_sensor_t sensor;
    sensor.define = 0;
    sensor.type = type;
    sensor.name = name;
    return sensor;
}

std::vector<drv_temp_sensor_t> _firmware_sensors() {
    constexpr int rtd = 0;
    constexpr int thermocouple = 1;
    std::vector<drv_temp_sensor_t> sensors;
    for (const char* name : {"PT100", "PT1000"}) sensors.push_back(_firmware_sensor(rtd, name));
    for (const char* name : {"BITS90", "EITS90", "JITS90", "KITS90", "NITS90", "RITS90", "SITS90", "TITS90"})
        sensors.push_back(_firmware_sensor(thermocouple, name));
    return sensors;
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

// Values every model's default configuration shares: relative offset off at "0",
// Continuity, Diode and Temperature; the second family adds Period and Sensor.
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
    plib_measure_func_cfg_t& temp = map[measure_temp];
    temp.range = "100";
    temp.temp_unit = 0;
    temp.temp_display = 0;
    temp.temp_source = 0;
    temp.temp_ext_source_val = "0";
    temp.temp_sensor.define = 0;
    temp.temp_sensor.type = 1;
    temp.temp_sensor.name = "KITS90";
    if (with_period_and_sensor) map[measure_sensor] = plib_measure_func_cfg_t();
    return map;
}

// The first family's default configuration (VXA-2, VXA-2E and VXA-3).
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

// --- configuration transfer -------------------------------------------------------

// Range, auto range and relative offset: every ranged function sends them.
constexpr unsigned ranged = drv_send_range | drv_send_range_auto | drv_send_null | drv_send_null_value;
constexpr unsigned ranged_nplc = ranged | drv_send_nplc;

// Capacitance, Frequency (the second family: and Period), Continuity and Diode go out
// alike on every model, after the functions the models differ in.
void _append_common_transfer(order_t& order, bool with_period) {
    order.push_back({measure_cap, ranged});
    order.push_back({measure_freq, ranged | drv_send_aperture});
    if (with_period) order.push_back({measure_period, ranged | drv_send_aperture});
    order.push_back({measure_cont, drv_send_beep | drv_send_threshold});
    order.push_back({measure_diode, drv_send_threshold});
}

// --- families ---------------------------------------------------------------------

// What every model of both families shares: the relative-offset limits of the DC
// and AC functions, Continuity, Diode and Temperature.
drv_model_table_t _common_caps() {
    drv_model_table_t t;
    _rel_limits(t.dcv, 1100);
    _rel_limits(t.acv, 825);
    _rel_limits(t.dci, 11);
    _rel_limits(t.aci, 11);
    t.cont.threshold_min = 0;
    t.cont.threshold_max = 2000;
    t.cont.beeper_shared = true;
    t.diode.threshold_min = 0;
    t.diode.threshold_max = 4.0;
    _rel_limits(t.temp, 1e15);
    t.temp.sensors = _firmware_sensors();
    return t;
}

// What every first-family model adds: the resistance and frequency offset limits,
// the resistance speeds, Capacitance, Period (which uses the Frequency settings), no
// Sensor, the default configuration and one transfer order.
drv_model_table_t _vxa_family() {
    drv_model_table_t t = _common_caps();
    _rel_limits(t.res, 1.1e8);
    _rel_limits(t.freq, 1.2e6);
    t.res.speeds = vxa_speeds;
    t.cap.ranges = {"Auto", "2nF", "20nF", "200nF", "2uF", "20uF", "200uF", "2mF", "20mF", "100mF"};
    _rel_limits(t.cap, 0.012);
    t.period.freq_shared = true;
    t.sensor.has_sensor = false;
    t.defaults = _vxa_defaults();
    t.transfer = {
        {measure_dcv, ranged_nplc | drv_send_filter | drv_send_auto_zero | drv_send_volt_impedance},
        {measure_dci, ranged_nplc | drv_send_filter | drv_send_auto_zero | drv_send_diverter},
        {measure_acv, ranged_nplc | drv_send_bandwidth},
        {measure_aci, ranged_nplc | drv_send_bandwidth | drv_send_diverter},
        {measure_res_2w, ranged_nplc | drv_send_auto_zero},
        {measure_res_4w, ranged_nplc | drv_send_auto_zero},
    };
    _append_common_transfer(t.transfer, false);
    return t;
}

// What every second-family model adds: the resistance offset limits, the current
// diverter, Frequency and Period, Sensor, and the default configuration of the
// functions the models agree on.
drv_model_table_t _vxb_family() {
    drv_model_table_t t = _common_caps();
    _rel_limits(t.res, 1.1e9);
    t.dci.has_diverter = true;
    t.aci.has_diverter = true;
    t.freq.ranges = ac_ranges_200mv;
    _rel_limits(t.freq, 1.1e6);
    t.freq.has_aperture = true;
    t.freq.apertures = freq_apertures;
    t.period = t.freq;
    _rel_limits(t.period, 1.1);
    t.period.freq_shared = false;
    t.sensor.has_sensor = true;
    t.defaults = _common_defaults(true);
    entry(t.defaults[measure_cap]).auto_range(1).range("2uF");
    entry(t.defaults[measure_freq]).auto_range(1).range("2V").aperture("0.1");
    t.defaults[measure_period] = t.defaults[measure_freq];
    return t;
}

}  // namespace

// --- first family -----------------------------------------------------------------

const drv_model_table_t& drv_vxa_2_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t = _vxa_family();
        t.dcv.ranges = dcv_ranges_200mv;
        t.dcv.speeds = vxa_speeds;
        t.dcv.has_filter = true;
        t.dcv.impedance_ranges = {"200mV", "2V"};
        t.acv.ranges = ac_ranges_200mv;
        t.acv.speeds = vxa_speeds;
        t.dci.ranges = current_ranges_200ua;
        t.dci.speeds = vxa_speeds;
        t.dci.has_filter = true;
        t.aci.ranges = aci_ranges_20ma;
        t.aci.speeds = vxa_speeds;
        t.res.ranges = res_ranges_200ohm;
        t.freq.ranges = ac_ranges_200mv;
        return t;
    }();
    return table;
}

// VXA-2 with its own ranges.
const drv_model_table_t& drv_vxa_1_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t = drv_vxa_2_table();
        t.dcv.ranges = {"Auto", "600mV", "6V", "60V", "600V", "1000V"};
        // Its own counterparts of the 200mV and 2V ranges of the other models.
        t.dcv.impedance_ranges = {"600mV", "6V"};
        t.acv.ranges = {"Auto", "600mV", "6V", "60V", "600V", "750V"};
        t.dci.ranges = {"Auto", "600uA", "6mA", "60mA", "600mA", "6A", "10A"};
        t.aci.ranges = {"Auto", "60mA", "600mA", "6A", "10A"};
        t.res.ranges = {"Auto", "600Ω", "6kΩ", "60kΩ", "600kΩ", "6MΩ", "60MΩ", "100MΩ"};
        t.freq.ranges = t.acv.ranges;
        entry(t.defaults[measure_dcv]).range("600mV");
        entry(t.defaults[measure_dci]).range("600uA");
        entry(t.defaults[measure_acv]).range("600mV");
        entry(t.defaults[measure_aci]).range("60mA");
        entry(t.defaults[measure_res_2w]).range("6kΩ");
        entry(t.defaults[measure_res_4w]).range("6kΩ");
        entry(t.defaults[measure_freq]).range("60V");
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxa_3_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t = _vxa_family();
        t.dcv.ranges = dcv_ranges_200mv;
        t.dcv.speeds = vxa_3_speeds;
        t.dcv.has_auto_zero = true;
        t.dcv.impedance_ranges = {"200mV", "2V", "20V"};
        t.acv.ranges = ac_ranges_200mv;
        t.acv.has_bandwidth = true;
        t.acv.bandwidths = ac_bandwidths;
        t.dci.ranges = current_ranges_200ua;
        t.dci.speeds = vxa_3_speeds;
        t.dci.has_auto_zero = true;
        t.aci.ranges = current_ranges_200ua;
        t.aci.has_bandwidth = true;
        t.aci.bandwidths = ac_bandwidths;
        t.res.ranges = res_ranges_200ohm;
        t.res.has_auto_zero = true;
        t.freq.ranges = ac_ranges_200mv;
        t.freq.has_aperture = true;
        t.freq.apertures = freq_apertures;
        return t;
    }();
    return table;
}

// --- second family ----------------------------------------------------------------

const drv_model_table_t& drv_vxb_1_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t = _vxb_family();
        t.dcv.ranges = dcv_ranges_200mv;
        t.dcv.speeds = vxb_1_speeds;
        t.dcv.impedance_ranges = {"Auto", "200mV", "2V", "20V"};
        t.acv.ranges = ac_ranges_200mv;
        t.acv.speeds = vxb_1_speeds;
        t.dci.ranges = current_ranges_200ua;
        t.dci.speeds = vxb_1_speeds;
        t.aci.ranges = aci_ranges_20ma;
        t.aci.speeds = vxb_1_speeds;
        t.res.ranges = res_ranges_200ohm;
        t.res.speeds = vxb_1_speeds;
        t.cap.ranges = {"Auto", "2nF", "20nF", "200nF", "2μF", "20μF", "10mF"};
        _rel_limits(t.cap, 1.1e-5);

        entry(t.defaults[measure_dcv]).auto_range(1).range("200mV").nplc("1").impedance("10M");
        entry(t.defaults[measure_dci]).auto_range(1).range("200μA").nplc("1").diverter(0);
        entry(t.defaults[measure_acv]).auto_range(1).range("200mV").nplc("1");
        entry(t.defaults[measure_aci]).auto_range(1).range("20mA").nplc("1").diverter(0);
        for (int type : {measure_res_2w, measure_res_4w}) {
            entry(t.defaults[type]).auto_range(1).range("2kΩ").nplc("1");
        }

        t.transfer = {
            {measure_dcv, ranged_nplc | drv_send_volt_impedance},
            {measure_dci, ranged_nplc | drv_send_diverter},
            {measure_acv, ranged_nplc},
            {measure_aci, ranged_nplc | drv_send_diverter},
            {measure_res_2w, ranged_nplc},
            {measure_res_4w, ranged_nplc},
        };
        _append_common_transfer(t.transfer, true);
        return t;
    }();
    return table;
}

const drv_model_table_t& drv_vxb_2_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t = _vxb_family();
        t.dcv.ranges = dcv_ranges_200mv;
        t.dcv.speeds = vxb_speeds;
        t.dcv.has_auto_zero = true;
        t.dcv.impedance_ranges = {"Auto", "200mV", "2V", "20V"};
        t.acv.ranges = ac_ranges_200mv;
        t.acv.has_bandwidth = true;
        t.acv.bandwidths = ac_bandwidths;
        t.dci.ranges = current_ranges_200ua;
        t.dci.speeds = vxb_speeds;
        t.dci.has_auto_zero = true;
        t.aci.ranges = current_ranges_200ua;
        t.aci.has_bandwidth = true;
        t.aci.bandwidths = ac_bandwidths;
        t.res.ranges = {"Auto", "200Ω", "2kΩ", "20kΩ", "200kΩ", "1MΩ", "10MΩ", "100MΩ"};
        t.res.speeds = vxb_speeds;
        t.res.has_auto_zero = true;
        t.cap.ranges = {"Auto", "2nF", "20nF", "200nF", "2μF", "20μF", "200μF", "2mF", "20mF", "100mF"};
        _rel_limits(t.cap, 1.1e-4);

        entry(t.defaults[measure_dcv]).auto_range(1).range("200mV").nplc("10").impedance("10M").auto_zero(0);
        entry(t.defaults[measure_dci]).auto_range(1).range("200μA").nplc("10").auto_zero(0).diverter(0);
        entry(t.defaults[measure_acv]).auto_range(1).range("200mV").bandwidth("20");
        entry(t.defaults[measure_aci]).auto_range(1).range("20mA").bandwidth("20").diverter(0);
        for (int type : {measure_res_2w, measure_res_4w}) {
            entry(t.defaults[type]).auto_range(1).range("2kΩ").nplc("10").auto_zero(0);
        }

        t.transfer = {
            {measure_dcv, ranged_nplc | drv_send_auto_zero | drv_send_volt_impedance},
            {measure_dci, ranged_nplc | drv_send_auto_zero | drv_send_diverter},
            {measure_acv, ranged | drv_send_bandwidth},
            {measure_aci, ranged | drv_send_bandwidth | drv_send_diverter},
            {measure_res_2w, ranged_nplc | drv_send_auto_zero},
            {measure_res_4w, ranged_nplc | drv_send_auto_zero},
        };
        _append_common_transfer(t.transfer, true);
        return t;
    }();
    return table;
}

// VXB-2 with its own ranges; it transfers DC and resistance as VXB-1 does (no auto
// zero) and AC as VXB-2 does.
const drv_model_table_t& drv_vxb_3_table() {
    static const drv_model_table_t table = [] {
        drv_model_table_t t = drv_vxb_2_table();
        t.dcv.ranges = {"Auto", "100mV", "1V", "10V", "100V", "1000V"};
        t.dcv.impedance_ranges = {"Auto", "100mV", "1V", "10V"};
        t.acv.ranges = {"Auto", "100mV", "1V", "10V", "100V", "750V"};
        t.dci.ranges = {"Auto", "1μA", "10μA", "100μA", "1mA", "10mA", "100mA", "1A", "3A", "10A"};
        t.aci.ranges = {"Auto", "100μA", "1mA", "10mA", "100mA", "1A", "2A", "10A"};
        t.res.ranges = {"Auto", "10Ω", "100Ω", "1kΩ", "10kΩ", "100kΩ", "1MΩ", "10MΩ", "100MΩ", "1GΩ"};
        t.cap.ranges = {"Auto", "1nF", "10nF", "100nF", "1μF", "10μF", "100μF", "1mF", "10mF", "100mF"};

        entry(t.defaults[measure_dcv]).range("100mV");
        entry(t.defaults[measure_dci]).range("100μA");
        entry(t.defaults[measure_acv]).range("100mV");
        entry(t.defaults[measure_aci]).range("10mA");
        entry(t.defaults[measure_res_2w]).range("1kΩ");
        entry(t.defaults[measure_res_4w]).range("1kΩ");
        entry(t.defaults[measure_cap]).range("1uF");

        t.transfer = {
            {measure_dcv, ranged_nplc | drv_send_volt_impedance},
            {measure_dci, ranged_nplc | drv_send_diverter},
            {measure_acv, ranged | drv_send_bandwidth},
            {measure_aci, ranged | drv_send_bandwidth | drv_send_diverter},
            {measure_res_2w, ranged_nplc},
            {measure_res_4w, ranged_nplc},
        };
        _append_common_transfer(t.transfer, true);
        return t;
    }();
    return table;
}
