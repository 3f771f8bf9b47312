// The host sysroot. On the router every path is the literal one; on a host
// the environment variable CNXD_ROOT names a directory that prefixes every
// absolute path the daemon and the platform stand-ins touch, so that a host
// run never reaches the machine's own files, sockets or tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cnxd {

// CNXD_ROOT without a trailing slash; empty on the target.
const std::string& cnxd_root();

// `path` under the sysroot when it is absolute; relative paths unchanged.
// Paths under /dev, /proc and /sys stay the host's own: they are read (our
// own /proc/self, our children's /proc/PID/stat), never written through this.
// For the daemon's own fixed paths; a path given from outside goes through
// cnxd_sysroot_path.
std::string cnxd_path(std::string_view path);

// The file that `path`, a path given from outside (a shell word's argument,
// a device, an environment variable's directory), names inside the sysroot;
// `path` itself on the router. Under a sysroot the path is resolved one
// component at a time as if the sysroot were "/": a relative path starts at
// its root (the detached daemon's working directory), ".." stops at its
// root, and each symbolic link is followed inside it, an absolute target
// taken from its root. /dev, /proc and /sys are the sysroot's too. So no
// path reaches a host file, as long as nobody swaps a directory of the
// sysroot for a link while the file is being opened. "" (which no open
// takes) when a link cannot be read or links nest deeper than the kernel
// follows them.
std::string cnxd_sysroot_path(std::string_view path);

// The TCP port of the command shell: CNXD_CMD_PORT or 1004.
int cnxd_cmd_port();

// The IPv4 address (host order) the command shell listens on. The shell is
// a root shell: on the router it listens on every address; under a sysroot
// (a host run) on the loopback address only, unless CNXD_CMD_ADDR names
// another address ("0.0.0.0" for every one). Returns false when
// CNXD_CMD_ADDR is set but is no IPv4 address; `addr` is then loopback.
bool cnxd_cmd_addr(uint32_t* addr);

// With CNXD_ROOT set, put the sysroot's bin and sbin directories first on
// this process's PATH, so its stub tools shadow the host's. Called once at
// start-up, before any thread exists.
void cnxd_setup_host_path();

// Re-read CNXD_ROOT (tests that switch sysroots inside one process).
void cnxd_reload_root();

}  // namespace cnxd
