// Delivery to clients: every frame the daemon pushes to its clients goes
// through these functions. All of them take the table lock, so deliveries
// from any thread are serialised. Frames handed in carry their header in
// network byte order.
#pragma once

#include <sys/uio.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <span>

#include "server/client.h"

namespace cnxd {

// Test switch (shell command "cnxdst"): while 1, log output and indication
// forwarding block with the table lock held. Set from another thread than the
// senders that poll it, hence atomic.
extern std::atomic<uint32_t> cnxd_stuck;
// While set, cnxd_srv_send_log also copies its text to the system log. Set
// by the modem log direction setter on shell threads, hence atomic.
extern std::atomic<uint32_t> g_is_qlog_to_pc;
// Bit i: client index i receives DM reports (SDK event 184). Changed by the
// DM report handler and read by senders on other threads, hence atomic.
extern std::atomic<uint32_t> cnxd_dm_client_mask;

constexpr int SEND_MODE_FREE = 0;  // release a vanished client at once
constexpr int SEND_MODE_DROP = 1;  // inside the event loop's handler walk

// To every connected client of `identity` whose receive word is set.
int cnxd_srv_notify_hci(std::span<const uint8_t> frame, uint32_t identity);
// To one client, when connected and its receive word is set.
int cnxd_srv_send_hci(cnxd_client_rec* client, std::span<const uint8_t> frame, int mode);
// `all` (low byte) non-zero: to every connected client; else to the first
// connected client of `identity` (one that a send finds gone is released,
// and the next client of `identity` gets the frame).
int cnxd_srv_send_hci_by_id(uint32_t identity, int all, std::span<const uint8_t> frame);
// One SDK callback as HCI_SDK_CALLBACK, gathered from `pieces` (entry 0 is
// reserved for the header) to every subscribed client; no copy of the data.
int cnxd_srv_send_sdk_cb_assemble_hci(uint16_t event, iovec* pieces, int count);
// Log text (at most 2075 characters) as HCI_LOG to the clients of identity 0.
int cnxd_srv_send_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int cnxd_srv_vsend_log(const char* fmt, va_list ap) __attribute__((format(printf, 1, 0)));
// The same frame to each identity of a 0-terminated list.
int cnxd_srv_send_log_to_ids(const uint32_t* ids, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));
// index < 32: add the client to the DM mask; 255: clear the mask.
void cnxd_srv_set_dm_client(unsigned index);

}  // namespace cnxd
