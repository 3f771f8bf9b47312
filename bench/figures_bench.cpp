// The figures scripts/bench prints, each beside its floor: the same hops
// with nothing of the daemon on top, measured in the same run. Every one
// reports the counters "figure" and "floor" (in the unit its label names)
// and "ratio" (figure / floor); none asserts a time.
//
// - API round trip, p50 and p99, of 15 client processes at once against
//   the daemon process; floor: one process with one select loop over 15
//   datagram sockets that writes each request's result word and raises
//   the client's semaphore (Floor below); and of one client, whose floor is
//   that loop with one socket: a bare datagram and semaphore ping-pong;
// - the same for one client with the capture on; floor: capture off;
// - one indication forwarded to 15 subscribed clients; floor: 15 writev of
//   the same frame (and, without a floor, to 1 and to 15 clients as Google
//   Benchmark times it);
// - one log text to 15 listening clients; floor: 15 sends of the same frame;
// - a shell line over TCP ("cinfo 1": an SDK request and one log line) to
//   its log text at a listening client; floor: a TCP line to a thread of
//   another process that sends one datagram;
// - start-up to serving (a session is answered); floor: exec of the same
//   binary that only prints its usage;
// - idle RSS, private dirty memory and context switches a second (over all
//   threads), with the watchdog, client keep-alive and network time
//   switched on and one client taking log text; floors: the RSS of an idle
//   sleep(1), and the 1 MiB and 5 switches a second an idle daemon may
//   take;
// - the stripped daemon; floor: the 1.5 MiB it may take.
// Before <netinet/in.h>, which defines IPV6_MTU, a name hci.h declares.
#include "server/hci.h"

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <sys/mman.h>
#include <sys/select.h>
#include <sys/shm.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <string_view>
#include <thread>

#include "base/be.h"
#include "base/capture.h"
#include "base/path.h"
#include "cnxd_client.h"
#include "core/eloop.h"
#include "integration/harness.h"
#include "ltesdk.h"
#include "server/client.h"
#include "server/delivery.h"

namespace {

namespace fs = std::filesystem;
using cnxd::test::free_tcp_port;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 15;
// Where the capture goes, inside the daemon's sysroot.
constexpr const char* kCapture = "/var/tmp/cnxd.pcapng";

double us_since(Clock::time_point start) { return std::chrono::duration<double, std::micro>(Clock::now() - start).count(); }

bool wait_for(const std::string& path)
{
    return cnxd::test::eventually([&] { return fs::exists(path); });
}

// The p-th percentile (0-100) of `v` (sorted in place).
double percentile(std::vector<double>& v, int p)
{
    if (v.empty())
        return 0;
    std::ranges::sort(v);
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100)];
}

// The number after `key` ("VmRSS:", say) in a /proc status file, 0 when
// it is not there.
long status_value(const fs::path& status, std::string_view key)
{
    std::ifstream in(status);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key))
            return std::atol(line.c_str() + key.size());
    return 0;
}

long rss_kb(pid_t pid) { return status_value("/proc/" + std::to_string(pid) + "/status", "VmRSS:"); }

pid_t spawn(const std::vector<std::string>& argv) { return cnxd::test::spawn(argv, "/dev/null"); }

// The daemon as the tests start it, quiet (log level 2), timed from its
// start until a session is answered. With `capture` it records its traffic
// into the sysroot's /var/tmp/cnxd.pcapng; each of `settings` ("config wan
// lte ... KEY VALUE") is set in the store before the start.
class DaemonProcess {
public:
    explicit DaemonProcess(bool capture = false, const std::vector<std::string>& settings = {})
    {
        for (const std::string& setting : settings)
            if (!root_.confdb_set(setting))
                std::abort();
        std::vector<std::string> prefix;
        if (capture)
            prefix = {"env", std::string("CNXD_CAPTURE=") + kCapture};
        const auto start = Clock::now();
        if (!daemon_.start({}, prefix))
            std::abort();
        setenv("CNXD_ROOT", root_.dir().c_str(), 1);
        cnxd::cnxd_reload_root();
        cnxd_session* s = nullptr;
        while (cnxd_open(0, static_cast<uint32_t>(getpid()), 100, &s) != CNXD_OK)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cnxd_close(s);
        startup_us_ = us_since(start);
    }
    // Ends the daemon (its capture file is then complete).
    void stop() { daemon_.stop(SIGTERM); }

    pid_t pid() const { return daemon_.pid(); }
    const std::string& root() const { return root_.dir(); }
    std::string capture_file() const { return root_.path(kCapture); }
    int port() const { return daemon_.cmd_port(); }
    double startup_us() const { return startup_us_; }

private:
    cnxd::test::Sysroot root_;
    cnxd::test::Daemon daemon_{root_, 2};
    double startup_us_ = 0;
};

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

// ---- API round trip: the daemon beside its floor -----------------------------------

// Each client is a process of its own, as on the router. `n` clients make
// `rounds` requests each, all at once; `client(i, rounds, out, ready)` runs
// in child i: it sets up, calls `ready()` (which returns when every client
// is set up) and leaves `slots` latencies (us) in out[0, slots). Empty
// when a client failed.
template <typename Client>
std::vector<double> run_clients(int n, int slots, Client client)
{
    const size_t total = static_cast<size_t>(n) * static_cast<size_t>(slots);
    const size_t bytes = total * sizeof(double) + sizeof(std::atomic<int>);
    void* map = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* lat = static_cast<double*>(map);
    auto* set_up = new (lat + total) std::atomic<int>(0);
    int go[2];
    if (pipe(go) != 0)
        std::abort();
    std::vector<pid_t> kids;
    for (int i = 0; i < n; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            const bool ok = client(i, lat + static_cast<size_t>(i) * static_cast<size_t>(slots), [&] {
                ++*set_up;
                char c;
                return read(go[0], &c, 1) == 1;
            });
            _exit(ok ? 0 : 1);
        }
        kids.push_back(pid);
    }
    close(go[0]);
    for (int i = 0; i < 10000 && *set_up < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string all(static_cast<size_t>(n), 'g');
    if (write(go[1], all.data(), all.size()) != static_cast<ssize_t>(all.size()))
        std::abort();
    close(go[1]);
    bool ok = true;
    for (pid_t pid : kids) {
        int status = 0;
        waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::vector<double> out;
    if (ok)
        out.assign(lat, lat + total);
    munmap(map, bytes);
    return out;
}

// A client of the daemon at `root` through the library: API command 1.
// Each client below sets up in its process (set_up), makes one request at
// a time (once) and leaves (end).
struct ApiClient {
    std::string root;
    cnxd_session* s = nullptr;

    bool set_up(int)
    {
        setenv("CNXD_ROOT", root.c_str(), 1);
        cnxd::cnxd_reload_root();
        return cnxd_open(7, static_cast<uint32_t>(getpid()), 3000, &s) == CNXD_OK;
    }
    bool once()
    {
        const uint8_t data[8] = {};
        int32_t result = 0;
        return cnxd_api_request(s, 1, 1, data, sizeof data, 5000, &result) == CNXD_OK;
    }
    void end() { cnxd_close(s); }
};

// The floor of the architecture: one process with one select loop over a
// Unix datagram socket per client that, for each request datagram, reads
// it, writes the result word into that client's shared block and raises
// its completion semaphore. Its clients send a request's 20 bytes and wait
// on their semaphore with a timeout as the library does, then read the
// result word.
class Floor {
public:
    explicit Floor(int n) : n_(n)
    {
        char tmpl[] = "/tmp/cnxd-fl.XXXXXX";
        dir_ = mkdtemp(tmpl);
        for (int i = 0; i < n; ++i) {
            shms_.push_back(shmget(IPC_PRIVATE, cnxd::shm::SIZE, 0600));
            sems_.push_back(semget(IPC_PRIVATE, 2, 0600));
        }
        server_ = fork();
        if (server_ == 0)
            serve();
        for (int i = 0; i < n; ++i)
            wait_for(path(i));
    }
    ~Floor()
    {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
        for (int i = 0; i < n_; ++i) {
            shmctl(shms_[static_cast<size_t>(i)], IPC_RMID, nullptr);
            semctl(sems_[static_cast<size_t>(i)], 0, IPC_RMID);
        }
        fs::remove_all(dir_);
    }
    Floor(const Floor&) = delete;
    Floor& operator=(const Floor&) = delete;

    struct Client {
        const Floor* floor;
        int fd = -1;
        int sem = -1;
        uint8_t* block = nullptr;

        bool set_up(int i)
        {
            const auto at = static_cast<size_t>(i);
            fd = socket(AF_UNIX, SOCK_DGRAM, 0);
            sem = floor->sems_[at];
            block = static_cast<uint8_t*>(shmat(floor->shms_[at], nullptr, 0));
            const sockaddr_un a = unix_addr(floor->path(i));
            return connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        }
        bool once()
        {
            const uint8_t frame[20] = {0x01, 0x06, 0x00, 0x10, 0x00, 0x01, 0x00, 0x0c};
            if (send(fd, frame, sizeof frame, 0) != sizeof frame)
                return false;
            sembuf wait{cnxd::SEM_DONE, -1, 0};
            timespec ts{5, 0};
            return semtimedop(sem, &wait, 1, &ts) == 0 && cnxd::load_be32(block + cnxd::shm::RESULT) == 0;
        }
        void end()
        {
            close(fd);
            shmdt(block);
        }
    };
    Client client() const { return {this}; }

private:
    std::string path(int i) const { return dir_ + "/s" + std::to_string(i); }

    [[noreturn]] void serve()
    {
        std::vector<int> fds;
        std::vector<uint8_t*> blocks;
        int max_fd = 0;
        for (int i = 0; i < n_; ++i) {
            const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
            const sockaddr_un a = unix_addr(path(i));
            bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
            fds.push_back(fd);
            max_fd = std::max(max_fd, fd);
            blocks.push_back(static_cast<uint8_t*>(shmat(shms_[static_cast<size_t>(i)], nullptr, 0)));
        }
        uint8_t buf[cnxd::HCI_MAX_FRAME];
        for (;;) {
            fd_set ready;
            FD_ZERO(&ready);
            for (int fd : fds)
                FD_SET(fd, &ready);
            if (select(max_fd + 1, &ready, nullptr, nullptr, nullptr) < 0)
                continue;
            for (size_t i = 0; i < fds.size(); ++i) {
                if (!FD_ISSET(fds[i], &ready) || recv(fds[i], buf, sizeof buf, MSG_DONTWAIT) <= 0)
                    continue;
                cnxd::store_be32(blocks[i] + cnxd::shm::RESULT, 0);
                sembuf done{cnxd::SEM_DONE, 1, 0};
                semop(sems_[i], &done, 1);
            }
        }
    }

    int n_;
    std::string dir_;
    std::vector<int> shms_;
    std::vector<int> sems_;
    pid_t server_ = -1;
};

// `rounds` requests of each of `n` clients against server a and against
// server b, so that both meet the same load of the machine: in chunks
// taken in turn, all clients against a, then all against b, each chunk in
// client processes of its own. Where the scheduler puts a client beside
// its server decides much of a round trip here (a wake-up of the other,
// idle processor costs tens of microseconds), and it tends to hold for a
// process's life: one process would measure one draw of it, and one
// client alternating between a and b would measure which of the two
// shares its processor.
template <typename A, typename B>
std::pair<std::vector<double>, std::vector<double>> side_by_side(int n, int rounds, A a, B b)
{
    constexpr int kChunks = 16;
    const int per_chunk = rounds / kChunks;
    auto run = [&](auto server) {
        return run_clients(n, per_chunk, [&](int i, double* out, auto ready) {
            if (!server.set_up(i) || !ready())
                return false;
            for (int r = 0; r < per_chunk; ++r) {
                const auto t = Clock::now();
                if (!server.once())
                    return false;
                out[r] = us_since(t);
            }
            server.end();
            return true;
        });
    };
    std::vector<double> first;
    std::vector<double> second;
    for (int c = 0; c < kChunks; ++c) {
        auto x = run(a);
        auto y = run(b);
        if (x.empty() || y.empty())
            return {};
        first.insert(first.end(), x.begin(), x.end());
        second.insert(second.end(), y.begin(), y.end());
    }
    return {first, second};
}

constexpr int kRequestsPerClient = 2000;

// Past the daemons' bring-up (the modem's start, the online request, the
// first indications), whose threads would otherwise share the machine with
// a short run.
void settle() { std::this_thread::sleep_for(std::chrono::seconds(3)); }

// 15 clients at once against the daemon and against the floor; one client
// against the daemon and against the floor with one socket, which is a bare
// datagram and semaphore ping-pong.
void BM_ApiRoundTrip(benchmark::State& state)
{
    const int clients = static_cast<int>(state.range(0));
    const int p = static_cast<int>(state.range(1));
    DaemonProcess daemon;
    Floor floor(clients);
    settle();
    for (auto _ : state) {
        auto [api, bare] = side_by_side(clients, kRequestsPerClient, ApiClient{daemon.root()}, floor.client());
        if (api.empty()) {
            state.SkipWithError("requests failed");
            return;
        }
        report(state, percentile(api, p), percentile(bare, p), p == 50 ? "us p50" : "us p99");
    }
}
BENCHMARK(BM_ApiRoundTrip)
    ->ArgNames({"clients", "p"})
    ->Args({15, 50})
    ->Args({15, 99})
    ->Args({1, 50})
    ->Args({1, 99})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---- The capture's cost ---------------------------------------------------------

// The blocks of each record kind in a capture file.
std::map<int, int> capture_kinds(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<int, int> kinds;
    constexpr size_t kHeader = 48;  // section header and interface blocks
    constexpr size_t kEpbHead = 28;
    for (size_t at = kHeader; at + kEpbHead < file.size();) {
        const size_t len = cnxd::load_be32(file.data() + at + 4);
        if (len < kEpbHead || at + len > file.size())
            break;
        ++kinds[file[at + kEpbHead]];
        at += len;
    }
    return kinds;
}

// One client's 10,000 API requests with the capture on (each request
// records its frame and its SDK call with the result) beside a daemon with
// it off, where each record costs one load of a flag; p50 and the records
// the capture dropped, which must be none.
void BM_ApiRoundTripCaptureOnVsOff(benchmark::State& state)
{
    constexpr int kRounds = 10000;
    for (auto _ : state) {
        DaemonProcess off;
        DaemonProcess on(true);
        settle();
        auto [with, without] = side_by_side(1, kRounds, ApiClient{on.root()}, ApiClient{off.root()});
        on.stop();
        const auto kinds = capture_kinds(on.capture_file());
        const auto count = [&](cnxd::capture_kind k) {
            const auto it = kinds.find(static_cast<int>(k));
            return it == kinds.end() ? 0 : it->second;
        };
        if (with.empty() || without.empty()) {
            state.SkipWithError("requests failed");
            return;
        }
        state.counters["sdk_calls"] = count(cnxd::capture_kind::sdk_call);
        state.counters["drop_records"] = count(cnxd::capture_kind::drops);
        report(state, percentile(with, 50), percentile(without, 50), "us p50, capture on / off");
    }
}
BENCHMARK(BM_ApiRoundTripCaptureOnVsOff)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- Delivery to 15 clients, in this process ------------------------------------

// The server side here: client table, server socket, event loop thread for
// the handshakes; `n` library sessions with their receive word and a
// subscription to event 26.
class InprocServer {
public:
    explicit InprocServer(int n = kClients) : clients(static_cast<size_t>(n))
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
    std::vector<cnxd_session*> clients;

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

// Forwarding one 64-byte indication to 1 and to 15 subscribed clients, as
// Google Benchmark times it.
void BM_Forward64ByteIndication(benchmark::State& state)
{
    InprocServer server(static_cast<int>(state.range(0)));
    uint8_t dev[4];
    cnxd::store_be32(dev, 1);
    uint8_t record[60] = {};
    // Drained every so many sends, before a client's socket fills.
    constexpr int kDrainEvery = 64;
    int sent = 0;
    for (auto _ : state) {
        iovec pieces[3] = {{nullptr, 0}, {dev, sizeof dev}, {record, sizeof record}};
        cnxd::cnxd_srv_send_sdk_cb_assemble_hci(26, pieces, 3);
        if (++sent % kDrainEvery == 0) {
            state.PauseTiming();
            server.drain();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Forward64ByteIndication)->Arg(1)->Arg(15);

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
    const pid_t pid = spawn({CNXD_BINARY, "-h"});
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

// Arg 0: idle RSS beside that of an idle sleep(1); arg 1: idle private
// dirty memory (what the daemon costs the router alone) beside the 1 MiB
// it may take.
void BM_IdleMemoryAfterStart(benchmark::State& state)
{
    constexpr double kAllowedPrivateDirtyKb = 1024;
    for (auto _ : state) {
        IdleDaemon idle;
        const pid_t sleeper = spawn({"/bin/sleep", "3"});
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::string proc = "/proc/" + std::to_string(idle.daemon.pid());
        const long rss = rss_kb(idle.daemon.pid());
        const long dirty = status_value(proc + "/smaps_rollup", "Private_Dirty:");
        const long floor = rss_kb(sleeper);
        kill(sleeper, SIGKILL);
        waitpid(sleeper, nullptr, 0);
        if (state.range(0) == 0)
            report(state, static_cast<double>(rss), static_cast<double>(floor), "kB RSS");
        else
            report(state, static_cast<double>(dirty), kAllowedPrivateDirtyKb, "kB private dirty");
    }
}
BENCHMARK(BM_IdleMemoryAfterStart)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// The stripped daemon beside the 1.5 MiB it may take on the router's flash.
void BM_StrippedDaemonSize(benchmark::State& state)
{
    constexpr double kAllowedKb = 1536;
    for (auto _ : state) {
        const std::string out = fs::temp_directory_path() / ("cnxd-stripped-" + std::to_string(getpid()));
        if (std::system(("strip -o " + out + " " CNXD_BINARY).c_str()) != 0) {
            state.SkipWithError("strip failed");
            return;
        }
        const double kb = static_cast<double>(fs::file_size(out)) / 1024;
        fs::remove(out);
        report(state, kb, kAllowedKb, "kB stripped");
    }
}
BENCHMARK(BM_StrippedDaemonSize)->Iterations(1)->Unit(benchmark::kMillisecond);

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

BENCHMARK_MAIN();
