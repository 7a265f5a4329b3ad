#include "common/plib_measure_type.h"

namespace {

// A function-local static so the tables exist before any other static's constructor uses them.
struct measure_texts_t {
    plib_measure_text_table_t names{
        {measure_dcv, "DC Voltage"},
        {measure_dci, "DC Current"},
        {measure_acv, "AC Voltage"},
        {measure_aci, "AC Current"},
        {measure_res_2w, "2 Wire Resistance"},
        {measure_res_4w, "4 Wire Resistance"},
        {measure_freq, "Frequency"},
        {measure_period, "Period"},
        {measure_cap, "Capacitance"},
        {measure_cont, "Continuity"},
        {measure_diode, "Diode"},
        {measure_temp, "Temperature"},
        {measure_sensor, "Sensor"},
    };
    plib_measure_text_table_t scpi{
        {measure_dcv, "VOLT"},    {measure_dci, "CURR"},   {measure_acv, "VOLT:AC"},
        {measure_aci, "CURR:AC"}, {measure_res_2w, "RES"}, {measure_res_4w, "FRES"},
        {measure_freq, "FREQ"},   {measure_period, "PER"}, {measure_cap, "CAP"},
        {measure_cont, "CONT"},   {measure_diode, "DIOD"}, {measure_temp, "TEMP"},
        {measure_sensor, "SENS"},
    };
    // The scanner card switches Frequency and Period with a separate command, so
    // both share the keyword "FRQ". Sensor has no keyword.
    plib_measure_text_table_t short_names{
        {measure_dcv, "DCV"},   {measure_dci, "DCI"},   {measure_acv, "ACV"},   {measure_aci, "ACI"},
        {measure_res_2w, "2W"}, {measure_res_4w, "4W"}, {measure_freq, "FRQ"},  {measure_period, "FRQ"},
        {measure_cap, "CAP"},   {measure_cont, "CONT"}, {measure_diode, "DIO"}, {measure_temp, "TEMP"},
    };
};

const measure_texts_t& _texts() {
    static const measure_texts_t texts;
    return texts;
}

std::string _text_of(const plib_measure_text_table_t& table, plib_measure_type_t type) {
    for (const auto& [value, text] : table) {
        if (value == type) return text;
    }
    return std::string();
}

plib_measure_type_t _type_of(const plib_measure_text_table_t& table, std::string_view text) {
    for (const auto& [value, entry] : table) {
        if (entry == text) return value;
    }
    return measure_none;
}

}  // namespace

const plib_measure_text_table_t& measure_name_table() { return _texts().names; }
const plib_measure_text_table_t& measure_scpi_table() { return _texts().scpi; }
const plib_measure_text_table_t& measure_short_table() { return _texts().short_names; }

std::string measure_name(plib_measure_type_t type) { return _text_of(_texts().names, type); }
std::string measure_scpi(plib_measure_type_t type) { return _text_of(_texts().scpi, type); }
std::string measure_short_name(plib_measure_type_t type) { return _text_of(_texts().short_names, type); }

plib_measure_type_t measure_type_from_name(std::string_view name) { return _type_of(_texts().names, name); }
plib_measure_type_t measure_type_from_scpi(std::string_view scpi) { return _type_of(_texts().scpi, scpi); }

std::string scpi_to_name(std::string_view scpi) {
    const plib_measure_type_t type = measure_type_from_scpi(scpi);
    return type == measure_none ? std::string() : measure_name(type);
}

std::string name_to_scpi(std::string_view name) {
    const plib_measure_type_t type = measure_type_from_name(name);
    return type == measure_none ? std::string() : measure_scpi(type);
}

std::string measure_unit_text(plib_measure_type_t type) {
    switch (type) {
        case measure_dcv:
            return "VDC";
        case measure_dci:
            return "ADC";
        case measure_acv:
            return "VAC";
        case measure_aci:
            return "AAC";
        case measure_res_2w:
        case measure_res_4w:
        case measure_cont:
            return "\u03A9";  // Ω
        case measure_freq:
            return "Hz";
        case measure_period:
            return "s";
        case measure_cap:
            return "F";
        case measure_diode:
            return "VDC";
        default:
            return std::string();
    }
}

std::string range_unit_text(plib_measure_type_t type) {
    switch (type) {
        case measure_dcv:
        case measure_acv:
        // Frequency and period ranges are the input voltage ranges.
        case measure_freq:
        case measure_period:
            return "V";
        case measure_dci:
        case measure_aci:
            return "A";
        case measure_res_2w:
        case measure_res_4w:
            return "\u03A9";  // Ω
        case measure_cap:
            return "F";
        default:
            return std::string();
    }
}

std::string on_off_text(int on) {
    switch (on) {
        case 0:
            return "OFF";
        case 1:
            return "ON";
        default:
            return std::string();
    }
}

std::string temp_unit_text(int index) {
    switch (index) {
        case 0:
            return "\u2103";  // ℃
        case 1:
            return "\u2109";  // ℉
        case 2:
            return "K";
        default:
            return std::string();
    }
}

bool is_on_text(std::string_view text) { return text == "ON" || text == "1"; }
