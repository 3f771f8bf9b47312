#include "base/be.h"

#include <gtest/gtest.h>

namespace cnxd {
namespace {

TEST(BigEndian, RoundTripsAndReadsOnlyInsideTheBuffer)
{
    uint8_t buf[6] = {};
    store_be16(buf, 0x0106);
    store_be32(buf + 2, 0x8107A0B1);
    const uint8_t expect[6] = {0x01, 0x06, /* id */ 0x81, 0x07, 0xA0, 0xB1};
    EXPECT_EQ(0, memcmp(buf, expect, sizeof buf));
    EXPECT_EQ(0x0106, load_be16(buf));
    EXPECT_EQ(0x8107A0B1u, load_be32(buf + 2));

    const std::span<const uint8_t> s(buf, 5);
    EXPECT_EQ(0x8107u, load_be16(s, 2));
    EXPECT_EQ(0u, load_be32(s, 2)) << "a field running past the received bytes reads as 0";
    EXPECT_EQ(0u, load_be16(s, 4));
}

}  // namespace
}  // namespace cnxd
