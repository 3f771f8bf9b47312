// Opening and closing the SDK, and the failure paths of the bring-up, with
// the daemon's own steps, against the simulated SDK.
#include <gtest/gtest.h>

#include <sstream>

#include "app/daemon.h"
#include "base/stop.h"
#include "ltesim.h"
#include "platform/ltesim_fixture.h"

namespace cnxd::test {
namespace {

// The names of the SDK calls so far, a run of callback registrations as
// one "register" (the table itself is tested in tests/ind).
std::string names_of_calls()
{
    std::string out;
    std::istringstream calls(ltesim::control("calls"));
    for (std::string line; std::getline(calls, line);) {
        if (!line.starts_with("LAPI_RegisterCallbackResponse "))
            out += line.substr(0, line.find(' ')) + ";";
        else if (!out.ends_with("register;"))
            out += "register;";
    }
    return out;
}

TEST(BringUp, OnlyOpenInitialiseAndMiscInitialiseFailuresStopIt)
{
    const std::string opened = "LAPI_LTEAPIOpen;register;LAPI_Initialize;LAPI_SetLogConfig;LAPI_Misc_Initialize;";
    const std::string closed = "LAPI_AllCallbackUnRegister;LAPI_DeInitialize;LAPI_LTEAPIClose;end;";
    const struct {
        const char* conf;
        int result;
        std::string calls;
    } cases[] = {
        {"", 0, opened + closed},
        {"fail LAPI_SetLogConfig 5\n", 0, opened + closed},
        {"fail LAPI_LTEAPIOpen -1\n", -1, "LAPI_LTEAPIOpen;end;"},
        {"fail LAPI_Initialize -1\n", -1, "LAPI_LTEAPIOpen;register;LAPI_Initialize;LAPI_DeInitialize;end;"},
        {"fail LAPI_Misc_Initialize 1\n", -1, opened + "end;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.conf);
        SimRoot root(c.conf);
        EXPECT_EQ(c.result, lte_daemon_start(cnxd_bringup_steps));
        if (c.result == 0) {
            lte_daemon_stop(cnxd_bringup_steps);
            cnxd_stop_clear();  // the shutdown requested the stop
        }
        EXPECT_EQ(c.calls, names_of_calls());
        if (c.result != 0 && c.calls != "LAPI_LTEAPIOpen;end;") {
            EXPECT_EQ(0, LAPI_LTEAPIClose(hAPI)) << "left open for the caller";
        }
    }
}

}  // namespace
}  // namespace cnxd::test
