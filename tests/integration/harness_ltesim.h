// A client of the modem simulator's control socket ($CNXD_ROOT/var/tmp/
// ltesim.sock), for end-to-end tests that script the simulated modem.
#pragma once

#include <string>
#include <vector>

#include "integration/harness.h"

namespace cnxd::test {

class LtesimClient {
public:
    // Connects, retrying until the socket exists (the SDK opens after the
    // daemon's server socket).
    explicit LtesimClient(const Sysroot& root, std::chrono::milliseconds bound = 5s);
    ~LtesimClient();
    LtesimClient(const LtesimClient&) = delete;
    LtesimClient& operator=(const LtesimClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    // One command line; returns its one-line answer ("ok", "err ..."), or
    // "" when the connection failed.
    std::string command(const std::string& line);
    // The recorded calls, one "NAME dev=N HEX" line each.
    std::vector<std::string> calls();
    // Just the names of the recorded calls.
    std::vector<std::string> call_names();
    // Waits until the modem inserted at start-up has been brought on line
    // (its online request made and the answer delivered), so that no call of
    // that chain lands in a record a test has just cleared.
    bool wait_online(std::chrono::milliseconds bound = 10s);

private:
    std::string read_line();
    int fd_ = -1;
    std::string buffered_;
};

// The lines of the simulator's call log ($CNXD_ROOT/var/log/ltesim-calls.log),
// which outlives the control socket: "NAME dev=N" per call.
std::vector<std::string> ltesim_call_log(const Sysroot& root);

}  // namespace cnxd::test
