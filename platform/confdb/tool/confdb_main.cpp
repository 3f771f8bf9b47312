// confdb - the configuration store's command-line tool.
//
//   confdb get WORD... [KEY]     print a node as INI text, or one key as KEY=value
//   confdb set WORD... KEY VALUE store a value
//
// `get` first takes all words as a node; when no such node exists the last
// word is a key of the node named by the others. Exit status: 0 done, 1 not
// found or not stored, 2 usage.
#include <cstdio>
#include <string>
#include <vector>

#include "ini.h"

namespace {

int usage()
{
    std::fputs("usage: confdb get WORD... [KEY]\n"
               "       confdb set WORD... KEY VALUE\n",
               stderr);
    return 2;
}

int cmd_get(std::vector<std::string> words)
{
    if (words.empty())
        return usage();
    const auto text = confdb::read_text_file(confdb::Store::file_path());
    if (!text)
        return 1;
    const confdb::Store store(*text);
    if (store.has_node(words)) {
        std::fputs(store.dump_node(words).c_str(), stdout);
        return 0;
    }
    const std::string key = words.back();
    words.pop_back();
    if (words.empty())
        return 1;
    const auto value = store.get(words, key);
    if (!value)
        return 1;
    std::printf("%s=%.*s\n", key.c_str(), static_cast<int>(value->size()), value->data());
    return 0;
}

int cmd_set(std::vector<std::string> words)
{
    if (words.size() < 3)
        return usage();
    const std::string value = words.back();
    words.pop_back();
    const std::string key = words.back();
    words.pop_back();
    std::string error;
    if (confdb::store_set(words, key, value, error) != 0) {
        std::fprintf(stderr, "confdb: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string cmd = argv[1];
    std::vector<std::string> words(argv + 2, argv + argc);
    if (cmd == "get")
        return cmd_get(std::move(words));
    if (cmd == "set")
        return cmd_set(std::move(words));
    return usage();
}
