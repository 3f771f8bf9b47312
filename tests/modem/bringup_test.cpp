// Opening and closing the SDK, and the failure paths of the bring-up,
// against the simulated SDK.
#include <gtest/gtest.h>

#include "ltesim.h"
#include "modem/bringup.h"
#include "platform/ltesim_fixture.h"

namespace cnxd::test {
namespace {

// The names of the SDK calls so far, but the indication table's callback
// registrations (tested in tests/ind).
std::string names_of_calls()
{
    std::string out;
    const std::string calls = ltesim::control("calls");
    for (size_t at = 0; at < calls.size(); at = calls.find('\n', at) + 1) {
        const std::string name = calls.substr(at, calls.find_first_of(" \n", at) - at);
        if (name != "LAPI_RegisterCallbackResponse")
            out += name + ";";
    }
    return out;
}

TEST(BringUp, OnlyOpenInitialiseAndMiscInitialiseFailuresStopIt)
{
    const std::string opened = "LAPI_LTEAPIOpen;LAPI_Initialize;LAPI_SetLogConfig;LAPI_Misc_Initialize;";
    const std::string closed = "LAPI_AllCallbackUnRegister;LAPI_DeInitialize;LAPI_LTEAPIClose;end;";
    const struct {
        const char* conf;
        int result;
        std::string calls;
    } cases[] = {
        {"", 0, opened + closed},
        {"fail LAPI_SetLogConfig 5\n", 0, opened + closed},
        {"fail LAPI_LTEAPIOpen -1\n", -1, "LAPI_LTEAPIOpen;end;"},
        {"fail LAPI_Initialize -1\n", -1, "LAPI_LTEAPIOpen;LAPI_Initialize;LAPI_DeInitialize;end;"},
        {"fail LAPI_Misc_Initialize 1\n", -1, opened + "end;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.conf);
        SimRoot root(c.conf);
        EXPECT_EQ(c.result, lte_daemon_start());
        if (c.result == 0)
            lte_daemon_stop();
        EXPECT_EQ(c.calls, names_of_calls());
        if (c.result != 0 && c.calls != "LAPI_LTEAPIOpen;end;") {
            EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI)) << "left open for the caller";
        }
    }
}

}  // namespace
}  // namespace cnxd::test
