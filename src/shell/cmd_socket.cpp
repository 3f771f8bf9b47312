#include "shell/cmd_socket.h"

namespace cnxd {

// The command socket is served here once the shell exists.
void cmd_shell_start() {}

void cmd_shell_stop() {}

}  // namespace cnxd
