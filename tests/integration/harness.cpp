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

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/be.h"

namespace cnxd::test {

namespace fs = std::filesystem;

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
    std::ofstream(path(target_path)) << text;
}

std::string Sysroot::read_file(const std::string& target_path) const
{
    std::ifstream in(path(target_path));
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Sysroot::exists(const std::string& target_path) const { return fs::exists(path(target_path)); }

// ---- Daemon --------------------------------------------------------------

namespace {

// A TCP port that is free on the loopback address right now.
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

}  // namespace

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
    args.insert(args.end(), {CNXD_BINARY, "-f", "-g", "7"});
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    cmd_port_ = free_tcp_port();
    pid_ = fork();
    if (pid_ == 0) {
        const int out = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        setenv("CNXD_ROOT", root_.dir().c_str(), 1);
        setenv("CNXD_CMD_PORT", std::to_string(cmd_port_).c_str(), 1);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    // Ready once start-up is over and the event loop runs: every thread and
    // descriptor of the running daemon exists by then.
    return eventually([&] { return log().find("serving clients") != std::string::npos || !running(); },
                      10s) &&
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
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return false;
    }
    return true;
}

std::optional<int> Daemon::stop(int sig, std::chrono::milliseconds bound)
{
    if (pid_ > 0)
        kill(pid_, sig);
    if (!eventually([&] { return !running(); }, bound))
        return std::nullopt;
    return exit_status_;
}

std::string Daemon::log() const
{
    std::ifstream in(log_path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Daemon::wait_for_log(const std::string& text, std::chrono::milliseconds bound) const
{
    return eventually([&] { return log().find(text) != std::string::npos; }, bound);
}

int Daemon::count_in_log(const std::string& text) const
{
    const std::string all = log();
    int n = 0;
    for (size_t pos = all.find(text); pos != std::string::npos; pos = all.find(text, pos + 1))
        ++n;
    return n;
}

// ---- RawClient -----------------------------------------------------------

namespace {

sockaddr_un unix_addr(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return a;
}

bool send_dgram(int fd, const std::string& to, const std::vector<uint8_t>& d)
{
    const sockaddr_un a = unix_addr(to);
    return sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(d.size());
}

}  // namespace

RawClient::RawClient(const Sysroot& root, const std::string& name) : root_(root)
{
    path_ = root.path("/var/tmp/test-" + name);
    fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
    unlink(path_.c_str());
    const sockaddr_un a = unix_addr(path_);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        std::abort();
}

RawClient::~RawClient()
{
    close_socket();
    unlink(path_.c_str());
}

int RawClient::ipc_key() const
{
    return ftok(root_.path("/var/tmp/cnxd-daemon").c_str(), index_);
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

std::optional<int32_t> RawClient::api_request(uint16_t cmd, uint32_t dev, const std::vector<uint8_t>& data,
                                              std::chrono::milliseconds bound)
{
    std::vector<uint8_t> payload(8 + data.size());
    store_be16(payload.data(), cmd);
    store_be16(payload.data() + 2, static_cast<uint16_t>(4 + data.size()));
    std::memcpy(payload.data() + 4, &dev, 4);  // the device index travels in host order
    std::copy(data.begin(), data.end(), payload.begin() + 8);
    const int semid = semget(ipc_key(), 0, 0);
    if (semid < 0 || !send(hci_frame(0x0106, payload)))
        return std::nullopt;
    sembuf wait_done{1, -1, 0};
    const timespec ts{static_cast<time_t>(bound.count() / 1000), static_cast<long>(bound.count() % 1000) * 1000000L};
    if (semtimedop(semid, &wait_done, 1, &ts) != 0)
        return std::nullopt;
    uint8_t* block = attach();
    if (!block)
        return std::nullopt;
    return static_cast<int32_t>(load_be32(block + 1516));
}

void RawClient::close_socket()
{
    if (shm_)
        shmdt(shm_);
    shm_ = nullptr;
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool RawClient::send_to_server(const std::vector<uint8_t>& datagram) const
{
    return send_dgram(fd_, root_.path("/var/tmp/cnxd-daemon"), datagram);
}

std::optional<uint8_t> RawClient::open(std::optional<std::pair<uint32_t, uint32_t>> id_pid)
{
    std::vector<uint8_t> payload;
    if (id_pid) {
        payload.resize(8);
        store_be32(payload.data(), id_pid->first);
        store_be32(payload.data() + 4, id_pid->second);
    }
    if (!send_to_server(hci_frame(0x0100, payload)))
        return std::nullopt;
    for (;;) {
        const auto rsp = recv(5s);
        if (!rsp)
            return std::nullopt;
        // Skip anything but the open answer (log frames may arrive first).
        if (rsp->size() == 5 && load_be16(rsp->data()) == 0x8101 && load_be16(rsp->data() + 2) == 1) {
            index_ = (*rsp)[4] == 0xFF ? -1 : (*rsp)[4];
            return (*rsp)[4];
        }
    }
}

bool RawClient::send(const std::vector<uint8_t>& datagram) const
{
    return send_dgram(fd_, root_.path("/var/tmp/cnxd-client-" + std::to_string(index_)), datagram);
}

std::optional<std::vector<uint8_t>> RawClient::recv(std::chrono::milliseconds bound) const
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(bound.count())) <= 0)
        return std::nullopt;
    std::vector<uint8_t> buf(65536);
    const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0)
        return std::nullopt;
    buf.resize(static_cast<size_t>(n));
    return buf;
}

std::vector<uint8_t> hci_frame(uint16_t id, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> f(4 + payload.size());
    store_be16(f.data(), id);
    store_be16(f.data() + 2, static_cast<uint16_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    return f;
}

}  // namespace cnxd::test
