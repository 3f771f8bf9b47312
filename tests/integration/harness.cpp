#include "integration/harness.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/be.h"

namespace cnxd::test {

namespace fs = std::filesystem;

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
            const std::string& in, const std::vector<std::pair<std::string, std::string>>& env)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(o, STDOUT_FILENO);
        dup2(err.empty() ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), STDERR_FILENO);
        if (!in.empty())
            dup2(open(in.c_str(), O_RDONLY), STDIN_FILENO);
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int wait_child(pid_t pid, std::chrono::milliseconds bound)
{
    int status = 0;
    if (!eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, bound)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// ---- Sysroot -------------------------------------------------------------

Sysroot::Sysroot()
{
    // Short, so that socket paths inside stay well within sun_path.
    char tmpl[] = "/tmp/cnxd-t.XXXXXX";
    dir_ = mkdtemp(tmpl);
    const std::string cmd = std::string(CNXD_SOURCE_DIR) + "/scripts/mkroot " + dir_ + " " + CNXD_BUILD_DIR;
    if (std::system(cmd.c_str()) != 0)
        std::abort();
}

Sysroot::~Sysroot()
{
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void Sysroot::write_file(const std::string& target_path, const std::string& text) const
{
    fs::create_directories(fs::path(path(target_path)).parent_path());
    // A file the sysroot links to (a tool of the build tree) is replaced in
    // the sysroot, never written through the link.
    if (fs::is_symlink(path(target_path)))
        fs::remove(path(target_path));
    std::ofstream(path(target_path)) << text;
}

bool Sysroot::exists(const std::string& target_path) const { return fs::exists(path(target_path)); }

bool Sysroot::confdb_set(const std::string& args) const
{
    return std::system(("CNXD_ROOT=" + dir_ + " " + path("/bin/confdb") + " set " + args).c_str()) == 0;
}

int Sysroot::ipc_key(int index) const { return ftok(path("/var/tmp/cnxd-daemon").c_str(), index); }

int count_of(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

int free_tcp_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// ---- Daemon --------------------------------------------------------------

Daemon::~Daemon()
{
    // A test that did not stop its daemon: ask it to stop so that it removes
    // its clients' IPC objects; kill it only when it does not.
    if (pid_ > 0 && !stop(SIGTERM, 5s))
        stop(SIGKILL);
}

bool Daemon::start(const std::vector<std::string>& extra_args, const std::vector<std::string>& prefix)
{
    log_path_ = root_.dir() + "/daemon.log";
    std::vector<std::string> args = prefix;
    args.insert(args.end(), {CNXD_BINARY, "-f", "-g", std::to_string(log_level_)});
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    cmd_port_ = free_tcp_port();
    pid_ = spawn(args, log_path_, "", "", {{"CNXD_ROOT", root_.dir()}, {"CNXD_CMD_PORT", std::to_string(cmd_port_)}});
    // Ready once start-up is over and the event loop runs: every thread and
    // descriptor of the running daemon exists by then.
    return (log_level_ < 7 ||
            eventually([&] { return log().find("serving clients") != std::string::npos || !running(); }, 10s)) &&
           running();
}

void Daemon::signal(int sig) const
{
    if (pid_ > 0)
        kill(pid_, sig);
}

bool Daemon::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return false;
    }
    return true;
}

std::optional<int> Daemon::stop(int sig, std::chrono::milliseconds bound)
{
    signal(sig);
    if (!eventually([&] { return !running(); }, bound))
        return std::nullopt;
    // A daemon that failed tells why in its output: show the end of it.
    if (exit_status_ != 0) {
        const std::string all = log();
        std::fprintf(stderr, "daemon exit %d, its output ends:\n%s\n", exit_status_,
                     all.substr(all.size() - std::min<size_t>(all.size(), 4000)).c_str());
    }
    return exit_status_;
}

bool Daemon::wait_for_log(const std::string& text, std::chrono::milliseconds bound) const
{
    return eventually([&] { return log().find(text) != std::string::npos; }, bound);
}

long Daemon::open_fds() const
{
    return std::ranges::distance(fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd"));
}

int Daemon::count_in_log(const std::string& text) const { return count_of(log(), text); }

// ---- RawClient -----------------------------------------------------------

namespace {

sockaddr_un unix_addr(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    return a;
}

bool send_dgram(int fd, const std::string& to, const Bytes& d)
{
    const sockaddr_un a = unix_addr(to);
    return sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(d.size());
}

}  // namespace

RawClient::RawClient(const Sysroot& root, const std::string& name) : root_(root)
{
    path_ = root.path(name.starts_with('/') ? name : "/var/tmp/test-" + name);
    fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
    unlink(path_.c_str());
    const sockaddr_un a = unix_addr(path_);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        std::abort();
}

RawClient::~RawClient()
{
    if (shm_)
        shmdt(shm_);
    close(fd_);
    unlink(path_.c_str());
}

uint8_t* RawClient::attach()
{
    if (shm_)
        return shm_;
    const int id = shmget(ipc_key(), 0, 0);
    if (id < 0)
        return nullptr;
    void* p = shmat(id, nullptr, 0);
    shm_ = p == reinterpret_cast<void*>(-1) ? nullptr : static_cast<uint8_t*>(p);
    return shm_;
}

void RawClient::set_word(size_t k, uint32_t value)
{
    if (uint8_t* block = attach())
        store_be32(block + 4 * k, value);
}

void RawClient::subscribe_all()
{
    for (size_t k = 1; k <= 377; ++k)
        set_word(k, 1);
}

bool RawClient::wait_done(std::chrono::milliseconds bound) const
{
    const int semid = semget(ipc_key(), 0, 0);
    sembuf wait_done{1, -1, 0};
    const timespec ts{static_cast<time_t>(bound.count() / 1000), static_cast<long>(bound.count() % 1000) * 1000000L};
    return semid >= 0 && semtimedop(semid, &wait_done, 1, &ts) == 0;
}

std::optional<int32_t> RawClient::api_request(uint16_t cmd, uint32_t dev, const Bytes& data,
                                              std::chrono::milliseconds bound)
{
    if (!send(api_frame(cmd, dev, data)) || !wait_done(bound) || !attach())
        return std::nullopt;
    return static_cast<int32_t>(load_be32(shm_ + 1516));
}

bool RawClient::send_to_server(const Bytes& datagram) const
{
    return send_dgram(fd_, root_.path("/var/tmp/cnxd-daemon"), datagram);
}

std::optional<uint8_t> RawClient::open(std::optional<std::pair<uint32_t, uint32_t>> id_pid,
                                       std::chrono::milliseconds bound)
{
    Bytes payload;
    if (id_pid) {
        payload.resize(8);
        store_be32(payload.data(), id_pid->first);
        store_be32(payload.data() + 4, id_pid->second);
    }
    if (!send_to_server(hci_frame(0x0100, payload)))
        return std::nullopt;
    for (;;) {
        const auto rsp = recv(bound);
        if (!rsp)
            return std::nullopt;
        // Skip anything but the open answer (log frames may arrive first).
        if (rsp->size() == 5 && load_be16(rsp->data()) == 0x8101 && load_be16(rsp->data() + 2) == 1) {
            index_ = (*rsp)[4] == 0xFF ? -1 : (*rsp)[4];
            return (*rsp)[4];
        }
    }
}

std::string RawClient::daemon_side() const
{
    return root_.path("/var/tmp/cnxd-client-" + std::to_string(index_));
}

bool RawClient::send(const Bytes& datagram) const
{
    return send_dgram(fd_, daemon_side(), datagram);
}

bool RawClient::connect_to_daemon() const
{
    const sockaddr_un a = unix_addr(daemon_side());
    return index_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

std::optional<Bytes> RawClient::recv(std::chrono::milliseconds bound) const
{
    pollfd p{fd_, POLLIN, 0};
    thread_local std::array<uint8_t, 65536> buf;
    const ssize_t n = poll(&p, 1, static_cast<int>(bound.count())) > 0 ? ::recv(fd_, buf.data(), buf.size(), 0) : -1;
    return n < 0 ? std::nullopt : std::optional<Bytes>(std::in_place, buf.begin(), buf.begin() + n);
}

Bytes hci_frame(uint16_t id, const Bytes& payload)
{
    Bytes f(4 + payload.size());
    store_be16(f.data(), id);
    store_be16(f.data() + 2, static_cast<uint16_t>(payload.size()));
    std::ranges::copy(payload, f.begin() + 4);
    return f;
}

Bytes api_frame(uint16_t cmd, uint32_t dev, const Bytes& data)
{
    Bytes payload(8 + data.size());
    store_be16(payload.data(), cmd);
    store_be16(payload.data() + 2, static_cast<uint16_t>(4 + data.size()));
    std::memcpy(payload.data() + 4, &dev, 4);
    std::ranges::copy(data, payload.begin() + 8);
    return hci_frame(0x0106, payload);
}

Bytes relay_frame(uint32_t target, bool broadcast, const Bytes& inner)
{
    Bytes payload(5);
    store_be32(payload.data(), target);
    payload[4] = broadcast;
    payload.insert(payload.end(), inner.begin(), inner.end());
    return hci_frame(0x0105, payload);
}

// ---- TcpShell ------------------------------------------------------------

namespace {

// A stream socket connected to `addr`, retried until `bound` passes (the
// peer may not listen yet); -1 when it never was.
template <typename Addr>
int connect_retrying(const Addr& addr, std::chrono::milliseconds bound)
{
    int fd = -1;
    const bool ok = eventually([&] {
        if (fd >= 0)
            close(fd);
        fd = socket(reinterpret_cast<const sockaddr&>(addr).sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }, bound);
    if (ok)
        return fd;
    close(fd);
    return -1;
}

}  // namespace

TcpShell::TcpShell(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    fd_ = connect_retrying(a, 10s);
}

TcpShell::~TcpShell()
{
    if (fd_ >= 0)
        close(fd_);
}

void TcpShell::send_text(const std::string& text) const { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }

bool TcpShell::wait_for(const std::string& text, std::chrono::milliseconds bound)
{
    return eventually([&] {
        char buf[4096];
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, 0) == 1) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got_.append(buf, static_cast<size_t>(n));
        }
        return got_.find(text) != std::string::npos;
    }, bound);
}

// ---- LtesimClient --------------------------------------------------------

LtesimClient::LtesimClient(const Sysroot& root, std::chrono::milliseconds bound)
    : fd_(connect_retrying(unix_addr(root.path("/var/tmp/ltesim.sock")), bound))
{
}

LtesimClient::~LtesimClient()
{
    if (fd_ >= 0)
        close(fd_);
}

std::string LtesimClient::read_line()
{
    for (;;) {
        const size_t nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return {};
        buffered_.append(buf, static_cast<size_t>(n));
    }
}

std::string LtesimClient::command(const std::string& line)
{
    const std::string out = line + "\n";
    if (fd_ < 0 || ::send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
        return {};
    return read_line();
}

std::vector<std::string> LtesimClient::calls()
{
    std::vector<std::string> lines;
    for (std::string l = command("calls"); !l.empty() && l != "end"; l = read_line())
        lines.push_back(l);
    return lines;
}

std::vector<std::string> LtesimClient::call_names()
{
    std::vector<std::string> names;
    for (const std::string& l : calls())
        names.push_back(l.substr(0, l.find(' ')));
    return names;
}

bool LtesimClient::wait_online(std::chrono::milliseconds bound)
{
    const bool asked = eventually([&] { return std::ranges::count(call_names(), "LAPI_OnlineRequest") > 0; }, bound);
    return asked && command("sync") == "ok";
}

// ---- LogTail ---------------------------------------------------------------

LogTail::LogTail(const Sysroot& root, bool events) : client_(root, "log-tail")
{
    open_ = client_.open().has_value() && client_.connect_to_daemon();
    client_.set_word(0, 1);
    if (events)
        client_.subscribe_all();
    reader_ = std::thread([this] {
        while (!done_) {
            const auto f = client_.recv(50ms);
            std::lock_guard g(lock_);
            if (f && f->size() >= 8 && load_be16(f->data()) == 0x810B)
                text_.append(f->begin() + 4, f->end());
            else if (f && f->size() >= 8 && load_be16(f->data()) == 0x8107)
                events_.push_back(load_be16(f->data() + 4));
        }
    });
}

std::vector<int> LogTail::events() const
{
    std::lock_guard g(lock_);
    return events_;
}

LogTail::~LogTail()
{
    done_ = true;
    reader_.join();
}

std::string LogTail::text() const
{
    std::lock_guard g(lock_);
    return text_;
}

bool LogTail::wait_for(const std::string& needle, std::chrono::milliseconds bound) const
{
    return eventually([&] { return text().find(needle) != std::string::npos; }, bound);
}

int LogTail::count(const std::string& needle) const { return count_of(text(), needle); }

std::vector<std::string> ltesim_call_log(const Sysroot& root)
{
    std::istringstream in(root.read_file("/var/log/ltesim-calls.log"));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

std::string client_leftovers(const Sysroot& root)
{
    std::string left;
    for (int i = 0; i < 15; ++i) {
        const std::string at = " of index " + std::to_string(i) + "\n";
        if (shmget(root.ipc_key(i), 0, 0) >= 0)
            left += "shared block" + at;
        if (semget(root.ipc_key(i), 0, 0) >= 0)
            left += "semaphore set" + at;
        if (root.exists("/var/tmp/cnxd-client-" + std::to_string(i)))
            left += "socket" + at;
    }
    return left;
}

std::string leftovers(const Sysroot& root)
{
    std::string left = client_leftovers(root);
    for (const char* file : {"/var/tmp/cnxd-daemon", "/var/run/cnxd.pid", "/var/tmp/ltesim.sock"})
        if (root.exists(file))
            left += std::string(file) + "\n";
    return left;
}

bool serves_a_session(const Sysroot& root)
{
    RawClient fresh(root, "new-session");
    const auto index = fresh.open();
    return index && *index < 15 && fresh.api_request(8, 1, {}) == 0 && fresh.send(hci_frame(0x0102, {})) &&
           eventually([&] { return shmget(fresh.ipc_key(), 0, 0) < 0; });
}

std::vector<std::string> capture_summaries(const std::string& file)
{
    const std::string cmd =
        "tshark -X lua_script:" CNXD_BUILD_DIR "/cnxd.lua -r " + file + " -T fields -e _ws.col.Info 2>/dev/null";
    std::vector<std::string> out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        for (char line[4096]; std::fgets(line, sizeof line, p);)
            out.emplace_back(line, std::strcspn(line, "\n"));
        pclose(p);
    }
    return out;
}

// ---- Cli -----------------------------------------------------------------

Cli::Cli(const Sysroot& root, const std::vector<std::string>& args, const std::string& input)
{
    static int serial = 0;
    out_ = root.dir() + "/cli-out." + std::to_string(++serial);
    std::ofstream(out_ + ".in") << input;
    std::vector<std::string> argv = {CNXD_BUILD_DIR "/client/cnxd-cli"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = spawn(argv, out_, out_ + ".err", out_ + ".in", {{"CNXD_ROOT", root.dir()}});
}

Cli::~Cli()
{
    if (pid_ > 0)
        wait_child(pid_, 0ms);
}

int Cli::wait(std::chrono::milliseconds bound)
{
    const int status = wait_child(pid_, bound);
    pid_ = -1;
    return status;
}

int Cli::interrupt()
{
    kill(pid_, SIGINT);
    return wait();
}

}  // namespace cnxd::test
