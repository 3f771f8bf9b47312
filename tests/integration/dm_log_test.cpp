// DM reports end to end: the modem's DM answers (injected into the
// simulator, or asked for through the API) as they land in the sysroot's
// dm.log, time stamps shown as "[T]".
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

const std::string DM_LOG = "/var/lte/dm_log/dm.log";
const std::regex STAMP(R"(\[\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d):(\d{3})\]\n)");

// Big-endian 16-bit words.
Bytes be16s(std::initializer_list<int> values)
{
    Bytes out;
    for (int v : values)
        out.insert(out.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    return out;
}
// A DM answer with result 0: "89" (id at 2), or "90" (type at 4, length at 6).
std::string dm_answer(int callback, int id, const Bytes& data)
{
    Bytes r = callback == 89 ? be16s({0, id}) : be16s({0, 0, id, static_cast<int>(data.size())});
    r.insert(r.end(), data.begin(), data.end());
    return "inject " + std::to_string(callback) + " 1 " + hex(r);
}

// Lines of 100 bytes: line k starts at byte 100 k.
std::string lines(int from, int to)
{
    std::string out;
    for (int k = from; k < to; ++k)
        out += "line " + std::to_string(1000 + k) + std::string(89, '.') + "\n";
    return out;
}

const std::string SCS = "SERVICE CELL STATUS Reporting(Device Name : lte0)\n";
const std::string NCS = "NEIGHBOR CELL STATUS Reporting(Device Name : lte0)\n";
const std::string PDN = "Network PDN Information(Device Name : lte0)\n";
const Bytes MCS = be16s({0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                          16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31});
// CQI counters: words 0 and 144 (mode 1-2), 16 (mode 2-0), 80 and 224
// (periodic mode 1-0).
const Bytes CQI = [] {
    Bytes b(576, 0);
    for (auto [word, value] : {std::pair{0, 7}, {144, 8}, {16, 9}, {80, 5}, {224, 6}})
        b[2 * word + 1] = static_cast<uint8_t>(value);
    return b;
}();

const struct {
    int callback, id;
    Bytes data;
    std::string printed;  // the whole report, or the part it must hold when `part`
    bool part = false;
} REPORTS[] = {
    {90, 73, be16s({-150}), SCS + "RSRP : NV\n"},
    {90, 73, be16s({-149}), SCS + "RSRP : -149\n"},
    {90, 77, be16s({331}), SCS + "TX Power : NV\n"},
    {90, 77, be16s({-549}), SCS + "TX Power : -54.9(dBm)\n"},
    {90, 74, be16s({-21}), SCS + "RSRQ : -10.0\n"},
    {90, 74, be16s({-60}), SCS + "RSRQ : NV\n"},
    {90, 74, be16s({-59}), SCS + "RSRQ : -29.0\n"},
    {90, 74, {0xFF}, SCS},
    {90, 79, {5}, SCS + "Paging Cycle : NV\n"},
    {90, 79, {2}, SCS + "Paging Cycle : 1.28Sec\n"},
    {90, 69, {0, 0, 0, 3}, SCS + "BandWidth : 10MHz\n"},
    {90, 71, {0xFF, 0xFF}, SCS + "TAC : NV, NV\n"},
    {90, 71, {0x12, 0x34}, SCS + "TAC : 0x12, 0x34\n"},
    {90, 71, {0x12}, SCS},
    {90, 65, be16s({301}), SCS + "Physical CELL ID : 301\n"},
    {90, 65, {0xFF, 0xFF}, SCS + "Physical CELL ID : NV\n"},
    {90, 66, {255}, SCS + "Band : NV\n"},
    {90, 87, {254}, SCS + "Path loss : 254\n"},
    {90, 87, {255}, SCS + "Path loss : NV\n"},
    {90, 65, {}, SCS},
    {90, 181, {0, 0, 1, 2, 0, 3, 4}, "C-RNTI(Device Name : lte0)\nValue[0] : 258\nValue[1] : 3\nValue[2] : 4\n"},
    {90, 114, {1}, "Roaming Status Information(Device Name : lte0)\nStatus : Roaming\n"},
    {90, 239, be16s({7}), "NR L3 RRC Serving Cell Info (Device Name : lte0)\nNR Serving PCI: 7\n"},
    {90, 30, be16s({1000}), "L1 TX Power (Device Name : lte0)\nPUSCH : N/A\n"},
    {90, 30, be16s({123}), "L1 TX Power (Device Name : lte0)\nPUSCH : 12.3 dBm\n"},
    {90, 27, {0, 0, 0, 5, 0, 0, 0, 6},
     "Statistics Related to HARQ (Device Name : lte0)\nInitial Transmission : 5(ANT.1)  6(ANT.2)\n"},
    {90, 37, be16s({-981, -1002}), "L1 RSRP (Device Name : lte0)\nRSRP rx0 : -98.1(dBm)\nRSRP rx1 : -100.2(dBm)\n"},
    {90, 97, {}, NCS + "Number of NEIGHBOR CELL : 0\n"},
    {90, 97, {3, 255}, NCS + "Number of NEIGHBOR CELL : 2\nNEIGHBOR CELL[0]\nGroup : 3\n\nNEIGHBOR CELL[1]\nGroup : NV\n\n"},
    {90, 107, be16s({-21}), NCS + "Number of NEIGHBOR CELL : 1\nNEIGHBOR CELL[0]\nRSRQ :  -10.0\n\n"},
    {90, 42, {0xFF, 0xFF, 0xFF, 0xFB, 0, 0, 0, 7}, "Neighbor Cell DL Frequency (kHz) {\n\tCELL_0: -5\n\tCELL_1: 7\n}"},
    {90, 44, be16s({-21, 10}), "Neighbor CINR (dB per antenna) {\n\tCELL_0: -10.5/5.0\n}"},
    {90, 46, be16s({-21, 10}), "L1 NEIGHBOR CELL RSSI Reporting (dBm per antenna)\n\tCELL_0: -10.5/5.0\n"},
    {90, 120, {10, 0, 0, 1, 10, 0, 0, 2},
     PDN + "IPv4 Address : 0x0a 0x00 0x00 0x01 \n" + PDN + "IPv4 Address : 0x0a 0x00 0x00 0x02 \n"},
    {90, 120, {10, 0, 0, 1, 10}, PDN + "IPv4 Address 5] Error or No Data\n"},
    {90, 251, be16s({-90}), "NR L3 RRC Neighbor Cell Info (Device Name : lte0)\n\tNR Neighbor CELL_0 RSRP : -90dBm\n"},
    {90, 117, {3, 1}, "Network PDN Information(Device Name : lte0pdn3)\nPDN Type : 1\n"},
    {90, 117, {3, 255}, "Network PDN Information(Device Name : lte0pdn3)\nPDN Type : NV\n"},
    {90, 156, {2, 0, 0, 0, 9, 1},
     "SCELL Downlink MCS(Device Name : lte0, Num of cell : 2)\nValue[0] : 9\nValue[1] : 1\n"},
    {90, 23, CQI, "Aperiodic\nmode 1-2\n(0)7,8 (1)0,0 ", true},
    {90, 23, CQI, "\nmode 2-0\n(0)9,0 (1)0,0 ", true},
    {90, 23, CQI, "\nPeriodic\nmode 1-0\n(0)5,6 (1)0,0 ", true},
    {90, 43, be16s({5, 300}), "Neighbor Physical Cell ID {\n\tCELL_0: 5\n\tCELL_1: 300\n}"},
    {90, 103, {0, 0, 1, 0, 7, 7, 7}, NCS + "Number of NEIGHBOR CELL : 1\nNEIGHBOR CELL[0]\nNAS CELL ID : 256(0x0100)\n\n"},
    {90, 135, {0x89, 0x01, 0xab}, "UE Information(Device Name : lte0)\nUICC ID : 8901ab\n"},
    {90, 91, {1, 0xab}, SCS + "SIB3 Cell Reselection Serving Freq Info\n0x01 0xab \n"},
    {90, 91, {}, SCS + "SIB3 Cell Reselection Serving Freq Info\n"},
    {90, 120, {}, PDN + "IPv4 Address 0] Error or No Data\n"},
    {90, 117, {}, "Network PDN Information(Device Name : lte0pdn0)\n"},
    {89, 11, be16s({7, 8, 9}), "Number of Handover Attempts (Device Name : lte0)\nValue[0] : 7\nValue[1] : 8\nValue[2] : 9\n"},
    {89, 5, be16s({231, -12, 1000}), "L1 TX Power (Device Name : lte0)\nPUSCH : 23.1 dBm\nPUCCH : -1.2 dBm\nPRACH : N/A\n"},
    {89, 19, {'0', '0', '1', 0, 0, 'x', 'y'}, "UE Information(Device Name : lte0)\nValue[0] : 001\nValue[1] : xy\n"},
    {89, 16, {6}, "UE Status Information(Device Name : lte0)\nStatus : Scanned\n"},
    {89, 16, {7}, "UE Status Information(Device Name : lte0)\nStatus : Unknown(7)\n"},
    {89, 16, {}, "UE Status Information(Device Name : lte0)\n"},
    {89, 17, {1, 1}, "Roaming Status Information(Device Name : lte0)\nStatus : Roaming\n"},
    {89, 2, MCS,
     "Number of frames for each Downlink MCS(Device Name : lte0)\nCW0 MCS\nQPSK(MCS 0 ~ 9)\n0 1 2 3 4 5 6 7 8 9 \n"
     "16QAM(MCS 10 ~ 16)\n10 11 12 13 14 15 16 \n64QAM(MCS 17 ~ 28)\n17 18 19 20 21 22 23 24 25 26 27 28 \n"
     "Retransmission(MCS 29 ~ 31)\n29 30 31 \n"},
};

// Answers printed nowhere: no printer (with the log line that says so), a
// result other than 0, the silent and reset types.
const struct {
    std::string inject;
    const char* logged;
} UNPRINTED[] = {
    {dm_answer(89, 10, Bytes(8, 0)), "Unknown DM Msg Type 10\n"},
    {dm_answer(90, 22, Bytes(8, 0)), "Unknown DM Ext Msg Type 22\n"},
    {dm_answer(90, 999, Bytes(8, 0)), "Unknown DM Ext Msg Type 999\n"},
    {dm_answer(90, 139, Bytes(8, 0)), "Ignore L3 RRC Statistics Reset select/all item. (139)\n"},
    {dm_answer(90, 140, Bytes(8, 0)), "Ignore L3 RRC Statistics Reset select/all item. (140)\n"},
    {dm_answer(90, 235, Bytes(8, 0)), nullptr},
    {"inject 89 1 00010005" + std::string(12, '0'), nullptr},
};

class DmLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start());
        sim = std::make_unique<LtesimClient>(root);
        ASSERT_TRUE(sim->wait_online());
    }
    // What dm.log holds once `inject` is through, time stamps as "[T]".
    std::string after(const std::string& inject)
    {
        EXPECT_EQ("ok", sim->command(inject));
        EXPECT_EQ("ok", sim->command("sync"));
        return std::regex_replace(root.read_file(DM_LOG), STAMP, "[T]\n");
    }

    Sysroot root;
    Daemon daemon{root};
    std::unique_ptr<LtesimClient> sim;
};

TEST_F(DmLog, EachReportPrintsItsValuesAsTheModemMeantThem)
{
    const LogTail log(root);
    for (const auto& r : REPORTS) {
        SCOPED_TRACE(std::to_string(r.callback) + "/" + std::to_string(r.id));
        root.write_file(DM_LOG, "");
        const std::string got = after(dm_answer(r.callback, r.id, r.data));
        if (r.part) {
            EXPECT_NE(std::string::npos, got.find(r.printed)) << got;
        } else {
            EXPECT_EQ("\n[T]\n" + r.printed + "\n", got);
        }
    }
    for (const auto& u : UNPRINTED) {
        SCOPED_TRACE(u.inject);
        root.write_file(DM_LOG, "");
        EXPECT_EQ("", after(u.inject));
        EXPECT_TRUE(!u.logged || log.wait_for(u.logged)) << u.logged;
    }
    // A full log keeps what follows the line break after its middle.
    for (const auto& [before, kept] : {std::pair{102, lines(0, 102)}, {103, lines(52, 103)}}) {
        root.write_file(DM_LOG, lines(0, before));
        EXPECT_EQ(kept + "\n[T]\n" + REPORTS[0].printed + "\n", after(dm_answer(90, 73, be16s({-150})))) << before;
        EXPECT_FALSE(root.exists(DM_LOG + ".tmp"));
    }
}

TEST_F(DmLog, ATimedDmReadGivesThatManyReportsASecondApart)
{
    RawClient client(root, "dm");
    ASSERT_TRUE(client.open());
    // Report 5 (TX power), started, every second, three times.
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(std::optional<int32_t>(0), client.api_request(181, 1, {0x00, 0x05, 0, 1, 3}));
    const std::string report = "L1 TX Power (Device Name : lte0)\nPUSCH : 0.0 dBm\nPUCCH : 0.1 dBm\nPRACH : 0.2 dBm\n";
    const auto reports = [&] {
        const std::string text = root.read_file(DM_LOG);
        return std::distance(std::sregex_iterator(text.begin(), text.end(), STAMP), std::sregex_iterator());
    };
    EXPECT_TRUE(eventually([&] { return reports() == 3; }, 10s)) << root.read_file(DM_LOG);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 1500ms) << "about a second apart";
    EXPECT_TRUE(std::regex_replace(root.read_file(DM_LOG), STAMP, "[T]\n").starts_with("\n[T]\n" + report + "\n"))
        << root.read_file(DM_LOG);
    EXPECT_EQ(std::optional<int>(0), daemon.stop(SIGTERM, 1s));
}

}  // namespace
}  // namespace cnxd::test
