#include <gtest/gtest.h>

#include <cstdlib>

#include "base/path.h"

namespace cnxd {
namespace {

// Paths may come from clients (log file names, for one): under a sysroot,
// climbing out of it with ".." must not work.
TEST(SysrootPath, DotDotNeverLeavesTheSysroot)
{
    setenv("CNXD_ROOT", "/tmp/root", 1);
    cnxd_reload_root();
    EXPECT_EQ("/tmp/root/var/tmp/x", cnxd_path("/var/tmp/x"));
    EXPECT_EQ("/tmp/root/etc/passwd", cnxd_path("/../../etc/passwd"));
    EXPECT_EQ("/tmp/root/var/log", cnxd_path("/var/tmp/../log"));
    EXPECT_EQ("relative/../x", cnxd_path("relative/../x"));
    unsetenv("CNXD_ROOT");
    cnxd_reload_root();
    EXPECT_EQ("/var/tmp/../log", cnxd_path("/var/tmp/../log"));
}

}  // namespace
}  // namespace cnxd
