// Recovery of an interrupted firmware-over-the-air session, run after every
// successful attach: the store's session flag and state and the session
// file of the device-management client say what to run again.
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

#include "base/path.h"
#include "base/shell.h"
#include "config/confdb_access.h"
#include "confdb.h"
#include "modem/cm_call.h"
#include "modem/cm_wrappers.h"

namespace cnxd {
namespace {

constexpr const char* FOTA_INFO_FILE = "/var/update/fota_info.ini";
constexpr const char* FOTA_INFO_SECTION = "fota_info";
constexpr const char* OTA_DM_CLI = "/usr/sbin/ota_dm_cli";

// Session file values.
constexpr int FOTA_DEFERRED = 1;
constexpr int FOTA_STATUS_DOWNLOAD = 2;
constexpr int FOTA_STATUS_UPDATE = 4;

enum class fota_action { log_only, recover, bad_package };

// The device-management client's states as kept in the store. The names
// are ours (only used in the log); the action is what recovery does.
struct fota_state_row {
    int state;
    const char* name;
    fota_action action;
};
constexpr fota_state_row fota_state_tbl[] = {
    {10, "FOTA_STATE_REDAY_DOWNLOAD", fota_action::log_only},
    {20, "FOTA_STATE_DOWNLOADING", fota_action::recover},
    {30, "FOTA_STATE_READY_UPDATE", fota_action::recover},
    {50, "FOTA_STATE_UPDATING", fota_action::recover},
    {60, "FOTA_STATE_UPDATE_DONE", fota_action::recover},
    {70, "FOTA_STATE_REPORTING", fota_action::recover},
    {400, "FOTA_STATE_INVALID_PACKAGE", fota_action::bad_package},
    {401, "FOTA_STATE_CORRUPTED_PACKAGE", fota_action::bad_package},
};
constexpr int FOTA_STATE_READY_DOWNLOAD = 10;
constexpr int FOTA_STATE_READY_UPDATE = 30;

const fota_state_row* find_fota_state(int state)
{
    for (const fota_state_row& row : fota_state_tbl)
        if (row.state == state)
            return &row;
    return nullptr;
}

// An integer of the store dump: the default "0" when missing or empty, -1
// when the dump cannot be read.
int read_store_int(const ConfdbDump& dump, const char* key)
{
    confdb_value value{};
    if (dump.file().empty() ||
        GetPrivateProfileString("", key, "0", value.data(), CONFDB_VALUE_LIMIT, cnxd_path(dump.file()).c_str()) < 0)
        return -1;
    return std::atoi(value.data());
}

void run_ota_dm_cli(const char* args)
{
    const std::string cmd = std::string(OTA_DM_CLI) + " " + args;
    sdk_log(7, "[%s] run \"%s\"\n", "cm_run_ota_dm_recover_session", cmd.c_str());
    cnxd_system(cmd);
}

// A deferred download or update in the session file is taken up again.
// True when that ended the recovery.
bool resume_deferred(int fota_state)
{
    const std::string path = cnxd_path(FOTA_INFO_FILE);
    if (access(path.c_str(), R_OK) != 0)
        return false;
    // Read with limits of 3, 3 and 127 (the buffers' sizes): what fits with
    // its NUL.
    std::array<char, 3> deferred{};
    std::array<char, 3> status{};
    std::array<char, 127> deferred_time{};
    GetPrivateProfileString(FOTA_INFO_SECTION, "deferred", "", deferred.data(), 3, path.c_str());
    GetPrivateProfileString(FOTA_INFO_SECTION, "status", "", status.data(), 3, path.c_str());
    sdk_log(7, "[%s] deferred %s status %s\n", "cm_run_ota_dm_recover_session", deferred.data(), status.data());
    if (std::atoi(deferred.data()) != FOTA_DEFERRED)
        return false;
    if (GetPrivateProfileString(FOTA_INFO_SECTION, "deferred_time", "", deferred_time.data(), 127, path.c_str()) < 0)
        return true;
    sdk_log(7, "[%s] deferred until %s\n", "cm_run_ota_dm_recover_session", deferred_time.data());
    const int st = std::atoi(status.data());
    if (st == FOTA_STATUS_DOWNLOAD || fota_state == FOTA_STATE_READY_DOWNLOAD) {
        run_ota_dm_cli("run fota dl defer");
        return true;
    }
    if (st == FOTA_STATUS_UPDATE || fota_state == FOTA_STATE_READY_UPDATE) {
        run_ota_dm_cli("run fota up defer");
        return true;
    }
    return false;
}

}  // namespace

void cm_run_ota_dm_recover_session(uint32_t dev_idx)
{
    int fota_session = 0;
    int fota_state = 0;
    {
        const ConfdbDump dump("confdb_wan_lte", "config wan lte");
        fota_session = read_store_int(dump, "fota_session");
        fota_state = read_store_int(dump, "fota_state");
    }
    sdk_log(7, "[%s] DEV_IDX(%u) fota_session %d fota_state %d\n", __func__, dev_idx, fota_session, fota_state);
    if (resume_deferred(fota_state) || fota_session != 1)
        return;

    const fota_state_row* row = find_fota_state(fota_state);
    if (!row) {
        sdk_log(7, "[%s] Unknown type (%d)\n", __func__, fota_state);
        return;
    }
    switch (row->action) {
    case fota_action::log_only:
        sdk_log(7, "[%s] %s\n", __func__, row->name);
        break;
    case fota_action::bad_package:
        sdk_log(7, "[%s] %s: invalid or corrupted package\n", __func__, row->name);
        break;
    case fota_action::recover:
        cm_printf(CM_INFO, "[%-25s] [%s] OTA_DM_RUN_RECOVER_SESSION\n", __func__, row->name);
        // Kept in POSIX form on purpose: commands run through /bin/sh, and a
        // POSIX shell (dash) refuses "... fota_session 0 >& /dev/null" with
        // "Bad fd number" and runs nothing, leaving the session set.
        cnxd_system("confdb set config wan lte fota_session 0 >/dev/null 2>&1");
        run_ota_dm_cli("run ci");
        break;
    }
}

}  // namespace cnxd
