// Measurement configuration: setters write the instrument first and then store, with
// their side effects; Period lookup; run gating; diagram settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "acq/acq_main.h"
#include "cfg_test_util.h"
#include "common/plib_measure_type.h"
#include "nsp_src/lib/lib_assert.h"
#include "visa/visa_types.h"

using velkaro_test::cfg_fixture_t;

namespace {

struct setter_case_t {
    const char* name;
    const char* model;
    std::function<void(cfg_main_t&)> act;
    std::function<std::string(cfg_main_t&)> stored;
    std::string command;       // the write that carries the value
    std::string after;         // stored value afterwards
    bool store_first = false;  // the shared beeper is stored before the write
};

std::string s(int v) { return std::to_string(v); }

const std::vector<setter_case_t>& setter_cases() {
    static const std::vector<setter_case_t> cases = {
        {"auto_range", "VXA-2", [](cfg_main_t& c) { c.set_auto_range(measure_dcv, 0); },
         [](cfg_main_t& c) { return s(c.get_auto_range(measure_dcv)); }, "VOLT:RANGE:AUTO 0\n", "0"},
        {"range", "VXA-2", [](cfg_main_t& c) { c.set_range(measure_dcv, "20V"); },
         [](cfg_main_t& c) { return c.get_range(measure_dcv); }, "VOLT:RANGE 20V\n", "20V"},
        {"nplc", "VXA-2", [](cfg_main_t& c) { c.set_nplc(measure_dcv, "1"); },
         [](cfg_main_t& c) { return c.get_nplc(measure_dcv); }, "VOLT:NPLC 1\n", "1"},
        {"rel_value", "VXA-2", [](cfg_main_t& c) { c.set_rel_value(measure_res_2w, "12.5"); },
         [](cfg_main_t& c) { return c.get_rel_value(measure_res_2w); }, "RES:NULL:VAL 12.5\n", "12.5"},
        {"impedance", "VXA-2", [](cfg_main_t& c) { c.set_impedance("10G"); },
         [](cfg_main_t& c) { return c.get_impedance(); }, "VOLT:IMP 10G\n", "10G"},
        {"filter", "VXA-2", [](cfg_main_t& c) { c.set_filter(measure_dcv, 1); },
         [](cfg_main_t& c) { return s(c.get_filter(measure_dcv)); }, "VOLT:FILT 1\n", "1"},
        {"bandwidth", "VXA-2", [](cfg_main_t& c) { c.set_bandwidth(measure_acv, "3"); },
         [](cfg_main_t& c) { return c.get_bandwidth(measure_acv); }, "VOLT:AC:BAND 3\n", "3"},
        {"threshold", "VXA-2", [](cfg_main_t& c) { c.set_threshold(measure_cont, "20"); },
         [](cfg_main_t& c) { return c.get_threshold(measure_cont); }, "CONT:THR:VAL 20\n", "20"},
        {"beeper", "VXB-1", [](cfg_main_t& c) { c.set_beeper(measure_cont, 0); },
         [](cfg_main_t& c) { return s(c.get_beeper(measure_cont)); }, "SYST:BEEP:STAT 0\n", "0", true},
        {"aperture", "VXB-1", [](cfg_main_t& c) { c.set_aperture(measure_period, "0.01"); },
         [](cfg_main_t& c) { return c.get_aperture(measure_period); }, "PER:APER 0.01\n", "0.01"},
        {"temp_ext_source_val", "VXA-2", [](cfg_main_t& c) { c.set_temp_ext_source_val("23.5"); },
         [](cfg_main_t& c) { return c.get_temp_ext_source_val(); }, ":TEMPerature:REFence:VALue 23.5\n",
         "23.5"},
        {"period uses frequency (VXA)", "VXA-2", [](cfg_main_t& c) { c.set_nplc(measure_period, "7"); },
         [](cfg_main_t& c) { return c.get_nplc(measure_freq); }, "PER:NPLC 7\n", "7"},
    };
    return cases;
}

}  // namespace

TEST(cfg_measure, setters_write_the_instrument_before_storing) {
    // One manager per model: each case changes a value no other case touches.
    std::map<std::string, std::unique_ptr<cfg_fixture_t>> fixtures;
    for (const setter_case_t& tc : setter_cases()) {
        SCOPED_TRACE(tc.name);
        auto& slot = fixtures[tc.model];
        if (!slot) slot = std::make_unique<cfg_fixture_t>(tc.model);
        cfg_fixture_t& f = *slot;
        const std::string before = tc.stored(f.cfg());
        ASSERT_NE(before, tc.after) << "the case must change the value";
        std::string stored_at_write = "<no write>";
        f.link.on_write = [&](const std::string& cmd) {
            if (cmd == tc.command) stored_at_write = tc.stored(f.cfg());
        };
        tc.act(f.cfg());
        f.link.on_write = nullptr;
        EXPECT_EQ(stored_at_write, tc.store_first ? tc.after : before);
        EXPECT_EQ(tc.stored(f.cfg()), tc.after);
    }
}

TEST(cfg_measure, side_effects) {
    struct side_case_t {
        const char* name;
        const char* model;
        std::function<void(cfg_main_t&, velkaro_test::cfg_hook_link_t&)> act;
        std::function<std::string(cfg_main_t&)> observe;
        std::string expected;
    };
    const std::vector<side_case_t> cases = {
        {"range turns auto off", "VXA-2",
         [](cfg_main_t& c, auto&) {
             c.set_auto_range(measure_dcv, 1);
             c.set_range(measure_dcv, "2V");
         },
         [](cfg_main_t& c) { return s(c.get_auto_range(measure_dcv)); }, "0"},
        {"diverter 1 turns auto on", "VXA-2",
         [](cfg_main_t& c, auto&) {
             c.set_auto_range(measure_dci, 0);
             c.set_diverter(measure_dci, 1);
         },
         [](cfg_main_t& c) { return s(c.get_auto_range(measure_dci)) + s(c.get_diverter(measure_dci)); },
         "11"},
        {"diverter 0 leaves auto", "VXA-2",
         [](cfg_main_t& c, auto&) {
             c.set_auto_range(measure_dci, 0);
             c.set_diverter(measure_dci, 0);
         },
         [](cfg_main_t& c) { return s(c.get_auto_range(measure_dci)); }, "0"},
        {"rel on reads the null value back", "VXA-2",
         [](cfg_main_t& c, auto& link) {
             link.reply("+1.25000000E-03\n");
             c.set_rel_state(measure_dcv, 1);
         },
         [](cfg_main_t& c) { return s(c.get_rel_state(measure_dcv)) + " " + c.get_rel_value(measure_dcv); },
         "1 0.00125"},
        {"rel off keeps the value", "VXA-2",
         [](cfg_main_t& c, auto&) {
             c.set_rel_value(measure_dcv, "3");
             c.set_rel_state(measure_dcv, 0);
         },
         [](cfg_main_t& c) { return s(c.get_rel_state(measure_dcv)) + " " + c.get_rel_value(measure_dcv); },
         "0 3"},
        {"shared beeper from continuity", "VXA-2",
         [](cfg_main_t& c, auto&) { c.set_beeper(measure_cont, 0); },
         [](cfg_main_t& c) { return s(c.get_beeper(measure_cont)) + s(c.get_beeper(measure_diode)); }, "00"},
        {"shared beeper from diode", "VXB-1",
         [](cfg_main_t& c, auto&) {
             c.set_beeper(measure_diode, 0);
             c.set_beeper(measure_diode, 1);
         },
         [](cfg_main_t& c) { return s(c.get_beeper(measure_cont)) + s(c.get_beeper(measure_diode)); }, "11"},
        {"period maps to frequency (VXA)", "VXA-2",
         [](cfg_main_t& c, auto&) { c.set_range(measure_period, "2V"); },
         [](cfg_main_t& c) { return c.get_range(measure_freq) + "|" + c.get_range(measure_period); },
         "2V|2V"},
        {"period has its own record (VXB)", "VXB-1",
         [](cfg_main_t& c, auto&) {
             c.set_range(measure_freq, "20V");
             c.set_range(measure_period, "2V");
         },
         [](cfg_main_t& c) { return c.get_range(measure_freq) + "|" + c.get_range(measure_period); },
         "20V|2V"},
        {"function stored and sent", "VXB-1", [](cfg_main_t& c, auto&) { c.set_function(measure_res_4w); },
         [](cfg_main_t& c) { return s(c.get_function()); }, "5"},
    };
    for (const side_case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        cfg_fixture_t f(tc.model);
        tc.act(f.cfg(), f.link);
        EXPECT_EQ(tc.observe(f.cfg()), tc.expected);
    }
}

TEST(cfg_measure, defaults_come_from_the_model_and_nothing_is_written_at_construction) {
    cfg_fixture_t f("VXA-2");
    EXPECT_TRUE(f.link.commands.empty());
    EXPECT_EQ(f.cfg().get_function(), measure_dcv);
    EXPECT_EQ(f.cfg().get_auto_range(measure_dcv), 1);
    EXPECT_EQ(f.cfg().get_range(measure_dcv), "200mV");
    EXPECT_EQ(f.cfg().get_nplc(measure_dcv), "10");
    EXPECT_EQ(f.cfg().get_impedance(), "10M");
    EXPECT_EQ(f.cfg().get_buffer_mode(), 1);
    EXPECT_EQ(f.cfg().get_interval_ms(), 0);
    EXPECT_FALSE(f.cfg().get_auto_enable());
}

TEST(cfg_measure, unsupported_function_is_a_contract_violation_not_a_crash) {
    cfg_fixture_t f("VXA-1");
    if (f.cfg().measure()->has_function(measure_sensor)) GTEST_SKIP() << "model has the sensor function";
    const int before = nsp::assert_failure_count();
    f.cfg().set_range(measure_sensor, "2V");
    EXPECT_EQ(f.cfg().get_range(measure_sensor), "");
    EXPECT_GT(nsp::assert_failure_count(), before);
    EXPECT_FALSE(f.cfg().measure()->cfg_map().count(measure_sensor));
}

TEST(cfg_measure, connect_writes_reset_then_the_whole_configuration) {
    cfg_fixture_t f("VXA-2");
    f.cfg().set_range(measure_res_2w, "2kΩ");
    f.cfg().set_function(measure_res_2w);
    f.link.commands.clear();
    f.cfg().set_info({"TCPIP0::127.0.0.9::inst0::INSTR", false, false, 0});
    f.link.reply("VELKARO,VXA-2,SN1,1.0\n");
    f.link.reply("IDN-MRQX-PRI VXA-2\n");
    ASSERT_EQ(f.cfg().connect(1), 0);
    const auto& cmds = f.link.commands;
    auto rst = std::find(cmds.begin(), cmds.end(), "*RST\n");
    ASSERT_NE(rst, cmds.end());
    auto range = std::find(rst, cmds.end(), "RES:RANGE 2kOHM\n");
    EXPECT_NE(range, cmds.end()) << [&] {
        std::string all;
        for (const auto& c : cmds) all += c;
        return all;
    }();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back(), "FUNC \"RES\"\n");
    // The manager's destruction closes the session before the engines go.
    f.mngr.reset();
    EXPECT_EQ(f.link.closed, std::vector<unsigned long>{42});
}

TEST(cfg_acq, start_is_refused_when_disconnected_or_scanning) {
    cfg_fixture_t f("VXA-2");
    f.cfg().set_run_state(1);
    EXPECT_EQ(f.cfg().get_run_state(), 0) << "not connected";
    f.cfg().set_scan_run_state(1);
    EXPECT_EQ(f.cfg().get_scan_run_state(), 0) << "not connected";

    f.cfg().set_info({"TCPIP0::127.0.0.9::inst0::INSTR", true, true, 42});
    for (int i = 0; i < 50; ++i) f.link.reply("NULL\n");
    f.cfg().set_scan_run_state(1);
    EXPECT_EQ(f.cfg().get_scan_run_state(), 1);
    f.cfg().set_run_state(1);
    EXPECT_EQ(f.cfg().get_run_state(), 0) << "scanning excludes measuring";
    f.cfg().set_scan_run_state(0);
    f.cfg().set_run_state(1);
    EXPECT_EQ(f.cfg().get_run_state(), 1);
    f.cfg().set_scan_run_state(1);
    EXPECT_EQ(f.cfg().get_scan_run_state(), 0) << "measuring excludes scanning";
    f.cfg().set_run_state(0);
}

TEST(cfg_measure_diagram, clamps_and_overload_rule) {
    cfg_fixture_t f("VXB-1");
    struct rec_case_t {
        double in, out;
    };
    for (rec_case_t c : {rec_case_t{10, 60}, {100000, 86400}, {600, 600}, {60, 60}, {86400, 86400}}) {
        f.cfg().set_rec_time(c.in);
        EXPECT_EQ(f.cfg().get_rec_time(), c.out) << c.in;
    }
    f.cfg().set_range_limits(-1, 2);
    f.cfg().set_range_limits(9.9e37, 5);
    f.cfg().set_range_limits(-1, -9.9e37);
    double lo = 0, hi = 0;
    f.cfg().get_range_limits(lo, hi);
    EXPECT_EQ(lo, -1);
    EXPECT_EQ(hi, 2);
}

TEST(cfg_scan_diagram, defaults_and_ignored_channels) {
    cfg_fixture_t f("VXA-2");
    cfg_main_t& c = f.cfg();
    const unsigned colours[16] = {0xA6CEE3, 0x1F78B4, 0xFF658F, 0xB2DF8A, 0x33A02C, 0xFB9A99,
                                  0xE31A1C, 0xFDBF6F, 0xFF7F00, 0xCAB2D6, 0x6A3D9A, 0xFFFF99,
                                  0x8DD3C7, 0xB15928, 0xBEBADA, 0xC86464};
    for (int ch = 1; ch <= 16; ++ch) {
        EXPECT_FALSE(c.get_curve_valid(ch));
        EXPECT_TRUE(c.get_curve_visible(ch));
        EXPECT_EQ(c.get_curve_line_pattern(ch), 1);
        EXPECT_EQ(c.get_curve_symbol(ch), 0);
        EXPECT_EQ(c.get_curve_auto_range(ch), 1);
        EXPECT_EQ(c.get_curve_color(ch), colours[ch - 1]) << ch;
    }
    c.set_scan_display_period(10, 20);
    c.set_scan_display_period(100, 50);
    c.set_scan_display_period(5, 5);
    double start = 0, end = 0;
    c.get_scan_display_period(start, end);
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 20);
    c.set_curve_range(3, 1.0, 2.0);
    plib_curve_scale_t scale;
    c.get_curve_scale(3, scale);
    EXPECT_EQ(scale.span, -1.0);
    EXPECT_EQ(scale.centre, 1.5);
    c.set_curve_auto_range(17, 1);
    c.set_curve_valid(17, true);
    EXPECT_EQ(c.get_curve_auto_range(17), 0);
    EXPECT_FALSE(c.get_curve_valid(17));
    EXPECT_EQ(c.scan_diagram()->curves().size(), 16u);
}

// A setting holding a control character or ';' is refused before the driver: nothing
// is written, the stored value stays, one console line says so.
TEST(cfg_measure, settings_that_would_split_a_command_are_refused) {
    struct case_t {
        const char* name;
        std::function<void(cfg_measure_t&)> act;
        std::function<std::string(cfg_measure_t&)> stored;
    };
    const std::vector<case_t> cases = {
        {"range", [](cfg_measure_t& m) { m.set_range(measure_dcv, "200mV\nSYST:BEEP\n"); },
         [](cfg_measure_t& m) { return m.get_range(measure_dcv); }},
        {"nplc", [](cfg_measure_t& m) { m.set_nplc(measure_dcv, "1;*RST"); },
         [](cfg_measure_t& m) { return m.get_nplc(measure_dcv); }},
        {"rel value", [](cfg_measure_t& m) { m.set_rel_value(measure_dcv, std::string("0\0*RST", 6)); },
         [](cfg_measure_t& m) { return m.get_rel_value(measure_dcv); }},
        {"impedance", [](cfg_measure_t& m) { m.set_impedance("10M\r*RST"); },
         [](cfg_measure_t& m) { return m.get_impedance(); }},
        {"bandwidth", [](cfg_measure_t& m) { m.set_bandwidth(measure_acv, "3\t"); },
         [](cfg_measure_t& m) { return m.get_bandwidth(measure_acv); }},
        {"threshold", [](cfg_measure_t& m) { m.set_threshold(measure_cont, "10\x7f"); },
         [](cfg_measure_t& m) { return m.get_threshold(measure_cont); }},
        {"external reference", [](cfg_measure_t& m) { m.set_temp_ext_source_val("21\n*RST"); },
         [](cfg_measure_t& m) { return m.get_temp_ext_source_val(); }},
        {"sensor name",
         [](cfg_measure_t& m) {
             plib_temp_sensor_t s = m.get_temp_sensor();
             s.name = "PT\n*RST";
             m.set_temp_sensor(s);
         },
         [](cfg_measure_t& m) { return m.get_temp_sensor().name; }},
    };
    cfg_fixture_t f("VXA-2");
    for (const case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        cfg_measure_t& m = *f.cfg().measure();
        const std::string before = tc.stored(m);
        f.link.commands.clear();
        testing::internal::CaptureStdout();
        tc.act(m);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(f.link.commands.empty()) << f.link.commands.front();
        EXPECT_EQ(tc.stored(m), before);
        EXPECT_EQ(out.rfind("Measure value refused: ", 0), 0u) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    }
}

// The range the instrument chose (auto range) is stored only when it names one: a
// time-out or an unreadable reply used to store "0V", which the project then saved.
TEST(cfg_measure, read_range_stores_only_a_range_the_instrument_named) {
    struct case_t {
        const char* name;
        std::string reply;
        int status;
        std::string returned;
    };
    const std::vector<case_t> cases = {
        {"a range", "+2.00000000E+01\n", 0, "20V"},
        {"time-out", "", static_cast<int>(visa::VI_ERROR_TMO), ""},
        {"garbled", "\x01\x7f#zz\n", 0, ""},
        {"empty", "\n", 0, ""},
        {"zero", "+0.00000000E+00\n", 0, ""},
        {"not a number", "nan\n", 0, ""},
        {"another range", "+2.00000000E-01\n", 0, "200mV"},
    };
    cfg_fixture_t f("VXA-2");
    std::string stored = f.cfg().get_range(measure_dcv);
    for (const case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        f.link.reply(tc.reply, tc.status);
        EXPECT_EQ(f.cfg().read_range(measure_dcv), tc.returned);
        if (!tc.returned.empty()) stored = tc.returned;
        EXPECT_EQ(f.cfg().get_range(measure_dcv), stored);
        EXPECT_TRUE(f.link.replies.empty()) << "one query per read";
    }
    EXPECT_EQ(stored, "200mV");
}

// send_function is the measure operation a page's worker may call: it sends the
// function and stores nothing (the stored function stays the GUI thread's).
TEST(cfg_measure, send_function_sends_and_stores_nothing) {
    cfg_fixture_t f("VXA-2");
    f.cfg().set_function(measure_dcv);
    f.link.commands.clear();
    EXPECT_EQ(f.cfg().send_function(measure_acv), 0);
    ASSERT_EQ(f.link.commands.size(), 1u);
    EXPECT_NE(f.link.commands[0].find("VOLT:AC"), std::string::npos) << f.link.commands[0];
    EXPECT_EQ(f.cfg().get_function(), measure_dcv);
}

// A setter hands back the driver's status (the user interface undoes a change the
// instrument did not take) and still stores the value (sent again at the next connect).
TEST(cfg_measure, setters_return_the_driver_status_and_store) {
    cfg_fixture_t f("VXA-2");
    EXPECT_EQ(f.cfg().set_range(measure_dcv, "20V"), 0);
    f.link.write_status = visa::VI_ERROR_TMO;
    EXPECT_EQ(f.cfg().set_range(measure_dcv, "200V"), visa::VI_ERROR_TMO);
    EXPECT_EQ(f.cfg().get_range(measure_dcv), "200V");
    EXPECT_EQ(f.cfg().set_function(measure_acv), visa::VI_ERROR_TMO);
    EXPECT_EQ(f.cfg().set_filter(measure_dcv, 1), visa::VI_ERROR_TMO);
    EXPECT_EQ(f.cfg().set_diverter(measure_dci, 1), visa::VI_ERROR_TMO);
    f.link.write_status = 0;
    // A value that would end the command is refused before anything is sent or stored.
    const size_t sent = f.link.commands.size();
    EXPECT_NE(f.cfg().set_nplc(measure_dcv, "1\n*RST"), 0);
    EXPECT_EQ(f.link.commands.size(), sent);
    EXPECT_NE(f.cfg().get_nplc(measure_dcv), "1\n*RST");
}

// What the user interface takes back after a refusal: the current function and every
// record as they were; nothing is sent; keys the model lacks are not added.
TEST(cfg_measure, restore_settings_puts_function_and_records_back_silently) {
    cfg_fixture_t f("VXA-2");
    const cfg_measure_settings_t before = f.cfg().stored_settings();
    f.cfg().set_function(measure_aci);
    f.cfg().set_range(measure_dcv, "20V");
    f.cfg().set_beeper(measure_cont, before.cfg_map.at(measure_cont).beeper == 0 ? 1 : 0);
    cfg_measure_settings_t with_foreign = before;
    with_foreign.cfg_map[measure_sensor] = plib_measure_func_cfg_t();
    const size_t sent = f.link.commands.size();
    f.cfg().restore_settings(with_foreign);
    EXPECT_EQ(f.link.commands.size(), sent);
    EXPECT_EQ(f.cfg().get_function(), before.function);
    EXPECT_EQ(f.cfg().get_range(measure_dcv), before.cfg_map.at(measure_dcv).range);
    EXPECT_EQ(f.cfg().get_auto_range(measure_dcv), before.cfg_map.at(measure_dcv).auto_range);
    EXPECT_EQ(f.cfg().get_beeper(measure_cont), before.cfg_map.at(measure_cont).beeper);
    EXPECT_EQ(f.cfg().measure()->cfg_map_copy().count(measure_sensor), 0u);
    // Storing the function alone sends nothing either.
    f.cfg().store_function(measure_res_2w);
    EXPECT_EQ(f.link.commands.size(), sent);
    EXPECT_EQ(f.cfg().get_function(), int(measure_res_2w));
}

// A setter on a worker thread (the device item's lane) while the owner reads: the store
// lock keeps every read whole (run under ThreadSanitizer with the core tests).
TEST(cfg_measure, a_lane_setter_and_owner_reads_do_not_race) {
    cfg_fixture_t f("VXA-2");
    const std::vector<std::string> ranges = {"200mV", "2V", "20V"};
    std::atomic<bool> done{false};
    std::thread lane([&] {
        for (int i = 0; i < 300; ++i) {
            f.cfg().set_range(measure_dcv, ranges[i % ranges.size()]);
            f.cfg().set_function(i % 2 == 0 ? measure_dcv : measure_acv);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        const std::string range = f.cfg().get_range(measure_dcv);
        EXPECT_TRUE(std::find(ranges.begin(), ranges.end(), range) != ranges.end()) << range;
        const cfg_measure_settings_t now = f.cfg().stored_settings();
        EXPECT_TRUE(now.function == measure_dcv || now.function == measure_acv) << now.function;
        ++reads;
        if (reads > 100000) break;
    }
    lane.join();
    EXPECT_EQ(f.cfg().get_range(measure_dcv), ranges[299 % ranges.size()]);
    EXPECT_EQ(f.cfg().get_function(), int(measure_acv));
}
