// Recovery of an interrupted firmware-over-the-air session from the store's
// state and the session file: the device-management client command lines
// (seen by its stub in the sysroot) and the store's session flag.
#include "config/confdb_access.h"
#include "modem/cm_fixture.h"
#include "modem/cm_wrappers.h"

namespace cnxd::test {
namespace {

class CmOta : public CmTest {
protected:
    void SetUp() override
    {
        if (root_.tool_is_foreign())
            GTEST_SKIP() << kForeignTool;
    }
};

TEST_F(CmOta, RecoveryFollowsTheStoredStateAndTheDeferredSession)
{
    const char* const ci = "ota_dm_cli run ci\n";
    const char* const up = "ota_dm_cli run fota up defer\n";
    const struct {
        int session, state;
        const char* session_file;  // "deferred status", or none
        std::string run, session_after;
    } cases[] = {
        // An interrupted session runs the client again and clears the flag.
        {1, 20, nullptr, ci, "0"}, {1, 30, nullptr, ci, "0"}, {1, 50, nullptr, ci, "0"},
        {1, 60, nullptr, ci, "0"}, {1, 70, nullptr, ci, "0"},
        // Other states, or no session, run nothing.
        {1, 10, nullptr, "", "1"}, {1, 400, nullptr, "", "1"}, {1, 401, nullptr, "", "1"},
        {1, 99, nullptr, "", "1"}, {0, 20, nullptr, "", "0"},
        // A deferred download or update is taken up instead, the session
        // left to the client; the store's state alone may ask for the update.
        {1, 20, "1 2", "ota_dm_cli run fota dl defer\n", "1"}, {1, 20, "1 4", up, "1"},
        {0, 30, "1 0", up, "0"},
        // Deferred to neither, or not deferred: the interrupted session.
        {1, 20, "1 0", ci, "0"}, {1, 20, "0 2", ci, "0"},
        // Values are read whole, two digits and all: 10 is not deferred.
        {1, 20, "10 2", ci, "0"},
    };
    for (const auto& c : cases) {
        const std::string file = c.session_file ? c.session_file : "";
        SCOPED_TRACE(std::to_string(c.session) + " " + std::to_string(c.state) + " " + file);
        root_.set("config wan lte fota_session", std::to_string(c.session));
        root_.set("config wan lte fota_state", std::to_string(c.state));
        if (!file.empty())
            root_.write("/var/update/fota_info.ini", "[fota_info]\ndeferred=" + file.substr(0, file.find(' ')) +
                                                         "\nstatus=" + file.substr(file.find(' ') + 1) +
                                                         "\ndeferred_time=2024-01-01 03:00\n");
        cm_run_ota_dm_recover_session(1);
        EXPECT_EQ(c.run, platform_calls());
        confdb_value value;
        CNXD_GetConfdbValue("config wan lte", "fota_session", value);
        EXPECT_EQ(c.session_after, value.data());
        // One line per recovery of the session, none for the deferred ones.
        EXPECT_EQ(c.run == ci ? 1u : 0u, logs().size());
    }
    // The four rows of state 20 that run the session again.
    EXPECT_EQ(4, std::ranges::count(seen(), "[cm_run_ota_dm_recover_session] [FOTA_STATE_DOWNLOADING] "
                                            "OTA_DM_RUN_RECOVER_SESSION\n"));
}

}  // namespace
}  // namespace cnxd::test
