// The daemon in every state it can be found in, each made from outside (raw
// clients, the TCP shell, the simulated modem, store settings and sysroot
// files): what it does there, and that a stop signal then ends it with
// status 0 within two seconds (one with the client keep-alive on), after
// its usual shutdown, leaving no client shared block, semaphore set or
// socket, no server socket and no pid file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <thread>
#include <sstream>

#include "base/be.h"
#include "integration/harness.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

using ::testing::ElementsAre;

constexpr uint16_t GET_DEVICE_INFORMATION = 3;
constexpr uint16_t AIRPLANE_CHANGE = 166;  // logs twice to identity-0 clients, on the main thread
// An SDK callback the daemon forwards (event 177), on the SDK's callback thread.
const std::string kInjectIndication = "inject 75 1 0102030405060708";
const Bytes kHelp = hci_frame(HCI_CLI_COMMAND, Bytes{'h', 'e', 'l', 'p'});

// What a row has made and keeps alive until the stop.
struct Scene {
    Scene(Sysroot& r, Daemon& d) : root(r), daemon(d) {}
    ~Scene()
    {
        if (fifo_writer >= 0)
            close(fifo_writer);
    }
    Sysroot& root;
    Daemon& daemon;
    LtesimClient sim{root};
    std::vector<std::unique_ptr<RawClient>> clients;
    std::unique_ptr<TcpShell> shell;
    std::unique_ptr<LogTail> tail;
    int fifo_writer = -1;
    pid_t program = -1;  // a program the daemon started

    RawClient& client(const std::string& name)
    {
        return *clients.emplace_back(std::make_unique<RawClient>(root, name));
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
    bool rebooted() const { return root.read_file("/var/log/platform-calls.log").find("reboot") != std::string::npos; }
};

struct StopCase {
    const char* name;
    void (*before_start)(Sysroot&);
    void (*make)(Scene&);
    void (*after_stop)(Scene&) = nullptr;
    int sig = SIGTERM;
    std::chrono::milliseconds bound = 2s;  // for the exit
};

void nothing_before(Sysroot&) {}

// Idle: the SDK was opened in order, hang-ups change nothing, the daemon serves.
void idle(Scene& s)
{
    const auto names = s.sim.call_names();
    const auto at = [&](const std::string& n) { return std::ranges::find(names, n) - names.begin(); };
    ASSERT_LT(at("LAPI_Misc_Initialize"), std::ssize(names));
    EXPECT_EQ("LAPI_LTEAPIOpen", names.front());
    EXPECT_LT(at("LAPI_Initialize"), at("LAPI_SetLogConfig"));
    EXPECT_LT(at("LAPI_SetLogConfig"), at("LAPI_Misc_Initialize"));
    for (long i = 1; i < at("LAPI_Initialize"); ++i)
        EXPECT_EQ("LAPI_RegisterCallbackResponse", names[static_cast<size_t>(i)]) << "registrations come first";
    s.daemon.signal(SIGHUP);
    s.daemon.signal(SIGHUP);
    EXPECT_TRUE(serves_a_session(s.root));
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
    ASSERT_TRUE(talker.send(kHelp));
    ASSERT_TRUE(s.daemon.wait_for_log("retry to write retry_nr=1"));
}

void settings(Sysroot& root, const std::string& node, std::initializer_list<const char*> kvs)
{
    for (const char* kv : kvs)
        ASSERT_TRUE(root.confdb_set("config wan lte " + node + " " + kv));
}

void watchdog_on(Sysroot& root) { settings(root, "watchdog", {"ENABLE 1", "retry_time 1", "expired_time 3"}); }

// The stuck switch on: every log and indication sender waits behind it.
void stuck_switch(Scene& s)
{
    s.tail = std::make_unique<LogTail>(s.root);  // a log listener, held back with every other sender
    RawClient& talker = s.client("talker");
    ASSERT_EQ(1, talker.open({{7, 1}}));
    s.tcp().send_line("cnxdst 1");
    // The switch holds back its own print too; the daemon's output says it waits.
    ASSERT_TRUE(s.daemon.wait_for_log("foce stuk in cnxd"));
    ASSERT_TRUE(talker.send(kHelp));
    ASSERT_EQ("ok", s.sim.command(kInjectIndication));
}

// "cnxdst 0" from a second connection undoes the switch: what waited flows.
void stuck_switch_undone(Scene& s)
{
    stuck_switch(s);
    TcpShell(s.daemon.cmd_port()).send_line("cnxdst 0");
    EXPECT_TRUE(s.tail->wait_for("cnxdst=0x00000000\n"));
    EXPECT_TRUE(serves_a_session(s.root));
}

// A DM command file that runs itself stops at its nesting bound.
void self_running_dm_file(Sysroot& root) { root.write_file("/var/tmp/loop", "senddmfile /var/tmp/loop\n"); }

void dm_file_nested_to_its_bound(Scene& s)
{
    s.tail = std::make_unique<LogTail>(s.root);
    s.tcp().send_line("senddmfile /var/tmp/loop");
    EXPECT_TRUE(s.tail->wait_for("run_dm_cmd_file(/var/tmp/loop) refused: files nested 8 deep\n"));
    EXPECT_EQ(8, s.tail->count("run_dm_cmd_file(/var/tmp/loop) delay=0us\n"));
    EXPECT_TRUE(s.tail->wait_for("  elapsed=")) << "every level ends";
    EXPECT_TRUE(serves_a_session(s.root));
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
        quiet = calls() == before ? quiet + 1 : 0;
        before = calls();
    }
    ASSERT_EQ("ok", s.sim.command("set call_delay_ms 30000"));
    sh.send_line("gdi 1");
    ASSERT_TRUE(eventually([&] { return calls() > before; }));
    ASSERT_EQ("ok", s.sim.command("set call_delay_ms 0"));
}

void sleeping_init_script(Sysroot& root) { root.write_file("/etc/sysconfig/script/lte_init_script", "sleep 20\nver\n"); }

// The online request is never answered: the thread waits (30 s by default).
void unanswered_online_request(Sysroot& root)
{
    sleeping_init_script(root);
    root.write_file("/etc/ltesim.conf", "fail LAPI_OnlineRequest 1\n");
}

void online_request_made(Scene& s)
{
    ASSERT_TRUE(eventually([&] { return std::ranges::count(s.sim.call_names(), "LAPI_OnlineRequest") > 0; }));
    std::this_thread::sleep_for(300ms);  // into its wait, or its init script's sleep
}

// The stop did not wait for the online request thread to reach its end.
void no_watchdog_start(Scene& s) { EXPECT_EQ(0, s.daemon.count_in_log("Watchdog First start")); }

// The connection keeper on, with a modem that refuses every attach: its
// worker and timer are between attempts at the stop.
void keeper_on_refused(Sysroot& root)
{
    settings(root, "autoconnect", {"ENABLE 1", "first_wait 1"});
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

// The processes whose parent is `parent`, with their command lines.
std::vector<std::pair<pid_t, std::string>> children(pid_t parent)
{
    std::vector<std::pair<pid_t, std::string>> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string stat = read_text(e.path() / "stat");
        std::istringstream rest(stat.substr(std::min(stat.size(), stat.rfind(')') + 2)));
        char state;
        pid_t ppid = 0;
        if (rest >> state >> ppid && ppid == parent) {
            std::string cmdline = read_text(e.path() / "cmdline");
            std::ranges::replace(cmdline, '\0', ' ');
            out.emplace_back(std::stoi(e.path().filename()), cmdline);
        }
    }
    return out;
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
    const std::string status = read_text("/proc/" + std::to_string(s.program) + "/status");
    EXPECT_NE(std::string::npos, status.find("\nSigBlk:\t0000000000000000\n")) << status;
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
    ASSERT_EQ(4, write(s.fifo_writer, "ver\n", 4));
    s.tcp().send_line("senddmfile /var/tmp/endless");
    ASSERT_TRUE(eventually([&] { return std::ranges::count(ltesim_call_log(s.root), "LAPI_SendDMCommand dev=1") > 0; }));
}

void capture_on(Sysroot&) {}  // the row's name starts the daemon with CNXD_CAPTURE

// Ten thousand requests with a listener beside them that reads its log
// text slowly.
void ten_thousand_requests(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    RawClient& slow = s.client("slow");
    ASSERT_EQ(0, slow.open());
    slow.set_word(0, 1);
    const std::jthread reader([&](const std::stop_token& stop) {
        while (!stop.stop_requested())
            if (slow.recv(100ms))
                std::this_thread::sleep_for(50ms);
    });
    RawClient& many = s.client("many");
    ASSERT_EQ(1, many.open());
    int answered = 0;
    while (answered < 10000 && many.api_request(GET_DEVICE_INFORMATION, 1, {}))
        ++answered;
    EXPECT_EQ(10000, answered);
}

// The capture read back: how many of its lines hold `text`.
long captured(Scene& s, const std::string& text)
{
    return std::ranges::count_if(capture_summaries(s.root.path("/var/tmp/cnxd.pcapng")),
                                 [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// The capture holds every request and its SDK call.
void every_request_captured(Scene& s)
{
    EXPECT_EQ(10000, captured(s, "HCI_API_REQUEST LAPI_GetDeviceInformation"));
    EXPECT_EQ(10000, captured(s, "LAPI_GetDeviceInformation dev 1 -> 0"));
    EXPECT_EQ(0, captured(s, "records dropped"));
}

// A session of each kind of frame, captured.
void captured_session(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    RawClient& client = s.client("capture");
    ASSERT_TRUE(client.open({{0, 1234}}));
    // The help text is more datagrams than an unconnected receive queue
    // holds, and this client reads none of them.
    ASSERT_TRUE(client.connect_to_daemon());
    client.subscribe_all();
    client.set_word(0, 1);  // listening for log text
    ASSERT_TRUE(client.api_request(GET_DEVICE_INFORMATION, 1, {}));
    EXPECT_EQ(s.sim.command("inject 47 1 00000003"), "ok");
    // Forwarded on the SDK's callback thread: here before the close.
    EXPECT_TRUE(eventually([&] {
        const auto f = client.recv(100ms);
        return f && f->size() >= 2 && load_be16(f->data()) == HCI_SDK_CALLBACK;
    }));
    ASSERT_TRUE(client.send(kHelp));
    // Frames are served in order: the answer to a second request means the
    // line has been run.
    ASSERT_TRUE(client.api_request(GET_DEVICE_INFORMATION, 1, {}));
    ASSERT_TRUE(client.send(hci_frame(HCI_API_CLOSE, {})));
    ASSERT_TRUE(s.daemon.wait_for_log("request disconnection"));
}

// As an engineer reads it: tshark, through the generated dissector, names
// every frame, call and indication.
void session_reads_back_by_name(Scene& s)
{
    for (const char* text : {"frame from client 255: HCI_API_OPEN", "frame to client 0: HCI_API_OPEN_RSP",
                             "HCI_API_REQUEST LAPI_GetDeviceInformation", "LAPI_GetDeviceInformation dev 1 -> 0",
                             "indication dev 1 ind_nas_emm_status_indication",
                             "HCI_SDK_CALLBACK NAS EMM STATUS INDICATION", "shell line: help", "HCI_LOG",
                             "HCI_API_CLOSE"})
        EXPECT_GE(captured(s, text), 1) << text;
    EXPECT_EQ(0, captured(s, "records dropped"));
}

// The walk over the client sockets serves B, whose request logs twice to
// the clients of identity 0; A, the record after B, has exited, so the
// second log finds it gone and releases it in the middle of the walk.
void client_gone_in_the_socket_walk(Scene& s)
{
    RawClient& b = s.client("b");
    ASSERT_EQ(0, b.open({{0x55, 1}}));
    {
        RawClient a(s.root, "a");
        ASSERT_EQ(1, a.open({{0, 2}}));
        a.set_word(0, 1);  // gets the log frames
    }  // A exits without a close request: its socket file is gone.
    EXPECT_EQ(0, b.api_request(AIRPLANE_CHANGE, 1, {1}));
    EXPECT_TRUE(s.daemon.wait_for_log("[DEVICE] client 1 seems detached"));
    EXPECT_TRUE(serves_a_session(s.root));
}

// A holds its busy semaphore, so its request waits in the daemon, and
// exits; an indication forwarded to it on the SDK's callback thread then
// finds it gone and releases it while the request is still being served.
void client_gone_while_its_request_is_served(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    {
        RawClient a(s.root, "a");
        ASSERT_EQ(0, a.open({{0x77, 3}}));
        a.subscribe_all();
        ASSERT_EQ(0, semctl(semget(a.ipc_key(), 0, 0), 0, SETVAL, 1));  // semaphore 0: busy
        ASSERT_TRUE(a.send(api_frame(2, 1, {})));                       // boot image type, into the shared block
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ("ok", s.sim.command(kInjectIndication));  // the peer refuses: released
    EXPECT_TRUE(s.daemon.wait_for_log("[DEVICE] client 0 seems detached"));
    EXPECT_TRUE(s.daemon.wait_for_log("ready_sem, semop() failed"));
    EXPECT_TRUE(serves_a_session(s.root));
}

// ---- Client keep-alive: probes (empty HCI 0x0107 frames) and the reboot ----
// The first pass comes 5 s after start; the sysroot's stub reboot records.

// Counts the probes a client gets on a thread of its own, answering them
// when asked to.
struct Prober {
    Prober(RawClient& c, bool answer)
        : thread([this, &c, answer](const std::stop_token& stop) {
              while (!stop.stop_requested())
                  if (const auto f = c.recv(50ms);
                      f && f->size() == 8 && load_be16(f->data()) == 0x0107 && load_be16(f->data() + 2) == 0) {
                      ++probes;
                      if (answer)
                          c.send(hci_frame(0x8108, {}));
                  }
          })
    {
    }
    std::atomic<int> probes{0};
    std::jthread thread;
};

void keep_alive_off(Sysroot& root) { settings(root, "cnxdkeepalive", {"ENABLE 0", "interval_time 1", "max_retry 1"}); }

void no_probe_ever(Scene& s)
{
    RawClient& c = s.client("c");
    ASSERT_EQ(0, c.open());
    const Prober prober(c, false);
    std::this_thread::sleep_for(7s);
    EXPECT_EQ(0, prober.probes) << "no probe, not even at 5 s";
    EXPECT_EQ(0, s.daemon.count_in_log("start keep-alive"));
    EXPECT_TRUE(c.send(hci_frame(0x8108, {}))) << "an answer only clears a count";
    EXPECT_EQ(0, c.api_request(8, 1, {}));
    EXPECT_FALSE(s.rebooted());
}

// A missing retry count or interval (0) reboots nothing by accident: an
// answering client is probed once a second, and free records count nothing.
void no_retry_limit(Sysroot& root) { settings(root, "cnxdkeepalive", {"ENABLE 1", "interval_time 1", "max_retry 0"}); }
void no_interval(Sysroot& root) { settings(root, "cnxdkeepalive", {"ENABLE 1", "interval_time 0", "max_retry 1000000"}); }

void a_pass_a_second_and_no_reboot(Scene& s)
{
    RawClient& c = s.client("c");
    ASSERT_EQ(0, c.open());
    const Prober prober(c, true);
    ASSERT_TRUE(eventually([&] { return prober.probes > 0; }, 15s));
    const int first = prober.probes;
    std::this_thread::sleep_for(2s);
    EXPECT_LE(prober.probes - first, 3) << "probes in the two seconds after the first pass";
    EXPECT_EQ(0, s.daemon.count_in_log("didn't response keep_alive"));
    EXPECT_FALSE(s.rebooted());
    EXPECT_TRUE(serves_a_session(s.root));
}

void keep_alive_of_3(Sysroot& root) { settings(root, "cnxdkeepalive", {"ENABLE 1", "interval_time 1", "max_retry 3"}); }

// A client whose socket is full and that never reads: a sender on the SDK's
// callback thread retries on it, holding the table lock, for as long as it
// stays. The passes go on all the same and it reaches the limit, while an
// answering client stays served; the daemon waits for the system to stop it.
void stuck_client_reaches_the_limit(Scene& s)
{
    ASSERT_TRUE(s.sim.wait_online());
    RawClient& served = s.client("served");
    ASSERT_EQ(0, served.open({{0x44, 1}}));
    auto stuck = std::make_unique<RawClient>(s.root, "stuck");
    ASSERT_EQ(1, stuck->open({{0x33, 2}}));
    stuck->subscribe_all();
    {
        const Prober answering(served, true);
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ("ok", s.sim.command(kInjectIndication));
        EXPECT_TRUE(s.daemon.wait_for_log("id=1 retry to writev retry_nr=1")) << "the sender waits on the full socket";
        EXPECT_TRUE(s.daemon.wait_for_log("cnxd client(1,0x00000033) didn't response keep_alive (3)", 20s));
        EXPECT_TRUE(eventually([&] { return s.rebooted(); }));
        EXPECT_EQ(0, served.api_request(8, 1, {})) << "the answering client is still served";
        EXPECT_GE(answering.probes, 3);
        EXPECT_EQ(0, s.daemon.count_in_log("cnxd client(0,")) << "the answering client never counts up to the limit";
    }
    stuck.reset();  // gone: the sender's next writes find it so
    EXPECT_TRUE(s.daemon.wait_for_log("[DEVICE] client 1 seems detached"));
    EXPECT_TRUE(serves_a_session(s.root));
}

const StopCase stop_cases[] = {
    {"IdleTerm", nothing_before, idle},
    {"IdleInt", nothing_before, idle, nullptr, SIGINT},
    {"IdleQuit", nothing_before, idle, nullptr, SIGQUIT},
    {"SilentLogClient", nothing_before, silent_log_client},
    {"SilentLogClientWatchdogOn", watchdog_on, silent_log_client},
    {"StuckSwitch", nothing_before, stuck_switch},
    {"StuckSwitchUndone", nothing_before, stuck_switch_undone},
    {"SelfRunningDmFile", self_running_dm_file, dm_file_nested_to_its_bound},
    {"ShellCommandRunning", nothing_before, shell_command_running},
    {"InitScriptSleeping", sleeping_init_script, online_request_made, no_watchdog_start},
    {"OnlineRequestUnanswered", unanswered_online_request, online_request_made, no_watchdog_start},
    {"XRunLongCommand", nothing_before, x_run_of_a_long_command, runner_command_left_running},
    {"ModemBangLineRunning", nothing_before, modem_bang_line, runner_command_left_running},
    {"SendDmFileEndless", nothing_before, endless_dm_file},
    {"CaptureAfterManyRequests", capture_on, ten_thousand_requests, every_request_captured},
    {"CapturedSession", capture_on, captured_session, session_reads_back_by_name},
    {"KeeperInASlowAttach", keeper_on_refused, keeper_in_slow_attach},
    {"ClientGoneInTheSocketWalk", nothing_before, client_gone_in_the_socket_walk},
    {"ClientGoneWhileItsRequestIsServed", nothing_before, client_gone_while_its_request_is_served},
    {"KeepAliveOff", keep_alive_off, no_probe_ever, nullptr, SIGTERM, 1s},
    {"KeepAliveWithoutRetryLimit", no_retry_limit, a_pass_a_second_and_no_reboot, nullptr, SIGTERM, 1s},
    {"KeepAliveWithoutInterval", no_interval, a_pass_a_second_and_no_reboot, nullptr, SIGTERM, 1s},
    {"KeepAliveStuckClient", keep_alive_of_3, stuck_client_reaches_the_limit, nullptr, SIGTERM, 1s},
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
    if (row.before_start == capture_on)
        prefix = {"env", "CNXD_CAPTURE=/var/tmp/cnxd.pcapng"};
    ASSERT_TRUE(d.start({}, prefix));
    EXPECT_EQ(std::to_string(d.pid()) + "\n", root.read_file("/var/run/cnxd.pid"));
    Scene scene(root, d);
    ASSERT_TRUE(scene.sim.connected());
    row.make(scene);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_TRUE(d.running());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, d.stop(row.sig, row.bound)) << "no exit within " << row.bound.count() << " ms";
    EXPECT_LT(std::chrono::steady_clock::now() - start, row.bound);
    if (row.after_stop)
        row.after_stop(scene);
    if (d.running()) {
        d.stop(SIGKILL);
        return;
    }
    EXPECT_EQ("", leftovers(root));
    // The SDK closed in order (calls of the modem's bring-up may fall between).
    const auto calls = ltesim_call_log(root);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_THAT(std::vector(calls.end() - 2, calls.end()), ElementsAre("LAPI_DeInitialize dev=-", "LAPI_LTEAPIClose dev=-"));
    EXPECT_NE(calls.end(), std::ranges::find(calls, "LAPI_AllCallbackUnRegister dev=-"));
    const std::string log = d.log();
    const size_t suicide = log.find("Preparing for suicide");
    ASSERT_NE(std::string::npos, suicide);
    EXPECT_NE(std::string::npos, log.find("cnxd terminated", suicide));
}

INSTANTIATE_TEST_SUITE_P(Table, Stop, ::testing::ValuesIn(stop_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cnxd::test
