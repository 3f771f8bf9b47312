// The daemon's stop in every state it can be found in, each made from
// outside (raw clients, the TCP shell, the simulated modem, sysroot files):
// a stop signal ends it with status 0 within two seconds, after its usual
// shutdown, and leaves no client shared block or semaphore set, no server
// socket and no pid file behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <sstream>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

using ::testing::ElementsAre;

constexpr int MAX_CLIENTS = 15;
constexpr uint16_t HCI_CLI_COMMAND = 0x0103;
constexpr uint16_t GET_DEVICE_INFORMATION = 3;

// What a row has made and keeps alive until the stop.
struct Scene {
    Scene(Sysroot& r, Daemon& d) : root(r), daemon(d) {}
    Sysroot& root;
    Daemon& daemon;
    LtesimClient sim{root};
    std::vector<std::unique_ptr<RawClient>> clients;
    std::unique_ptr<TcpShell> shell;
    std::unique_ptr<LogTail> tail;
    int fifo_writer = -1;
    pid_t program = -1;  // a program the daemon started
    ~Scene()
    {
        if (fifo_writer >= 0)
            close(fifo_writer);
    }

    RawClient& client(const std::string& name)
    {
        clients.push_back(std::make_unique<RawClient>(root, name));
        return *clients.back();
    }
    // The TCP shell, connected once its accept has switched the log
    // direction (which talks to the modem).
    TcpShell& tcp()
    {
        shell = std::make_unique<TcpShell>(daemon.cmd_port());
        EXPECT_TRUE(shell->connected());
        EXPECT_TRUE(daemon.wait_for_log("client accept"));
        return *shell;
    }
    // A listener of the clients' log channel, where the shell's commands print.
    LogTail& log()
    {
        tail = std::make_unique<LogTail>(root);
        EXPECT_TRUE(tail->open());
        return *tail;
    }
};

struct StopCase {
    const char* name;
    int sig;
    void (*before_start)(Sysroot&);
    void (*make)(Scene&);
    void (*after_stop)(Scene&) = nullptr;
    bool capture = false;  // the daemon writes a capture (CNXD_CAPTURE)
};

void nothing_before(Sysroot&) {}

// Idle: the SDK was opened in order; hang-ups and hostile control lines
// change nothing; the daemon serves.
void idle(Scene& s)
{
    const auto names = s.sim.call_names();
    ASSERT_GE(names.size(), 4u);
    // Registrations sit between the open and the initialisation.
    EXPECT_EQ("LAPI_LTEAPIOpen", names.front());
    const auto at = [&](const std::string& n) { return std::ranges::find(names, n) - names.begin(); };
    EXPECT_LT(at("LAPI_Initialize"), at("LAPI_SetLogConfig"));
    EXPECT_LT(at("LAPI_SetLogConfig"), at("LAPI_Misc_Initialize"));
    EXPECT_LT(at("LAPI_Misc_Initialize"), std::ssize(names));
    for (long i = 1; i < at("LAPI_Initialize"); ++i)
        EXPECT_EQ("LAPI_RegisterCallbackResponse", names[static_cast<size_t>(i)]);

    s.daemon.signal(SIGHUP);
    s.daemon.signal(SIGHUP);
    // Bad hex, odd digits, no handler registered for 10, unknown names, a huge line.
    const std::string lines[] = {"inject 75 1 0g", "inject 75 1 abc", "inject 10 1 00", "inject 999 1 00",
                                 "fail LAPI_NoSuchCall 1", "answer LAPI_GetBootImageType xyz", "set no_such_knob 1",
                                 "frobnicate", std::string(200000, 'a')};
    for (const std::string& line : lines)
        EXPECT_THAT(s.sim.command(line), ::testing::StartsWith("err")) << line.substr(0, 40);
    EXPECT_EQ("ok", s.sim.command("set delay_ms 0")) << "the connection survives it all";
    RawClient& c = s.client("c");
    EXPECT_EQ(0, c.open()) << "still serving";
    EXPECT_EQ(0, c.api_request(GET_DEVICE_INFORMATION, 1, {}));
    EXPECT_EQ(0, s.daemon.count_in_log("Preparing for suicide"));
}

// A client of identity 0 that takes log text and never reads it, and
// enough log text (a shell line's output) to fill its socket: the sender
// (the loop's thread) retries on it, holding the table lock.
void silent_log_client(Scene& s)
{
    RawClient& silent = s.client("silent");
    ASSERT_EQ(0, silent.open());
    silent.set_word(0, 1);
    RawClient& talker = s.client("talker");
    ASSERT_EQ(1, talker.open({{7, 1}}));
    ASSERT_TRUE(talker.send(hci_frame(HCI_CLI_COMMAND, Bytes{'h', 'e', 'l', 'p'})));
    ASSERT_TRUE(s.daemon.wait_for_log("retry to write retry_nr=1"));
}

void watchdog_on(Sysroot& root)
{
    for (const char* kv : {"ENABLE 1", "retry_time 1", "expired_time 3"})
        ASSERT_TRUE(root.confdb_set(std::string("config wan lte watchdog ") + kv));
}

// The stuck switch on: every log and indication sender waits behind it.
void stuck_switch(Scene& s)
{
    s.log();  // a log listener, held back with every other sender
    RawClient& talker = s.client("talker");
    ASSERT_EQ(1, talker.open({{7, 1}}));
    s.tcp().send_line("cnxdst 1");
    // The switch holds back its own print too; the daemon's output says it waits.
    ASSERT_TRUE(s.daemon.wait_for_log("foce stuk in cnxd"));
    ASSERT_TRUE(talker.send(hci_frame(HCI_CLI_COMMAND, Bytes{'h', 'e', 'l', 'p'})));
    ASSERT_EQ("ok", s.sim.command("inject 75 1 0102030405060708"));
}

// A shell command waiting on a modem that answers late: its receiver is
// held in the SDK call that echoes the line.
void shell_command_running(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    TcpShell& sh = s.tcp();
    // Only that call may be slow: the modem's own chain of calls after the
    // bring-up (on the SDK's callback thread, which the SDK's close waits
    // for) is over first, and the shutdown's calls come after the reset.
    const auto calls = [&] { return ltesim_call_log(s.root).size(); };
    size_t before = calls();
    for (size_t quiet = 0; quiet < 5;) {
        std::this_thread::sleep_for(100ms);
        const size_t now = calls();
        quiet = now == before ? quiet + 1 : 0;
        before = now;
    }
    ASSERT_EQ("ok", s.sim.command("set call_delay_ms 30000"));
    sh.send_line("gdi 1");
    ASSERT_TRUE(eventually([&] { return calls() > before; }));
    ASSERT_EQ("ok", s.sim.command("set call_delay_ms 0"));
}

void sleeping_init_script(Sysroot& root) { root.write_file("/etc/sysconfig/script/lte_init_script", "sleep 20\n"); }

// The connection keeper on, with a modem that refuses every attach: its
// worker and timer are between attempts at the stop.
void keeper_on_refused(Sysroot& root)
{
    for (const char* kv : {"ENABLE 1", "first_wait 1"})
        ASSERT_TRUE(root.confdb_set(std::string("config wan lte autoconnect ") + kv));
    root.write_file("/etc/ltesim.conf", "set attach_result 7\n");
}

// The keeper retries a refused attach; its next attempt is held in a slow
// modem call when the stop comes (the stop's own calls are quick again).
void keeper_in_slow_attach(Scene& s)
{
    const auto attaches = [&] { return std::ranges::count(s.sim.call_names(), "LAPI_AttachRequest"); };
    ASSERT_TRUE(eventually([&] { return attaches() >= 2; }));
    ASSERT_EQ("ok", s.sim.command("set call_delay_ms 30000"));
    ASSERT_TRUE(eventually([&] { return attaches() >= 3; }));
    ASSERT_EQ("ok", s.sim.command("set call_delay_ms 0"));
}

void init_script_sleeps(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    std::this_thread::sleep_for(300ms);  // into its sleep
}

// The processes whose parent is `parent`, with their command lines.
std::vector<std::pair<pid_t, std::string>> children(pid_t parent)
{
    std::vector<std::pair<pid_t, std::string>> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string stat = read_text(e.path() / "stat");
        const size_t comm_end = stat.rfind(')');
        if (comm_end == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(comm_end + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) {
            std::string cmdline = read_text(e.path() / "cmdline");
            std::ranges::replace(cmdline, '\0', ' ');
            out.emplace_back(std::stoi(e.path().filename()), cmdline);
        }
    }
    return out;
}

std::string status_line(pid_t pid, const std::string& key)
{
    std::istringstream in(read_text("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key))
            return line;
    return {};
}

// A runner's command: started with no signal blocked (the daemon's threads
// block the stop signals), and left to finish when the daemon stops. The
// shell between may block signals for a moment of its own; the program it
// runs must not inherit a block.
void wait_for_sleep_30(Scene& s)
{
    ASSERT_TRUE(eventually([&] {
        for (const auto& [shell, shell_line] : children(s.daemon.pid())) {
            auto below = children(shell);
            below.emplace_back(shell, shell_line);  // a shell that runs it in its own place
            for (const auto& [pid, cmdline] : below)
                if (cmdline.starts_with("sleep 30"))
                    s.program = pid;
        }
        return s.program > 0;
    }));
    EXPECT_EQ("SigBlk:\t0000000000000000", status_line(s.program, "SigBlk:"));
}

void x_run_of_a_long_command(Scene& s)
{
    s.tcp().send_line("x run sleep 30");
    ASSERT_TRUE(s.daemon.wait_for_log("x_run \"sleep 30\""));
    wait_for_sleep_30(s);
}

// A "!" line from the modem runs its program on the SDK's callback thread,
// which the SDK's close waits for.
void modem_bang_line(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    const std::string text = "!sleep 30";
    Bytes rec(4);
    store_be32(rec.data(), static_cast<uint32_t>(text.size()));
    rec.insert(rec.end(), text.begin(), text.end());
    ASSERT_EQ("ok", s.sim.command("inject 189 1 " + hex(rec)));
    wait_for_sleep_30(s);
}

void runner_command_left_running(Scene& s)
{
    EXPECT_EQ(0, kill(s.program, 0)) << "the command outlives the daemon";
    kill(s.program, SIGKILL);
}

// senddmfile of a file that never ends: a FIFO whose writer the test holds.
void endless_dm_file(Scene& s)
{
    const std::string fifo = s.root.path("/var/tmp/endless");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    s.fifo_writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(s.fifo_writer, 0);
    const std::string line = "ver\n";
    ASSERT_EQ(static_cast<ssize_t>(line.size()), write(s.fifo_writer, line.data(), line.size()));
    s.tcp().send_line("senddmfile /var/tmp/endless");
    ASSERT_TRUE(eventually([&] { return std::ranges::count(ltesim_call_log(s.root), "LAPI_SendDMCommand dev=1") > 0; }));
}

// Ten thousand requests with a listener beside them that reads its log
// text slowly.
void ten_thousand_requests(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    RawClient& slow = s.client("slow");
    ASSERT_EQ(0, slow.open());
    slow.set_word(0, 1);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done)
            if (slow.recv(100ms))
                std::this_thread::sleep_for(50ms);
    });
    RawClient& many = s.client("many");
    ASSERT_EQ(1, many.open());
    for (int i = 0; i < 10000; ++i)
        if (!many.api_request(GET_DEVICE_INFORMATION, 1, {})) {
            ADD_FAILURE() << "request " << i;
            break;
        }
    done = true;
    reader.join();
}

const StopCase stop_cases[] = {
    {"IdleTerm", SIGTERM, nothing_before, idle},
    {"IdleInt", SIGINT, nothing_before, idle},
    {"IdleQuit", SIGQUIT, nothing_before, idle},
    {"SilentLogClient", SIGTERM, nothing_before, silent_log_client},
    {"SilentLogClientWatchdogOn", SIGTERM, watchdog_on, silent_log_client},
    {"StuckSwitch", SIGTERM, nothing_before, stuck_switch},
    {"ShellCommandRunning", SIGTERM, nothing_before, shell_command_running},
    {"InitScriptSleeping", SIGTERM, sleeping_init_script, init_script_sleeps},
    {"XRunLongCommand", SIGTERM, nothing_before, x_run_of_a_long_command, runner_command_left_running},
    {"ModemBangLineRunning", SIGTERM, nothing_before, modem_bang_line, runner_command_left_running},
    {"SendDmFileEndless", SIGTERM, nothing_before, endless_dm_file},
    {"CaptureAfterManyRequests", SIGTERM, nothing_before, ten_thousand_requests, nullptr, true},
    {"KeeperInASlowAttach", SIGTERM, keeper_on_refused, keeper_in_slow_attach},
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class Stop : public ::testing::TestWithParam<StopCase> {};

TEST_P(Stop, EndsTheDaemonCleanlyWithinTwoSeconds)
{
    const StopCase& row = GetParam();
    Sysroot root;
    row.before_start(root);
    Daemon d(root);
    std::vector<std::string> prefix;
    if (row.capture)
        prefix = {"env", "CNXD_CAPTURE=" + root.path("/var/tmp/cnxd.pcapng")};
    ASSERT_TRUE(d.start({}, prefix));
    EXPECT_EQ(std::to_string(d.pid()) + "\n", root.read_file("/var/run/cnxd.pid"));
    std::vector<int> keys;
    for (int i = 0; i < MAX_CLIENTS; ++i)
        keys.push_back(root.ipc_key(i));
    Scene scene(root, d);
    ASSERT_TRUE(scene.sim.connected());
    row.make(scene);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_TRUE(d.running());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, d.stop(row.sig, 2s)) << "no exit within 2 s";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    if (row.after_stop)
        row.after_stop(scene);
    if (d.running()) {
        d.stop(SIGKILL);
        return;
    }
    for (int i = 0; i < MAX_CLIENTS; ++i) {
        EXPECT_LT(shmget(keys[i], 0, 0), 0) << "a shared block is left at key " << keys[i];
        EXPECT_LT(semget(keys[i], 0, 0), 0) << "a semaphore set is left at key " << keys[i];
        EXPECT_FALSE(root.exists("/var/tmp/cnxd-client-" + std::to_string(i))) << "a client socket file";
    }
    EXPECT_FALSE(root.exists("/var/tmp/cnxd-daemon"));
    EXPECT_FALSE(root.exists("/var/run/cnxd.pid"));
    // The SDK closed in order (calls of the modem's bring-up may fall between).
    const auto calls = ltesim_call_log(root);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_THAT(std::vector(calls.end() - 2, calls.end()), ElementsAre("LAPI_DeInitialize dev=-", "LAPI_LTEAPIClose dev=-"));
    EXPECT_NE(calls.end(), std::ranges::find(calls, "LAPI_AllCallbackUnRegister dev=-"));
    EXPECT_FALSE(root.exists("/var/tmp/ltesim.sock")) << "the control socket closes with the SDK";
    const std::string log = d.log();
    const size_t suicide = log.find("Preparing for suicide");
    ASSERT_NE(std::string::npos, suicide);
    EXPECT_NE(std::string::npos, log.find("cnxd terminated", suicide));
}

INSTANTIATE_TEST_SUITE_P(Table, Stop, ::testing::ValuesIn(stop_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cnxd::test
