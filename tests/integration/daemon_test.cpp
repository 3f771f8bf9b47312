// The daemon as a process: its command line, detaching and its pid file, and
// a failed SDK initialisation (driven through the simulated modem's
// boot-time file). Its states, the client keep-alive's among them, and its
// stop in each are the table of stop_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

using ::testing::ElementsAre;

struct CommandResult {
    int status;
    std::string output;
};

CommandResult run_cnxd(const Sysroot& root, const std::string& args)
{
    const std::string cmd = "CNXD_ROOT=" + root.dir() + " " + CNXD_BINARY + " " + args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    const int status = pclose(p);
    return {WEXITSTATUS(status), out};
}

constexpr const char* kUsageTail =
    " [-fvos:i:h]\n"
    "  -f                Debug type=stderr (default=syslog)\n"
    "  -v ~ -vvvv        Increase debug level\n"
    "  -o                Enable term color\n"
    "  -i {logfile}      Set log file\n"
    "  -s {size-string}  Max log file size string (ex. 2MB) \n"
    "  -g {loglevel}     set log level\n"
    "  -h                Show help\n";

TEST(DaemonCommandLine, HelpAndBadOptionsPrintTheUsage)
{
    Sysroot root;
    const std::string usage = std::string("usage: ") + CNXD_BINARY + kUsageTail;
    const auto help = run_cnxd(root, "-v -o -s 1k -i /var/tmp/cnxd.log -h");  // the options before it are taken
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(usage, help.output);
    const auto bad = run_cnxd(root, "-x");
    EXPECT_EQ(1, bad.status);
    EXPECT_EQ(usage, bad.output);
    const auto missing = run_cnxd(root, "-g");
    EXPECT_EQ(1, missing.status) << "an option without its argument";
}

TEST(DaemonDetach, ReturnsAtOnceAndThePidFileNamesTheDaemon)
{
    Sysroot root;
    const std::string cmd = "CNXD_ROOT=" + root.dir() + " " + CNXD_BINARY + " -g 7 -i /var/log/cnxd.log";
    ASSERT_EQ(0, std::system(cmd.c_str()));
    std::string pid_text;
    ASSERT_TRUE(eventually([&] {
        pid_text = root.read_file("/var/run/cnxd.pid");
        return !pid_text.empty() && pid_text.back() == '\n';
    }));
    const pid_t pid = std::stoi(pid_text);
    EXPECT_EQ(0, kill(pid, 0)) << "the pid file names a running process";
    ASSERT_TRUE(eventually([&] { return root.read_file("/var/log/cnxd.log").find("cnxd started") != std::string::npos; }));
    // Every thread but the main one has a name of its own, which is what
    // ps -L and the soak's report of leftover threads show. (The race
    // detector adds threads of its own, named after the process.)
#ifndef __SANITIZE_THREAD__
    std::vector<std::string> names;
    EXPECT_TRUE(eventually([&] {
        names.clear();
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
            names.push_back(read_text(task.path() / "comm"));
        return std::ranges::count(names, "cnxd\n") == 1;
    })) << ::testing::PrintToString(names);
#endif

    kill(pid, SIGTERM);
    EXPECT_TRUE(eventually([&] { return kill(pid, 0) != 0; }, 10s));
    EXPECT_FALSE(root.exists("/var/run/cnxd.pid"));
    EXPECT_NE(std::string::npos, root.read_file("/var/log/cnxd.log").find("cnxd terminated"));
}

TEST(SdkBringUp, FailedInitialisationStopsTheDaemonBeforeItsLoop)
{
    Sysroot root;
    root.write_file("/etc/ltesim.conf", "# boot-time behaviour\nfail LAPI_Initialize -1\n");
    Daemon d(root);
    d.start();
    ASSERT_TRUE(eventually([&] { return !d.running(); }, 10s)) << d.log();
    EXPECT_EQ(0, d.stop(SIGTERM));
    EXPECT_TRUE(d.wait_for_log("cnxd terminated"));
    EXPECT_EQ(0, d.count_in_log("Preparing for suicide")) << "never entered the loop";
    auto calls = ltesim_call_log(root);
    std::erase(calls, "LAPI_RegisterCallbackResponse dev=-");  // the indication table's
    EXPECT_THAT(calls, ElementsAre("LAPI_LTEAPIOpen dev=-", "LAPI_Initialize dev=-", "LAPI_DeInitialize dev=-"));
}

}  // namespace
}  // namespace cnxd::test
