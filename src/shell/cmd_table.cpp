#include "shell/cmd_table.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "modem/cm_wrappers.h"
#include "shell/auto_test.h"
#include "shell/cmd_debug.h"
#include "shell/cmd_help.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_request.h"
#include "shell/cmd_x.h"
#include "shell/dispatcher.h"
#include "shell/script.h"

namespace cnxd {
namespace {

using G = cmd_group;
constexpr int8_t NONE = CMD_NO_BUILDER;
// The packed numbers of requests without a builder: a request type (16
// bits, as the set requests carry it) or one-byte values, each up to what
// its width holds unless the request names a narrower range.
constexpr cmd_packed B1{1, 0xFF};
constexpr cmd_packed B2{2, 0xFFFF};
constexpr cmd_packed B4{4, 0xFFFFFFFF};
constexpr cmd_packed U1[] = {B1};
constexpr cmd_packed U1_U1[] = {B1, B1};
constexpr cmd_packed U2[] = {B2};
// A one-byte switch, a 16-bit request type of 0 or 1.
constexpr cmd_packed FLAG[] = {{1, 1}};
constexpr cmd_packed TYPE_0_1[] = {{2, 1}};
// Extended DRX: paging time window 0 to 20, eDRX value 0 to 9.
constexpr cmd_packed EDRX[] = {{1, 20}, {1, 9}};
// Checked only, by handlers that read them themselves: the PDN
// disconnect's bearer id (its check takes 5 to 31) and PDN label (the APN
// types the table fillers take); the NAS configuration's get flag, item
// index (the index table's 0 to 10) and the one-byte value to set.
constexpr cmd_packed PD[] = {{1, 31}, {1, 7}};
constexpr cmd_packed NASCONF[] = {{1, 1}, {1, 10}, {1, 255}};
// CSG select: PLMN id (MCC and MNC as one number) and CSG id; the allowed
// list's entry: USIM select, record index, PLMN id, CSG type and name
// indications, CSG id.
constexpr cmd_packed CSG_SELECT[] = {B4, B4};
constexpr cmd_packed CSG_SET_LIST[] = {B1, B1, B4, B1, B1, B4};

// Rows in lookup order; help lists them by group, in this order within a
// group. Which group a command belongs to is ours to choose: the modem-side
// reads of identities and counters are device information, controls of the
// radio and data path are PS control, and the daemon's own switches, tools
// and tests are ETC. A null handler would mark a command whose handler is
// not written yet (every row has one now): its lines would reach the
// modem's console as any unknown line.
// Request commands go on with their columns: handler name, token range,
// builder, wrapper, usage text and, without a builder, packed widths.
constexpr cmd_entry cmd_rows[] = {
    // Device information and control.
    {"gdi", cmd_get_device_information, CMD_ID_GDI, G::device_info, "Get Device Information",
     "cmd_get_device_information", 2, 2, NONE, nullptr,
     "-------Get Device Information Usage-------\ncmd>gdi [dev_idx]\n"},
    {"gdl", cmd_get_device_list, 2, G::device_info, "Get Device List",
     "cmd_get_device_list", 1, 1, NONE, nullptr,
     "-------Get Device List Usage-------\ncmd>gdl\n"},
    {"reset", cmd_request, CMD_ID_RESET, G::ue, "Device Reset",
     "cmd_device_reset", 2, 2, NONE, send_dev<cm_device_reset>,
     "-------Device Reset Usage-------\ncmd>reset [dev_idx]\n"},
    {"pf", cmd_request, 4, G::ue, "Device Power Off",
     "cmd_device_power_off", 2, 2, NONE, send_dev<cm_device_power_off>,
     "-------Device Power Off Usage-------\ncmd>pf [dev_idx]\n"},
    // EMM and ESM control.
    {"at", cmd_attach_request, CMD_ID_AT, G::emm, "Attach",
     "cmd_attach_request", 2, 6, 1, nullptr,
     "-------Attach Request Usage-------\ncmd>at [dev_idx] [pdn_label] [attach_type] [request_type] [emergency_mode]\n[pdn_label]\n\t0 : Internet\n\t1 : IMS\n\t2 : ADMIN\n\t3 : APP\n\t4 : EMERGENCY\n\t5 : ENTERPRISE\n\t6 : B2B\n\t7 : RESERVED\n\tdefault : 0\n[attach_type]\n\t0 : EPS Attach\n\t1 : Combined Attach\n\t2 : Agent E Emergency Attach\n\tdefault : 0\n[request_type]\n\t0 : Initial Request\n\t1 : Handover\n\t2 : Emergency\n\tdefault : 0\n[emergency_mode]\n\t0 : Normal\n\t1 : Emergency\n\tdefault : 0\nif %s 'optional_info = 1', use parameters in it.\n"},
    {"atex", cmd_request, 6, G::emm, "Attach Extension",
     "cmd_attach_request_extension", 3, 3, 2, send_req<cm_attach_request_extension>,
     "-------Attach Request Extension Usage-------\ncmd>atex [dev_idx] [pdn_label]\n[pdn_label]\n\t0 : Internet\n\t1 : IMS\n\t2 : ADMIN\nSee %s other parameter\n"},
    {"dt", cmd_request, 7, G::emm, "Detach",
     "cmd_detach_request", 3, 3, 3, send_req<cm_detach_request>,
     "-------Detach Request Usage-------\ncmd>dt [dev_idx] [detach_type]\n[detach_type]\n\t0 : Normal Detach\n\t1 : Switch Off\n"},
    {"pc", cmd_pdn_connectivity_request, 8, G::esm, "PDN Connectivity",
     "cmd_pdn_connectivity_request", 3, 4, 4, nullptr,
     "-------PDN Connectivity Request Usage-------\ncmd>pc [dev_idx] [pdn_label] [request_type]\n[pdn_label]\n\t0 : Internet\n\t1 : IMS\n\t2 : ADMIN\n\t3 : APP\n\t4 : EMERGENCY\n\t5 : ENTERPRISE\n\t6 : B2B\n\t7 : RESERVED\n[request_type]\n\t0 : Initial Request\n\t1 : Handover\n\t2 : Emergency\n\tdefault : 0\nif %s 'optional_info = 1', use cmd>pc [dev_idx] [apn_name] [pdn_label]\n"},
    {"pcex", cmd_request, 9, G::esm, "PDN Connectivity Extension",
     "cmd_pdn_connectivity_request_extension", 5, 5, 5, send_req<cm_pdn_connectivity_request_extension>,
     "-------PDN Connectivity Request Extension Usage-------\ncmd>pcex [dev_idx] [apn_class] [apn_name] [pdn_label]\n[apn_class]\n\t0 ~ 4 : APN class\n[apn_name]\n\taccess point name\n[pdn_label]\n\t0 : Internet\n\t1 : IMS\n\t2 : ADMIN\n\t3 : APP\nSee %s other parameter\n"},
    {"pd", cmd_pdn_disconnect_request, 10, G::esm, "PDN Disconnect",
     "cmd_pdn_disconnect_request", 4, 4, NONE, nullptr,
     "-------PDN Disconnect Request Usage-------\ncmd>pd [dev_idx] [default_eps_id] [pdn_label]\n[default_eps_id]\n\t5 ~ 31 : default EPS bearer id\n[pdn_label]\n\t0 : Internet\n\t1 : IMS\n\t2 : ADMIN\n\t3 : APP\n\t4 : EMERGENCY\n\t5 : ENTERPRISE\n\t6 : B2B\n\t7 : RESERVED\n",
     PD},

    {"br", cmd_bearer_resource_request, 11, G::esm, "Bearer Resource",
     "cmd_bearer_resource_request", 3, 3, NONE, nullptr,
     "-------Bearer Resource Request Usage-------\ncmd>br [dev_idx] [bearer_mode]\n[bearer_mode]\n\t0 : Allocation\n\t1 : Modification\n\t2 : Release\nSee %s{bearer_alloc.param} other parameter\nSee %s{bearer_modify.param} other parameter\nSee %s{bearer_release.param} other parameter\n"},
    // PLMN selection.
    {"pls", cmd_request, 12, G::plmn, "PLMN Search",
     "cmd_plmn_search_request", 2, 3, 7, send_req<cm_plmn_search_request>,
     "-------PLMN Search Request Usage-------\ncmd>pls [dev_idx] [emergency_mode]\n[emergency_mode]\n\t0 : Normal\n\t1 : Emergency\nSee %s other parameter\n"},
    {"plse", cmd_plmn_search_ext_request, 13, G::plmn, "PLMN Search Extension",
     "cmd_plmn_search_ext_request", 2, 2, NONE, nullptr,
     "-------PLMN Search Extension Request Usage-------\ncmd>plse [dev_idx]\nThe search settings are those of the web page LTE settings\n"},
    {"plss", cmd_request, 14, G::plmn, "PLMN Search Stop",
     "cmd_plmn_search_stop_request", 3, 3, 23, send_req<cm_plmn_search_stop_request>,
     "-------PLMN Search Stop Request Usage-------\ncmd>plss [dev_idx] [search_type]\n[search_type]\n\t0 : Manual Search\n\t1 : Automatic Search\n"},
    {"pll", cmd_request, 15, G::plmn, "PLMN List",
     "cmd_plmn_list_request", 2, 2, NONE, send_dev<cm_plmn_list_request>,
     "-------PLMN List Request Usage-------\ncmd>pll [dev_idx]\n"},
    {"pllext", cmd_request, 16, G::plmn, "PLMN List Extension",
     "cmd_plmn_list_ext_request", 2, 2, 9, send_req<cm_plmn_list_ext_request>,
     "-------PLMN List Extension Request Usage-------\ncmd>pllext [dev_idx]\nSee %s other parameter\n"},
    {"pllext2", cmd_request, 17, G::plmn, "PLMN List Extension 2",
     "cmd_plmn_list_ext2_request", 2, 2, 10, send_req<cm_plmn_list_ext2_request>,
     "-------PLMN List Extension 2 Request Usage-------\ncmd>pllext2 [dev_idx]\nSee %s other parameter\n"},
    {"plla", cmd_request, 18, G::plmn, "PLMN List Abort",
     "cmd_plmn_list_abort_request", 2, 2, NONE, send_dev<cm_plmn_list_abort_request>,
     "-------PLMN List Abort Request Usage-------\ncmd>plla [dev_idx]\n"},
    {"qspl", cmd_request, 19, G::plmn, "Query Selected PLMN",
     "cmd_query_selected_plmn_request", 2, 2, NONE, send_dev<cm_query_selected_plmn_request>,
     "-------Query Selected PLMN Request Usage-------\ncmd>qspl [dev_idx]\n"},
    {"plsi", cmd_request, 20, G::plmn, "PLMN Search Interval Index Read",
     "cmd_plmn_search_interval_index_read", 2, 2, NONE, send_dev<cm_plmn_search_interval_index_read>,
     "-------PLMN Search Interval Index Read Usage-------\ncmd>plsi [dev_idx]\n"},
    {"plsic", cmd_request, 21, G::plmn, "PLMN Search Index Change",
     "cmd_plmn_search_index_change_request", 3, 3, 30, send_req<cm_plmn_search_index_change_request>,
     "-------PLMN Search Index Change Request Usage-------\ncmd>plsic [dev_idx] [next_index]\n[next_index]\n\t0 ~ 9 : PLMN search interval index\n"},
    {"plsr", cmd_request, 22, G::plmn, "PLMN Search Status Read",
     "cmd_plmn_search_status_read", 2, 2, NONE, send_dev<cm_plmn_search_status>,
     "-------PLMN Search Status Read Usage-------\ncmd>plsr [dev_idx]\n"},
    {"plsmr", cmd_request, 23, G::plmn, "PLMN Search Mode Read",
     "cmd_plmn_search_mode_read", 2, 2, NONE, send_dev<cm_plmn_search_mode_read>,
     "-------PLMN Search Mode Read Usage-------\ncmd>plsmr [dev_idx]\n"},
    {"acs", cmd_request, 24, G::plmn, "Automatic Cell Search Start",
     "cmd_automatic_cell_search_start_request", 2, 2, NONE, send_dev<cm_automatic_cell_search_start_request>,
     "-------Automatic Cell Search Start Request Usage-------\ncmd>acs [dev_idx]\n"},
    {"oprtrcnt", cmd_request, 25, G::emm, "Attach and RRC Retry Count",
     "cmd_set_oprtrcnt_request", 4, 4, NONE, send_req<cm_set_oprtrcnt_request>,
     "-------Attach and RRC Retry Count Request Usage-------\ncmd>oprtrcnt [dev_idx] [attach_retry_count] [rrc_retry_count]\n[attach_retry_count]\n\t0 ~ 255\n[rrc_retry_count]\n\t0 ~ 255\n",
     U1_U1},

    {"service", cmd_request, 26, G::emm, "Service Request",
     "cmd_service_request", 2, 2, NONE, send_dev<cm_service_request>,
     "-------Service Request Usage-------\ncmd>service [dev_idx]\n"},
    {"sus", cmd_request, 27, G::emm, "Suspend",
     "cmd_suspend_request", 3, 3, 8, send_req<cm_suspend_request>,
     "-------Suspend Request Usage-------\ncmd>sus [dev_idx] [service_type]\n[service_type]\n\t0 ~ 65535 : service type to suspend\n"},
    {"resume", cmd_request, 28, G::emm, "Resume",
     "cmd_resume_request", 3, 3, 33, send_req<cm_resume_request>,
     "-------Resume Request Usage-------\ncmd>resume [dev_idx] [data_to_send]\n[data_to_send]\n\t0 : No Data\n\t1 : Data To Send\n"},
    // UE control.
    {"on", cmd_request, 29, G::ue, "Online",
     "cmd_online_request", 2, 2, NONE, send_dev<cm_online_request>,
     "-------Online Request Usage-------\ncmd>on [dev_idx]\n"},
    {"off", cmd_request, 30, G::ue, "Offline",
     "cmd_offline_request", 2, 2, NONE, send_dev<cm_offline_request>,
     "-------Offline Request Usage-------\ncmd>off [dev_idx]\n"},
    {"download", cmd_firmware_download, CMD_ID_DOWNLOAD, G::ue, "Firmware Download",
     "cmd_firmware_download", 4, 4, 16, nullptr,
     "-------Firmware Download Usage-------\ncmd>download [dev_idx] [image_type] [file_path]\n[image_type]\n\t0 : PBC Image\n\t1 : CPU Image\n\t2 : DISK Image\n\t4 : Emergency Image\n\t5 : FAT Image\n[file_path]\n\tthe image file\n"},
    {"offx", cmd_request, 32, G::ue, "Offline Extension",
     "cmd_offline_request_extension", 3, 3, 42, send_req<cm_offline_request_extension>,
     "-------Offline Request Extension Usage-------\ncmd>offx [dev_idx] [offline_type]\n[offline_type]\n\t0 ~ 3 : offline type\n"},
    {"hkadc", cmd_request, 33, G::device_info, "HKADC Read",
     "cmd_hkadc_read", 3, 3, 19, send_req<cm_hkadc_read>,
     "-------HKADC Read Usage-------\ncmd>hkadc [dev_idx] [channel]\n[channel]\n\t0 : HKADC Channel 0\n\t1 : HKADC Channel 1\n\t2 : HKADC Channel 2\n\t3 : HKADC Channel 3\n"},
    {"mid", cmd_request, 34, G::device_info, "Mobile Identity Read",
     "cmd_mobile_identity_read", 3, 3, 20, send_req<cm_mobile_id_read>,
     "-------Mobile Identity Read Usage-------\ncmd>mid [dev_idx] [identity_type]\n[identity_type]\n\t0 ~ 2 : mobile identity type\n"},
    {"iccid", cmd_request, 35, G::device_info, "ICCID Read",
     "cmd_iccid_read", 2, 2, NONE, send_dev<cm_iccid_read>,
     "-------ICCID Read Usage-------\ncmd>iccid [dev_idx]\n"},
    {"msisdn", cmd_request, 36, G::device_info, "MSISDN Read",
     "cmd_msisdn_read", 2, 2, NONE, send_dev<cm_msisdn_read>,
     "-------MSISDN Read Usage-------\ncmd>msisdn [dev_idx]\n"},
    {"temperature", cmd_request, 37, G::device_info, "Temperature Read",
     "cmd_temperature_read", 2, 2, NONE, send_dev<cm_temperature_read>,
     "-------Temperature Read Usage-------\ncmd>temperature [dev_idx]\n"},
    {"nid", cmd_request, 38, G::protocol_info, "NID Read",
     "cmd_nid_read", 4, 4, 21, send_req<cm_nid_read>,
     "-------NID Read Usage-------\ncmd>nid [dev_idx] [nid_type] [default_eps_id]\n[nid_type]\n\t0 : NID Read Type 0 (default_eps_id 0)\n\t1 : NID Read Type 1 (default_eps_id 1 ~ 15)\n[default_eps_id]\n\t0 : with nid_type 0\n\t1 ~ 15 : default EPS bearer id, with nid_type 1\n"},
    {"tz", cmd_request, 39, G::protocol_info, "Network Time Read",
     "cmd_tz_read", 3, 3, 22, send_req<cm_time_read>,
     "-------Network Time Read Usage-------\ncmd>tz [dev_idx] [time_type]\n[time_type]\n\t0 : Timezone Read Type 0\n\t1 : Timezone Read Type 1\n"},
    {"indm", cmd_request, 40, G::ps, "Indication Mask Control Read",
     "cmd_indication_mask_control_read", 2, 2, NONE, send_dev<cm_indication_mask_control_read>,
     "-------Indication Mask Control Read Usage-------\ncmd>indm [dev_idx]\n"},
    {"scf", cmd_request, 41, G::protocol_info, "Serving Cell Frequency Read",
     "cmd_serving_cell_freq_read", 2, 2, NONE, send_dev<cm_serving_cell_freq_read>,
     "-------Serving Cell Frequency Read Usage-------\ncmd>scf [dev_idx]\n"},
    {"sib", cmd_request, 42, G::protocol_info, "SIB1 Pmax Read",
     "cmd_sib1_pmax_read", 2, 2, NONE, send_dev<cm_sib1_pmax_read>,
     "-------SIB1 Pmax Read Usage-------\ncmd>sib [dev_idx]\n"},
    {"emmi", cmd_request, 43, G::protocol_info, "EMM Information Read",
     "cmd_emm_information_read", 2, 2, NONE, send_dev<cm_emm_information_read>,
     "-------EMM Information Read Usage-------\ncmd>emmi [dev_idx]\n"},
    {"emms", cmd_request, 44, G::protocol_info, "EMM State Read",
     "cmd_emm_state_read", 2, 2, NONE, send_dev<cm_emm_state_read>,
     "-------EMM State Read Usage-------\ncmd>emms [dev_idx]\n"},
    {"tin", cmd_request, 45, G::protocol_info, "TIN Read",
     "cmd_tin_read", 2, 2, NONE, send_dev<cm_tin_read>,
     "-------TIN Read Usage-------\ncmd>tin [dev_idx]\n"},
    {"guti", cmd_request, 46, G::protocol_info, "GUTI Read",
     "cmd_guti_read", 2, 2, NONE, send_dev<cm_guti_read>,
     "-------GUTI Read Usage-------\ncmd>guti [dev_idx]\n"},
    // UICC control.
    {"uicc", cmd_request, 47, G::uicc, "UICC Control",
     "cmd_uicc_control_request", 3, 4, 35, send_req<cm_uicc_control_request>,
     "-------UICC Control Request Usage-------\ncmd>uicc [dev_idx] [control_type] [application_type]\n[control_type]\n\t0 : Status\n\t1 : Read Binary\n\t2 : Read Record\n\t3 : Update Binary\n\t4 : Update Record\n\t5 : Authenticate\n\t6 : PIN Command\n\t7 : Refresh\n\t10 : Refresh\n\t11 : USAT Terminal Profile\n\t12 : USAT Envelope\n\t13 : USAT Terminal Response\n\t14 : Poll Interval Timer\n[application_type]\n\t0 : none, as without it\n\t1 ~ 3 : UICC APP type, for Status only\nSee %s other parameter\n"},
    {"uiccext", cmd_uicc_ext_cmd, 48, G::uicc, "UICC Unlock",
     "cmd_uicc_ext_cmd", 4, 4, NONE, nullptr,
     "-------UICC Unlock Usage-------\ncmd>uiccext [dev_idx] unlock [value]\n[value]\n\t0\n\t1\n\t2\n"},
    {"bip", cmd_bip_control_request, 49, G::uicc, "BIP Control",
     "cmd_bip_control_request", 3, 3, NONE, nullptr,
     "-------BIP Control Usage-------\ncmd>bip [dev_idx] [type]\n[type]\n\t0 : Result\n\t1 : Indication\n"},
    // DM log and protocol information.
    {"dm", cmd_dm_log_read, 50, G::dm_log, "DM Log Read",
     "cmd_dm_log_read", 6, 6, 25, send_req<cm_dm_log_read>,
     "-------DM Log Read Usage-------\nDM>dm [dev_idx] [log_id] [command] [interval] [count]\n[log_id]\n\t0 : CQI Statistics(Report Category 2)\n\t1 : MCS UL Statistics(Report Category 2)\n\t2 : MCS DL Statistics(Report Category 2)\n\t3 : MIMO DL(Report Category 2)\n\t4 : HARQ(Report Category 2)\n\t5 : TX Power(Report Category 2)\n\t6 : Throughput(Report Category 2)\n\t7 : Throughput Extension(Report Category 2)\n\t8 : Serving CELL Status(Report Category 1)\n\t9 : Neighbor CELL Status(Report Category 1)\n\t10 : Handover(Report Category 3) *** NOT SUPPORTED ***\n\t11 : Serving CELL Status Extension(Report Category 1)\n\t12 : Serving CELL Status Extension 2(Report Category 1)\n\t13 : NAS PLMN Identity(Report Category 1)\n\t14 : Current Service Provider(Report Category 1)\n\t15 : UE Status(Report Category 1)\n\t16 : Roaming Status(Report Category 1)\n\t17 : Network Address(Report Category 1)\n\t18 : UE Information(Report Category 1)\n\t19 : PDSCH BLER(Report Category 2)\n\t20 : UL PHY Throughput(Report Category 2)\n\t21 : DL PHY Throughput(Report Category 2)\n[command]\n\t0 : Start\n\t1 : Stop\n[interval]\n\t0 ~ 255 seconds\n[count]\n\t0 ~ 255 (0 : no end)\nReport Category 2 : report interval should be bigger than 0\nReport Category 3 : Both report interval and report count are not valid\n"},
    // The categories are numbered with the codes the check takes (one per
    // category, in the same order), not 0 to 14: a number the usage lists
    // is one the modem is sent.
    {"dmext", cmd_dm_log_ext_read, 51, G::dm_log, "DM Log Extension Read",
     "cmd_dm_log_ext_read", 7, 31, 26, nullptr,
     "-------DM Log Extension Read Usage-------\nDM>dmext [dev_idx] [command] [category] [interval] [count] [item_id] ...\n"
     "[command]\n\t0 : Start\n\t1 : Stop\n"
     "[category]\n\t0 : L1\n\t1 : L2\n\t2 : L3 RRC\n\t3 : L3 RRC Neighbor Cell Information\n\t16 : L3 NAS\n\t32 : Network\n\t33 : ETC\n\t34 : L3 RRC Statistics\n\t35 : L1 Secondary Cell Information\n\t36 : L3 RRC Secondary Cell Information\n\t48 : L1 Extension Category\n\t64 : L1 UL Secondary Cell Information\n\t80 : L3 RRC Serving Cell Information Extension\n\t96 : NR L3 RRC Serving Cell Information Extension\n\t97 : NR L3 RRC Neighbor Cell Information Extension\n"
     "[interval]\n\t0 ~ 255 seconds (0 : a single report)\n[count]\n\t0 ~ 255 (0 : no end)\n"
     "[item_id]\n\t0 ~ 255 : an item of the category, one or more\n"
     "[Category 0 : L1]\n\t0 : CQI Report statistics\n\t1 : UL MCS statistics\n\t2 : DL MCS statistics\n\t3 : Number of RBs\n\t4 : HARQ Initial Transmission\n\t5 : HARQ Initial Transmission BLER\n\t6 : HARQ Retransmission\n\t7 : TX Power PUSCH\n"
     "\t8 : TX Power PUCCH\n\t9 : TX Power PRACH\n\t10 : RI statistics\n\t11 : BLER statistics\n\t12 : Throughput statistics\n\t13 : RSSI\n\t14 : RSRP\n\t15 : RSRQ\n"
     "\t16 : TX Mode\n\t17 : RI\n\t18 : CINR\n\t19 : Neighbor Cell DL Frequency\n\t20 : Neighbor Physical Cell ID\n\t21 : Neighbor CINR\n\t22 : Neighbor RSRP\n\t23 : Neighbor RSSI\n"
     "\t24 : Neighbor RSRQ\n\t25 : Cell SFN\n\t26 : TA\n\t27 : Tuned\n\t28 : TB Drop Count\n\t29 : TB Count\n\t30 : TB Count with CRC Error\n"},
    {"gpsinfo", cmd_request, 52, G::protocol_info, "Get Protocol Information",
     "cmd_get_protocol_info", 3, 4, 27, send_req<cm_get_protocol_info>,
     "-------Get Protocol Information Usage-------\ncmd>gpsinfo [dev_idx] [info_index] [value]\n[info_index]\n\t0 ~ 11 : protocol information type\n[value]\n\t0 ~ 8 : APN table index, with info_index 2\n\t2 : operator id, with info_index 6\n"},
    {"spsinfo", cmd_set_protocol_info, 53, G::protocol_info, "Set Protocol Information",
     "cmd_set_protocol_info", 3, 4, 28, send_req<cm_set_protocol_info>,
     "-------Set Protocol Information Usage-------\ncmd>spsinfo [dev_idx] [info_index] [value]\n[info_index]\n\t0 : Operational Mode\n\t1 : IMS/SMS\n\t2 : APN Table\n\t3 : with [value] only\n\t4 : PLMN Search Intervals\n\t5 : Operator Information\n\t6 : IMEI\n\t7 : DRX\n\t8 : Software Version\n[value]\n\t0 ~ 8 : APN table index, with info_index 2\n\t1 : operator id, with info_index 5\n\t0 ~ 255 : the value, with another info_index\n\twithout it the fields come from the files below\nSee %s{opt_mode_info.param} other parameter\nSee %s{ims_sms_info.param} other parameter\nSee %s{apn_table_info.param} other parameter\nSee %s{pls_info.param} other parameter\nSee %s{vzw_info.param} other parameter\nSee %s{imei_info.param} other parameter\nSee %s{drx_info.param} other parameter\nSee %s{sw_ver.param} other parameter\n"},
    // NV.
    {"nvup", cmd_nv_upload, 54, G::nv, "NV Upload",
     "cmd_nv_upload", 3, 3, NONE, nullptr,
     "-------NV Upload Usage-------\ncmd>nvup [dev_idx] [nv_type]\n[nv_type]\n\t1 : LTE Information\n\t2 : Board Configuration\n\t3 : RF Calibration\n\t4 : Temperature\n\t5 : Network Information\n"},
    {"nvdown", cmd_nv_download, 55, G::nv, "NV Download",
     "cmd_nv_download", 3, 3, NONE, nullptr,
     "-------NV Download Usage-------\ncmd>nvdown [dev_idx] [nv_type]\n[nv_type]\n\t1 : LTE Information\n\t2 : Board Configuration\n\t3 : RF Calibration\n\t4 : Temperature\n\t5 : Network Information\n"},
    // PS and RF control.
    {"indmc", cmd_request, 56, G::ps, "Indication Mask Control",
     "cmd_indication_mask_control", 2, 2, 31, send_req<cm_indication_mask_control>,
     "-------Indication Mask Control Usage-------\ncmd>indmc [dev_idx]\nSee %s other parameter\n"},
    {"rfsc", cmd_request, 57, G::ps, "RF Status Report Control",
     "cmd_rf_status_report_control", 2, 2, 32, send_req<cm_rf_status_report_control>,
     "-------RF Status Report Control Usage-------\ncmd>rfsc [dev_idx]\nSee %s other parameter\n"},
    {"rfec", cmd_request, 58, G::ps, "RF Event Control",
     "cmd_rf_event_control", 2, 2, 39, send_req<cm_rf_event_control>,
     "-------RF Event Control Usage-------\ncmd>rfec [dev_idx]\nSee %s other parameter\n"},
    {"dbgc", cmd_request, 59, G::dm_log, "Debug Log Control",
     "cmd_debug_log_control", 3, 3, 34, send_req<cm_debug_log_control>,
     "-------Debug Log Control Usage-------\ncmd>dbgc [dev_idx] [level]\n[level]\n\t0 ~ 6 : device debug level\n"},
    {"epsnsc", cmd_request, 60, G::nv, "Save EPS NAS Security Context NV",
     "cmd_save_epsnsc_nv_request", 2, 2, NONE, send_dev<cm_save_epsnsc_nv_request>,
     "-------Save EPS NAS Security Context NV Request Usage-------\ncmd>epsnsc [dev_idx]\n"},
    {"rfmr", cmd_request, 61, G::ps, "RF Measure Report",
     "cmd_rf_measure_report_request", 3, 3, 40, send_req<cm_rf_measure_report_request>,
     "-------RF Measure Report Request Usage-------\ncmd>rfmr [dev_idx] [control]\n[control]\n\t0 : Stop\n\t1 : Start\n"},
    {"hic", cmd_request, 62, G::ps, "Host IP Connect",
     "cmd_host_ip_connect_request", 3, 3, 41, send_req<cm_host_ip_connect_request>,
     "-------Host IP Connect Request Usage-------\ncmd>hic [dev_idx] [ip_connect]\n[ip_connect]\n\t0 : Disconnect\n\t1 : Connect\n"},
    {"edrx", cmd_request, 63, G::ps, "Extended DRX Parameter Control",
     "cmd_ext_drx_param_ctrl_request", 4, 4, NONE, send_req<cm_ext_drx_param_ctrl_request>,
     "-------Extended DRX Parameter Control Request Usage-------\ncmd>edrx [dev_idx] [paging_time_window] [edrx_value]\n[paging_time_window]\n\t0 ~ 20\n[edrx_value]\n\t0 ~ 9\n",
     EDRX},

    {"ctrl5gsecu", cmd_5g_security_ctrl_request, 64, G::ps, "5G Additional Security Control",
     "cmd_5g_security_ctrl_request", 3, 3, 47, nullptr,
     "-------5G Additional Security Control Request Usage-------\ncmd>ctrl5gsecu [dev_idx] [parameter_set]\n[parameter_set]\n\t0 : by the 5G NR control\n\t1 : from the file\nSee %s other parameter\n"},
    {"con5gnr", cmd_request, 65, G::ps, "5G NR Control",
     "cmd_5gnr_control_request", 3, 3, NONE, send_req<cm_5gnr_control_request>,
     "-------5G NR Control Request Usage-------\ncmd>con5gnr [dev_idx] [control]\n[control]\n\t0 : Disable\n\t1 : Enable\n",
     FLAG},

    {"lb", cmd_request, 66, G::ps, "Loopback Start",
     "cmd_loopback_start", 6, 6, 0, send_req<cm_loopback_start>,
     "-------Loopback Start Usage-------\ncmd>lb [dev_idx] [loop_type] [transfer_type] [loop_count] [packet_size]\n[loop_type]\n\t1 ~ 2\n[transfer_type]\n\t3 ~ 5\n[loop_count]\n\t0 ~ 500000\n[packet_size]\n\t0 ~ 30000 bytes\n"},
    {"gp", cmd_request, 67, G::ue, "Get GPIO Data",
     "cmd_get_gpio_data", 3, 3, 14, send_req_out<cm_get_gpio_data, 3>,
     "-------Get GPIO Data Usage-------\ncmd>gp [dev_idx] [pin]\n[pin]\n\t0 ~ 63\n"},
    {"sp", cmd_request, 68, G::ue, "Set GPIO Data",
     "cmd_set_gpio_data", 4, 4, 15, send_req<cm_set_gpio_data>,
     "-------Set GPIO Data Usage-------\ncmd>sp [dev_idx] [pin] [value]\n[pin]\n\t0 ~ 63\n[value]\n\t0 : Low\n\t1 : High\n"},
    {"gc", cmd_request, 69, G::device_info, "Get Crash Log",
     "cmd_get_crash_log_request", 2, 2, NONE, send_dev<cm_get_crash_log_request>,
     "-------Get Crash Log Request Usage-------\ncmd>gc [dev_idx]\n"},
    {"ec", cmd_request, 70, G::ue, "Erase Crash Log",
     "cmd_erase_crash_log_request", 2, 2, NONE, send_dev<cm_erase_crash_log_request>,
     "-------Erase Crash Log Request Usage-------\ncmd>ec [dev_idx]\n"},
    {"chmac", cmd_change_mac_address, 71, G::ue, "Change MAC Address",
     "cmd_change_mac_address", 3, 3, 17, nullptr,
     "-------Change MAC Address Usage-------\ncmd>chmac [dev_idx] [mac_address]\n[mac_address]\n\tex) 00-11-22-33-44-55\n"},
    {"chimei", cmd_change_imei, 72, G::ue, "Change IMEI",
     "cmd_change_imei", 3, 3, 18, nullptr,
     "-------Change IMEI Usage-------\ncmd>chimei [dev_idx] [imei]\n[imei]\n\t14 or 15 digits\n"},
    {"slogconf", cmd_set_log_config, 73, G::dm_log, "Set Log Config",
     "cmd_set_log_config", 1, 1, 24, nullptr,
     "-------Set Log Config Usage-------\ncmd>slogconf\nSee %s other parameter\n"},
    {"glogconf", cmd_get_log_config, 74, G::dm_log, "Get Log Config",
     "cmd_get_log_config", 1, 1, NONE, nullptr,
     "-------Get Log Config Usage-------\ncmd>glogconf\n"},
    {"cinfo", cmd_get_connection_info, 75, G::device_info, "Get Connection Information",
     "cmd_get_connection_info", 2, 2, NONE, nullptr,
     "-------Get Connection Information Usage-------\ncmd>cinfo [dev_idx]\n"},
    {"nstats", cmd_get_network_statics_info, 76, G::device_info, "Get Network Statistics",
     "cmd_get_network_statics_info", 3, 3, NONE, nullptr,
     "-------Get Network Statistics Usage-------\ncmd>nstats [dev_idx] [nic_index]\n[nic_index]\n\t0 ~ 7 : one NIC\n\t8 : sum of all nic\n"},
    {"vs", cmd_vendor_specific, 77, G::etc, "Vendor Specific",
     "cmd_vendor_specific", 3, 3, NONE, nullptr,
     "-------Vendor Specific Usage-------\ncmd>vs [dev_idx] [type]\n[type]\n\t0 : LGUPLUS USER REGISTRATION\n\t1 : LGUPLUS USER NUM CHANGE\n\t2 : KT USER REGISTRATION\n\t3 ~ 6 : reserved\n\t7 : AT&T maximum count of CRRC configuration\n\t8 : AT&T maximum timer of TRRC configuration\nSee %s{att_max_cnt_of_crrg_cfg.param} other parameter\nSee %s{att_max_timer_of_trrg_cfg.param} other parameter\n"},
    {"rrccapa", cmd_request, 78, G::protocol_info, "RRC Capability Control",
     "cmd_rrc_capability_control", 3, 3, 36, send_req<cm_rrc_capability_control_request>,
     "-------RRC Capability Control Usage-------\ncmd>rrccapa [dev_idx] [control_type]\n[control_type]\n\t1 : UE Category\n\t2 : UE DL/UL Category\n\t3 : AS Release Number\n\t4 : Band List\n\t5 : FGI\n\t6 : ROHC Configuration\n\t7 : Transmission Modes\n\t8 : Autonomous Gap\n\t10 : PWS Control\n\t11 : CA Control\n\t15 : Supported Frequency Range List\n\t16 : CA Band Combination List\n\t17 : DL 256QAM\n\t18 : UL 64QAM\n\t19 : Half Duplex per Band\n\t20 : DL/UL Maximum Layers\n\t21 : Power Class per Band\n\t22 : DL Only Band List\n\t23 : Measurement Report Triggered Locked SCell\n\t24 : CA Band Combination List\nSee %s other parameter\n"},
    {"rrccapag", cmd_request, 79, G::protocol_info, "RRC Capability Control Get",
     "cmd_rrc_capability_control_get", 3, 3, NONE, send_req<cm_rrc_capability_control_get_request>,
     "-------RRC Capability Control Get Usage-------\ncmd>rrccapag [dev_idx] [control_type]\n[control_type]\n\t0 ~ 65535 : the request type to read\n",
     U2},

    {"rrcfunc", cmd_request, 80, G::protocol_info, "RRC Function Control",
     "cmd_rrc_function_control", 3, 3, 37, send_req<cm_rrc_function_control_request>,
     "-------RRC Function Control Usage-------\ncmd>rrcfunc [dev_idx] [control_type]\n[control_type]\n\t0 : Handover Disable Flag\n\t1 : Lock Cell List\n\t2 : ECGI List\n\t3 : Secondary Lock Cell List\n\t4 : Preferred Band List\n\t5 : Primary Lock Cell List\n\t6 : UL EARFCN List\n\t7 : Handover Event Prohibit\n\t8 : User Defined PCI List\n\t9 : User Defined TAC List\n\t10 : Ignore Cell Barred\n\t11 : Ignore Access Barring\n\t12 : Lock/Block Cell Range List\n\t13 : Idle Inter-Frequency Measurement Control\n\t14 : Locked Frequency Range List\n\t15 : Preferred Cell List\n\t16 : Connected State Neighbour Cell Measurement Control\nSee %s other parameter\n"},
    {"rrcfuncg", cmd_request, 81, G::protocol_info, "RRC Function Control Get",
     "cmd_rrc_function_control_get", 3, 3, NONE, send_req<cm_rrc_function_control_get_request>,
     "-------RRC Function Control Get Usage-------\ncmd>rrcfuncg [dev_idx] [control_type]\n[control_type]\n\t0 ~ 65535 : the request type to read\n",
     U2},

    {"phyfunc", cmd_request, 82, G::protocol_info, "PHY Function Control",
     "cmd_phy_function_control", 3, 3, 45, send_req<cm_phy_function_control_request>,
     "-------PHY Function Control Usage-------\ncmd>phyfunc [dev_idx] [control_type]\n[control_type]\n\t0 : HPUE Active Flag\n\t1 : Neighbour Measurement\n\t3 : Active RX Mode\n\t4 : Serving Measurement DM Collection\n\t5 : Neighbour Measurement DM Collection\nSee %s other parameter\n"},
    {"phyfuncg", cmd_request, 83, G::protocol_info, "PHY Function Control Get",
     "cmd_phy_function_control_get", 3, 3, 46, send_req<cm_phy_function_control_get_request>,
     "-------PHY Function Control Get Usage-------\ncmd>phyfuncg [dev_idx] [control_type]\n[control_type]\n\tany : not read, the items come from the file\nSee %s other parameter\n"},
    {"phyta", cmd_request, 84, G::protocol_info, "PHY TA Information",
     "cmd_phy_ta_information", 4, 4, 38, send_req<cm_phy_ta_info_request>,
     "-------PHY TA Information Usage-------\ncmd>phyta [dev_idx] [type] [value]\n[type]\n\t0 ~ 65535 : TA information type\n[value]\n\t0 ~ 65535 : its value\n"},
    {"plmncfgset", cmd_request, 85, G::plmn, "PLMN Configuration Set",
     "cmd_plmn_cfg_set", 3, 3, 48, send_req<cm_plmn_cfg_set_request>,
     "-------PLMN Configuration Set Usage-------\ncmd>plmncfgset [dev_idx] [control_type]\n[control_type]\n\t1 : Supported Band List\nSee %s other parameter\n"},
    {"plmncfgget", cmd_request, 86, G::plmn, "PLMN Configuration Get",
     "cmd_plmn_cfg_get", 3, 3, NONE, send_req<cm_plmn_cfg_get_request>,
     "-------PLMN Configuration Get Usage-------\ncmd>plmncfgget [dev_idx] [control_type]\n[control_type]\n\t0 ~ 1\n",
     TYPE_0_1},

    {"l2funcg", cmd_request, 87, G::protocol_info, "L2 Function Control Get",
     "cmd_l2_function_control_get", 3, 3, NONE, send_req<cm_l2_function_control_get_request>,
     "-------L2 Function Control Get Usage-------\ncmd>l2funcg [dev_idx] [control_type]\n[control_type]\n\t0 ~ 65535 : the request type to read\n",
     U2},

    {"plmncsgl", cmd_request, 88, G::plmn, "CSG List",
     "cmd_plmn_csg_list_request", 2, 2, NONE, send_dev<cm_plmn_csg_list_request>,
     "-------CSG List Request Usage-------\ncmd>plmncsgl [dev_idx]\n"},
    {"plmncsga", cmd_request, 89, G::plmn, "CSG List Abort",
     "cmd_plmn_csg_list_abort_request", 2, 2, NONE, send_dev<cm_plmn_csg_list_abort_request>,
     "-------CSG List Abort Request Usage-------\ncmd>plmncsga [dev_idx]\n"},
    {"plmncsgqs", cmd_request, 90, G::plmn, "CSG Query Selected",
     "cmd_plmn_csg_query_selected_request", 2, 2, NONE, send_dev<cm_plmn_csg_query_selected_request_usage>,
     "-------CSG Query Selected Request Usage-------\ncmd>plmncsgqs [dev_idx]\n"},
    {"plmncsgs", cmd_request, 91, G::plmn, "CSG Select",
     "cmd_plmn_csg_select_request", 4, 4, NONE, send_req<cm_plmn_csg_select_request_usage>,
     "-------CSG Select Request Usage-------\ncmd>plmncsgs [dev_idx] [plmn_id] [csg_id]\n[plmn_id]\n\t0 ~ 4294967295 : MCC and MNC\n[csg_id]\n\t0 ~ 4294967295 : the CSG id\n",
     CSG_SELECT},
    {"plmncsgsl", cmd_request, 92, G::plmn, "CSG Set Allowed CSG List",
     "cmd_plmn_csg_set_acsgl_request", 8, 8, NONE, send_req<cm_plmn_csg_set_acsgl_request>,
     "-------CSG Set Allowed CSG List Request Usage-------\ncmd>plmncsgsl [dev_idx] [usim_select] [record_index] [plmn_id] [csg_type_indication] [csg_name_indication] [csg_id]\n",
     CSG_SET_LIST},
    {"plmncsggl", cmd_request, 93, G::plmn, "CSG Get CSG List",
     "cmd_plmn_csg_get_csgl_request", 3, 3, NONE, send_req<cm_plmn_csg_get_csgl_request>,
     "-------CSG Get CSG List Request Usage-------\ncmd>plmncsggl [dev_idx] [ef_select]\n[ef_select]\n\t0 ~ 255 : the EF to read\n",
     U1},

    {"supalgoset", cmd_request, 94, G::emm, "UE Support Algorithm Set",
     "cmd_ue_support_algorithm_request", 4, 4, NONE, send_req<cm_ue_support_algorithm_request>,
     "-------UE Support Algorithm Set Usage-------\ncmd>supalgoset [dev_idx] [eia] [eea]\n[eia]\n\t0 ~ 255 : EIA selection\n[eea]\n\t0 ~ 255 : EEA selection\n",
     U1_U1},

    {"supalgoread", cmd_request, 95, G::emm, "UE Support Algorithm Read",
     "cmd_ue_support_algorithm_read_request", 2, 2, NONE, send_dev<cm_ue_support_algorithm_read_request>,
     "-------UE Support Algorithm Read Usage-------\ncmd>supalgoread [dev_idx]\n"},
    // The daemon itself.
    {"help", cmd_help, CMD_ID_HELP, G::etc, "Command List"},
    {"nasconf", cmd_nasconf, 98, G::emm, "NAS Configuration",
     "cmd_nasconf", 4, 5, NONE, nullptr,
     "-------NAS Configuration Usage-------\ncmd>nasconf [dev_idx] [set_get] [index] [value]\n[set_get]\n\t0 : Set\n\t1 : Get\n[index]\n\t0 ~ 10\n[value]\n\t0 ~ 255 : the value to set, with set_get 0\n",
     NASCONF},
    {"roamallow", cmd_roamallow, 99, G::plmn, "Roaming Allowed",
     "cmd_roamallow", 3, 3, NONE, nullptr,
     "-------Roaming Allowed Usage-------\ncmd>roamallow [dev_idx] [value]\n[value]\n\t0 : Not Allowed\n\t1 : Allowed\n"},
    {"watchdog", cmd_watchdog, 100, G::etc, "Watchdog Mode"},
    {"sys", cmd_sys_resetsw, CMD_ID_SYS, G::etc, "Software Reset"},
    {"cmtest", cmd_cmtest, 103, G::etc, "CM Test Injection",
     "cmd_cmtest", 4, 5, NONE, nullptr,
     "-------CM Test Usage-------\ncmd>cmtest [dev_idx] [item] [option] [option2]\n[item]\n\t1 : block PLMN search\n\t2 : factory reset\n\t3 : emergency band timer\n\t4 : emergency PDN\n\t5 : socket test\n\t6 : PDN connect request indication\n\t7 : NR status\n\t8 : NR detach\n\t9 : NR device info\n\t10 : NR RF report\n\t11 : modem reboot\n\t12 : CA mode switch\n"},
    {"eip", cmd_eip, 104, G::etc, "Encapsulated Multicast Address"},
    {"host_dump", cmd_host_dump, CMD_ID_HOST_DUMP, G::etc, "Host Dump Address"},
    {"kern", cmd_host_tool, 106, G::etc, "Kernel Tool Command"},
    {"arm1log", cmd_arm1_log_control, 107, G::etc, "ARM1 Log Direction Control"},
    {"cnxdf", cmd_cnxd_flags, 108, G::etc, "CNXD Flags"},
    {"laf", cmd_api_flags, 109, G::etc, "LTE API Flags"},
    {"lsf", cmd_sdk_flags, 110, G::etc, "LTE SDK Flags"},
    {"cnxdst", cmd_cnxd_stuck, 111, G::etc, "Client Stuck Test"},
    {"cnxdcommf", cmd_common_flag, 112, G::etc, "Common Log Flag"},
    {"socksim", cmd_sock_sim, 113, G::etc, "Socket Simulation Test"},
    {"cnxdcinfo", cmd_client_info, 114, G::etc, "Client Information"},
    {"crash", cmd_crash, 115, G::etc, "Crash Console Log"},
    {"confdb", cmd_host_tool, 116, G::etc, "Configuration Store Tool"},
    {"dm_en", cmd_dm_enable, 117, G::nv, "DM NV Write Enable"},
    {"dm_dis", cmd_dm_disable, 118, G::nv, "DM NV Write Disable"},
    // Automated test and scripts.
    {"test", cmd_auto_test, 119, G::etc, "Auto Test"},
    {"senddmfile", cmd_send_dm_file, 120, G::etc, "Send DM Command File"},
    // Diagnostics tool.
    {"x", cmd_x, 121, G::etc, "Diagnostics Tool"},
};

constexpr bool words_and_ids_unique()
{
    for (auto a = std::begin(cmd_rows); a != std::end(cmd_rows); ++a)
        for (auto b = a + 1; b != std::end(cmd_rows); ++b)
            if (a->id == b->id || std::string_view(a->word) == b->word)
                return false;
    return true;
}
static_assert(words_and_ids_unique(), "command words and ids are unique");
static_assert(std::ranges::none_of(cmd_rows, [](const cmd_entry& e) {
                  return e.id == CMD_ID_RESERVED || e.id == CMD_ID_END;
              }),
              "ids 97 and 101 belong to no command");
static_assert(std::size(cmd_rows) == 119, "every command word of the shell");
static_assert(std::ranges::all_of(cmd_rows, [](const cmd_entry& e) {
                  return e.title && *e.title && static_cast<size_t>(e.group) < cmd_group_heading.size();
              }),
              "every command has a help title and group");

static_assert(std::ranges::all_of(cmd_rows, [](const cmd_entry& e) {
                  return !e.usage ||
                         (e.name && e.min_tokens >= 1 && e.min_tokens <= e.max_tokens &&
                          e.max_tokens <= CMD_MAX_ARGS && (e.builder < 0 || e.packed.empty()));
              }),
              "every row with a usage has a name and a token range");

}  // namespace

const std::span<const cmd_entry> cmd_tbl(cmd_rows);

const cmd_entry* cmd_find(std::string_view word)
{
    const auto it = std::ranges::find_if(cmd_tbl, [&](const cmd_entry& e) { return word == e.word; });
    return it == cmd_tbl.end() ? nullptr : &*it;
}

}  // namespace cnxd
