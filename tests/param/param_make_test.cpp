// The builder and check tables: each builder on its sample file of
// docs/param (or on command arguments) against the record written out by
// hand from the request layouts, and each check on the edge values of its
// ranges with the message it prints.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/confdb_access.h"
#include "param_fixture.h"

namespace cnxd::test {
namespace {

// Bytes at an offset of an otherwise zero record.
struct patch {
    size_t off;
    const char* hex;
};

std::vector<uint8_t> record(size_t size, const std::vector<patch>& patches)
{
    std::vector<uint8_t> rec(size);
    for (const patch& p : patches)
        for (size_t i = 0; p.hex[2 * i]; ++i)
            rec.at(p.off + i) = static_cast<uint8_t>(std::stoi(std::string(p.hex + 2 * i, 2), nullptr, 16));
    return rec;
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A builder's file: `file` under the parameter directory, holding `text`
// (hex bytes for a ".bin" file) or, with no text, the sample of that name
// in docs/param; none when `file` is empty.
struct build_case {
    const char* what;
    size_t kind;
    std::vector<const char*> args;
    const char* file;
    const char* text;
    int rc;
    std::vector<patch> expect;  // the record, when rc is not PARAM_NOT_YET
    const char* message = "";   // printed (else nothing is)
};

// A CA band combination list file: header byte 4 0xFF, count byte 11 of
// the next 12 (count 2), then two bytes, the last 0xFF.
constexpr const char* CA_LIST = "01020304ff" "000000000000000000000001" "03ff";

// One set more than the supported frequency range list holds.
const std::string NINE_SETS = [] {
    std::string sets;
    for (int i = 0; i < 9; ++i)
        sets += "BAND=1\nSTART_EARFCN=1\nEND_EARFCN=2\n";
    return sets;
}();

const std::string EIGHT_ENTRIES = [] {
    std::string e;
    for (int i = 0; i < 8; ++i)
        e += "01" "00000001" "00000002";
    return e;
}();

const std::vector<build_case> BUILD_CASES = {
    // Samples of the file-fed builders.
    {"attach", 1, {}, "attach.param", nullptr, 0,
     {{0, "01"}, {2, "696e7465726e6574"}, {102, "02"}, {104, "75736572"}, {168, "736563726574"},
      {232, "01" "01" "0201" "01" "03" "01abff"}, {340, "01"}}},
    {"attach extension: primary and retry APN, the label argument", 2, {"1"}, "attach_ext.param", nullptr, 0,
     {{0, "01"}, {2, "01" "696e7465726e6574"}, {103, "02" "75736572"}, {168, "736563726574"},
      {232, "01" "81" "02" "01" "ff00"}, {242, "01" "02" "696d73"}, {344, "01"}, {483, "01"}}},
    {"PDN connectivity: the file's apn_name replaces the argument", 4, {"internet"}, "pdn_connect.param", nullptr, 0,
     {{1, "01"}, {2, "696d73"}, {102, "0101"}, {418, "01"}}},
    {"PDN connectivity extension: class and label arguments, APN_NAME replaces the name", 5,
     {"2", "internet", "1"}, "pdn_connect_ext.param", nullptr, 0,
     {{0, "01" "01" "01" "02" "696d73"}, {105, "75736572"}, {169, "7077"}, {234, "04" "00" "02" "ff01" "fffe"},
      {243, "01"}}},
    {"PLMN search", 7, {}, "plmn_search.param", nullptr, 0, {{0, "010405000006000001"}}},
    {"PLMN list extension: bands of frequencies", 9, {}, "plmn_list_ext.param", nullptr, 0,
     {{0, "01" "02" "03" "01" "00000514" "c4" "01" "17" "05"},
      {68, "07" "02" "00000b22" "ba" "00" "e2" "03" "00000c1c" "c0" "02" "0a" "04"}}},
    {"PLMN list extension 2", 10, {}, "plmn_list_ext2.param", nullptr, 0,
     {{0, "00" "01" "02" "02" "00000514" "03" "000a" "00000b22" "07" "012c"}, {60, "01"}}},
    {"bearer allocation: QoS and two filters with their components", 11, {}, "bearer_alloc.param", nullptr, 0,
     {{0, "0005" "00000009" "000003e8" "000007d0" "00000000" "00000000" "00000002"},
      {26, "01" "00000003" "01" "00000001" "01" "0000000a" "01" "0a000001" "01" "ffffff00"}, {85, "01" "00000011"},
      {93, "01" "13c4"},
      {178, "01" "00000001" "01" "00000002" "01" "00000014"}, {248, "01" "03e8" "01" "07d0"}, {275, "01" "00003039"}}},
    {"bearer modification", 12, {}, "bearer_modify.param", nullptr, 0,
     {{0, "0005" "00000002" "0006" "00000001" "00000040" "00000040" "00000040" "00000040" "00" "00000001"},
      {33, "01" "00000002" "01" "00000003" "01" "00000000"}, {120, "01" "000000b8" "01" "000000fc"}}},
    {"bearer release", 13, {}, "bearer_release.param", nullptr, 0, {{0, "0005000600000002"}}},
    {"log configuration", 24, {}, "log_config.param", nullptr, 0,
     {{0, "0101"}, {8, "00020003"}, {16, "0000000000100000"}, {24, "2f7661722f6c6f672f636d2e6c6f67"}, {280, "01"},
      {290, "0001"}}},
    {"indication mask", 31, {}, "ind_mask.param", nullptr, 0, {{0, "010100000101010100000101010001000100000001"}}},
    {"RF status report", 32, {}, "rf_status_control.param", nullptr, 0, {{0, "0001000a00050003012c"}}},
    {"RF event control", 39, {}, "rf_event_control.param", nullptr, 0, {{0, "00010014000aff9200030002"}}},
    {"maximum count", 43, {}, "att_max_cnt_of_crrg_cfg.param", nullptr, 0, {{0, "0105"}}},
    {"maximum timer", 44, {}, "att_max_timer_of_trrg_cfg.param", nullptr, 0, {{0, "011e"}}},
    {"PHY items", 46, {}, "phy_func_misc_item_get.param", nullptr, 0, {{0, "01010001010100"}}},
    {"5G security: the algorithms the file has", 47, {}, "ps_ctrl_5g_add_security.param", nullptr, 0,
     {{0, "01010101"}, {16, "010101"}}},
    {"PLMN configuration bands", 48, {"1"}, "plmn_supp_band_list_set.param", nullptr, 0, {{0, "0001" "03" "020442"}}},
    // Composites: type, length, value.
    {"UICC status", 35, {"0"}, "", nullptr, 0, {{0, "0000" "0001"}}},
    {"UICC status with its application type", 35, {"0", "2"}, "", nullptr, 0, {{0, "0000" "0001" "02"}}},
    {"UICC read binary", 35, {"1"}, "uicc_read_binary.param", nullptr, 0,
     {{0, "0001" "0009" "01" "00006f07" "0000" "0009"}}},
    {"UICC read record", 35, {"2"}, "uicc_read_record.param", nullptr, 0,
     {{0, "0002" "0008" "02" "00006f40" "01" "001c"}}},
    {"UICC update binary", 35, {"3"}, "uicc_update_binary.param", nullptr, 0,
     {{0, "0003" "0108" "01" "00006f7e" "0000" "0004" "01020304"}}},
    {"UICC update record", 35, {"4"}, "uicc_update_record.param", nullptr, 0,
     {{0, "0004" "0107" "01" "00006f3b" "02" "0002" "ff00"}}},
    {"UICC authenticate", 35, {"5"}, "uicc_auth.param", nullptr, 0,
     {{0, "0005" "0023" "04" "01234567"}, {21, "04" "89abcdef"}}},
    {"UICC PIN command: the old and the new PIN", 35, {"6"}, "uicc_pin_cmd.param", nullptr, 0,
     {{0, "0006" "0014" "00" "01" "04" "01020304"}, {15, "04" "05060708"}}},
    {"UICC refresh", 35, {"7"}, "uicc_refresh.param", nullptr, 0,
     {{0, "0007" "00a2" "01" "0004" "01" "3f007fff"}, {72, "05" "a000000087"}, {89, "02" "4142"}, {155, "01" "00"},
      {164, "01" "01"}}},
    {"UICC refresh of type 10 reads the same file", 35, {"10"}, "uicc_refresh.param", nullptr, 0,
     {{0, "000a" "00a2" "01" "0004" "01" "3f007fff"}, {72, "05" "a000000087"}, {89, "02" "4142"}, {155, "01" "00"},
      {164, "01" "01"}}},
    {"USAT terminal profile", 35, {"11"}, "uicc_usat_terminal_profile.param", nullptr, 0,
     {{0, "000b" "0101" "0003" "ffff7f"}}},
    {"USAT envelope", 35, {"12"}, "uicc_usat_envelope.param", nullptr, 0, {{0, "000c" "0101" "0002" "d307"}}},
    {"USAT terminal response", 35, {"13"}, "uicc_usat_terminal_rsp.param", nullptr, 0,
     {{0, "000d" "0101" "0003" "810301"}}},
    {"UICC poll timer", 35, {"14"}, "uicc_poll_interval_timer.param", nullptr, 0, {{0, "000e" "0002" "01" "1e"}}},
    {"UE category", 36, {"1"}, "rrc_ue_category_set.param", nullptr, 0, {{0, "0001" "0001" "04"}}},
    {"UE DL and UL category", 36, {"2"}, "rrc_ue_category_dlul_set.param", nullptr, 0, {{0, "0002" "0002" "0605"}}},
    {"AS release", 36, {"3"}, "rrc_as_release_num_set.param", nullptr, 0, {{0, "0003" "0001" "05"}}},
    {"band list", 36, {"4"}, "rrc_band_list_set.param", nullptr, 0, {{0, "0004" "0021" "03" "010307"}}},
    {"FGI", 36, {"5"}, "rrc_capability_fgi_set.param", nullptr, 0, {{0, "0005" "0019" "7ffffffe"}, {28, "01"}}},
    {"ROHC", 36, {"6"}, "rrc_rohc_support_cfg_set.param", nullptr, 0, {{0, "0006" "0001" "01"}}},
    {"transmission modes", 36, {"7"}, "rrc_trans_mode_set.param", nullptr, 0, {{0, "0007" "0005" "0100020100"}}},
    {"autonomous gap", 36, {"8"}, "rrc_automous_gap_set.param", nullptr, 0, {{0, "0008" "0001" "02"}}},
    {"PWS", 36, {"10"}, "rrc_pws_control_set.param", nullptr, 0, {{0, "000a" "0001" "01"}}},
    {"CA control", 36, {"11"}, "rrc_ca_control_set.param", nullptr, 0, {{0, "000b" "0006" "010402030103"}}},
    {"supported frequency ranges: count, then band and EARFCNs per set", 36, {"15"},
     "rrc_set_supported_freq_range_list.param", nullptr, 0,
     {{0, "000f" "0013" "02" "03" "000004b0" "0000079d" "07" "00000abe" "00000d79"}}},
    {"DL 256QAM", 36, {"17"}, "rrc_set_r12_rf_dl_256qam.param", nullptr, 0, {{0, "0011" "0022" "01" "02" "0307"}}},
    {"UL 64QAM", 36, {"18"}, "rrc_set_r12_rf_ul_64qam.param", nullptr, 0, {{0, "0012" "0022" "01" "01" "29"}}},
    {"half duplex bands", 36, {"19"}, "rrc_set_half_duplex_cfg_per_band.param", nullptr, 0,
     {{0, "0013" "0022" "01" "02" "0103"}}},
    {"maximum layers", 36, {"20"}, "rrc_dlul_max_layer_cfg_set.param", nullptr, 0, {{0, "0014" "0002" "0402"}}},
    {"power class per band", 36, {"21"}, "rrc_set_power_class_per_band.param", nullptr, 0,
     {{0, "0015" "0021" "02" "2902" "0303"}}},
    {"DL-only bands", 36, {"22"}, "rrc_set_dl_only_band_list.param", nullptr, 0, {{0, "0016" "0021" "02" "1d20"}}},
    {"locked SCell trigger", 36, {"23"}, "rrc_mr_trigger_locked_scell_set.param", nullptr, 0,
     {{0, "0017" "0001" "01"}}},
    {"handover disable", 37, {"0"}, "rrc_ho_disable_flag_set.param", nullptr, 0, {{0, "0000" "0001" "01"}}},
    {"lock cell list", 37, {"1"}, "rrc_lock_cellist_set.param", nullptr, 0,
     {{0, "0001" "0061" "02" "00000514" "00000b22"}, {69, "0065" "00ca"}}},
    {"ECGI lists", 37, {"2"}, "rrc_ecgi_list_set.param", nullptr, 0,
     {{0, "0002" "0802" "01" "01" "3435303036303030303030303031"}, {1030, "3435303036303030303030303032"}}},
    {"secondary lock cell list", 37, {"3"}, "rrc_secondary_lock_cellist_set.param", nullptr, 0,
     {{0, "0003" "0061" "01" "00000514"}, {69, "0007"}}},
    {"preferred bands", 37, {"4"}, "rrc_preferred_band_list_set.param", nullptr, 0,
     {{0, "0004" "0061" "02" "03" "00000514" "01" "07" "00000b22" "02"}}},
    {"primary lock cell list", 37, {"5"}, "rrc_primary_lock_cellist_set.param", nullptr, 0,
     {{0, "0005" "0061" "01" "00000b22"}, {69, "012c"}}},
    {"UL EARFCNs", 37, {"6"}, "rrc_ul_earfcn_list_set.param", nullptr, 0,
     {{0, "0006" "0081" "01" "00000514" "00004b64"}}},
    {"handover event prohibit", 37, {"7"}, "rrc_ho_event_prohibit_set.param", nullptr, 0, {{0, "0007" "0001" "03"}}},
    {"user PCI ranges", 37, {"8"}, "rrc_user_defined_pci_list_set.param", nullptr, 0,
     {{0, "0008" "0042" "01" "02" "0000" "0064" "00c8" "01f7"}}},
    {"user TACs", 37, {"9"}, "rrc_user_defined_tac_list_set.param", nullptr, 0,
     {{0, "0009" "0021" "02" "1a2b" "ffff"}}},
    {"ignore cell barred", 37, {"10"}, "rrc_ignore_cell_barred_set.param", nullptr, 0, {{0, "000a" "0001" "01"}}},
    {"ignore access barring", 37, {"11"}, "rrc_ignore_access_brring_set.param", nullptr, 0, {{0, "000b" "0001" "01"}}},
    {"lock or block cell ranges", 37, {"12"}, "rrc_lockblock_cellrnglist_set.param", nullptr, 0,
     {{0, "000c" "0082" "00" "01" "00000514" "000a" "0014"}}},
    {"idle inter-frequency measurement", 37, {"13"}, "rrc_idle_inter_freq_measure_control_set.param", nullptr, 0,
     {{0, "000d" "0001" "01"}}},
    {"locked EARFCN ranges", 37, {"14"}, "rrc_locked_freq_range_list_set.param", nullptr, 0,
     {{0, "000e" "0082" "01" "01" "000004b0" "0000079d"}}},
    {"preferred cells", 37, {"15"}, "rrc_preferred_cell_list_set.param", nullptr, 0,
     {{0, "000f" "0081" "01" "00000b22" "0001" "0001"}}},
    {"connected-state neighbour measurement", 37, {"16"}, "rrc_conn_state_neighbor_meas_ctl_set.param", nullptr, 0,
     {{0, "0010" "0001" "01"}}},
    {"HPUE", 45, {"0"}, "phy_hpue_active_flag_set.param", nullptr, 0, {{0, "0000" "0001" "01"}}},
    {"neighbour measurement", 45, {"1"}, "phy_neighbor_measure_set.param", nullptr, 0,
     {{0, "0001" "0042" "28" "02" "00000514" "00000b22"}}},
    {"active RX mode", 45, {"3"}, "phy_act_rx_mode_set.param", nullptr, 0, {{0, "0003" "0001" "02"}}},
    {"serving DM collection", 45, {"4"}, "phy_serv_dm_collect_set.param", nullptr, 0, {{0, "0004" "0003" "01" "03e8"}}},
    {"neighbour DM collection", 45, {"5"}, "phy_neigh_dm_collect_set.param", nullptr, 0,
     {{0, "0005" "0003" "01" "01f4"}}},
    // Protocol information files: type, value.
    {"operational mode", 29, {"0"}, "opt_mode_info.param", nullptr, 0, {{0, "0000" "010100"}}},
    {"IMS and SMS", 29, {"1"}, "ims_sms_info.param", nullptr, 0, {{0, "0001" "01000001"}}},
    {"APN table: the entries the file has", 29, {"2"}, "apn_table_info.param", nullptr, 0,
     {{0, "0002" "02" "01" "01" "696d73"}, {15, "696d73"}, {79, "02"}, {213, "01" "03" "696e7465726e6574"},
      {225, "696e7465726e6574"}, {289, "02" "00" "01" "02" "012c" "75736572"}, {359, "736563726574"}}},
    {"PLMN search intervals", 29, {"4"}, "pls_info.param", nullptr, 0,
     {{0, "0004" "02" "001e" "00000005" "003c" "ffffffff"}}},
    {"operator information of the configured operator that has it", 29, {"5"}, "vzw_info.param", nullptr, 0,
     {{0, "0005" "02" "01" "c0a8010a" "1389" "01" "00"}}},
    {"IMEI digits", 29, {"6"}, "imei_info.param", nullptr, 0, {{0, "0006" "040900010504020003020307050108"}}},
    {"DRX", 29, {"7"}, "drx_info.param", nullptr, 0, {{0, "0007" "0207"}}},
    {"software version", 29, {"8"}, "sw_ver.param", nullptr, 0, {{0, "0008" "0c"}}},
    // Files of the edge cases.
    {"attach with optional_info 0 alone", 1, {}, "attach.param", "optional_info=0\n", 0, {}},
    {"attach optional_info with a space", 1, {}, "attach.param", "optional_info=1 \n", -1, {},
     "[make_attach_req_param    ] Invalid parameter /var/lte/param/attach.param[optional_info]\n"},
    {"attach secure_pco is named securePCO", 1, {}, "attach.param",
     "optional_info=1\npdn_type=0\nip_alloc=0\nauth_flag=0\nUSE_GENERAL_PCO=0\nUSE_OPERATOR_PCO=0\n"
     "attach_type=0\nrequest_type=0\nemergency_mode=0\nsecure_pco=x\n", -1, {{0, "01"}},
     "Invalid parameter /var/lte/param/attach.param[securePCO]\n"},
    {"operator PCO data bounded by its length", 1, {}, "attach.param",
     "optional_info=1\npdn_type=0\nip_alloc=0\nauth_flag=0\nUSE_GENERAL_PCO=0\nUSE_OPERATOR_PCO=1\n"
     "OPER_PCO_LENGTH=2\nOPER_PCO_DATA=0x01,0x02,0x03\n", -1, {{0, "01"}, {236, "01020102"}}, "too many argument"},
    {"attach extension OS PCO lines close with ])", 2, {"0"}, "attach_ext.param",
     "OPTIONAL_INFO=1\nPRIMARY_IP_ALLOC=0\nPRIMARY_APN_CLASS=0\nPRIMARY_PDN_TYPE=0\nPRIMARY_AUTH_FLAG=0\n"
     "PRIMARY_FIRST_PCO=0,0,0,0,0,0,0,0\nPRIMARY_SECOND_PCO=0,0,0,0,0,0,0,0\nPRIMARY_N_PCO=1\n"
     "PRIMARY_FIRST_OS_PCO=0xzz\n",
     -1, {{0, "01"}, {235, "01"}},
     "Invalid parameter /var/lte/param/attach_ext.param[PRIMARY_FIRST_OS_PCO])\n"},
    {"a num_tft of 16 is refused", 11, {}, "bearer_alloc.param",
     "default_eps_id=5\nT_QCI=1\nT_MAX_BIT_RATE_UL=0\nT_MAX_BIT_RATE_DL=0\nT_GUARANTEED_BIT_RATE_UL=0\n"
     "T_GUARANTEED_BIT_RATE_DL=0\nnum_tft=16\n", -1, {{0, "0005" "00000001"}, {22, "00000010"}},
     "[make_bearer_resource_alloc_req_param] Invalid parameter /var/lte/param/bearer_alloc.param[num_tft]\n"},
    {"num_tft 0: no filters", 11, {}, "bearer_alloc.param",
     "default_eps_id=5\nT_QCI=1\nT_MAX_BIT_RATE_UL=0\nT_MAX_BIT_RATE_DL=0\nT_GUARANTEED_BIT_RATE_UL=0\n"
     "T_GUARANTEED_BIT_RATE_DL=0\nnum_tft=0\n", 0, {{0, "0005" "00000001"}}},
    {"a bad filter component names its tag", 11, {}, "bearer_alloc.param",
     "default_eps_id=5\nT_QCI=1\nT_MAX_BIT_RATE_UL=0\nT_MAX_BIT_RATE_DL=0\nT_GUARANTEED_BIT_RATE_UL=0\n"
     "T_GUARANTEED_BIT_RATE_DL=0\nnum_tft=1\nT_DIRECTION_00=1\nT_PKT_FILTER_ID_00=1\nT_PRECEDENCE_00=1\n"
     "T_PROTID_NEXT_HDR_00=x\n", -1,
     {{0, "0005" "00000001"}, {22, "00000001" "01" "00000001" "01" "00000001" "01" "00000001"}},
     "Invalid parameter /var/lte/param/bearer_alloc.param[T_PROTID_NEXT_HDR_00]\n"},
    {"a frequency count above 8 names its band's tag", 9, {}, "plmn_list_ext.param",
     "mode=0\nband_num=1\ndata_band_num0=1\ndata_freq_num0=9\n", -1, {{0, "00" "01" "01" "09"}},
     "Invalid parameter /var/lte/param/plmn_list_ext.param[data_freq_num0]\n"},
    {"supported frequency ranges: no set", 36, {"15"}, "rrc_set_supported_freq_range_list.param", "# BAND=3\n", -1,
     {{0, "000f"}},
     "[make_rrc_set_supported_freq_range_list_param] /var/lte/param/rrc_set_supported_freq_range_list.param: "
     "No tags, No value in param file.\n"},
    {"supported frequency ranges: a set without its START_EARFCN", 36, {"15"},
     "rrc_set_supported_freq_range_list.param", "BAND=3\nEND_EARFCN=5\n", -1, {{0, "000f"}},
     "rrc_set_supported_freq_range_list.param: Check Tag name and Value in param file.\n"},
    {"supported frequency ranges: no file", 36, {"15"}, "", nullptr, -1, {{0, "000f"}},
     "rrc_set_supported_freq_range_list.param: Param File Open Error.\n"},
    {"supported frequency ranges: nine sets, eight entries, no count", 36, {"15"},
     "rrc_set_supported_freq_range_list.param", NINE_SETS.c_str(), 0, {{0, "000f" "0052" "00"}, {5, EIGHT_ENTRIES.c_str()}}},
    {"CA band combination list as the file holds it", 36, {"16"}, "rrc_ca_combination_list_working.bin", CA_LIST, 0,
     {{0, "0010" "0013"}, {4, CA_LIST}}},
    {"CA band combination list of type 24", 36, {"24"}, "rrc_ca_combination_list_working.bin", CA_LIST, 0,
     {{0, "0018" "0013"}, {4, CA_LIST}}},
    {"CA band combination list on a model without CA", 36, {"16"}, "rrc_ca_combination_list_working.bin",
     "0102030400" "000000000000000000000001" "03ff", -1, {{0, "0010"}},
     "[make_rrc_capability_control_req_param] This model doesn't support CA !!!!\n"},
    // Argument-fed builders.
    {"loopback", 0, {"1", "3", "500000", "30000"}, "", nullptr, 0, {{0, "01030007a12000007530"}}},
    {"detach", 3, {"1"}, "", nullptr, 0, {{0, "00000001"}}},
    {"NID read", 21, {"1", "5"}, "", nullptr, 0, {{0, "0105"}}},
    {"NID read without its EPS id", 21, {"1"}, "", nullptr, -1, {{0, "01"}},
     "[make_nid_read_req_param  ] Invalid #3 parameter\n"},
    {"DM log read of id 21", 25, {"21", "0", "1", "0"}, "", nullptr, 0, {{0, "0015000100"}}},
    {"DM log extension read: the item ids and their count", 26, {"0", "16", "5", "0", "1", "2", "3"}, "", nullptr, 0,
     {{0, "00" "10" "05" "00" "03" "010203"}}},
    {"DM log extension read with a bad item id", 26, {"0", "16", "5", "0", "1", "256"}, "", nullptr, -1,
     {{0, "00" "10" "05" "00" "00" "01"}}, "[make_dm_log_ext_read_req_param] Invalid #7 parameter\n"},
    {"protocol information of a table index", 27, {"2", "3"}, "", nullptr, 0, {{0, "0002" "03"}}},
    {"protocol information without a parameter", 27, {"5"}, "", nullptr, 0, {{0, "0005"}}},
    {"protocol information set", 28, {"5", "1"}, "", nullptr, 0, {{0, "0005" "01"}}},
    {"PHY TA information", 38, {"1", "100"}, "", nullptr, 0, {{0, "0001" "0064"}}},
    {"firmware download", 16, {"4", "/tmp/fw.bin"}, "", nullptr, 0, {{0, "2f746d702f66772e62696e"}, {128, "0004"}}},
    {"offline extension", 42, {"3"}, "", nullptr, 0, {{0, "0003"}}},
    {"MAC address", 17, {"00-1a-2B-3c-4D-5e"}, "", nullptr, 0, {{0, "001a2b3c4d5e"}}},
    {"MAC address with a bad digit", 17, {"00-1a-2b-3c-4d-5g"}, "", nullptr, -1, {}, "Unknown Mac Address"},
    {"IMEI of 14 digits gets its check digit", 18, {"49015420323751"}, "", nullptr, 0, {{0, "084a09512430325781"}}},
    {"IMEI with a wrong check digit", 18, {"490154203237517"}, "", nullptr, -1, {}, "!check_digit_valid"},
    {"IMEI too short", 18, {"4901"}, "", nullptr, -1, {}, "make_change_imei_req_param argument length err"},
    // Composite types: outside the table, or between its rows (not yet
    // implemented), or a bad argument of their own.
    {"UICC control type 15", 35, {"15"}, "", nullptr, -1, {{0, "000f"}},
     "[make_uicc_control_req_param] Invalid UICC control request type : 15\n"},
    {"UICC control type 8", 35, {"8"}, "", nullptr, PARAM_NOT_YET, {}},
    {"UICC status with a bad application type", 35, {"0", "x"}, "", nullptr, -1, {},
     "[make_uicc_control_req_param] Invalid AppType parameter\n"},
    {"RRC capability type 9", 36, {"9"}, "", nullptr, PARAM_NOT_YET, {}},
    {"RRC capability type 25", 36, {"25"}, "", nullptr, -1, {{0, "0019"}},
     "Invalid RRC Capability control request type : 25\n"},
    {"RRC function type 17", 37, {"17"}, "", nullptr, -1, {{0, "0011"}},
     "Invalid RRC Function control request type : 17\n"},
    {"PHY function type 2", 45, {"2"}, "", nullptr, PARAM_NOT_YET, {}},
    {"protocol information file type 9", 29, {"9"}, "", nullptr, -1, {{0, "0009"}},
     "Invalid Set Protocol Info request type : 9\n"},
    {"composite without its type", 45, {}, "", nullptr, -1, {},
     "[make_phy_function_control_req_param] Invalid #2 parameter\n"},
};

// The bytes of a hex text.
std::string unhex(const char* text)
{
    std::string out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2)
        out += static_cast<char>(std::stoi(std::string(text + i, 2), nullptr, 16));
    return out;
}

TEST_F(ParamTest, BuildersFillTheirRecords)
{
    g_operator = OPERATOR_VZW;  // the operator with an operator information block
    for (const build_case& c : BUILD_CASES) {
        SCOPED_TRACE(c.what);
        const std::string path = std::string(PARAM_DIR_DEFAULT) + c.file;
        if (*c.file) {
            const bool bin = std::string_view(c.file).ends_with(".bin");
            write(path.c_str(), !c.text ? read_text(std::string(CNXD_SOURCE_DIR) + "/docs/param/" + c.file)
                                : bin   ? unhex(c.text)
                                        : c.text);
        }
        const make_param_row& row = make_parameter.at(c.kind);
        const param_args args{static_cast<int>(c.args.size()), c.args.data()};
        std::vector<uint8_t> rec(4096, 0xee);
        EXPECT_EQ(c.rc, param_make(c.kind, rec, {row.file, &args}));
        if (c.rc != PARAM_NOT_YET) {
            rec.resize(row.size);
            EXPECT_EQ(hex(record(row.size, c.expect)), hex(rec));
        }
        const std::string text = take_printed();
        if (*c.message) {
            EXPECT_NE(std::string::npos, text.find(c.message)) << text;
        } else {
            EXPECT_EQ("", text);
        }
        if (c.rc == 0 && row.check >= 0) {
            EXPECT_EQ(0, param_check(static_cast<size_t>(row.check), rec)) << take_printed();
        }
        if (*c.file)
            std::filesystem::remove(root_ + path);
    }
    g_operator = 0;
}

TEST(ParamTables, SamplesAreAllBuiltAndBuilderAndCheckNumbersDiffer)
{
    std::set<std::string> tested;
    for (const build_case& c : BUILD_CASES)
        if (*c.file && !c.text)
            tested.insert(c.file);
    size_t samples = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(CNXD_SOURCE_DIR) + "/docs/param")) {
        const std::string name = entry.path().filename();
        if (!name.ends_with(".param"))
            continue;
        ++samples;
        EXPECT_TRUE(tested.contains(name)) << name << " is not read by its builder in BUILD_CASES";
    }
    EXPECT_EQ(tested.size(), samples);

    EXPECT_STREQ("make_bearer_resource_alloc_req_param", make_parameter[11].name);
    EXPECT_STREQ("bearer_resource_alloc_req_param_check", parameter_check[9].name);
    EXPECT_EQ(9, make_parameter[11].check);
    EXPECT_STREQ("make_plmn_cfg_set_req_param", make_parameter[48].name);
    EXPECT_STREQ("plmn_cfg_set_param_check", parameter_check[37].name);
    EXPECT_EQ(37, make_parameter[48].check);
    std::vector<uint8_t> rec(4096);
    EXPECT_EQ(-1, param_make(MAKE_PARAMETER_COUNT, rec, {}));
    EXPECT_EQ(-1, param_check(PARAMETER_CHECK_COUNT, rec));
    EXPECT_EQ(-1, param_make(1, std::span(rec).first(351), {filepath_attach_param, nullptr}));
}

struct check_case {
    size_t kind;
    std::vector<patch> rec;
    int rc;
    const char* message;
};

const std::vector<check_case> CHECK_CASES = {
    {0, {{0, "0103"}, {2, "0007a120"}, {6, "00007530"}}, 0, ""},
    {0, {{0, "0103"}, {2, "0007a121"}}, -1, "[loopback_start_param_check] Loopback count should be smaller than 500,000\n"},
    {0, {{0, "0106"}}, -1, "Unknown Transfer Type : 6 (TRANSFER TYPE : 3~5)\n"},
    {1, {}, 0, ""},
    {1, {{0, "00"}, {338, "08"}}, 0, ""},
    {1, {{0, "02"}}, -1, "[attach_req_param_check   ] Unknown optional infon flag type : 2 (optiona info flag : 0~1)\n"},
    {1, {{0, "01"}, {338, "07"}, {339, "02"}, {341, "01"}}, 0, ""},
    {1, {{0, "01"}, {338, "08"}}, -1, "Unknown APN Type : 8 (APN_TYPE : 0~4)\n"},
    {1, {{0, "01"}, {102, "03"}}, -1, "Unknown PDN type : 3 (Authentication Protocol : 0~2)\n"},
    {3, {{0, "00000002"}}, -1, "Unknown Detach Type : 2 (Detach Type : 0 ~ 1)\n"},
    {4, {{0, "03"}}, -1, "Unknown PDN Connect Request Type : 3 (PDN Connect Request Type : 0 ~ 2)\n"},
    {4, {{1, "01"}, {410, "08"}}, -1, "Unknown APN Type : 8"},
    {6, {{0, "0004"}}, -1, "[pdn_disconnect_req_param_check] Unknown default EPS id : 4 (default EPS id : 5 ~ 31)\n"},
    {6, {{0, "0020"}}, -1, "Unknown default EPS id : 32"},
    {8, {{0, "0000ffff"}}, 0, ""},
    {8, {{0, "00010000"}}, -1, "Unknown service type: 10000"},
    // Extensions: the operator-specific PCOs as far as the PCO count reaches.
    {2, {{0, "02"}}, -1,
     "[attach_req_ext_param_check] Unknown optional infon flag type : 2 (optiona info flag : 0~1)\n"},
    {2, {{0, "01"}, {235, "01"}, {236, "feff"}}, -1,
     "[attach_req_ext_param_check] Primary fisrt_os_pco Invalid Value : 0xfeff\n"},
    {2, {{235, "03"}, {236, "ff00" "ffff" "ff00"}, {2, "04"}, {243, "04"}, {483, "02"}}, 0, ""},
    {2, {{235, "02"}, {236, "ff00" "0001"}}, -1, "Primary second_os_pco Invalid Value : 0x0001\n"},
    {2, {{476, "01"}, {477, "0001"}}, -1, "Retry fisrt_os_pco Invalid Value : 0x0001\n"},
    {2, {{483, "03"}}, -1, "Unknown APN Type : 3 (APN_TYPE : 0~4)\n"},
    {5, {{0, "02"}}, -1, "Unknown PDN Connect Request Type : 2 (PDN Connect Request Type : 0 ~ 2)\n"},
    {5, {{0, "01"}, {3, "04"}, {233, "01"}, {243, "03"}}, 0, ""},
    {5, {{243, "04"}}, -1, "Unknown APN Type : 4 (APN_TYPE : 0~4)\n"},
    {5, {{236, "01"}, {237, "0000"}}, -1,
     "[pdn_connectivity_req_ext_param_check] fisrt_os_pco Invalid Value : 0x0000\n"},
    // Bearers: the QCI with its list, each filter of the count.
    {9, {{2, "00000000"}}, -1,
     "(qci : 1 ~ 9)\n[bearer_resource_alloc_req_param_check] \t1. Conversational Voice\n"},
    {9, {{2, "0000000a"}}, -1, "\t8.9. Video(Buffered Streaming)\n"},
    {9, {{2, "00000001"}}, 0, ""},
    {9, {{2, "00000009"}, {22, "00000001"}, {27, "00000003"}, {32, "00000010"}}, 0, ""},
    {9, {{2, "00000009"}, {22, "00000002"}, {27, "00000003"}, {32, "00000010"}, {179, "00000004"}}, -1,
     "Unknown TFT Direction : 4 (TFT Direction  : 1 ~ 3)\n"},
    {9, {{2, "00000009"}, {22, "00000001"}, {27, "00000001"}, {32, "00000011"}}, -1,
     "Unknown TFT Packet Filter ID : 17"},
    {10, {{8, "00000005"}, {2, "00000004"}}, -1, "Unknown Bearer Modify Type : 4"},
    {10, {{8, "00000001"}, {2, "00000003"}}, 0, ""},
    // DM log extension.
    {22, {{0, "02"}}, -1, "[dm_log_ext_read_req_param_check] Invalid Command\n"},
    {22, {{1, "04"}, {4, "01"}}, -1, "Invalid parameter: category\n"},
    {22, {{1, "61"}}, -1, "Invalid parameter: no item id\n"},
    // Protocol information.
    {23, {{0, "000c"}}, -1, "Unknown protocol info type : 12 (get protocol info type 0 ~ 9)\n"},
    {23, {{0, "000b"}}, 0, ""},
    {23, {{0, "0002"}, {2, "09"}}, -1, "Unknown APN table index : 9 (APN table index 0 ~ 8)\n"},
    {23, {{0, "0002"}, {2, "08"}}, 0, ""},
    {23, {{0, "0006"}, {2, "08"}}, -1, "Unknown operator id : 8 (operator id 0 ~ 7)\n"},
    {23, {{0, "0006"}, {2, "01"}}, -1, "Not support operator specific in current operator\n"},
    {23, {{0, "0006"}, {2, "02"}}, 0, ""},
    {24, {{0, "0009"}}, -1, "Unknown protocol info type : 9"},
    {24, {{0, "0005"}, {2, "02"}}, -1, "Not yet support operator id : 2 (only support 1)\n"},
    {24, {{0, "0005"}, {2, "01"}}, 0, ""},
    {25, {{0, "0007"}, {2, "05"}}, -1, "[set_protocol_info_file_param_check] Unknown drx val 5 (drx val 0 ~ 4)\n"},
    {25, {{0, "0007"}, {2, "0407"}}, 0, ""},
    {25, {{0, "0008"}, {2, "64"}}, -1, "Unknown sw version 100 (version 0 ~ 99)\n"},
    {25, {{0, "0008"}, {2, "63"}}, 0, ""},
    {25, {{0, "0006"}, {2, "0909"}, {16, "0a"}}, -1, "Invalid IMEI digit 14st 10 (IMEI digit 0 ~ 9)\n"},
    {25, {{0, "0002"}, {2, "02"}, {3, "01"}, {213, "02"}}, -1, "Unknown apn enable 2"},
    {25, {{0, "0002"}, {2, "01"}, {213, "02"}}, 0, ""},
    {25, {{0, "0000"}, {4, "02"}}, -1, "Unknown operational mode flag 2"},
    // UICC control by type.
    {31, {{0, "000f"}}, -1, "[uicc_control_req_param_check] Invalid UICC control request type : 15\n"},
    {31, {{0, "000e"}}, 0, ""},
    {31, {{0, "0000"}}, 0, ""},
    {31, {{0, "0000"}, {4, "04"}}, -1, "Unknown UICC APP type : 4 (UICC APP type : 1 ~ 3)\n"},
    {31, {{0, "0001"}}, -1, "Unknown UICC APP type : 0"},
    {31, {{0, "0004"}, {4, "03"}}, 0, ""},
    {31, {{0, "0005"}, {4, "11"}}, -1, "Invalid Random challenge length : 17 (MAX Random challenge length 16)\n"},
    {31, {{0, "0005"}, {4, "10"}, {21, "11"}}, -1,
     "Invalid authenticate Token length : 17 (MAX authenticate Token length 16)\n"},
    {31, {{0, "0005"}, {4, "10"}, {21, "10"}}, 0, ""},
    {31, {{0, "0006"}, {4, "03"}}, -1, "Unknown UICC PIN Type : 3 (UICC PIN Type : 0 ~ 2)\n"},
    {31, {{0, "0006"}, {4, "0205"}}, -1, "Unknown UICC PIN Command : 5 (UICC PIN Command : 0 ~ 4)\n"},
    {31, {{0, "0006"}, {4, "0204"}}, 0, ""},
    // RRC capability control by type.
    {32, {{0, "0000"}}, -1,
     "[rrc_capability_control_req_param_check] Invalid RRC Capability control request type : 0\n"},
    {32, {{0, "0019"}}, -1, "Invalid RRC Capability control request type : 25\n"},
    {32, {{0, "0018"}}, 0, ""},
    {32, {{0, "0003"}, {4, "08"}}, -1, "Invalid AS Release Number value : 8"},
    {32, {{0, "0003"}, {4, "07"}}, 0, ""},
    {32, {{0, "0004"}}, -1, "Invalid CA band number : 0"},
    {32, {{0, "0007"}, {8, "03"}}, -1, "Invalid Transmission Mode value : 3"},
    {32, {{0, "000b"}, {4, "02"}}, -1, "Invalid  CA Mode value : 2 (0 : Disable CA, 1 : Enable CA)\n"},
    {32, {{0, "000b"}, {4, "010402040203"}}, 0, ""},
    {32, {{0, "000b"}, {4, "010402040204"}}, -1, "Invalid Intra Band CA Mode value : 4"},
    {11, {{4, "00000004"}}, 0, ""},
    {11, {{4, "00000005"}}, -1, "Unknown packet filter ids: 5\n"},
    {13, {{0, "3f01"}}, 0, ""},
    {13, {{0, "4001"}}, -1, "Unknown Set GPIO PIN Number : 64 (GPIO PIN Number : 1 ~ 63)\n"},
    {14, {{128, "0003"}}, -1, "Unknown Binary Donwload Type : 3\n"},
    {14, {{128, "0000"}}, 0, ""},
    {14, {{128, "0005"}}, 0, ""},
    {16, {{0, "03"}}, -1, "Unknown MOBILE ID TYPE : 3 (MOBILE ID Type : 1 ~ 3)\n"},
    {17, {{0, "0100"}}, -1, "(default EPS id : 1 ~ 15)\n"},
    {17, {{0, "010f"}}, 0, ""},
    {17, {{0, "0001"}}, -1, "Unknown default EPS id : 1 (default EPS id : 0)\n"},
    {17, {{0, "0000"}}, 0, ""},
    {19, {{0, "00000001"}}, 0, ""},
    {20, {}, -1, "Unknown log info level: 0 (Set CM 0 ~ 4)\n"},
    {20, {{10, "0003"}, {288, "0004"}, {290, "0001"}}, 0, ""},
    {20, {{10, "0003"}, {288, "0005"}, {290, "0001"}}, -1, "Unknown log info mode: 5 (Set CM 0 ~ 5)\n"},
    {21, {{0, "0015"}}, 0, ""},
    {21, {{0, "0016"}}, -1, "Unknown DM Log ID : 22 (DM LOG ID : 0 ~ 18)\n"},
    {27, {{20, "02"}}, -1, "Unknown Indication Mask : 2 (Indication Mask : 0 ~ 1)\n"},
    {30, {{0, "07"}}, -1, "Unknown Device DBEUG Level : 7"},
    {33, {{0, "0002"}, {6, "ff6a"}}, 0, ""},
    {33, {{6, "ff69"}}, -1, "Too small initail value: -151 (initail value should be lager than -150(dBm))\n"},
    {36, {{0, "0004"}}, -1, "Unknown Offline Type : 4 (Offline Type : 0 ~ 3)\n"},
    {37, {{0, "0001"}}, 0, ""},
    {37, {{0, "0002"}}, -1, "Invalid PLMN Configuration Set request type : 2\n"},
};

TEST_F(ParamTest, ChecksRejectWhatLiesOutsideTheirRanges)
{
    for (const check_case& c : CHECK_CASES) {
        SCOPED_TRACE(std::string(parameter_check.at(c.kind).name) + " " + (c.rec.empty() ? "" : c.rec[0].hex));
        EXPECT_EQ(c.rc, param_check(c.kind, record(4096, c.rec)));
        const std::string text = take_printed();
        if (*c.message) {
            EXPECT_NE(std::string::npos, text.find(c.message)) << text;
        } else {
            EXPECT_EQ("", text);
        }
    }
}

}  // namespace
}  // namespace cnxd::test
