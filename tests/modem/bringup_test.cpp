// Opening and closing the SDK: the default log configuration and the
// failure paths of the bring-up, against the simulated SDK.
#include <gtest/gtest.h>

#include "base/be.h"
#include "ltesim.h"
#include "modem/bringup.h"
#include "platform/ltesim_fixture.h"

namespace cnxd::test {
namespace {

TEST(DefaultLogConfig, SendsErrorsAndInformationToThePrintCallback)
{
    const auto rec = default_log_config();
    EXPECT_EQ(1, rec[0]);
    EXPECT_EQ(1, rec[1]);
    for (size_t block : {size_t{8}, size_t{288}}) {
        EXPECT_EQ(64, load_be16(&rec[block]));
        EXPECT_EQ(6, load_be16(&rec[block + 2]));
        EXPECT_EQ(1, rec[block + 272]);
        EXPECT_EQ(reinterpret_cast<void*>(&lte_print_callback), sdk_word_to_addr(load_be32(&rec[block + 276])));
    }
}

std::string names_of_calls()
{
    std::string out;
    const std::string calls = ltesim::control("calls");
    for (size_t at = 0; at < calls.size();) {
        const size_t nl = calls.find('\n', at);
        const std::string line = calls.substr(at, nl - at);
        const std::string name = line.substr(0, line.find(' '));
        // The callback registrations are the indication table's own (tests/ind).
        if (name != "LAPI_RegisterCallbackResponse")
            out += name + ";";
        at = nl + 1;
    }
    return out;
}

TEST(BringUp, OpensInitialisesAndClosesInOrder)
{
    SimRoot root;
    ASSERT_EQ(0, lte_daemon_start());
    lte_daemon_stop();
    EXPECT_EQ("LAPI_LTEAPIOpen;LAPI_Initialize;LAPI_SetLogConfig;LAPI_Misc_Initialize;"
              "LAPI_AllCallbackUnRegister;LAPI_DeInitialize;LAPI_LTEAPIClose;end;",
              names_of_calls());
}

TEST(BringUp, OnlyOpenInitialiseAndMiscInitialiseFailuresStopIt)
{
    {
        SimRoot root("fail LAPI_LTEAPIOpen -1\n");
        EXPECT_EQ(-1, lte_daemon_start());
        EXPECT_EQ("LAPI_LTEAPIOpen;end;", names_of_calls());
    }
    {
        SimRoot root("fail LAPI_Initialize -1\n");
        EXPECT_EQ(-1, lte_daemon_start());
        EXPECT_EQ("LAPI_LTEAPIOpen;LAPI_Initialize;LAPI_DeInitialize;end;", names_of_calls());
        EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI));
    }
    {
        SimRoot root("fail LAPI_SetLogConfig 5\n");
        EXPECT_EQ(0, lte_daemon_start());
        lte_daemon_stop();
    }
    {
        SimRoot root("fail LAPI_Misc_Initialize 1\n");
        EXPECT_EQ(-1, lte_daemon_start());
        EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI));
    }
}

}  // namespace
}  // namespace cnxd::test
