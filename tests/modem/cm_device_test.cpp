// What the device wrappers leave behind: the recovery of an interrupted
// firmware-over-the-air session from the store's state and the session file
// (the device-management client command lines, seen by its stub in the
// sysroot, and the store's session flag); and a pending MAC or IMEI change,
// from the NV upload it starts to the changed item going back down.
#include <algorithm>

#include "config/confdb_access.h"
#include "download/download.h"
#include "ind/ind.h"
#include "modem/cm_fixture.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"

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

class CmNvChange : public CmTest {
protected:
    // With the handler of the upload answer (callback 67) registered.
    CmNvChange() { ind_register_rows(hAPI, {std::ranges::find(ind_callback_tbl, 67, &ind_row::cb_id), 1}); }

    // The item's data in the download the answer made, in hex; "" when it
    // made none.
    std::string downloaded()
    {
        sim("sync");
        const std::string head = "LAPI_DownloadBinary dev=1 ";
        for (const std::string& call : calls())
            if (call.starts_with(head))
                return call.substr(head.size() + 2 * transfer::DATA);
        return "";
    }
};

TEST_F(CmNvChange, TheUploadAnswerWritesThePendingAddressIntoTheItem)
{
    const std::array<uint8_t, 9> imei = {8, 0x3a, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43};
    uint8_t upload[6] = {0, 0, 0, 0, 7, 0};
    cm_change_imei_address(1, upload, imei);
    const std::string item = downloaded();
    EXPECT_EQ("083a21436587092143", item.substr(2 * 16, 18));
    EXPECT_EQ("001e42000001", item.substr(2 * 88, 12)) << "the MAC stays";
    EXPECT_EQ(1, std::ranges::count(logs(), "change IMEI 0000000000000000 -> a312345678901234\n"));

    // With both pending the MAC wins, and both are taken: the next answer
    // downloads nothing.
    const uint8_t mac[6] = {2, 0, 0, 0, 0, 7};
    ind_set_change_imei_address(1, imei.data());
    ind_set_change_mac_address(1, mac);
    ASSERT_EQ(0, LAPI_UploadBinary(hAPI, 1, upload));
    EXPECT_EQ("020000000007", downloaded().substr(2 * 88, 12));
    EXPECT_EQ(1, std::ranges::count(logs(), "change MAC Addreess 00-1e-42-00-00-01 -> 02-00-00-00-00-07\n"));
    ASSERT_EQ(0, LAPI_UploadBinary(hAPI, 1, upload));
    EXPECT_EQ("", downloaded());

    // A device past the tables keeps nothing pending; a refused upload says
    // so.
    ind_set_change_mac_address(DEVICE_TABLE_SIZE, mac);
    EXPECT_FALSE(take_pending_nv_change(DEVICE_TABLE_SIZE).mac);
    sim("fail LAPI_UploadBinary -1");
    cm_change_imei_address(1, upload, imei);
    EXPECT_EQ(1, std::ranges::count(logs(), "[cm_change_imei_address   ] Change IMEI Fail\n"));
}

}  // namespace
}  // namespace cnxd::test
