#include "param/param_files.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace cnxd {

#define PARAM_FILE(buffer, name) char buffer[PARAM_PATH_MAX];
#include "param/param_files.def"

void param_set_file_paths()
{
    const char* env = std::getenv("LTE_PARAM_DIR");
    const std::string_view dir = env && *env ? env : PARAM_DIR_DEFAULT;
    const char* slash = dir.ends_with('/') ? "" : "/";
    const int dir_len = static_cast<int>(dir.size());
#define PARAM_FILE(buffer, name) std::snprintf(buffer, sizeof buffer, "%.*s%s%s", dir_len, dir.data(), slash, name);
#include "param/param_files.def"
}

}  // namespace cnxd
