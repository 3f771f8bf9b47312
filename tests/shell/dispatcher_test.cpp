// The tokeniser, the dispatcher's rules (what it takes, what it leaves to the
// modem, the device guards), help's list and the debug switches, through
// do_cmd as every entry point calls it.
#include <map>
#include <numeric>
#include <sstream>

#include "nv.h"
#include "server/hci.h"
#include "shell/cmd_table.h"
#include "shell/dispatcher.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

std::vector<std::string> tokens(std::string line)
{
    int argc = -1;
    char* argv[CMD_MAX_ARGS + 1] = {};
    get_token_arg(line.data(), &argc, argv);
    return {argv, argv + argc};
}

std::string words(int n)
{
    std::string line = "cnxdf";
    for (int i = 1; i < n; ++i)
        line += " " + std::to_string(i);
    return line;
}

TEST(Tokeniser, SpacesSeparateAndTheFirstNewlineEnds)
{
    EXPECT_EQ((std::vector<std::string>{"gdi", "1"}), tokens("gdi   1\nignored"));
    EXPECT_EQ((std::vector<std::string>{"a\tb", "c"}), tokens(" a\tb c "));  // tabs are no separators
    EXPECT_TRUE(tokens("\n").empty());
    EXPECT_EQ(31u, tokens(words(31)).size());
    EXPECT_TRUE(tokens(words(32)).empty()) << "a line of 32 tokens counts as empty";
}

class Dispatcher : public ShellTest {
protected:
    ~Dispatcher() override { cnxd_flags = cnxd_api_flags = lte_sdk_flags = 0; }

    static std::string joined(const Lines& texts)
    {
        std::string all;
        for (const std::string& t : texts)
            all += t;
        return all;
    }
    // The bold red block of a refusal, `times` times.
    static void expect_refusals(const Lines& out, const std::string& text, long times)
    {
        const Lines block = {"\033[1m", "\033[31m", text, "\033[0m"};
        EXPECT_NE(std::ranges::search(out, block).begin(), out.end()) << text;
        EXPECT_EQ(times, std::ranges::count(out, text)) << text;
    }
};

// 1: taken here; 0: the caller sends the line on to the modem.
TEST_F(Dispatcher, WhatIsTakenAndWhatItPrints)
{
    const std::string bad_index = named("do_cmd", "Invaild Device Index(1~127)");
    const struct {
        std::string line;
        int taken;
        std::string printed;
    } cases[] = {
        {"", 0, ""},
        {"\n", 0, ""},
        {"hello 1", 0, ""},
        {"CNXDF 0x9", 0, ""},  // words are case-sensitive
        {"at", 0, ""},
        {"gdi 1", 1, "CM version : 3.7.16.1\n"},
        {"shell 1", 0, ""},
        {words(32), 0, ""},  // a 32-token line runs nothing
        {"cnxdf 0x10", 1, "cnxd_flags=0x00000010\n"},
        {"laf 010", 1, "cnxd_api_flags=0x00000008\n"},
        {"lsf 0x20", 1, "lte_sdk_flags=0x00000020\n"},
        {"lsf", 1, "lte_sdk_flags=0x00000020\n"},  // without a value it only prints
        {"cnxdst 0", 1, "cnxdst=0x00000000\n"},
        {"cnxdf 200", 1, bad_index},
        {"cnxdf -1", 1, bad_index},
        {"gdi 200", 1, bad_index},
        {"x 200", 1, bad_index},  // a sub-command word that reads as a number is a device index
        {"host_dump 200", 1, ""},   // an address, not a device
    };
    logs();
    calls();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.taken, dispatch(c.line));
        const Lines out = logs();
        EXPECT_TRUE(c.printed.empty() || has(out, c.printed));
    }
    EXPECT_EQ(0x10u, cnxd_flags);
    EXPECT_EQ(8u, cnxd_api_flags);
    EXPECT_EQ(0x20u, lte_sdk_flags);
    EXPECT_STREQ("200", g_host_dump_ip);
    EXPECT_TRUE(texts_of(calls(), "LAPI_SendDMCommand").empty()) << "do_cmd itself forwards nothing";
}

TEST_F(Dispatcher, EmergencyAndDownloadingDevicesRefuseCommands)
{
    g_emergency[1] = EMERGENCY_MODE;
    logs();
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    EXPECT_EQ(1, dispatch("pls 1"));
    for (const char* line : {"gdi 1", "reset 1", "download 1", "help 1"})
        dispatch(line);  // exempt: none of them is refused
    EXPECT_EQ(1, dispatch("cnxdf 2"));
    EXPECT_EQ(2u, cnxd_flags) << "only device 2 ran";
    Lines out = logs();
    expect_refusals(out, "Device is Emergency Mode\n", 2);
    EXPECT_NE(std::string::npos, joined(out).find(cmd_group_heading.back())) << "help ran";

    g_emergency[1] = 0;
    downloading_set(1, 1);
    downloading_set(1, 500);  // outside the table: ignored
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    dispatch("gdi 1");
    EXPECT_EQ(0, dispatch("help 1"));
    EXPECT_EQ(2u, cnxd_flags);
    out = logs();
    expect_refusals(out, "Now Firmware Downloading dev 1. Please Do Not Insert Command\n", 3);
    EXPECT_EQ(std::string::npos, joined(out).find(cmd_group_heading.front())) << "help did not run";
    downloading_set(0, 1);
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    EXPECT_EQ(1u, cnxd_flags);
}

TEST_F(Dispatcher, HelpListsEveryGroupInOrderAndEveryCommandOnceUnderItsGroup)
{
    logs();
    EXPECT_EQ(0, dispatch("help")) << "help also goes on to the modem";
    const Lines texts = logs();
    for (const std::string& t : texts)
        EXPECT_LE(t.size(), HCI_LOG_MAX_TEXT) << "each text fits one log frame";
    const std::string all = joined(texts);
    EXPECT_TRUE(all.ends_with("\n"));

    std::vector<size_t> order;                              // the groups as printed
    std::map<std::string, std::vector<size_t>> groups_of;  // a command word: the groups listing it
    size_t lines = 0;
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) {
        const auto h = std::ranges::find(cmd_group_heading, "\n" + line + "\n");
        if (h != cmd_group_heading.end()) {
            order.push_back(static_cast<size_t>(h - cmd_group_heading.begin()));
        } else if (line.find("\t\t") != std::string::npos) {  // "at \t\tAttach"
            groups_of[line.substr(0, line.find_first_of(" \t"))].push_back(order.empty() ? 99 : order.back());
            ++lines;
        }
    }
    std::vector<size_t> every(cmd_group_heading.size());
    std::iota(every.begin(), every.end(), 0);
    EXPECT_EQ(every, order) << "every group once, in order";
    for (const cmd_entry& e : cmd_tbl)
        EXPECT_EQ(std::vector<size_t>{static_cast<size_t>(e.group)}, groups_of[e.word]) << e.word;
    EXPECT_EQ(cmd_tbl.size() + 2, lines) << "the table's commands and the two the modem serves, nothing else";
    for (const std::string line : {"pls\t\tPLMN Search\n", "at \t\tAttach\n", "cinfo\t\tGet Connection Information\n",
                                   "shell\t\tUsing Shell Prompt\n", "exit\t\tCM terminate\n"})
        EXPECT_NE(std::string::npos, all.find("\n" + line)) << line;
    const size_t etc = static_cast<size_t>(cmd_group::etc);
    EXPECT_EQ(std::vector<size_t>{etc}, groups_of["shell"]);
    EXPECT_EQ(std::vector<size_t>{etc}, groups_of["exit"]);
    EXPECT_EQ(nullptr, cmd_find("exit")) << "exit stays the modem's";
    EXPECT_EQ(nullptr, cmd_find("shell"));
}

TEST_F(Dispatcher, SysResetRunsEveryTimeAndIsForwardedAfterAnotherSysLine)
{
    platform_calls();
    EXPECT_EQ(1, dispatch("sys reset@@"));
    EXPECT_EQ(0, dispatch("sys status"));
    EXPECT_EQ(0, dispatch("sys reset@@")) << "from now on sys lines also reach the modem";
    EXPECT_EQ("kern modem reset 0\nkern modem reset 0\n", platform_calls());
}

TEST_F(Dispatcher, MarkerFilesFollowTheirSwitches)
{
    const char* common = "/var/tmp/commonlogcfg";
    const char* socksim = "/var/tmp/socketsimtest";
    dispatch("cnxdcommf 1");
    EXPECT_EQ(std::string("1\n\0", 3), root_.read(common));
    dispatch("cnxdcommf 7");
    dispatch("cnxdcommf");
    EXPECT_EQ(std::string("1\n\0", 3), root_.read(common)) << "other values change nothing";
    dispatch("cnxdcommf 0");
    EXPECT_EQ("", root_.read(common));

    dispatch("socksim 5");
    EXPECT_EQ(std::string("5\n\0", 3), root_.read(socksim));
    dispatch("socksim 100");
    EXPECT_EQ("100", root_.read(socksim)) << "the first three bytes of \"100\\n\"";
    dispatch("socksim 0");
    EXPECT_EQ("", root_.read(socksim));
    dispatch("socksim");
    const Lines out = logs();
    for (const char* text : {"cnxd_common_flag=0x00000001\n", "cnxd_common_flag=0xffffffff\n", "sock_sim=100\n",
                             "sock_sim=-1\n"})
        EXPECT_TRUE(has(out, text)) << text;
}

TEST_F(Dispatcher, Arm1LogSetsTheDirectionOrPrintsTheUsage)
{
    const auto buffering = [](char on) {
        return Lines{"LAPI_SendDMCommand dev=1 " + hex_of(std::string("ipc con always_buff ") + on)};
    };
    const struct {
        uint32_t direction;
        Lines dm_commands;
        std::string platform;
    } cases[] = {{ARM1_LOG_CLIENTS, buffering('1'), "kern hlif -c\n"},
                 {ARM1_LOG_UART, buffering('0'), "kern hlif -c\nkern hlif c\n"},  // first as direction 0
                 {ARM1_LOG_OFF, {}, "kern hlif -c\n"},
                 {ARM1_LOG_FILE, buffering('1'), "kern hlif -c\n"},
                 {7, {}, ""}};  // out of arm1log's range: only remembered
    calls();
    platform_calls();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.direction);
        const uint32_t qlog_before = g_is_qlog_to_pc;
        if (c.direction <= ARM1_LOG_SPECIFIC_ONLY) {
            EXPECT_EQ(1, dispatch("arm1log " + std::to_string(c.direction)));
            EXPECT_EQ(c.direction >= ARM1_LOG_CLIENTS ? 1u : 0u, g_is_qlog_to_pc.load());
        } else {
            set_arm1_log_direction(c.direction);
            EXPECT_EQ(qlog_before, g_is_qlog_to_pc.load());
        }
        EXPECT_EQ(c.direction, get_arm1_log_direction());
        EXPECT_EQ(c.dm_commands, calls());
        EXPECT_EQ(c.platform, platform_calls());
    }

    EXPECT_EQ(1, dispatch("arm1log 4"));
    ASSERT_EQ(1, ind_set_arm1_log_specific_id(std::array<uint8_t, 5>{1, 0, 0, 0x12, 0x34}));
    logs();
    EXPECT_EQ(1, dispatch("arm1log x"));
    const Lines out = logs();
    EXPECT_EQ(4u, get_arm1_log_direction());
    for (const char* text : {"-------ARM1 Log Direction Control Usage-------\n", "\t2 : Through cnxd_cli\n",
                             "\t4 : SPECIFIC ID\n", "Current direction: 4\n", "\t\t list : 0x00001234 \n"})
        EXPECT_TRUE(has(out, text)) << text;
    ind_set_arm1_log_specific_id(std::array<uint8_t, 5>{0, 0, 0, 0x12, 0x34});
    sdk_set_log_type(SDK_LOG_TYPE_FILE, "cnxd");
}

TEST_F(Dispatcher, PlatformHooks)
{
    dispatch("confdb set config wan lte ims ENABLE 1");
    EXPECT_NE(std::string::npos, root_.read("/etc/confdb.ini").find("[config wan lte ims]\nENABLE=1"));

    const uint8_t byte = 1;
    dispatch("dm_dis");
    EXPECT_EQ(-1, nv_write(1, &byte, 0, 1));
    dispatch("dm_en");
    EXPECT_EQ(1, nv_write(1, &byte, 0, 1));
    dispatch("crash");
    const Lines out = logs();
    for (const char* text : {"CMD DM_DIS\n", "CMD DM_EN\n", "usage: crash show\n"})
        EXPECT_TRUE(has(out, text)) << text;
}

}  // namespace
}  // namespace cnxd::test
