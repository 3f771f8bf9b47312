// The shell inside the test process: the client table, event loop and
// simulated modem of the wrapper tests, a listening client for the log
// channel, and the shell's global state put back after each test.
#pragma once

#include <algorithm>
#include <string>

#include "modem/cm_fixture.h"
#include "modem/device.h"
#include "modem/log_direction.h"
#include "shell/dispatcher.h"

namespace cnxd::test {

class ShellTest : public CmTest {
protected:
    ShellTest() { reset_state(); }
    ~ShellTest() override { reset_state(); }

    // do_cmd on a copy of `line`.
    static int dispatch(const std::string& line)
    {
        std::string copy = line;
        return do_cmd(copy.data());
    }

    // The texts of the SDK calls named `name` since the last calls().
    static Lines texts_of(const Lines& all, const std::string& name)
    {
        Lines out;
        for (const std::string& c : all)
            if (c.starts_with(name + " "))
                out.push_back(c.substr(c.find(' ', name.size() + 1) == std::string::npos
                                           ? c.size()
                                           : c.find(' ', name.size() + 1) + 1));
        return out;
    }

    // `text` as the simulator's call record shows it.
    static std::string hex_of(const std::string& text)
    {
        return hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    static bool has(const Lines& lines, const std::string& text)
    {
        return std::ranges::find(lines, text) != lines.end();
    }

private:
    static void reset_state()
    {
        for (auto& e : g_emergency)
            e = 0;
        for (auto& d : downloading)
            d = 0;
        arm1_log_direction = ARM1_LOG_UART;
    }
};

}  // namespace cnxd::test
