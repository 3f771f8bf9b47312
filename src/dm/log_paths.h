// Where the daemon's log and parameter files live: one 256-byte path buffer
// per file, filled once at start-up by set_log_file_paths from the
// environment. The buffers hold the paths as given (the router's); the
// parameter files are opened through cnxd_sysroot_path, so a host run uses
// the files of its sysroot whatever form LTE_PARAM_DIR takes.
#pragma once

#include <cstddef>

namespace cnxd {

constexpr size_t LOG_PATH_MAX = 256;
constexpr size_t PARAM_PATH_MAX = LOG_PATH_MAX;
constexpr const char* PARAM_DIR_DEFAULT = "/var/lte/param/";

// The DM log, the modem's crash log and its debug log.
extern char filepath_dm_log[LOG_PATH_MAX];
extern char filepath_device_crash_log[LOG_PATH_MAX];
extern char filepath_device_dbg_log[LOG_PATH_MAX];

// The parameter files of the request builders (param_files.def).
#define PARAM_FILE(buffer, name) extern char buffer[PARAM_PATH_MAX];
#include "dm/param_files.def"

// Fills every buffer, dm.log, crash.log and dbg.log first, then each
// parameter file: the directory (its environment variable when set and not
// empty, else the default), a "/" when the directory does not end in one,
// and the file name. A path longer than 255 characters is cut. Called once
// at start-up, before any thread opens one of the files.
void set_log_file_paths();

}  // namespace cnxd
