// The log file paths set at start-up from the environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "dm/log_paths.h"

namespace cnxd {
namespace {

TEST(LogPaths, EnvironmentDirectoriesElseTheDefaults)
{
    struct Case {
        const char* dir;  // for all three variables; nullptr: unset
        const char* dm;
        const char* crash;
        const char* dbg;
    };
    // The crash and debug logs' default directories are crossed.
    const Case cases[] = {
        {nullptr, "/var/lte/dm_log/dm.log", "/var/lte/dev_dbg_log/crash.log", "/var/lte/dev_crash_log/dbg.log"},
        {"", "/var/lte/dm_log/dm.log", "/var/lte/dev_dbg_log/crash.log", "/var/lte/dev_crash_log/dbg.log"},
        {"/tmp/x", "/tmp/x/dm.log", "/tmp/x/crash.log", "/tmp/x/dbg.log"},
        {"/tmp/x/", "/tmp/x/dm.log", "/tmp/x/crash.log", "/tmp/x/dbg.log"},
    };
    for (const Case& c : cases) {
        for (const char* env : {"LTE_DM_LOG_DIR", "LTE_DEV_CRASH_LOG_DIR", "LTE_DEV_DBG_LOG_DIR"})
            c.dir ? setenv(env, c.dir, 1) : unsetenv(env);
        set_log_file_paths();
        EXPECT_STREQ(c.dm, filepath_dm_log) << (c.dir ? c.dir : "unset");
        EXPECT_STREQ(c.crash, filepath_device_crash_log) << (c.dir ? c.dir : "unset");
        EXPECT_STREQ(c.dbg, filepath_device_dbg_log) << (c.dir ? c.dir : "unset");
    }
    setenv("LTE_DM_LOG_DIR", "/a", 1);
    setenv("LTE_PARAM_DIR", "/b", 1);
    set_log_file_paths();
    EXPECT_STREQ("/a/dm.log", filepath_dm_log) << "each file its own variable";
    EXPECT_STREQ("/b/attach.param", filepath_attach_param) << "the parameter files in the same call";
    for (const char* env : {"LTE_DM_LOG_DIR", "LTE_DEV_CRASH_LOG_DIR", "LTE_DEV_DBG_LOG_DIR", "LTE_PARAM_DIR"})
        unsetenv(env);
}

}  // namespace
}  // namespace cnxd
