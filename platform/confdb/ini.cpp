#include "ini.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/fd.h"
#include "base/path.h"

namespace confdb {
namespace {

constexpr std::string_view kBlank = " \t\r";
constexpr size_t kMaxFileSize = 4 << 20;

std::string_view trim(std::string_view s)
{
    const size_t first = s.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlank) - first + 1);
}

// The direct child of `node` that section `section` lies in, or nothing.
std::optional<std::string_view> child_of(std::string_view node, std::string_view section)
{
    if (!node.empty()) {
        if (!section.starts_with(node) || section.size() <= node.size() ||
            section[node.size()] != ' ')
            return std::nullopt;
        section.remove_prefix(node.size() + 1);
    }
    if (section.empty())
        return std::nullopt;
    return section.substr(0, section.find(' '));
}

bool write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

IniLine ini_parse_line(std::string_view raw)
{
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';')
        return {};
    if (line.front() == '[') {
        const size_t close = line.rfind(']');
        if (close == std::string_view::npos)
            return {};
        return {LineKind::section, trim(line.substr(1, close - 1)), {}};
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return {};
    const std::string_view key = trim(line.substr(0, eq));
    if (key.empty())
        return {};
    return {LineKind::entry, key, trim(line.substr(eq + 1))};
}

std::optional<std::string_view> ini_find(std::string_view text, std::string_view section,
                                         std::string_view key)
{
    std::optional<std::string_view> found;
    ini_for_each_line(text, [&](size_t, std::string_view sec, const IniLine& line) {
        if (!found && line.kind == LineKind::entry && sec == section && line.name == key)
            found = line.value;
    });
    return found;
}

std::optional<std::string> read_text_file(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "re");
    if (!f)
        return std::nullopt;
    std::string text;
    char buf[4096];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (text.size() + n > kMaxFileSize) {
            ok = false;
            break;
        }
        text.append(buf, n);
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
    if (!ok)
        return std::nullopt;
    return text;
}

bool valid_name(std::string_view word)
{
    return !word.empty() && word.find_first_of(" \t\r\n=[]#;") == std::string_view::npos;
}

bool valid_value(std::string_view value)
{
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string node_name(const std::vector<std::string>& node)
{
    std::string name;
    for (const std::string& word : node) {
        if (!name.empty())
            name += ' ';
        name += word;
    }
    return name;
}

std::string Store::file_path() { return cnxd::cnxd_path("/etc/confdb.ini"); }

Store::Store(std::string text) : text_(std::move(text)) {}

std::vector<std::string> Store::lines() const
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text_.size()) {
        const size_t nl = text_.find('\n', start);
        const size_t end = nl == std::string::npos ? text_.size() : nl;
        out.emplace_back(text_, start, end - start);
        start = end + 1;
    }
    return out;
}

bool Store::has_node(const std::vector<std::string>& node) const
{
    const std::string name = node_name(node);
    bool found = false;
    ini_for_each_line(text_, [&](size_t, std::string_view, const IniLine& line) {
        if (line.kind == LineKind::section && (line.name == name || child_of(name, line.name)))
            found = true;
    });
    return found;
}

std::optional<std::string_view> Store::get(const std::vector<std::string>& node,
                                           std::string_view key) const&
{
    return ini_find(text_, node_name(node), key);
}

std::string Store::dump_node(const std::vector<std::string>& node) const
{
    const std::string name = node_name(node);
    std::string own;
    std::vector<std::string> children;  // in order of first appearance
    std::vector<std::string> child_text;
    ini_for_each_line(text_, [&](size_t, std::string_view section, const IniLine& line) {
        if (line.kind == LineKind::section) {
            if (auto child = child_of(name, line.name)) {
                bool known = false;
                for (const std::string& c : children)
                    known = known || c == *child;
                if (!known) {
                    children.emplace_back(*child);
                    child_text.emplace_back();
                }
            }
            return;
        }
        if (line.kind != LineKind::entry)
            return;
        std::string entry = std::string(line.name) + "=" + std::string(line.value) + "\n";
        if (section == name) {
            own += entry;
            return;
        }
        // Only the child's own keys: the section is exactly "<node> <child>".
        auto child = child_of(name, section);
        if (!child || section.size() != (name.empty() ? 0 : name.size() + 1) + child->size())
            return;
        for (size_t i = 0; i < children.size(); ++i)
            if (children[i] == *child)
                child_text[i] += entry;
    });
    std::string out = own;
    for (size_t i = 0; i < children.size(); ++i)
        out += "[" + children[i] + "]\n" + child_text[i];
    return out;
}

void Store::set(const std::vector<std::string>& node, std::string_view key, std::string_view value)
{
    const std::string name = node_name(node);
    const std::string entry = std::string(key) + "=" + std::string(value);
    std::optional<size_t> key_line;
    std::optional<size_t> header_line;
    std::optional<size_t> last_in_section;  // last entry of the first block
    bool in_first_block = false;
    ini_for_each_line(text_, [&](size_t index, std::string_view section, const IniLine& line) {
        if (line.kind == LineKind::section) {
            in_first_block = !header_line && line.name == name;
            if (in_first_block)
                header_line = index;
            return;
        }
        if (line.kind != LineKind::entry || section != name)
            return;
        if (!key_line && line.name == key)
            key_line = index;
        if (in_first_block || name.empty())
            last_in_section = index;
    });

    std::vector<std::string> ls = lines();
    if (key_line) {
        ls[*key_line] = entry;
    } else if (last_in_section || header_line || name.empty()) {
        const size_t at = last_in_section ? *last_in_section + 1
                          : header_line   ? *header_line + 1
                                          : 0;
        ls.insert(ls.begin() + static_cast<ptrdiff_t>(at), entry);
    } else {
        if (!ls.empty() && !ls.back().empty())
            ls.emplace_back();
        ls.push_back("[" + name + "]");
        ls.push_back(entry);
    }
    text_.clear();
    for (const std::string& l : ls)
        text_ += l + "\n";
}

int store_set(const std::vector<std::string>& node, std::string_view key, std::string_view value,
              std::string& error)
{
    for (const std::string& word : node)
        if (!valid_name(word)) {
            error = "invalid node word '" + word + "'";
            return -1;
        }
    if (!valid_name(key) || !valid_value(value)) {
        error = "invalid key or value";
        return -1;
    }
    const std::string path = Store::file_path();
    cnxd::UniqueFd lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock || ::flock(lock.get(), LOCK_EX) != 0) {
        error = "cannot lock " + path + ".lock: " + std::strerror(errno);
        return -1;
    }
    std::optional<std::string> text = read_text_file(path);
    if (!text) {
        error = "cannot read the store " + path;
        return -1;
    }
    Store store(std::move(*text));
    store.set(node, key, value);

    // Written beside the store, so the rename stays inside one file system.
    const std::string tmp = path + ".tmp";
    cnxd::UniqueFd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const bool written = out && write_all(out.get(), store.text()) && ::fsync(out.get()) == 0;
    out.reset();
    if (!written || ::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return -1;
    }
    return 0;
}

}  // namespace confdb
