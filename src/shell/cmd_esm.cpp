// The ESM control commands written by hand: PDN connectivity, PDN
// disconnect (with the ADMIN PDN's holds) and the bearer resources.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/be.h"
#include "config/admin_pdn_count.h"
#include "config/apn_table.h"
#include "config/confdb_access.h"
#include "ltesdk.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "param/param.h"
#include "param/param_read.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"

namespace cnxd {
namespace {

constexpr int PDN_CONNECT_BUILDER = 4;
// The PDN connectivity request: request type at 0, optional_info at 1 (1:
// the APN's fields from the file), the APN type (the PDN label) at 410.
constexpr size_t PC_SIZE = 420;
constexpr size_t PC_REQUEST_TYPE = 0;
constexpr size_t PC_OPTIONAL_INFO = 1;
constexpr int PC_FILE_TOKENS = 4;

constexpr int PDN_DISCONNECT_BUILDER = 6;
// The PDN disconnect request: the 16-bit EPS bearer id at 0, 1 at 3, the
// APN name from 4.
constexpr size_t PD_MARK = 3;
constexpr int PD_LABEL_TOKEN = 3;
constexpr uint8_t APN_TYPE_ADMIN = 2;

// The bearer modes of br: their builders and wrappers.
struct bearer_mode {
    int builder;
    void (*send)(uint32_t dev_idx, void* req);
};
constexpr std::array<bearer_mode, 3> bearer_modes = {{
    {11, cm_bearer_resource_allocation},
    {12, cm_bearer_resource_modification},
    {13, cm_bearer_resource_release},
}};

// Whether the disconnect only drops one of several holds of the ADMIN
// PDN (the store's operator 7): the count is lowered and printed then.
bool admin_pdn_held(const cmd_entry& e, uint16_t eps_id)
{
    if (g_operator != OPERATOR_SPRINT || getApnTypeByDefEPSid(eps_id) != APN_TYPE_ADMIN)
        return false;
    const auto n = admin_pdn_release(1);
    if (n)
        cm_printf(CM_INFO, "[%-25s] ADMIN PDN Reference count(%d)\n", e.name, *n);
    return n.has_value();
}

}  // namespace

int cmd_pdn_connectivity_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    std::array<uint8_t, PC_SIZE> rec{};
    if (dev == 0 || cmd_make(e, PDN_CONNECT_BUILDER, rec, argc, argv) != 0)
        return 0;
    // With optional_info 0 the arguments and the APN table give the fields.
    const cmd_source src = rec[PC_OPTIONAL_INFO] == 1 ? cmd_source::file : cmd_source::arguments;
    if (rec[PC_OPTIONAL_INFO] == 1) {
        if (argc != PC_FILE_TOKENS) {
            cmd_usage(e);
            return 0;
        }
        rec[pdn_conn_apn_info_layout.apn_type] = cmd_token_byte(argc, argv, 3);
    } else {
        rec[pdn_conn_apn_info_layout.apn_type] = cmd_token_byte(argc, argv, 2);
        rec[PC_REQUEST_TYPE] = cmd_token_byte(argc, argv, 3);
        CNXD_FillPdnConnApnInfo(rec);
    }
    if (cmd_check(e, PDN_CONNECT_BUILDER, rec, src) != 0)
        return 0;
    cm_pdn_connectivity_request(dev, rec.data());
    cmd_leave(e);
    return 0;
}

int cmd_pdn_disconnect_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    std::array<uint8_t, PDN_DISCONN_SIZE> rec{};
    if (dev == 0 || !cmd_numbers_ok(e, argc, argv) || cmd_make(e, PDN_DISCONNECT_BUILDER, rec, argc, argv) != 0)
        return 0;
    rec[PD_MARK] = 1;
    CNXD_FillPdnDisconnApnName(rec, cmd_token_byte(argc, argv, PD_LABEL_TOKEN));
    if (cmd_check(e, PDN_DISCONNECT_BUILDER, rec) != 0 || admin_pdn_held(e, load_be16(rec.data())))
        return 0;
    cm_pdn_disconnect_request(dev, rec.data());
    cmd_leave(e);
    return 0;
}

int cmd_bearer_resource_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    const uint32_t dev = cmd_enter(e, argc, argv);
    if (dev == 0)
        return 0;
    if (valid_check_bearer_mode(argv[2]) != 0) {
        cmd_invalid_input(e);
        return 0;
    }
    const bearer_mode& mode = bearer_modes[cmd_token_byte(argc, argv, 2)];
    std::vector<uint8_t> rec(make_parameter[static_cast<size_t>(mode.builder)].size);
    if (cmd_make(e, mode.builder, rec, argc, argv) != 0 || cmd_check(e, mode.builder, rec) != 0)
        return 0;
    mode.send(dev, rec.data());
    cmd_leave(e);
    return 0;
}

}  // namespace cnxd
