#include "shell/cmd_help.h"

#include <string>
#include <string_view>

#include "server/delivery.h"
#include "server/hci.h"
#include "shell/cmd_table.h"

namespace cnxd {
namespace {

struct help_line {
    const char* word;
    const char* title;
};

// Words the modem's console serves, listed with the daemon's own at the end
// of the ETC group, where an operator looks for leaving the shell.
constexpr help_line modem_lines[] = {
    {"shell", "Using Shell Prompt"},
    {"exit", "CM terminate"},
};

// Collects the list into log texts as large as one log frame carries: a
// listening client's datagram queue is short, and a full queue holds up
// every sender, so a hundred and more one-line frames would be a burden.
class HelpText {
public:
    void add(std::string_view piece)
    {
        if (text_.size() + piece.size() > HCI_LOG_MAX_TEXT)
            flush();
        text_ += piece;
    }
    // Words shorter than three characters are padded with spaces ("at \t\t"),
    // as the list has always been printed.
    static constexpr size_t MIN_WORD_WIDTH = 3;
    void add(const char* word, const char* title)
    {
        std::string line = word;
        if (line.size() < MIN_WORD_WIDTH)
            line.resize(MIN_WORD_WIDTH, ' ');
        line.append("\t\t").append(title).append("\n");
        add(line);
    }
    void flush()
    {
        if (!text_.empty())
            cnxd_srv_send_log("%s", text_.c_str());
        text_.clear();
    }

private:
    std::string text_;
};

}  // namespace

int cmd_help(int /*argc*/, char** /*argv*/)
{
    HelpText out;
    for (size_t g = 0; g < cmd_group_heading.size(); ++g) {
        const auto group = static_cast<cmd_group>(g);
        out.add(cmd_group_heading[g]);
        for (const cmd_entry& e : cmd_tbl)
            if (e.group == group)
                out.add(e.word, e.title);
        if (group == cmd_group::etc)
            for (const help_line& l : modem_lines)
                out.add(l.word, l.title);
    }
    out.flush();
    return 0;
}

}  // namespace cnxd
