#include "base/shell.h"

#include <cstdlib>

#include "base/path.h"

namespace cnxd {
namespace {

bool opens_word(char c)
{
    return c == ' ' || c == '\t' || c == '>' || c == '<' || c == '=' || c == '&' || c == ';' ||
           c == '|' || c == '"' || c == '\'';
}

bool ends_word(char c)
{
    return c == ' ' || c == '\t' || c == ';' || c == '|' || c == '&' || c == '>' || c == '<' ||
           c == '"' || c == '\'';
}

}  // namespace

std::string cnxd_shell_line(std::string_view cmd)
{
    if (cnxd_root().empty())
        return std::string(cmd);
    std::string out;
    out.reserve(cmd.size() + 64);
    size_t i = 0;
    bool word_start = true;
    while (i < cmd.size()) {
        if (cmd[i] == '/' && word_start) {
            size_t end = i;
            while (end < cmd.size() && !ends_word(cmd[end]))
                ++end;
            out += cnxd_path(cmd.substr(i, end - i));
            i = end;
            word_start = false;
            continue;
        }
        word_start = opens_word(cmd[i]);
        out += cmd[i++];
    }
    return out;
}

int cnxd_system(std::string_view cmd)
{
    return std::system(cnxd_shell_line(cmd).c_str());
}

}  // namespace cnxd
