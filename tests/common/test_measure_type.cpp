#include <gtest/gtest.h>

#include <string>

#include "common/plib_common.h"

namespace {

struct measure_row_t {
    plib_measure_type_t type;
    const char* name;
    const char* scpi;
    const char* short_name;
    const char* unit;
    const char* range_unit;
};

// The whole vocabulary, one row per function, as the instruments and files spell it.
const measure_row_t measure_rows[] = {
    {measure_dcv, "DC Voltage", "VOLT", "DCV", "VDC", "V"},
    {measure_dci, "DC Current", "CURR", "DCI", "ADC", "A"},
    {measure_acv, "AC Voltage", "VOLT:AC", "ACV", "VAC", "V"},
    {measure_aci, "AC Current", "CURR:AC", "ACI", "AAC", "A"},
    {measure_res_2w, "2 Wire Resistance", "RES", "2W", "\xCE\xA9", "\xCE\xA9"},
    {measure_res_4w, "4 Wire Resistance", "FRES", "4W", "\xCE\xA9", "\xCE\xA9"},
    {measure_freq, "Frequency", "FREQ", "FRQ", "Hz", "V"},
    {measure_period, "Period", "PER", "FRQ", "s", "V"},
    {measure_cap, "Capacitance", "CAP", "CAP", "F", "F"},
    {measure_cont, "Continuity", "CONT", "CONT", "\xCE\xA9", ""},
    {measure_diode, "Diode", "DIOD", "DIO", "VDC", ""},
    {measure_temp, "Temperature", "TEMP", "TEMP", "", ""},
    {measure_sensor, "Sensor", "SENS", "", "", ""},
};

TEST(measure_type, enumerator_values_are_stable) {
    EXPECT_EQ(0, measure_dcv);
    EXPECT_EQ(7, measure_period);
    EXPECT_EQ(12, measure_sensor);
    EXPECT_EQ(13, measure_none);
}

TEST(measure_type, every_function_has_its_texts_and_round_trips) {
    for (const auto& row : measure_rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.name, measure_name(row.type));
        EXPECT_EQ(row.scpi, measure_scpi(row.type));
        EXPECT_EQ(row.short_name, measure_short_name(row.type));
        EXPECT_EQ(row.unit, measure_unit_text(row.type));
        EXPECT_EQ(row.range_unit, range_unit_text(row.type));
        EXPECT_EQ(row.type, measure_type_from_name(row.name));
        EXPECT_EQ(row.type, measure_type_from_scpi(row.scpi));
        EXPECT_EQ(row.name, scpi_to_name(row.scpi));
        EXPECT_EQ(row.scpi, name_to_scpi(row.name));
    }
}

TEST(measure_type, tables_are_in_enumeration_order) {
    ASSERT_EQ(13u, measure_name_table().size());
    ASSERT_EQ(13u, measure_scpi_table().size());
    ASSERT_EQ(12u, measure_short_table().size());  // Sensor has no scanner keyword
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(i, measure_name_table()[i].first);
        EXPECT_EQ(i, measure_scpi_table()[i].first);
    }
}

TEST(measure_type, lookups_of_unknown_input) {
    struct case_t {
        const char* text;
    };
    // Exact and case-sensitive: near misses are not functions.
    const case_t unknown[] = {{""}, {"dc voltage"}, {"DC Voltage "}, {"volt"}, {"VOLT:DC"}, {"FRQ"}, {"Ω"}};
    for (const auto& c : unknown) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(measure_none, measure_type_from_name(c.text));
        EXPECT_EQ(measure_none, measure_type_from_scpi(c.text));
        EXPECT_EQ("", scpi_to_name(c.text));
        EXPECT_EQ("", name_to_scpi(c.text));
    }
    const plib_measure_type_t out_of_table[] = {measure_none, static_cast<plib_measure_type_t>(-1),
                                                static_cast<plib_measure_type_t>(99)};
    for (const auto type : out_of_table) {
        EXPECT_EQ("", measure_name(type));
        EXPECT_EQ("", measure_scpi(type));
        EXPECT_EQ("", measure_short_name(type));
        EXPECT_EQ("", measure_unit_text(type));
        EXPECT_EQ("", range_unit_text(type));
    }
}

TEST(measure_type, the_examples_of_the_vocabulary) {
    EXPECT_EQ(measure_period, measure_type_from_scpi("PER"));
    EXPECT_EQ("FRQ", measure_short_name(measure_period));
    EXPECT_EQ(measure_sensor, measure_type_from_name("Sensor"));
    EXPECT_EQ(measure_none, measure_type_from_name("dc voltage"));
}

TEST(measure_type, switch_and_temperature_texts) {
    EXPECT_EQ("OFF", on_off_text(0));
    EXPECT_EQ("ON", on_off_text(1));
    EXPECT_EQ("", on_off_text(2));
    EXPECT_EQ("\xE2\x84\x83", temp_unit_text(0));  // U+2103
    EXPECT_EQ("\xE2\x84\x89", temp_unit_text(1));  // U+2109
    EXPECT_EQ("K", temp_unit_text(2));
    EXPECT_EQ("", temp_unit_text(3));
    EXPECT_EQ("", temp_unit_text(-1));

    struct case_t {
        const char* reply;
        bool on;
    };
    const case_t replies[] = {{"ON", true}, {"1", true}, {"on", false}, {"ON\n", false},
                              {"0", false}, {"", false}, {" 1", false}, {"OFF", false}};
    for (const auto& c : replies) {
        EXPECT_EQ(c.on, is_on_text(c.reply)) << '"' << c.reply << '"';
    }
}

TEST(measure_type, reading_record_and_sentinels) {
    const plib_data_t reading{1.5, -42};
    const plib_data_t copy = reading;
    EXPECT_EQ(1.5, copy.value);
    EXPECT_EQ(-42, copy.timestamp);
    EXPECT_EQ(9.9e37, plib_overload_value);
    EXPECT_EQ(9.91e37, plib_no_reading_value);
    // The no-reading value must not pass for an overload (or the display would say OVERLOAD).
    EXPECT_FALSE(is_overload(plib_no_reading_value));
    EXPECT_TRUE(is_overload(plib_overload_value));
}

}  // namespace
