// The shell's TCP command socket: a listener thread on the command port and
// one receiver thread per connection. Each receive is one command line: it
// is echoed to the modem's console output, offered to the dispatcher and,
// when the daemon does not take it, sent to the modem's console.
#pragma once

#include <string_view>

namespace cnxd {

// Connections that get the modem's console output (log direction 2); more
// connections are served but get none.
constexpr int CMD_SOCKET_SLOTS = 10;
// Bytes of one receive, so of one command line.
constexpr int CMD_RECV_MAX = 512;

// Starts the command socket thread (port cnxd_cmd_port()).
void cmd_shell_start();
// Stops the listener (joined) and the test job, refuses new "x run" runs,
// and shuts every connection down so that its receiver ends on its own:
// receivers and runners are detached and never waited for, so neither a
// connection nor a command that is still running holds up the stop.
void cmd_shell_stop();

// Sends `text` byte for byte to every connection in a broadcast slot.
void cmd_socket_broadcast(std::string_view text);
// Connections in a broadcast slot now.
int cmd_socket_client_count();

}  // namespace cnxd
