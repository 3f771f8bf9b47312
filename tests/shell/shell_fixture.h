// The shell inside the test process: the client table, event loop and
// simulated modem of the wrapper tests, and the shell's global state put
// back after each test.
#pragma once

#include <algorithm>
#include <string>

#include "download/download.h"
#include "modem/cm_fixture.h"
#include "shell/dispatcher.h"
#include "shell/log_direction.h"

namespace cnxd::test {

class ShellTest : public CmTest {
protected:
    ShellTest() { reset_state(); }
    ~ShellTest() override { reset_state(); }

    // The texts (hex) of the SDK calls named `name` in `all`.
    static Lines texts_of(const Lines& all, const std::string& name)
    {
        Lines out;
        for (const std::string& c : all)
            if (c.starts_with(name + " ")) {
                const size_t sp = c.find(' ', name.size() + 1);
                out.push_back(sp == std::string::npos ? "" : c.substr(sp + 1));
            }
        return out;
    }

private:
    static void reset_state()
    {
        std::ranges::fill(g_emergency, 0);
        std::ranges::fill(downloading, 0);
        arm1_log_direction = ARM1_LOG_UART;
        g_is_qlog_to_pc = 0;
    }
};

}  // namespace cnxd::test
