// The command line's level arithmetic and which log type wins (the options
// that end the daemon with a status are checked on the daemon itself).
#include "core/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ltesdk.h"

namespace cnxd {
namespace {

TEST(Options, LevelsLogTypeAndDetach)
{
    struct Case {
        std::vector<std::string> words;
        int level, type;
        bool detach;
    };
    const Case cases[] = {
        {{"cnxd"}, 3, SDK_LOG_TYPE_SYSLOG, true},
        {{"cnxd", "-g", "7", "-v"}, 8, SDK_LOG_TYPE_SYSLOG, true},
        {{"cnxd", "-v", "-g", "2"}, 2, SDK_LOG_TYPE_SYSLOG, true},  // the last assignment wins
        {{"cnxd", "-vvvv"}, 7, SDK_LOG_TYPE_SYSLOG, true},
        {{"cnxd", "-g", "12"}, 1, SDK_LOG_TYPE_SYSLOG, true},  // one digit only
        {{"cnxd", "-f", "-i", "/tmp/x.log"}, 3, SDK_LOG_TYPE_FILE, false},
        {{"cnxd", "-i", "/tmp/x.log", "-f"}, 3, SDK_LOG_TYPE_STDERR, false},
        {{"cnxd", "extra", "words", "-o", "-s", "2MB"}, 3, SDK_LOG_TYPE_SYSLOG, true},
    };
    for (Case c : cases) {
        std::vector<char*> argv;
        for (auto& w : c.words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        cnxd_options opts;
        EXPECT_FALSE(cnxd_parse_options(static_cast<int>(c.words.size()), argv.data(), &opts).has_value());
        sdk_set_log_type(SDK_LOG_TYPE_STDERR, "test");
        EXPECT_EQ(c.level, opts.log_level) << c.words.back();
        EXPECT_EQ(c.type, opts.log_type) << c.words.back();
        EXPECT_EQ(c.detach, opts.detach) << c.words.back();
    }
}

}  // namespace
}  // namespace cnxd
