// The store's library side. The store itself is one INI-style file in the
// sysroot; the library is ready when its directory exists.
#include <sys/stat.h>

#include "base/path.h"
#include "confdb.h"

extern "C" int init_confdb_ex(void)
{
    struct stat st;
    return stat(cnxd::cnxd_path("/etc").c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}
