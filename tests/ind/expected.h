// What each registration of the callback table must be, written down apart
// from the table itself so that a slip in either shows: registration order,
// SDK callback id, handler, event (-1: none; the UICC activate rows 125 for a
// non-zero status) and what follows the device index when the record is at
// least as long as the SDK defines it.
#pragma once

#include <cstdint>

namespace cnxd::test {

struct fwd {
    enum kind { bytes, idx, none, special };  // special: a record-dependent size
    kind how;
    uint32_t n;
};

struct expected_row {
    int order;
    uint32_t id;
    const char* name;
    int event;
    fwd forward;
};

constexpr fwd fwd_n(uint32_t n) { return {fwd::bytes, n}; }
inline constexpr fwd fwd_idx{fwd::idx, 0}, fwd_none{fwd::none, 0}, fwd_rule{fwd::special, 0};

inline constexpr expected_row expected_tbl[] = {
    {1, 0, "ind_power_off_response", 22, fwd_idx}, {2, 1, "ind_reset_response", 24, fwd_idx},
    {3, 2, "ind_attach_response", 26, fwd_n(2192)}, {4, 3, "ind_attach_response_extension", 28, fwd_n(705)},
    {5, 4, "ind_detach_response", 30, fwd_n(8)}, {6, 5, "ind_detach_required_indication", 31, fwd_n(6)},
    {7, 6, "ind_pdn_conectivity_response", 33, fwd_n(747)},
    {8, 7, "ind_pdn_conectivity_response_extension", 35, fwd_n(702)},
    {9, 8, "ind_pdn_disconnect_response", 37, fwd_n(176)},
    {10, 147, "ind_pdn_connectivity_rqr_indication", 38, fwd_n(102)},
    {11, 148, "ind_pdn_disconnect_rqr_indication", 39, fwd_n(67)},
    {12, 9, "ind_plmn_search_response", 41, fwd_n(1782)}, {13, 11, "ind_plmn_list_response", 45, fwd_n(1024)},
    {14, 12, "ind_plmn_list_ext_reponse", 47, fwd_n(1024)}, {15, 13, "ind_plmn_list_ext2_reponse", 49, fwd_n(1024)},
    {16, 14, "ind_plmn_list_indication", 50, fwd_n(1024)}, {17, 15, "ind_plmn_list_abort_response", 52, fwd_n(4)},
    {18, 95, "ind_timer_expiration_response", 59, fwd_n(8)},
    {19, 17, "ind_query_selected_plmn_response", 56, fwd_n(16)}, {20, 18, "ind_suspend_response", 58, fwd_n(4)},
    {21, 47, "ind_nas_emm_status_indication", 115, fwd_n(4)}, {22, 48, "ind_service_loss_indication", 116, fwd_n(4)},
    {23, 49, "ind_emm_error_indication", 117, fwd_n(4)}, {24, 50, "ind_esm_error_indication", 118, fwd_n(4)},
    {25, 51, "ind_rrc_disconnected_noti_indication", 119, fwd_n(4)},
    {26, 53, "ind_cell_change_noti_indication", 121, fwd_n(16)}, {27, 19, "ind_online_response", 61, fwd_n(4)},
    {28, 20, "ind_offline_response", 64, fwd_n(4)}, {29, 22, "ind_plmn_search_stop_response", 68, fwd_n(4)},
    {30, 52, "ind_rrc_connect_notify_indication", 120, fwd_n(4)},
    {31, 23, "ind_contents_reset_and_delete_response", 70, fwd_n(4)}, {32, 24, "ind_ps_init_response", 72, fwd_n(4)},
    {33, 54, "ind_attach_fail_status_indication", 122, fwd_n(8)},
    {34, 55, "ind_tau_status_indication", 123, fwd_n(8)}, {35, 56, "ind_refresh_indication", 124, fwd_n(4)},
    {36, 57, "ind_uicc_activeate_ind", 125, fwd_n(4)}, {37, 58, "ind_uicc_activeate_ind", 125, fwd_n(4)},
    {38, 59, "ind_uicc_no_aid_deactivte_ind", 127, fwd_n(4)}, {39, 60, "ind_uicc_limited_ind", 128, fwd_n(4)},
    {40, 25, "ind_bearer_resource_alloc_mod_response", 75, fwd_n(64)},
    {41, 26, "ind_bearer_resource_release_response", 77, fwd_n(64)},
    {42, 62, "ind_at_command_from_device", 136, fwd_n(512)},
    {43, 63, "ind_at_command_from_device_ext", 138, fwd_n(516)}, {44, 64, "ind_get_crash_log_result", 140, fwd_rule},
    {45, 65, "ind_erase_crash_log_response", 142, fwd_n(4)}, {46, 75, "ind_dev_insert", 161, fwd_idx},
    {47, 76, "ind_dev_remove", 162, fwd_idx}, {48, 66, "ind_binary_download_response", 144, fwd_n(4)},
    {49, 67, "ind_binary_upload_response", 146, fwd_rule}, {50, 27, "ind_hkadc_read_response", 79, fwd_n(8)},
    {51, 28, "ind_mobile_id_read_response", 81, fwd_n(32)}, {52, 29, "ind_iccid_read_response", 83, fwd_n(24)},
    {53, 30, "ind_msisdn_read_response", 85, fwd_n(48)}, {54, 31, "ind_temperature_read_response", 87, fwd_n(8)},
    {55, 32, "ind_opl_pnn_read_response", 89, fwd_n(256)}, {56, 33, "ind_spn_read_response", 91, fwd_n(32)},
    {57, 167, "ind_cal_temper_read_response", 93, fwd_n(8)}, {58, 34, "ind_nid_read_response", 95, fwd_n(32)},
    {59, 35, "ind_tz_read_response", 97, fwd_n(16)}, {60, 36, "ind_apn_name_read_response", 98, fwd_n(104)},
    {61, 37, "ind_plmn_search_status_read_response", 100, fwd_n(8)},
    {62, 38, "ind_indication_mask_control_read_response", 102, fwd_n(24)},
    {63, 39, "ind_serving_cell_freq_read_response", 104, fwd_n(8)},
    {64, 40, "ind_plmn_search_interval_index_read_response", 106, fwd_n(8)},
    {65, 70, "ind_ims_control_from_device", 152, fwd_n(512)}, {66, 71, "ind_sms_from_device", 154, fwd_n(512)},
    {67, 73, "ind_uicc_from_device", 158, fwd_rule}, {68, 74, "ind_uicc_indication", 159, fwd_n(64)},
    {69, 77, "ind_interface_ready_indication", 163, fwd_n(592)},
    {70, 78, "ind_interface_release_indication", 164, fwd_n(592)},
    {71, 79, "ind_interface_change_indication", 165, fwd_n(592)}, {72, 83, "ind_resume_response", 170, fwd_n(4)},
    {73, 84, "ind_ue_mode_change_response", 172, fwd_n(4)},
    {74, 85, "ind_ue_support_algorithm_change_response", 175, fwd_n(4)},
    {75, 86, "ind_ue_support_algorithm_read_response", 177, fwd_n(8)},
    {76, 87, "ind_service_response", 179, fwd_n(4)}, {77, 88, "ind_service_request_reject_ind", 180, fwd_n(4)},
    {78, 89, "ind_dm_log_response", 182, fwd_rule}, {79, 90, "ind_dm_log_ext_response", 184, fwd_rule},
    {80, 91, "ind_get_protocol_info_response", 186, fwd_rule},
    {81, 92, "ind_set_protocol_info_response", 188, fwd_n(5)}, {82, 156, "ind_watchdog_response", 190, fwd_n(4)},
    {83, 93, "ind_plmn_search_index_change_response", 192, fwd_n(4)},
    {84, 94, "ind_automatic_cell_search_response", 194, fwd_n(4)},
    {85, 96, "ind_indication_mask_control_response", 196, fwd_n(4)},
    {86, 97, "ind_rf_status_report_control_response", 198, fwd_n(4)},
    {87, 98, "ind_debug_log_control_rsp", 200, fwd_n(4)}, {88, 101, "ind_debug_print_to_host", 205, fwd_rule},
    {89, 102, "ind_rohc_status_indication", 206, fwd_n(4)}, {90, 103, "ind_ps_deactivate_indication", 207, fwd_n(4)},
    {91, 99, "ind_save_epsnsc_nv_response", 202, fwd_n(4)}, {92, 100, "ind_rf_event_control_response", 204, fwd_n(4)},
    {93, 104, "ind_service_req_start_notify_indication", 208, fwd_n(4)},
    {94, 105, "ind_usim_auth_rsp_error_indication", 209, fwd_n(4)},
    {95, 106, "ind_rrc_connection_setup_rcvd_indication", 210, fwd_n(4)},
    {96, 107, "ind_rrc_connection_reject_rcvd_indication", 211, fwd_n(4)},
    {97, 108, "ind_rf_measure_report_response", 213, fwd_n(64)},
    {98, 109, "ind_rf_measure_report_indication", 214, fwd_n(64)},
    {99, 111, "ind_tc_loopback_mode_indication", 225, fwd_n(4)},
    {100, 41, "ind_sib1_pmax_read_response", 108, fwd_n(4)},
    {101, 42, "ind_emm_information_read_response", 110, fwd_n(524)},
    {102, 112, "ind_emm_information_indication", 226, fwd_n(524)},
    {103, 43, "ind_plmn_search_mode_read_response", 112, fwd_n(4)},
    {104, 44, "ind_emm_state_read_response", 114, fwd_n(4)}, {105, 45, "ind_tin_read_response", 273, fwd_n(4)},
    {106, 46, "ind_guti_read_response", 275, fwd_n(16)}, {107, 110, "ind_host_ip_connect_response", 216, fwd_n(4)},
    {108, 113, "ind_icmpv6_formation_indication", 227, fwd_n(200)},
    {109, 115, "ind_vendor_information_response", 230, fwd_n(256)},
    {110, 116, "ind_vendor_information_indication", 245, fwd_n(256)},
    {111, 124, "ind_cbs_etws_indication", 246, fwd_n(128)}, {112, 154, "ind_cbs_cmas_indication", 247, fwd_n(256)},
    {113, 125, "ind_sms_submit_response", 249, fwd_n(8)}, {114, 126, "ind_sms_deliver_indication", 250, fwd_n(256)},
    {115, 130, "ind_ascii_from_device_indication", -1, fwd_none}, {116, 188, "ind_cli_cmd_rsp", -1, fwd_none},
    {117, 123, "ind_bip_control_req_indication", 266, fwd_n(256)},
    {118, 138, "ind_lpp_control_indication", 277, fwd_n(256)},
    {119, 139, "ind_gnss_control_req_indication", 278, fwd_n(256)},
    {120, 140, "ind_gnss_control_ind_indication", 280, fwd_n(256)},
    {121, 141, "ind_lcs_control_indication", 282, fwd_n(256)},
    {122, 117, "ind_rrc_capability_control_req_indication", 232, fwd_n(8)},
    {123, 118, "ind_rrc_capability_control_get_req_indication", 234, fwd_n(64)},
    {124, 180, "ind_plmn_cfg_set_rsponse", 353, fwd_n(4)}, {125, 181, "ind_plmn_cfg_get_rsponse", 355, fwd_n(64)},
    {126, 119, "ind_rrc_function_control_req_indication", 236, fwd_n(8)},
    {127, 120, "ind_rrc_function_control_get_req_indication", 238, fwd_n(64)},
    {128, 121, "ind_phy_ta_info_req_indication", 240, fwd_n(8)},
    {129, 122, "ind_embms_ctrl_req_indication", 243, fwd_n(8)},
    {130, 142, "ind_ims_send_sms_indication", 283, fwd_n(256)},
    {131, 143, "ind_ims_session_establishment_response", 287, fwd_n(8)},
    {132, 144, "ind_sms_wap_push_indication", 289, fwd_n(262)},
    {133, 145, "ind_irat_meas_indication", 292, fwd_n(64)},
    {134, 146, "ind_irat_meas_result_indication", 293, fwd_n(64)},
    {135, 189, "ind_host_dbg_cli_cmd_indication", -1, fwd_none}, {136, 134, "ind_bgscan_mode_change", 260, fwd_n(4)},
    {137, 135, "ind_lte_bgscan_mode_change", 261, fwd_n(4)}, {138, 136, "ind_bgscan_handover", 262, fwd_n(8)},
    {139, 133, "ind_operator_specific_max_attempt_ind", 269, fwd_n(3)},
    {140, 149, "ind_plmn_csg_list_rsp", 295, fwd_n(256)}, {141, 150, "ind_plmn_csg_list_abort_rsp", 297, fwd_n(4)},
    {142, 151, "ind_plmn_csg_select_rsp", 299, fwd_n(4)},
    {143, 152, "ind_plmn_csg_query_selected_rsp", 301, fwd_n(16)},
    {144, 153, "ind_plmn_csg_get_csgl_rsp", 304, fwd_n(256)}, {145, 157, "ind_vlt_packet_rsp", 313, fwd_n(8)},
    {146, 158, "ind_vlt_signal_ind", 311, fwd_n(8)}, {147, 159, "ind_psm_status_notify_ind", -1, fwd_none},
    {148, 161, "ind_sib16_received_ind", 130, fwd_n(16)}, {149, 160, "ind_get_nas_config_response", 316, fwd_n(33)},
    {150, 162, "ind_emm_nireattach_response", 319, fwd_n(4)},
    {151, 166, "ind_read_t3402_remain_val_response", 327, fwd_n(8)},
    {152, 168, "ind_read_forbidden_ta_list_response", 330, fwd_n(64)},
    {153, 163, "ind_reattach_control_report_indication", 320, fwd_n(4)},
    {154, 164, "ind_ntz_control_request", 322, fwd_n(8)}, {155, 165, "ind_dm_ctrl_response", 325, fwd_n(4)},
    {156, 169, "ind_phy_function_control_req_indication", 332, fwd_n(8)},
    {157, 170, "ind_phy_function_control_get_req_indication", 334, fwd_n(64)},
    {158, 171, "ind_keep_camp_on_after_detach_response", 336, fwd_n(4)},
    {159, 172, "ind_dhcp_ser_conn_device_loss_indication", 339, fwd_n(4)},
    {160, 174, "ind_factory_reset_ctrl_response", 341, fwd_n(4)}, {161, 175, "ind_rb_setup_ind", 131, fwd_n(64)},
    {162, 176, "ind_ue_test_loop_mode_ind", 132, fwd_n(16)}, {163, 177, "ind_5gnr_control_response", 348, fwd_n(8)},
    {164, 178, "ind_sys_info_change_indication", 133, fwd_n(8)},
    {165, 179, "ind_5g_add_security_ctrl_response", 345, fwd_n(4)},
    {166, 182, "ind_phy_serv_cell_dm_report_indication", 356, fwd_n(64)},
    {167, 183, "ind_phy_neigh_cell_dm_report_indication", 357, fwd_n(128)},
    {168, 184, "ind_scg_state_info_indication", 134, fwd_n(8)},
    {169, 185, "ind_uicc_change_indication", 359, fwd_n(4)},
    {170, 187, "ind_l2_function_control_get_response", 362, fwd_n(64)},
};

}  // namespace cnxd::test
