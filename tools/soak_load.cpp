// cnxd_soak_load: the load programs of scripts/soak, one role per process,
// against a daemon that runs in the sysroot named by CNXD_ROOT (command
// port CNXD_CMD_PORT). Every role runs for the seconds it is given, then
// prints one summary line ("ROLE: N ops, ...") and exits 0; what it meets
// on the way (a full table, a refused frame, a timeout) is counted, not
// fatal: whether the daemon still serves is the probe's to say.
//
//   churn S     sessions that open and close, that are killed without
//               closing, that never read (full sockets), junk on the
//               server socket, relayed frames
//   api S       API requests of many kinds, with short and long data
//   listen S    a log and event listener that answers keep-alive probes
//   frames S    command lines as client frames, with malformed ones
//   shell S     command lines over the TCP command port, connections
//               closed, reset or left unread
//   inject S    indications through the simulator's control socket, many
//               of them short or malformed, and malformed control lines
//   probe       one API request and one TCP line; exit 0 when both were
//               answered, printing their times in milliseconds
//   nudge       two frames relayed to every client, which release the
//               records of clients that are gone
//   keys        the daemon's 15 client IPC keys, in decimal as
//               /proc/sysvipc shows them
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/path.h"
#include "cnxd_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::mt19937 rng;

int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
bool chance(int percent) { return pick(100) < percent; }
void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

template <typename T, size_t N>
const T& any_of(const std::array<T, N>& a)
{
    return a[static_cast<size_t>(pick(static_cast<int>(N)))];
}

std::vector<uint8_t> random_bytes(size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// Counts of one role, printed at its end.
struct Tally {
    const char* role;
    long ops = 0;
    long failed = 0;   // an answer that said no (full table, refused, err)
    long timeouts = 0; // no answer within the role's bound
    ~Tally() { std::printf("%s: %ld ops, %ld refused, %ld timeouts\n", role, ops, failed, timeouts); }
};

int cmd_port()
{
    const char* p = std::getenv("CNXD_CMD_PORT");
    return p ? std::atoi(p) : 1004;
}

// ---- Shared lines --------------------------------------------------------

// Command lines that read, print usage or are refused, and go to the modem's
// console: none changes what the daemon does next (no "!", sys, test,
// download, watchdog mode, log direction, stuck switch, attach or detach:
// the DHCP cycle of the soak owns the attach).
constexpr std::array<std::string_view, 34> kLines = {
    "help", "cinfo 1", "nstats 1 8", "nstats 1 3", "gdi 1", "gdl 1", "iccid 1", "msisdn 1",
    "temperature 1", "ver", "cnxdcinfo", "arm1log", "plmncsgqs 1", "gdi", "gdi 999", "gdi 0",
    "nstats", "qspl 1", "indm 1", "sib 1", "tin 1", "guti 1", "emms 1", "bogusword 1 2 3",
    "", "   ", "ipc con always_buff 1", "uicc 1 99", "rrccapa 1 77", "oprtrcnt 1", "dm",
    "pls 1", "spsinfo 1 200", "x y z",
};

std::string some_line()
{
    switch (pick(20)) {
    case 0:
        return std::string(600, 'q');  // longer than one receive takes
    case 1: {
        std::string s = "gdi 1";
        s += '\0';
        s += "after the NUL";
        return s;
    }
    case 2: {
        auto junk = random_bytes(static_cast<size_t>(1 + pick(40)));
        for (auto& b : junk)
            if (b == '!' || b == '\n' || b == '\r' || b == 0)
                b = '.';
        return std::string(junk.begin(), junk.end());
    }
    default:
        return std::string(any_of(kLines));
    }
}

// ---- Sessions ------------------------------------------------------------

// Opens a session, retrying a full table for a while. Null when none came.
// An open that times out can still be granted after the client gave up, and
// a record nobody closes and nobody sends to stays taken: the wait is long
// enough that a busy daemon still answers within it.
constexpr int OPEN_WAIT_MS = 30000;

cnxd_session* open_session(uint32_t identity, Tally& t, int timeout_ms = OPEN_WAIT_MS)
{
    const auto end = Clock::now() + 5s;
    for (;;) {
        cnxd_session* s = nullptr;
        const int rc = cnxd_open(identity, static_cast<uint32_t>(getpid()), timeout_ms, &s);
        if (rc == CNXD_OK) {
            // Every session takes frames. A silent one (receive word 0) is
            // sent nothing but keep-alive probes, which never release a
            // record: one whose close the kernel dropped (it empties the
            // daemon's socket for a client when a send to that client is
            // refused) would keep its record until the keep-alive reboots.
            cnxd_set_receive(s, 1);
            return s;
        }
        if (rc == CNXD_E_TIMEOUT)
            ++t.timeouts;
        else
            ++t.failed;
        if (Clock::now() > end)
            return nullptr;
        sleep_ms(100);
    }
}

// Removes the socket files of a session owner that was killed (the library
// names them /var/tmp/cnxd-app-PID-N).
void remove_socket_files(pid_t pid)
{
    const std::string prefix = "cnxd-app-" + std::to_string(pid) + "-";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(cnxd::cnxd_path("/var/tmp"), ec))
        if (e.path().filename().string().starts_with(prefix))
            fs::remove(e.path(), ec);
}

// The killed children whose socket files are still there: a crashed client
// leaves its file, and the daemon tells a closed peer by it. They are
// removed some seconds later, so that an hour's run leaves no pile.
std::vector<std::pair<Clock::time_point, pid_t>> killed;

void remove_old_socket_files(bool all)
{
    std::erase_if(killed, [&](const auto& k) {
        if (!all && Clock::now() - k.first < 20s)
            return false;
        remove_socket_files(k.second);
        return true;
    });
}

// A child that opens a session and then waits to be killed; with `never_read`
// it takes every event and log text and never reads them.
void killed_client(bool never_read, int live_ms, Tally& t)
{
    const pid_t pid = fork();
    if (pid == 0) {
        cnxd_session* s = nullptr;
        // A log listener (identity 0, receive word set): the daemon learns
        // of its death from the log frames that find it gone. One that is
        // sent nothing keeps its record by design, so the load has none.
        if (cnxd_open(0, static_cast<uint32_t>(getpid()), OPEN_WAIT_MS, &s) == CNXD_OK) {
            cnxd_set_receive(s, 1);
            if (never_read)
                cnxd_subscribe_all(s, 1);
            if (!never_read && chance(50)) {
                int32_t result = 0;
                const uint8_t data[8] = {};
                cnxd_api_request(s, 1, 1, data, sizeof data, 3000, &result);
            }
        }
        for (;;)
            pause();
    }
    if (pid < 0)
        return;
    sleep_ms(live_ms);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    killed.emplace_back(Clock::now(), pid);
    remove_old_socket_files(false);
    ++t.ops;
}

// Datagrams to the server socket that are no open request (an open that
// arrives gets a session, which a sender without a session never closes).
void server_junk()
{
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string path = cnxd::cnxd_path("/var/tmp/cnxd-daemon");
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    const std::array<std::vector<uint8_t>, 4> junk = {{
        {0x01},                          // shorter than a header
        {0x01, 0x06, 0x00, 0x10, 1, 2},  // an API request on the server socket
        {0x77, 0x77, 0x00, 0x00},        // an unknown id
        random_bytes(static_cast<size_t>(5 + pick(200))),
    }};
    auto d = any_of(junk);
    if (d.size() >= 2 && d[0] == 0x01 && d[1] == 0x00)
        d[1] = 0x09;  // never HCI_API_OPEN
    sendto(fd, d.data(), d.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(fd);
}

void role_churn(Clock::time_point end)
{
    Tally t{"churn"};
    auto next_full = Clock::now();
    while (Clock::now() < end) {
        const int what = pick(20);
        if (what < 8) {
            // Open, use, close.
            cnxd_session* s = open_session(static_cast<uint32_t>(pick(3)), t);
            if (!s)
                continue;
            if (chance(30))
                cnxd_subscribe(s, 26, 1);
            int32_t result = 0;
            const uint8_t data[8] = {};
            const int rc = cnxd_api_request(s, 1, 1, data, sizeof data, 10000, &result);
            if (rc == CNXD_E_TIMEOUT)
                ++t.timeouts;
            if (chance(30)) {
                const uint8_t inner[6] = {0x01, 0x33, 0x00, 0x02, 0xAB, 0xCD};
                cnxd_relay(s, static_cast<uint32_t>(pick(3)), pick(2), inner, sizeof inner);
            }
            cnxd_dispatch(s, pick(50));
            cnxd_close(s);
            ++t.ops;
        } else if (what < 14) {
            killed_client(false, 20 + pick(400), t);
        } else if (what < 15 && Clock::now() > next_full) {
            // Full for up to a second and a half: every sender waits behind it.
            killed_client(true, 300 + pick(1200), t);
            next_full = Clock::now() + 5s;
        } else {
            server_junk();
            ++t.ops;
        }
        sleep_ms(20 + pick(80));
    }
    remove_old_socket_files(true);
}

// ---- API requests ------------------------------------------------------------

// Commands that read, answer locally or only reach the simulated modem's
// records; none brings a PDN up or down or resets the device. 8, 999 and
// 65535 are no commands.
constexpr std::array<uint16_t, 52> kApiIds = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   15,  16,  19,  44,  51,  55,  78,  80,
    82,  84,  86,  88,  90,  92,  94,  96,  99,  101, 103, 105, 107, 109, 111, 113, 135, 137,
    139, 166, 167, 168, 176, 181, 185, 272, 274, 300, 315, 326, 329, 342, 999, 65535,
};

void role_api(Clock::time_point end)
{
    Tally t{"api"};
    cnxd_session* s = nullptr;
    while (Clock::now() < end) {
        if (!s && !(s = open_session(static_cast<uint32_t>(10 + pick(5)), t))) {
            sleep_ms(200);
            continue;
        }
        const uint16_t id = any_of(kApiIds);
        std::vector<uint8_t> data;
        if (id == 181) {
            data = {0x00, 0x05, 0x00, 0x01, 0x03};  // TX power every second, three times
        } else {
            const std::array<size_t, 7> sizes = {0, 1, 3, 8, 64, 1024, 4000};
            data = random_bytes(any_of(sizes));
        }
        if (id == 166 || id == 167 || id == 168)
            data = {static_cast<uint8_t>(pick(2))};
        const uint32_t dev = chance(90) ? 1 : static_cast<uint32_t>(pick(200));
        int32_t result = 0;
        const int rc = cnxd_api_request(s, id, dev, data.data(), data.size(), 10000, &result);
        ++t.ops;
        if (rc == CNXD_E_TIMEOUT) {
            ++t.timeouts;
        } else if (rc != CNXD_OK) {
            ++t.failed;
            cnxd_close(s);
            s = nullptr;
        }
        if (s && chance(2)) {
            cnxd_close(s);
            s = nullptr;
        }
        if (s)
            cnxd_dispatch(s, 0);
        sleep_ms(pick(15));
    }
    cnxd_close(s);
}

// ---- Listeners -----------------------------------------------------------------

// One session per process: a client that waits for an open while another
// session of its own goes unread stalls every sender of the daemon (they
// retry a full socket with the table lock held) and with them the open it
// waits for. The soak runs two of these.
void role_listen(Clock::time_point end)
{
    Tally t{"listen"};
    cnxd_session* s = nullptr;
    auto next_reopen = Clock::now();
    while (Clock::now() < end) {
        if (Clock::now() > next_reopen) {
            cnxd_close(s);
            if ((s = open_session(0, t)))
                cnxd_subscribe_all(s, 1);
            next_reopen = Clock::now() + std::chrono::milliseconds(5000 + pick(5000));
        }
        if (!s) {
            sleep_ms(100);
            continue;
        }
        if (const int n = cnxd_dispatch(s, 50); n > 0)
            t.ops += n;
    }
    cnxd_close(s);
}

// ---- Command lines as client frames ------------------------------------------

void role_frames(Clock::time_point end)
{
    Tally t{"frames"};
    cnxd_session* s = nullptr;
    while (Clock::now() < end) {
        if (!s) {
            s = open_session(0, t);
            if (!s) {
                sleep_ms(200);
                continue;
            }
        }
        std::string line = some_line();
        if (chance(5))
            line.assign(4000, 'w');  // the longest line a frame carries
        else if (chance(50))
            line += '\n';
        if (cnxd_send_command(s, line.data(), line.size()) != CNXD_OK) {
            ++t.failed;
            cnxd_close(s);
            s = nullptr;
            continue;
        }
        ++t.ops;
        // Reads what comes back (and answers keep-alive probes) for a while.
        cnxd_dispatch(s, 30 + pick(100));
        if (chance(3)) {
            cnxd_close(s);
            s = nullptr;
        }
    }
    cnxd_close(s);
}

// ---- TCP command port ------------------------------------------------------------

int tcp_connect()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(cmd_port()));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// Reads what the connection has for up to `ms`; the bytes read.
size_t tcp_drain(int fd, int ms)
{
    size_t total = 0;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, ms) > 0) {
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
        ms = 0;
    }
    return total;
}

void role_shell(Clock::time_point end)
{
    Tally t{"shell"};
    int unread = -1;  // a connection that never reads, for a while
    auto unread_until = Clock::now();
    while (Clock::now() < end) {
        const int fd = tcp_connect();
        if (fd < 0) {
            ++t.failed;
            sleep_ms(200);
            continue;
        }
        const int lines = 1 + pick(5);
        size_t got = 0;
        for (int i = 0; i < lines; ++i) {
            const std::string line = some_line() + (chance(80) ? "\n" : "");
            if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) < 0)
                break;
            ++t.ops;
            // One receive is one line: let it arrive alone.
            got += tcp_drain(fd, 20 + pick(40));
        }
        // Every line comes back as the console's echo: wait for some of it,
        // as a user would, so that a held-up daemon is not flooded with
        // connections (each is a thread of its own).
        if (!got && !tcp_drain(fd, 3000))
            ++t.timeouts;
        if (unread < 0 && chance(10)) {
            unread = fd;  // kept open and never read for three seconds
            unread_until = Clock::now() + 3s;
        } else {
            if (chance(30)) {
                const linger reset{1, 0};  // closed with a reset
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            close(fd);
        }
        if (unread >= 0 && Clock::now() > unread_until) {
            close(unread);
            unread = -1;
        }
        sleep_ms(20 + pick(60));
    }
    if (unread >= 0)
        close(unread);
}

// ---- Simulator control socket --------------------------------------------------

int ltesim_connect()
{
    const std::string path = cnxd::cnxd_path("/var/tmp/ltesim.sock");
    for (int i = 0; i < 100; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            return fd;
        close(fd);
        sleep_ms(100);
    }
    return -1;
}

// One control line; its answer line, or "" when the connection failed or
// no answer came within ten seconds.
std::string ltesim_command(int fd, const std::string& line, std::string& pending)
{
    const std::string out = line + "\n";
    for (size_t sent = 0; sent < out.size();) {
        const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return "";
        sent += static_cast<size_t>(n);
    }
    const auto end = Clock::now() + 10s;
    for (;;) {
        const size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            std::string answer = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            return answer;
        }
        pollfd p{fd, POLLIN, 0};
        if (Clock::now() > end || poll(&p, 1, 1000) < 0)
            return "";
        if (!p.revents)
            continue;
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return "";
        pending.append(buf, static_cast<size_t>(n));
    }
}

std::string hex(const std::vector<uint8_t>& v)
{
    std::string s;
    char b[3];
    for (uint8_t x : v) {
        std::snprintf(b, sizeof b, "%02x", x);
        s += b;
    }
    return s;
}

// Callback ids the simulator injects; left out are the device's insert and
// removal (the soak's own cycle does those), the interface indications
// (they configure network interfaces: only the DHCP cycle, in its own
// namespace, brings them) and the host-debug command (its "!" lines run
// programs).
bool injectable(int id)
{
    switch (id) {
    case 75: case 76: case 77: case 78: case 79: case 189:
        return false;
    default:
        return id >= 0 && id <= 188;
    }
}

void role_inject(Clock::time_point end)
{
    Tally t{"inject"};
    const int fd = ltesim_connect();
    if (fd < 0) {
        ++t.failed;
        return;
    }
    std::string pending;
    auto next_cycle = Clock::now() + 10s;
    auto next_clear = Clock::now();
    while (Clock::now() < end) {
        // The simulator records every SDK call for its "calls" command; that
        // record lives in the daemon's process and is emptied here, so that
        // its growth is not taken for the daemon's.
        if (Clock::now() > next_clear) {
            ltesim_command(fd, "clear", pending);
            next_clear = Clock::now() + 1s;
        }
        std::string line;
        const int what = pick(100);
        if (what < 85) {
            int id;
            do
                id = pick(189);
            while (!injectable(id));
            const std::array<size_t, 10> sizes = {0, 1, 2, 3, 4, 7, 16, 64, 300, 2200};
            const uint32_t dev = chance(95) ? 1 : static_cast<uint32_t>(pick(130));
            line = "inject " + std::to_string(id) + " " + std::to_string(dev) + " " + hex(random_bytes(any_of(sizes)));
        } else if (what < 98) {
            const std::array<std::string, 8> bad = {
                "inject", "inject 26", "inject 999 1", "inject 26 1 zz", "inject 26 1 abc", "nonsense words",
                "set delay_ms", "inject -1 1 00",
            };
            line = any_of(bad);
        } else {
            line = "inject 26 1 " + std::string(70000, 'a');  // longer than a control line may be
        }
        const std::string answer = ltesim_command(fd, line, pending);
        ++t.ops;
        if (answer.empty()) {
            ++t.timeouts;
            break;
        }
        if (answer.starts_with("err"))
            ++t.failed;
        if (Clock::now() > next_cycle) {
            // The modem goes away and comes back: shutdown and bring-up.
            ltesim_command(fd, "set device_present 0", pending);
            sleep_ms(500);
            ltesim_command(fd, "set device_present 1", pending);
            next_cycle = Clock::now() + 15s;
        }
        sleep_ms(2 + pick(8));
    }
    close(fd);
}

// ---- Probe -------------------------------------------------------------------------

long ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How long the probe waits for each answer. The daemon may hold everything
// up for a while, as designed: an indication handler waits up to 10 s for a
// DHCP address on the SDK's callback thread (which also carries the modem
// console's echo), and every sender waits behind a client that does not
// read (up to 10 s a frame).
constexpr long kProbeMs = 20000;

int role_probe()
{
    // The API: a session (a full table is an answer too: retried) and one
    // loopback request.
    auto start = Clock::now();
    cnxd_session* s = nullptr;
    int rc;
    while ((rc = cnxd_open(9, static_cast<uint32_t>(getpid()), kProbeMs, &s)) == CNXD_E_FULL &&
           ms_since(start) < kProbeMs)
        sleep_ms(100);
    if (rc != CNXD_OK) {
        std::printf("probe: no session: %s\n", cnxd_strerror(rc));
        return 1;
    }
    cnxd_set_receive(s, 1);  // not silent: see open_session
    int32_t result = 0;
    const uint8_t data[8] = {};
    rc = cnxd_api_request(s, 1, 1, data, sizeof data, kProbeMs, &result);
    cnxd_close(s);
    if (rc != CNXD_OK) {
        std::printf("probe: API request: %s\n", cnxd_strerror(rc));
        return 1;
    }
    const long api_ms = ms_since(start);

    // The command port: a line comes back as the modem console's echo.
    start = Clock::now();
    const int fd = tcp_connect();
    if (fd < 0) {
        std::printf("probe: no connection to the command port\n");
        return 1;
    }
    const std::string line = "ver\n";
    send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::string got;
    char buf[4096];
    while (got.find("ver") == std::string::npos && ms_since(start) < kProbeMs) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    if (got.find("ver") == std::string::npos) {
        std::printf("probe: the command port did not answer\n");
        return 1;
    }
    std::printf("%ld %ld\n", api_ms, ms_since(start));
    return 0;
}

// Two frames relayed to every other client. A client that died, or whose
// close the kernel dropped with its socket's queue when a send to it was
// refused first, is released by the send that then reports it gone; its
// record would otherwise stay taken while nothing is sent to it.
int role_nudge()
{
    Tally t{"nudge"};
    cnxd_session* s = open_session(99, t);
    if (!s)
        return 1;
    const uint8_t inner[4] = {0x01, 0x33, 0x00, 0x00};
    for (int i = 0; i < 2; ++i) {
        cnxd_relay(s, 0, 1, inner, sizeof inner);
        cnxd_dispatch(s, 200);
    }
    cnxd_close(s);
    return 0;
}

int role_keys()
{
    const std::string server = cnxd::cnxd_path("/var/tmp/cnxd-daemon");
    constexpr int kClients = 15;
    for (int i = 0; i < kClients; ++i)
        std::printf("%d\n", static_cast<int>(ftok(server.c_str(), i)));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const std::string role = argc > 1 ? argv[1] : "";
    rng.seed(static_cast<unsigned>(argc > 3 ? std::strtoul(argv[3], nullptr, 0) : getpid()));
    if (role == "probe")
        return role_probe();
    if (role == "keys")
        return role_keys();
    if (role == "nudge")
        return role_nudge();
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 0;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    using Role = void (*)(Clock::time_point);
    struct {
        const char* name;
        Role run;
    } const roles[] = {{"churn", role_churn}, {"api", role_api},       {"listen", role_listen},
                       {"frames", role_frames}, {"shell", role_shell}, {"inject", role_inject}};
    for (const auto& r : roles) {
        if (role == r.name) {
            r.run(end);
            return 0;
        }
    }
    std::fprintf(stderr, "usage: cnxd_soak_load churn|api|listen|frames|shell|inject SECONDS [SEED] | probe | keys\n");
    return 2;
}
