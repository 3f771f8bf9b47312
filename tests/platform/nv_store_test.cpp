// The NV library stand-in over its item files: reads and writes in range,
// refusals, the item-1 write switch, the console log and the RAM image.
#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "nv.h"
#include "platform/ltesim_fixture.h"

namespace cnxd::test {
namespace {

class Nv : public ::testing::Test {
protected:
    ~Nv() override
    {
        nv_nv1_write_enable();
        nv_set_log_mask(0);
    }
    std::string file(const std::string& target) const
    {
        std::ifstream in(root.path(target), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    SimRoot root;
};

TEST_F(Nv, WritesGrowTheItemAndReadsStayInsideIt)
{
    const std::array<uint8_t, 3> bytes = {0x11, 0x22, 0x33};
    EXPECT_EQ(3, nv_write(4, bytes.data(), 10, 3));
    EXPECT_EQ(std::string(10, '\0') + "\x11\x22\x33", file("/var/nv/item4.bin")) << "a gap reads as zero bytes";

    std::array<uint8_t, 4> out = {9, 9, 9, 9};
    EXPECT_EQ(4, nv_read(4, out.data(), 9, 4));
    EXPECT_EQ((std::array<uint8_t, 4>{0, 0x11, 0x22, 0x33}), out);
    out.fill(0xff);
    EXPECT_EQ(-1, nv_read(4, out.data(), 11, 3)) << "past the end";
    EXPECT_EQ(-1, nv_read(5, out.data(), 0, 1)) << "an item never written";
    EXPECT_EQ(0xff, out[0]) << "a failed read leaves the destination alone";
    for (const auto& [item, offset, len] : {std::tuple{-1, 0, 1}, {NV_ITEM_MAX + 1, 0, 1}, {4, -1, 1}, {4, 0, -1},
                                            {4, 0x7fffffff, 2}})
        EXPECT_EQ(-1, nv_write(item, bytes.data(), offset, len)) << item << " " << offset << " " << len;
    EXPECT_EQ(-1, nv_read(4, nullptr, 0, 1));
    EXPECT_EQ(0, nv_rsync());

    // Item 1 takes writes only while they are enabled.
    nv_nv1_write_disable();
    EXPECT_EQ(-1, nv_write(1, bytes.data(), 0, 1));
    EXPECT_EQ(1, nv_write(2, bytes.data(), 0, 1)) << "other items are not affected";
    nv_nv1_write_enable();
    EXPECT_EQ(1, nv_write(1, bytes.data(), 0, 1));

    // The RAM image holds every item in turn: 1, 2, 4.
    EXPECT_EQ(0, cmn_nv_ram_flush());
    EXPECT_EQ("\x11\x11" + std::string(10, '\0') + "\x11\x22\x33", file("/var/tmp/cmnnvr.bin"));
}

std::vector<std::string> printed;

int collect(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char buf[256];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    printed.emplace_back(buf);
    return 0;
}

TEST_F(Nv, LogMaskChoosesWhatTheConsoleLogKeeps)
{
    const uint8_t b = 1;
    uint8_t out = 0;
    printed.clear();
    nv_test_show_console_log(collect);
    EXPECT_TRUE(printed.empty()) << "no log yet";
    nv_set_log_mask(2);
    EXPECT_EQ(2u, nv_get_log_mask());
    nv_write(3, &b, 0, 1);
    nv_read(3, &out, 0, 1);
    nv_set_log_mask(3);
    nv_read(3, &out, 5, 1);
    nv_test_show_console_log(collect);
    EXPECT_EQ((std::vector<std::string>{"write item 3 offset 0 len 1: 1\n", "read item 3 offset 5 len 1: -1\n"}),
              printed);
}

}  // namespace
}  // namespace cnxd::test
