// The platform's DHCP client program of one sid: started through the shell
// in the background, waited for until the interface has an address, stopped
// by signal, and its pid and lease files.
//
// The client is started through cnxd_system like every other program the
// daemon runs: it has no start path of its own, and the shell runner's set-up
// of a child (its signal mask among it) holds for it too.
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "base/fd.h"
#include "base/path.h"
#include "base/shell.h"
#include "ltesdk.h"
#include "net/dhcpcd_record.h"
#include "net/lease_file.h"

namespace cnxd {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

// Waiting for the client's address: address timeout x 5 polls, 200 ms apart.
constexpr uint32_t ADDR_POLLS_PER_SECOND = 5;
constexpr auto ADDR_POLL = 200ms;
constexpr auto ADDR_SETTLE = 100ms;
// The client writes its lease file just after it has put the address on
// the interface: this long the manager waits for it before it reads the
// lease times, so a fresh lease is not taken for an expired one.
constexpr auto LEASE_FILE_WAIT = 1s;
// A stopped client gets this long to exit after SIGTERM, and then as long
// again after SIGKILL, before its files are removed, so that it cannot
// write them again behind the removal.
constexpr auto CLIENT_EXIT_WAIT = 2s;
constexpr auto CLIENT_EXIT_POLL = 20ms;

// The client's pid from its pid file; 0 when there is none. Values that
// are no process of its own (0, 1, negative) count as none: a signal to
// them would reach a whole process group or every process.
int read_pid_file(const std::string& path)
{
    unique_file f(std::fopen(cnxd_path(path).c_str(), "re"));
    if (!f) {
        dhcp_print("FAILED to read PID file %s\n\n", path.c_str());
        return 0;
    }
    int pid = 0;
    if (std::fscanf(f.get(), "%d", &pid) != 1 || pid <= 1)
        return 0;
    return pid;
}

// True once `pid` has exited, also when its parent has not reaped it yet.
bool process_gone(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return errno == ESRCH;
    std::string line;
    FileLines(cnxd_path("/proc/" + std::to_string(pid) + "/stat")).next(line);
    const size_t end = line.rfind(')');
    return end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'Z';
}

bool wait_gone(pid_t pid)
{
    const auto end = steady_clock::now() + CLIENT_EXIT_WAIT;
    while (!process_gone(pid)) {
        if (steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(CLIENT_EXIT_POLL);
    }
    return true;
}

bool wait_for_lease_file(int sid)
{
    const std::string path = cnxd_path(dhcp_file(DHCP_LEASE_FILE, sid));
    const auto end = steady_clock::now() + LEASE_FILE_WAIT;
    for (;;) {
        if (struct stat st{}; stat(path.c_str(), &st) == 0 && st.st_size > 0)
            return true;
        if (steady_clock::now() > end || dhcp_quitting())
            return false;
        std::this_thread::sleep_for(ADDR_POLL / 4);
    }
}

}  // namespace

void kill_client(dhcpcd_info& d, int sid)
{
    if (d.pid <= 0)
        return;
    dhcp_print("[DHCP %d] kill PID %d\n", sid, d.pid);
    kill(d.pid, SIGTERM);
    if (!wait_gone(d.pid)) {
        kill(d.pid, SIGKILL);
        wait_gone(d.pid);
    }
    d.pid = 0;
}

void clear_dhcp_files(int sid)
{
    dhcp_print("[DHCP] clear sid = %d\n", sid);
    for (const char* base : {DHCP_PID_FILE, DHCP_LEASE_FILE}) {
        const std::string path = dhcp_file(base, sid);
        if (std::remove(cnxd_path(path).c_str()) != 0)
            dhcp_print("failed to remove %s\n", path.c_str());
    }
}

int run_dhcpcd(dhcpcd_info& d, int sid)
{
    dhcp_print("%s(), if_name = %s\n\n", "run_dhcpcd", d.if_name);
    // The interface name in the arguments was checked when the record was
    // filled: "lte0pdn" and digits, nothing the shell would interpret.
    const std::string cmd = std::string(d.prog_path) + " " + d.prog_args + " &";
    dhcp_print("Executed DHCP client: %s\n", cmd.c_str());
    cnxd_system(cmd);

    // The first address seen counts. An address that a stopped client of the
    // interface left could pass for the new lease; the platform's dhclient
    // script removes the address when its client stops (the sysroot's hook
    // flushes it), so none is left by the time a new client starts.
    bool got = false;
    for (uint32_t i = 0; i < d.addr_timeout * ADDR_POLLS_PER_SECOND && !dhcp_quitting(); ++i) {
        std::this_thread::sleep_for(ADDR_POLL);
        if (check_if_ipaddr(d.if_name) == 0) {
            got = true;
            break;
        }
    }
    if (got) {
        std::this_thread::sleep_for(ADDR_SETTLE);
        wait_for_lease_file(sid);
    }
    d.pid = read_pid_file(dhcp_file(DHCP_PID_FILE, sid));
    dhcp_print("[DHCP] SID %d has PID %d (%s)\n", sid, d.pid, d.if_name);
    if (!got) {
        sdk_log(5, "[DHCP] address allocation fail");
        return -1;
    }
    uint8_t addr[4]{};
    uint8_t mask[4]{};
    get_if_ipaddr(d.if_name, addr);
    get_if_netmask(d.if_name, mask);
    store_address(sid, addr, mask);
    return 0;
}

}  // namespace cnxd
