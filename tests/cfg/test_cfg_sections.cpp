// The one walk over a project file's instruments (list_sections), and the one rule
// that gates a start (cfg_gated_run_state).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "../drv/drv_fake_link.h"
#include "cfg/cfg_project.h"
#include "cfg/cfg_remote.h"
#include "cfg/cfg_run_gate.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string write(const velkaro_test::temp_dir_t& dir, const std::string& name, const std::string& text) {
    const std::string path = (fs::path(dir.path()) / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(cfg_project_sections, lists_every_project_in_document_order) {
    velkaro_test::temp_dir_t dir;
    const std::string path = write(
        dir, "mixed.dmm",
        "<root><SoftwareVersion>V1.0.3</SoftwareVersion>"
        "<project><product_type>VXA-2</product_type><resource>TCPIP0::127.0.0.9::inst0::INSTR</resource>"
        "</project>"
        "<other/>"
        "<project><product_type>XYZ-9</product_type></project>"
        "<project><resource>TCPIP0::127.0.0.8::inst0::INSTR</resource></project>"
        "<project><product_type>VXB-1</product_type></project></root>");
    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    ASSERT_TRUE(cfg_project_file::list_sections(doc, path, sections));
    struct expected_t {
        int position;
        const char* model;
        const char* resource;
        bool supported;
    };
    const expected_t expected[] = {
        {1, "VXA-2", "TCPIP0::127.0.0.9::inst0::INSTR", true},
        {2, "XYZ-9", "", false},
        {3, "", "TCPIP0::127.0.0.8::inst0::INSTR", false},  // no product_type: nothing to build
        {4, "VXB-1", "", true},
    };
    ASSERT_EQ(sections.size(), std::size(expected));
    for (std::size_t i = 0; i < sections.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sections[i].position, expected[i].position);
        EXPECT_EQ(sections[i].model, expected[i].model);
        EXPECT_EQ(sections[i].resource, expected[i].resource);
        EXPECT_EQ(sections[i].supported, expected[i].supported);
        EXPECT_STREQ(sections[i].node.name(), "project");
    }
    EXPECT_EQ(sections[3].node, doc.child("root").last_child());
}

TEST(cfg_project_sections, refuses_what_is_not_a_project_file) {
    velkaro_test::temp_dir_t dir;
    const std::string fifo = (fs::path(dir.path()) / "pipe.dmm").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct case_t {
        const char* name;
        std::string path;
    };
    const case_t cases[] = {
        {"missing", (fs::path(dir.path()) / "none.dmm").string()},
        {"directory", dir.path()},
        {"pipe, which would block a reader", fifo},
        {"not xml", write(dir, "bad.dmm", "not xml")},
        {"no root", write(dir, "noroot.dmm", "<project><product_type>VXA-2</product_type></project>")},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        pugi::xml_document doc;
        std::vector<cfg_project_section_t> sections(1);
        EXPECT_FALSE(cfg_project_file::list_sections(doc, c.path, sections));
        EXPECT_TRUE(sections.empty());
    }
    pugi::xml_document doc;
    std::vector<cfg_project_section_t> sections;
    EXPECT_TRUE(cfg_project_file::list_sections(doc, write(dir, "empty.dmm", "<root/>"), sections));
    EXPECT_TRUE(sections.empty());
}

TEST(cfg_run_gate, a_start_needs_a_connection_and_an_idle_other_engine) {
    velkaro_test::drv_fake_link_t link;
    drv_if_t driver(&link, "VXA-2");
    cfg_remote_t remote(&link, &driver, "VXA-2", "TCPIP0::127.0.0.9::inst0::INSTR");
    struct case_t {
        int requested;
        bool connected;
        int other;
        int expected;
    };
    const case_t cases[] = {
        {1, true, 0, 1}, {1, false, 0, 0}, {1, true, 1, 0},  {1, false, 1, 0},
        {0, true, 0, 0}, {0, true, 1, 0},  {0, false, 0, 0}, {2, true, 1, 2},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(::testing::Message() << "requested " << c.requested << ", connected " << c.connected
                                          << ", other " << c.other);
        remote.set_info({"TCPIP0::127.0.0.9::inst0::INSTR", true, c.connected, c.connected ? 42 : 0});
        EXPECT_EQ(cfg_gated_run_state(c.requested, remote, c.other), c.expected);
    }
}

}  // namespace
