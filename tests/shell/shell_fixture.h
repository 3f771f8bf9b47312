// The shell inside the test process: the client table, event loop and
// simulated modem of the wrapper tests, a second listener that keeps every
// log text, and the shell's global state put back after each test.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>

#include "modem/cm_fixture.h"
#include "modem/device.h"
#include "modem/log_direction.h"
#include "shell/dispatcher.h"

namespace cnxd::test {

using namespace std::chrono_literals;

class ShellTest : public CmTest {
protected:
    ShellTest()
    {
        reset_state();
        cnxd_set_receive(watch_.get(), 1);
    }
    ~ShellTest() override
    {
        stop_ = true;
        reader_.join();
        reset_state();
    }

    static int dispatch(std::string line) { return do_cmd(line.data()); }

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
    // The SDK calls since the last calls(), left in the record: clearing it
    // while other threads make calls would lose those in between.
    static Lines recorded()
    {
        Lines out;
        std::istringstream in(ltesim::control("calls"));
        for (std::string line; std::getline(in, line);)
            if (line != "end")
                out.push_back(line);
        return out;
    }
    static std::string hex_of(const std::string& text)
    {
        return hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    static bool has(const Lines& lines, const std::string& text)
    {
        return std::ranges::find(lines, text) != lines.end();
    }

    // Waits until `text` has come `times` times on the log channel since the
    // test began: effects of other threads are checked this way rather than
    // by reading the variables they write.
    bool logged(const std::string& text, long times = 1)
    {
        return eventually([&] { return std::ranges::count(seen(), text) >= times; }, 15s);
    }
    // Everything the log channel carried since the test began (the fixture's
    // own stream hands each text out once).
    Lines seen()
    {
        std::lock_guard g(mu_);
        return seen_;
    }

private:
    static void reset_state()
    {
        std::ranges::fill(g_emergency, 0);
        std::ranges::fill(downloading, 0);
        arm1_log_direction = ARM1_LOG_UART;
    }
    void read_log()
    {
        std::vector<uint8_t> buf(8192);
        while (!stop_) {
            const int n = cnxd_recv(watch_.get(), buf.data(), buf.size(), 50);
            if (n >= 4 && load_be16(buf.data()) == HCI_LOG) {
                std::lock_guard g(mu_);
                seen_.emplace_back(buf.begin() + 4, buf.begin() + n);
            }
        }
    }

    Session watch_ = open_session(0);
    std::mutex mu_;
    Lines seen_;
    std::atomic<bool> stop_{false};
    std::thread reader_{[this] { read_log(); }};
};

}  // namespace cnxd::test
