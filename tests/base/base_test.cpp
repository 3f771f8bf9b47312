// The big-endian field helpers and the sysroot path helper.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "base/be.h"
#include "base/path.h"

namespace cnxd {
namespace {

TEST(BigEndian, RoundTripsAndReadsOnlyInsideTheBuffer)
{
    uint8_t buf[6] = {};
    store_be16(buf, 0x0106);
    store_be32(buf + 2, 0x8107A0B1);
    const uint8_t expect[6] = {0x01, 0x06, 0x81, 0x07, 0xA0, 0xB1};
    EXPECT_EQ(0, memcmp(buf, expect, sizeof buf));
    EXPECT_EQ(0x0106, load_be16(buf));
    EXPECT_EQ(0x8107A0B1u, load_be32(buf + 2));

    const std::span<const uint8_t> s(buf, 5);
    EXPECT_EQ(0x8107u, load_be16(s, 2));
    EXPECT_EQ(0u, load_be32(s, 2)) << "a field running past the received bytes reads as 0";
    EXPECT_EQ(0u, load_be16(s, 4));
}

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
