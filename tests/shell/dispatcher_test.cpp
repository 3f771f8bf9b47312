// The tokeniser, the dispatcher's rules (what it takes, what it leaves to the
// modem, the device guards) and the debug switches, through do_cmd as every
// entry point calls it.
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "nv.h"
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

TEST(CommandTable, SpecialIdsBelongToTheirWords)
{
    for (const auto& [word, id] : {std::pair{"gdi", CMD_ID_GDI}, {"reset", CMD_ID_RESET}, {"at", CMD_ID_AT},
                                   {"download", CMD_ID_DOWNLOAD}, {"help", CMD_ID_HELP}, {"sys", CMD_ID_SYS},
                                   {"host_dump", CMD_ID_HOST_DUMP}}) {
        ASSERT_NE(nullptr, cmd_find(word)) << word;
        EXPECT_EQ(id, cmd_find(word)->id) << word;
    }
    EXPECT_EQ(nullptr, cmd_find("GDI")) << "words are case-sensitive";
    EXPECT_EQ(nullptr, cmd_find("shell")) << "help names it, but the modem serves it";
}

class Dispatcher : public ShellTest {
protected:
    ~Dispatcher() override { cnxd_flags = cnxd_api_flags = lte_sdk_flags = 0; }

    // The bold red block of a refusal.
    static Lines red(const std::string& text) { return {"\033[1m", "\033[31m", text, "\033[0m"}; }
    static bool has_block(const Lines& logs, const Lines& block)
    {
        return std::ranges::search(logs, block).begin() != logs.end();
    }
};

TEST_F(Dispatcher, LinesTheTableDoesNotTakeGoBackToTheCaller)
{
    for (const char* line : {"", "\n", "hello 1", "at", "help", "help 1", "gdi 1"})
        EXPECT_EQ(0, dispatch(line)) << line;
    EXPECT_EQ(0, dispatch(words(32)));
    EXPECT_EQ(0u, cnxd_flags) << "a 32-token line runs nothing";

    EXPECT_EQ(1, dispatch("cnxdf 0x10"));
    EXPECT_EQ(0x10u, cnxd_flags);
    EXPECT_TRUE(has(logs(), "cnxd_flags=0x00000010\n"));
    EXPECT_TRUE(texts_of(calls(), "LAPI_SendDMCommand").empty()) << "do_cmd itself forwards nothing";
}

TEST_F(Dispatcher, DeviceIndexOutOfRangeIsRefused)
{
    logs();
    EXPECT_EQ(1, dispatch("cnxdf 200"));
    EXPECT_EQ(1, dispatch("cnxdf -1"));
    EXPECT_EQ(0u, cnxd_flags);
    const Lines out = logs();
    EXPECT_EQ(2, std::ranges::count(out, named("do_cmd", "Invaild Device Index(1~127)")));
    EXPECT_EQ(0, dispatch("gdi 200")) << "a word without a handler still goes on to the modem";
    EXPECT_EQ(1, dispatch("host_dump 200")) << "host_dump takes an address, not a device";
    EXPECT_STREQ("200", g_host_dump_ip);
}

TEST_F(Dispatcher, EmergencyModeLeavesOnlyTheExemptCommands)
{
    g_emergency[1] = EMERGENCY_MODE;
    logs();
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    EXPECT_EQ(1, dispatch("pls 1"));
    EXPECT_EQ(0u, cnxd_flags);
    const Lines out = logs();
    EXPECT_EQ(2, std::ranges::count(out, "Device is Emergency Mode\n"));
    EXPECT_TRUE(has_block(out, red("Device is Emergency Mode\n")));
    for (const char* line : {"gdi 1", "reset 1", "download 1", "help 1"})
        EXPECT_EQ(0, dispatch(line)) << line << " is exempt and goes on";
    EXPECT_EQ(1, dispatch("cnxdf 2"));
    EXPECT_EQ(2u, cnxd_flags) << "other devices are not affected";
}

TEST_F(Dispatcher, ADownloadingDeviceRefusesEveryCommandNamingIt)
{
    downloading_set(1, 1);
    downloading_set(1, 500);  // outside the table: ignored
    logs();
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    EXPECT_EQ(0u, cnxd_flags);
    EXPECT_EQ(0, dispatch("gdi 1")) << "refused here; the line still goes on, as for any word without a handler";
    const Lines out = logs();
    EXPECT_TRUE(has_block(out, red("Now Firmware Downloading dev 1. Please Do Not Insert Command\n")));
    EXPECT_EQ(2, std::ranges::count(out, "Now Firmware Downloading dev 1. Please Do Not Insert Command\n"));
    downloading_set(0, 1);
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    EXPECT_EQ(1u, cnxd_flags);
}

TEST_F(Dispatcher, SysResetRunsEveryTimeAndIsForwardedAfterAnotherSysLine)
{
    platform_calls();
    EXPECT_EQ(1, dispatch("sys reset@@"));
    EXPECT_EQ(0, dispatch("sys status"));
    EXPECT_EQ(0, dispatch("sys reset@@")) << "from now on sys lines also reach the modem";
    EXPECT_EQ("kern modem reset 0\nkern modem reset 0\n", platform_calls());
}

TEST_F(Dispatcher, FlagWordsReadDecimalOctalAndHex)
{
    EXPECT_EQ(1, dispatch("laf 010"));
    EXPECT_EQ(1, dispatch("lsf 0x20"));
    EXPECT_EQ(1, dispatch("cnxdst 0"));
    EXPECT_EQ(1, dispatch("lsf"));
    EXPECT_EQ(8u, cnxd_api_flags);
    EXPECT_EQ(0x20u, lte_sdk_flags);
    const Lines out = logs();
    for (const char* text : {"cnxd_api_flags=0x00000008\n", "lte_sdk_flags=0x00000020\n", "cnxdst=0x00000000\n"})
        EXPECT_TRUE(has(out, text)) << text;
    EXPECT_EQ(2, std::ranges::count(out, "lte_sdk_flags=0x00000020\n")) << "without a value it only prints";
}

TEST_F(Dispatcher, MarkerFilesFollowTheirSwitches)
{
    const auto read = [&](const char* target) {
        std::ifstream in(root_.path(target), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return in ? std::optional(ss.str()) : std::nullopt;
    };
    dispatch("cnxdcommf 1");
    EXPECT_EQ(std::string("1\n\0", 3), read("/var/tmp/commonlogcfg"));
    dispatch("cnxdcommf 7");
    dispatch("cnxdcommf");
    EXPECT_TRUE(read("/var/tmp/commonlogcfg")) << "other values change nothing";
    dispatch("cnxdcommf 0");
    EXPECT_FALSE(read("/var/tmp/commonlogcfg"));

    dispatch("socksim 5");
    EXPECT_EQ(std::string("5\n\0", 3), read("/var/tmp/socketsimtest"));
    dispatch("socksim 100");
    EXPECT_EQ("100", read("/var/tmp/socketsimtest")) << "the first three bytes of \"100\\n\"";
    dispatch("socksim 0");
    EXPECT_FALSE(read("/var/tmp/socketsimtest"));
    dispatch("socksim");
    const Lines out = logs();
    for (const char* text : {"cnxd_common_flag=0x00000001\n", "cnxd_common_flag=0xffffffff\n", "sock_sim=100\n",
                             "sock_sim=-1\n"})
        EXPECT_TRUE(has(out, text)) << text;
}

TEST_F(Dispatcher, Arm1LogSetsTheDirectionOrPrintsTheUsage)
{
    platform_calls();
    EXPECT_EQ(1, dispatch("arm1log 0"));
    EXPECT_EQ(0u, get_arm1_log_direction());
    EXPECT_EQ("kern hlif -c\n", platform_calls());
    EXPECT_EQ(1, dispatch("arm1log 4"));
    EXPECT_EQ(4u, get_arm1_log_direction());
    const std::array<uint8_t, 5> add = {1, 0x00, 0x00, 0x12, 0x34};
    ASSERT_EQ(1, ind_set_arm1_log_specific_id(add));
    logs();
    EXPECT_EQ(1, dispatch("arm1log x"));
    const Lines out = logs();
    EXPECT_EQ(4u, get_arm1_log_direction());
    for (const char* text : {"-------ARM1 Log Direction Control Usage-------\n", "\t2 : Through cnxd_cli\n",
                             "\t4 : SPECIFIC ID\n", "Current direction: 4\n", "\t\t list : 0x00001234 \n"})
        EXPECT_TRUE(has(out, text)) << text;
    const std::array<uint8_t, 5> remove = {0, 0x00, 0x00, 0x12, 0x34};
    ind_set_arm1_log_specific_id(remove);
}

TEST_F(Dispatcher, PlatformHooks)
{
    dispatch("confdb set config wan lte ims ENABLE 1");
    std::ifstream store(root_.path("/etc/confdb.ini"));
    std::stringstream text;
    text << store.rdbuf();
    EXPECT_NE(std::string::npos, text.str().find("[config wan lte ims]\nENABLE=1")) << text.str();

    const uint8_t byte = 1;
    dispatch("dm_dis");
    EXPECT_EQ(-1, nv_write(1, &byte, 0, 1));
    dispatch("dm_en");
    EXPECT_EQ(1, nv_write(1, &byte, 0, 1));
    const Lines dm = logs();
    EXPECT_TRUE(has(dm, "CMD DM_DIS\n"));
    EXPECT_TRUE(has(dm, "CMD DM_EN\n"));

    nv_set_log_mask(2);
    nv_write(2, &byte, 4, 1);
    nv_set_log_mask(0);
    dispatch("crash show");
    dispatch("crash");
    const Lines out = logs();
    EXPECT_TRUE(has(out, "write item 2 offset 4 len 1: 1\n"));
    EXPECT_TRUE(has(out, "usage: crash show\n"));
}

TEST_F(Dispatcher, ClientCommandLinesRunHereOrReachTheModem)
{
    Session s = open_session(0);
    const std::string mine = "cnxdf 0x44";
    ASSERT_EQ(CNXD_OK, cnxd_send_command(s.get(), mine.data(), mine.size()));
    EXPECT_TRUE(logged("cnxd_flags=0x00000044\n"));
    const std::string theirs = "gdi 1";
    ASSERT_EQ(CNXD_OK, cnxd_send_command(s.get(), theirs.data(), theirs.size()));
    Lines sent;
    EXPECT_TRUE(eventually([&] { return !(sent = texts_of(calls(), "LAPI_SendDMCommand")).empty(); }));
    EXPECT_EQ((Lines{hex_of("gdi 1")}), sent) << "the untouched line, with the frame's length";
}

}  // namespace
}  // namespace cnxd::test
