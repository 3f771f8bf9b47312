// The script texts a host run cannot reach through the daemon: the RF
// script of each modem model (the host has no model file) and which test
// job commands are AT commands.
#include <gtest/gtest.h>

#include "shell/auto_test.h"
#include "shell/script.h"

namespace cnxd::test {
namespace {

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
