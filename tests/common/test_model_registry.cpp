#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/plib_common.h"

namespace {

const model_registry_t& registry() { return model_registry_t::instance(); }

TEST(model_registry, model_lists_in_code_order) {
    struct case_t {
        int kind;
        std::vector<std::string> models;
    };
    const case_t cases[] = {
        {0, {"VXA-1", "VXA-2", "VXA-2E", "VXA-3", "VXB-1", "VXB-2"}},
        {1, {"VXA-1", "VXA-2", "VXA-2E", "VXA-3"}},
        {2, {"VXB-1", "VXB-2"}},
        {3, {}},
        {-1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        std::vector<std::string> out;
        registry().model_list(c.kind, out);
        EXPECT_EQ(c.models, out);
    }
}

TEST(model_registry, model_list_appends) {
    std::vector<std::string> out{"first"};
    registry().model_list(2, out);
    EXPECT_EQ((std::vector<std::string>{"first", "VXB-1", "VXB-2"}), out);
}

TEST(model_registry, names_codes_and_families) {
    struct case_t {
        const char* name;
        int family;
        int code;
    };
    const case_t cases[] = {
        {"VXA-1", 1, 1100},
        {"VXA-2", 1, 1101},
        {"VXA-2E", 1, 1102},
        {"VXA-3", 1, 1103},
        {"VXB-1", 2, 1200},
        {"VXB-2", 2, 1201},
        // The driver factory knows VXB-3, the registry does not offer it.
        {"VXB-3", 0, 0},
        {"vxa-1", 0, 0},
        {"VXA-2 ", 0, 0},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.family, registry().family_of(c.name));
        EXPECT_EQ(c.code, registry().model_code(c.name));
        if (c.code != 0) {
            EXPECT_EQ(c.name, registry().model_name(c.code));
            EXPECT_EQ(c.family, model_registry_t::family_of_code(c.code));
        }
    }
}

TEST(model_registry, codes_outside_the_maps) {
    struct case_t {
        int code;
        int family;
    };
    // 1202 lies in the VXB range but names no registered model.
    const case_t cases[] = {{1202, 2}, {1203, 0}, {1104, 0}, {1099, 0}, {1199, 0}, {0, 0}, {-1100, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ("", registry().model_name(c.code));
        EXPECT_EQ(c.family, model_registry_t::family_of_code(c.code));
    }
}

TEST(model_registry, first_use_from_several_threads_sees_one_instance) {
    std::vector<const model_registry_t*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] {
            seen[i] = &model_registry_t::instance();
            std::vector<std::string> out;
            seen[i]->model_list(0, out);
            if (out.size() != 6) seen[i] = nullptr;
        });
    }
    for (auto& t : threads) t.join();
    for (const auto* p : seen) EXPECT_EQ(&model_registry_t::instance(), p);
}

}  // namespace
