// dm.log: appends, the trim that keeps it small, concurrent writers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "base/path.h"
#include "dm/dm_fixture.h"
#include "dm/dm_log.h"
#include "dm/log_paths.h"

namespace cnxd {
namespace {

class DmLog : public test::DmSysroot {
protected:
    void write_file(const std::string& text) const { std::ofstream(path()) << text; }
};

// Lines of 100 bytes: line k starts at byte 100 k.
std::string lines(int from, int to)
{
    std::string out;
    for (int k = from; k < to; ++k) {
        char head[32];
        std::snprintf(head, sizeof head, "line %03d ", k);
        out += head + std::string(100 - 1 - std::string(head).size(), '.') + "\n";
    }
    return out;
}

TEST_F(DmLog, AFullLogKeepsWhatFollowsTheLineBreakAfterTheMiddle)
{
    struct Case {
        int lines_before;  // of 100 bytes
        std::string expect;
    };
    const Case cases[] = {
        {102, lines(0, 102) + "newest\n"},  // 10200 bytes: below the limit, no trim
        {103, lines(52, 103) + "newest\n"},  // 10300: byte 5120 lies in line 51
    };
    for (const Case& c : cases) {
        write_file(lines(0, c.lines_before));
        dm_log_write("newest\n");
        EXPECT_EQ(c.expect, content()) << c.lines_before;
        EXPECT_FALSE(std::filesystem::exists(path() + ".tmp"));
    }
    dm_printf("%s=%d\n", "value", 7);
    EXPECT_TRUE(content().ends_with("newest\nvalue=7\n"));
    const uint8_t bytes[] = {0x00, 0xab};
    dm_print_hex(bytes, sizeof bytes);
    EXPECT_TRUE(content().ends_with("0x00 0xab \n"));
    dm_print_time();
    const std::string text = content();
    const std::string stamp = text.substr(text.rfind('['));
    EXPECT_EQ(26u, stamp.size()) << stamp;  // "[YYYY-MM-DD hh:mm:ss:mmm]\n"
}

TEST_F(DmLog, TwoWritersLoseNoLine)
{
    constexpr int kLines = 150;  // 2 x 150 x 12 bytes: under the trim limit
    auto writer = [](char who) {
        for (int i = 0; i < kLines; ++i)
            dm_printf("%c%09d\n", who, i);
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    std::set<std::string> seen;
    std::istringstream in(content());
    for (std::string line; std::getline(in, line);)
        seen.insert(line);
    EXPECT_EQ(2u * kLines, seen.size());
    for (char who : {'a', 'b'})
        for (int i = 0; i < kLines; ++i) {
            char line[32];
            std::snprintf(line, sizeof line, "%c%09d", who, i);
            EXPECT_TRUE(seen.contains(line)) << line;
        }
}

TEST_F(DmLog, AMissingDirectoryWritesNothing)
{
    std::filesystem::remove_all(root_ + "/var/lte/dm_log");
    dm_log_write("lost\n");
    EXPECT_FALSE(std::filesystem::exists(path()));
}

}  // namespace
}  // namespace cnxd
