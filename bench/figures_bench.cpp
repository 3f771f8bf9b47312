// The figures scripts/bench prints, each beside its floor: the same hops
// with nothing of the daemon on top, measured in the same run. Every one
// reports the counters "figure" and "floor" (in the unit its label names)
// and "ratio" (figure / floor); none asserts a time.
//
// - API round trip, p50 and p99, 15 clients at once against the daemon
//   process; floor: 15 datagram + semop ping-pong pairs between two
//   processes;
// - one indication forwarded to 15 subscribed clients; floor: 15 writev of
//   the same frame;
// - one log text to 15 listening clients; floor: 15 sends of the same frame;
// - a shell line over TCP ("cinfo 1": an SDK request and one log line) to
//   its log text at a listening client; floor: a TCP line to a thread of
//   another process that sends one datagram;
// - start-up to serving (a session is answered); floor: exec of the same
//   binary that only prints its usage;
// - idle RSS and context switches a second (over all threads), with the
//   watchdog, client keep-alive and network time switched on and one client
//   taking log text; floors: the RSS of an idle sleep(1), and the 5
//   switches a second an idle daemon may make.
#include <benchmark/benchmark.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "base/be.h"
#include "bench_daemon.h"
#include "core/eloop.h"
#include "ltesdk.h"
#include "server/client.h"
#include "server/delivery.h"

namespace {

using namespace bench;
namespace fs = std::filesystem;

constexpr int kClients = 15;

void report(benchmark::State& state, double figure, double floor, const char* unit)
{
    state.counters["figure"] = figure;
    state.counters["floor"] = floor;
    state.counters["ratio"] = floor > 0 ? figure / floor : 0;
    state.SetLabel(unit);
}

sockaddr_un unix_addr(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    return a;
}

// ---- API round trip, 15 clients at once -----------------------------------------

// Latencies (us) of `rounds` requests from each of `clients` sessions at once.
std::vector<double> api_latencies(int rounds, int clients = kClients)
{
    std::vector<cnxd_session*> s(static_cast<size_t>(clients));
    for (auto& c : s)
        if (cnxd_open(7, static_cast<uint32_t>(getpid()), 3000, &c) != CNXD_OK)
            return {};
    std::vector<std::vector<double>> per(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&, i] {
            const uint8_t data[8] = {};
            int32_t result = 0;
            for (int r = 0; r < rounds; ++r) {
                const auto t = Clock::now();
                if (cnxd_api_request(s[static_cast<size_t>(i)], 1, 1, data, sizeof data, 5000, &result) != CNXD_OK)
                    return;
                per[static_cast<size_t>(i)].push_back(us_since(t));
            }
        });
    for (auto& t : threads)
        t.join();
    for (auto* c : s)
        cnxd_close(c);
    std::vector<double> all;
    for (auto& v : per)
        all.insert(all.end(), v.begin(), v.end());
    return all;
}

// The floor: 15 pairs, each a thread here sending a datagram of a request's
// size and lowering a semaphore, and a thread of a child process that
// receives it and raises the semaphore.
std::vector<double> pingpong_latencies(int rounds)
{
    char tmpl[] = "/tmp/cnxd-pp.XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    std::vector<int> sems(kClients);
    for (auto& id : sems)
        id = semget(IPC_PRIVATE, 2, 0600);
    const pid_t child = fork();
    if (child == 0) {
        std::vector<std::thread> servers;
        for (int i = 0; i < kClients; ++i)
            servers.emplace_back([&, i] {
                const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
                const sockaddr_un a = unix_addr(dir + "/s" + std::to_string(i));
                bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
                uint8_t buf[4096];
                sembuf done{1, 1, 0};
                while (recv(fd, buf, sizeof buf, 0) > 0)
                    semop(sems[static_cast<size_t>(i)], &done, 1);
            });
        for (auto& t : servers)
            t.join();
        _exit(0);
    }
    for (int i = 0; i < kClients; ++i)
        wait_for(dir + "/s" + std::to_string(i));
    std::vector<std::vector<double>> per(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i)
        threads.emplace_back([&, i] {
            const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
            const sockaddr_un a = unix_addr(dir + "/s" + std::to_string(i));
            connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
            uint8_t frame[20] = {0x01, 0x06, 0x00, 0x10};
            sembuf wait{1, -1, 0};
            for (int r = 0; r < rounds; ++r) {
                const auto t = Clock::now();
                send(fd, frame, sizeof frame, 0);
                semop(sems[static_cast<size_t>(i)], &wait, 1);
                per[static_cast<size_t>(i)].push_back(us_since(t));
            }
            close(fd);
        });
    for (auto& t : threads)
        t.join();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    for (int id : sems)
        semctl(id, 0, IPC_RMID);
    fs::remove_all(dir);
    std::vector<double> all;
    for (auto& v : per)
        all.insert(all.end(), v.begin(), v.end());
    return all;
}

void BM_ApiRoundTrip15Clients(benchmark::State& state)
{
    const int p = static_cast<int>(state.range(0));
    DaemonProcess daemon;
    constexpr int kRounds = 400;
    for (auto _ : state) {
        auto api = api_latencies(kRounds);
        auto floor = pingpong_latencies(kRounds);
        if (api.size() != kClients * kRounds) {
            state.SkipWithError("requests failed");
            return;
        }
        report(state, percentile(api, p), percentile(floor, p), p == 50 ? "us p50" : "us p99");
    }
}
BENCHMARK(BM_ApiRoundTrip15Clients)->Arg(50)->Arg(99)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- The capture's cost ---------------------------------------------------------

// One client's API round trip, median of 3000, with the capture on (each
// request records its frame and its SDK call with the result) beside the
// same daemon with it off, where each record costs one load of a flag.
void BM_ApiRoundTripCaptureOnVsOff(benchmark::State& state)
{
    constexpr int kRounds = 3000;
    for (auto _ : state) {
        std::vector<double> off;
        std::vector<double> on;
        {
            DaemonProcess daemon;
            off = api_latencies(kRounds, 1);
        }
        {
            DaemonProcess daemon(true);
            on = api_latencies(kRounds, 1);
        }
        if (off.size() != kRounds || on.size() != kRounds) {
            state.SkipWithError("requests failed");
            return;
        }
        report(state, percentile(on, 50), percentile(off, 50), "us p50, capture on / off");
    }
}
BENCHMARK(BM_ApiRoundTripCaptureOnVsOff)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- Delivery to 15 clients, in this process ------------------------------------

// The server side here: client table, server socket, event loop thread for
// the handshakes; 15 library sessions with their receive word and a
// subscription to event 26.
class InprocServer {
public:
    InprocServer()
    {
        using namespace cnxd;
        char tmpl[] = "/tmp/cnxd-fw.XXXXXX";
        root_ = mkdtemp(tmpl);
        fs::create_directories(root_ + "/var/tmp");
        setenv("CNXD_ROOT", root_.c_str(), 1);
        cnxd_reload_root();
        sdk_set_log_level(2);
        eloop_init(&eloop);
        cnxd_srv_init();
        cnxd_srv_open();
        loop_ = std::thread([] { eloop_run(&eloop); });
        for (auto& c : clients) {
            cnxd_open(0, 1, 3000, &c);
            cnxd_set_receive(c, 1);
            cnxd_subscribe(c, 26, 1);
        }
    }
    ~InprocServer()
    {
        using namespace cnxd;
        for (auto* c : clients)
            cnxd_close(c);
        eloop_terminate(&eloop);
        cnxd_session* waker = nullptr;
        cnxd_open(0, 1, 100, &waker);  // any datagram wakes the loop
        loop_.join();
        cnxd_close(waker);
        cnxd_srv_deinit();
        fs::remove_all(root_);
    }
    void drain()
    {
        uint8_t sink[4096];
        for (auto* c : clients)
            while (cnxd_recv(c, sink, sizeof sink, 0) > 0) {
            }
    }
    std::array<cnxd_session*, kClients> clients{};

private:
    std::string root_;
    std::thread loop_;
};

// 15 connected datagram pairs: the floor's writers and readers.
struct RawPairs {
    RawPairs()
    {
        for (auto& p : pairs)
            socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, p.data());
    }
    ~RawPairs()
    {
        for (auto& p : pairs) {
            close(p[0]);
            close(p[1]);
        }
    }
    void drain()
    {
        uint8_t sink[4096];
        for (auto& p : pairs)
            while (recv(p[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
            }
    }
    std::array<std::array<int, 2>, kClients> pairs{};
};

// Time (ns) of one `send` over `n` rounds, with the receivers drained (not
// timed) every few rounds so that no socket fills.
template <typename Send, typename Drain>
double per_round_ns(int n, Send send, Drain drain)
{
    constexpr int kDrainEvery = 16;
    std::chrono::nanoseconds total{0};
    for (int i = 0; i < n; ++i) {
        const auto t = Clock::now();
        send();
        total += Clock::now() - t;
        if (i % kDrainEvery == kDrainEvery - 1)
            drain();
    }
    drain();
    return static_cast<double>(total.count()) / n;
}

void BM_IndicationTo15Subscribers(benchmark::State& state)
{
    InprocServer server;
    RawPairs raw;
    uint8_t dev[4];
    cnxd::store_be32(dev, 1);
    uint8_t record[60] = {};
    constexpr int kRounds = 20000;
    for (auto _ : state) {
        const double figure = per_round_ns(kRounds, [&] {
            iovec pieces[3] = {{nullptr, 0}, {dev, sizeof dev}, {record, sizeof record}};
            cnxd::cnxd_srv_send_sdk_cb_assemble_hci(26, pieces, 3);
        }, [&] { server.drain(); });
        uint8_t header[8] = {0x81, 0x07, 0x00, 0x44, 0x00, 0x1a, 0x00, 0x40};
        const double floor = per_round_ns(kRounds, [&] {
            iovec pieces[3] = {{header, sizeof header}, {dev, sizeof dev}, {record, sizeof record}};
            for (auto& p : raw.pairs)
                writev(p[0], pieces, 3);
        }, [&] { raw.drain(); });
        report(state, figure / 1000, floor / 1000, "us");
    }
}
BENCHMARK(BM_IndicationTo15Subscribers)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LogTo15Listeners(benchmark::State& state)
{
    InprocServer server;
    RawPairs raw;
    const char* text = "[cm_get_connection_info   ] There is no Connection Info for DEV_IDX(1)\n";
    constexpr int kRounds = 20000;
    for (auto _ : state) {
        const double figure =
            per_round_ns(kRounds, [&] { cnxd::cnxd_srv_send_log("%s", text); }, [&] { server.drain(); });
        uint8_t frame[128];
        const size_t len = std::strlen(text);
        cnxd::store_be16(frame, 0x8103);
        cnxd::store_be16(frame + 2, static_cast<uint16_t>(len));
        std::memcpy(frame + 4, text, len);
        const double floor = per_round_ns(kRounds, [&] {
            for (auto& p : raw.pairs)
                send(p[0], frame, 4 + len, MSG_NOSIGNAL);
        }, [&] { raw.drain(); });
        report(state, figure / 1000, floor / 1000, "us");
    }
}
BENCHMARK(BM_LogTo15Listeners)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- A shell line over TCP to its log text -------------------------------------------

int tcp_connect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads the TCP connection's echo and console output without waiting.
void drain_tcp(int fd)
{
    char buf[4096];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

// Latencies (us) from the send of a line to the first log frame that has
// `needle`.
std::vector<double> shell_latencies(int port, int rounds)
{
    cnxd_session* s = nullptr;
    if (cnxd_open(0, static_cast<uint32_t>(getpid()), 3000, &s) != CNXD_OK)
        return {};
    cnxd_set_receive(s, 1);
    const int fd = tcp_connect(port);
    std::vector<double> out;
    uint8_t buf[4096];
    for (int r = 0; r < rounds && fd >= 0; ++r) {
        while (cnxd_recv(s, buf, sizeof buf, 0) > 0) {
        }
        drain_tcp(fd);
        const auto t = Clock::now();
        send(fd, "cinfo 1\n", 8, MSG_NOSIGNAL);
        for (;;) {
            const int n = cnxd_recv(s, buf, sizeof buf, 2000);
            if (n <= 0) {
                out.clear();
                r = rounds;
                break;
            }
            if (std::string_view(reinterpret_cast<const char*>(buf), static_cast<size_t>(n)).find("Connection Info") !=
                std::string_view::npos) {
                out.push_back(us_since(t));
                break;
            }
        }
    }
    if (fd >= 0)
        close(fd);
    cnxd_close(s);
    return out;
}

// The floor: a TCP line to a thread of a child process that receives it and
// sends one datagram to our socket.
std::vector<double> tcp_to_datagram_latencies(int rounds)
{
    char tmpl[] = "/tmp/cnxd-tcp.XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string path = dir + "/listener";
    const int dgram = socket(AF_UNIX, SOCK_DGRAM, 0);
    const sockaddr_un a = unix_addr(path);
    bind(dgram, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    const int port = free_tcp_port();
    const pid_t child = fork();
    if (child == 0) {
        const int l = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in.sin_port = htons(static_cast<uint16_t>(port));
        bind(l, reinterpret_cast<sockaddr*>(&in), sizeof in);
        listen(l, 1);
        const int c = accept(l, nullptr, nullptr);
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const int out = socket(AF_UNIX, SOCK_DGRAM, 0);
        char buf[512];
        uint8_t frame[40] = {0x81, 0x03, 0x00, 0x1c};
        while (recv(c, buf, sizeof buf, 0) > 0)
            sendto(out, frame, sizeof frame, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        _exit(0);
    }
    int fd = -1;
    for (int i = 0; i < 1000 && fd < 0; ++i) {
        fd = tcp_connect(port);
        if (fd < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::vector<double> out;
    uint8_t buf[64];
    for (int r = 0; r < rounds && fd >= 0; ++r) {
        const auto t = Clock::now();
        send(fd, "cinfo 1\n", 8, MSG_NOSIGNAL);
        if (recv(dgram, buf, sizeof buf, 0) <= 0)
            break;
        out.push_back(us_since(t));
    }
    if (fd >= 0)
        close(fd);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(dgram);
    fs::remove_all(dir);
    return out;
}

void BM_ShellLineOverTcpToItsLog(benchmark::State& state)
{
    DaemonProcess daemon;
    constexpr int kRounds = 300;
    for (auto _ : state) {
        auto figure = shell_latencies(daemon.port(), kRounds);
        auto floor = tcp_to_datagram_latencies(kRounds);
        if (figure.empty()) {
            state.SkipWithError("no log text came back");
            return;
        }
        report(state, percentile(figure, 50), percentile(floor, 50), "us p50");
    }
}
BENCHMARK(BM_ShellLineOverTcpToItsLog)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- Start-up and idle RSS --------------------------------------------------------------

double usage_exec_us()
{
    const auto t = Clock::now();
    const pid_t pid = spawn({CNXD_BINARY, "-h"}, {});
    waitpid(pid, nullptr, 0);
    return us_since(t);
}

void BM_StartupToServing(benchmark::State& state)
{
    for (auto _ : state) {
        double figure = 0;
        double floor = 0;
        constexpr int kStarts = 5;
        for (int i = 0; i < kStarts; ++i) {
            DaemonProcess daemon;
            figure += daemon.startup_us();
            floor += usage_exec_us();
        }
        report(state, figure / kStarts / 1000, floor / kStarts / 1000, "ms");
    }
}
BENCHMARK(BM_StartupToServing)->Iterations(1)->Unit(benchmark::kMillisecond);

// Context switches so far, voluntary or not, of all threads of `pid`.
long context_switches(pid_t pid)
{
    long total = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
        total += status_value(task.path() / "status", "voluntary_ctxt_switches:") +
                 status_value(task.path() / "status", "nonvoluntary_ctxt_switches:");
    return total;
}

// The daemon idle with every subsystem that runs on its own switched on.
struct IdleDaemon {
    DaemonProcess daemon{false,
                         {"config wan lte watchdog ENABLE 1", "config wan lte watchdog retry_time 20000",
                          "config wan lte watchdog expired_time 60000", "config wan lte cnxdkeepalive ENABLE 1",
                          "config system_time ENABLE 1"}};
    cnxd_session* listener = nullptr;
    IdleDaemon()
    {
        if (cnxd_open(7, static_cast<uint32_t>(getpid()), 3000, &listener) == CNXD_OK)
            cnxd_set_receive(listener, 1);
        // Past the bring-up and the first keep-alive probe.
        std::this_thread::sleep_for(std::chrono::seconds(6));
    }
    ~IdleDaemon() { cnxd_close(listener); }
};

void BM_IdleRssAfterStart(benchmark::State& state)
{
    for (auto _ : state) {
        IdleDaemon idle;
        const pid_t sleeper = spawn({"/bin/sleep", "3"}, {});
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long figure = rss_kb(idle.daemon.pid());
        const long floor = rss_kb(sleeper);
        kill(sleeper, SIGKILL);
        waitpid(sleeper, nullptr, 0);
        report(state, static_cast<double>(figure), static_cast<double>(floor), "kB");
    }
}
BENCHMARK(BM_IdleRssAfterStart)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_IdleContextSwitches(benchmark::State& state)
{
    constexpr int kSeconds = 20;
    constexpr double kAllowed = 5;
    for (auto _ : state) {
        IdleDaemon idle;
        const long before = context_switches(idle.daemon.pid());
        std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
        const long after = context_switches(idle.daemon.pid());
        report(state, static_cast<double>(after - before) / kSeconds, kAllowed, "switches/s");
    }
}
BENCHMARK(BM_IdleContextSwitches)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
