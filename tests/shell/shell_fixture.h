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

using namespace std::chrono_literals;

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

    // Waits until `text` has come `times` times on the log channel since the
    // test began. Effects of other threads are checked this way rather than
    // by reading the variables they write.
    bool logged(const std::string& text, long times = 1)
    {
        return eventually([&] { return std::ranges::count(seen(), text) >= times; }, 15s);
    }
    // Everything the log channel carried since the test began.
    Lines seen() { return watch_.texts(); }

private:
    // A second listening client that keeps every log text, for checks while
    // other threads print (the fixture's own stream wants the last word).
    class LogWatch {
    public:
        LogWatch() : s_(open_session(0)), reader_([this] { run(); }) { cnxd_set_receive(s_.get(), 1); }
        ~LogWatch()
        {
            stop_ = true;
            reader_.join();
        }
        Lines texts()
        {
            std::lock_guard g(mu_);
            return texts_;
        }

    private:
        void run()
        {
            std::vector<uint8_t> buf(8192);
            while (!stop_) {
                const int n = cnxd_recv(s_.get(), buf.data(), buf.size(), 50);
                if (n < 4 || load_be16(buf.data()) != HCI_LOG)
                    continue;
                std::lock_guard g(mu_);
                texts_.emplace_back(buf.begin() + 4, buf.begin() + n);
            }
        }
        Session s_;
        std::mutex mu_;
        Lines texts_;
        std::atomic<bool> stop_{false};
        std::thread reader_;
    };
    LogWatch watch_;

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
