// The command line: level arithmetic, which log type wins, and the options
// that stop the daemon with a status.
#include "core/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ltesdk.h"

namespace cnxd {
namespace {

TEST(Options, LevelsLogTypeAndStatus)
{
    constexpr int none = -1;
    struct Case {
        std::vector<std::string> args;
        int exit, level, type;
        bool detach;
    };
    const Case cases[] = {
        {{}, none, 3, SDK_LOG_TYPE_SYSLOG, true},
        {{"-g", "7", "-v"}, none, 8, SDK_LOG_TYPE_SYSLOG, true},
        {{"-v", "-g", "2"}, none, 2, SDK_LOG_TYPE_SYSLOG, true},  // the last assignment wins
        {{"-vvvv"}, none, 7, SDK_LOG_TYPE_SYSLOG, true},
        {{"-g", "12"}, none, 1, SDK_LOG_TYPE_SYSLOG, true},  // one digit only
        {{"-f", "-i", "/tmp/x.log"}, none, 3, SDK_LOG_TYPE_FILE, false},
        {{"-i", "/tmp/x.log", "-f"}, none, 3, SDK_LOG_TYPE_STDERR, false},
        {{"extra", "words", "-o", "-s", "2MB"}, none, 3, SDK_LOG_TYPE_SYSLOG, true},
        {{"-h"}, 0, 3, SDK_LOG_TYPE_SYSLOG, true},
        {{"-x"}, 1, 3, SDK_LOG_TYPE_SYSLOG, true},
        {{"-i"}, 1, 3, SDK_LOG_TYPE_SYSLOG, true},  // missing argument
    };
    for (const Case& c : cases) {
        std::string line = "cnxd";
        std::vector<std::string> words = {"cnxd"};
        for (const auto& a : c.args) {
            words.push_back(a);
            line += " " + a;
        }
        SCOPED_TRACE(line);
        std::vector<char*> argv;
        for (auto& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        cnxd_options opts;
        testing::internal::CaptureStdout();
        const std::optional<int> exit = cnxd_parse_options(static_cast<int>(words.size()), argv.data(), &opts);
        testing::internal::GetCapturedStdout();
        sdk_set_log_type(SDK_LOG_TYPE_STDERR, "test");
        EXPECT_EQ(c.exit, exit.value_or(none));
        if (c.exit != none)
            continue;
        EXPECT_EQ(c.level, opts.log_level);
        EXPECT_EQ(c.type, opts.log_type);
        EXPECT_EQ(c.detach, opts.detach);
    }
}

}  // namespace
}  // namespace cnxd
