// The record printer's rules that the indications' end-to-end rows do not
// reach: each row a record's bytes, a field table and the text it prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "base/record.h"

namespace cnxd {
namespace {

using Bytes = std::vector<uint8_t>;

std::string printed;

int sink(const char* fmt, ...)
{
    char buf[4096];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    printed.append(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
    return n;
}
using namespace std::string_literals;

constexpr const char* BANDWIDTH[] = {"1.4MHz", "3MHz", "5MHz", "10MHz"};
constexpr record_field CELL[] = {rec::snum("\tCELL_%d", 0, 2).with_sep(": ")};
constexpr record_field CELLS[] = {rec::array("NEIGHBOR CELL[%d]", 1, 2, 2, CELL).with_count(0, 1)};
static_assert(record_tbl_ok(CELLS));
constexpr record_field THREE_BYTES[] = {rec::num("three bytes", 0, 3)};
static_assert(!record_tbl_ok(THREE_BYTES));

struct row {
    const char* what;
    Bytes bytes;
    std::vector<record_field> fields;
    std::string expect;
};

const row rows[] = {
    {"signedness and width",
     {0xFF, 0xFF, 0xFE, 0x80, 0, 0, 0},
     {rec::num("u8", 0, 1), rec::snum("s8", 0, 1), rec::num("u16", 1, 2), rec::snum("s16", 1, 2),
      rec::snum("s32", 3, 4), rec::num("u32", 3, 4), rec::hex("Flags", 3, 4)},
     "u8 : 255\ns8 : -1\nu16 : 65534\ns16 : -2\ns32 : -2147483648\nu32 : 2147483648\nFlags : 80000000\n"},
    {"scale and unit: tenths as %.1f, halves toward zero",
     {0xFD, 0xDB, 0xFF, 0xEB},  // -549, -21
     {rec::real1("TX Power", 0, 2, 10).with_unit("(dBm)"), rec::snum("RSRQ", 2, 2).with_scale(2)},
     "TX Power : -54.9(dBm)\nRSRQ : -10\n"},
    {"invalid markers: out of range, the 255 of a byte, a name past its table",
     {0xFF, 0x6A, 0xFF, 0x6B, 0, 0, 0, 6, 2},  // -150, -149, 6, 2
     {rec::snum("RSRP", 0, 2).with_valid(-149, INT16_MAX), rec::snum("RSRP", 2, 2).with_valid(-149, INT16_MAX),
      rec::num("Group", 0, 1).with_valid(0, 254), rec::name("BandWidth", 4, 4, BANDWIDTH).with_valid(0, 3),
      rec::name("BandWidth", 8, 1, BANDWIDTH), rec::name("Band", 4, 4, BANDWIDTH)},
     "RSRP : NV\nRSRP : -149\nGroup : NV\nBandWidth : NV\nBandWidth : 5MHz\nBand : 6\n"},
    {"texts: bounded, cut at NUL, counted; padded labels",
     {3, 'a', 'b', 'c', 'd', 0, 'e'},
     {rec::text("APN NI", 1, 8).with_pad(14).with_count(0, 1), rec::text("Name", 1, 8), rec::text("Two", 1, 2)},
     "APN NI         : abc\nName : abcd\nTwo : ab\n"},
    {"fields beyond the received bytes: numbers and addresses skipped, texts and blocks as far as they go",
     {'x', 'y', 0x01},
     {rec::num("gone", 2, 2), rec::ipv4("gone", 0), rec::text("Cut", 0, 8), rec::hex_block("Cut", 1, 4),
      rec::hex_block("None", 9, 4), rec::num("there", 2, 1)},
     "Cut : xy\x01\nCut : 79 01 \nNone : \nthere : 1\n"},
    {"array: the count capped by the maximum, numbered in heading and fields",
     {5, 0xFF, 0xFE, 0, 7, 0, 9},
     {CELLS[0]},
     "NEIGHBOR CELL[0]\n\tCELL_0: -2\nNEIGHBOR CELL[1]\n\tCELL_1: 7\n"},
    {"array: only whole elements that are there; a missing count is 0",
     {2, 0, 3, 0},
     {CELLS[0], rec::array("", 9, 2, 4, CELL).with_count(9, 1), rec::array("", 0, 3, 9, CELL)},
     "NEIGHBOR CELL[0]\n\tCELL_0: 3\n\tCELL_0: 512\n"},
    {"dump of 17 bytes: 16 to a line, NULs as they are",
     {'a', 0, 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 0},
     {rec::char_block("TXT", 0, 17), rec::hex_block("KEY", 0, 17), rec::char_block("TXT", 0, 3)},
     "TXT\na \0 b c d e f g h i j k l m n o \n\0 \n\nKEY\n61 00 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f \n00 \n\n"
     "TXT : a \0 b \n"s},
};

TEST(RecordPrint, PrintsEachRowAsExpected)
{
    for (const row& r : rows) {
        printed.clear();
        record_print(sink, r.fields, r.bytes);
        EXPECT_EQ(r.expect, printed) << r.what;
    }
}

}  // namespace
}  // namespace cnxd
