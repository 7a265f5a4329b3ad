// Where discovery looks: CIDR ranges, the settings, and the environment that wins over
// them. No probing here (test_visa_sim and the UI search test probe loopback hosts).
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "visa/visa_discovery.h"
#include "visa/visa_portmap.h"

using namespace visa;

namespace {

// Sets or clears an environment variable for one test and puts the old value back.
class scoped_env_t {
public:
    scoped_env_t(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = std::string(old);
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~scoped_env_t() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Restores empty settings after each test.
class visa_discovery_test : public ::testing::Test {
protected:
    void TearDown() override { set_discovery_settings(discovery_settings_t()); }
};

}  // namespace

TEST(visa_discovery_cidr, accepted_blocks_give_their_host_addresses) {
    struct case_t {
        const char* text;
        size_t count;
        const char* first;
        const char* last;
    } cases[] = {
        {"127.0.0.0/27", 30, "127.0.0.1", "127.0.0.30"},
        {"127.0.0.13/27", 30, "127.0.0.1", "127.0.0.30"},  // host bits ignored
        {" 127.0.0.0/30 ", 2, "127.0.0.1", "127.0.0.2"},
        {"10.1.2.4/31", 2, "10.1.2.4", "10.1.2.5"},
        {"10.1.2.9/32", 1, "10.1.2.9", "10.1.2.9"},
        {"192.168.0.0/22", 1022, "192.168.0.1", "192.168.3.254"},
        {"192.168.001.000/24", 254, "192.168.1.1", "192.168.1.254"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> hosts;
        std::string error;
        ASSERT_TRUE(parse_cidr_range(c.text, hosts, error)) << error;
        EXPECT_TRUE(error.empty());
        ASSERT_EQ(hosts.size(), c.count);
        EXPECT_EQ(hosts.front(), c.first);
        EXPECT_EQ(hosts.back(), c.last);
    }
}

TEST(visa_discovery_cidr, refused_blocks_say_why_and_give_nothing) {
    const char* refused[] = {"192.168.0.0/21", "0.0.0.0/0",  "1.2.3/24",   "1.2.3.256/24", "1.2.3.4",
                             "1.2.3.4/33",     "1.2.3.4/",   "a.b.c.d/24", "1.2.3.4/2x",   "1..2.3/24",
                             "1.2.3.4.5/24",   "1.2.3.4/-1", "",           "/24",          "1.2.3.4/024"};
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        std::vector<std::string> hosts{"left over"};
        std::string error;
        EXPECT_FALSE(parse_cidr_range(text, hosts, error));
        EXPECT_TRUE(hosts.empty());
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(visa_discovery_test, nothing_is_probed_until_a_host_or_range_is_set) {
    scoped_env_t hosts_env("VELKARO_VISA_HOSTS", nullptr);
    EXPECT_TRUE(discovery_probe_hosts().empty());
    EXPECT_TRUE(discover_vxi11_hosts().empty());
}

TEST_F(visa_discovery_test, settings_hosts_and_ranges_are_probed_once_each) {
    scoped_env_t hosts_env("VELKARO_VISA_HOSTS", nullptr);
    discovery_settings_t settings;
    settings.hosts = {" 127.0.0.2 ", "", "TCPIP0::x::INSTR", "meter.lab"};
    settings.ranges = {"127.0.0.0/30", "not a range", "127.0.0.0/31"};
    set_discovery_settings(settings);
    const std::vector<std::string> want = {"127.0.0.2", "meter.lab", "127.0.0.1", "127.0.0.0"};
    EXPECT_EQ(discovery_probe_hosts(), want);
}

TEST_F(visa_discovery_test, total_hosts_are_bounded) {
    scoped_env_t hosts_env("VELKARO_VISA_HOSTS", nullptr);
    discovery_settings_t settings;
    for (int block = 0; block < 8; ++block)
        settings.ranges.push_back("10." + std::to_string(block) + ".0.0/22");
    set_discovery_settings(settings);
    EXPECT_EQ(discovery_probe_hosts().size(), discovery_max_total_hosts);
}

TEST_F(visa_discovery_test, the_environment_wins_over_the_settings) {
    discovery_settings_t settings;
    settings.ranges = {"127.0.0.0/27"};
    settings.portmapper_port = 2222;
    set_discovery_settings(settings);
    {
        scoped_env_t hosts_env("VELKARO_VISA_HOSTS", "127.0.0.40, 127.0.0.41");
        scoped_env_t port_env("VELKARO_VXI11_PORTMAPPER_PORT", "3333");
        EXPECT_EQ(discovery_probe_hosts(), std::vector<std::string>({"127.0.0.40", "127.0.0.41"}));
        EXPECT_EQ(portmap_port_from_env(), 3333);
    }
    {
        scoped_env_t hosts_env("VELKARO_VISA_HOSTS", "");  // set but empty: the settings count
        scoped_env_t port_env("VELKARO_VXI11_PORTMAPPER_PORT", nullptr);
        EXPECT_EQ(discovery_probe_hosts().size(), 30u);
        EXPECT_EQ(portmap_port_from_env(), 2222);
        set_discovery_settings(discovery_settings_t());
        EXPECT_EQ(portmap_port_from_env(), portmap_default_port);
    }
}
