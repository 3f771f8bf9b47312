// The shell's "help": the daemon's command list, grouped, on the client log
// channel. The dispatcher passes the line on to the modem afterwards, which
// prints its own list.
#pragma once

namespace cnxd {

// "help": prints every group heading and, under it, one line per command of
// the command table ("word\t\tTitle\n"), then the lines the modem serves.
int cmd_help(int argc, char** argv);

}  // namespace cnxd
