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
// Stops it, every receiver and the test job, and waits for all of them. A
// connection that sends nothing does not delay this.
void cmd_shell_stop();

// Sends `text` byte for byte to every connection in a broadcast slot.
void cmd_socket_broadcast(std::string_view text);
// Connections in a broadcast slot now.
int cmd_socket_client_count();

}  // namespace cnxd
