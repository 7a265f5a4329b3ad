// Status names and texts of the VISA vocabulary.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "visa/visa_types.h"

using namespace visa;

TEST(visa_status, every_status_constant_has_its_own_name) {
#define VELKARO_STATUS(s) \
    { s, #s }
    const struct {
        ViStatus status;
        const char* name;
    } constants[] = {
        VELKARO_STATUS(VI_SUCCESS),
        VELKARO_STATUS(VI_SUCCESS_TERM_CHAR),
        VELKARO_STATUS(VI_SUCCESS_MAX_CNT),
        VELKARO_STATUS(VI_ERROR_SYSTEM_ERROR),
        VELKARO_STATUS(VI_ERROR_INV_OBJECT),
        VELKARO_STATUS(VI_ERROR_RSRC_LOCKED),
        VELKARO_STATUS(VI_ERROR_INV_EXPR),
        VELKARO_STATUS(VI_ERROR_RSRC_NFOUND),
        VELKARO_STATUS(VI_ERROR_INV_RSRC_NAME),
        VELKARO_STATUS(VI_ERROR_INV_ACC_MODE),
        VELKARO_STATUS(VI_ERROR_TMO),
        VELKARO_STATUS(VI_ERROR_CLOSING_FAILED),
        VELKARO_STATUS(VI_ERROR_ATTR_READONLY),
        VELKARO_STATUS(VI_ERROR_NSUP_ATTR),
        VELKARO_STATUS(VI_ERROR_NSUP_ATTR_STATE),
        VELKARO_STATUS(VI_ERROR_ABORT),
        VELKARO_STATUS(VI_ERROR_ALLOC),
        VELKARO_STATUS(VI_ERROR_IO),
        VELKARO_STATUS(VI_ERROR_NSUP_OPER),
        VELKARO_STATUS(VI_ERROR_RSRC_BUSY),
        VELKARO_STATUS(VI_ERROR_INV_PARAMETER),
        VELKARO_STATUS(VI_ERROR_LIBRARY_NFOUND),
        VELKARO_STATUS(VI_ERROR_INTF_NUM_NCONFIG),
        VELKARO_STATUS(VI_ERROR_CONN_LOST),
    };
#undef VELKARO_STATUS
    for (const auto& c : constants) {
        ASSERT_NE(status_name(c.status), nullptr) << c.name;
        EXPECT_STREQ(status_name(c.status), c.name);
    }
    EXPECT_EQ(std::size(status_table), std::size(constants));
    std::set<ViStatus> values;
    for (const status_info_t& s : status_table) EXPECT_TRUE(values.insert(s.status).second) << s.name;
    EXPECT_EQ(status_name(static_cast<ViStatus>(0xBFFF9999U)), nullptr);
    EXPECT_EQ(status_name(1), nullptr);
}

TEST(visa_status, texts_are_the_links_and_unknown_ones_say_so) {
    const struct {
        ViStatus status;
        const char* text;
    } cases[] = {
        {VI_SUCCESS, "success"},
        {VI_ERROR_INV_OBJECT, "The given session reference is invalid."},
        {VI_ERROR_NSUP_OPER,
         "The given sesn does not support this operation. For VISA, this operation is supported only by the "
         "Default Resource Manager session."},
        {VI_ERROR_INV_RSRC_NAME, "Invalid resource reference specified. Parsing error."},
        {VI_ERROR_RSRC_NFOUND, "Insufficient location information or resource not present in the system."},
        {VI_ERROR_ALLOC, "Insufficient system resources to parse the string."},
        {VI_ERROR_LIBRARY_NFOUND, "A code library required by VISA could not be located or loaded."},
        {VI_ERROR_INTF_NUM_NCONFIG,
         "The interface type is valid, but the specified interface number is not configured."},
        {VI_ERROR_TMO, "unknown error"},  // named, but the link has no text for it
        {VI_SUCCESS_MAX_CNT, "unknown error"},
        {static_cast<ViStatus>(0xFFFFFFFFU), "unknown error"},
    };
    for (const auto& c : cases) EXPECT_STREQ(status_text(c.status), c.text) << std::hex << c.status;
    static_assert(status_name(VI_ERROR_TMO)[3] == 'E', "usable at compile time");
}
