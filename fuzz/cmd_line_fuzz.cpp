// A command line as the command socket hands it to the shell: at most 512
// bytes, writable and NUL-terminated (bytes after an embedded NUL are never
// seen). First the tokeniser alone, then the dispatcher on a fresh copy,
// inside the fuzz sysroot with the simulated SDK open. An input whose first
// byte is WORD_MARK names a word of the command table by its second byte
// and gives that word the rest as its tokens, so that every handler meets
// random tokens.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "ltesdk.h"
#include "shell/cmd_table.h"
#include "shell/dispatcher.h"
#include "support/check.h"
#include "support/sysroot.h"

namespace {

using cnxd::fuzz::expect;

// The socket's line buffer, its NUL included.
constexpr size_t LINE_BYTES = 512;
// The first byte of an input that picks a table word.
constexpr uint8_t WORD_MARK = 0x01;

// Words whose handlers must not run here:
//   confdb      runs its arguments as a shell command line;
//   sys         "sys reset@@" runs the modem reset command;
//   arm1log     runs the kernel log tool and switches the SDK's log output;
//   test        starts a thread that runs command lines periodically;
//   senddmfile  runs a script file, sleeping between its lines;
//   cnxdcinfo   runs "ps" after the client table;
//   cnxdst      makes every later log print wait until it is cleared;
//   kern        runs its arguments as a shell command line;
//   slogconf    replaces the SDK's log configuration.
constexpr std::string_view EXCLUDED[] = {"confdb",    "sys",    "arm1log", "test",    "senddmfile",
                                         "cnxdcinfo", "cnxdst", "kern",    "slogconf"};

bool excluded(const char* line)
{
    const std::string_view text(line);
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return false;
    const std::string_view word = text.substr(start, text.find_first_of(" \n", start) - start);
    return std::ranges::find(EXCLUDED, word) != std::end(EXCLUDED);
}

// Once per process: the simulated SDK open in the fuzz sysroot, and the
// search path limited to the sysroot's empty bin, so that even a handler
// reaching the shell finds no program.
void setup()
{
    static const bool done = [] {
        const std::string bin = cnxd::fuzz::fuzz_root() + "/bin";
        std::filesystem::create_directories(bin);
        setenv("PATH", bin.c_str(), 1);
        static uint32_t handle = 0;
        expect(LAPI_LTEAPIOpen(&handle) == 0, "simulated SDK open");
        std::atexit([] { LAPI_LTEAPIClose(handle); });
        return true;
    }();
    (void)done;
}

// The line in a block of exactly its length plus the NUL.
std::unique_ptr<char[]> line_copy(std::string_view text)
{
    auto block = std::make_unique<char[]>(text.size() + 1);
    std::copy(text.begin(), text.end(), block.get());
    block[text.size()] = '\0';
    return block;
}

void check_tokens(std::string_view text)
{
    const auto line = line_copy(text);
    char* const begin = line.get();
    char* const end = begin + text.size();
    std::array<char*, cnxd::CMD_MAX_ARGS + 1> argv{};
    int argc = -1;
    cnxd::get_token_arg(begin, &argc, argv.data());
    expect(argc >= 0 && argc <= cnxd::CMD_MAX_ARGS, "token count within 0..31");
    for (int i = 0; i < argc; ++i) {
        const char* t = argv[static_cast<size_t>(i)];
        expect(t >= begin && t < end, "token starts inside the line");
        expect(*t != '\0' && *t != ' ', "token is not empty");
        expect(t + std::strlen(t) <= end, "token ends inside the line");
    }
}

// The input as a line: as it stands, or a table word and the rest.
std::string line_of(const uint8_t* data, size_t size)
{
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    if (size < 2 || data[0] != WORD_MARK)
        return std::string(raw);
    const cnxd::cmd_entry& e = cnxd::cmd_tbl[data[1] % cnxd::cmd_tbl.size()];
    return std::string(e.word) + " " + std::string(raw.substr(2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setup();
    const std::string input = line_of(data, size);
    std::string_view text(input.data(), std::min(input.size(), LINE_BYTES - 1));
    text = text.substr(0, text.find('\0'));
    check_tokens(text);
    const auto line = line_copy(text);
    if (!excluded(line.get()))
        cnxd::do_cmd(line.get());
    return 0;
}
