// The INI text both the store file and the dumps are written in, and the
// store itself: one human-readable file of sections named by node paths.
//
//   # comment (also ';')
//   [config wan lte apntable apn1]      <- a node: its words joined by spaces
//   apn_name=internet                   <- key=value, both trimmed
//
// Keys before the first section belong to the empty section name (that is
// how a dump of a flat node or of a single key reads). Lookups take the
// first occurrence of a section and key; names compare exactly.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace confdb {

enum class LineKind { other, section, entry };

struct IniLine {
    LineKind kind = LineKind::other;
    std::string_view name;   // section name or key
    std::string_view value;  // entries only
};

// One line without its newline. Blank lines, comments and lines that are
// neither "[name]" nor "key=value" (with a non-empty key) are `other`.
IniLine ini_parse_line(std::string_view line);

// Calls fn(line_index, section, parsed_line) for every line of `text`, with
// the section the line stands in ("" before the first header).
template <typename Fn>
void ini_for_each_line(std::string_view text, Fn&& fn)
{
    std::string_view section;
    size_t index = 0;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        const std::string_view raw = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        const IniLine line = ini_parse_line(raw);
        if (line.kind == LineKind::section)
            section = line.name;
        fn(index++, section, line);
    }
}

// The first value of `key` in `section`, or nothing.
std::optional<std::string_view> ini_find(std::string_view text, std::string_view section,
                                         std::string_view key);

// Reads a whole file (at most a few MiB); nothing when it cannot be read.
std::optional<std::string> read_text_file(const std::string& path);

// The store file. Node paths are given as their words.
class Store {
public:
    // The store of the current sysroot ("/etc/confdb.ini").
    static std::string file_path();

    // Parses `text` (the file's contents).
    explicit Store(std::string text);

    // A node exists when a section is named by its path or lies below it.
    bool has_node(const std::vector<std::string>& node) const;
    // The value points into the store: no reads from a temporary store.
    std::optional<std::string_view> get(const std::vector<std::string>& node,
                                        std::string_view key) const&;
    std::optional<std::string_view> get(const std::vector<std::string>& node,
                                        std::string_view key) const&& = delete;
    // The node as a dump: its own keys as key=value lines, then each direct
    // child node as "[name]" with the child's own keys. Deeper nodes are
    // left out: a dump is read one section level deep.
    std::string dump_node(const std::vector<std::string>& node) const;
    // Replaces the key's line in place, or adds it at the end of its
    // section, or adds the section at the end. Comments and layout stay.
    void set(const std::vector<std::string>& node, std::string_view key, std::string_view value);

    const std::string& text() const { return text_; }

private:
    std::vector<std::string> lines() const;

    std::string text_;
};

// Node words and keys: non-empty, no white space, no '=', '[' or ']'.
bool valid_name(std::string_view word);
// Values: anything but line breaks and NUL.
bool valid_value(std::string_view value);
// The node path as written in a section header.
std::string node_name(const std::vector<std::string>& node);

// Sets one value in the store file: under an exclusive lock on the store's
// lock file, reads the file, changes it, writes a temporary file beside it,
// syncs it and renames it over the store, so a concurrent set never loses a
// value and a crash never leaves a torn store. The store must exist (a
// sysroot made by mkroot has one); 0 on success, -1 with `error` set.
int store_set(const std::vector<std::string>& node, std::string_view key, std::string_view value,
              std::string& error);

}  // namespace confdb
