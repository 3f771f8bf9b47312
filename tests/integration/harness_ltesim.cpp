#include "integration/harness_ltesim.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

namespace cnxd::test {

LtesimClient::LtesimClient(const Sysroot& root, std::chrono::milliseconds bound)
{
    const std::string path = root.path("/var/tmp/ltesim.sock");
    eventually([&] {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            fd_ = fd;
            return true;
        }
        close(fd);
        return false;
    }, bound);
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
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return {};
        buffered_.append(buf, static_cast<size_t>(n));
    }
}

std::string LtesimClient::command(const std::string& line)
{
    const std::string out = line + "\n";
    if (fd_ < 0 || send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
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

std::vector<std::string> ltesim_call_log(const Sysroot& root)
{
    std::istringstream in(root.read_file("/var/log/ltesim-calls.log"));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

}  // namespace cnxd::test
