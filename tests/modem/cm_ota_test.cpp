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
    void store(int session, int state)
    {
        root_.set("config wan lte fota_session", std::to_string(session));
        root_.set("config wan lte fota_state", std::to_string(state));
    }
    static std::string session_in_store()
    {
        confdb_value value;
        CNXD_GetConfdbValue("config wan lte", "fota_session", value);
        return value.data();
    }
    void session_file(const std::string& deferred, const std::string& status)
    {
        root_.write("/var/update/fota_info.ini", "[fota_info]\ndeferred=" + deferred + "\nstatus=" + status +
                                                     "\ndeferred_time=2024-01-01 03:00\n");
    }
};

TEST_F(CmOta, AnInterruptedSessionRunsTheClientAgainAndClearsTheFlag)
{
    for (int state : {20, 30, 50, 60, 70}) {
        store(1, state);
        cm_run_ota_dm_recover_session(1);
        EXPECT_EQ("ota_dm_cli run ci\n", platform_calls()) << state;
        EXPECT_EQ("0", session_in_store()) << state;
    }
    const Lines lines = logs();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("[cm_run_ota_dm_recover_session] [FOTA_STATE_DOWNLOADING] OTA_DM_RUN_RECOVER_SESSION\n", lines[0]);
}

TEST_F(CmOta, OtherStatesAndNoSessionRunNothing)
{
    for (auto [session, state] : {std::pair{1, 10}, {1, 400}, {1, 401}, {1, 99}, {0, 20}}) {
        store(session, state);
        cm_run_ota_dm_recover_session(1);
        EXPECT_EQ("", platform_calls()) << session << " " << state;
        EXPECT_EQ(std::to_string(session), session_in_store());
    }
    EXPECT_EQ(Lines{}, logs());
}

TEST_F(CmOta, ADeferredDownloadOrUpdateIsTakenUpInstead)
{
    store(1, 20);
    session_file("1", "2");
    cm_run_ota_dm_recover_session(1);
    EXPECT_EQ("ota_dm_cli run fota dl defer\n", platform_calls());
    EXPECT_EQ("1", session_in_store()) << "the session is left to the client";

    session_file("1", "4");
    cm_run_ota_dm_recover_session(1);
    EXPECT_EQ("ota_dm_cli run fota up defer\n", platform_calls());

    store(0, 30);  // the store's state alone asks for the update
    session_file("1", "0");
    cm_run_ota_dm_recover_session(1);
    EXPECT_EQ("ota_dm_cli run fota up defer\n", platform_calls());

    store(1, 20);  // deferred, but neither to download nor to update
    cm_run_ota_dm_recover_session(1);
    EXPECT_EQ("ota_dm_cli run ci\n", platform_calls());

    store(1, 20);
    session_file("0", "2");  // not deferred
    cm_run_ota_dm_recover_session(1);
    EXPECT_EQ("ota_dm_cli run ci\n", platform_calls());
}

}  // namespace
}  // namespace cnxd::test
