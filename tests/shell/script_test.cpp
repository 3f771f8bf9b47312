// The script runners and the test job: which lines reach the modem and in
// what form, pauses and their bounds, the init script's whitespace rules.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/fd.h"
#include "base/shell.h"
#include "base/stop.h"
#include "nv.h"
#include "shell/auto_test.h"
#include "shell/script.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

using Clock = std::chrono::steady_clock;

class Scripts : public ShellTest {
protected:
    ~Scripts() override
    {
        auto_test_stop();
        unsetenv("TEST_CMD");
        cnxd_flags = 0;
    }

    void write(const std::string& target, const std::string& text)
    {
        std::filesystem::create_directories(std::filesystem::path(root_.path(target)).parent_path());
        std::ofstream(root_.path(target), std::ios::binary) << text;
    }

    // The texts sent to the modem's console since the last calls().
    Lines console() { return texts_of(calls(), "LAPI_SendDMCommand"); }

    // The number in the "  elapsed=%ums" line.
    static long elapsed_ms(const Lines& logs)
    {
        for (const std::string& l : logs)
            if (l.starts_with("  elapsed="))
                return std::atol(l.c_str() + 10);
        return -1;
    }
};

TEST_F(Scripts, DmCommandFileSendsWhatTheDaemonDoesNotTakeAndSaysWhatItDid)
{
    write("/var/tmp/cmds", "cnxdf 0x3\n   ver\r\n\n" + std::string(600, 'y') + std::string("\nab\0cd\nlast", 11));
    arm1_log_direction = ARM1_LOG_CLIENTS;
    logs();
    calls();
    platform_calls();
    EXPECT_EQ(0, run_dm_cmd_file("/var/tmp/cmds", 1000));
    EXPECT_EQ(3u, cnxd_flags);
    const Lines expected = {hex_of(std::string("ver\0", 4)), hex_of(std::string("\0", 1)),
                            hex_of(std::string(511, 'y') + '\0'), hex_of(std::string("ab\0", 3)),
                            hex_of(std::string("last\0", 5))};
    EXPECT_EQ(expected, console())
        << "each line once, cut at 511 characters or at a NUL, and no console buffering switch";
    EXPECT_EQ(ARM1_LOG_CLIENTS, get_arm1_log_direction()) << "restored after the file";
    EXPECT_EQ("", platform_calls()) << "the host log interface is left alone";
    sdk_log(6, "after the file\n");
    EXPECT_NE(std::string::npos, root_.read("/var/log/cnxd.log").find("after the file"))
        << "the daemon's log stays where it was sent";

    const Lines out = logs();
    for (const char* text : {"run_dm_cmd_file(/var/tmp/cmds) delay=1000us\n", "RUN=[ver]\n", "RUN=[]\n"})
        EXPECT_TRUE(has(out, text)) << text;
    EXPECT_FALSE(has(out, "RUN=[cnxdf 0x3]\n"));
    EXPECT_GE(elapsed_ms(out), 4) << "four pauses of a millisecond";

    arm1_log_direction = ARM1_LOG_OFF;
    EXPECT_EQ(1, dispatch("senddmfile"));
    EXPECT_EQ(1, dispatch("senddmfile /var/tmp/cmds 0x10"));
    EXPECT_EQ(1, dispatch("senddmfile /var/tmp/none"));
    EXPECT_EQ(-2, run_dm_cmd_file("/var/tmp/none", 0));
    const Lines cmd = logs();
    for (const char* text :
         {"no given file\n", "run_dm_cmd_file(/var/tmp/cmds) delay=16us\n", "not found '/var/tmp/none'\n"})
        EXPECT_TRUE(has(cmd, text)) << text;
    EXPECT_EQ(ARM1_LOG_OFF, get_arm1_log_direction());
}

// A FIFO kept open that sends a line and then nothing: the file never ends,
// and a stop request ends its run.
TEST_F(Scripts, DmCommandFileThatNeverEndsStopsAtAStopRequest)
{
    ASSERT_EQ(0, mkfifo(root_.path("/var/tmp/fifo").c_str(), 0600));
    const UniqueFd writer(open(root_.path("/var/tmp/fifo").c_str(), O_RDWR | O_CLOEXEC));  // never blocks
    ASSERT_TRUE(writer);
    ASSERT_EQ(4, ::write(writer.get(), "ver\n", 4));
    std::thread run([] { run_dm_cmd_file("/var/tmp/fifo", 0); });
    EXPECT_TRUE(eventually([&] { return has(console(), hex_of(std::string("ver\0", 4))); }));
    const auto start = Clock::now();
    cnxd_request_stop();
    run.join();
    cnxd_stop_clear();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(eventually([&] { return elapsed_ms(seen()) >= 0; })) << "the run ends as usual";
}

TEST_F(Scripts, ScriptDirectoryRunsTheRfScriptThenEveryFile)
{
    write("/etc/sysconfig/script/lte_scr/scr_config", "delay_us=5\ndelay_us=7\n");
    logs();
    run_lte_scr();
    EXPECT_TRUE(has(logs(), "run_lte_scr nr=0\n"));

    // This host has no model file: the RF script of the other models, whose
    // variant byte sits at offset 8 of item 1.
    const uint8_t variant = 3;
    ASSERT_EQ(1, nv_write(1, &variant, 8, 1));
    write("/etc/sysconfig/script/lte_scr/rf/mx_3", "rf line\n");
    write("/etc/sysconfig/script/lte_scr/a", "line a\n");
    write("/etc/sysconfig/script/lte_scr/b", "line b\n");
    calls();
    run_lte_scr();
    const Lines out = logs();
    EXPECT_TRUE(has(out, "lte rf scr: access(/etc/sysconfig/script/lte_scr/rf/mx_3)=0\n"));
    EXPECT_TRUE(has(out, "run_dm_cmd_file(/etc/sysconfig/script/lte_scr/rf/mx_3) delay=100us\n"));
    EXPECT_TRUE(has(out, "run_dm_cmd_file(/etc/sysconfig/script/lte_scr/a) delay=7us\n"));
    EXPECT_TRUE(has(out, "run_lte_scr nr=2\n")) << ::testing::PrintToString(out);
    const Lines sent = console();
    EXPECT_EQ(hex_of(std::string("rf line\0", 8)), sent.at(0)) << "the RF script first";
    EXPECT_TRUE(has(sent, hex_of(std::string("line a\0", 7))));
    EXPECT_TRUE(has(sent, hex_of(std::string("line b\0", 7))));
}

TEST_F(Scripts, InitScriptNormalisesWhitespaceAndSleeps)
{
    write(LTE_INIT_SCRIPT, "\n  shell \t   1\n\n\n# cnxdf 9\ncnxdf\t \t0x7\nsleep\n\t sleep   2\nlast");
    calls();
    const auto start = Clock::now();
    line_proc(LTE_INIT_SCRIPT);
    const auto took = Clock::now() - start;
    EXPECT_EQ((Lines{hex_of(std::string("shell 1\0", 8))}), console()) << "comments, blanks and the last line stay";
    EXPECT_EQ(7u, cnxd_flags);
    EXPECT_GE(took, std::chrono::milliseconds(2900)) << "sleep alone waits 1 second, sleep 2 two";

    logs();
    line_proc("/etc/none");
    EXPECT_TRUE(logs().empty()) << "a missing init script is skipped silently";
}

TEST(ScriptText, RfScriptPathsAndAtCommands)
{
    EXPECT_EQ("/etc/sysconfig/script/lte_scr/rf/mt_2", lte_rf_script_path('T', 2));
    EXPECT_EQ("/etc/sysconfig/script/lte_scr/rf/mu_255", lte_rf_script_path('U', 255));
    EXPECT_EQ("/etc/sysconfig/script/lte_scr/rf/mx_0", lte_rf_script_path('t', 0));
    EXPECT_EQ("/etc/sysconfig/script/lte_scr/rf/mx_1", lte_rf_script_path('\0', 1));
    for (const char* cmd : {"AT", "at+cfun?", "aT 2", "at  1"})
        EXPECT_TRUE(auto_test_is_at_command(cmd)) << cmd;
    for (const char* cmd : {"at 1", "at 12", "pls 1", "a", ""})
        EXPECT_FALSE(auto_test_is_at_command(cmd)) << cmd;
    EXPECT_EQ("at+cgdcont=1,\"IP\",\"my apn\"", auto_test_at_text("at + cgdcont = 1,\"IP\",\"my apn\"\r\n\033"));
}

TEST_F(Scripts, TestJobNeedsACommandAndRepeatsItUntilStopped)
{
    unsetenv("TEST_CMD");
    dispatch("test 1 1");
    setenv("TEST_CMD", "", 1);
    dispatch("test 1 1");
    dispatch("test");
    EXPECT_FALSE(auto_test_running());
    const Lines refused = logs();
    for (const char* text : {"envstring(TEST_CMD) is null\n", "envstring(TEST_CMD) length is 0\n",
                             "cmd>test cmd interval [command string]\n"})
        EXPECT_TRUE(has(refused, text)) << text;

    EXPECT_EQ(1, dispatch("test 1 1 cnxdf 0x21"));
    EXPECT_STREQ("", std::getenv("TEST_CMD")) << "the daemon's own environment is never written";
    EXPECT_EQ(0, cnxd_system("test \"$TEST_CMD\" = 'cnxdf 0x21'")) << "the programs it runs get it";
    EXPECT_TRUE(logged("cnxd_flags=0x00000021\n", 2)) << "it runs again";

    // Interval 0 runs back to back; a new start with the stored command
    // replaces the job; a stop takes the interval token too and ends the
    // wait between runs at once.
    dispatch("test 1 0");
    EXPECT_TRUE(logged("CM will execute [cnxdf 0x21] in every [0] seconds\n\n"));
    EXPECT_TRUE(logged("cnxd_flags=0x00000021\n", 6));
    dispatch("test 1 10");
    dispatch("test 2");
    EXPECT_TRUE(auto_test_running()) << "two tokens print the usage";
    const auto start = Clock::now();
    dispatch("test 2 0");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(auto_test_running());
    dispatch("test 2 0");
    // The log channel is read on another thread: wait for the last line.
    EXPECT_TRUE(logged("\nAuto Test is not in progress\n\n"));
    const Lines out = seen();
    for (const char* text : {"\nStarting Auto Test\n", "CM will execute [cnxdf 0x21] in every [1] seconds\n\n",
                             "CM executes command [cnxdf 0x21] now\n", "envstring(cnxdf 0x21)\n",
                             "\nStopping existing Auto Test [cmd=cnxdf 0x21]\n\n",
                             "\nStopping Auto Test [cmd=cnxdf 0x21]\n\n", "\nAuto Test is not in progress\n\n"})
        EXPECT_TRUE(has(out, text)) << text;
}

TEST_F(Scripts, TestJobSendsAtCommandsToTheAtClient)
{
    Session at_client = open_session(1);
    cnxd_set_receive(at_client.get(), 1);
    dispatch("test 1 1 at + cfun = \"a b\"");
    std::vector<uint8_t> frame(4096);
    int n = 0;
    EXPECT_TRUE(eventually([&] {
        n = cnxd_recv(at_client.get(), frame.data(), frame.size(), 100);
        return n > 4 && load_be16(frame.data()) == 0x0300;
    }));
    dispatch("test 2 0");
    ASSERT_EQ(2060, n);
    const std::string text = "at+cfun=\"a b\"";
    EXPECT_EQ(2056, load_be16(&frame[2]));
    EXPECT_EQ(0u, load_be32(&frame[4]));
    EXPECT_EQ(text.size(), load_be32(&frame[8]));
    EXPECT_EQ(text, std::string(frame.begin() + 12, frame.begin() + 12 + text.size()));
    EXPECT_EQ(0, frame[12 + text.size()]);
}

}  // namespace
}  // namespace cnxd::test
