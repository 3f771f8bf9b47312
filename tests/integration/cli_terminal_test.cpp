// cnxd-cli on a terminal (a pseudo-terminal of the test's): the prompt
// drawn again below log text that arrives while a line is being typed, the
// top table, and the download's progress bar.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

// The text a terminal shows for what was written to it: printable
// characters at the cursor, carriage return, line feed, and the control
// sequences cnxd-cli and its line editor use (erase to the end of the
// line, cursor home, clear the screen); any other sequence moves nothing.
class Screen {
public:
    void feed(std::string_view bytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\033' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                size_t end = i + 2;
                while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~'))
                    ++end;
                if (end < bytes.size())
                    control(bytes.substr(i + 2, end - i - 2), bytes[end]);
                i = end;
            } else if (c == '\r') {
                col_ = 0;
            } else if (c == '\n') {
                if (++row_ == lines_.size())
                    lines_.emplace_back();
            } else if (static_cast<unsigned char>(c) >= ' ') {
                std::string& l = lines_[row_];
                if (l.size() <= col_)
                    l.resize(col_ + 1, ' ');
                l[col_++] = c;
            }
        }
    }
    // The lines from the top, trailing blanks cut.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (std::string l : lines_) {
            l.erase(l.find_last_not_of(' ') + 1);
            out.push_back(l);
        }
        return out;
    }
    std::string text() const
    {
        std::string all;
        for (const std::string& l : lines())
            all += l + "\n";
        return all;
    }

private:
    void control(std::string_view args, char op)
    {
        if (op == 'K') {
            lines_[row_].resize(std::min(lines_[row_].size(), col_));
        } else if (op == 'J' && args == "2") {
            lines_.assign(lines_.size(), "");
        } else if (op == 'H') {
            row_ = col_ = 0;
        }
    }

    std::vector<std::string> lines_{1};
    size_t row_ = 0;
    size_t col_ = 0;
};

// cnxd-cli with a pseudo-terminal for its standard input and output.
class TerminalCli {
public:
    TerminalCli(const Sysroot& root, const std::vector<std::string>& args)
    {
        winsize size{};
        size.ws_row = 50;
        size.ws_col = 200;
        pid_ = forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            setenv("CNXD_ROOT", root.dir().c_str(), 1);
            setenv("TERM", "vt100", 1);
            std::vector<char*> argv = {const_cast<char*>(CNXD_BUILD_DIR "/client/cnxd-cli")};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~TerminalCli()
    {
        if (pid_ > 0)
            wait_child(pid_, 0ms);
        close(fd_);
    }
    TerminalCli(const TerminalCli&) = delete;
    TerminalCli& operator=(const TerminalCli&) = delete;

    void type(const std::string& keys) const
    {
        ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(fd_, keys.data(), keys.size()));
    }
    // Reads what it wrote until the screen shows `text`.
    bool shows(const std::string& text, std::chrono::milliseconds bound = 5s)
    {
        return eventually([&] {
            read_all();
            return screen_.text().find(text) != std::string::npos;
        }, bound);
    }
    const Screen& screen() const { return screen_; }
    const std::string& raw() const { return raw_; }
    int wait(std::chrono::milliseconds bound = 5s)
    {
        const int status = wait_child(pid_, bound);
        pid_ = -1;
        read_all();
        return status;
    }

private:
    void read_all()
    {
        char buf[4096];
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0)
                break;
            raw_.append(buf, static_cast<size_t>(n));
            screen_.feed({buf, static_cast<size_t>(n)});
        }
    }

    int fd_ = -1;
    pid_t pid_ = -1;
    std::string raw_;
    Screen screen_;
};

class CliOnATerminal : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon.start()); }
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }

    Sysroot root;
    Daemon daemon{root};
};

TEST_F(CliOnATerminal, LogTextGoesAboveThePromptAndTheHalfTypedLine)
{
    TerminalCli shell(root, {});
    ASSERT_TRUE(shell.shows("cnxd>")) << shell.screen().text();
    shell.type("cnxdf 0x");
    ASSERT_TRUE(shell.shows("cnxd> cnxdf 0x")) << shell.raw();
    // Another client's command line: its answer is log text for every
    // listener, the shell among them.
    Cli other(root, {"-t", "300", "cmd", "cnxdf", "0x7"});
    EXPECT_EQ(0, other.wait());
    ASSERT_TRUE(shell.shows("cnxd_flags=0x00000007")) << shell.raw();
    ASSERT_TRUE(shell.shows("cnxd> cnxdf 0x\n")) << shell.screen().text();
    const std::vector<std::string> lines = shell.screen().lines();
    EXPECT_NE(lines.end(), std::ranges::find(lines, "cnxd_flags=0x00000007"))
        << "the log text on a line of its own:\n" << shell.screen().text();
    EXPECT_EQ("cnxd> cnxdf 0x", lines.back()) << "the prompt and the half line after it:\n"
                                               << shell.screen().text();

    // The line typed on goes to the daemon whole.
    shell.type("3\r");
    ASSERT_TRUE(shell.shows("cnxd_flags=0x00000003")) << shell.screen().text();
    shell.type("quit\r");
    EXPECT_EQ(0, shell.wait());
}

TEST_F(CliOnATerminal, TopDrawsTheStatusWithTheSignalsTrendAndTheStateTablesUntilQOrCtrlC)
{
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    Cli dm(root, {"-t", "300", "cmd", "dmext", "1", "0", "2", "1", "0", "73", "75"});
    EXPECT_EQ(0, dm.wait());
    for (const char* key : {"q", "\003"}) {
        SCOPED_TRACE(key);
        TerminalCli top(root, {"top"});
        ASSERT_TRUE(top.shows("SINR trend: \xe2\x96")) << top.raw();  // a block element
        ASSERT_TRUE(top.shows("Clients")) << top.raw();
        ASSERT_TRUE(top.shows("Devices")) << top.screen().text();
        // Drawn again a second later, from the top of a cleared screen.
        const auto first = top.raw().size();
        ASSERT_TRUE(eventually([&] { return top.shows("Devices", 0ms) && top.raw().size() > first; }, 3s));
        EXPECT_EQ(0u, top.screen().text().find("  Device 1")) << top.screen().text();
        top.type(key);
        EXPECT_EQ(0, top.wait());
    }
}

TEST_F(CliOnATerminal, DownloadDrawsAProgressBarAndEndsWithTheResult)
{
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    root.write_file("/var/tmp/fw.bin", std::string(4 * 16384, 'f'));
    TerminalCli download(root, {"download", "1", "1", "/var/tmp/fw.bin"});
    EXPECT_EQ(0, download.wait(20s));
    const std::vector<std::string> lines = download.screen().lines();
    ASSERT_GE(lines.size(), 2u) << download.raw();
    EXPECT_EQ("dev 1 [" + std::string(40, '#') + "] 100%", lines[0]) << "one bar, drawn over";
    EXPECT_EQ("download complete [dev index : 1]", lines[1]);
}

}  // namespace
}  // namespace cnxd::test
