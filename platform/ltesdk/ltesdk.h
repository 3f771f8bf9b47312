/*
 * ltesdk.h - C interface of the modem vendor's LTE SDK (libltesdk).
 *
 * The daemon calls the modem only through the functions declared here, so
 * that the vendor library can be linked in place of the host simulator.
 *
 * Conventions of the whole interface:
 *  - Every LAPI_* call returns a signed 32-bit result: 0 when the request was
 *    accepted, anything else on failure. The answer comes later through a
 *    callback registered with LAPI_RegisterCallbackResponse.
 *  - Requests take the handle filled by LAPI_LTEAPIOpen first and the device
 *    index (1 for the first modem) second, then their record.
 *  - Multi-byte integers inside request, answer and callback records are
 *    big-endian. Records handed to a callback are valid only during the call.
 *  - Callbacks run on the library's own thread, one at a time, in the order
 *    the modem produced them; never on the thread that made a request.
 */
#ifndef LTESDK_H
#define LTESDK_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif


/* ---- Addresses inside 32-bit record fields --------------------------- */

/*
 * A few records carry an address in a 4-byte field: the print callback of
 * the log configuration record, the chunk of a crash log result and of a
 * modem debug print. On the 32-bit target that field holds the address
 * itself. On a 64-bit host it cannot, so the host library hands out small
 * numbered words instead: sdk_addr_to_word registers an address (the same
 * address always gets the same word, 0 stands for a null address) and
 * sdk_word_to_addr turns a word back into it; a word the library does not
 * know gives a null address. Write and read such fields only through these.
 */
#if UINTPTR_MAX == 0xffffffffu
static inline uint32_t sdk_addr_to_word(const void* addr) { return (uint32_t)(uintptr_t)addr; }
static inline void* sdk_word_to_addr(uint32_t word) { return (void*)(uintptr_t)word; }
static inline void sdk_addr_release(uint32_t word) { (void)word; }
#else
uint32_t sdk_addr_to_word(const void* addr);
void* sdk_word_to_addr(uint32_t word);
/* Forgets a word handed out for a short-lived address. */
void sdk_addr_release(uint32_t word);
#endif

/* ---- Callbacks ------------------------------------------------------- */

/* The usual form: device index, the record, its length. */
typedef void (*LAPI_CALLBACK)(uint32_t dev_idx, void* data, uint32_t len);
/* ASCII text from the modem (callback LAPI_CB_ASCII_FROM_DEVICE). */
typedef void (*LAPI_ASCII_CALLBACK)(uint32_t dev_idx, uint16_t msg_type, char* text);
/* Output of the modem's command interpreter (callback LAPI_CB_CLI_CMD_RSP);
 * the first argument carries nothing. `text` is NUL-terminated, `len` does
 * not count the terminator. */
typedef void (*LAPI_CLI_RSP_CALLBACK)(uint32_t unused, char* text, uint32_t len);
/* Print sink of the log configuration; called as ("%s", text). */
typedef void (*LAPI_PRINT_CALLBACK)(const char* fmt, ...);

/* Callback ids are the modem's; these two deliver in a form of their own. */
enum {
    LAPI_CB_ASCII_FROM_DEVICE = 130, /* LAPI_ASCII_CALLBACK; record: 16-bit type, text */
    LAPI_CB_CLI_CMD_RSP = 188,       /* LAPI_CLI_RSP_CALLBACK; record: the text */
    LAPI_CB_MAX = 190,               /* ids run from 0 to LAPI_CB_MAX - 1 */
};

/* Registers `fn` for callback `cb_id` (`arg` must be 0). Handlers of the
 * two other forms are registered cast to LAPI_CALLBACK; the library calls
 * them in their own form. A second registration replaces the first. */
int32_t LAPI_RegisterCallbackResponse(uint32_t hAPI, uint32_t cb_id, LAPI_CALLBACK fn, uint32_t arg);
/* Drops every registration. When it returns no handler runs any more
 * (unless called from a handler itself). */
int32_t LAPI_AllCallbackUnRegister(uint32_t hAPI);

/* ---- Set-up and tear-down ------------------------------------------- */

/* Order: LAPI_LTEAPIOpen, registrations, LAPI_Initialize, LAPI_SetLogConfig,
 * LAPI_Misc_Initialize; back down: LAPI_AllCallbackUnRegister,
 * LAPI_DeInitialize, LAPI_LTEAPIClose. */
int32_t LAPI_LTEAPIOpen(uint32_t* hAPI);
int32_t LAPI_LTEAPIClose(uint32_t hAPI);
int32_t LAPI_Initialize(uint32_t hAPI);
int32_t LAPI_DeInitialize(uint32_t hAPI);
int32_t LAPI_Misc_Initialize(uint32_t hAPI);

/* ---- Printing through the log configuration ------------------------- */

/* Print levels of LAPI_Printf. */
enum {
    LAPI_PRINT_ERROR = 2,
    LAPI_PRINT_INFO = 4,
    LAPI_PRINT_TRACE = 16, /* function entry and exit */
    LAPI_PRINT_DEBUG = 64,
};

/*
 * Log configuration record of LAPI_SetLogConfig / LAPI_GetLogConfig,
 * LAPI_LOG_CONFIG_SIZE bytes: byte 0 "set CM log", byte 1 "set SDK log",
 * then two blocks, the CM block at 8 (it governs LAPI_Printf) and the SDK
 * block at 288 (the library's own prints). In each block:
 *   +0   16-bit mode: 0 off, 1 standard output, 2 file, 3 both,
 *        64 the print callback
 *   +2   16-bit level: a mask of the print levels that pass (6 errors and
 *        information, 22 adds the traces, 86 everything)
 *   +8   8-byte file size limit, +16 file path (256 bytes)
 *   +272 time stamp byte
 *   +276 the print callback, a 32-bit address word (sdk_addr_to_word)
 */
enum {
    LAPI_LOG_CONFIG_SIZE = 568,
    LAPI_LOG_CM_BLOCK = 8,
    LAPI_LOG_SDK_BLOCK = 288,
    LAPI_LOG_BLOCK_MODE = 0,
    LAPI_LOG_BLOCK_LEVEL = 2,
    LAPI_LOG_BLOCK_FILE_SIZE = 8,
    LAPI_LOG_BLOCK_FILE_PATH = 16,
    LAPI_LOG_BLOCK_TIME_STAMP = 272,
    LAPI_LOG_BLOCK_CALLBACK = 276,
    LAPI_LOG_MODE_OFF = 0,
    LAPI_LOG_MODE_PRINT = 1,
    LAPI_LOG_MODE_FILE = 2,
    LAPI_LOG_MODE_PRINT_FILE = 3,
    LAPI_LOG_MODE_CALLBACK = 64,
};

/* Hands `text` to the sinks of the CM block when `level` is in its mask.
 * The print callback runs on the caller's thread, so prints keep their
 * order with the caller's other output. */
int32_t LAPI_Printf(uint32_t hAPI, uint16_t level, const char* text);

/* ---- Requests -------------------------------------------------------- */

/* Records that LAPI_ATCommandToDevice* take by address: the AT text and
 * its length (host order; these are not wire records). */
typedef struct {
    const char* text;
    uint32_t len;
} LAPI_AT_CMD;
typedef struct __attribute__((packed)) {
    uint8_t type;
    const char* text;
    uint32_t len;
} LAPI_AT_CMD_EXT;
typedef struct __attribute__((packed)) {
    const char* text;
    uint32_t len;
    uint8_t last;
} LAPI_AT_CMD_V2;

/* Argument lists after the function name, by the form of lapi.def. */
#define LAPI_ARGS_REQ uint32_t hAPI, uint32_t dev_idx, void* req
#define LAPI_ARGS_DEV uint32_t hAPI, uint32_t dev_idx
#define LAPI_ARGS_REQ_OUT uint32_t hAPI, uint32_t dev_idx, void* req, void* out
#define LAPI_ARGS_VAL uint32_t hAPI, uint32_t dev_idx, uint32_t value
#define LAPI_ARGS_VAL2 uint32_t hAPI, uint32_t dev_idx, uint32_t value1, uint32_t value2
#define LAPI_ARGS_VAL_OUT uint32_t hAPI, uint32_t dev_idx, uint32_t value, void* out
#define LAPI_ARGS_OUT_ID uint32_t hAPI, uint32_t dev_idx, void* out, uint16_t id
#define LAPI_ARGS_LIST uint32_t hAPI, void* out
#define LAPI_ARGS_NETIF uint32_t hAPI, uint32_t dev_idx, void* req, uint32_t op
#define LAPI_ARGS_TEXT uint32_t hAPI, uint32_t dev_idx, const char* text, uint32_t len
#define LAPI_ARGS_MSG uint32_t hAPI, uint32_t dev_idx, void* req, uint32_t len
#define LAPI_ARGS_BGSCAN uint32_t hAPI, uint32_t dev_idx, uint32_t value, void* req, uint32_t len
#define LAPI_ARGS_MODE16 uint32_t hAPI, uint32_t dev_idx, uint32_t value, uint16_t value16
#define LAPI_ARGS_DMEXT uint32_t hAPI, uint32_t dev_idx, void* filter, void* req, void* items
#define LAPI_ARGS_ENCAPS \
    uint32_t hAPI, uint32_t dev_idx, uint8_t add, uint8_t version, uint32_t src, uint32_t dst
#define LAPI_ARGS_ARM1 uint32_t value
#define LAPI_ARGS_AT uint32_t hAPI, uint32_t dev_idx, const LAPI_AT_CMD* req
#define LAPI_ARGS_AT_EXT uint32_t hAPI, uint32_t dev_idx, const LAPI_AT_CMD_EXT* req
#define LAPI_ARGS_AT_V2 uint32_t hAPI, uint32_t dev_idx, const LAPI_AT_CMD_V2* req

#define LAPI_FN(name, form, request_size, answer_size) int32_t name(LAPI_ARGS_##form);
#include "lapi.def"

/*
 * Record layouts that the interface fixes (offsets in bytes, big-endian):
 *
 * DM log read request (LAPI_DMLogReadRequest): 16-bit log id, command byte
 *   (0 start, 1 stop), interval byte (seconds, 0 a single report), count
 *   byte (0 no end). Log ids 0 to 9 report under the same id, 10 and up
 *   under the id one higher (10 is the handover report, 11).
 * DM log extension read request (LAPI_DMLogExtReadRequest, `req`): command,
 *   category, interval, count bytes; `items`: an item count byte, then the
 *   item ids (one byte each). `filter` is the caller's filter table.
 * Boot image type answer: 1 byte, 1 normal, 2 emergency.
 * Device information answer: SDK, driver and firmware versions (4 bytes
 *   each, one number per byte) at 0, 4, 8; chip revision (2 bytes) at 12;
 *   MAC address at 14 (6 bytes).
 * Device information extension answer: protocol version (4 bytes) at 0;
 *   interface name, device name and RF information (256-byte texts) at 4,
 *   260, 516.
 * Network information answer: seven 32-bit counters: received and sent
 *   packets, received and sent bytes, receive and send errors, drops.
 * Device list answer: 32-bit count, then up to 128 entries of 266 bytes:
 *   32-bit device index, name (256 bytes), MAC address (6 bytes).
 * Connection information (in and out): 32-bit count, then up to 8
 *   interface records of 592 bytes.
 * Crash log result and debug print records carry the output chunk as an
 *   address word (sdk_addr_to_word) and a 32-bit length: the crash log
 *   result at 1 and 5 after its flag byte (0 marks the last chunk), the
 *   debug print at 0 and 4. The chunk lies inside the record handed to the
 *   callback, after those fields, and the record's length covers it.
 */
enum {
    LAPI_DM_LOG_READ_SIZE = 5,
    LAPI_DM_LOG_EXT_READ_SIZE = 4,
    LAPI_DEVICE_LIST_MAX = 128,
    LAPI_DEVICE_LIST_ENTRY = 266,
    LAPI_NIC_INFO_SIZE = 592,
    LAPI_CONN_INFO_MAX = 8,
};

/* ---- Bearers and TIDs kept by the library ---------------------------- */

/* One TID list entry. Byte 7 is the IP allocation (0 NAS, 1 DHCP). */
typedef struct {
    uint8_t tid;
    uint8_t apn_type;
    uint16_t dft_eps_id; /* host order */
    uint8_t cid;
    uint8_t pdn_type;
    uint8_t reserved;
    uint8_t ip_alloc;
} LAPI_TID_NODE;

/* APN type of the PDN whose default EPS bearer is `dft_eps_id`; 255 when
 * none is known. */
int getApnTypeByDefEPSid(uint16_t dft_eps_id);
/* Forgets the TID of an APN type; 0, or -1 when none was known. */
int deleteTidByApnType(uint8_t apn_type);
/* The TID entry of a default EPS bearer, or NULL. */
LAPI_TID_NODE* query_by_dft_eps_id(uint16_t dft_eps_id);
/* Empties the TID list. */
void tid_list_clean(void);
/* Prefix delegation of the interface record `nic_info` (592 bytes):
 * records it for the interface's router advertisements; 0, or -1 without
 * an IPv6 address. */
int net_ipv6_get_ia_pd_info(void* nic_info);
/* Vendor information requests by index (answered through the vendor
 * information response): 16-bit and 32-bit values. */
int32_t D2H_by_index(uint32_t hAPI, uint32_t index);
int32_t D4H_by_index(uint32_t hAPI, uint32_t index);

/* ---- Variables of the library ---------------------------------------- */

/* Address of the host that receives modem dumps (text). */
extern char g_host_dump_ip[64];
/* Interface handling switches of the library. */
extern uint32_t ipv6_addr_chk;
extern uint32_t ipv6_dns_addr_chk;
extern uint32_t ipv6_no_radvd_apn;
extern uint32_t lte_gateway_1;
extern uint32_t lte_subnet_class_c;
extern int32_t ipv4_vif_addr;

/* ---- Logging --------------------------------------------------------- */

/* Log types of sdk_set_log_type. */
enum {
    SDK_LOG_TYPE_SYSLOG = 1,
    SDK_LOG_TYPE_STDOUT = 2,
    SDK_LOG_TYPE_STDERR = 3,
    SDK_LOG_TYPE_FILE = 4,
};

/* Where log lines go; `name` tags them (syslog ident, line prefix). */
void sdk_set_log_type(int type, const char* name);
/* Log file for type 4; `append` 1 keeps what the file already holds. */
void sdk_set_log_file(const char* path, int append);
/* Largest log file, as text such as "512KB" or "2MB"; past it the file is
 * moved to "<path>.old" and started again. */
void sdk_set_logfile_size_s(const char* size);
/* Colour terminal lines by level. */
void sdk_enable_term_color(void);
/* Lines above this system-log level (3 error ... 7 debug) are dropped. */
void sdk_set_log_level(int level);
/* One log line at a system-log level. */
void sdk_log(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void sdk_vlog(int level, const char* fmt, va_list ap) __attribute__((format(printf, 2, 0)));

/* ---- Debug flag words kept by the library ---------------------------- */

/* Trace output of the library's debug channel (standard output). */
void do_dio_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

extern uint32_t cnxd_flags;
extern uint32_t cnxd_api_flags;
extern uint32_t lte_sdk_flags;

#ifdef __cplusplus
}
#endif

#endif /* LTESDK_H */
