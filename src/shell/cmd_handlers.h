// The command handlers written by hand: the commands whose logic goes
// beyond the common request shape of cmd_request.h. Each file holds the
// handlers of one help group; every handler takes its token range, usage
// and name from its row of the command table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace cnxd {

// cmd_emm.cpp
// "at [dev] [label] [attach type] [request type] [emergency]": the attach
// file, the label and, when the file leaves it to the command, the types
// and the APN table's entry for the label.
int cmd_attach_request(int argc, char** argv);
// "nasconf [dev] [0 set|1 get] [index] [value]": the NAS configuration.
int cmd_nasconf(int argc, char** argv);

// cmd_esm.cpp
// "pc [dev] [label|apn] [type|label]": PDN connectivity by the file's
// optional_info.
int cmd_pdn_connectivity_request(int argc, char** argv);
// "pd [dev] [eps id] [label]": a PDN disconnect, or only one ADMIN hold
// dropped while others hold the ADMIN PDN.
int cmd_pdn_disconnect_request(int argc, char** argv);
// "br [dev] [mode]": bearer allocation, modification or release from its
// file.
int cmd_bearer_resource_request(int argc, char** argv);

// cmd_ue.cpp
// "chmac [dev] [aa-bb-cc-dd-ee-ff]" and "chimei [dev] [14 or 15 digits]".
int cmd_change_mac_address(int argc, char** argv);
int cmd_change_imei(int argc, char** argv);
// "download [dev] [image type] [file]": starts the device's firmware
// download on its own thread; the device's commands are refused until it
// ends.
int cmd_firmware_download(int argc, char** argv);

// cmd_nv.cpp
// "nvup [dev] [item]" and "nvdown [dev] [item]": NV item upload from and
// download to the modem.
int cmd_nv_upload(int argc, char** argv);
int cmd_nv_download(int argc, char** argv);

// cmd_plmn.cpp
// "roamallow [dev] [0|1]": the roaming-allowed change notification.
int cmd_roamallow(int argc, char** argv);
// "plse [dev]": the extended PLMN search with the web page's settings.
int cmd_plmn_search_ext_request(int argc, char** argv);

// cmd_ps.cpp
// "ctrl5gsecu [dev] [0|1]": 5G additional security by the 5G NR switch or
// from its file.
int cmd_5g_security_ctrl_request(int argc, char** argv);

// cmd_device_info.cpp
// "gdi [dev]", "gdl", "cinfo [dev]", "nstats [dev] [nic]": the requests
// whose answer the wrapper returns at once, printed.
int cmd_get_device_information(int argc, char** argv);
int cmd_get_device_list(int argc, char** argv);
int cmd_get_connection_info(int argc, char** argv);
int cmd_get_network_statics_info(int argc, char** argv);
// The 16 bytes of an IPv6 address as eight groups joined by ":", none
// left out: a group prints without leading zeros above its low byte, which
// always takes two digits ("2001", "db8", "01"); a zero group is "0".
std::string make_ipv6_addr(const uint8_t* addr);

// cmd_protocol_info.cpp
// "spsinfo [dev] [index] [value]": set from the value, or without one from
// the protocol information files.
int cmd_set_protocol_info(int argc, char** argv);

// cmd_uicc.cpp
// The UICC unlock block: its first word is the unlock value.
constexpr size_t CMD_UICC_UNLOCK_BLOCK = 11;
using cmd_uicc_unlock_fn = void (*)(uint32_t dev, std::span<const uint8_t, CMD_UICC_UNLOCK_BLOCK> block);
// Installed at start-up: the UICC unlock of the indication handling, which
// lies above the shell. Unset, "uiccext" unlocks nothing.
void cmd_set_uicc_unlock(cmd_uicc_unlock_fn fn);
// "uiccext [dev] unlock [0|1|2]": the UICC unlock.
int cmd_uicc_ext_cmd(int argc, char** argv);
// "bip [dev] [0|1]": the BIP control result or indication.
int cmd_bip_control_request(int argc, char** argv);

// cmd_dm_log.cpp
// "dm [dev] [id] [command] [interval] [count]" and "dmext [dev] [command]
// [category] [interval] [count] [item...]": DM reports asked for.
int cmd_dm_log_read(int argc, char** argv);
int cmd_dm_log_ext_read(int argc, char** argv);
// "slogconf" (from the log configuration file) and "glogconf".
int cmd_set_log_config(int argc, char** argv);
int cmd_get_log_config(int argc, char** argv);

// cmd_etc.cpp
// "eip [add] [version] [multicast] [unicast]": an encapsulated multicast
// address for the modem.
int cmd_eip(int argc, char** argv);
// "cmtest [dev] [item] [option] [option2]": a test frame to the test
// client.
int cmd_cmtest(int argc, char** argv);
// "vs [dev] [type]": a vendor specific command; types 7 and 8 with their
// fields from their files.
int cmd_vendor_specific(int argc, char** argv);

}  // namespace cnxd
