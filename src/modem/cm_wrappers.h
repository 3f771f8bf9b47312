// The modem request wrappers: every request the daemon makes on its own
// behalf (shell, request builders, indication handlers, bring-up) goes
// through one cm_<request> function, so all of them log alike: an entry
// line, a failure line naming the request when the SDK refuses it, an exit
// line. The plain ones come from cm_wrappers.def; the ones with logic of
// their own are declared below it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "ltesdk.h"

namespace cnxd {

// What a wrapper of each form of cm_wrappers.def takes, and what it hands
// to its SDK function after the handle.
#define CM_PARAMS_REQ uint32_t dev_idx, void* req
#define CM_ARGS_REQ dev_idx, req
#define CM_PARAMS_DEV uint32_t dev_idx
#define CM_ARGS_DEV dev_idx
#define CM_PARAMS_NOREC uint32_t dev_idx
#define CM_ARGS_NOREC dev_idx, nullptr
#define CM_PARAMS_REQ_OUT uint32_t dev_idx, void* req, void* out
#define CM_ARGS_REQ_OUT dev_idx, req, out
#define CM_PARAMS_LIST void* out
#define CM_ARGS_LIST out
#define CM_PARAMS_MSG uint32_t dev_idx, void* req, uint32_t len
#define CM_ARGS_MSG dev_idx, req, len
#define CM_PARAMS_DMEXT uint32_t dev_idx, void* filter, void* req, void* items
#define CM_ARGS_DMEXT dev_idx, filter, req, items
#define CM_PARAMS_AT uint32_t dev_idx, const LAPI_AT_CMD* req
#define CM_ARGS_AT dev_idx, req
#define CM_PARAMS_AT_EXT uint32_t dev_idx, const LAPI_AT_CMD_EXT* req
#define CM_ARGS_AT_EXT dev_idx, req
#define CM_RETURN_RESULT int32_t
#define CM_RETURN_NONE void

#define CM_WRAPPER(name, sdk_fn, form, result, fail_text) CM_RETURN_##result name(CM_PARAMS_##form);
#include "modem/cm_wrappers.def"

// ---- First-time settings, sent in this order after a device's first
// protocol-stack initialisation; each value comes from the configuration
// library.

// LAPI_SetEARFCNExtendRequest with the value as a 32-bit record.
void cm_set_ext_earfcn_request(uint32_t dev_idx, int value);
// SMS submit records of sub-type 3 (timer) and 5 (save) carrying the value.
void cm_set_SMSTimerRequest(uint32_t dev_idx, int value);
void cm_set_SMSSaveConfigRequest(uint32_t dev_idx, int value);
// LAPI_SendSmsConfChangeInd with the value's low byte, which also becomes
// gSmsConfType.
void cm_set_SMSConfigRequest(uint32_t dev_idx, int value);
// Sends LAPI_KeepCampOnAfterDetachRequest only when the value is 1.
void cm_set_KeepCampOnAfterDetachRequest(uint32_t dev_idx, int value);
// PHY function control of type 3 with the value byte.
void cm_set_AntRxModeConfigRequest(uint32_t dev_idx, int value);
// RRC capability control of type 20: the value as downlink layers, uplink 0.
void cm_set_DLULMaxLayerRequest(uint32_t dev_idx, int value);
// RRC capability control of type 11; value 0 (the default mode) sends
// nothing.
void cm_set_IntraBandCAmodeRequest(uint32_t dev_idx, int value);

// ---- NAS configuration.

// Highest NAS configuration index; each index names one NAS item.
constexpr int NAS_CONFIG_MAX_INDEX = 10;
// A non-zero `get` asks the NAS configuration (0, or -1 when the SDK
// refuses); else set_nas_config.
int cm_nas_config_request(uint32_t dev_idx, int get, int index, int value);
// Sets the NAS item of `index` to `value`: 0, -1 when the SDK refuses, 1
// for an index outside 0..NAS_CONFIG_MAX_INDEX (nothing sent).
int set_nas_config(uint32_t dev_idx, int index, int value);

// ---- Other members with logic.

// 1 while 5G NR control is enabled; selects the 5G security record.
extern std::atomic<uint32_t> ctr_5gnr_flag;
void cm_5g_add_security_ctrl_request(uint32_t dev_idx);
// The 5G additional security record as given (ciphering algorithm flags
// from 0, integrity algorithm flags from 16).
constexpr size_t CM_5G_SECURITY_SIZE = 32;
void cm_5g_add_security_ctrl_request(uint32_t dev_idx, std::array<uint8_t, CM_5G_SECURITY_SIZE> rec);

// Records the 9-byte IMEI as the device's pending change and starts the NV
// upload (`upload` is the LAPI_UploadBinary record) whose answer writes it
// in.
void cm_change_imei_address(uint32_t dev_idx, void* upload, std::span<const uint8_t, 9> imei);

// LAPI_SetLTEInfo without entry and exit lines; the record's first byte is
// its type.
void cm_set_lte_info(uint32_t dev_idx, std::span<uint8_t> record);

// Recovers an interrupted firmware-over-the-air session after an attach:
// runs the device-management client as the store and the session file ask.
void cm_run_ota_dm_recover_session(uint32_t dev_idx);

// Prints the client table between the entry and exit lines.
void cm_print_cnxd_clientInfo_request();

// Vendor information requests by index, without logging.
int32_t cm_D2H_by_index(uint32_t index);
int32_t cm_D4H_by_index(uint32_t index);

// Sends `text` to the modem's console (LAPI_SendDMCommand, device 1),
// without logging.
int32_t cm_send_dm_command(std::string_view text);

}  // namespace cnxd
