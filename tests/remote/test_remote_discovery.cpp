// Discovery through the link engine: the configured LAN hosts are probed through their
// portmapper; only instruments that open now are listed, appended to the caller's list.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "remote/remote_main.h"
#include "support/sim_process.h"
#include "visa/visa.h"

namespace {

using velkaro_test::sim_process_t;

// No simulator ever runs there (simulators take 127.16.0.0 and above) and nothing listens.
constexpr const char* silent_host = "127.0.0.9";

// Sets an environment variable for one scope and restores the previous value.
class scoped_env_t {
public:
    scoped_env_t(const char* name, const std::string& value) : m_name(name) {
        const char* old = getenv(name);
        m_had_value = old != nullptr;
        if (m_had_value) m_old_value = old;
        setenv(name, value.c_str(), 1);
    }
    ~scoped_env_t() {
        if (m_had_value)
            setenv(m_name, m_old_value.c_str(), 1);
        else
            unsetenv(m_name);
    }
    scoped_env_t(const scoped_env_t&) = delete;
    scoped_env_t& operator=(const scoped_env_t&) = delete;

private:
    const char* m_name;
    bool m_had_value = false;
    std::string m_old_value;
};

class remote_discovery_test : public ::testing::Test {
protected:
    void SetUp() override {
        velkaro_test::use_test_portmapper_port();
        ASSERT_TRUE(m_sim.ok());
        // An empty sysfs tree: USB instruments of this machine stay out of the results.
        char tmpl[] = "/tmp/velkaro_sysfs_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_sysfs_root = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        if (!m_sysfs_root.empty()) std::filesystem::remove_all(m_sysfs_root, ec);
    }

    sim_process_t m_sim{"VXB-1"};
    std::string m_sysfs_root;
};

TEST_F(remote_discovery_test, configured_hosts_are_probed_and_appended) {
    struct row_t {
        const char* name;
        std::string hosts;
        int status;
        bool sim_listed;
    };
    const std::string sim_host = m_sim.address();
    const row_t rows[] = {
        {"the simulator", sim_host, visa::VI_SUCCESS, true},
        {"simulator and a silent host", std::string(silent_host) + "," + sim_host, visa::VI_SUCCESS, true},
        {"only a silent host", silent_host, visa::VI_ERROR_RSRC_NFOUND, false},
        {"no host", "", visa::VI_ERROR_RSRC_NFOUND, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scoped_env_t hosts("VELKARO_VISA_HOSTS", row.hosts);
        scoped_env_t sysfs("VELKARO_USBTMC_SYSFS_ROOT", m_sysfs_root);
        remote_main_t link;
        std::vector<std::string> resources = {"entry of the caller"};
        EXPECT_EQ(link.find_resource(resources), row.status);
        std::vector<std::string> expected = {"entry of the caller"};
        if (row.sim_listed) expected.push_back(m_sim.instr_resource());
        EXPECT_EQ(resources, expected);
    }
}

TEST_F(remote_discovery_test, found_resource_opens_and_answers) {
    scoped_env_t hosts("VELKARO_VISA_HOSTS", m_sim.address());
    scoped_env_t sysfs("VELKARO_USBTMC_SYSFS_ROOT", m_sysfs_root);
    remote_main_t link;
    std::vector<std::string> resources;
    ASSERT_EQ(link.find_resource(resources), visa::VI_SUCCESS);
    ASSERT_EQ(resources.size(), 1U);
    EXPECT_EQ(link.resource_available(resources[0]), 1);
    unsigned long session = 0;
    ASSERT_EQ(link.open(resources[0], session), visa::VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(link.query(session, "*IDN?\n", reply), visa::VI_SUCCESS);
    EXPECT_NE(reply.find(",VXB-1,"), std::string::npos) << reply;
    link.close(session);
}

}  // namespace
