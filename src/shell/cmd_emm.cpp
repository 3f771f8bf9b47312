// The EMM control commands written by hand: the attach and the NAS
// configuration.
#include <array>
#include <cstdint>
#include <cstdlib>

#include "config/apn_table.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

constexpr int ATTACH_BUILDER = 1;
// The attach request: optional_info at 0 (1: every field from the file),
// the APN type (the PDN label) at 338, attach type, request type and
// emergency mode at 339-341, the secure PCO flag at 351.
constexpr size_t AT_SIZE = 352;
constexpr size_t AT_OPTIONAL_INFO = 0;
constexpr size_t AT_TYPES = 339;
constexpr size_t AT_SECURE_PCO = 351;
constexpr int AT_LABEL_TOKEN = 2;
constexpr int AT_TYPE_TOKENS = 3;
// nasconf: set (0) or get, the item's index, and for a set its value.
constexpr int NAS_VALUE_TOKEN = 4;

}  // namespace

int cmd_attach_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    std::array<uint8_t, AT_SIZE> rec{};
    if (dev == 0 || cmd_make(e, ATTACH_BUILDER, rec, argc, argv) != 0)
        return 0;
    // With optional_info 0 the arguments and the APN table give the fields.
    const cmd_source src = rec[AT_OPTIONAL_INFO] == 1 ? cmd_source::file : cmd_source::arguments;
    rec[attach_apn_info_layout.apn_type] = cmd_token_byte(argc, argv, AT_LABEL_TOKEN);
    if (rec[AT_OPTIONAL_INFO] == 0) {
        for (int i = 0; i < 3; ++i)
            rec[AT_TYPES + static_cast<size_t>(i)] = cmd_token_byte(argc, argv, AT_TYPE_TOKENS + i);
        CNXD_FillAttachApnInfo(rec);
    }
    if (cmd_check(e, ATTACH_BUILDER, rec, src) != 0)
        return 0;
    cm_printf(CM_ERR, "[%-25s] at_req.optional_info : %d\n", e.name, rec[AT_OPTIONAL_INFO]);
    cm_printf(CM_ERR, "[%-25s] at_req.securePCO : %d\n", e.name, rec[AT_SECURE_PCO]);
    cm_attach_request(dev, rec.data());
    cmd_leave(e);
    return 0;
}

int cmd_nasconf(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0 || !cmd_numbers_ok(e, argc, argv))
        return 0;
    const int value = argc > NAS_VALUE_TOKEN ? std::atoi(argv[NAS_VALUE_TOKEN]) : 0;
    cm_nas_config_request(dev, std::atoi(argv[2]), std::atoi(argv[3]), value);
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
