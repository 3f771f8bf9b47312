// The command table of the shell: every command word with its handler, its
// id, where help lists it, and what the common request shape needs (token
// range, builder, wrapper, usage text). Lines whose word is not here, or
// whose handler is null, go on to the modem's own console.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace cnxd {

// A command handler: token count and tokens (token 0 is the word, token 1
// usually the device index). The result is not used.
using cmd_handler = int (*)(int argc, char** argv);

// The groups of the help list, in the order help prints them.
enum class cmd_group : uint8_t {
    plmn,
    emm,
    esm,
    ue,
    device_info,
    protocol_info,
    uicc,
    dm_log,
    nv,
    ps,
    etc,
};

// The heading help prints before each group's commands, indexed by group.
// The misspelt "INFORAMTION" is kept: it is the heading as always printed.
inline constexpr std::array<const char*, 11> cmd_group_heading = {
    "\n***** PLMN SELECTION Command *****\n",
    "\n***** EMM CONTROL Command *****\n",
    "\n***** ESM CONTROL Command *****\n",
    "\n***** UE CONTROL Command *****\n",
    "\n***** DEVICE INFORMATION Command *****\n",
    "\n***** LTE PROTOCOL INFORAMTION Command *****\n",
    "\n***** UICC CONTROL Command *****\n",
    "\n***** DM LOG Command *****\n",
    "\n***** NV Command *****\n",
    "\n***** PS CONTROL Command *****\n",
    "\n***** ETC Command *****\n",
};
static_assert(cmd_group_heading.size() == static_cast<size_t>(cmd_group::etc) + 1, "one heading per group");

// Hands a built request record (nullptr for requests without one) to its
// modem request wrapper for the device.
using cmd_send = void (*)(uint32_t dev_idx, void* req);

// The builder column of a row that builds no record.
constexpr int8_t CMD_NO_BUILDER = -1;

// A number packed by a row without a builder: its width in bytes and the
// largest value its request accepts.
struct cmd_packed {
    uint8_t width;
    uint32_t max;
};

struct cmd_entry {
    const char* word;
    cmd_handler handler;  // null: the line goes on to the modem
    uint32_t id;
    cmd_group group;      // where help lists it
    const char* title;    // help's one-line description
    // The rest serves the handler (cmd_request for the common shape).
    const char* name = nullptr;  // the handler's name in traces and messages
    uint8_t min_tokens = 0;      // accepted token counts, the word and the
    uint8_t max_tokens = 0;      //   device index included
    int8_t builder = CMD_NO_BUILDER;  // make_parameter index; its row names the check
    cmd_send send = nullptr;     // the wrapper
    // Every line of the usage; "%s" stands for the builder's parameter file
    // (a composite's: each file of its request types), "%s{name}" for the
    // parameter file of that name.
    const char* usage = nullptr;
    // Requests built by no builder: the numbers after the device index,
    // packed in order into the record (none: no record). A hand-written
    // handler may only check its numbers against them (cmd_numbers_ok).
    std::span<const cmd_packed> packed{};
};

// Ids the dispatcher treats specially.
constexpr uint32_t CMD_ID_GDI = 1;
constexpr uint32_t CMD_ID_RESET = 3;
constexpr uint32_t CMD_ID_AT = 5;
constexpr uint32_t CMD_ID_DOWNLOAD = 31;
constexpr uint32_t CMD_ID_HELP = 96;
constexpr uint32_t CMD_ID_RESERVED = 97;  // exempt from the emergency guard, carried by no command
constexpr uint32_t CMD_ID_END = 101;      // the id of the classic table's closing row; carried by no command
constexpr uint32_t CMD_ID_SYS = 102;
constexpr uint32_t CMD_ID_HOST_DUMP = 105;

// The table in lookup order.
extern const std::span<const cmd_entry> cmd_tbl;

// The first entry whose word equals `word` exactly, or nullptr.
const cmd_entry* cmd_find(std::string_view word);

}  // namespace cnxd
