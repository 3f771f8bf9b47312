// The command shell's TCP socket and its threads.
#pragma once

namespace cnxd {

// Starts the command socket thread.
void cmd_shell_start();
// Stops it and every receiver thread, and waits for them.
void cmd_shell_stop();

}  // namespace cnxd
