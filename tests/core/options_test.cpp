// The command line: level arithmetic and which log type wins.
#include "core/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "ltesdk.h"

namespace cnxd {
namespace {

struct Parsed {
    std::optional<int> exit;
    cnxd_options opts;
};

Parsed parse(std::initializer_list<const char*> args)
{
    std::vector<std::string> words = {"cnxd"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    Parsed p;
    testing::internal::CaptureStdout();
    p.exit = cnxd_parse_options(static_cast<int>(words.size()), argv.data(), &p.opts);
    testing::internal::GetCapturedStdout();
    sdk_set_log_type(SDK_LOG_TYPE_STDERR, "test");
    return p;
}

TEST(Options, LevelsAddUpAndTheLastAssignmentWins)
{
    EXPECT_EQ(3, parse({}).opts.log_level);
    EXPECT_EQ(8, parse({"-g", "7", "-v"}).opts.log_level);
    EXPECT_EQ(2, parse({"-v", "-g", "2"}).opts.log_level);
    EXPECT_EQ(7, parse({"-vvvv"}).opts.log_level);
    EXPECT_EQ(1, parse({"-g", "12"}).opts.log_level) << "one digit only";
}

TEST(Options, TheLastOfFileAndStderrDecidesTheLogType)
{
    const auto file_last = parse({"-f", "-i", "/tmp/x.log"});
    EXPECT_EQ(SDK_LOG_TYPE_FILE, file_last.opts.log_type);
    EXPECT_FALSE(file_last.opts.detach);
    EXPECT_EQ(SDK_LOG_TYPE_STDERR, parse({"-i", "/tmp/x.log", "-f"}).opts.log_type);
    EXPECT_EQ(SDK_LOG_TYPE_SYSLOG, parse({"extra", "words"}).opts.log_type);
    EXPECT_TRUE(parse({}).opts.detach);
}

TEST(Options, HelpAndErrorsStopWithTheirStatus)
{
    EXPECT_EQ(0, parse({"-h"}).exit);
    EXPECT_EQ(1, parse({"-x"}).exit);
    EXPECT_EQ(1, parse({"-i"}).exit) << "missing argument";
    EXPECT_FALSE(parse({"-o", "-s", "2MB"}).exit.has_value());
}

}  // namespace
}  // namespace cnxd
