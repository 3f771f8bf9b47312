#include "base/shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "base/path.h"
#include "base/stop.h"

extern char** environ;

namespace cnxd {
namespace {

bool opens_word(char c)
{
    return c == ' ' || c == '\t' || c == '>' || c == '<' || c == '=' || c == '&' || c == ';' ||
           c == '|' || c == '"' || c == '\'';
}

bool ends_word(char c)
{
    return c == ' ' || c == '\t' || c == ';' || c == '|' || c == '&' || c == '>' || c == '<' ||
           c == '"' || c == '\'';
}

// Variables the daemon sets for the programs it runs. The process
// environment itself is never written once threads run (setenv beside a
// getenv or a program start on another thread is a data race); children get
// these on top of it.
std::mutex child_env_lock;
std::map<std::string, std::string, std::less<>> child_env;

// The environment of a child: ours with the daemon's own variables over it.
std::vector<std::string> child_environment()
{
    std::vector<std::string> out;
    std::lock_guard guard(child_env_lock);
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        if (!child_env.contains(entry.substr(0, entry.find('='))))
            out.emplace_back(entry);
    }
    for (const auto& [name, value] : child_env)
        out.push_back(name + "=" + value);
    return out;
}

// Children start with no signal blocked and every signal at its default
// action, whatever the calling thread blocks or the daemon handles: the
// stop and hang-up signals are blocked on every thread of the daemon, and a
// program must still be stoppable by them.
struct SpawnAttr {
    posix_spawnattr_t attr;
    SpawnAttr()
    {
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttr() { posix_spawnattr_destroy(&attr); }
    SpawnAttr(const SpawnAttr&) = delete;
    SpawnAttr& operator=(const SpawnAttr&) = delete;
};

// The program's wait status, or -1. A program started before a stop is not
// waited for once the stop comes: the daemon goes and the program is left
// to finish (an operator's tool cut off halfway could leave the router
// worse off). Polled, from 1 ms up to 100 ms apart, only while one runs.
// Programs the shutdown itself starts are waited for.
int wait_program(pid_t pid, bool started_stopping)
{
    int status = 0;
    if (started_stopping) {
        while (waitpid(pid, &status, 0) < 0)
            if (errno != EINTR)
                return -1;
        return status;
    }
    for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(100))) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno != EINTR)
            return -1;
        if (cnxd_stop_wait(pause))
            return -1;
    }
}

}  // namespace

void cnxd_child_setenv(std::string_view name, std::string_view value)
{
    std::lock_guard guard(child_env_lock);
    child_env.insert_or_assign(std::string(name), std::string(value));
}

std::optional<std::string> cnxd_child_getenv(std::string_view name)
{
    {
        std::lock_guard guard(child_env_lock);
        if (const auto it = child_env.find(name); it != child_env.end())
            return it->second;
    }
    if (const char* v = std::getenv(std::string(name).c_str()))
        return std::string(v);
    return std::nullopt;
}

std::string cnxd_shell_line(std::string_view cmd)
{
    if (cnxd_root().empty())
        return std::string(cmd);
    std::string out;
    out.reserve(cmd.size() + 64);
    size_t i = 0;
    bool word_start = true;
    while (i < cmd.size()) {
        if (cmd[i] == '/' && word_start) {
            size_t end = i;
            while (end < cmd.size() && !ends_word(cmd[end]))
                ++end;
            out += cnxd_path(cmd.substr(i, end - i));
            i = end;
            word_start = false;
            continue;
        }
        word_start = opens_word(cmd[i]);
        out += cmd[i++];
    }
    return out;
}

int cnxd_system(std::string_view cmd)
{
    std::string line = cnxd_shell_line(cmd);
    std::vector<std::string> env = child_environment();
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, line.data(), nullptr};
    static const SpawnAttr attr;
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, &attr.attr, argv, envp.data()) != 0)
        return -1;
    return wait_program(pid, cnxd_stopping());
}

}  // namespace cnxd
