// DM reports printed into dm.log: every row of the report tables, and the
// printers' shapes on the values where they turn.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/be.h"
#include "base/path.h"
#include "dm/dm_fixture.h"
#include "dm/dm_report.h"
#include "dm/log_paths.h"

namespace cnxd {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t DEV = 1;  // lte0

class DmReports : public test::DmSysroot {
protected:
    // What the reports printed since the last call, time stamps as "[T]".
    std::string printed()
    {
        const std::string text = content();
        std::filesystem::remove(path());
        static const std::regex stamp(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\]\n)");
        return std::regex_replace(text, stamp, "[T]\n");
    }
};

Bytes basic(uint16_t id, const Bytes& payload)
{
    Bytes r(4, 0);
    store_be16(&r[2], id);
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

Bytes ext(uint16_t type, const Bytes& data)
{
    Bytes r(8, 0);
    store_be16(&r[4], type);
    store_be16(&r[6], static_cast<uint16_t>(data.size()));
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

Bytes be16s(std::initializer_list<int> values)
{
    Bytes out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

std::string title(const dm_report_row& row, int second = 0)
{
    char text[256];
    std::snprintf(text, sizeof text, row.title, static_cast<int>(DEV) - 1, second);
    return text;
}

// Every row prints the common shape with its own title, on data of any
// length; the addresses print their title per address.
TEST_F(DmReports, EveryRowPrintsItsTitleInTheCommonShape)
{
    for (const bool extended : {false, true}) {
        for (const dm_report_row& row : extended ? dm_ext_reports() : dm_basic_reports()) {
            for (const size_t len : {size_t{0}, size_t{16}, size_t{120}}) {
                const Bytes data(len, 0x01);
                extended ? print_dm_ext_msg(DEV, ext(row.id, data)) : print_dm_msg(DEV, basic(row.id, data));
                const std::string out = printed();
                const std::string head = "\n[T]\n" + title(row, len ? 1 : 0);
                EXPECT_EQ(head, out.substr(0, head.size())) << row.id << " len " << len;
                EXPECT_TRUE(out.ends_with("\n")) << row.id;
            }
        }
    }
}

TEST_F(DmReports, PrintersShowTheirValuesAsTheModemMeantThem)
{
    struct Case {
        uint16_t type;  // extended type, or a basic id when `basic_id`
        Bytes data;
        std::string body;  // after the title, before the closing "\n"
        bool basic_id = false;
    };
    const Case cases[] = {
        {73, be16s({-150}), "RSRP : NV\n"},
        {73, be16s({-149}), "RSRP : -149\n"},
        {77, be16s({331}), "TX Power : NV\n"},
        {77, be16s({-549}), "TX Power : -54.9(dBm)\n"},
        {74, be16s({-21}), "RSRQ : -10.0\n"},
        {74, be16s({-60}), "RSRQ : NV\n"},
        {79, {5}, "Paging Cycle : NV\n"},
        {79, {2}, "Paging Cycle : 1.28Sec\n"},
        {69, {0, 0, 0, 3}, "BandWidth : 10MHz\n"},
        {71, {0xFF, 0xFF}, "TAC : NV, NV\n"},
        {71, {0x12, 0x34}, "TAC : 0x12, 0x34\n"},
        {65, be16s({301}), "Physical CELL ID : 301\n"},
        {65, {0xFF, 0xFF}, "Physical CELL ID : NV\n"},
        {66, {255}, "Band : NV\n"},
        {87, {254}, "Path loss : 254\n"},
        {87, {255}, "Path loss : NV\n"},
        // Open layouts: every byte in order, 16-bit counters and texts as such.
        {181, {0, 0, 1, 2, 0, 3, 4}, "Value[0] : 258\nValue[1] : 3\nValue[2] : 4\n"},
        {114, {1}, "Status : Roaming\n"},
        {11, be16s({7, 8, 9}), "Value[0] : 7\nValue[1] : 8\nValue[2] : 9\n", true},
        {5, be16s({231, -12, 1000}), "PUSCH : 23.1 dBm\nPUCCH : -1.2 dBm\nPRACH : N/A\n", true},
        {19, {'0', '0', '1', 0, 0, 'x', 'y'}, "Value[0] : 001\nValue[1] : xy\n", true},
        {239, be16s({7}), "NR Serving PCI: 7\n"},
        {30, be16s({1000}), "PUSCH : N/A\n"},
        {30, be16s({123}), "PUSCH : 12.3 dBm\n"},
        {27, {0, 0, 0, 5, 0, 0, 0, 6}, "Initial Transmission : 5(ANT.1)  6(ANT.2)\n"},
        {37, be16s({-981, -1002}), "RSRP rx0 : -98.1(dBm)\nRSRP rx1 : -100.2(dBm)\n"},
        {97, {}, "Number of NEIGHBOR CELL : 0\n"},
        {97, {3, 255}, "Number of NEIGHBOR CELL : 2\nNEIGHBOR CELL[0]\nGroup : 3\n\nNEIGHBOR CELL[1]\nGroup : NV\n\n"},
        {107, be16s({-21}), "Number of NEIGHBOR CELL : 1\nNEIGHBOR CELL[0]\nRSRQ :  -10.0\n\n"},
        {42, {0xFF, 0xFF, 0xFF, 0xFB, 0, 0, 0, 7}, "\tCELL_0: -5\n\tCELL_1: 7\n}"},
        {44, be16s({-21, 10}), "\tCELL_0: -10.5/5.0\n}"},
        {46, be16s({-21, 10}), "\tCELL_0: -10.5/5.0\n"},
        {120, {10, 0, 0, 1, 10, 0, 0, 2}, ""},  // see below: a title per address
        {120, {10, 0, 0, 1, 10}, "IPv4 Address 5] Error or No Data\n"},
        {251, be16s({-90}), "\tNR Neighbor CELL_0 RSRP : -90dBm\n"},
        {16, {4}, "Status : Connected\n", true},
        {16, {9}, "Status : Unknown(9)\n", true},
        {17, {1}, "Status : Roaming\n", true},
    };
    for (const Case& c : cases) {
        c.basic_id ? print_dm_msg(DEV, basic(c.type, c.data)) : print_dm_ext_msg(DEV, ext(c.type, c.data));
        const auto rows = c.basic_id ? dm_basic_reports() : dm_ext_reports();
        const dm_report_row& row = *std::find_if(rows.begin(), rows.end(), [&](auto& r) { return r.id == c.type; });
        std::string expect = "\n[T]\n" + title(row) + c.body + "\n";
        if (c.type == 120 && c.data.size() == 8)
            expect = "\n[T]\n" + title(row) + "IPv4 Address : 0x0a 0x00 0x00 0x01 \n" + title(row) +
                     "IPv4 Address : 0x0a 0x00 0x00 0x02 \n\n";
        EXPECT_EQ(expect, printed()) << c.type;
    }

    // The PDN titles and the cell-count titles take their second number from
    // the data's first byte.
    print_dm_ext_msg(DEV, ext(117, {3, 1}));
    EXPECT_EQ("\n[T]\nNetwork PDN Information(Device Name : lte0pdn3)\nPDN Type : 1\n\n", printed());
    print_dm_ext_msg(DEV, ext(117, {3, 255}));
    EXPECT_EQ("\n[T]\nNetwork PDN Information(Device Name : lte0pdn3)\nPDN Type : NV\n\n", printed());
    print_dm_ext_msg(DEV, ext(156, {2, 0, 0, 0, 9, 1}));
    EXPECT_EQ("\n[T]\nSCELL Downlink MCS(Device Name : lte0, Num of cell : 2)\nValue[0] : 9\nValue[1] : 1\n\n",
              printed());

    Bytes mcs;
    for (int n = 0; n < 32; ++n)
        for (const uint8_t b : be16s({n}))
            mcs.push_back(b);
    print_dm_msg(DEV, basic(2, mcs));
    EXPECT_EQ("\n[T]\nNumber of frames for each Downlink MCS(Device Name : lte0)\nCW0 MCS\n"
              "QPSK(MCS 0 ~ 9)\n0 1 2 3 4 5 6 7 8 9 \n16QAM(MCS 10 ~ 16)\n10 11 12 13 14 15 16 \n"
              "64QAM(MCS 17 ~ 28)\n17 18 19 20 21 22 23 24 25 26 27 28 \nRetransmission(MCS 29 ~ 31)\n29 30 31 \n\n",
              printed());

    // The extended CQI report prints the CQI statistics of id 0: mode 1-2's
    // first counters are words 0 and 144.
    Bytes cqi(576, 0);
    store_be16(&cqi[0], 7);
    store_be16(&cqi[2 * 144], 8);
    print_dm_ext_msg(DEV, ext(23, cqi));
    const std::string stats = printed();
    EXPECT_NE(std::string::npos, stats.find("Aperiodic\nmode 1-2\n(0)7,8 (1)0,0 ")) << stats;
    EXPECT_NE(std::string::npos, stats.find("Periodic\nmode 1-0\n")) << stats;
    EXPECT_NE(std::string::npos, stats.find("mode 2-1\n")) << stats;
}

TEST_F(DmReports, IdsWithoutPrinterPrintNothing)
{
    print_dm_msg(DEV, basic(10, Bytes(8, 0)));
    print_dm_msg(DEV, basic(23, Bytes(8, 0)));
    for (const uint16_t type : {22, 139, 140, 168, 235, 254, 999})
        print_dm_ext_msg(DEV, ext(type, Bytes(8, 0)));
    EXPECT_EQ("", printed());
}

}  // namespace
}  // namespace cnxd
