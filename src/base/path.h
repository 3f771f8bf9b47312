// The host sysroot. On the router every path is the literal one; on a host
// the environment variable CNXD_ROOT names a directory that prefixes every
// absolute path the daemon and the platform stand-ins touch, so that a host
// run never reaches the machine's own files, sockets or tools.
#pragma once

#include <string>
#include <string_view>

namespace cnxd {

// CNXD_ROOT without a trailing slash; empty on the target.
const std::string& cnxd_root();

// `path` under the sysroot when it is absolute; relative paths unchanged.
std::string cnxd_path(std::string_view path);

// The TCP port of the command shell: CNXD_CMD_PORT or 1004.
int cnxd_cmd_port();

// With CNXD_ROOT set, put the sysroot's bin and sbin directories first on
// this process's PATH, so its stub tools shadow the host's. Called once at
// start-up, before any thread exists.
void cnxd_setup_host_path();

// Re-read CNXD_ROOT (tests that switch sysroots inside one process).
void cnxd_reload_root();

}  // namespace cnxd
