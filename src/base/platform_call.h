// The one way the daemon changes the system itself, beside the programs it
// runs (reboot, sync, kern: those are the sysroot's stubs on a host). On the
// router each call does what it says; under a sysroot (CNXD_ROOT set) it
// only appends what it would do to DIR/var/log/platform-calls.log, one line
// in the stub tools' form ("NAME ARGUMENTS"), and succeeds.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace cnxd {

// The platform-call log of the sysroot (empty on the router).
std::string platform_call_log();

// Sets the system clock to `t` (seconds since the epoch, UTC): the network
// time. Returns 0, or -1 with errno set.
int platform_set_clock(time_t t);

// Writes to the system console, unbuffered (under a sysroot, appended to
// DIR/dev/console).
void vemo_log_console(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cnxd
