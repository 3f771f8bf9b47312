// What the daemon's shell rows do not reach cheaply: the dispatcher's
// device guards (a modem in its emergency image, a download under way) and
// the script texts of other models and of AT commands.
#include "shell/auto_test.h"
#include "shell/dispatcher.h"
#include "shell/script.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

class Dispatcher : public ShellTest {
protected:
    ~Dispatcher() override { cnxd_flags = 0; }

    // The bold red block of a refusal, `times` times.
    static void expect_refusals(const Lines& out, const std::string& text, long times)
    {
        const Lines block = {"\033[1m", "\033[31m", text, "\033[0m"};
        EXPECT_NE(std::ranges::search(out, block).begin(), out.end()) << text;
        EXPECT_EQ(times, std::ranges::count(out, text)) << text;
    }
};

TEST_F(Dispatcher, EmergencyAndDownloadingDevicesRefuseCommands)
{
    g_emergency[1] = EMERGENCY_MODE;
    logs();
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    EXPECT_EQ(1, dispatch("pls 1"));
    calls();
    for (const char* line : {"gdi 1", "reset 1", "help 1"})
        dispatch(line);  // exempt: none of them is refused
    EXPECT_EQ(1, dispatch("cnxdf 2"));
    EXPECT_EQ(2u, cnxd_flags) << "only device 2 ran";
    Lines out = logs();
    expect_refusals(out, "Device is Emergency Mode\n", 2);
    EXPECT_TRUE(has(out, "CM version : 3.7.16.1\n")) << "gdi ran";
    EXPECT_EQ(1u, texts_of(calls(), "LAPI_DeviceReset").size()) << "reset ran";

    g_emergency[1] = 0;
    downloading_set(1, 1);
    downloading_set(1, 500);  // outside the table: ignored
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    dispatch("gdi 1");
    EXPECT_EQ(0, dispatch("help 1"));
    EXPECT_EQ(2u, cnxd_flags);
    out = logs();
    expect_refusals(out, "Now Firmware Downloading dev 1. Please Do Not Insert Command\n", 3);
    EXPECT_FALSE(has(out, "CM version : 3.7.16.1\n"));
    downloading_set(0, 1);
    EXPECT_EQ(1, dispatch("cnxdf 1"));
    EXPECT_EQ(1u, cnxd_flags);
    g_emergency[127] = EMERGENCY_MODE;
    EXPECT_EQ(1, dispatch("cnxdf 127"));
    EXPECT_EQ(1u, cnxd_flags) << "the last device of the table is guarded too";
}

TEST(ScriptText, RfScriptPathsAndAtCommands)
{
    EXPECT_EQ("/etc/sysconfig/script/lte_scr/rf/mt_2", lte_rf_script_path('T', 2));
    EXPECT_EQ("/etc/sysconfig/script/lte_scr/rf/mu_255", lte_rf_script_path('U', 255));
    EXPECT_EQ("/etc/sysconfig/script/lte_scr/rf/mx_0", lte_rf_script_path('t', 0));
    for (const char* cmd : {"AT", "at+cfun?", "aT 2", "at  1"})
        EXPECT_TRUE(auto_test_is_at_command(cmd)) << cmd;
    for (const char* cmd : {"at 1", "at 12", "pls 1", "a", ""})
        EXPECT_FALSE(auto_test_is_at_command(cmd)) << cmd;
}

}  // namespace
}  // namespace cnxd::test
