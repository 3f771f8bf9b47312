// The UICC control commands written by hand: the UICC unlock, handed to
// the indication handling through the function installed at start-up, and
// the BIP control.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/be.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

std::atomic<cmd_uicc_unlock_fn> uicc_unlock{nullptr};

constexpr const char* UNLOCK_WORD = "unlock";
constexpr int UNLOCK_MAX = 2;

}  // namespace

void cmd_set_uicc_unlock(cmd_uicc_unlock_fn fn) { uicc_unlock = fn; }

int cmd_uicc_ext_cmd(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    cmd_begin(e);
    if (!cmd_tokens_ok(e, argc) || std::strcmp(argv[2], UNLOCK_WORD) != 0)
        return 0;
    const auto dev = static_cast<uint32_t>(std::atoi(argv[1]));
    const int value = std::atoi(argv[3]);
    if (dev == 0) {
        cm_printf(CM_ERR, "%s: Device Index [%s] was wrong.\n", e.name, argv[1]);
    } else if (value < 0 || value > UNLOCK_MAX) {
        cm_printf(CM_ERR, "%s: Unlock Value [%s] was wrong.\n", e.name, argv[3]);
    } else if (const cmd_uicc_unlock_fn fn = uicc_unlock) {
        std::array<uint8_t, CMD_UICC_UNLOCK_BLOCK> block{};
        store_be32(block.data(), static_cast<uint32_t>(value));
        fn(dev, block);
        cmd_leave(e);
    }
    return 0;
}

int cmd_bip_control_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    // The record is the type byte: the modem holds the BIP session it
    // asked about.
    std::array<uint8_t, 1> rec{cmd_token_byte(argc, argv, 2)};
    const int type = std::atoi(argv[2]);
    if (type == 0) {
        cm_bip_control_result(dev, rec.data());
    } else if (type == 1) {
        cm_bip_control_indcation(dev, rec.data());
    } else {
        cmd_invalid_input(e);
        return 0;
    }
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
