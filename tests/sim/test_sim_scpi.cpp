// The simulator's SCPI over the raw socket: identification per model, settings that
// read back as written, and the two families' reading fetches.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim_test_client.h"
#include "support/sim_process.h"

using velkaro_test::sim_process_t;
using sim_test::scpi_client_t;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> split(const std::string& s, char d)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t pos; (pos = s.find(d, start)) != std::string::npos; start = pos + 1) {
        out.push_back(s.substr(start, pos - start));
    }
    out.push_back(s.substr(start));
    return out;
}

bool parse_double(const std::string& text, double& v)
{
    char* end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

// Validates a definite-length block "#<n><length><payload>\n" and returns the payload.
::testing::AssertionResult block_payload(const std::string& reply, std::string& payload)
{
    if (reply.size() < 4 || reply[0] != '#' || reply[1] < '1' || reply[1] > '9') {
        return ::testing::AssertionFailure() << "no block header in \"" << reply.substr(0, 20) << "\"";
    }
    const size_t digits = static_cast<size_t>(reply[1] - '0');
    if (reply.size() < 2 + digits) {
        return ::testing::AssertionFailure() << "short header";
    }
    const std::string length_text = reply.substr(2, digits);
    const size_t length = std::stoul(length_text);
    if (reply.size() != 2 + digits + length + 1 || reply.back() != '\n') {
        return ::testing::AssertionFailure() << "declared " << length << " bytes, reply holds " << reply.size();
    }
    payload = reply.substr(2 + digits, length);
    return ::testing::AssertionSuccess();
}

std::vector<double> parse_values(const std::string& payload)
{
    std::vector<double> values;
    for (const auto& piece : split(payload, ',')) {
        double v = 0;
        EXPECT_TRUE(parse_double(piece, v)) << "\"" << piece << "\"";
        values.push_back(v);
    }
    return values;
}

}  // namespace

// --- identification -------------------------------------------------------------------
struct identity_case_t {
    const char* model;
    int family;
};

class sim_identity_test : public ::testing::TestWithParam<identity_case_t> {};

TEST_P(sim_identity_test, idn_and_private_query_per_family)
{
    const auto& c = GetParam();
    sim_process_t sim(c.model, {"--serial", "SN-77"});
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.connected());

    const std::string idn = client.query("*IDN?");
    ASSERT_FALSE(idn.empty());
    ASSERT_EQ(idn.back(), '\n');
    const auto fields = split(idn.substr(0, idn.size() - 1), ',');
    ASSERT_EQ(fields.size(), 4u) << idn;
    EXPECT_EQ(fields[0], "Norvale Labs");
    EXPECT_EQ(fields[1], c.model);
    EXPECT_EQ(fields[2], "SN-77");
    EXPECT_FALSE(fields[3].empty());

    // Each family answers only its own private identification query.
    const std::string own = c.family == 1 ? "IDN-MRQX-PRI?" : "MACHINE_INFO?";
    const std::string other = c.family == 1 ? "MACHINE_INFO?" : "IDN-MRQX-PRI?";
    const std::string expected = c.family == 1 ? std::string("IDN-MRQX-PRI ") + c.model + "\n" : c.model + std::string("\n");
    EXPECT_EQ(client.query(own), expected);
    EXPECT_EQ(client.query(other, 300ms), "");
    EXPECT_EQ(client.query("*IDN?"), idn);  // still in step after the unanswered query
}

INSTANTIATE_TEST_SUITE_P(models, sim_identity_test,
                         ::testing::Values(identity_case_t{"VXA-1", 1}, identity_case_t{"VXA-2", 1},
                                           identity_case_t{"VXA-2E", 1}, identity_case_t{"VXA-3", 1},
                                           identity_case_t{"VXB-1", 2}, identity_case_t{"VXB-2", 2},
                                           identity_case_t{"VXB-3", 2}));

TEST(sim_identity, private_model_option_replaces_the_private_name_only)
{
    struct {
        const char* model;
        const char* query;
        const char* expected;
    } cases[] = {{"VXA-2", "IDN-MRQX-PRI?", "IDN-MRQX-PRI VXA-2E\n"}, {"VXB-1", "MACHINE_INFO?", "VXA-2E\n"}};
    for (const auto& c : cases) {
        sim_process_t sim(c.model, {"--private-model", "VXA-2E"});
        ASSERT_TRUE(sim.ok());
        scpi_client_t client(sim.address(), sim.socket_port());
        EXPECT_EQ(client.query(c.query), c.expected);
        EXPECT_NE(client.query("*IDN?").find(std::string(",") + c.model + ","), std::string::npos);
    }
}

// --- settings -------------------------------------------------------------------------
struct setting_case_t {
    const char* model;
    const char* command;   // may hold several lines
    const char* query;
    const char* expected;  // "" = no reply at all
};

class sim_setting_test : public ::testing::TestWithParam<setting_case_t> {};

TEST_P(sim_setting_test, query_reads_back_what_was_set)
{
    const auto& c = GetParam();
    sim_process_t sim(c.model);
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send(std::string(c.command) + "\n"));
    const std::string expected = c.expected;
    EXPECT_EQ(client.query(c.query, expected.empty() ? 300ms : 3000ms), expected.empty() ? "" : expected + "\n")
        << c.command;
}

INSTANTIATE_TEST_SUITE_P(
    table, sim_setting_test,
    ::testing::Values(
        setting_case_t{"VXA-2", "VOLT:NPLC 0.3", "VOLT:NPLC?", "+3.00000000E-01"},
        setting_case_t{"VXA-2", "RES:RANGE 2kOHM", "RES:RANGE?", "+2.00000000E+03"},
        setting_case_t{"VXA-2", "FRES:RANGE 10MOHM", "FRES:RANGE?", "+1.00000000E+07"},
        setting_case_t{"VXA-2", "CURR:RANGE 200uA", "CURR:RANGE?", "+2.00000000E-04"},
        setting_case_t{"VXA-2", "CURR:RANGE 200\xCE\xBC" "A", "CURR:RANGE?", "+2.00000000E-04"},
        setting_case_t{"VXA-2", "CAP:RANGE 2nF", "CAP:RANGE?", "+2.00000000E-09"},
        setting_case_t{"VXA-2", "FREQ:VOLT:RANGE 20V", "FREQ:VOLT:RANGE?", "+2.00000000E+01"},
        setting_case_t{"VXA-2", "VOLT:RANGE 2V\nVOLT:RANGE:AUTO 1", "VOLT:RANGE:AUTO?", "1"},
        setting_case_t{"VXA-2", "VOLT:RANGE 2V", "VOLT:RANGE:AUTO?", "0"},
        // Autoranging answers the range that holds the front input (1.2345 V, 12.345 mA,
        // 0.23456 V AC within the 20 % overrange), whatever range was set before.
        setting_case_t{"VXA-2", "", "VOLT:RANGE?", "+2.00000000E+00"},
        setting_case_t{"VXA-2", "VOLT:RANGE 1000V\nVOLT:RANGE:AUTO 1", "VOLT:RANGE?", "+2.00000000E+00"},
        setting_case_t{"VXA-1", "", "VOLT:RANGE?", "+6.00000000E+00"},
        setting_case_t{"VXB-3", "", "CURR:RANGE?", "+1.00000000E-01"},
        setting_case_t{"VXA-2", "", "VOLT:AC:RANGE?", "+2.00000000E-01"},
        setting_case_t{"VXA-2", "FREQ:VOLT:RANGE 200V\nFREQ:VOLT:RANGE:AUTO 1", "FREQ:VOLT:RANGE?", "+2.00000000E+02"},
        setting_case_t{"VXA-2", "VOLT:NULL 1", "VOLT:NULL?", "1"},
        setting_case_t{"VXA-2", "VOLT:NULL:VAL 0.5", "VOLT:NULL:VAL?", "+5.00000000E-01"},
        setting_case_t{"VXA-2", "VOLT:FILT ON", "VOLT:FILT?", "1"},
        setting_case_t{"VXA-3", "VOLT:AZ 0", "VOLT:AZ?", "0"},
        setting_case_t{"VXB-2", "RES:ZERO:AUTO 1", "RES:ZERO:AUTO?", "1"},
        setting_case_t{"VXA-2", "RES:ZERO:AUTO 1", "RES:ZERO:AUTO?", ""},
        setting_case_t{"VXB-2", "VOLT:AZ 1", "VOLT:AZ?", ""},
        setting_case_t{"VXA-3", "VOLT:AC:BAND 200", "VOLT:AC:BAND?", "+2.00000000E+02"},
        setting_case_t{"VXB-1", "CURR:AC:DIVERter ON", "CURR:AC:DIVER?", "1"},
        setting_case_t{"VXA-3", "FREQ:APER 1", "FREQ:APER?", "+1.00000000E+00"},
        setting_case_t{"VXA-2", "CONT:THR:VAL 10", "CONT:THR:VAL?", "+1.00000000E+01"},
        setting_case_t{"VXA-2", "VOLT:IMP 10G", "VOLT:IMP?", "10G"},
        setting_case_t{"VXA-2", "SYST:BEEP:STAT 0", "SYST:BEEP:STAT?", "0"},
        setting_case_t{"VXA-2", "TEMP:MDEF:RTD:TRAN PT100", "TEMP:MDEF:RTD:TRAN?", "PT100"},
        setting_case_t{"VXA-2", "TYPE:TEMP MEA", "TYPE:TEMP?", "MEA"},
        setting_case_t{"VXA-2", "UNIT:TEMP K", "UNIT:TEMP?", "K"},
        setting_case_t{"VXA-2", ":TEMPerature:REFence:SOURce EXT", ":TEMPerature:REFence:SOURce?", "EXT"},
        setting_case_t{"VXA-2", ":TEMPerature:REFence:VALue 25", "TEMP:REF:VAL?", "+2.50000000E+01"},
        setting_case_t{"VXA-2", "TRIG:COUNT INF", "TRIG:COUNT?", "INF"},
        setting_case_t{"VXA-2", "TRIG:COUNT 12", "TRIG:COUNT?", "12"},
        setting_case_t{"VXA-2", "SAMP:COUNT 5", "SAMP:COUNT?", "5"},
        setting_case_t{"VXA-2", "FUNC \"VOLT:AC\"", "FUNC?", "\"VOLT:AC\""},
        setting_case_t{"VXA-2", "FUNC \"SENS\"", "FUNC?", "\"VOLT\""},
        setting_case_t{"VXB-1", "FUNC \"SENS\"", "FUNC?", "\"SENS\""},
        setting_case_t{"VXA-2", "VOLT:NPLC 0.3\n*RST", "VOLT:NPLC?", "+1.00000000E+01"},
        setting_case_t{"VXA-2", "VOLT:NPLC abc", "VOLT:NPLC?", "+1.00000000E+01"},
        setting_case_t{"VXA-2", "ROUT:FUNC STEP", "ROUT:FUNC?", "STEP"},
        setting_case_t{"VXA-2", "ROUT:DEL 2.5", "ROUT:DEL?", "+2.50000000E+00"},
        setting_case_t{"VXA-2", "ROUT:COUNT 7", "ROUT:COUNT?", "7"},
        setting_case_t{"VXA-2", "ROUT:COUNT:AUTO 0", "ROUT:COUNT:AUTO?", "0"},
        setting_case_t{"VXA-2", ":ROUT:LIMIT:LOW 3\n;:ROUT:LIMIT:HIGH 9", "ROUT:LIMIT:HIGH?", "9"},
        setting_case_t{"VXA-2", ":ROUT:LIMIT:LOW 3\n;:ROUT:LIMIT:HIGH 9", "ROUT:LIMIT:LOW?", "3"},
        setting_case_t{"VXA-2", "ROUT:CHAN 12,OFF,2W,10MGOHM,FAST,5", "ROUT:CHAN? 12", "12,OFF,2W,10MGOHM,FAST,5"},
        setting_case_t{"VXA-2", "ROUT:CHAN 3,ON,DCV,200MLV,SLOW,1", "ROUT:CHAN? 3", "3,ON,DCV,200MLV,SLOW,1"},
        setting_case_t{"VXA-2", "BOGUS:COMMAND 1", "SYST:ERR?", "-113,\"Undefined header\""},
        setting_case_t{"VXA-2", "VOLT:NPLC abc", "SYST:ERR?", "-224,\"Illegal parameter value\""},
        setting_case_t{"VXA-2", "VOLT:NPLC 1", "BOGUS:QUERY?", ""},
        setting_case_t{"VXA-2", "", "TEMP:UDEF:RTD:TRAN:LIST?", "NONE"}));

TEST(sim_settings, user_defined_transducer_lists_come_from_the_command_line)
{
    sim_process_t sim("VXB-2", {"--udef-ther", "T1,T2"});
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    EXPECT_EQ(client.query("TEMP:UDEF:RTD:TRAN:LIST?"), "NONE\n");
    EXPECT_EQ(client.query("TEMP:UDEF:THER:TRAN:LIST?"), "T1,T2\n");
}

// --- readings -------------------------------------------------------------------------
TEST(sim_readings, fetch_answers_null_before_init)
{
    struct {
        const char* model;
        const char* fetch;
    } cases[] = {{"VXA-2", "R?"}, {"VXB-2", "MEASURE_DATA?"}};
    for (const auto& c : cases) {
        sim_process_t sim(c.model);
        ASSERT_TRUE(sim.ok());
        scpi_client_t client(sim.address(), sim.socket_port());
        EXPECT_EQ(client.query(c.fetch), "NULL\n") << c.model;
    }
}

TEST(sim_readings, r_block_is_consistent_and_holds_only_new_readings)
{
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send("VOLT:NPLC 0.01\nTRIG:COUNT INF\nINIT\n"));
    std::this_thread::sleep_for(100ms);
    std::string first, second;
    // 5,000 readings/s at NPLC 0.01: at least 100 after 0.1 s; a loaded machine may
    // deliver them later, so fetch (bounded) until a block holds that many.
    std::vector<double> values;
    for (int i = 0; i < 100 && values.size() < 100u; ++i) {
        ASSERT_TRUE(block_payload(client.query("R?"), first));
        values = parse_values(first);
        if (values.size() < 100u) std::this_thread::sleep_for(100ms);
    }
    ASSERT_GE(values.size(), 100u);
    for (double v : values) {
        EXPECT_NEAR(v, 1.2345, 0.01);
    }
    ASSERT_TRUE(block_payload(client.query("R?"), second));
    EXPECT_LT(second.size(), first.size());  // fetched readings are gone
    ASSERT_TRUE(client.send("ABORT\n"));
    client.query("R?");
    EXPECT_EQ(client.query("R?"), "NULL\n");
}

TEST(sim_readings, finite_trigger_takes_exactly_trigger_times_sample_count)
{
    sim_process_t sim("VXA-3");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send("VOLT:NPLC 0.005\nTRIG:COUNT 3\nSAMP:COUNT 4\nINIT\n"));
    // Fetched (bounded) until the run has given all it will: exactly 3 x 4, then no more.
    std::size_t total = 0;
    for (int i = 0; i < 100 && total < 12u; ++i) {
        const std::string reply = client.query("R?");
        std::string payload;
        if (reply != "NULL\n") {
            ASSERT_TRUE(block_payload(reply, payload)) << reply;
            total += parse_values(payload).size();
        }
        if (total < 12u) std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(total, 12u);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(client.query("R?"), "NULL\n");
}

TEST(sim_readings, fixed_range_overloads_and_null_offsets)
{
    struct {
        const char* setup;
        double expected;
        double tolerance;
    } cases[] = {
        {"VOLT:RANGE 200mV\nVOLT:RANGE:AUTO 0", 9.9e37, 1e30},  // 1.23 V input on the 200 mV range
        {"VOLT:RANGE 2V\nVOLT:RANGE:AUTO 0", 1.2345, 0.01},
        {"VOLT:NULL:VAL 1\nVOLT:NULL 1", 0.2345, 0.01},
        {"FUNC \"RES\"", 1234.5, 5.0},
        {"FUNC \"FREQ\"\nFREQ:APER 0.01", 1000.0, 5.0},
    };
    for (const auto& c : cases) {
        sim_process_t sim("VXA-2");
        ASSERT_TRUE(sim.ok());
        scpi_client_t client(sim.address(), sim.socket_port());
        ASSERT_TRUE(client.send(std::string(c.setup) + "\nVOLT:NPLC 0.02\nRES:NPLC 0.02\nTRIG:COUNT INF\nINIT\n"));
        std::this_thread::sleep_for(150ms);
        std::string payload;
        ASSERT_TRUE(block_payload(client.query("R?"), payload)) << c.setup;
        const auto values = parse_values(payload);
        ASSERT_FALSE(values.empty()) << c.setup;
        for (double v : values) {
            EXPECT_NEAR(v, c.expected, c.tolerance) << c.setup;
        }
    }
}

TEST(sim_readings, read_query_answers_sample_count_values)
{
    sim_process_t sim("VXB-1");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send("SAMP:COUNT 3\n"));
    const std::string reply = client.query("READ?");
    ASSERT_FALSE(reply.empty());
    const auto values = parse_values(reply.substr(0, reply.size() - 1));
    EXPECT_EQ(values.size(), 3u);
}

TEST(sim_readings, fast_rate_gives_r_blocks_over_800000_bytes)
{
    sim_process_t sim("VXA-2", {"--fast"});
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    ASSERT_TRUE(client.send("TRIG:COUNT INF\nINIT\n"));
    std::this_thread::sleep_for(150ms);
    std::string payload;
    const std::string reply = client.query("R?", 10s);
    ASSERT_GT(reply.size(), 800000u);
    ASSERT_TRUE(block_payload(reply, payload));
    EXPECT_EQ(parse_values(payload).size(), (payload.size() + 1) / 16);  // "+1.23456789E+00,"
}

TEST(sim_readings, measure_data_carries_increasing_microsecond_timestamps)
{
    sim_process_t sim("VXB-2");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    const auto wall_us = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const long long before = wall_us();
    ASSERT_TRUE(client.send("VOLT:NPLC 0.01\nTRIG:COUNT INF\nINIT\n"));
    std::this_thread::sleep_for(100ms);
    const std::string reply = client.query("MEASURE_DATA?");
    const long long after = wall_us();
    ASSERT_GT(reply.size(), 1u);
    ASSERT_EQ(reply.back(), '\n');
    long long previous = 0;
    const auto entries = split(reply.substr(0, reply.size() - 1), ',');
    ASSERT_GE(entries.size(), 100u);
    for (const auto& entry : entries) {
        const auto parts = split(entry, ':');
        ASSERT_EQ(parts.size(), 2u) << entry;
        double v = 0;
        EXPECT_TRUE(parse_double(parts[0], v));
        EXPECT_NEAR(v, 1.2345, 0.01);
        const long long ts = std::stoll(parts[1]);
        EXPECT_GT(ts, previous);
        // Microseconds since the epoch: within the time of the test (with a second's margin).
        EXPECT_GE(ts, before - 1000000);
        EXPECT_LE(ts, after + 1000000);
        previous = ts;
    }
    EXPECT_EQ(client.query("R?", 300ms), "");  // the first family's fetch is unknown here
}

TEST(sim_readings, continuity_and_diode_show_open_as_overload_part_of_the_time)
{
    sim_process_t sim("VXA-2");
    ASSERT_TRUE(sim.ok());
    scpi_client_t client(sim.address(), sim.socket_port());
    // Open and closed alternate every second of instrument time.
    ASSERT_TRUE(client.send("FUNC \"CONT\"\nTRIG:COUNT INF\nINIT\n"));
    bool saw_open = false, saw_closed = false;
    for (int i = 0; i < 15 && !(saw_open && saw_closed); ++i) {
        std::this_thread::sleep_for(200ms);
        std::string payload;
        const std::string reply = client.query("R?");
        if (reply == "NULL\n") {
            continue;
        }
        ASSERT_TRUE(block_payload(reply, payload));
        for (double v : parse_values(payload)) {
            (v > 1e37 ? saw_open : saw_closed) = true;
        }
    }
    EXPECT_TRUE(saw_open);
    EXPECT_TRUE(saw_closed);
}
