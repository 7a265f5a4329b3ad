// Registry of instrument managers: binding life cycle and its console messages.
#include <gtest/gtest.h>

#include "cfg/cfg_main.h"
#include "nsp_src/lib/lib_assert.h"
#include "remote/remote_main.h"
#include "support/sim_process.h"
#include "ui/mngr/plib_mngr.h"
#include "ui/mngr/ui_connect_mngr.h"

namespace {
const std::string res_a = "TCPIP0::127.0.0.9::inst0::INSTR";
const std::string res_b = "TCPIP0::127.0.0.10::inst0::INSTR";
}  // namespace

TEST(ui_connect_mngr, binding_life_cycle_and_messages) {
    ui_connect_mngr_t reg;
    plib_mngr_t* first = reg.create_mngr("VXA-2");
    plib_mngr_t* second = reg.create_mngr("VXA-2");
    ASSERT_EQ(reg.unbound().size(), 2u);
    EXPECT_FALSE(first->is_bound());
    EXPECT_EQ(first->get_model_name(), "VXA-2");

    // Binding the second of two managers of one model moves exactly that one.
    EXPECT_EQ(reg.bind_mngr(res_a, second), 1);
    EXPECT_TRUE(second->is_bound());
    EXPECT_EQ(reg.find_mngr(res_a), second);
    ASSERT_EQ(reg.unbound().size(), 1u);
    EXPECT_EQ(reg.unbound()[0].second, first);

    struct refusal_t {
        std::string res;
        plib_mngr_t* mngr;
        std::string message;
    };
    plib_mngr_t stranger("VXB-1", pugi::xml_node());
    const std::vector<refusal_t> refusals = {
        {res_a, first, res_a + " already bound other mngr!\n"},
        {res_b, &stranger, res_b + " mngr is not created by create_mngr function!\n"},
    };
    for (const refusal_t& r : refusals) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(reg.bind_mngr(r.res, r.mngr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), r.message);
        EXPECT_EQ(reg.find_mngr(res_a), second);
        EXPECT_EQ(reg.unbound().size(), 1u);
    }

    // Changing the resource keeps the manager.
    EXPECT_EQ(reg.unbind_mngr(res_a), second);
    EXPECT_EQ(reg.unbind_mngr(res_a), nullptr);
    EXPECT_FALSE(reg.is_bound(res_a));
    EXPECT_EQ(reg.unbound().back().second, second);
    EXPECT_EQ(reg.unbound().back().first, "VXA-2");
    EXPECT_EQ(reg.bind_mngr(res_b, second), 1);
    EXPECT_EQ(reg.find_mngr(res_b), second);

    // release with an empty resource does not destroy a bound manager.
    reg.release_mngr(second, "");
    EXPECT_EQ(reg.find_mngr(res_b), second);
    reg.release_mngr(second, res_b);
    EXPECT_EQ(reg.find_mngr(res_b), nullptr);
    reg.release_mngr(first, "");
    EXPECT_TRUE(reg.unbound().empty());
    EXPECT_TRUE(reg.bound().empty());
}

TEST(ui_connect_mngr, create_bound_returns_the_existing_manager) {
    ui_connect_mngr_t reg;
    plib_mngr_t* m = reg.create_bound_mngr(res_a, "VXB-2");
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->is_bound());
    EXPECT_EQ(reg.create_bound_mngr(res_a, "VXA-1"), m);
    EXPECT_EQ(m->get_model_name(), "VXB-2");
    reg.remove_mngr(res_b);  // not bound: nothing
    EXPECT_EQ(reg.bound().size(), 1u);
    reg.remove_mngr(res_a);
    EXPECT_TRUE(reg.bound().empty());
}

TEST(ui_connect_mngr, contract_violations_are_reported_and_change_nothing) {
    ui_connect_mngr_t reg;
    plib_mngr_t* m = reg.create_mngr("VXA-1");
    const int before = nsp::assert_failure_count();
    EXPECT_EQ(reg.bind_mngr("", m), 0);
    EXPECT_EQ(reg.bind_mngr(res_a, nullptr), 0);
    EXPECT_EQ(reg.create_bound_mngr("", "VXA-1"), nullptr);
    reg.release_mngr(nullptr, res_a);
    EXPECT_EQ(nsp::assert_failure_count(), before + 4);
    EXPECT_EQ(reg.unbound().size(), 1u);
}

TEST(plib_mngr, owns_its_engines_and_disconnects_on_destruction) {
    auto m = std::make_unique<plib_mngr_t>("VXB-1", pugi::xml_node());
    EXPECT_NE(m->get_remote(), nullptr);
    EXPECT_NE(m->get_driver(), nullptr);
    EXPECT_NE(m->get_acq(), nullptr);
    EXPECT_NE(m->get_scan(), nullptr);
    ASSERT_NE(m->get_cfg(), nullptr);
    EXPECT_EQ(m->get_cfg()->get_acq(), m->get_acq());
    EXPECT_EQ(m->get_cfg()->get_scan(), m->get_scan());
    EXPECT_EQ(m->get_cfg()->get_driver(), m->get_driver());
    EXPECT_EQ(m->get_cfg()->get_app_software_version(), "V1.0.3");
    m.reset();  // joins the threads without a connection to close

    // Connected: destruction closes the instrument's link. The simulator serves one
    // link at a time, so another link is answered only once the manager's is closed.
    velkaro_test::use_test_portmapper_port();
    velkaro_test::sim_process_t sim("VXB-1", {"--max-connections", "1"});
    ASSERT_TRUE(sim.ok());
    m = std::make_unique<plib_mngr_t>("VXB-1", pugi::xml_node());
    m->get_cfg()->set_info({sim.socket_resource(), false, false, 0});
    ASSERT_EQ(m->get_cfg()->connect(1), 0);
    ASSERT_TRUE(m->get_cfg()->get_info().connected);
    auto answers = [&sim] {
        remote_main_t link;
        unsigned long session = 0;
        std::string reply;
        const bool ok = link.open(sim.socket_resource(), session) >= 0 &&
                        link.query(session, "*IDN?\n", reply) >= 0 && !reply.empty();
        link.close(session);
        return ok;
    };
    EXPECT_FALSE(answers()) << "the simulator serves one link at a time";
    m.reset();
    EXPECT_TRUE(answers()) << "the manager's link was closed";
}

TEST(ui_connect_mngr, take_hands_the_manager_over_without_destroying_it) {
    ui_connect_mngr_t reg;
    plib_mngr_t* unbound = reg.create_mngr("VXA-2");
    plib_mngr_t* bound = reg.create_mngr("VXB-1");
    ASSERT_EQ(reg.bind_mngr(res_a, bound), 1);

    // A bound manager under another resource, or with no resource, stays where it is.
    EXPECT_EQ(reg.take_mngr(bound, res_b), nullptr);
    EXPECT_EQ(reg.take_mngr(bound, ""), nullptr);
    EXPECT_EQ(reg.find_mngr(res_a), bound);

    struct case_t {
        plib_mngr_t* mngr;
        std::string res;
    } cases[] = {{unbound, ""}, {bound, res_a}};
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.res);
        plib_mngr_t* taken = reg.take_mngr(c.mngr, c.res);
        ASSERT_EQ(taken, c.mngr);
        // Still alive and usable: the caller owns it now.
        EXPECT_FALSE(taken->get_model_name().empty());
        EXPECT_EQ(reg.take_mngr(c.mngr, c.res), nullptr);  // no longer held
        delete taken;
    }
    EXPECT_TRUE(reg.unbound().empty());
    EXPECT_TRUE(reg.bound().empty());
    EXPECT_FALSE(reg.is_bound(res_a));
}
