// DM reports end to end: a DM log read through the API makes the simulated
// modem report periodically, and each report lands in the sysroot's dm.log.
#include <gtest/gtest.h>

#include <regex>
#include <vector>
#include <string>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

int count_of(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(DmLog, ATimedDmReadGivesThatManyTimedReportsInDmLog)
{
    Sysroot root;
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    RawClient client(root, "dm");
    ASSERT_TRUE(client.open());
    // Report 5 (TX power), started, every second, three times.
    ASSERT_EQ(std::optional<int32_t>(0), client.api_request(181, 1, {0x00, 0x05, 0, 1, 3}));
    const std::string title = "L1 TX Power (Device Name : lte0)\n";
    EXPECT_TRUE(eventually([&] { return count_of(root.read_file("/var/lte/dm_log/dm.log"), title) == 3; }, 10s))
        << root.read_file("/var/lte/dm_log/dm.log");
    const std::string log = root.read_file("/var/lte/dm_log/dm.log");
    // The simulator's first report holds the 16-bit values 0, 1 and 2.
    EXPECT_NE(std::string::npos, log.find(title + "PUSCH : 0.0 dBm\nPUCCH : 0.1 dBm\nPRACH : 0.2 dBm\n")) << log;
    // The time stamps of the three reports, in milliseconds of the day.
    static const std::regex stamp(R"(\n\[\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d):(\d{3})\]\n)");
    std::vector<long> at;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), stamp); it != std::sregex_iterator(); ++it)
        at.push_back(((std::stol((*it)[1]) * 60 + std::stol((*it)[2])) * 60 + std::stol((*it)[3])) * 1000 +
                     std::stol((*it)[4]));
    ASSERT_EQ(3u, at.size()) << log;
    for (size_t i = 1; i < at.size(); ++i)
        EXPECT_GE((at[i] - at[i - 1] + 86400000) % 86400000, 500) << "about a second apart:\n" << log;
    EXPECT_EQ(std::optional<int>(0), daemon.stop(SIGTERM, 1s));
}

}  // namespace
}  // namespace cnxd::test
