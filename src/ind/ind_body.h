// What single indication handlers do beyond the common shape: one body per
// handler that needs one, named in its row of ind.def. A body runs after
// the entry line; it prints the title itself (call.title()), prints the
// record's fields, acts on the daemon's state, and either lets the common
// shape forward (ind_next::forward) or forwards itself.
//
// Connection and interface indications live in ind_conn.cpp, the
// watchdog's in ind_watchdog.cpp, the binary transfer answers in
// ind_transfer.cpp, the informational ones in ind_info.cpp, the protocol
// information answers in ind_protocol.cpp.
#pragma once

#include <cstdint>
#include <span>

#include "ind/ind.h"

namespace cnxd {

// ind_keeper.cpp: what the connection keeper hears of an indication (every
// handler of the common shape, before its body: the keeper learns what the
// modem said, not what the daemon made of it, and does not wait for it).
void ind_tell_keeper(uint32_t dev_idx, uint32_t cb_id, std::span<const uint8_t> record);

// ind_conn.cpp
ind_next ind_body_reset_response(ind_call& call);
ind_next ind_body_dev_insert(ind_call& call);
ind_next ind_body_dev_remove(ind_call& call);
ind_next ind_body_get_crash_log_result(ind_call& call);
ind_next ind_body_ps_init_response(ind_call& call);
ind_next ind_body_online_response(ind_call& call);
ind_next ind_body_interface_ready_indication(ind_call& call);
ind_next ind_body_interface_release_indication(ind_call& call);
ind_next ind_body_interface_change_indication(ind_call& call);

// ind_pdn.cpp
ind_next ind_body_attach_response(ind_call& call);
ind_next ind_body_detach_response(ind_call& call);
ind_next ind_body_pdn_conectivity_response(ind_call& call);
ind_next ind_body_pdn_disconnect_response(ind_call& call);
ind_next ind_body_pdn_connectivity_rqr_indication(ind_call& call);
ind_next ind_body_pdn_disconnect_rqr_indication(ind_call& call);
ind_next ind_body_emm_information_indication(ind_call& call);

// ind_watchdog.cpp
ind_next ind_body_watchdog_response(ind_call& call);

// ind_transfer.cpp
ind_next ind_body_binary_download_response(ind_call& call);
ind_next ind_body_binary_upload_response(ind_call& call);

// ind_info.cpp
ind_next ind_body_uicc_activeate_ind(ind_call& call);
ind_next ind_body_debug_print_to_host(ind_call& call);
ind_next ind_body_dm_log_response(ind_call& call);
ind_next ind_body_dm_log_ext_response(ind_call& call);
ind_next ind_body_host_dbg_cli_cmd_indication(ind_call& call);
ind_next ind_body_plmn_search_response(ind_call& call);
ind_next ind_body_icmpv6_formation_indication(ind_call& call);
ind_next ind_body_vendor_information(ind_call& call);
ind_next ind_body_uicc_from_device(ind_call& call);
ind_next ind_body_timer_expiration_response(ind_call& call);
ind_next ind_body_operator_specific_max_attempt_ind(ind_call& call);
ind_next ind_body_psm_status_notify_ind(ind_call& call);
ind_next ind_body_sms_wap_push_indication(ind_call& call);

// ind_protocol.cpp
ind_next ind_body_get_protocol_info_response(ind_call& call);
ind_next ind_body_set_protocol_info_response(ind_call& call);

}  // namespace cnxd
