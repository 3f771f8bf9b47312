// A command line as the command socket hands it to the shell: at most 512
// bytes, writable and NUL-terminated (bytes after an embedded NUL are never
// seen). First the tokeniser alone, then the dispatcher on a fresh copy,
// inside the fuzz sysroot with the simulated SDK open. An input whose first
// byte is WORD_MARK names a word of the command table by its second byte
// and gives that word the rest as its tokens, so that every handler meets
// random tokens; one whose first byte is X_MARK does the same for the
// sub-commands of the diagnostics tool "x".
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "ltesdk.h"
#include "shell/cmd_table.h"
#include "shell/cmd_x.h"
#include "shell/dispatcher.h"
#include "support/check.h"
#include "support/sysroot.h"

namespace {

using cnxd::fuzz::expect;

// The socket's line buffer, its NUL included.
constexpr size_t LINE_BYTES = 512;
// The first byte of an input that picks a table word, and of one that
// picks an "x" sub-command.
constexpr uint8_t WORD_MARK = 0x01;
constexpr uint8_t X_MARK = 0x02;

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

// The tokens of a line, cut in a copy of their own.
struct Tokens {
    explicit Tokens(std::string_view text) : line(text) { cnxd::get_token_arg(line.data(), &argc, argv.data()); }
    std::string line;
    int argc = 0;
    std::array<char*, cnxd::CMD_MAX_ARGS + 1> argv{};
};

// Token i as the tools read their numbers (base 0, 32 bits).
uint32_t number_or(const Tokens& t, int i, uint32_t fallback)
{
    return i < t.argc ? static_cast<uint32_t>(std::strtoul(t.argv[static_cast<size_t>(i)], nullptr, 0)) : fallback;
}

// The "x" sub-commands that run here only within bounds (token 0 is "x"):
//   malloc  at most 1024 blocks and 1 MiB in all (what it keeps is given
//           back after each input);
//   nvt     at most 2 loops (each writes and syncs the fuzz root's NV file);
//   mtdt    at most 2 loops (over the fuzz root's 4-block partition);
//   tty     no switch test: its count and pauses are the operator's (the
//           rest ends at the open or the first terminal call, as nothing
//           under the fuzz root is a terminal);
//   run     not run at all: it starts a thread that runs shell commands;
//           its token parser is checked instead.
// The fault injections refuse to act under a sysroot, so they run.
constexpr uint64_t MALLOC_BOUND = 1 << 20;
constexpr uint32_t MALLOC_COUNT_BOUND = 1024;
constexpr uint32_t LOOP_BOUND = 2;
struct x_bound {
    std::string_view word;
    bool (*allowed)(const Tokens& t);
};
constexpr x_bound X_BOUNDS[] = {
    {"malloc",
     [](const Tokens& t) {
         const uint32_t count = number_or(t, 3, 1);
         return count <= MALLOC_COUNT_BOUND && uint64_t{number_or(t, 2, 1024)} * count <= MALLOC_BOUND;
     }},
    {"nvt", [](const Tokens& t) { return number_or(t, 6, 0) <= LOOP_BOUND; }},
    {"mtdt", [](const Tokens& t) { return number_or(t, 6, 0) <= LOOP_BOUND; }},
    {"tty",
     [](const Tokens& t) {
         return std::none_of(t.argv.begin(), t.argv.begin() + t.argc,
                             [](const char* a) { return std::string_view(a) == "switch"; });
     }},
    {"run",
     [](const Tokens& t) {
         const cnxd::x_run_plan plan = cnxd::x_run_parse(t.argc - 1, t.argv.data() + 1);
         expect(plan.cmds.size() <= cnxd::X_RUN_CMD_MAX, "at most 32 commands");
         for (const std::string& c : plan.cmds)
             expect(!c.empty() && c.front() != ' ' && c.back() != ' ', "commands trimmed, none empty");
         return false;
     }},
};

bool excluded(const char* line)
{
    const Tokens t(line);
    if (t.argc == 0)
        return false;
    const std::string_view word = t.argv[0];
    if (word != "x" || t.argc < 2)
        return std::ranges::find(EXCLUDED, word) != std::end(EXCLUDED);
    const auto bound = std::ranges::find(X_BOUNDS, std::string_view(t.argv[1]), &x_bound::word);
    return bound != std::end(X_BOUNDS) && !bound->allowed(t);
}

// The fuzz root's devices for "x": a flash partition of 4 erase blocks of
// 4 KiB listed in its /proc/mtd, and an 8 KiB memory file.
void write_devices()
{
    const std::string& root = cnxd::fuzz::fuzz_root();
    std::filesystem::create_directories(root + "/dev");
    std::filesystem::create_directories(root + "/proc");
    std::ofstream(root + "/proc/mtd") << "dev:    size   erasesize  name\nmtd0: 00004000 00001000 \"fuzz\"\n";
    std::ofstream(root + "/dev/mtd0", std::ios::binary) << std::string(0x4000, '\xff');
    std::ofstream(root + "/dev/mem", std::ios::binary) << std::string(0x2000, '\0');
}

// Once per process: the simulated SDK open in the fuzz sysroot.
void setup()
{
    static const bool done = [] {
        write_devices();
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

// The input as a line: as it stands, or a table word (or "x" and a
// sub-command word) and the rest.
std::string line_of(const uint8_t* data, size_t size)
{
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    if (size < 2 || (data[0] != WORD_MARK && data[0] != X_MARK))
        return std::string(raw);
    const std::string word = data[0] == WORD_MARK ? cnxd::cmd_tbl[data[1] % cnxd::cmd_tbl.size()].word
                                                  : std::string("x ") + cnxd::x_sub_tbl[data[1] % cnxd::x_sub_tbl.size()].word;
    return word + " " + std::string(raw.substr(2));
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
    cnxd::x_malloc_release();
    return 0;
}
