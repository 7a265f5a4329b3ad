// Project file: exact bytes, round trip across both families, hostile input, and a
// save that never leaves a broken file behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "cfg/cfg_main.h"
#include "cfg/cfg_project.h"
#include "cfg_test_util.h"
#include "support/temp_dir.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"

namespace fs = std::filesystem;
using velkaro_test::cfg_fixture_t;

namespace {

const std::string res_vxa = "TCPIP0::127.0.0.9::inst0::INSTR";

std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

using velkaro_test::temp_dir_t;

// Non-default values in every group.
void customise(cfg_main_t& c, int salt) {
    c.set_function(measure_res_2w);
    c.set_range(measure_dcv, "20V");
    c.set_nplc(measure_dcv, salt ? "1" : "0.3");
    c.set_rel_value(measure_dcv, "0.5");
    c.set_filter(measure_dcv, 1);
    c.set_impedance("10G");
    c.set_diverter(measure_dci, 1);
    c.set_bandwidth(measure_acv, "3");
    c.set_threshold(measure_cont, "12");
    c.set_beeper(measure_cont, 0);
    c.set_temp_unit(2);
    c.set_temp_display(1);
    c.set_temp_source(1);
    c.set_temp_ext_source_val("21.5");
    c.set_temp_sensor({1, 1, "MYSENSOR"});
    c.set_acq_mode(1);
    c.set_buffer_mode(0);
    c.set_record_position(1);
    c.set_auto_stop_mode(1);
    c.set_stop_time(0.1);
    c.set_stop_num(4000000000u);
    c.set_auto_enable(true);
    c.set_record_directory("/tmp/rec dir");
    c.measure()->set_export_path("/tmp/export.csv");
    c.set_trend_mode(1);
    c.set_rec_time(123.25);
    c.set_range_limits(-1.5, 2.5e-3);
    c.set_range_mode(1);
    cfg_scan_section_t s = c.get_scan_section();
    s.record_position = 1;
    s.record_mode = 1;
    s.record_path = "/tmp/scan & <logs>";
    s.start_mode = 1;
    s.start_timestamp = 1730124309000000ull + salt;
    s.stop_mode = 3;
    s.stop_time = 12.5;
    s.stop_timestamp = 18446744073709551615ull;
    s.stop_rounds = 7;
    s.recurrent_mode = 1;
    s.delay = 0.3;
    s.recurrent_counts = 5;
    s.auto_recurrent = 0;
    s.channel_param[2].name = "Pt100 \"bath\"";
    s.channel_param[2].scan_state = 1;
    s.channel_param[2].gain = 1.0 / 3.0;
    s.channel_param[16].alarm_limit = 3;
    s.channel_param[16].limit_high = 1e300;
    c.set_scan_section(s);
    c.set_scan_display_mode(1);
    c.set_scan_display_period(5, 125.5);
    c.set_curve_valid(1, true);
    c.set_curve_auto_range(1, 0);
    c.set_curve_range(1, 10, -10);
    c.set_curve_visible(4, false);
    c.set_curve_color(4, 0x123456);
    c.set_curve_line_pattern(4, 3);
    c.set_curve_symbol(4, 2);
}

// What the main window's recall does with a file, into another registry.
void recall(ui_connect_mngr_t& reg, const std::string& text) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(text.data(), text.size()));
    for (pugi::xml_node p = doc.child("root").child("project"); p; p = p.next_sibling("project")) {
        const std::string model = p.child("product_type").text().get();
        const std::string resource = p.child("resource").text().get();
        plib_mngr_t* m = reg.create_mngr(model, p);
        if (!resource.empty()) {
            m->get_cfg()->set_info({resource, false, false, 0});
            ASSERT_EQ(reg.bind_mngr(resource, m), 1);
        }
    }
}

}  // namespace

TEST(cfg_project, empty_project_is_the_header_with_its_declaration) {
    ui_connect_mngr_t reg;
    EXPECT_EQ(reg.project_text(),
              "<?xml version=\"1.0\" "
              "encoding=\"UTF-8\"?>\n<root>\n\t<SoftwareVersion>V1.0.3</SoftwareVersion>\n</root>\n");
}

TEST(cfg_project, round_trip_of_two_families_gives_identical_bytes) {
    temp_dir_t dir;
    const std::string path = (fs::path(dir.path()) / "two.dmm").string();
    std::string first;
    {
        ui_connect_mngr_t reg;
        plib_mngr_t* vxb = reg.create_mngr("VXB-1");  // unbound: saved after the bound one
        customise(*vxb->get_cfg(), 1);
        plib_mngr_t* vxa = reg.create_mngr("VXA-2");
        customise(*vxa->get_cfg(), 0);
        vxa->get_cfg()->set_info({res_vxa, false, false, 0});
        ASSERT_EQ(reg.bind_mngr(res_vxa, vxa), 1);
        ASSERT_EQ(reg.save_project(path), 1);
        first = read_all(path);
    }
    EXPECT_EQ(
        first.rfind(
            "<?xml version=\"1.0\"?>\n<root>\n\t<SoftwareVersion>V1.0.3</SoftwareVersion>\n\t<project>\n"
            "\t\t<product_type>VXA-2</product_type>\n",
            0),
        0u);
    EXPECT_NE(first.find("<stop_time>0.10000000000000001</stop_time>"), std::string::npos);
    EXPECT_NE(first.find("<stop_num>4000000000</stop_num>"), std::string::npos);
    EXPECT_NE(first.find("<VOLT:AC>"), std::string::npos);
    EXPECT_NE(first.find("<channel index=\"16\">"), std::string::npos);
    EXPECT_NE(first.find("<diverter>1</diverter>"), std::string::npos);

    ui_connect_mngr_t again;
    recall(again, first);
    ASSERT_EQ(again.bound().size(), 1u);
    cfg_main_t& vxa = *again.find_mngr(res_vxa)->get_cfg();
    EXPECT_EQ(vxa.get_diverter(measure_dci), 1);
    EXPECT_EQ(vxa.get_stop_time(), 0.1);
    EXPECT_EQ(vxa.get_function(), measure_res_2w);
    EXPECT_EQ(vxa.get_temp_sensor().name, "MYSENSOR");
    EXPECT_EQ(vxa.get_scan_section().channel_param.at(2).name, "Pt100 \"bath\"");
    EXPECT_EQ(vxa.get_curve_color(4), 0x123456u);
    ASSERT_EQ(again.save_project(path), 1);
    EXPECT_EQ(read_all(path), first);
}

TEST(cfg_project, one_write_equals_the_section_by_section_writing) {
    temp_dir_t dir;
    const std::string path = (fs::path(dir.path()) / "steps.dmm").string();
    ui_connect_mngr_t reg;
    plib_mngr_t* a = reg.create_mngr("VXA-1");
    plib_mngr_t* b = reg.create_mngr("VXB-2");
    plib_mngr_t* c = reg.create_mngr("VXA-3");
    customise(*b->get_cfg(), 2);
    // Texts of blanks only, and an empty text, are where a reloaded file differs.
    a->get_cfg()->set_record_directory("  ");
    c->get_cfg()->set_record_directory("  ");
    pugi::xml_document header;
    cfg_project_file::make_header(header);
    ASSERT_EQ(cfg_project_file::write_file_atomic(path, cfg_project_file::to_string(header)), 0);
    for (plib_mngr_t* m : {a, b, c}) ASSERT_EQ(m->save_section(path), 0);
    EXPECT_EQ(reg.project_text(), read_all(path));
}

TEST(cfg_project, sample_fixture_loads_and_saves_back_unchanged) {
    const fs::path sample = fs::path(VELKARO_TEST_DATA_DIR) / "sample_project.dmm";
    const std::string text = read_all(sample);
    ASSERT_FALSE(text.empty());
    ui_connect_mngr_t reg;
    recall(reg, text);
    EXPECT_EQ(reg.bound().size() + reg.unbound().size(), 2u);
    EXPECT_EQ(reg.project_text(), text);
    plib_mngr_t* vxb = reg.unbound().at(0).second;
    const auto& udef = vxb->get_cfg()->measure()->cfg_map().at(measure_temp).udef_sensor;
    ASSERT_EQ(udef.size(), 2u);
    EXPECT_EQ(udef[1], (plib_udef_sensor_t{1, 1, "TC_K2"}));
}

TEST(cfg_project, loading_edge_cases) {
    struct load_case_t {
        const char* name;
        const char* model;
        const char* section;  // children of <project>
        std::function<std::string(cfg_main_t&)> observe;
        std::string expected;
    };
    auto acq = [](cfg_main_t& c) {
        return std::to_string(c.get_buffer_mode()) + std::to_string(c.get_record_position()) +
               std::to_string(c.get_auto_stop_mode()) + "|" + std::to_string(c.get_stop_time()) + "|" +
               std::to_string(c.get_stop_num()) + (c.get_auto_enable() ? "T" : "F") + "|" +
               c.get_record_directory();
    };
    const std::vector<load_case_t> cases = {
        {"measure without acq_param", "VXA-2", "<measure><function>1</function></measure>", acq,
         "000|0.000000|0F|"},
        {"diagram without rec_time", "VXA-2", "<measure_diagram><trend_mode>1</trend_mode></measure_diagram>",
         [](cfg_main_t& c) { return std::to_string(c.get_rec_time()); }, "60.000000"},
        {"rec_time clamped", "VXA-2", "<measure_diagram><rec_time>1e9</rec_time></measure_diagram>",
         [](cfg_main_t& c) { return std::to_string(c.get_rec_time()); }, "86400.000000"},
        {"missing entry keeps the current record, unknown mnemonic skipped", "VXA-2",
         "<measure><func_cfg><BOGUS><range>1V</range></BOGUS><CURR><range>2A</range></CURR>"
         "<CURR><range>9A</range></CURR></func_cfg></measure>",
         [](cfg_main_t& c) { return c.get_range(measure_dcv) + "|" + c.get_range(measure_dci); }, "200mV|2A"},
        {"entry for a function the model lacks is ignored", "VXA-1",
         "<measure><func_cfg><SENS><range>x</range></SENS></func_cfg></measure>",
         [](cfg_main_t& c) { return std::to_string(c.measure()->cfg_map().count(measure_sensor)); }, "0"},
        {"function outside the model keeps the current one", "VXA-2",
         "<measure><function>9999</function></measure>",
         [](cfg_main_t& c) { return std::to_string(c.get_function()); }, "0"},
        {"malformed, hexadecimal and huge numbers read as 0", "VXA-2",
         "<measure><acq_param><buffer_mode>0x10</buffer_mode><stop_time>1e999</stop_time>"
         "<stop_num>99999999999999999999</stop_num><record_position> 1 "
         "</record_position></acq_param></measure>",
         acq, "010|0.000000|0F|"},
        {"channel indexes out of range are ignored", "VXB-1",
         "<scan><channel_param><channel index=\"0\"><name>z</name></channel><channel "
         "index=\"17\"><name>s</name>"
         "</channel><channel index=\"-3\"/><channel "
         "index=\"3\"><name>three</name></channel></channel_param></scan>"
         "<scan_diagram><curve_param><channel index=\"99\"><valid>true</valid></channel></curve_param>"
         "<start>50</start><end>10</end></scan_diagram>",
         [](cfg_main_t& c) {
             const auto s = c.get_scan_section();
             double a = 0, b = 0;
             c.get_scan_display_period(a, b);
             return std::to_string(s.channel_param.size()) + s.channel_param.at(3).name +
                    std::to_string(c.scan_diagram()->curves().size()) + "|" + std::to_string(b);
         },
         "16three16|60.000000"},
    };
    for (const load_case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        const std::string xml = std::string("<project>") + tc.section + "</project>";
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(xml.c_str()));
        cfg_fixture_t f(tc.model, doc.child("project"));
        EXPECT_EQ(tc.observe(f.cfg()), tc.expected);
    }
}

TEST(cfg_project, hostile_files_are_refused_or_loaded_within_the_rules) {
    temp_dir_t dir;
    cfg_fixture_t f("VXB-2");
    struct file_case_t {
        const char* name;
        std::string bytes;
        int result;
    };
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "<a>";
    std::string many = "<root>";
    for (int i = 0; i < 10000; ++i) many += "<project><measure><function>1</function></measure></project>";
    many += "</root>";
    const std::vector<file_case_t> cases = {
        {"binary garbage", std::string("\x00\xff\xfe<\x01root>", 8), -1},
        {"no root", "<?xml version=\"1.0\"?><notroot><project/></notroot>", -1},
        {"root without project", "<root/>", -1},
        {"deep nesting", "<root><project>" + deep, -1},
        {"ten thousand projects", many, 0},
    };
    for (const file_case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        const fs::path p = fs::path(dir.path()) / "hostile.dmm";
        std::ofstream(p, std::ios::binary) << tc.bytes;
        EXPECT_EQ(f.cfg().load_first_section(p.string()), tc.result);
    }
    EXPECT_EQ(f.cfg().get_function(), measure_dci);
}

TEST(cfg_project, failing_saves_keep_the_previous_file) {
    temp_dir_t dir;
    ui_connect_mngr_t reg;
    customise(*reg.create_mngr("VXA-2")->get_cfg(), 0);

    // A full disk: /dev/full must still be the device afterwards, not a replaced file.
    EXPECT_EQ(reg.save_project("/dev/full"), 0);
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // A path below a regular file cannot be created (root ignores permissions).
    const fs::path file = fs::path(dir.path()) / "plain";
    std::ofstream(file) << "x";
    EXPECT_EQ(reg.save_project((file / "p.dmm").string()), 0);

    // A write cut short (file-size limit) leaves the earlier project intact and no
    // temporary file behind.
    const fs::path target = fs::path(dir.path()) / "keep.dmm";
    const std::string previous = "<root>previous</root>\n";
    std::ofstream(target, std::ios::binary) << previous;
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = reg.save_project(target.string());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_all(target), previous);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2) << "only 'plain' and 'keep.dmm'";

    // And the same save succeeds once the disk has room.
    EXPECT_EQ(reg.save_project(target.string()), 1);
    EXPECT_EQ(read_all(target), reg.project_text());
}

// A project text bound for the instrument that holds a control character or a command
// separator is refused with one console line; the rest of the section loads, and the
// refused text never reaches the instrument.
TEST(cfg_project, instrument_texts_with_control_characters_are_refused) {
    struct case_t {
        const char* name;
        const char* section;
        std::function<std::string(cfg_main_t&)> observe;
        std::string expected;
        int refused;
    };
    auto dcv = [](cfg_main_t& c) {
        return c.get_range(measure_dcv) + "|" + c.get_nplc(measure_dcv) + "|" + c.get_range(measure_dci) +
               "|" + c.get_impedance();
    };
    const std::vector<case_t> cases = {
        {"range with commands after line feeds",
         "<measure><func_cfg><VOLT><range>200mV\nSYST:BEEP\n</range><nplc>1</nplc><impedance>10G</impedance>"
         "</VOLT><CURR><range>2A</range></CURR></func_cfg></measure>",
         dcv, "200mV|1|2A|10G", 1},
        {"chained command, carriage return, NUL-free escape",
         "<measure><func_cfg><VOLT><range>2V</range><nplc>1;SYST:BEEP</nplc><impedance>10M&#13;*RST</"
         "impedance>"
         "</VOLT><CURR><range>2A&#9;</range></CURR></func_cfg></measure>",
         dcv, "2V|10|200μA|10M", 3},
        {"clean section loads whole",
         "<measure><func_cfg><VOLT><range>20V</range><nplc>0.3</nplc></VOLT></func_cfg></measure>", dcv,
         "20V|0.3|200μA|", 0},
        {"scan channel range and name",
         "<scan><channel_param><channel "
         "index=\"3\"><name>ok\nROUT:OPEN</name><range>2V\n*RST</range></channel>"
         "<channel index=\"4\"><name>four</name><range>20V</range></channel></channel_param></scan>",
         [](cfg_main_t& c) {
             const auto s = c.get_scan_section();
             return s.channel_param.at(3).name + "|" + s.channel_param.at(3).range + "|" +
                    s.channel_param.at(4).name + "|" + s.channel_param.at(4).range;
         },
         "", 2},
    };
    for (const case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        const bool scan = std::string(tc.section).rfind("<scan>", 0) == 0;
        const std::string xml = std::string("<project>") + tc.section + "</project>";
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(xml.c_str()));
        testing::internal::CaptureStdout();
        cfg_fixture_t f(scan ? "VXB-1" : "VXA-2", doc.child("project"));
        const std::string out = testing::internal::GetCapturedStdout();
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = out.find("Project value refused: ", at)) != std::string::npos; ++at)
            ++lines;
        EXPECT_EQ(lines, static_cast<std::size_t>(tc.refused)) << out;
        if (!scan) {
            EXPECT_EQ(tc.observe(f.cfg()), tc.expected);
        } else {
            const auto s = f.cfg().get_scan_section();
            EXPECT_EQ(s.channel_param.at(4).name, "four");
            EXPECT_EQ(s.channel_param.at(4).range, "20V");
            EXPECT_EQ(s.channel_param.at(3).name.find('\n'), std::string::npos);
            EXPECT_EQ(s.channel_param.at(3).range.find('\n'), std::string::npos);
        }
        // Sending the whole configuration puts no refused text on the wire.
        f.cfg().measure()->apply_to_instrument();
        for (const std::string& cmd : f.link.commands) {
            EXPECT_NE(cmd, "SYST:BEEP\n");
            EXPECT_EQ(cmd.find("*RST"), std::string::npos) << cmd;
            EXPECT_EQ(cmd.find("ROUT:OPEN"), std::string::npos) << cmd;
            EXPECT_EQ(cmd.find(';'), std::string::npos) << cmd;
            EXPECT_EQ(cmd.find('\n'), cmd.size() - 1) << cmd;  // one command, one line end
        }
    }
}

// A value the model's tables do not offer (a range, speed, impedance, bandwidth or
// aperture not in its lists, a number outside its limits, a function or range a scan
// channel lacks) is skipped with one console line; the section's other values load.
TEST(cfg_project, values_the_model_does_not_offer_are_skipped) {
    struct case_t {
        const char* name;
        const char* model;
        const char* section;
        std::function<std::string(cfg_main_t&)> observe;
        std::string expected;
        int skipped;
    };
    auto dcv = [](cfg_main_t& c) {
        return c.get_range(measure_dcv) + "|" + c.get_nplc(measure_dcv) + "|" + c.get_impedance() + "|" +
               c.get_rel_value(measure_dcv);
    };
    auto ac = [](cfg_main_t& c) { return c.get_range(measure_acv) + "|" + c.get_bandwidth(measure_acv); };
    auto freq = [](cfg_main_t& c) { return c.get_range(measure_freq) + "|" + c.get_aperture(measure_freq); };
    auto cont = [](cfg_main_t& c) { return c.get_threshold(measure_cont); };
    auto channel3 = [](cfg_main_t& c) {
        const auto s = c.get_scan_section();
        return std::to_string(s.channel_param.at(3).func) + "|" + s.channel_param.at(3).range + "|" +
               s.channel_param.at(4).range;
    };
    const std::vector<case_t> cases = {
        {"listed values load", "VXA-2",
         "<measure><func_cfg><VOLT><range>2V</range><nplc>1</nplc><impedance>10G</impedance>"
         "<rel_value>1.5</rel_value></VOLT></func_cfg></measure>",
         dcv, "2V|1|10G|1.5", 0},
        {"unlisted range and speed, impedance and a relative value out of limits", "VXA-2",
         "<measure><func_cfg><VOLT><range>3V</range><nplc>0.2</nplc><impedance>1T</impedance>"
         "<rel_value>1e30</rel_value></VOLT></func_cfg></measure>",
         dcv, "200mV|10|10M|0", 4},
        {"a range of another function, a number that is not one", "VXA-2",
         "<measure><func_cfg><VOLT><range>2A</range><rel_value>abc</rel_value><nplc>0.3</nplc></VOLT>"
         "</func_cfg></measure>",
         dcv, "200mV|0.3||0", 2},
        {"bandwidth", "VXA-3",
         "<measure><func_cfg><VOLT:AC><range>750V</range><bandwidth>7</bandwidth></VOLT:AC></func_cfg>"
         "</measure>",
         ac, "750V|20", 1},
        {"aperture", "VXA-3",
         "<measure><func_cfg><FREQ><range>20V</range><aperture>0.5</aperture></FREQ></func_cfg></measure>",
         freq, "20V|0.1", 1},
        {"threshold out of limits", "VXA-2",
         "<measure><func_cfg><CONT><threshold>99999</threshold></CONT></func_cfg></measure>", cont, "50", 1},
        {"scan channel range and function", "VXB-1",
         "<scan><channel_param><channel index=\"3\"><func>99</func><range>3V</range></channel>"
         "<channel index=\"4\"><range>20V</range></channel></channel_param></scan>",
         channel3, "0|Auto|20V", 2},
    };
    for (const case_t& tc : cases) {
        SCOPED_TRACE(tc.name);
        const std::string xml = std::string("<project>") + tc.section + "</project>";
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(xml.c_str()));
        testing::internal::CaptureStdout();
        cfg_fixture_t f(tc.model, doc.child("project"));
        const std::string out = testing::internal::GetCapturedStdout();
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = out.find("Project value skipped: ", at)) != std::string::npos; ++at)
            ++lines;
        EXPECT_EQ(lines, static_cast<std::size_t>(tc.skipped)) << out;
        EXPECT_EQ(tc.observe(f.cfg()), tc.expected) << out;
        // Nothing skipped reaches the instrument.
        f.cfg().measure()->apply_to_instrument();
        for (const std::string& cmd : f.link.commands) {
            for (const char* bad : {"3V", "0.2", "1T", "1e30", "2A", "abc", " 7", "0.5", "99999"})
                EXPECT_EQ(cmd.find(std::string(" ") + bad + "\n"), std::string::npos) << cmd;
        }
    }
}

// Numbers in project files do not depend on the desk: a project written under a
// decimal-comma locale (as the GUI runs when the environment says so) has the same
// bytes as one written under "C", and reads back the same values there.
TEST(cfg_project, a_decimal_comma_locale_changes_no_byte) {
    auto project_text = [] {
        ui_connect_mngr_t reg;
        plib_mngr_t* vxa = reg.create_mngr("VXA-2");
        customise(*vxa->get_cfg(), 0);
        vxa->get_cfg()->set_info({res_vxa, false, false, 0});
        EXPECT_EQ(reg.bind_mngr(res_vxa, vxa), 1);
        return reg.project_text();
    };
    const std::string in_c = project_text();
    const std::string old_locale = std::setlocale(LC_ALL, nullptr);
    // scripts/bootstrap makes this locale.
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "no de_DE.UTF-8 locale";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    EXPECT_STREQ(probe, "0,5");  // the locale is in force
    const std::string in_de = project_text();
    ui_connect_mngr_t again;
    recall(again, in_de);
    const double stop_time = again.find_mngr(res_vxa)->get_cfg()->get_stop_time();
    const double rec_time = again.find_mngr(res_vxa)->get_cfg()->get_rec_time();
    std::setlocale(LC_ALL, old_locale.c_str());
    EXPECT_EQ(in_de, in_c);
    EXPECT_NE(in_de.find("<stop_time>0.10000000000000001</stop_time>"), std::string::npos);
    EXPECT_EQ(stop_time, 0.1);
    EXPECT_EQ(rec_time, 123.25);
}

// A new instrument's channels scale by the neutral gain 1; a project file's stored gain is
// taken as stored, 0 included (older files hold 0), and a channel without one keeps 1.
TEST(cfg_project, channel_gain_is_neutral_on_a_new_instrument_and_kept_as_stored) {
    ui_connect_mngr_t reg;
    plib_mngr_t* fresh = reg.create_mngr("VXA-2");
    const cfg_scan_section_t s = fresh->get_cfg()->get_scan_section();
    ASSERT_FALSE(s.channel_param.empty());
    for (const auto& [ch, c] : s.channel_param) EXPECT_EQ(c.gain, 1.0) << "channel " << ch;

    std::string text = reg.project_text();
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(text.c_str()));
    pugi::xml_node channels = doc.child("root").child("project").child("scan").child("channel_param");
    ASSERT_TRUE(channels);
    int edited = 0;
    for (pugi::xml_node n = channels.child("channel"); n; n = n.next_sibling("channel")) {
        const int index = n.attribute("index").as_int();
        if (index == 3) n.child("gain").text().set("0"), ++edited;
        if (index == 4) n.remove_child("gain"), ++edited;
        if (index == 5) n.child("gain").text().set("2.5"), ++edited;
    }
    ASSERT_EQ(edited, 3);
    std::ostringstream out;
    doc.save(out);

    ui_connect_mngr_t again;
    recall(again, out.str());
    ASSERT_EQ(again.unbound().size(), 1u);
    plib_mngr_t* m = again.unbound().front().second;
    const cfg_scan_section_t loaded = m->get_cfg()->get_scan_section();
    EXPECT_EQ(loaded.channel_param.at(3).gain, 0.0);
    EXPECT_EQ(loaded.channel_param.at(4).gain, 1.0);
    EXPECT_EQ(loaded.channel_param.at(5).gain, 2.5);
    EXPECT_EQ(loaded.channel_param.at(6).gain, 1.0);
}
