// The one way the daemon and the stand-ins run a shell command.
#pragma once

#include <string>
#include <string_view>

namespace cnxd {

// Maps every absolute path inside a command line onto the sysroot: each word
// that starts with '/' (also right after a redirection such as '>' or '2>')
// gets the CNXD_ROOT prefix. Callers therefore write the command exactly as
// it runs on the router ("rm /var/run/cnxd.pid").
std::string cnxd_shell_line(std::string_view cmd);

// Runs `cmd` (target form) through /bin/sh like system(3); returns what
// system() returns.
int cnxd_system(std::string_view cmd);

}  // namespace cnxd
