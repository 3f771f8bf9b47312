// cnxd-cli and the command shell end to end, against the daemon and its
// simulated modem: cnxd-cli's commands, and command lines over the TCP
// command port and from cnxd-cli.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

long entries(const std::string& dir) { return std::ranges::distance(std::filesystem::directory_iterator(dir)); }

// No shared block is left at the client indexes below `n`.
bool blocks_gone(const Sysroot& root, int n)
{
    for (int i = 0; i < n; ++i)
        if (shmget(root.ipc_key(i), 0, 0) >= 0)
            return false;
    return true;
}

class CliAndShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start());
        sim = std::make_unique<LtesimClient>(root);
        ASSERT_TRUE(sim->connected());
    }
    // A clean stop: the daemon removes the IPC objects of clients still there.
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }

    // Waits until `call` ("NAME dev=N HEX") has been recorded.
    bool called(const std::string& call)
    {
        return eventually([&] {
            const auto calls = sim->calls();
            return std::ranges::find(calls, call) != calls.end();
        });
    }
    int console_calls_with(const std::string& text)
    {
        const auto calls = sim->calls();
        return static_cast<int>(std::ranges::count_if(calls, [&](const std::string& c) {
            return c.starts_with("LAPI_SendDMCommand") && c.find(hex(text)) != std::string::npos;
        }));
    }

    Sysroot root;
    Daemon daemon{root};
    std::unique_ptr<LtesimClient> sim;
};

TEST_F(CliAndShell, SocketLinesReachTheShellOrTheModemAndConsoleOutputComesBack)
{
    TcpShell c(daemon.cmd_port());
    c.send_text("ver\n");
    EXPECT_TRUE(c.wait_for("ltesim modem")) << "the modem's answer comes to the socket client";
    ASSERT_EQ("ok", sim->command("inject 188 1 68690068690a"));
    EXPECT_TRUE(c.wait_for(std::string("hi\0hi\n", 6))) << "console output byte for byte";
    ASSERT_EQ("ok", sim->command("clear"));
    c.send_text(std::string("foo\0bar\n", 8));
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("foo\0bar\n\0", 9)))) << "a NUL ends no line";

    c.send_text("  gdi 1\n");
    EXPECT_TRUE(called("LAPI_CLI_CMD_RSP_DELIVER_IND dev=1 09" + hex(std::string("  gdi 1\n\0", 9))))
        << "the echo keeps the spaces";
    EXPECT_TRUE(called("LAPI_GetDeviceInformationExtension dev=1")) << "gdi ran for device 1";

    // One receive is one line: each line waits for the echo of the last.
    c.send_text("cnxdf 200\n");
    EXPECT_TRUE(called("LAPI_CLI_CMD_RSP_DELIVER_IND dev=1 0b" + hex(std::string("cnxdf 200\n\0", 11))));
    const LogTail log(root);
    c.send_text("help\n");
    EXPECT_TRUE(log.wait_for("\nat \t\tAttach\n")) << "the daemon's own list goes to the log listeners";
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("help\n\0", 6))));
    EXPECT_TRUE(c.wait_for("commands: help"));
    EXPECT_EQ(0, console_calls_with("cnxdf")) << "a refused index reaches nobody";
    c.send_text("uicc 1 0\n");
    EXPECT_TRUE(log.wait_for("PUK2 Retry Count : 8\nICCID : 09 0a 0b 0c 0d 0e 0f 10 11 12 \n")) << "the UICC's status";

    c.send_text("at\n");
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("at\n\0", 4))));
}

TEST_F(CliAndShell, CnxdCliLinesRunInTheDaemon)
{
    Cli flags(root, {"-t", "300", "cmd", "cnxdf", "0x5"});
    EXPECT_EQ(0, flags.wait());
    EXPECT_NE(std::string::npos, flags.out().find("cnxd_flags=0x00000005")) << flags.out();

    Cli refused(root, {"-t", "300", "cmd", "cnxdf", "200"});
    EXPECT_EQ(0, refused.wait());
    EXPECT_NE(std::string::npos, refused.out().find("Invaild Device Index(1~127)")) << refused.out();

    Cli ver(root, {"-t", "300", "cmd", "ver"});
    EXPECT_EQ(0, ver.wait());
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex("ver"))) << "the line as the client sent it";
    EXPECT_EQ(0, console_calls_with("cnxdf"));
    EXPECT_TRUE(daemon.wait_for_log("ltesim modem")) << "with no socket client the console output goes to UART";

    // Without a command, each line of standard input is one command line.
    Cli piped(root, {}, "one\ntwo\n");
    EXPECT_EQ(0, piped.wait());
    EXPECT_TRUE(eventually([&] { return console_calls_with("one") == 1 && console_calls_with("two") == 1; }));
}

TEST_F(CliAndShell, ModemHostDebugLinesRunHereOrGoBackToTheConsole)
{
    const auto inject = [&](const std::string& text, uint32_t len) {
        Bytes rec(4);
        store_be32(rec.data(), len);
        rec.insert(rec.end(), text.begin(), text.end());
        return sim->command("inject 189 1 " + hex(rec));
    };
    ASSERT_EQ("ok", inject("!touch /var/tmp/from-modem", 26));
    EXPECT_TRUE(eventually([&] { return root.exists("/var/tmp/from-modem"); })) << "inside the sysroot";
    {
        // Gone once it has seen the line: a listener that stops reading
        // would hold up every later sender.
        const LogTail log(root);
        ASSERT_EQ("ok", inject("cnxdf 0x3", 9));
        EXPECT_TRUE(log.wait_for("cnxd_flags=0x00000003")) << "the shell took the line";
    }
    ASSERT_EQ("ok", inject("ver", 3));
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("ver\0", 4))));
    // A length word beyond the record reads only the record.
    ASSERT_EQ("ok", inject("shell 1", 4000));
    EXPECT_TRUE(called("LAPI_SendDMCommand dev=1 " + hex(std::string("shell 1\0", 8))));
    const std::string long_line(1024, 'x');  // no room for its NUL in the console's buffer
    ASSERT_EQ("ok", inject(long_line, 1024));
    ASSERT_EQ("ok", sim->command("sync"));
    EXPECT_EQ(0, console_calls_with(long_line));
    EXPECT_EQ(0, console_calls_with("cnxdf")) << "a line the daemon takes stays here";
    EXPECT_EQ(0, console_calls_with("touch"));
}

TEST_F(CliAndShell, HostileConnectionsLeaveNothingBehindAndDoNotHoldTheStop)
{
    const std::string fd_dir = "/proc/" + std::to_string(daemon.pid()) + "/fd";
    const std::string task_dir = "/proc/" + std::to_string(daemon.pid()) + "/task";
    {
        TcpShell first(daemon.cmd_port());
        first.send_text("ver\n");
        ASSERT_TRUE(first.wait_for("ltesim modem"));
    }
    // The first client's receiver may still be ending.
    std::this_thread::sleep_for(300ms);
    const long fds = entries(fd_dir);
    const long tasks = entries(task_dir);
    std::mt19937 rng(11);
    for (int i = 0; i < 30; ++i) {
        TcpShell c(daemon.cmd_port());
        std::string junk(1 + rng() % 1500, '\0');
        for (char& ch : junk)
            ch = static_cast<char>(rng());
        c.send_text(junk);
        // Served still: a later receive of the same connection runs.
        ASSERT_TRUE(eventually([&] {
            c.send_text("ver\n");
            return c.wait_for("ltesim modem", 200ms);
        }, 10s)) << "connection " << i;
    }
    EXPECT_TRUE(eventually([&] { return entries(fd_dir) <= fds && entries(task_dir) <= tasks; }))
        << entries(fd_dir) << " descriptors (" << fds << "), " << entries(task_dir) << " threads (" << tasks
        << ")";

    TcpShell silent(daemon.cmd_port());
    TcpShell half(daemon.cmd_port());
    half.send_text(std::string(300, 'z'));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, daemon.stop(SIGTERM, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(CliAndShell, ApiPrintsTheResultAndTheAnswerArea)
{
    // The init-complete flag of device 1, set once the modem is on line.
    std::string last;
    EXPECT_TRUE(eventually(
        [&] {
            Cli init(root, {"api", "0", "1"});
            last = init.wait() == 0 ? init.out() : init.err();
            return last == "result 0\nanswer at 1520, 1 bytes:\n01\n";
        },
        10s))
        << last;

    Cli unknown(root, {"api", "8", "1", "01:02"});
    EXPECT_EQ(0, unknown.wait()) << "an unknown command completes too";
    EXPECT_EQ("result 0\n", unknown.out());

    Cli bad(root, {"api", "0", "1", "abc"});
    EXPECT_EQ(2, bad.wait()) << "odd hex";
    EXPECT_TRUE(eventually([&] { return blocks_gone(root, 15); }));
}

TEST_F(CliAndShell, ClientsPrintsTheTableWithItsOwnSession)
{
    RawClient other(root, "other");
    ASSERT_EQ(0, other.open({{0x4242, 99}}));
    Cli clients(root, {"-t", "500", "clients"});
    EXPECT_EQ(0, clients.wait());
    const std::string out = clients.out();
    EXPECT_NE(std::string::npos, out.find("client->idx [0], id [0]\nclient->identity [0x00004242]\nclient->pid [99]\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find("client->idx [1], id [1]")) << "the tool's own session";
    EXPECT_NE(std::string::npos, out.find("client->idx [14], id [255]")) << out;
}

TEST_F(CliAndShell, LogAndEventsPrintWhatTheDaemonDelivers)
{
    // One after the other, each with its words set in its shared block
    // before anything is relayed: log takes index 0 and sets its receive
    // word, events takes index 1 and sets the word of event 26 (word 5).
    auto shm_word_set = [&](int index, size_t word) {
        const int id = shmget(root.ipc_key(index), 0, 0);
        if (id < 0)
            return false;
        void* p = shmat(id, nullptr, SHM_RDONLY);
        if (p == reinterpret_cast<void*>(-1))
            return false;
        const bool set = load_be32(static_cast<const uint8_t*>(p) + 4 * word) != 0;
        shmdt(p);
        return set;
    };
    Cli log(root, {"log"});
    ASSERT_TRUE(eventually([&] { return shm_word_set(0, 0); }));
    Cli events(root, {"events", "26"});
    ASSERT_TRUE(eventually([&] { return shm_word_set(1, 5); }));
    RawClient peer(root, "peer");
    ASSERT_EQ(2, peer.open({{5, 77}}));

    // The peer has the daemon relay frames to every other identity.
    const std::string text = "hello from relay\n";
    ASSERT_TRUE(peer.send(relay_frame(0, true, hci_frame(0x810B, Bytes(text.begin(), text.end())))));
    // Event 26, data length 8, device index 1, data.
    ASSERT_TRUE(peer.send(relay_frame(0, true, hci_frame(0x8107, {0x00, 0x1a, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01,
                                                                   0xde, 0xad, 0xbe, 0xef}))));

    // The simulated modem's bring-up text may come first.
    EXPECT_TRUE(eventually([&] { return log.out().find(text) != std::string::npos; })) << log.out();
    EXPECT_TRUE(eventually([&] {
        return events.out() == "event 26 (ATTACH RESPONSE) dev 1 len 8: 00 00 00 01 de ad be ef\n";
    })) << events.out();
    EXPECT_EQ(0, log.interrupt());
    EXPECT_EQ(0, events.interrupt());
    // Released, by their close requests or (when log text to a closed socket
    // comes first) by the failed send.
    EXPECT_TRUE(eventually([&] { return blocks_gone(root, 2); }));
}

struct DownloadCase {
    const char* name;
    const char* knob;  // a simulator setting, or nullptr
    std::vector<std::string> args;
    int status;
    const char* out;  // the whole of standard output
    std::vector<const char*> err;  // in standard error
};

// An image of 32868 bytes: progress after each full chunk, then the
// result. Each download ends before the next begins (the one that fails
// when its end record has gone, so it comes last).
const DownloadCase DOWNLOAD_CASES[] = {
    {"taken", nullptr, {"1", "1", "/var/tmp/fw.bin"}, 0,
     "dev 1: 40%\ndev 1: 90%\ndownload complete [dev index : 1]\n", {}},
    {"no such file", nullptr, {"1", "1", "/var/tmp/none.bin"}, 1, "", {"] file open fail : "}},
    {"refused by the shell", nullptr, {"200", "1", "/var/tmp/fw.bin"}, 1, "",
     {"Invaild Device Index(1~127)", "cnxd-cli: the download did not begin\n"}},
    {"no device index", nullptr, {"one", "1", "/var/tmp/fw.bin"}, 2, "", {"\"one\" is no device index"}},
    {"CRC error at chunk 2", "set download_crc_chunk 2", {"1", "1", "/var/tmp/fw.bin"}, 1, "dev 1: 40%\n",
     {"] CRC ERROR\n", "download failed [dev index : 1]\n"}},
};

TEST_F(CliAndShell, DownloadFollowsTheDaemonsProgressToTheResult)
{
    root.write_file("/var/tmp/fw.bin", std::string(2 * 16384 + 100, 'f'));
    ASSERT_TRUE(sim->wait_online());
    for (const DownloadCase& c : DOWNLOAD_CASES) {
        SCOPED_TRACE(c.name);
        if (c.knob) {
            ASSERT_EQ("ok", sim->command(c.knob));
        }
        std::vector<std::string> args = {"download"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Cli cli(root, args);
        EXPECT_EQ(c.status, cli.wait(20s));
        EXPECT_EQ(c.out, cli.out());
        for (const char* text : c.err)
            EXPECT_NE(std::string::npos, cli.err().find(text)) << cli.err();
    }
}

TEST(CliWithoutDaemon, SaysSoAndFails)
{
    Sysroot root;
    Cli cli(root, {"log"});
    EXPECT_EQ(1, cli.wait());
    EXPECT_NE(std::string::npos, cli.err().find("the daemon is not running")) << cli.err();
    Cli help(root, {"--help"});
    EXPECT_EQ(0, help.wait());
    EXPECT_NE(std::string::npos, help.out().find("api ID DEV [HEX]"));
    Cli unknown(root, {"frobnicate"});
    EXPECT_EQ(2, unknown.wait());
}

// On a fresh sysroot (its seeded parameter files and store) the shell's
// attach brings the internet PDN's interface up, the statistics print each
// counter under its label, a PDN connectivity request from the store's
// table is sent, the detach brings the interface down; kern reaches only
// the sysroot's stub.
TEST_F(CliAndShell, AttachAndDetachTypedAtTheShell)
{
    std::string pdn = root.read_file("/var/lte/param/pdn_connect.param");
    pdn.replace(pdn.find("optional_info=1"), 15, "optional_info=0");  // the APN's fields from the store
    root.write_file("/var/lte/param/pdn_connect.param", pdn);
    ASSERT_TRUE(sim->wait_online());
    const LogTail log(root, true);
    TcpShell c(daemon.cmd_port());
    c.send_text("at 1\n");
    // The interface's configuration takes seconds on a loaded machine.
    ASSERT_TRUE(eventually([&] { return std::ranges::count(log.events(), 163) == 1; }, 20s)) << "interface ready";
    // The status document as Python's json reads it.
    const auto status_is = [&](const std::string& check) {
        Cli json(root, {"status", "1", "--json"});
        root.write_file("/var/tmp/status.json", json.wait() == 0 ? json.out() : "");
        const std::string py = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(not (" + check +
                               "))' " + root.path("/var/tmp/status.json");
        return std::system(py.c_str()) == 0;
    };
    EXPECT_TRUE(status_is("d[\"online\"] and d[\"attach\"][\"state\"] == \"attached\" and "
                          "[(c[\"apn\"], c[\"ipv4\"]) for c in d[\"connections\"]] == [(\"internet\", \"10.0.1.2\")]"));
    // Serving-cell reports (extended DM type 73, RSRP, below its valid range; 75, SINR 16 dB).
    ASSERT_EQ("ok", sim->command("inject 90 1 0000000000490002ff6a"));
    ASSERT_EQ("ok", sim->command("inject 90 1 00000000004b00020010"));
    EXPECT_TRUE(eventually([&] {
        return status_is("d[\"cell\"][\"lte\"][\"rsrp\"] is None and d[\"cell\"][\"lte\"][\"sinr\"] == 16 and "
                         "d[\"cell\"][\"nr\"] is None");
    }));
    c.send_text("nstats 1 3\n");
    EXPECT_TRUE(log.wait_for("NIC Index : 3\nTX Packets : 1200\nTX bytes: 1500000\nTX dropped : 0\nRX Packets : 900\n"));
    c.send_text("pc 1 1 0\n");
    EXPECT_TRUE(eventually([&] {
        const auto calls = sim->calls();
        return std::ranges::any_of(calls, [](const std::string& c) { return c.starts_with("LAPI_PDNConnRequest "); });
    })) << "the store's PDN type passes the check";
    c.send_text("dt 1 0\n");
    EXPECT_TRUE(eventually([&] { return std::ranges::count(log.events(), 164) >= 1; }, 20s)) << "released";
    EXPECT_TRUE(eventually([&] {
        return status_is("d[\"attach\"][\"state\"] == \"detached\" and d[\"connections\"] == [] and "
                         "d[\"attach\"][\"detaches\"] == 1");
    }));
    c.send_text("kern modem status 42\n");
    EXPECT_TRUE(eventually([&] {
        return root.read_file("/var/log/platform-calls.log").find("kern modem status 42") != std::string::npos;
    }));
    EXPECT_EQ(0, console_calls_with("at 1")) << "the shell took its lines";
}

}  // namespace
}  // namespace cnxd::test
