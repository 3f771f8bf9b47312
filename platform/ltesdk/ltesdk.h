/*
 * ltesdk.h - C interface of the modem vendor's LTE SDK (libltesdk).
 *
 * The daemon calls the modem only through the functions declared here, so
 * that the vendor library can be linked in place of the host simulator.
 */
#ifndef LTESDK_H
#define LTESDK_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

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
