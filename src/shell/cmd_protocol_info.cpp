// The protocol information commands written by hand: setting protocol
// information from the command's value or from its files.
#include <cstdint>

#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

constexpr int SET_FROM_VALUE_BUILDER = 28;
constexpr int SET_FROM_FILES_BUILDER = 29;
constexpr int VALUE_TOKENS = 4;

}  // namespace

int cmd_set_protocol_info(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    if (const uint32_t dev = cmd_enter(e, argc, argv))
        cmd_send_request(e, argc == VALUE_TOKENS ? SET_FROM_VALUE_BUILDER : SET_FROM_FILES_BUILDER, dev, argc, argv);
    return 0;
}

}  // namespace cnxd
