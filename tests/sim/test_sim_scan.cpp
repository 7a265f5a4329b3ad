// The simulated scanner card: channel setup, sweeps, and the "ROUT:DATA:REMOVE?" format.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sim_test_client.h"
#include "support/sim_process.h"

using velkaro_test::sim_process_t;
using sim_test::scpi_client_t;
using namespace std::chrono_literals;

namespace {

struct entry_t {
    int channel;
    double value;  // in base units
    std::string unit;
};

// "<channel>:<number> <prefix><unit>", entries separated by ",", the whole ended by "\n".
std::vector<entry_t> parse_scan_reply(const std::string& reply)
{
    std::vector<entry_t> out;
    EXPECT_FALSE(reply.empty());
    if (reply.empty() || reply.back() != '\n') {
        return out;
    }
    const std::string body = reply.substr(0, reply.size() - 1);
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find(',', start);
        if (end == std::string::npos) {
            end = body.size();
        }
        const std::string e = body.substr(start, end - start);
        const auto colon = e.find(':');
        const auto space = e.find(' ');
        EXPECT_TRUE(colon != std::string::npos && space != std::string::npos && colon < space) << e;
        if (colon == std::string::npos || space == std::string::npos) {
            break;
        }
        entry_t r;
        r.channel = std::atoi(e.substr(0, colon).c_str());
        r.value = std::strtod(e.substr(colon + 1, space - colon - 1).c_str(), nullptr);
        r.unit = e.substr(space + 1);
        static const std::map<char, double> prefixes = {{'M', 1e6}, {'k', 1e3}, {'m', 1e-3},
                                                        {'u', 1e-6}, {'n', 1e-9}, {'p', 1e-12}};
        const auto p = prefixes.find(r.unit.empty() ? ' ' : r.unit[0]);
        if (p != prefixes.end() && r.value < 1e37) {
            r.value *= p->second;
            r.unit.erase(0, 1);
        }
        out.push_back(r);
        start = end + 1;
    }
    return out;
}

bool wait_scan_finished(scpi_client_t& client)
{
    for (int i = 0; i < 100; ++i) {
        if (client.query("ROUT:STAR?") == "0\n") {
            return true;
        }
        std::this_thread::sleep_for(30ms);
    }
    return false;
}

}  // namespace

TEST(sim_scan, counted_sweeps_visit_channels_in_order_with_their_functions)
{
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    EXPECT_EQ(client.query("ROUT:STAT?"), "1\n");
    ASSERT_TRUE(client.send("ROUT:SCAN 1\n"
                            "ROUT:CHAN 1,ON,DCV,DEF,FAST,2\n"
                            "ROUT:CHAN 2,ON,2W,2KOHM,FAST,1\n"
                            "ROUT:CHAN 4,OFF,DCV,DEF,FAST,1\n"
                            "ROUT:CHAN 5,ON,DCV,200MLV,FAST,1\n"
                            "ROUT:PER\nROUT:CHAN 6,ON,FRQ,DEF,FAST,1\n"
                            "ROUT:FREQ\nROUT:CHAN 7,ON,FRQ,DEF,FAST,1\n"
                            "ROUT:CHAN 13,ON,DCI,2A,FAST,1\n"
                            ":ROUT:LIMIT:LOW 1\n;:ROUT:LIMIT:HIGH 16\n"
                            "ROUT:FUNC SCAN\nROUT:DEL 0\nROUT:COUNT 3\nROUT:COUNT:AUTO 0\nROUT:STAR 1\n"));
    ASSERT_TRUE(wait_scan_finished(client));
    const auto entries = parse_scan_reply(client.query("ROUT:DATA:REMOVE?"));

    struct expected_t {
        int channel;
        double value;
        const char* unit;
    };
    // Inputs grow by 5 % per channel; channel 5's 1.3 V exceed its fixed 200 mV range.
    const expected_t sweep[] = {{1, 1.2345 * 1.05, "VDC"}, {1, 1.2345 * 1.05, "VDC"}, {2, 1234.5 * 1.10, "OHM"},
                                {5, 9.9e37, "VDC"},        {6, 1.0 / (1000.02 * 1.30), "s"},
                                {7, 1000.02 * 1.35, "Hz"}, {13, 0.012345 * 1.65, "ADC"}};
    const size_t per_sweep = sizeof sweep / sizeof sweep[0];
    ASSERT_EQ(entries.size(), 3 * per_sweep);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& want = sweep[i % per_sweep];
        EXPECT_EQ(entries[i].channel, want.channel) << i;
        EXPECT_EQ(entries[i].unit, want.unit) << i;
        EXPECT_NEAR(entries[i].value, want.value, want.value * 0.01) << i;
    }
    EXPECT_EQ(client.query("ROUT:DATA:REMOVE?"), "NULL\n");
}

TEST(sim_scan, endless_scan_runs_until_stopped)
{
    sim_process_t sim("VXB-1");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send("ROUT:CHAN 3,ON,ACV,DEF,FAST,1\nROUT:DEL 0.01\nROUT:COUNT:AUTO 1\nROUT:STAR 1\n"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(client.query("ROUT:STAR?"), "1\n");
    const auto entries = parse_scan_reply(client.query("ROUT:DATA:REMOVE?"));
    ASSERT_GE(entries.size(), 3u);
    for (const auto& e : entries) {
        EXPECT_EQ(e.channel, 3);
        EXPECT_EQ(e.unit, "VAC");
    }
    ASSERT_TRUE(client.send("ROUT:STAR 0\n"));
    client.query("ROUT:DATA:REMOVE?");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(client.query("ROUT:DATA:REMOVE?"), "NULL\n");
}

TEST(sim_scan, channel_setup_outside_the_card_is_refused)
{
    const char* refused[] = {
        "ROUT:CHAN 13,ON,DCV,DEF,FAST,1",  // channels 13 to 16 measure current only
        "ROUT:CHAN 2,ON,DCI,DEF,FAST,1",   // current only on 13 to 16
        "ROUT:CHAN 8,ON,4W,DEF,FAST,1",    // 4-wire only on 1 to 6
        "ROUT:CHAN 17,ON,DCV,DEF,FAST,1",
        "ROUT:CHAN 1,ON,DCV,DEF,FAST",
        "ROUT:CHAN 1,ON,DCV,200XYV,FAST,1",
        "ROUT:CHAN 1,ON,DCV,DEF,QUICK,1",
    };
    sim_process_t sim("VXA-3");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    for (const char* cmd : refused) {
        ASSERT_TRUE(client.send(std::string(cmd) + "\n"));
        EXPECT_EQ(client.query("SYST:ERR?"), "-224,\"Illegal parameter value\"\n") << cmd;
    }
    EXPECT_EQ(client.query("ROUT:CHAN? 13"), "13,OFF,DCI,DEF,DEF,1\n");
    EXPECT_EQ(client.query("ROUT:CHAN? 2"), "2,OFF,DCV,DEF,DEF,1\n");
}

TEST(sim_scan, without_a_card_nothing_scans)
{
    sim_process_t sim("VXA-2", {"--no-scan-card"});
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    EXPECT_EQ(client.query("ROUT:STAT?"), "0\n");
    ASSERT_TRUE(client.send("ROUT:CHAN 1,ON,DCV,DEF,FAST,1\nROUT:DEL 0\nROUT:STAR 1\n"));
    EXPECT_EQ(client.query("SYST:ERR?"), "-241,\"Hardware missing\"\n");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(client.query("ROUT:DATA:REMOVE?"), "NULL\n");
    EXPECT_EQ(client.query("ROUT:STAR?", 300ms), "");
}
