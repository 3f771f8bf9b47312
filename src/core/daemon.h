// The daemon's entry point: start-up in a fixed order, the event loop on the
// main thread, and shutdown in the reverse order.
#pragma once

namespace cnxd {

int cnxd_main(int argc, char** argv);

constexpr const char* CNXD_PID_FILE = "/var/run/cnxd.pid";

}  // namespace cnxd
