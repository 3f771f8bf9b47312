#include "dm/log_paths.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace cnxd {

char filepath_dm_log[LOG_PATH_MAX];
char filepath_device_crash_log[LOG_PATH_MAX];
char filepath_device_dbg_log[LOG_PATH_MAX];

#define PARAM_FILE(buffer, name) char buffer[PARAM_PATH_MAX];
#include "dm/param_files.def"

namespace {

void fill(char (&buffer)[LOG_PATH_MAX], const char* env_name, std::string_view default_dir, const char* name)
{
    const char* env = std::getenv(env_name);
    const std::string_view dir = env && *env ? env : default_dir;
    const char* slash = dir.ends_with('/') ? "" : "/";
    std::snprintf(buffer, sizeof buffer, "%.*s%s%s", static_cast<int>(dir.size()), dir.data(), slash, name);
}

}  // namespace

void set_log_file_paths()
{
    // The crash log's default directory is dev_dbg_log and the debug log's
    // dev_crash_log: crossed, as the router's other programs expect them.
    fill(filepath_dm_log, "LTE_DM_LOG_DIR", "/var/lte/dm_log", "dm.log");
    fill(filepath_device_crash_log, "LTE_DEV_CRASH_LOG_DIR", "/var/lte/dev_dbg_log", "crash.log");
    fill(filepath_device_dbg_log, "LTE_DEV_DBG_LOG_DIR", "/var/lte/dev_crash_log", "dbg.log");
#define PARAM_FILE(buffer, name) fill(buffer, "LTE_PARAM_DIR", PARAM_DIR_DEFAULT, name);
#include "dm/param_files.def"
}

}  // namespace cnxd
