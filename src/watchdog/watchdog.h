// The modem watchdog. While it runs, a retry timer sends the modem a
// watchdog request every retry period, and each watchdog response re-arms
// an expiry timer; a request leaves that timer alone, so the timer fires one
// expiry period after the modem's last answer. An expiry reboots the router
// (mode "reboot"), or restarts the watchdog and, on the next expiry, asks
// the platform's supervisor for a modem reset through a one-byte status
// file. A reset-check thread reads the same file once a second to learn
// that the supervisor is resetting the modem: it then holds the watchdog and
// tells the SDK.
//
// Settings come from the store node "config wan lte watchdog" each time the
// watchdog starts. /var/prevent_watchdog makes every expiry do nothing;
// /var/prevent_reboot turns the reboot into the restart-and-report path.
//
// Threads: the timer callbacks only re-arm and hand their work to the
// watchdog's worker thread, so the SDK request, the store read, the shell
// commands and the status file's write retries (up to 11 s) never hold up
// the timer thread's other users (keep-alive, DHCP lease expiry). Every
// text of the watchdog goes to the listeners through its printer thread,
// the only one of them that waits on a listener: a listener that stops
// reading stops neither the timers, nor the requests and expiries. The
// threads are started on first use and joined by lte_watchdog_shutdown.
#pragma once

#include <atomic>
#include <cstdint>

namespace cnxd {

constexpr const char* WTD_STATUS_FILE = "/var/tmp/watchdog_status";
constexpr const char* WTD_PREVENT_WATCHDOG = "/var/prevent_watchdog";
constexpr const char* WTD_PREVENT_REBOOT = "/var/prevent_reboot";

// Bytes of the status file.
constexpr uint8_t WTD_STS_NORMAL = 0;      // supervisor: normal, ends a hold
constexpr uint8_t WTD_STS_REQUEST = 1;     // daemon: second expiry, please act
constexpr uint8_t WTD_STS_ACK = 0x0A;      // daemon: stopped talking to the modem
constexpr uint8_t WTD_STS_RESETTING = 0x0F;  // supervisor: modem reset under way

constexpr int WTD_ENABLE_UNREAD = 255;
constexpr int WTD_MODE_NORMAL = 0;  // "Normal (ARM1 Reload)"
constexpr int WTD_MODE_REBOOT = 1;  // "System Reboot"

// The last ENABLE read (WTD_ENABLE_UNREAD before the first read).
extern std::atomic<int> gWTDEnable;
// Set by the shell's "watchdog normal|reboot".
extern std::atomic<int> watchdog_mode;
// 1 after the all-off: nothing starts the watchdog any more.
extern std::atomic<int> watchdog_AllOff;
// 1 while the supervisor resets the modem.
extern std::atomic<int> watchdog_hold;
// Expiries since the last response.
extern std::atomic<int> gWTD_HCI_ExpCnt;

struct lte_watchdog_config {
    int enable;
    int retry_ms;    // half of retry_time
    int expired_ms;  // half of expired_time
};

// Reads the settings (the periods only when enabled) and records ENABLE in
// gWTDEnable. Returns 0.
int lte_watchdog_get_config(lte_watchdog_config* cfg);

// Reads the settings and, when enabled, starts the reset-check thread
// (once: while it runs a further call starts none). lte_watchdog_start does
// the same, for a watchdog the store enables after start-up.
void lte_watchdog_init();
// gWTDEnable, read from the store when not read yet.
void lte_watchdog_is_enable(int* enable);
// Starts (or restarts) both timers with fresh settings; does nothing after
// the all-off or with any setting 0.
void lte_watchdog_start();
// Stops and deletes both timers, while running.
void lte_watchdog_stop();
// A watchdog response: re-arms the expiry timer, while running.
void lte_watchdog_kick();
// Switches the watchdog off for good.
void lte_watchdog_AllOff();
int lte_watchdog_is_running();
// "WTD: [Date] ..." with the local time.
void wtd_print_date();

// What the reset-check thread does with the status byte `sts` (0 when the
// file could not be read): 1 when the supervisor has started a modem reset
// (the watchdog is then held). `report`: the byte changed since the last
// look, so a hold's "Done" line is printed once, not every second.
int wtd_check_status(uint8_t sts, bool report);
// The status byte; 0 on success, 1 (and a message) when the file cannot be
// opened or read.
int wtd_status_read(uint8_t* value);
// Replaces the status byte, retrying an open that fails every second up to
// 11 times; 0 on success, 1 when every attempt failed or shutdown cut the
// retries short.
int wtd_status_write(uint8_t value);

// Messages to the modem supervisor "mdmwatch".
constexpr uint16_t MDMWATCH_CMD_ALL_OFF = 0;    // the daemon resets the modem itself
constexpr uint16_t MDMWATCH_CMD_ONLINE_RSP_OK = 2;
// Sends message `id` (no payload) to the supervisor as the message client
// "_mdmwatch_"; 0, or -1 when it cannot be reached ("mdmwatch_msgcli_init
// fail" in the SDK log).
int mdmwatch_send(uint16_t id);

// The mode's name as the shell prints it.
const char* watchdog_mode_name(int mode);

// Shutdown: stops the timers, drops the texts not yet printed, ends the
// worker, the printer and the reset-check thread (cutting short any wait of
// theirs; a delivery the printer is in ends with the daemon's stop) and
// joins them. Afterwards nothing runs until lte_watchdog_init is called
// again.
void lte_watchdog_shutdown();

}  // namespace cnxd
