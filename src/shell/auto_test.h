// The repeating test job: one command line (the environment variable
// TEST_CMD) run every interval seconds on a thread of its own, until it is
// stopped. A line beginning with "AT" goes to the AT client (identity 1);
// any other to the dispatcher.
#pragma once

#include <atomic>
#include <string>

namespace cnxd {

// 1 asks the job to stop.
extern std::atomic<int> auto_test_terminate;
// Seconds between runs.
extern std::atomic<int> auto_test_interval;

// "test 1 INTERVAL [command words]" starts the job (stopping a running one
// first); "test 2" stops it.
int cmd_auto_test(int argc, char** argv);
// Stops a running job and waits for it; nothing when none runs.
void auto_test_stop();
// True while a job runs.
bool auto_test_running();

// True when `cmd` is an AT command for the AT client: its first two
// characters are A and T in either case, unless a space and the digit 1
// follow (that is the attach command for device 1).
bool auto_test_is_at_command(const std::string& cmd);
// The AT text as the AT client gets it: every space, ESC, CR and LF outside
// double quotes removed.
std::string auto_test_at_text(const std::string& cmd);

}  // namespace cnxd
