// help: the daemon's grouped command list, read against the command table,
// and the line still going on to the modem.
#include <map>

#include "server/hci.h"
#include "shell/cmd_table.h"
#include "shell/dispatcher.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

class Help : public ShellTest {
protected:
    // The list one help line printed, as its log texts.
    Lines help_texts(const std::string& line)
    {
        logs();
        EXPECT_EQ(0, dispatch(line)) << "help also goes on to the modem";
        return logs();
    }
    static std::string joined(const Lines& texts)
    {
        std::string all;
        for (const std::string& t : texts)
            all += t;
        return all;
    }
    // The word of a command line ("at \t\tAttach" gives "at"), or "" for
    // any other line.
    static std::string word_of(const std::string& line)
    {
        const size_t tabs = line.find("\t\t");
        if (tabs == std::string::npos)
            return "";
        const size_t end = line.find_last_not_of(' ', tabs - 1);
        return line.substr(0, end == std::string::npos ? 0 : end + 1);
    }
};

TEST_F(Help, ListsEveryGroupInOrderAndEveryCommandOnceUnderItsGroup)
{
    const Lines texts = help_texts("help");
    for (const std::string& t : texts)
        EXPECT_LE(t.size(), HCI_LOG_MAX_TEXT) << "each text fits one log frame";
    const std::string all = joined(texts);

    // Where each group's part of the text begins and ends.
    std::vector<size_t> starts;
    for (const char* heading : cmd_group_heading) {
        const size_t at = all.find(heading);
        ASSERT_NE(std::string::npos, at) << heading;
        EXPECT_EQ(std::string::npos, all.find(heading, at + 1)) << "once: " << heading;
        if (!starts.empty()) {
            EXPECT_LT(starts.back(), at) << "in order: " << heading;
        }
        starts.push_back(at);
    }
    starts.push_back(all.size());

    // Every command line, by word, with the group it was printed under.
    std::map<std::string, std::vector<size_t>> groups_of;
    size_t lines = 0;
    for (size_t at = 0, g = 0; at < all.size();) {
        const size_t nl = all.find('\n', at);
        ASSERT_NE(std::string::npos, nl) << "the list ends with a newline";
        while (at >= starts[g + 1])
            ++g;
        if (const std::string word = word_of(all.substr(at, nl - at)); !word.empty()) {
            groups_of[word].push_back(g);
            ++lines;
        }
        at = nl + 1;
    }
    for (const cmd_entry& e : cmd_tbl)
        EXPECT_EQ(std::vector<size_t>{static_cast<size_t>(e.group)}, groups_of[e.word])
            << e.word << " once, under its own group";
    EXPECT_EQ(cmd_tbl.size() + 2, lines) << "the table's commands and the two the modem serves, nothing else";

    // Lines as operators know them, the two the modem serves among them.
    const size_t etc = static_cast<size_t>(cmd_group::etc);
    for (const std::string line : {"pls\t\tPLMN Search\n", "at \t\tAttach\n", "cinfo\t\tGet Connection Information\n",
                                   "shell\t\tUsing Shell Prompt\n", "exit\t\tCM terminate\n"})
        EXPECT_NE(std::string::npos, all.find("\n" + line)) << line;
    EXPECT_EQ(std::vector<size_t>{etc}, groups_of["shell"]);
    EXPECT_EQ(std::vector<size_t>{etc}, groups_of["exit"]);
    EXPECT_EQ(nullptr, cmd_find("exit")) << "exit stays the modem's";
}

TEST_F(Help, RunsForAnEmergencyDeviceButNotForADownloadingOne)
{
    g_emergency[1] = EMERGENCY_MODE;
    EXPECT_NE(std::string::npos, joined(help_texts("help 1")).find(cmd_group_heading.back()));

    downloading_set(1, 1);
    const std::string refused = joined(help_texts("help 1"));
    EXPECT_EQ(std::string::npos, refused.find(cmd_group_heading.front()));
    EXPECT_NE(std::string::npos, refused.find("Now Firmware Downloading dev 1")) << refused;
}

}  // namespace
}  // namespace cnxd::test
