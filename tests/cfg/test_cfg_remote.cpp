// Identification and connection state of cfg_remote_t over a scripted link, and the
// resource registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "../drv/drv_fake_link.h"
#include "cfg/cfg_remote.h"
#include "cfg/resource_registry.h"

namespace {

using velkaro_test::drv_fake_link_t;

TEST(cfg_identification, fields) {
    struct case_t {
        std::string reply;
        cfg_identity_t expected;
    };
    const std::vector<case_t> cases = {
        {"Velkaro,VXA-2,SN0001,1.02.3\n", {"Velkaro", "VXA-2", "SN0001", "1.02.3"}},
        {"Velkaro,VXA-2,SN0001,1.02.3", {"Velkaro", "VXA-2", "SN0001", "1.02.3"}},
        {"Velkaro,VXA-2,SN0001,1,2\n", {"Velkaro", "VXA-2", "SN0001", "1,2"}},
        {"Velkaro,VXA-2\n", {"Velkaro", "VXA-2", "VXA-2", "VXA-2"}},
        {"ABC\n", {"ABC", "ABC", "ABC", "ABC"}},
        // Hostile replies: every field is one line of printable text.
        {"Vel\nkaro,VXA\r-2,SN\n00\n01,1.0\t2\r\n", {"Vel karo", "VXA -2", "SN 00 01", "1.0 2"}},
        {"A,B,C\x1b[2J,D\x7f" "E\n", {"A", "B", "C [2J", "D E"}},
        {"A,B,C,D\n\n\n", {"A", "B", "C", "D"}},
        {"", {"", "", "", ""}},
        {",,,\n", {"", "", "", ""}},
        {"\xff,\xfe,,\n", {"\xff", "\xfe", "", ""}},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.reply);
        const cfg_identity_t id = cfg_parse_identification(c.reply);
        EXPECT_EQ(id.manufacturer, c.expected.manufacturer);
        EXPECT_EQ(id.product_type, c.expected.product_type);
        EXPECT_EQ(id.serial_number, c.expected.serial_number);
        EXPECT_EQ(id.software_version, c.expected.software_version);
    }
}

struct connect_fixture_t {
    drv_fake_link_t link;
    drv_if_t driver;
    cfg_remote_t remote;
    int transfers = 0;

    connect_fixture_t(const std::string& model, const std::string& driver_model = "")
        : driver(&link, driver_model.empty() ? model : driver_model),
          remote(&link, &driver, model, "TCPIP0::127.0.0.9::inst0::INSTR") {
        remote.set_config_transfer([this](drv_if_t& d) {
            ++transfers;
            d.set_function(measure_dcv);
        });
    }
};

TEST(cfg_remote, connect_identifies_checks_resets_and_transfers) {
    connect_fixture_t f("VXA-2");
    f.link.reply("Velkaro,VXA-2E,SN7,2.0\n");
    f.link.reply("IDN-MRQX-PRI VXA-2E\n");
    EXPECT_EQ(f.remote.connect(1), 0);
    EXPECT_EQ(f.link.commands,
              (std::vector<std::string>{"*IDN?\n", "IDN-MRQX-PRI?\n", "*RST\n", "FUNC \"VOLT\"\n"}));
    EXPECT_EQ(f.transfers, 1);
    EXPECT_EQ(f.remote.get_serial_number(), "SN7");
    EXPECT_EQ(f.remote.get_software_version(), "2.0");
    EXPECT_EQ(f.driver.get_session(), 42u);
    const cfg_remote_info_t info = f.remote.get_info();
    EXPECT_TRUE(info.connected);
    EXPECT_TRUE(info.available);
    EXPECT_EQ(info.session, 42);
    EXPECT_EQ(f.remote.connect(1), 3);
    EXPECT_EQ(f.remote.connect_if_needed(1), 0);

    EXPECT_EQ(f.remote.connect(0), 0);
    EXPECT_EQ(f.link.closed, std::vector<unsigned long>{42});
    EXPECT_EQ(f.driver.get_session(), 0u);
    EXPECT_EQ(f.remote.connect(0), 2);
    EXPECT_EQ(f.remote.connect_if_needed(0), 1);
}

TEST(cfg_remote, model_match) {
    struct case_t {
        const char* model;
        std::string private_reply;
        int result;
    };
    const std::vector<case_t> cases = {
        {"VXA-2", "IDN-MRQX-PRI VXA-2E\n", 0},  // the chosen model begins the private name
        {"VXA-2E", "IDN-MRQX-PRI VXA-2\n", 4},  // shorter private name
        {"VXA-2", "IDN-MRQX-PRI VXA-2\n", 0},
        {"VXA-3", "IDN-MRQX-PRI VXA-2\n", 4},
        {"VXA-2", "garbage\n", 4},
        {"VXB-1", "VXB-1\n", 0},
        {"VXB-2", "VXB-1\n", 4},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.private_reply);
        connect_fixture_t f(c.model);
        f.link.reply("Velkaro,X,SN,1\n");
        f.link.reply(c.private_reply);
        EXPECT_EQ(f.remote.connect(1), c.result);
        EXPECT_TRUE(f.remote.get_info().connected);  // the caller closes after a 4
        EXPECT_EQ(f.transfers, c.result == 0 ? 1 : 0);
        EXPECT_EQ(f.remote.get_manufacturer(), c.result == 0 ? "Velkaro" : "");
    }
}

TEST(cfg_remote, found_identity_names_what_answered) {
    struct case_t {
        const char* label;
        std::string idn_reply;
        std::string private_reply;
        int result;
        std::string found_model;
        std::string found_serial;
        std::string found_private;
    };
    const std::vector<case_t> cases = {
        {"another model", "Velkaro,VXB-1,SN9,1.1\n", "IDN-MRQX-PRI VXB-1\n", 4, "VXB-1", "SN9", "VXB-1"},
        {"the chosen model", "Velkaro,VXA-2,SN7,2.0\n", "IDN-MRQX-PRI VXA-2\n", 0, "VXA-2", "SN7", "VXA-2"},
        {"garbled identification", "\x01\x02", "IDN-MRQX-PRI VXB-1\n", 4, "", "", "VXB-1"},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.label);
        connect_fixture_t f("VXA-2");
        f.link.reply(c.idn_reply);
        f.link.reply(c.private_reply);
        EXPECT_EQ(f.remote.connect(1), c.result);
        const cfg_identity_t found = f.remote.found_identity();
        EXPECT_EQ(found.product_type, c.found_model);
        EXPECT_EQ(found.serial_number, c.found_serial);
        EXPECT_EQ(f.remote.found_private_model().rfind(c.found_private, 0), 0u)
            << f.remote.found_private_model();
        // The instrument's own identity is only kept for the chosen model.
        EXPECT_EQ(f.remote.get_serial_number(), c.result == 0 ? c.found_serial : "");
    }
}

TEST(cfg_remote, state_reads_while_a_connect_runs_elsewhere) {
    connect_fixture_t f("VXA-2");
    f.link.reply("Velkaro,VXA-2,SN7,2.0\n");
    f.link.reply("IDN-MRQX-PRI VXA-2\n");
    std::atomic<bool> done{false};
    std::thread worker([&] {
        f.remote.connect(1);
        done = true;
    });
    // The GUI thread keeps reading the record and the identity meanwhile.
    for (int i = 0; i < 100000 && !done; ++i) {
        (void)f.remote.get_info();
        (void)f.remote.get_serial_number();
        (void)f.remote.found_identity();
    }
    worker.join();
    EXPECT_TRUE(f.remote.get_info().connected);
    EXPECT_EQ(f.remote.get_serial_number(), "SN7");
}

TEST(cfg_remote, identification_query_fails) {
    connect_fixture_t f("VXB-2");
    f.link.reply("", visa::VI_ERROR_TMO);
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.remote.connect(1), 4);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("get device information fail!\n"),
              std::string::npos);
    EXPECT_TRUE(f.remote.get_info().connected);
    EXPECT_EQ(f.transfers, 0);
}

TEST(cfg_remote, open_and_close_failures) {
    for (int available : {1, 0}) {
        SCOPED_TRACE(available);
        connect_fixture_t f("VXA-1");
        f.link.open_status = visa::VI_ERROR_RSRC_NFOUND;
        f.link.available = available;
        testing::internal::CaptureStdout();
        EXPECT_EQ(f.remote.connect(1), 1);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.find("resource_unavailable!") != std::string::npos, available == 0);
        EXPECT_EQ(f.remote.get_info().available, available == 1);
        EXPECT_FALSE(f.remote.get_info().connected);
        EXPECT_EQ(f.remote.connect_if_needed(7), 1);
    }
    connect_fixture_t f("VXB-1");
    f.link.reply("a,b,c,d\n");
    f.link.reply("VXB-1\n");
    ASSERT_EQ(f.remote.connect(1), 0);
    f.link.close_status = visa::VI_ERROR_INV_OBJECT;
    EXPECT_EQ(f.remote.connect(0), 1);
    EXPECT_FALSE(f.remote.get_info().connected);
    EXPECT_EQ(f.remote.get_info().session, 0);
    EXPECT_EQ(f.driver.get_session(), 0u);
}

TEST(resource_registry, saved_and_found) {
    std::vector<std::string> next_search = {"USB0::1::2::3::INSTR", "TCPIP0::127.0.0.5::inst0::INSTR"};
    resource_registry_t registry([&](std::vector<std::string>& out) {
        out.insert(out.end(), next_search.begin(), next_search.end());
        return 0;
    });
    EXPECT_EQ(registry.resource_file(), "resource.ini");
    EXPECT_TRUE(registry.add("TCPIP0::127.0.0.9::inst0::INSTR"));
    EXPECT_FALSE(registry.add("TCPIP0::127.0.0.9::inst0::INSTR"));
    EXPECT_TRUE(registry.add("TCPIP0::127.0.0.1::inst0::INSTR"));
    std::vector<std::string> all;
    registry.list_all(all);
    EXPECT_EQ(all, (std::vector<std::string>{"TCPIP0::127.0.0.1::inst0::INSTR",
                                             "TCPIP0::127.0.0.9::inst0::INSTR"}));

    std::vector<std::string> found = {"kept"};
    registry.search_found(found);
    EXPECT_EQ(found,
              (std::vector<std::string>{"kept", "TCPIP0::127.0.0.5::inst0::INSTR", "USB0::1::2::3::INSTR"}));

    next_search = {};
    all.clear();
    registry.search_all(all);  // the new search replaces `found`
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(registry.remove("TCPIP0::127.0.0.1::inst0::INSTR"), 1);
    EXPECT_EQ(registry.remove("TCPIP0::127.0.0.1::inst0::INSTR"), 0);
}

TEST(resource_registry, search_thread_and_reader_share_the_sets) {
    resource_registry_t registry([](std::vector<std::string>& out) {
        for (int i = 0; i < 50; ++i) out.push_back("TCPIP0::127.0.0." + std::to_string(i) + "::inst0::INSTR");
        return 0;
    });
    std::atomic<bool> done{false};
    std::thread searcher([&] {
        for (int i = 0; i < 200; ++i) {
            std::vector<std::string> out;
            registry.search_found(out);
        }
        done = true;
    });
    for (int i = 0; i < 100000 && !done; ++i) {
        std::vector<std::string> out;
        registry.list_all(out);
        registry.add("x" + std::to_string(i % 10));
        // `found` is replaced as a whole: a reader sees none or all of a search.
        const auto found =
            std::count_if(out.begin(), out.end(), [](const std::string& r) { return r[0] == 'T'; });
        EXPECT_TRUE(found == 0 || found == 50) << found;
    }
    searcher.join();
    std::vector<std::string> out;
    registry.list_all(out);
    EXPECT_GE(out.size(), 50u);
}

}  // namespace

TEST(cfg_remote, a_failed_identification_says_whether_the_instrument_answered_readably) {
    struct case_t {
        const char* name;
        std::string idn_reply;
        int idn_status;
        cfg_remote_t::identify_failure_t failure;
    };
    const std::vector<case_t> cases = {
        {"another model", "Velkaro,VXB-1,SN,1\n", 0, cfg_remote_t::identify_other_model},
        {"time-out", "", visa::VI_ERROR_TMO, cfg_remote_t::identify_no_reply},
        {"cut short, no line feed", "Velkaro,VXA", 0, cfg_remote_t::identify_unreadable},
        {"too few fields", "Velkaro,VXA-2\n", 0, cfg_remote_t::identify_unreadable},
        {"binary noise", std::string("\x01\xfe,\x00,a,b\n", 9), 0, cfg_remote_t::identify_unreadable},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        connect_fixture_t f("VXA-3");
        f.link.reply(c.idn_reply, c.idn_status);
        f.link.reply("IDN-MRQX-PRI VXA-2\n");
        testing::internal::CaptureStdout();
        EXPECT_EQ(f.remote.connect(1), cfg_remote_t::result_not_the_model);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(f.remote.identify_failure(), c.failure);
        EXPECT_EQ(f.remote.identify_status(), c.idn_status);
    }
}
