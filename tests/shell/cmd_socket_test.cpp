// The TCP command socket in the test process: what one receive becomes, the
// echo, the broadcast of the modem's console output and its ten slots, and a
// stop that neither waits for silent connections nor leaves descriptors or
// threads behind, also after hostile input. Beside it, what every other
// entry point of command lines hands to the modem's console.
// The daemon's headers come first: the socket headers define macros that
// clash with names of the shared block layout.
#include "base/fd.h"
#include "ind/ind.h"
#include "shell/cmd_socket.h"
#include "shell/log_direction.h"
#include "shell/script.h"
#include "shell/shell_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

namespace cnxd::test {
namespace {

using namespace std::chrono_literals;

// One TCP connection to the command port on the loopback address.
class TcpClient {
public:
    explicit TcpClient(int port)
    {
        const sockaddr_in a = loopback(port);
        eventually([&] {
            fd_.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            return connect(fd_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        });
    }
    static sockaddr_in loopback(int port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        return a;
    }
    bool send_text(const std::string& text) const
    {
        return ::send(fd_.get(), text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    }
    bool wait_for(const std::string& text)
    {
        return eventually([&] { return received().find(text) != std::string::npos; }, 5s);
    }
    // Everything received so far.
    const std::string& received()
    {
        char buf[4096];
        pollfd p{fd_.get(), POLLIN, 0};
        for (ssize_t n = 0; fd_ && poll(&p, 1, 0) == 1 && (n = recv(fd_.get(), buf, sizeof buf, 0)) > 0;)
            got_.append(buf, static_cast<size_t>(n));
        return got_;
    }
    void close_now() { fd_.reset(); }

private:
    UniqueFd fd_;
    std::string got_;
};

// A port nobody listens on: bound once to port 0, then let go.
int free_port()
{
    UniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = TcpClient::loopback(0);
    socklen_t len = sizeof a;
    bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

size_t entries(const char* dir)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

class CmdSocket : public ShellTest {
protected:
    CmdSocket()
    {
        setenv("CNXD_CMD_PORT", std::to_string(port_).c_str(), 1);
        LAPI_RegisterCallbackResponse(hAPI, LAPI_CB_CLI_CMD_RSP, reinterpret_cast<LAPI_CALLBACK>(cli_cmd_rsp_route), 0);
        cmd_shell_start();
    }
    ~CmdSocket() override
    {
        cmd_shell_stop();
        unsetenv("CNXD_CMD_PORT");
        cnxd_flags = 0;
    }

    // The console texts sent to the modem since the last calls(), once
    // `done` holds for them (or the bound passes); then clears the record.
    Lines console(const std::function<bool(const Lines&)>& done, std::chrono::milliseconds bound = 10s)
    {
        Lines sent;
        eventually([&] { return done(sent = texts_of(recorded(), "LAPI_SendDMCommand")); }, bound);
        calls();
        return sent;
    }
    Lines console_one()
    {
        return console([](const Lines& l) { return !l.empty(); });
    }

    int port_ = free_port();
};

TEST_F(CmdSocket, OneReceiveIsOneEchoedLine)
{
    TcpClient c(port_);
    EXPECT_TRUE(eventually([] { return get_arm1_log_direction() == ARM1_LOG_CLIENTS; }))
        << "accepting a client switches the modem log to it";
    EXPECT_EQ(1, cmd_socket_client_count());
    calls();

    c.send_text("   cnxdf 0x9\n");
    EXPECT_TRUE(logged("cnxd_flags=0x00000009\n"));
    const std::string echo = "0e" + hex_of(std::string("   cnxdf 0x9\n\0", 14));
    EXPECT_TRUE(has(texts_of(calls(), "LAPI_CLI_CMD_RSP_DELIVER_IND"), echo))
        << "the echo: a length byte and the line with its spaces, newline and NUL";

    c.send_text("cnxdf 1\r\ncnxdf 2\n");
    EXPECT_TRUE(logged("cnxd_flags=0x00000001\n"));
    c.send_text("hello there\n");
    EXPECT_EQ((Lines{hex_of(std::string("hello there\n\0", 13))}), console_one());
    EXPECT_FALSE(has(seen(), "cnxd_flags=0x00000002\n")) << "the second line of a receive is dropped";

    c.send_text("\n");
    EXPECT_EQ((Lines{hex_of(std::string("\n\0", 2))}), console_one());
    std::string many = "cnxdf";
    for (int i = 1; i < 32; ++i)
        many += " 5";
    c.send_text(many + "\n");
    EXPECT_EQ((Lines{hex_of(many + "\n" + '\0')}), console_one()) << "32 tokens reach the modem unchanged";
    EXPECT_FALSE(has(seen(), "cnxd_flags=0x00000005\n"));
}

// A line the shell takes reaches no console; any other goes there unchanged,
// with a NUL behind it except from a client's command frame.
TEST_F(CmdSocket, EveryEntryPointSendsWhatTheShellDoesNotTake)
{
    TcpClient socket(port_);
    Session client = open_session(0x77);
    const auto write_file = [&](const std::string& target, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(root_.path(target)).parent_path());
        std::ofstream(root_.path(target), std::ios::binary) << text;
    };
    const auto host_debug = [](const std::string& line) {
        std::vector<uint8_t> rec(4);
        store_be32(rec.data(), static_cast<uint32_t>(line.size()));
        rec.insert(rec.end(), line.begin(), line.end());
        for (const ind_row& r : ind_callback_tbl)
            if (std::string_view(r.name) == "ind_host_dbg_cli_cmd_indication")
                std::get<LAPI_CALLBACK>(r.handler)(1, rec.data(), static_cast<uint32_t>(rec.size()));
    };
    const struct {
        const char* source;
        std::function<void(const std::string&)> feed;
        std::string tail;  // behind the line on the console
    } sources[] = {
        {"command socket", [&](const std::string& l) { socket.send_text(l + "\n"); }, std::string("\n\0", 2)},
        {"client frame", [&](const std::string& l) { cnxd_send_command(client.get(), l.data(), l.size()); }, ""},
        {"DM command file",
         [&](const std::string& l) {
             write_file("/var/tmp/dm-cmds", l + "\n");
             run_dm_cmd_file("/var/tmp/dm-cmds", 0);
         },
         std::string("\0", 1)},
        {"init script",
         [&](const std::string& l) {
             write_file(LTE_INIT_SCRIPT, l + "\n");
             line_proc(LTE_INIT_SCRIPT);
         },
         std::string("\0", 1)},
        {"modem host debug", host_debug, std::string("\0", 1)},
    };
    // The accept's own console line comes first.
    ASSERT_TRUE(eventually([] { return get_arm1_log_direction() == ARM1_LOG_CLIENTS; }));
    sim("sync");
    int flags = 0x40;
    for (const auto& s : sources) {
        SCOPED_TRACE(s.source);
        calls();
        char line[32];
        char printed[32];
        std::snprintf(line, sizeof line, "cnxdf 0x%x", ++flags);
        std::snprintf(printed, sizeof printed, "cnxd_flags=0x%08x\n", flags);
        s.feed(line);
        EXPECT_TRUE(logged(printed));
        s.feed("hello 1");
        EXPECT_EQ((Lines{hex_of("hello 1" + s.tail)}), console_one()) << "and nothing for the taken line";
    }
}

TEST_F(CmdSocket, ConsoleOutputGoesToTheFirstTenClients)
{
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < CMD_SOCKET_SLOTS + 1; ++i) {
        clients.push_back(std::make_unique<TcpClient>(port_));
        ASSERT_TRUE(eventually([&] { return cmd_socket_client_count() == std::min(i + 1, CMD_SOCKET_SLOTS); }));
    }
    TcpClient& eleventh = *clients.back();
    eleventh.send_text("ver\n");
    for (int i = 0; i < CMD_SOCKET_SLOTS; ++i)
        EXPECT_TRUE(clients[i]->wait_for("ltesim modem")) << "client " << i;
    EXPECT_EQ(std::string::npos, eleventh.received().find("ltesim modem")) << "served, but without output";

    clients.front()->close_now();
    EXPECT_TRUE(eventually([] { return cmd_socket_client_count() == CMD_SOCKET_SLOTS - 1; }));
    TcpClient late(port_);
    EXPECT_TRUE(eventually([] { return cmd_socket_client_count() == CMD_SOCKET_SLOTS; }));
    late.send_text("ver\n");
    EXPECT_TRUE(late.wait_for("ltesim modem")) << "a freed slot is taken again";
}

TEST_F(CmdSocket, StopsPromptlyWithoutLeaksAfterHostileInput)
{
    cmd_shell_stop();
    const size_t fds = entries("/proc/self/fd");
    const size_t tasks = entries("/proc/self/task");
    cmd_shell_start();
    {
        // Binary data (the end-to-end test sends more), then connections
        // dropped at once, fewer than the listen backlog.
        std::mt19937 rng(7);
        std::string junk(700, '\0');
        for (char& ch : junk)
            ch = static_cast<char>(rng());
        TcpClient binary(port_);
        binary.send_text(junk);
        EXPECT_TRUE(eventually([this] { return !texts_of(recorded(), "LAPI_CLI_CMD_RSP_DELIVER_IND").empty(); }))
            << "served";
        for (int i = 0; i < 8; ++i)
            TcpClient dropped(port_);
        TcpClient longline(port_);
        longline.send_text(std::string(600, 'x'));
        // Junk lines may still be on their way; the long line's two parts
        // come in order among them.
        const std::string head = hex_of(std::string(512, 'x') + "\n" + '\0');
        const std::string tail = hex_of(std::string(88, 'x') + "\n" + '\0');
        const Lines sent = console([&](const Lines& l) { return has(l, tail); }, 20s);
        EXPECT_TRUE(has(sent, tail)) << "512 bytes make one line, the rest another";
        EXPECT_LT(std::ranges::find(sent, head) - sent.begin(), std::ranges::find(sent, tail) - sent.begin());

        TcpClient silent(port_);
        TcpClient still_served(port_);
        still_served.send_text("cnxdf 0x5\n");
        EXPECT_TRUE(logged("cnxd_flags=0x00000005\n"));
        const auto start = std::chrono::steady_clock::now();
        cmd_shell_stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "a silent connection does not hold the stop";
    }
    // Not more than before: a descriptor of the set-up may close meanwhile.
    EXPECT_TRUE(eventually([&] { return entries("/proc/self/fd") <= fds && entries("/proc/self/task") <= tasks; }))
        << entries("/proc/self/fd") << " descriptors (" << fds << " before), " << entries("/proc/self/task")
        << " threads (" << tasks << " before)";
    cmd_shell_start();
}

TEST_F(CmdSocket, ConsoleOutputFollowsTheDirection)
{
    const std::string text = "first\n\nsecond\n";
    auto route = [&](uint32_t direction) {
        arm1_log_direction = direction;
        std::string copy = text;
        cli_cmd_rsp_route(0, copy.data(), static_cast<uint32_t>(copy.size()));
    };
    TcpClient c(port_);
    // The accept switched the modem's console buffering (its answer comes
    // first) and the SDK's log type.
    EXPECT_TRUE(eventually([] { return get_arm1_log_direction() == ARM1_LOG_CLIENTS; }));
    sim("sync");
    sdk_set_log_type(SDK_LOG_TYPE_FILE, "cnxd");
    const std::string before = c.received();
    logs();

    route(ARM1_LOG_OFF);
    EXPECT_EQ((Lines{text}), logs());
    route(ARM1_LOG_CLIENTS);
    EXPECT_EQ((Lines{text}), logs());
    EXPECT_TRUE(c.wait_for(text));

    route(ARM1_LOG_FILE);
    EXPECT_TRUE(eventually([&] { return root_.read("/var/log/cnxd.log").find("second") != std::string::npos; }));
    EXPECT_NE(std::string::npos, root_.read("/var/log/cnxd.log").find("first\n"));

    Session listed = open_session(0x1234);
    cnxd_set_receive(listed.get(), 1);
    ind_set_arm1_log_specific_id(std::array<uint8_t, 5>{1, 0, 0, 0x12, 0x34});
    route(ARM1_LOG_SPECIFIC_ONLY);
    std::optional<std::vector<uint8_t>> frame;
    ASSERT_TRUE(eventually([&] {
        frame = recv_datagram(listed.get(), 100);
        return frame && frame->size() > 4 && load_be16(frame->data()) == HCI_LOG;
    }));
    EXPECT_EQ(text, std::string(frame->begin() + 4, frame->end()));
    ind_set_arm1_log_specific_id(std::array<uint8_t, 5>{0, 0, 0, 0x12, 0x34});

    logs();
    route(7);
    cli_cmd_rsp_route(0, nullptr, 5);
    arm1_log_direction = ARM1_LOG_OFF;
    EXPECT_TRUE(logs().empty()) << "direction 7 and a null text print nothing";
    EXPECT_EQ(before + text, c.received()) << "only direction 2 reached the socket";

    testing::internal::CaptureStdout();
    route(ARM1_LOG_UART);
    EXPECT_EQ(text, testing::internal::GetCapturedStdout());
}

}  // namespace
}  // namespace cnxd::test
