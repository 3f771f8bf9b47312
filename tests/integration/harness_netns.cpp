#include "integration/harness_netns.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "integration/harness.h"

namespace cnxd::test {

namespace fs = std::filesystem;

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string first_program(std::initializer_list<const char*> candidates)
{
    for (const char* p : candidates)
        if (access(p, X_OK) == 0)
            return p;
    return "";
}

int sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

std::string sh_output(const std::string& cmd)
{
    std::string out;
    if (FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    return out;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& log)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (FILE* f = std::fopen(log.c_str(), "a")) {
            dup2(fileno(f), STDOUT_FILENO);
            dup2(fileno(f), STDERR_FILENO);
        }
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
    const bool done = eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, bound);
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

NetnsPair::NetnsPair(std::string server_cidr)
    : client_("cnxdc" + std::to_string(getpid())),
      server_("cnxds" + std::to_string(getpid())),
      server_cidr_(std::move(server_cidr))
{
    char tmpl[] = "/tmp/cnxd-ns.XXXXXX";
    dir_ = mkdtemp(tmpl);
}

NetnsPair::~NetnsPair()
{
    for (const pid_t pid : servers_) {
        kill(pid, SIGTERM);
        wait_child(pid, std::chrono::seconds(5));
    }
    // Whatever else still runs in either namespace (a DHCP client left by a
    // failed test) ends with it; deleting a namespace removes its links.
    for (const std::string& ns : {client_, server_}) {
        std::istringstream pids(sh_output("ip netns pids " + ns));
        for (pid_t pid; pids >> pid;)
            kill(pid, SIGKILL);
        sh("ip netns del " + ns);
    }
    std::error_code ec;
    fs::remove_all(netns_etc(), ec);
    if (made_etc_netns_)
        fs::remove("/etc/netns", ec);
    fs::remove_all(dir_, ec);
}

std::string NetnsPair::build()
{
    if (sh("ip netns add " + client_) != 0)
        return "network namespaces are not allowed here (ip netns add failed)";
    if (sh("ip netns add " + server_) != 0)
        return "a second network namespace could not be made";
    const std::string c = "ip -n " + client_ + " ";
    const std::string s = "ip -n " + server_ + " ";
    for (const std::string& cmd : {c + "link add " + CLIENT_IF + " type veth peer name " + SERVER_IF,
                                   c + "link set " + SERVER_IF + " netns " + server_, c + "link set lo up",
                                   s + "link set lo up", s + "addr add " + server_cidr_ + " dev " + SERVER_IF,
                                   s + "link set " + SERVER_IF + " up", c + "link set " + CLIENT_IF + " up"})
        if (sh(cmd) != 0)
            return "could not set up the veth pair: " + cmd;
    // Whatever runs in the client namespace through "ip netns exec" sees
    // this file as /etc/resolv.conf, never the host's.
    made_etc_netns_ = !fs::exists("/etc/netns");
    fs::create_directories(netns_etc());
    const std::string server_addr = server_cidr_.substr(0, server_cidr_.find('/'));
    std::ofstream(netns_etc() + "/resolv.conf") << "nameserver " << server_addr << "\n";
    return "";
}

pid_t NetnsPair::start_in_server(const std::vector<std::string>& argv, const std::string& log)
{
    std::vector<std::string> in_ns = {"ip", "netns", "exec", server_};
    in_ns.insert(in_ns.end(), argv.begin(), argv.end());
    const pid_t pid = spawn(in_ns, dir_ + "/" + log);
    if (pid > 0)
        servers_.push_back(pid);
    return pid;
}

bool NetnsPair::dhcp_server_listening(std::chrono::milliseconds bound) const
{
    return eventually([&] { return !sh_output("ip netns exec " + server_ + " ss -Hlun sport = :67").empty(); },
                      bound);
}

}  // namespace cnxd::test
