// Where the parameter files live: one 256-byte path buffer per file
// (param_files.def), filled once at start-up from LTE_PARAM_DIR, else
// "/var/lte/param/". The buffers hold the router's path; the readers open
// it through cnxd_path, so a host run reads the files of its sysroot.
#pragma once

#include <cstddef>

namespace cnxd {

constexpr size_t PARAM_PATH_MAX = 256;
constexpr const char* PARAM_DIR_DEFAULT = "/var/lte/param/";

#define PARAM_FILE(buffer, name) extern char buffer[PARAM_PATH_MAX];
#include "param/param_files.def"

// Fills every buffer of param_files.def: the directory (LTE_PARAM_DIR when
// set and not empty, else the default), a "/" when the directory does not
// end in one, and the file name. A path longer than 255 characters is cut.
// Called once at start-up, before any thread reads a parameter file.
void param_set_file_paths();

}  // namespace cnxd
