// The one way the daemon and the stand-ins run a shell command.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cnxd {

// Maps every absolute path inside a command line onto the sysroot: each word
// that starts with '/' (also right after a redirection such as '>' or '2>')
// gets the CNXD_ROOT prefix. Callers therefore write the command exactly as
// it runs on the router ("rm /var/run/cnxd.pid").
std::string cnxd_shell_line(std::string_view cmd);

// Runs `cmd` (target form) through /bin/sh like system(3) and returns what
// system() returns (the wait status; -1 when no shell could be started, or
// when a stop came while it ran: the program is then left to finish).
// The program starts with no signal blocked and default signal actions, and
// with the variables of cnxd_child_setenv in its environment.
int cnxd_system(std::string_view cmd);

// Sets `name` for every program cnxd_system starts from now on, without
// touching this process's environment (which other threads read).
void cnxd_child_setenv(std::string_view name, std::string_view value);

// `name` as the programs started from now on get it.
std::optional<std::string> cnxd_child_getenv(std::string_view name);

}  // namespace cnxd
