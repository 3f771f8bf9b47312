// Network namespaces for the DHCP end-to-end tests (run as root): a server
// namespace and a client namespace joined by a veth pair whose client end is
// lte0pdn0, the client namespace's /etc/netns/NAME/resolv.conf (which "ip
// netns exec" shows in place of the host's), and the server programs run
// in the server namespace. The destructor removes all of it and ends every
// process left in either namespace, also after a failed check.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

namespace cnxd::test {

// The whole text of a file ("" when it cannot be read).
std::string read_text(const std::string& path);
// The first of `candidates` that is an executable file, or "".
std::string first_program(std::initializer_list<const char*> candidates);
// A shell command with its output discarded; its exit status.
int sh(const std::string& cmd);
// A shell command's standard output.
std::string sh_output(const std::string& cmd);
// Starts argv (searched in PATH) as a child with its output appended to
// `log`.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log);
// Waits for the child `pid` up to `bound`: its exit code (128 + signal when
// killed), or -1 when it had to be killed.
int wait_child(pid_t pid, std::chrono::milliseconds bound);

class NetnsPair {
public:
    static constexpr const char* CLIENT_IF = "lte0pdn0";
    static constexpr const char* SERVER_IF = "srv0";

    // `server_cidr`: the server end's address, e.g. "10.77.0.1/24".
    explicit NetnsPair(std::string server_cidr);
    ~NetnsPair();
    NetnsPair(const NetnsPair&) = delete;
    NetnsPair& operator=(const NetnsPair&) = delete;

    // Makes the namespaces, the link and the resolv.conf. Empty on success,
    // else why they could not be made (namespaces not allowed, ...).
    std::string build();

    // Starts argv inside the server namespace, output appended to
    // dir()/`log`; it is asked to stop (SIGTERM) by the destructor.
    pid_t start_in_server(const std::vector<std::string>& argv, const std::string& log);
    // Waits until something in the server namespace listens on the DHCP
    // server port.
    bool dhcp_server_listening(std::chrono::milliseconds bound) const;

    const std::string& client() const { return client_; }
    const std::string& server() const { return server_; }
    // A private directory for the servers' files, removed at the end.
    const std::string& dir() const { return dir_; }

private:
    std::string netns_etc() const { return "/etc/netns/" + client_; }

    std::string client_;
    std::string server_;
    std::string server_cidr_;
    std::string dir_;
    std::vector<pid_t> servers_;
    bool made_etc_netns_ = false;
};

}  // namespace cnxd::test
